#include <gtest/gtest.h>

#include <bit>
#include <iterator>
#include <random>
#include <cmath>
#include <vector>

#include "overlay/ring_fan.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/reference_ring.h"
#include "tests/support/test_game.h"

namespace {

using sim::ped_setup;
using sim::vec3;

constexpr float drop = std::bit_cast<float>(0x3F68F5C2u);

class RingFanTest : public test::OverlayTest {
 protected:
  void SetUp() override {
    test::OverlayTest::SetUp();
    test::write_ring_txd(test::txd_place::beside_plugin);
    world.start_up();
    ASSERT_TRUE(state.textures_loaded);
  }

  // One pedestrian in slot 5, one frame; the fans it got.
  std::vector<sim::host_call> ring_of(const ped_setup& desc) {
    world.add_ped(desc);
    world.draw();
    return world.accepted_fans();
  }

  static ped_setup ped(vec3 position, float health = 100.0f, float max_health = 100.0f) {
    ped_setup s;
    s.slot = 5;
    s.position = position;
    s.health = health;
    s.max_health = max_health;
    return s;
  }

  // The foreground of a pedestrian at (3, 4, 1) under heading +y.
  sim::host_call foreground(float health, float max_health = 100.0f) {
    const auto fans = ring_of(ped({3.0f, 4.0f, 1.0f}, health, max_health));
    EXPECT_EQ(fans.size(), 2u);
    return fans.size() == 2 ? fans[1] : fans.at(0);
  }
};

TEST_F(RingFanTest, FullHealthDrawsABackgroundAndAFullGreenForeground) {
  const auto fans = ring_of(ped({3.0f, 4.0f, 1.0f}));
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_EQ(fans[0].texture, "hpbg");
  EXPECT_EQ(fans[0].vertices.size(), 50u);
  EXPECT_EQ(fans[0].vertices[0].colour, 0xFFFFFFFFu);
  EXPECT_EQ(fans[0].flags, 1u);
  EXPECT_EQ(fans[1].texture, "hpfg");
  EXPECT_EQ(fans[1].vertices.size(), 50u);
  EXPECT_EQ(fans[1].vertices[0].colour, 0xFF00FF00u);
}

TEST_F(RingFanTest, WorkedHealthsGiveTheirSegmentsAndColours) {
  struct example {
    float health, max_health;
    std::size_t vertices;
    std::uint32_t colour;
  };
  const example examples[] = {
      {50.0f, 100.0f, 26, 0xFF7F7F00u},   // half: 24 segments, red and green 127
      {250.0f, 100.0f, 50, 0xFF00FF00u},  // above the maximum: clamped to a full green ring
      {50.0f, 0.0f, 26, 0xFF7F7F00u},     // no usable maximum: out of 100
      {50.0f, 1.0f, 26, 0xFF7F7F00u},
      {0.5f, 100.0f, 3, 0xFFFD0100u},     // a two-hundredth: one segment
      {25.0f, 100.0f, 14, 0xFFBF3F00u},   // a quarter: 12 segments
      {26.0f, 100.0f, 15, 0xFFBC4200u},   // 0.26: 13 segments
  };
  for (const example& e : examples) {
    world.reset_scene();
    const sim::host_call fg = foreground(e.health, e.max_health);
    EXPECT_EQ(fg.vertices.size(), e.vertices) << e.health << " of " << e.max_health;
    for (const auto& v : fg.vertices) ASSERT_EQ(v.colour, e.colour) << e.health << " of " << e.max_health;
  }
}

TEST_F(RingFanTest, VerticesAgreeBitForBitWithTheDrawingRules) {
  world.set_camera_forward(0.3f, -0.8f);
  const float heading = test::reference_heading(0.3f, -0.8f);
  const vec3 p{-12.25f, 7.5f, 3.125f};
  const auto fans = ring_of(ped(p, 61.0f, 150.0f));
  ASSERT_EQ(fans.size(), 2u);
  const float centre[3] = {p.x, p.y, p.z - drop};
  const float f = 61.0f / 150.0f;
  const test::reference_fan bg = test::reference_ring_fan(centre, heading, 1.0f, 0xFFFFFFFFu);
  const test::reference_fan fg = test::reference_ring_fan(centre, heading, f, test::reference_colour(f));
  ASSERT_EQ(fans[0].vertices.size(), bg.vertices.size());
  ASSERT_EQ(fans[1].vertices.size(), fg.vertices.size());
  for (std::size_t i = 0; i < bg.vertices.size(); ++i) {
    EXPECT_TRUE(test::same_vertex(fans[0].vertices[i], bg.vertices[i])) << "background vertex " << i;
  }
  for (std::size_t i = 0; i < fg.vertices.size(); ++i) {
    EXPECT_TRUE(test::same_vertex(fans[1].vertices[i], fg.vertices[i])) << "foreground vertex " << i;
  }
}

TEST_F(RingFanTest, RingLiesUnderThePedestrianAndStartsAtTheHeading) {
  world.set_camera_forward(1.0f, 0.0f);  // heading 0
  const auto fans = ring_of(ped({3.0f, 4.0f, 1.0f}));
  ASSERT_EQ(fans.size(), 2u);
  for (const auto& fan : fans) {
    const auto& c = fan.vertices[0];
    EXPECT_EQ(c.x, 3.0f);
    EXPECT_EQ(c.y, 4.0f);
    EXPECT_EQ(c.z, 1.0f - drop);
    EXPECT_EQ(c.u, 0.5f);
    EXPECT_EQ(c.v, 0.5f);
    const auto& first = fan.vertices[1];
    EXPECT_EQ(first.x, 4.0f);
    EXPECT_EQ(first.y, 4.0f);
    EXPECT_EQ(first.z, c.z);
    EXPECT_NEAR(first.u, 0.5f, 1e-6f);
    EXPECT_NEAR(first.v, 0.0f, 1e-6f);
    // A 48th of a turn clockwise from above: the world angle decreases, u grows.
    const auto& second = fan.vertices[2];
    const float angle = std::atan2(second.y - c.y, second.x - c.x);
    EXPECT_NEAR(angle, -2.0f * 3.14159265f / 48.0f, 1e-5f);
    EXPECT_GT(second.u, first.u);
    // The full disc closes on its first rim vertex.
    EXPECT_NEAR(fan.vertices[49].x, first.x, 1e-5f);
    EXPECT_NEAR(fan.vertices[49].y, first.y, 1e-5f);
  }
}

TEST_F(RingFanTest, HeadingAlongPlusYStartsTheRimAlongPlusY) {
  world.set_camera_forward(0.0f, 1.0f);
  const auto fans = ring_of(ped({0.0f, 0.0f, 0.0f}));
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_NEAR(fans[0].vertices[1].x, 0.0f, 1e-6f);
  EXPECT_NEAR(fans[0].vertices[1].y, 1.0f, 1e-6f);
}

TEST_F(RingFanTest, PedestrianWithoutAMatrixIsPlacedFromItsOwnPosition) {
  ped_setup s = ped({-2.0f, 6.0f, 0.5f});
  s.use_matrix = false;
  const auto fans = ring_of(s);
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_EQ(fans[0].vertices[0].x, -2.0f);
  EXPECT_EQ(fans[0].vertices[0].y, 6.0f);
  EXPECT_EQ(fans[0].vertices[0].z, 0.5f - drop);
}

TEST_F(RingFanTest, PlayerWithoutAMatrixIsPlacedFromItsOwnPosition) {
  world.set_player(0, {100.0f, 0.0f, 0.0f}, false);
  EXPECT_EQ(ring_of(ped({110.0f, 0.0f, 0.0f})).size(), 2u);
  world.reset_scene();
  world.set_player(0, {100.0f, 0.0f, 0.0f}, false);
  EXPECT_EQ(ring_of(ped({0.0f, 0.0f, 0.0f})).size(), 0u);
}

TEST_F(RingFanTest, DistanceAndHeightLimitsAreInclusive) {
  struct example {
    vec3 position;
    bool ringed;
  };
  const example examples[] = {
      {{25.0f, 0.0f, 0.0f}, true},
      {{std::nextafter(25.0f, 26.0f), 0.0f, 0.0f}, false},
      {{15.0f, 20.0f, 0.0f}, true},   // 25 exactly, in the plane
      {{0.0f, 0.0f, 6.0f}, true},
      {{0.0f, 0.0f, -6.0f}, true},
      {{0.0f, 0.0f, std::nextafter(6.0f, 7.0f)}, false},
      {{20.0f, 0.0f, 7.0f}, false},   // nearer than 25, but too high
  };
  for (const example& e : examples) {
    world.reset_scene();
    state.peds_in_range = 0;
    const auto fans = ring_of(ped(e.position));
    EXPECT_EQ(fans.size(), e.ringed ? 2u : 0u) << e.position.x << "," << e.position.y << "," << e.position.z;
    EXPECT_EQ(state.peds_in_range, e.ringed ? 1 : 0);
  }
}

TEST_F(RingFanTest, FilteredPedestriansGetNoRingAndAreNotCounted) {
  std::vector<ped_setup> filtered;
  ped_setup s = ped({2.0f, 2.0f, 0.0f});
  s.in_vehicle = true;
  filtered.push_back(s);
  s = ped({2.0f, 2.0f, 0.0f});
  s.visible = false;
  filtered.push_back(s);
  s = ped({2.0f, 2.0f, 0.0f});
  s.area = 3;
  filtered.push_back(s);
  filtered.push_back(ped({2.0f, 2.0f, 0.0f}, 0.0f));
  filtered.push_back(ped({2.0f, 2.0f, 0.0f}, -5.0f));
  // A position holding NaN is in no range, also with the fade's alpha to
  // work out from its distance.
  const float nan = std::nanf("");
  filtered.push_back(ped({nan, 2.0f, 0.0f}));
  filtered.push_back(ped({2.0f, 2.0f, nan}));
  state.settings.fade_distance = 5.0f;
  for (const ped_setup& desc : filtered) {
    world.reset_scene();
    EXPECT_TRUE(ring_of(desc).empty());
    EXPECT_EQ(state.peds_in_range, 0);
    EXPECT_EQ(state.rings_drawn, 0);
  }
}

TEST_F(RingFanTest, PedestrianInTheCurrentInteriorOrInAreaThirteenIsRinged) {
  world.set_area(3);
  ped_setup s = ped({2.0f, 2.0f, 0.0f});
  s.area = 3;
  EXPECT_EQ(ring_of(s).size(), 2u);
  // The game shows area 13 in every area.
  for (const std::int32_t players_area : {0, 5}) {
    world.reset_scene();
    world.set_area(players_area);
    s.area = 13;
    EXPECT_EQ(ring_of(s).size(), 2u) << players_area;
  }
}

TEST_F(RingFanTest, RejectedBackgroundIsCountedAndNoForegroundIsDrawn) {
  ped_setup s = ped({2.0f, 2.0f, 0.0f});
  s.reject_transform = true;
  EXPECT_TRUE(ring_of(s).empty());
  EXPECT_EQ(world.calls_of(sim::call_kind::im3d_transform).size(), 1u);
  EXPECT_TRUE(world.calls_of(sim::call_kind::im3d_end).empty());
  EXPECT_EQ(state.peds_in_range, 1);
  EXPECT_EQ(state.projection_failed, 1);
  EXPECT_EQ(state.rings_drawn, 0);
}

TEST_F(RingFanTest, EachDrawnFanSetsItsRasterThenTransformsRendersAndEnds) {
  ring_of(ped({2.0f, 2.0f, 0.0f}));
  std::vector<sim::call_kind> kinds;
  std::vector<std::string> rasters;
  for (const auto& c : world.calls) {
    if (c.kind == sim::call_kind::render_state_set && c.state != host::rwRENDERSTATETEXTURERASTER) continue;
    if (c.kind == sim::call_kind::load_txd || c.kind == sim::call_kind::render_state_get) continue;
    kinds.push_back(c.kind);
    if (c.kind == sim::call_kind::render_state_set) rasters.push_back(c.texture);
    if (c.kind == sim::call_kind::im3d_render_indexed_primitive) {
      EXPECT_EQ(c.type, 3);
    }
  }
  using k = sim::call_kind;
  // Then the game's raster back.
  EXPECT_EQ(kinds, (std::vector<k>{k::vertical_line, k::render_state_set, k::im3d_transform,
                                   k::im3d_render_indexed_primitive, k::im3d_end, k::render_state_set,
                                   k::im3d_transform, k::im3d_render_indexed_primitive, k::im3d_end,
                                   k::render_state_set}));
  EXPECT_EQ(rasters, (std::vector<std::string>{"hpbg", "hpfg", ""}));
}

TEST(RingFanUnitTest, NoFanForAShareNotAboveZero) {
  const overlay::ring_place at;
  for (float fraction : {0.0f, -0.5f, std::nanf("")}) EXPECT_EQ(overlay::fan_size_of(at, fraction, 1.0f).vertices, 0u);
  EXPECT_EQ(overlay::fan_size_of(at, 1.0f, 1.0f).vertices, 50u);
  EXPECT_EQ(overlay::fan_size_of(at, 1.0f, 1.0f).indices, 144u);
}

TEST(RingFanUnitTest, ColourChannelsAreTruncated) {
  EXPECT_EQ(overlay::ring_colour(1.0f), 0xFF00FF00u);
  EXPECT_EQ(overlay::ring_colour(0.0f), 0xFFFF0000u);
  EXPECT_EQ(overlay::ring_colour(0.5f), 0xFF7F7F00u);
  EXPECT_EQ(overlay::ring_colour(0.005f), 0xFFFD0100u);
  EXPECT_EQ(overlay::ring_colour(0.25f), 0xFFBF3F00u);
}

}  // namespace

