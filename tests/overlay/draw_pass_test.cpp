#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/test_game.h"

namespace {

using sim::call_kind;
using test::txd_place;
using lines = std::vector<std::string>;

class DrawPassTest : public test::OverlayTest {
 protected:
  void start_loaded() {
    test::write_ring_txd(txd_place::beside_plugin);
    world.start_up();
    ASSERT_TRUE(state.textures_loaded);
  }
  void add_ped(int slot, float x, float y = 0.0f, bool reject = false) { test::add_ped(slot, {x, y, 0.0f}, reject); }
  // The frames on which the game's loader was asked for candidate 1.
  std::vector<std::int32_t> load_frames() {
    std::vector<std::int32_t> frames;
    for (const auto& c : world.calls_of(call_kind::load_txd)) {
      if (c.path == test::candidate_path(txd_place::beside_plugin)) frames.push_back(c.frame);
    }
    return frames;
  }
  std::vector<std::pair<std::int32_t, std::uintptr_t>> shared_states() {
    std::vector<std::pair<std::int32_t, std::uintptr_t>> out;
    for (const auto& c : world.calls_of(call_kind::render_state_set)) {
      if (c.state != host::rwRENDERSTATETEXTURERASTER) out.emplace_back(c.state, c.value);
    }
    return out;
  }
  void draw_frames(int count) {
    for (int i = 0; i < count; ++i) world.draw();
  }
};

const std::vector<std::pair<std::int32_t, std::uintptr_t>> ring_states = {
    {12, 1}, {10, 5}, {11, 6}, {6, 1}, {8, 0}, {9, 2}, {20, 1}};

// Health is followed while the rings are hidden: a hit 9 s before they are
// shown again gives neither a ring after damage nor a trail; a hit 330 ms
// before gives both.
TEST_F(DrawPassTest, HitTakenWhileTheRingsWereHiddenIsDatedWhenItWasTaken) {
  start_loaded();
  state.settings.show_after_damage = 2;
  state.settings.show_recent_damage = true;
  add_ped(3, 2.0f);
  add_ped(4, -2.0f);
  const auto frame = [&](int n) {
    world.set_clock(static_cast<std::uint32_t>(n) * 33u);
    world.draw();
  };
  for (int n = 1; n <= 10; ++n) frame(n);
  state.rings_hidden = true;
  for (int n = 11; n < 300; ++n) {
    if (n == 20) world.set_health(3, 50.0f);
    if (n == 290) world.set_health(4, 50.0f);
    frame(n);
  }
  state.rings_hidden = false;
  frame(300);
  const auto fans_at = [&](float x) {
    return std::count_if(world.accepted_fans().begin(), world.accepted_fans().end(),
                         [x](const sim::host_call& f) { return f.vertices.at(0).x == x; });
  };
  EXPECT_EQ(fans_at(2.0f), 0);
  EXPECT_EQ(fans_at(-2.0f), 3);  // background, trail, health
}

// Each of the game's reasons to hide its HUD alone hides the rings, counts
// nothing, and the rings come back with the HUD. ShowWithoutHud=1 keeps them
// with the menu's switch off, and only then.
TEST_F(DrawPassTest, RingsGoWhereTheGameHidesItsHudAndComeBackWithIt) {
  start_loaded();
  add_ped(3, 2.0f);
  for (const bool without_hud : {false, true}) {
    state.settings.show_without_hud = without_hud;
    for (int k = 0; k < 7; ++k) {
      sim::hud_state hidden;
      hidden.field(k) = !hidden.field(k);
      world.set_hud(hidden);
      const std::int32_t counted = state.peds_in_range;
      world.draw();
      const bool kept = without_hud && k == 2;
      EXPECT_EQ(world.accepted_fans().size(), kept ? 2u : 0u) << "state " << k << (without_hud ? " ShowWithoutHud=1" : "");
      EXPECT_EQ(state.peds_in_range - counted, kept ? 1 : 0);
      world.set_hud(sim::hud_state{});
      world.draw();
      EXPECT_EQ(world.accepted_fans().size(), 2u) << "after state " << k;
    }
  }
}

TEST_F(DrawPassTest, MissingTexturesAreRetriedOnFramesOneAndEverySixHundredthOnly) {
  test::write_txd(txd_place::beside_plugin, {"shadow"});
  world.start_up();
  draw_frames(1201);
  EXPECT_EQ(load_frames(), (std::vector<std::int32_t>{0, 1, 600, 1200}));
  // Only the file that is there reaches the game's loader.
  EXPECT_EQ(world.calls_of(call_kind::load_txd).size(), 4u);
  EXPECT_TRUE(world.calls_of(call_kind::render_state_set).empty());
}

TEST_F(DrawPassTest, DictionaryNowhereFailsFourTimesAtEveryAttemptWithoutAskingTheGame) {
  world.start_up();
  draw_frames(1201);
  const lines log = test::log_lines();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("TXD failed: ", 0) == 0; }),
            16);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("TXD loaded", 0) == 0; }), 0);
  EXPECT_TRUE(world.calls_of(call_kind::load_txd).empty());
}

