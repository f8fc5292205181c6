#include <gtest/gtest.h>

#include <cmath>

#include "sim/scenario.h"
#include "tests/support/ground_check.h"
#include "tests/support/native_run.h"
#include "tests/support/reference_ring.h"
#include "tests/support/test_game.h"

namespace {

class RingGroundTest : public test::OverlayTest {};

// Every kind of ground a street has, seen from below and from above the
// stairs, at Radius 1 and 2: once the rings have had a few events of queries,
// every fan lies on the ring's ground, the crate is followed within 10 events
// of going, the bin within 30 of coming, and no event asks more than 64.
TEST_F(RingGroundTest, RingsLieOnTheGroundThatIsThereWithinTheBudget) {
  for (const bool looking_down : {false, true}) {
    // Wider rings have more to ask: they are judged once they have had the time.
    nlohmann::json scene = test::ground_scene(looking_down, looking_down ? 90 : 60);
    if (looking_down) scene["ini"] = "[Rings]\r\nRadius=2\r\n";
    const std::vector<nlohmann::json> trace = test::run_natively(scene);
    const test::ground_run r = test::judge_ground_run(scene, trace, looking_down ? 60 : 20, looking_down ? 5 : 1);
    EXPECT_EQ(r.failure, "") << (looking_down ? "from above, Radius 2" : "from below, Radius 1");
    EXPECT_GT(r.discs_checked, looking_down ? 100 : 800);
    EXPECT_LE(r.most_queries, 64);
  }
}

// On level ground the fans are those of a flat world, bit for bit, and the
// hub's query starts at the pedestrian's position and reaches 4 below its feet.
TEST_F(RingGroundTest, OnLevelGroundTheFansAreThoseOfAFlatWorld) {
  std::vector<sim::ground_piece> plaza(1);
  plaza[0].min[0] = plaza[0].min[1] = -30.0f;
  plaza[0].max[0] = plaza[0].max[1] = 30.0f;
  world.set_ground(plaza);
  test::write_ring_txd(test::txd_place::beside_plugin);
  world.start_up();
  test::add_ped(1, {-2.0f, 2.0f, 1.0f});
  for (int event = 0; event < 3; ++event) world.draw();
  const std::vector<sim::host_call> discs = world.accepted_fans();
  const float heading = test::reference_heading(0.0f, 1.0f);
  const float centre[3] = {-2.0f, 2.0f, 1.0f - 0.90999997f};
  const test::reference_fan flat = test::reference_ring_fan(centre, heading, 1.0f, 0xFFFFFFFFu);
  ASSERT_EQ(discs.at(0).vertices.size(), flat.vertices.size());
  for (std::size_t i = 0; i < flat.vertices.size(); ++i) EXPECT_TRUE(test::same_vertex(discs[0].vertices[i], flat.vertices[i])) << i;
  const sim::host_call first = world.calls_of(sim::call_kind::vertical_line).at(0);
  EXPECT_EQ(first.origin[0], -2.0f);
  EXPECT_EQ(first.origin[2], 1.0f);
  EXPECT_EQ(first.end_z, 1.0f - 5.0f);
  EXPECT_TRUE(first.vehicles);
}

}  // namespace

namespace {

// 139 pedestrians on a flight of stairs, every overlay on: each pass goes to
// the game in as few batches as its limits allow, backgrounds first, then the
// recent damage, the health and the armour, and every ring is drawn.
TEST_F(RingGroundTest, ManyRingsOnUnevenGroundGoInBatchesWithinTheGamesLimits) {
  std::vector<sim::ground_piece> stairs;
  for (int k = 0; k < 80; ++k) {
    sim::ground_piece step;
    step.min[0] = -20.0f;
    step.max[0] = 20.0f;
    step.min[1] = -12.0f + 0.3f * static_cast<float>(k);
    step.max[1] = step.min[1] + 0.3f;
    step.z = -4.0f + 0.1f * static_cast<float>(k);  // risers of 0.1: inside the height range
    stairs.push_back(step);
  }
  world.set_ground(stairs);
  test::write_ring_txd(test::txd_place::beside_plugin);
  world.start_up();
  for (int slot = 1; slot < 140; ++slot) {
    sim::ped_setup p;
    p.slot = slot;
    p.position.x = static_cast<float>(slot % 14) * 2.5f - 16.0f;
    p.position.y = static_cast<float>(slot / 14) * 2.2f - 10.0f;
    float ground = 0.0f;
    ASSERT_TRUE(test::scene_ground(stairs, p.position.x, p.position.y, &ground));
    p.position.z = ground + 1.0f;
    p.health = 40.0f;
    p.armour = 50.0f;
    world.add_ped(p);
  }
  world.set_player(0, {0.0f, 0.0f, 1.0f});
  state.settings.show_armour = state.settings.show_recent_damage = true;
  world.draw();
  for (int slot = 1; slot < 140; ++slot) world.set_health(slot, 30.0f);
  world.calls.clear();
  world.draw();

  std::vector<std::string> order;
  for (const sim::host_call& c : world.calls) {
    if (c.kind == sim::call_kind::im3d_transform) {
      EXPECT_TRUE(c.ok);
      EXPECT_LE(c.vertices.size(), host::im3d_max_vertices);
      if (order.empty() || order.back() != c.texture) order.push_back(c.texture);
    }
    if (c.kind == sim::call_kind::im3d_render_indexed_primitive) {
      EXPECT_LE(c.indices.size(), host::im3d_max_indices);
    }
  }
  // The trail, the health and (without "hpar" in this dictionary) the armour all "hpfg".
  EXPECT_EQ(order, (std::vector<std::string>{"hpbg", "hpfg"}));
  EXPECT_GT(world.calls_of(sim::call_kind::im3d_transform).size(), 4u);
  const std::vector<sim::host_call>& discs = world.accepted_fans();
  ASSERT_EQ(discs.size(), 139u * 4u);
  const std::uint8_t* trail = state.settings.recent_damage_colour;
  const std::uint32_t trail_colour = 0xFF000000u | trail[0] << 16 | trail[1] << 8 | trail[2];
  const auto reach = [](const sim::host_call& d) { return std::hypot(d.vertices.back().x - d.vertices[0].x, d.vertices.back().y - d.vertices[0].y); };
  for (std::size_t i = 0; i < 139; ++i) {
    EXPECT_EQ(discs[i].texture, "hpbg");
    EXPECT_EQ(discs[139 + i].vertices[0].colour, trail_colour);      // the recent damage, 40 to 30
    EXPECT_EQ(discs[278 + i].vertices[0].colour >> 8 & 0xFF, 76u);  // the health: 0.3 of green
    EXPECT_GT(reach(discs[417 + i]), reach(discs[278 + i]) + 0.2f);  // the armour outside it
  }
  EXPECT_EQ(state.rings_drawn, 2 * 139);
  EXPECT_EQ(state.projection_failed, 0);
}

}  // namespace