namespace {

class FastRingPathTest : public RingFanTest {};

TEST_F(FastRingPathTest, EveryVertexMatchesTheReferenceBitForBitOverARandomisedSet) {
  std::mt19937 random(20261209u);
  std::uniform_real_distribution<float> angle(-3.1415927f, 3.1415927f);
  std::uniform_real_distribution<float> coordinate(-3000.0f, 3000.0f);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float edges[] = {0.999f, std::nextafter(0.999f, 0.0f), std::nextafter(0.999f, 1.0f), 0.01f, 1.0f,
                         std::nextafter(1.0f, 0.0f), 1e-7f, 0.5f, 0.25f, 0.26f};
  float heading = angle(random);
  std::size_t compared = 0;
  for (int round = 0; round < 4000; ++round) {
    // The heading stays for a few rings, as within a frame, then changes.
    if (round % 7 == 0) heading = angle(random);
    if (round % 97 == 0) heading = 0.0f;
    const float centre[3] = {coordinate(random), coordinate(random), coordinate(random) / 10.0f};
    float fraction = round % 3 == 0 ? 1.0f : unit(random);
    if (round < static_cast<int>(std::size(edges))) fraction = edges[round];
    const std::uint32_t colour = overlay::ring_colour(fraction > 1.0f ? 1.0f : fraction);
    // No ground found: the ring lies as on flat ground.
    overlay::ring_place at;
    at.x = centre[0];
    at.y = centre[1];
    at.flat_z = centre[2];
    const overlay::fan_size size = overlay::fan_size_of(at, fraction, 1.0f);
    std::vector<host::RwIm3DVertex> vertices(size.vertices);
    std::vector<std::uint16_t> indices(size.indices);
    overlay::write_fan(at, heading, fraction, colour, 1.0f, vertices.data(), indices.data(), 7);
    const test::reference_fan expected = test::reference_ring_fan(centre, heading, fraction, colour);
    ASSERT_EQ(vertices.size(), expected.vertices.size()) << "fraction " << fraction;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
      ASSERT_TRUE(test::same_vertex(vertices[i], expected.vertices[i]))
          << "round " << round << " vertex " << i << " fraction " << fraction << " heading " << heading;
      ++compared;
    }
    // The fan's triangles, counted from the hub's place in the batch.
    for (std::size_t t = 0; t < indices.size(); t += 3) {
      ASSERT_EQ(indices[t], 7);
      ASSERT_EQ(indices[t + 1], 7 + 1 + t / 3);
      ASSERT_EQ(indices[t + 2], 7 + 2 + t / 3);
    }
  }
  EXPECT_GT(compared, 4000u * 20u);
}

