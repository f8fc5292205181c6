#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "overlay/ring_fan.h"
#include "support/reference_ring.h"
#include "support/test_game.h"

namespace {

using sim::ped_spec;
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
  std::vector<sim::host_call> ring_of(const ped_spec& spec) {
    world.add_ped(spec);
    world.draw();
    return world.accepted_fans();
  }

  static ped_spec ped(vec3 position, float health = 100.0f, float max_health = 100.0f) {
    ped_spec s;
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
  ped_spec s = ped({-2.0f, 6.0f, 0.5f});
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
  std::vector<ped_spec> filtered;
  ped_spec s = ped({2.0f, 2.0f, 0.0f});
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
  for (const ped_spec& spec : filtered) {
    world.reset_scene();
    EXPECT_TRUE(ring_of(spec).empty());
    EXPECT_EQ(state.peds_in_range, 0);
    EXPECT_EQ(state.rings_drawn, 0);
  }
}

TEST_F(RingFanTest, PedestrianInTheCurrentInteriorIsRinged) {
  world.set_area(3);
  ped_spec s = ped({2.0f, 2.0f, 0.0f});
  s.area = 3;
  EXPECT_EQ(ring_of(s).size(), 2u);
}

TEST_F(RingFanTest, RejectedBackgroundIsCountedAndNoForegroundIsDrawn) {
  ped_spec s = ped({2.0f, 2.0f, 0.0f});
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
    if (c.kind == sim::call_kind::load_txd) continue;
    kinds.push_back(c.kind);
    if (c.kind == sim::call_kind::render_state_set) rasters.push_back(c.texture);
    if (c.kind == sim::call_kind::im3d_render_primitive) {
      EXPECT_EQ(c.type, 5);
    }
  }
  using k = sim::call_kind;
  EXPECT_EQ(kinds, (std::vector<k>{k::render_state_set, k::im3d_transform, k::im3d_render_primitive, k::im3d_end,
                                   k::render_state_set, k::im3d_transform, k::im3d_render_primitive, k::im3d_end}));
  EXPECT_EQ(rasters, (std::vector<std::string>{"hpbg", "hpfg"}));
}

TEST(RingFanUnitTest, NullTextureOrEmptyFractionDrawsNothingAndTouchesNoHost) {
  // Nothing is mapped for this: a host call would fault.
  const float centre[3] = {0.0f, 0.0f, 0.0f};
  host::RwTexture texture{};
  EXPECT_FALSE(overlay::draw_ring_fan(nullptr, centre, 0.0f, 1.0f, 0xFFFFFFFFu));
  EXPECT_FALSE(overlay::draw_ring_fan(&texture, centre, 0.0f, 0.0f, 0xFFFFFFFFu));
  EXPECT_FALSE(overlay::draw_ring_fan(&texture, centre, 0.0f, -0.5f, 0xFFFFFFFFu));
  EXPECT_FALSE(overlay::draw_ring_fan(&texture, centre, 0.0f, std::nanf(""), 0xFFFFFFFFu));
}

TEST(RingFanUnitTest, ColourChannelsAreTruncated) {
  EXPECT_EQ(overlay::ring_colour(1.0f), 0xFF00FF00u);
  EXPECT_EQ(overlay::ring_colour(0.0f), 0xFFFF0000u);
  EXPECT_EQ(overlay::ring_colour(0.5f), 0xFF7F7F00u);
  EXPECT_EQ(overlay::ring_colour(0.005f), 0xFFFD0100u);
  EXPECT_EQ(overlay::ring_colour(0.25f), 0xFFBF3F00u);
}

}  // namespace