TEST_F(DrawPassTest, LoadedTexturesAreNeverLoadedAgain) {
  start_loaded();
  draw_frames(1200);
  EXPECT_EQ(load_frames(), (std::vector<std::int32_t>{0}));
}

TEST_F(DrawPassTest, FirstFramesRetryIsLoggedBeforeDrawEventIsRunningAndDrawsAtOnce) {
  world.start_up();
  test::write_ring_txd(txd_place::beside_plugin);
  add_ped(3, 2.0f);
  world.draw();
  const lines all = test::log_lines();
  ASSERT_EQ(all.size(), 1u + 4u + 5u + 1u);
  EXPECT_EQ(all[5], "TXD loaded: " + test::candidate_path(txd_place::beside_plugin));
  EXPECT_EQ(all.back(), "Draw event is running");
  EXPECT_EQ(world.accepted_fans().size(), 2u);
}

TEST_F(DrawPassTest, DrawEventIsRunningIsLoggedOnTheFirstFrameOnly) {
  start_loaded();
  draw_frames(3);
  const lines all = test::log_lines();
  EXPECT_EQ(std::count(all.begin(), all.end(), "Draw event is running"), 1);
  EXPECT_EQ(all.back(), "Draw event is running");
}

// The seven states are set once a frame before any ring, and every state the
// pass changed, the raster among them, is given back after its last ring as
// the game had it: the HUD after the drawing site finds what it set (the
// simulated game checks it after every drawing event), with the overlays on
// as without, and with no pedestrian to draw.
TEST_F(DrawPassTest, RenderStatesAreSetBeforeTheRingsAndTheGamesGivenBackAfter) {
  start_loaded();
  add_ped(3, 2.0f);
  add_ped(4, -2.0f);
  draw_frames(2);
  // As Render2dStuff leaves them before the site; the filter and the raster unset.
  const std::vector<std::pair<std::int32_t, std::uintptr_t>> games = {{12, 1}, {10, 5}, {11, 6}, {6, 0},
                                                                      {8, 0},  {9, 0},  {20, 1}};
  std::vector<std::pair<std::int32_t, std::uintptr_t>> frame = ring_states;
  frame.insert(frame.end(), games.begin(), games.end());
  std::vector<std::pair<std::int32_t, std::uintptr_t>> twice = frame;
  twice.insert(twice.end(), frame.begin(), frame.end());
  EXPECT_EQ(shared_states(), twice);
  const auto sets = world.calls_of(call_kind::render_state_set);
  EXPECT_EQ(sets.at(7).state, host::rwRENDERSTATETEXTURERASTER);
  EXPECT_EQ(sets.at(sets.size() - 1).state, host::rwRENDERSTATETEXTURERASTER);
  EXPECT_EQ(sets.at(sets.size() - 1).value, 0u);
  state.settings.show_armour = state.settings.show_recent_damage = true;
  draw_frames(2);
  world.set_pool_size(0);
  world.set_player_outside_pool({0.0f, 0.0f, 0.0f});
  draw_frames(2);
  EXPECT_EQ(world.render_state_mismatches, 0u);
  EXPECT_TRUE(world.calls_of(call_kind::render_state_left).empty());
}

TEST_F(DrawPassTest, NoPlayerMeansNoRenderStateAndNothingCounted) {
  start_loaded();
  add_ped(3, 2.0f);
  world.remove_player();
  world.draw();
  EXPECT_TRUE(world.calls_of(call_kind::render_state_set).empty());
  EXPECT_TRUE(world.accepted_fans().empty());
  EXPECT_EQ(state.peds_in_range, 0);
}

