// What the overlays remember of each pedestrian slot from frame to frame:
// its health when last seen, and its last fall of health, on the game's clock.
#pragma once

#include <cstdint>
#include <vector>

namespace overlay {

constexpr std::uint32_t trail_hold_ms = 500;    // the part a hit took stays this long,
constexpr std::uint32_t trail_shrink_ms = 500;  // then shrinks to the health left over this long
constexpr std::uint32_t fade_out_ms = 500;      // rings after damage fade over their last this long

struct slot_memory {
  bool seen = false;
  std::uint8_t pedestrian = 0;  // the status byte's low 7 bits when seen
  float health = 0.0f;
  float fraction = 0.0f;  // of health, clamped, when last seen
  bool fell = false;      // its health fell since the slot was given to it
  std::uint32_t fall_ms = 0;
  float trail_from = 0.0f;  // the fraction the recent damage started from
};

class damage_memory {
 public:
  // Room for a pool of this many slots; allocates only when a larger pool
  // than any before is seen.
  void fit(std::int32_t slots) {
    if (slots > 0 && static_cast<std::size_t>(slots) > slots_.size()) slots_.resize(static_cast<std::size_t>(slots));
  }
  slot_memory& at(std::int32_t slot) { return slots_[static_cast<std::size_t>(slot)]; }
  void clear() { slots_.assign(slots_.size(), slot_memory{}); }

 private:
  std::vector<slot_memory> slots_;
};

// Takes a slot's pedestrian as seen now: a slot given to another pedestrian
// starts afresh; a fall of health starts (or, while it shows, restarts) the
// recent damage, from the highest fraction it had.
void remember(slot_memory& m, std::uint8_t status, float health, float fraction, std::uint32_t now_ms);

// The fraction the recent damage reaches to now, or 0 when it is gone.
float trail_fraction(const slot_memory& m, float fraction_now, std::uint32_t now_ms);

}  // namespace overlay
