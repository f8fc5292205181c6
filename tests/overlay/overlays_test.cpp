// The fight overlays in the native build, as each pedestrian gets them: its
// fans' geometry, colours and textures, frame by frame, on the game's clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "tests/support/reference_ring.h"
#include "tests/support/test_game.h"

namespace {

using test::txd_place;

// The fans a pedestrian standing at (x, y) got in the last frame, in order.
std::vector<sim::host_call> ring_at(const sim::host_world& world, float x, float y) {
  std::vector<sim::host_call> out;
  for (const sim::host_call& fan : world.accepted_fans()) {
    if (fan.vertices.at(0).x == x && fan.vertices.at(0).y == y) out.push_back(fan);
  }
  return out;
}

bool same_fan(const sim::host_call& got, const test::reference_fan& expected) {
  if (got.vertices.size() != expected.vertices.size()) return false;
  for (std::size_t i = 0; i < got.vertices.size(); ++i) {
    if (!test::same_vertex(got.vertices[i], expected.vertices[i])) return false;
  }
  return true;
}

class OverlaysTest : public test::OverlayTest {
 protected:
  // Armour 50 at (3, 0), hit at frame 5; armour 150 at (0, 3), never hit; one
  // at the edge of range (22, 0); one at (0, -4) hit at frame 6 whose slot a
  // newcomer takes at frame 8. The clock: 1000 ms, 33 a frame, paused from
  // frame 10 to 14.
  void run(const std::string& ini, int frames, const std::function<void(int frame, std::uint32_t ms_since_hit)>& check) {
    test::write_ring_txd(txd_place::beside_plugin);
    std::ofstream(settings_file) << "[Rings]\n" << ini;
    world.start_up();
    add(1, 3.0f, 0.0f, 100.0f, 50.0f);
    add(2, 0.0f, 3.0f, 80.0f, 150.0f);
    add(3, 22.0f, 0.0f, 100.0f, 0.0f);
    add(4, 0.0f, -4.0f, 90.0f, 0.0f);
    std::uint32_t ms = 1000, hit_ms = 0;
    for (int f = 1; f <= frames; ++f) {
      if (f > 1 && (f < 10 || f > 14)) ms += 33;
      world.set_clock(ms);
      if (f == 5) world.set_health(1, 60.0f), hit_ms = ms;
      if (f == 6) world.set_health(4, 40.0f);
      if (f == 8) world.set_health(4, 100.0f), world.respawn(4);
      world.draw();
      check(f, f >= 5 ? ms - hit_ms : 1u << 30);
    }
  }
  void TearDown() override { std::remove(settings_file.c_str()); }
  const std::string settings_file = test::game_dir().scripts + "MorvaHealthRing.ini";
  void add(int slot, float x, float y, float health, float armour) {
    sim::ped_setup p;
    p.slot = slot;
    p.position = {x, y, 0.0f};
    p.health = health;
    p.armour = armour;
    world.add_ped(p);
  }
  const float heading = test::reference_heading(0.0f, 1.0f);
  test::reference_fan expected(float x, float y, float fraction, std::uint32_t colour, float radius = 1.0f) const {
    const float centre[3] = {x, y, -0.90999997f};
    return test::reference_ring_fan(centre, heading, fraction, colour, radius);
  }
};

TEST_F(OverlaysTest, ArmourArcIsAsFullAsTheArmourOutsideTheHealthArc) {
  run("ShowArmour=1\n", 20, [&](int f, std::uint32_t) {
    for (const auto& [x, y, fraction] : {std::tuple{3.0f, 0.0f, 0.5f}, std::tuple{0.0f, 3.0f, 1.0f}}) {
      const auto ring = ring_at(world, x, y);
      ASSERT_EQ(ring.size(), 3u) << "frame " << f;
      EXPECT_EQ(ring[2].texture, "hpfg");  // this dictionary has no "hpar": the health arc's texture
      EXPECT_TRUE(same_fan(ring[2], expected(x, y, fraction, 0xFFDCDCDCu, 1.3f))) << "frame " << f;
    }
    EXPECT_EQ(ring_at(world, 22.0f, 0.0f).size(), 2u);  // no armour, no arc
  });
}

// What a hit took stays for 500 ms of the game's clock, then shrinks to the
// health left over 500 ms more; the pause holds it. A slot given to a
// newcomer shows no trail of the one before.
TEST_F(OverlaysTest, RecentDamageLingersOnTheGamesClockAndForgetsANewcomer) {
  run("ShowRecentDamage=1\n", 80, [&](int f, std::uint32_t since) {
    float trail = 0.0f;
    if (since < 500) trail = 1.0f;
    if (since >= 500 && since < 1000) trail = 1.0f + (0.6f - 1.0f) * (float(since - 500) / 500.0f);
    const auto hit = ring_at(world, 3.0f, 0.0f);
    if (trail > 0.6f) {
      ASSERT_EQ(hit.size(), 3u) << "frame " << f;
      EXPECT_TRUE(same_fan(hit[1], expected(3.0f, 0.0f, trail, 0xFFFFFFFFu))) << "frame " << f << " trail " << trail;
    } else {
      EXPECT_EQ(hit.size(), 2u) << "frame " << f;
    }
    EXPECT_EQ(ring_at(world, 0.0f, -4.0f).size(), f == 6 || f == 7 ? 3u : 2u) << "frame " << f;
  });
}

// The fade at the edge of range, and rings only for 2 s after a hit, fading
// over their last 500 ms; none for the pedestrian never hit.
TEST_F(OverlaysTest, FadeAndRingsAfterDamageSetEachPedestriansAlpha) {
  run("FadeDistance=5\nShowAfterDamage=2\n", 80, [&](int f, std::uint32_t since) {
    const auto hit = ring_at(world, 3.0f, 0.0f);
    const bool shown = since < 2000;
    ASSERT_EQ(hit.size(), shown ? 2u : 0u) << "frame " << f;
    if (shown) {
      const float weight = 2000 - since < 500 ? float(2000 - since) / 500.0f : 1.0f;
      EXPECT_EQ(hit[0].vertices[0].colour >> 24, std::uint32_t(std::int32_t(255.0f * weight))) << "frame " << f;
    }
    EXPECT_TRUE(ring_at(world, 0.0f, 3.0f).empty());
    EXPECT_TRUE(ring_at(world, 22.0f, 0.0f).empty());
  });
  state.settings.show_after_damage = 0;
  world.draw();
  EXPECT_EQ(ring_at(world, 22.0f, 0.0f).at(0).vertices[0].colour >> 24,
            std::uint32_t(std::int32_t(255.0f * ((25.0f - 22.0f) / 5.0f))));
  EXPECT_EQ(ring_at(world, 3.0f, 0.0f).at(0).vertices[0].colour >> 24, 255u);
}

}  // namespace
