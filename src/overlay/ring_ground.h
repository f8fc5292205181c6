// The ground under each ringed pedestrian, from the game's collision queries:
// the triangles (and box tops) met under its disc, kept per slot, asked
// again while they may move or be taken away, within a budget of queries a
// drawing event that every ring shares.
#pragma once

#include <cstdint>
#include <vector>

#include "overlay/ground_patch.h"

namespace overlay {

// Where the disc is asked: a world grid, so that a walker's grid stays put.
constexpr float ground_step = 0.25f;
// A part follows ground within this share of its fan's radius of the ground
// under the centre; beyond, it stays level with the centre.
constexpr float ground_follow = 0.85f;
// Walking out from the centre, a ring climbs at most this from the ground
// just behind it: a step or a crate is its ground, a canopy is not.
constexpr float ground_climb = 0.6f;
constexpr int queries_per_event = 64;
constexpr int max_ground_triangles = 32;
constexpr int max_ground_patches = 32;

// What the rings of one event may still ask.
struct query_budget {
  int left = queries_per_event;
};

struct ground_cell {
  std::int32_t ix = 0, iy = 0;
  std::int32_t asked = -1;  // the event it was last asked in
  float ref = 0.0f;         // the ground a part beyond it climbs from
  std::int8_t patch = -1;   // what it met, if ground
  bool valid = false;       // holds (ix, iy)
  bool known = false;       // asked, or inside a patch known
};

// A query waiting for the budget: just beyond a triangle's edge, or halving
// between a point on a box's top and one off it.
struct ground_job {
  float x = 0.0f, y = 0.0f, top = 0.0f;
  float off_x = 0.0f, off_y = 0.0f;
  std::int8_t box = -1;  // the box halved towards, or -1 for an edge
  std::uint8_t halvings = 0;
};

struct slot_ground {
  static constexpr int max_jobs = 64;
  bool valid = false;
  std::uint8_t status = 0;
  float last[3] = {};
  float anchor[3] = {};     // where it last moved to
  std::uint8_t still = 0;   // events since, within a few centimetres of it
  // The ground under the centre.
  bool has_centre = false;
  bool on_ground = false;  // at the pedestrian's feet
  float centre = 0.0f;
  std::int32_t centre_asked = -1;
  const void* vehicle = nullptr;  // the vehicle it stands on, or none
  ground_patch patches[max_ground_patches];
  std::uint8_t patch_count = 0;
  std::uint8_t triangle_count = 0;
  ground_job jobs[max_jobs];
  std::uint8_t job_count = 0;
  bool scanned = false;  // its whole disc asked once
  bool settled = false;  // every cell round settled_at known
  std::int32_t settled_at[2] = {};
  std::uint32_t rescan_cursor = 0;
  float rescan_credit = 0.0f;
  std::int32_t waiting_since = -1;  // the first event it lacked the budget
  std::vector<ground_cell> cells;   // a torus over the world grid
};

// What a ring needs of its ground in one event.
struct ground_under {
  bool found = false;      // ground under the centre
  bool on_ground = false;  // the centre's ground lies at the pedestrian's feet
  float centre = 0.0f;     // its height
  const slot_ground* slot = nullptr;
};

class ground_memory {
 public:
  // Room for a pool of this many slots, for fans reaching reach from their
  // pedestrian; allocates only for a larger pool or another reach.
  void fit(std::int32_t slots, float reach);
  void clear();

  // The ground under the pedestrian of slot standing at (x, y, z) in this
  // event, asking what the budget allows.
  ground_under update(std::int32_t slot, std::uint8_t status, float x, float y, float z, std::int32_t event,
                      query_budget& budget);
  // Events a ring has waited for the budget, 0 when it has not.
  std::int32_t waited(std::int32_t slot, std::int32_t event) const;

 private:
  struct offset {
    std::int16_t dx, dy;
    std::int16_t parent;  // towards the centre; -1 for the centre's own cell
  };
  struct asking;  // one ring's queries in one event
  std::vector<slot_ground> slots_;
  std::vector<offset> spiral_;  // the cells asked, nearest the centre first
  std::size_t disc_cells_ = 0;  // of them, those under the disc
  float reach_ = 0.0f;
  std::int32_t side_ = 0;  // of each slot's torus
};

}  // namespace overlay
