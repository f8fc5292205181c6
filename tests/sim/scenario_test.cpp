#include <gtest/gtest.h>

#include <string>

#include "sim/preview.h"
#include "sim/scenario.h"
#include "sim/trace_writer.h"

namespace {

std::string error_of(const std::string& json) {
  const sim::scenario_result r = sim::parse_scenario(json);
  EXPECT_FALSE(r.ok) << json;
  return r.error;
}

TEST(ScenarioTest, EmptyObjectGivesTheDefaults) {
  const sim::scenario_result r = sim::parse_scenario("{}");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.value.game_version, 1001u);
  EXPECT_EQ(r.value.pool_size, 140);
  ASSERT_TRUE(r.value.player.has_value());
  EXPECT_EQ(r.value.player->slot, 0);
  EXPECT_EQ(r.value.txd, sim::txd_location::beside_plugin);
  ASSERT_EQ(r.value.events.size(), 3u);
  EXPECT_EQ(r.value.events[1].kind, sim::event_kind::draw);
  EXPECT_EQ(r.value.events[1].repeat, 600u);
  EXPECT_EQ(r.value.camera_forward[1], 1.0f);
}

TEST(ScenarioTest, FullSceneIsRead) {
  const sim::scenario_result r = sim::parse_scenario(R"({
    "game_version": 0, "area": 3, "camera_forward": [1, 0], "player": null, "txd": "modloader",
    "pool_size": 20, "events": ["start_up", "draw*12", "shutdown", "draw"],
    "peds": [{"slot": 4, "position": [1, 2, 3], "health": 5.5, "max_health": 1, "in_vehicle": true,
              "visible": false, "area": 3, "use_matrix": false, "reject_transform": true}]})");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.value.game_version, 0u);
  EXPECT_FALSE(r.value.player.has_value());
  EXPECT_EQ(r.value.txd, sim::txd_location::modloader);
  ASSERT_EQ(r.value.peds.size(), 1u);
  const sim::ped_setup& p = r.value.peds[0];
  EXPECT_EQ(p.slot, 4);
  EXPECT_EQ(p.position.z, 3.0f);
  EXPECT_EQ(p.health, 5.5f);
  EXPECT_TRUE(p.in_vehicle && !p.visible && !p.use_matrix && p.reject_transform);
  EXPECT_EQ(p.area, 3);
  EXPECT_EQ(r.value.events[1].repeat, 12u);
}