// A pool of 139 pedestrians, all within range, of mixed health and maximum
// health: those alive get the reference's background and health fans, in
// slot order, bit for bit.
TEST_F(FastRingPathTest, WholeFramesMatchTheReferenceForMixedHealths) {
  std::mt19937 random(7u);
  std::uniform_real_distribution<float> offset(-17.0f, 17.0f);
  std::uniform_real_distribution<float> health(-10.0f, 260.0f);
  std::vector<sim::ped_setup> peds;
  for (int slot = 1; slot < 140; ++slot) {
    sim::ped_setup p;
    p.slot = slot;
    p.position = {offset(random), offset(random), offset(random) / 4.0f};
    p.health = health(random);
    p.max_health = slot % 5 == 0 ? 0.0f : 100.0f + float(slot % 3) * 50.0f;
    p.use_matrix = slot % 4 != 0;
    world.add_ped(p);
    peds.push_back(p);
  }
  for (int frame = 0; frame < 3; ++frame) {
    const float fx = std::cos(float(frame)), fy = std::sin(float(frame));
    world.set_camera_forward(fx, fy);
    world.calls.clear();
    world.draw();
    const auto fast = world.accepted_fans();
    // The backgrounds, then the health fans, in slot order.
    std::vector<test::reference_fan> expected, health;
    for (const sim::ped_setup& p : peds) {
      if (!(p.health > 0.0f)) continue;
      const float centre[3] = {p.position.x, p.position.y, p.position.z - 0.90999997f};
      const float f = std::min(1.0f, p.health / (p.max_health > 1.0f ? p.max_health : 100.0f));
      expected.push_back(test::reference_ring_fan(centre, test::reference_heading(fx, fy), 1.0f, 0xFFFFFFFFu));
      health.push_back(test::reference_ring_fan(centre, test::reference_heading(fx, fy), f, test::reference_colour(f)));
    }
    expected.insert(expected.end(), health.begin(), health.end());
    ASSERT_EQ(fast.size(), expected.size());
    ASSERT_GT(fast.size(), 100u);
    for (std::size_t f = 0; f < fast.size(); ++f) {
      ASSERT_EQ(fast[f].vertices.size(), expected[f].vertices.size());
      for (std::size_t i = 0; i < fast[f].vertices.size(); ++i) {
        ASSERT_TRUE(test::same_vertex(fast[f].vertices[i], expected[f].vertices[i])) << "fan " << f << " vertex " << i;
      }
    }
  }
}

