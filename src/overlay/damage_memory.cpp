#include "overlay/damage_memory.h"

namespace overlay {

void remember(slot_memory& m, std::uint8_t status, float health, float fraction, std::uint32_t now_ms) {
  const std::uint8_t pedestrian = status & 0x7F;
  if (!m.seen || m.pedestrian != pedestrian) {
    m = slot_memory{};
    m.seen = true;
    m.pedestrian = pedestrian;
  } else if (health < m.health) {
    // Unsigned differences: the clock may wrap in between.
    const bool showing = m.fell && now_ms - m.fall_ms < trail_hold_ms + trail_shrink_ms;
    m.trail_from = showing && m.trail_from > m.fraction ? m.trail_from : m.fraction;
    m.fell = true;
    m.fall_ms = now_ms;
  }
  m.health = health;
  m.fraction = fraction;
}

float trail_fraction(const slot_memory& m, float fraction_now, std::uint32_t now_ms) {
  if (!m.fell) return 0.0f;
  const std::uint32_t since = now_ms - m.fall_ms;
  if (since < trail_hold_ms) return m.trail_from;
  if (since >= trail_hold_ms + trail_shrink_ms) return 0.0f;
  const float shrunk = static_cast<float>(since - trail_hold_ms) / static_cast<float>(trail_shrink_ms);
  return m.trail_from + (fraction_now - m.trail_from) * shrunk;
}

}  // namespace overlay