TEST(ScenarioTest, MistakesAreRefusedNamingTheFieldAndTheProblem) {
  EXPECT_EQ(error_of(R"({"colour": 1})"), "colour: unknown key");
  EXPECT_EQ(error_of(R"({"hud": [{"frame": 2, "menu_hud": "off"}]})"), "hud[0].menu_hud: expected true or false");
  EXPECT_EQ(error_of(R"({"hud": [{"frame": 2, "credits": true}]})"), "hud[0].credits: unknown key");
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 1, "position": [0,0,0], "helth": 3}]})"), "peds[0].helth: unknown key");
  EXPECT_EQ(error_of(R"({"game_version": "1001"})"), "game_version: expected an integer");
  EXPECT_EQ(error_of(R"({"game_version": 1003})"),
            "game_version: 1003 is none of 0, 1001, 1002, 1011, 1101, 1111, 3200, 3210");
  EXPECT_EQ(error_of(R"({"camera_forward": [1]})"), "camera_forward: expected a list of 2 numbers");
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 140, "position": [0,0,0]}]})"),
            "peds[0].slot: slot 140 is outside the pool of 140");
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 0, "position": [0,0,0]}]})"), "peds[0].slot: slot 0 is taken");
  EXPECT_EQ(error_of(R"({"peds": [{"position": [0,0,0]}]})"), "peds[0].slot: missing");
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 2, "position": [0,0,0], "visible": 1}]})"),
            "peds[0].visible: expected true or false");
  EXPECT_EQ(error_of(R"({"txd": "desktop"})"),
            "txd: 'desktop' is none of beside_plugin, plugin_models_txd, modloader, game_models_txd, none");
  EXPECT_NE(error_of(R"({"events": ["draw*0"]})").find("events[0]: 'draw*0' is none of"), std::string::npos);
  EXPECT_NE(error_of(R"({"events": ["draw*x"]})").find("events[0]"), std::string::npos);
  EXPECT_EQ(error_of(R"({"player": {"slot": 5}, "pool_size": 3})"), "player.slot: slot 5 is outside the pool of 3");
  EXPECT_EQ(error_of(R"({"foreign_patches": [{"site": "drawing", "form": "push"}]})"),
            "foreign_patches[0].form: 'push' is none of call, jmp, call_indirect, jmp_indirect");
  EXPECT_EQ(error_of(R"({"foreign_patches": [{"site": "drawing", "form": "call"}, {"site": "drawing", "form": "jmp"}]})"),
            "foreign_patches[1].site: drawing is patched already");
  EXPECT_EQ(error_of(R"({"camera_forward": [1e300, 0]})"), "camera_forward[0]: is no finite 32-bit float");
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 1, "position": [0,0,0], "health": -1e39}]})"),
            "peds[0].health: is no finite 32-bit float");
  EXPECT_EQ(error_of(R"({"area": 18446744073709551615})"), "area: the integer is too large");
  EXPECT_EQ(error_of(R"({"pool_size": 0})"),
            "pool_size: 0 slots leave no room for the player in slot 0 (\"player\": null for none)");
  EXPECT_TRUE(sim::parse_scenario(R"({"pool_size": 0, "player": null})").ok);
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 1, "position": [0,0,0], "health": 5, "health": 6}]})"),
            "health: the key is given twice in one object");
  EXPECT_EQ(error_of(R"({"walls": [{"min": [0,0,0], "max": [1,0,1]}]})"), "walls[0]: min must lie below max on every axis");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,0], "z": 0}]})"), "ground[0]: min must lie below max on both axes");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1]}]})"), "ground[0].z: missing");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "slope": [1]}]})"), "ground[0].slope: expected a list of 2 numbers");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "walls": 1}]})"), "ground[0].walls: unknown key");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "frames": [0, 5]}]})"), "ground[0].frames: expected 1 <= first <= last");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "frames": [6, 5]}]})"), "ground[0].frames: expected 1 <= first <= last");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "frames": [1]}]})"), "ground[0].frames: expected [first, last]");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "frames": [1, 2.5]}]})"), "ground[0].frames[1]: expected an integer");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "vehicle": 1}]})"), "ground[0].vehicle: expected true or false");
  EXPECT_EQ(error_of(R"({"ground": [{"min": [0,0], "max": [1,1], "z": 0, "box": "yes"}]})"), "ground[0].box: expected true or false");
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 1, "position": [0,0,0], "velocity": [1, 2, 3]}]})"), "peds[0].velocity: expected a list of 2 numbers");
  EXPECT_EQ(error_of(R"({"walls": [{"min": [0,0,0]}]})"), "walls[0].max: missing");
  EXPECT_EQ(error_of(R"({"camera_target": [0,0]})"), "camera_target: expected a list of 3 numbers");
  EXPECT_EQ(error_of(R"({"key_presses": [{"frame": 601, "key": "F7"}]})"),
            "key_presses[0].frame: expected a drawing event from 1 to 600");
  EXPECT_NE(error_of(R"({"key_presses": [{"frame": 1, "key": "F13"}]})").find("key_presses[0].key: 'F13' is no key name"),
            std::string::npos);
  EXPECT_EQ(error_of(R"({"plugin_name": "..\\x.asi"})"), "plugin_name: expected a plain file name of at most 100 bytes");
  EXPECT_EQ(error_of(R"({"second_plugin": {"unloaded": "never"}})"), "second_plugin.unloaded: 'never' is neither first nor last");
  EXPECT_TRUE(sim::parse_scenario(R"({"events": ["draw*20000"]})").ok);
  EXPECT_EQ(error_of(R"({"events": ["draw*20000", "draw"]})"),
            "events: 20001 drawing events with the trace on would write gigabytes; at most 20000, or set \"trace\": false");
  EXPECT_TRUE(sim::parse_scenario(R"({"events": ["draw*99999999"], "trace": false})").ok);
  // Numbers beyond what the reader or the game's 32-bit frame count holds.
  EXPECT_EQ(error_of(R"({"area": 1e400})").rfind("area: a number the reader cannot hold", 0), 0u);
  EXPECT_EQ(error_of(R"({"peds": [{"slot": 1, "position": [0, 0, 1e400]}]})").rfind("peds.position: a number", 0), 0u);
  EXPECT_EQ(error_of(R"({"key_presses": [{"frame": 2, "key": "F7", "frames": 9223372036854775807}]})"),
            "key_presses[0].frames: expected 1 to 599");
  std::string many_draws = R"("draw*100000000")";
  for (int i = 1; i < 22; ++i) many_draws += R"(, "draw*100000000")";  // 2.2 thousand million
  EXPECT_EQ(error_of(R"({"events": [)" + many_draws + R"(], "trace": false, "key_presses": [{"frame": 2147483648, "key": "F7"}]})"),
            "key_presses[0].frame: expected a drawing event from 1 to 2147483647");
  EXPECT_EQ(error_of(R"({"refuse_restore": {"site": "drawing", "draws_after": -1}})"),
            "refuse_restore.draws_after: expected 0 to 10000");
  EXPECT_EQ(error_of("[1, 2]"), "scenario: expected an object");
  EXPECT_EQ(error_of("{").rfind("scenario: not JSON", 0), 0u);
}