TEST_F(DrawPassTest, NoTexturesMeansNoRenderState) {
  world.start_up();
  add_ped(3, 2.0f);
  draw_frames(2);
  EXPECT_TRUE(world.calls_of(call_kind::render_state_set).empty());
}

TEST_F(DrawPassTest, FreeSlotsAndThePlayersSlotAreNeverDrawn) {
  start_loaded();
  add_ped(3, 2.0f);
  add_ped(4, 3.0f);
  world.free_slot(4);  // its storage still holds a valid pedestrian
  add_ped(139, 4.0f);  // the last slot
  world.draw();
  std::vector<float> ringed;
  for (const auto& fan : world.accepted_fans()) {
    if (fan.texture == "hpbg") ringed.push_back(fan.vertices[0].x);
  }
  EXPECT_EQ(ringed, (std::vector<float>{2.0f, 4.0f}));  // slot 0, the player at the origin, is not there
}

TEST_F(DrawPassTest, CameraWithoutAMatrixOrAMissingPoolDrawsNothingButStillCounts) {
  start_loaded();
  add_ped(3, 2.0f);
  world.set_camera_without_matrix();
  draw_frames(299);
  world.set_camera_forward(0.0f, 1.0f);
  world.set_pool_missing(true);
  draw_frames(301);
  EXPECT_TRUE(world.calls_of(call_kind::render_state_set).empty());
  EXPECT_EQ(test::log_lines().back(),
            "frame 600: loaded=1 peds_in_range=0 rings_drawn=0 projection_failed=0 (counts since last line)");
}

TEST_F(DrawPassTest, StatisticsLineEverySixHundredFramesThenTheCountersStartAfresh) {
  start_loaded();
  add_ped(3, 2.0f);
  add_ped(4, 5.0f);
  add_ped(5, 9.0f, 1.0f, true);  // the batch holding its background is refused, and all three rings with it
  draw_frames(599);
  EXPECT_EQ(test::log_lines().back(), "Draw event is running");
  EXPECT_EQ(state.peds_in_range, 599 * 3);
  world.draw();
  EXPECT_EQ(test::log_lines().back(),
            "frame 600: loaded=1 peds_in_range=1800 rings_drawn=0 projection_failed=1800 (counts since last line)");
  EXPECT_EQ(state.peds_in_range, 0);
  EXPECT_EQ(state.rings_drawn, 0);
  EXPECT_EQ(state.projection_failed, 0);
  world.draw();
  EXPECT_EQ(state.peds_in_range, 3);
  EXPECT_EQ(state.frame_count, 601);
}

TEST_F(DrawPassTest, StatisticsLineIsWrittenWithoutTexturesToo) {
  world.start_up();
  draw_frames(600);
  EXPECT_EQ(test::log_lines().back(),
            "frame 600: loaded=0 peds_in_range=0 rings_drawn=0 projection_failed=0 (counts since last line)");
}

TEST_F(DrawPassTest, LoadSucceedingOnFrameSixHundredDrawsInThatFrameAndIsCounted) {
  world.start_up();
  add_ped(3, 2.0f);
  draw_frames(599);
  test::write_ring_txd(txd_place::beside_plugin);
  world.draw();
  EXPECT_EQ(world.accepted_fans().size(), 2u);
  EXPECT_EQ(test::log_lines().back(),
            "frame 600: loaded=1 peds_in_range=1 rings_drawn=1 projection_failed=0 (counts since last line)");
}

TEST_F(DrawPassTest, OneHeadingServesEveryRingOfAFrame) {
  start_loaded();
  world.set_camera_forward(-1.0f, 0.0f);  // heading pi
  add_ped(3, 2.0f);
  add_ped(4, -6.0f, 3.0f);
  world.draw();
  for (const auto& fan : world.accepted_fans()) {
    const auto& c = fan.vertices[0];
    const auto& first = fan.vertices[1];
    EXPECT_NEAR(first.x - c.x, -1.0f, 1e-6f);
    EXPECT_NEAR(first.y - c.y, 0.0f, 1e-6f);
  }
}

}  // namespace
