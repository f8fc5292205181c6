#include <gtest/gtest.h>

#include "sim/scenario.h"
#include "tests/support/ground_check.h"
#include "tests/support/reference_ring.h"
#include "tests/support/test_game.h"

namespace {

class RingGroundTest : public test::OverlayTest {};

test::drawn_disc disc_of(const sim::host_call& fan) {
  test::drawn_disc d;
  for (const host::RwIm3DVertex& v : fan.vertices) d.points.push_back({v.x, v.y, v.z});
  d.indices = fan.indices;
  return d;
}

// On a slope, stairs seen from below and from above, a kerb and under a
// pedestrian in the air, every part of both fans lies 0.09 above the ground
// under it, and nearly all of each disc's area above the ground; on flat
// ground the fans are those of a flat world. The pedestrians do not move: a
// camera turn then costs no probe.
TEST_F(RingGroundTest, RingsLieOnTheGroundUnderThemAndACameraTurnCostsNoProbe) {
  for (const bool looking_down : {false, true}) {
    test::reset_overlay();
    const sim::scenario_result scene = sim::parse_scenario(test::ground_scene(looking_down).dump());
    ASSERT_TRUE(scene.ok) << scene.error;
    test::write_ring_txd(test::txd_place::beside_plugin);
    sim::apply_scene(scene.value, world);
    world.start_up();
    world.draw();
    const std::vector<sim::host_call> discs = world.accepted_fans();
    for (const test::ground_ped& p : test::ground_peds) {
      int found = 0;
      for (const sim::host_call& fan : discs) {
        if (fan.vertices[0].x != p.x || fan.vertices[0].y != p.y) continue;
        ++found;
        const test::ground_verdict v = test::check_on_ground(scene.value.ground, disc_of(fan));
        EXPECT_EQ(v.off, 0) << p.where << " " << fan.texture << ": " << v.first_off << " of " << v.vertices;
        EXPECT_GE(v.above, p.least_above) << p.where << " " << fan.texture;
      }
      EXPECT_EQ(found, 2) << p.where;
    }
    // Flat ground: the very fans of a flat world.
    const float heading = test::reference_heading(0.0f, looking_down ? -1.0f : 1.0f);
    const float centre[3] = {-2.0f, 2.0f, 1.0f - 0.90999997f};
    const test::reference_fan flat = test::reference_ring_fan(centre, heading, 1.0f, 0xFFFFFFFFu);
    ASSERT_EQ(discs.at(0).vertices.size(), flat.vertices.size());
    for (std::size_t i = 0; i < flat.vertices.size(); ++i) EXPECT_TRUE(test::same_vertex(discs[0].vertices[i], flat.vertices[i])) << i;

    // The centre's probe: from the position down to 4 below the feet.
    const sim::host_call first = world.calls_of(sim::call_kind::vertical_line).at(0);
    EXPECT_EQ(first.origin[0], -2.0f);
    EXPECT_EQ(first.origin[2], 1.0f);
    EXPECT_EQ(first.end_z, 1.0f - 5.0f);

    const std::uint64_t probes = world.vertical_lines;
    world.set_camera_forward(0.6f, 0.8f);
    world.draw();
    EXPECT_EQ(world.vertical_lines, probes);
    EXPECT_EQ(world.accepted_fans().size(), discs.size());
  }
}

}  // namespace