TEST(TraceTest, LinesCarryTheFieldsOfEachCall) {
  sim::host_call load(sim::call_kind::load_txd, 0);
  load.path = "models\\txd\\DEVIZAR.txd";
  load.ok = true;
  EXPECT_EQ(sim::trace_line(load),
            R"({"frame":0,"call":"host_load_txd","path":"models\\txd\\DEVIZAR.txd","result":"ok"})");
  sim::host_call raster(sim::call_kind::render_state_set, 3);
  raster.state = 1;
  EXPECT_EQ(sim::trace_line(raster), R"({"frame":3,"call":"RwRenderStateSet","state":1,"texture":null})");
  raster.texture = "hpbg";
  EXPECT_EQ(sim::trace_line(raster), R"({"frame":3,"call":"RwRenderStateSet","state":1,"texture":"hpbg"})");
  sim::host_call blend(sim::call_kind::render_state_set, 3);
  blend.state = 10;
  blend.value = 5;
  EXPECT_EQ(sim::trace_line(blend), R"({"frame":3,"call":"RwRenderStateSet","state":10,"value":5})");
  sim::host_call fan(sim::call_kind::im3d_transform, 4);
  fan.flags = 1;
  fan.ok = true;
  host::RwIm3DVertex v{};
  v.x = 0.1f;
  v.y = -2.0f;
  v.z = 1e-8f;
  v.colour = 0xFF7F7F00u;
  v.u = 0.5f;
  v.v = 0.49999997f;
  fan.vertices.push_back(v);
  EXPECT_EQ(sim::trace_line(fan),
            R"({"frame":4,"call":"RwIm3DTransform","count":1,"flags":1,"result":"ok","vertices":[[0.100000001,-2,9.99999994e-09,4286545664,0.5,0.49999997]]})");
}

// A pedestrian near the map's right edge has its label left of its dot, all
// of it inside the map and none under the legend beside it.
TEST(PreviewTest, LabelsStayInsideTheMap) {
  sim::scenario scene;
  sim::ped_setup p;
  p.slot = 12;
  p.health = 70.0f;
  p.position = {(sim::preview_size / 2.0f - 12.0f) / sim::preview_pixels_per_unit, 0.0f, 0.0f};
  scene.peds.push_back(p);
  const png::image picture = sim::render_preview(scene, {}, txd::dictionary{});
  const int dot_x = static_cast<int>(sim::preview_size / 2.0f + p.position.x * sim::preview_pixels_per_unit);
  std::size_t left_of_dot = 0, beyond_map = 0;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const std::uint8_t* px = &picture.rgba[(static_cast<std::size_t>(y) * picture.width + x) * 4];
      if (px[0] < 240 || px[1] != px[0] || px[2] > px[0] - 20) continue;  // the labels' pale yellow
      if (static_cast<int>(x) >= sim::preview_size) ++beyond_map;
      if (static_cast<int>(x) < dot_x) ++left_of_dot;
    }
  }
  EXPECT_EQ(beyond_map, 0u);
  EXPECT_GT(left_of_dot, 20u);
}

}  // namespace
