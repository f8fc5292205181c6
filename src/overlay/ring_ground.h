// The ground under each ringed pedestrian, from the game's collision queries.
// Samples lie on a world grid, so a camera turn asks for none, and each slot
// keeps its own until its pedestrian moves away from them.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace overlay {

// Grid spacing: a part takes the height of the sample nearest it, so within
// half of this of a step's edge it may take either side's. Rings reaching
// further than ground_fine_reach are sampled coarser, a tenth of their reach
// apart, so that a slot's samples stay few.
constexpr float ground_step = 0.2f;
constexpr float ground_fine_reach = 2.0f;
// A part follows ground within this share of its fan's radius of the ground
// under the centre; beyond, it stays level with the centre.
constexpr float ground_follow = 0.85f;

enum class ground_shape : std::uint8_t {
  none,    // no ground within the search: the ring lies as on flat ground
  plane,   // flat or sloping: gx, gy give the ground under every part
  uneven,  // steps, kerbs, ledges: the samples give it
};

struct ground_under {
  ground_shape shape = ground_shape::none;
  bool on_ground = false;  // the centre's ground lies at the pedestrian's feet
  float centre = 0.0f;     // height of the ground under the centre
  float gx = 0.0f, gy = 0.0f;  // the plane's rise per unit along x and y
};

struct ground_sample {
  std::int32_t ix = 0, iy = 0;
  float z = 0.0f;
  float top = 0.0f;  // where the probe started; it reached down a fixed depth
  bool known = false;
  bool found = false;
};

struct slot_ground {
  bool valid = false;
  std::uint8_t status = 0;
  std::uint32_t x = 0, y = 0, z = 0;  // the position's bits when last found
  ground_under found;
  std::vector<ground_sample> samples;  // a torus over the world grid
};

class ground_memory {
 public:
  // Room for a pool of this many slots, for fans reaching reach from their
  // pedestrian; allocates only for a larger pool or another reach.
  void fit(std::int32_t slots, float reach);
  void clear();

  // The ground under the pedestrian of slot standing at (x, y, z). A
  // pedestrian that has not moved costs no probe.
  const ground_under& find(std::int32_t slot, std::uint8_t status, float x, float y, float z);

  // The sampled ground under (x, y) near slot's pedestrian, for an uneven
  // shape; false where no sample found ground.
  bool height_at(std::int32_t slot, float x, float y, float* z) const;

 private:
  ground_sample& sample(slot_ground& g, std::int32_t ix, std::int32_t iy, float lo, float hi);
  std::int32_t grid_index(float at) const { return static_cast<std::int32_t>(std::floor(at / step_ + 0.5f)); }
  float grid_at(std::int32_t i) const { return static_cast<float>(i) * step_; }
  std::vector<slot_ground> slots_;
  float reach_ = 0.0f;
  float step_ = ground_step;
  std::int32_t side_ = 0;  // of each slot's sample table
};

}  // namespace overlay