TEST_F(FastRingPathTest, DrawingEventAllocatesNothing) {
  for (int slot = 1; slot < 140; ++slot) {
    sim::ped_setup p;
    p.slot = slot;
    p.position = {float(slot % 12) - 6.0f, float(slot / 12) - 6.0f, 0.0f};
    p.health = float(slot % 100) + 1.0f;
    world.add_ped(p);
  }
  world.recording = false;
  world.keep_fans = false;
  world.draw();
  const test::allocation_scope scope;
  for (int i = 0; i < 700; ++i) world.draw();  // a statistics line among them
  const std::size_t allocations = scope.count();
  world.recording = true;
  world.keep_fans = true;
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(state.frame_count, 701);
}

// With every overlay and who-is-who setting on, the per-slot memory is made once, at the first
// frame; pedestrians hit and a clock that runs allocate nothing after it.
TEST_F(FastRingPathTest, OverlaysAllocateOnlyAtTheirFirstFrame) {
  for (int slot = 1; slot < 140; ++slot) {
    sim::ped_setup p;
    p.slot = slot;
    p.position = {float(slot % 12) - 6.0f, float(slot / 12) - 6.0f, 0.0f};
    p.armour = float(slot % 3) * 50.0f;
    world.add_ped(p);
  }
  state.settings.show_armour = state.settings.show_recent_damage = true;
  state.settings.fade_distance = 5.0f;
  state.settings.show_after_damage = 60;
  // And who is who: the band, the fight, the target, some kinds.
  state.settings.show_relationship = state.settings.only_in_fight = state.settings.mark_target = true;
  state.settings.show_kinds = 0xFFFFFFF0u;
  for (int slot = 1; slot < 140; slot += 3) {
    sim::ped_setup who = world.who(slot);
    who.attacking = 1000 + slot % 3;
    who.hate = 1;
    world.set_who(slot, who);
  }
  world.set_targets(5, -1);
  world.recording = false;
  world.keep_fans = false;
  world.draw();
  const test::allocation_scope scope;
  for (int i = 0; i < 700; ++i) {
    world.set_clock(static_cast<std::uint32_t>(i) * 33u);
    world.set_health(1 + i % 139, 50.0f - float(i % 40));
    world.draw();
  }
  const std::size_t allocations = scope.count();
  world.recording = true;
  world.keep_fans = true;
  EXPECT_EQ(allocations, 0u);
  EXPECT_GT(state.rings_drawn, 0);
}

}  // namespace
