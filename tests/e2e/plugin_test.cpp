// The shipped plugin file in hostsim.exe under Wine: its log, its rings, its
// settings and its copies.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>

#include "tests/e2e/wine_run.h"
#include "sim/scenario.h"
#include "tests/support/ground_check.h"
#include "tests/support/reference_ring.h"
#include "tests/support/who_model.h"

namespace {

using namespace e2e;

class WinePluginTest : public WineTest {};

// The ground scene under Wine, from below at Radius 1: once the rings have
// had a few events of queries, every fan lies on the ring's ground, the
// crate and the bin are followed in time, no event asks more than 64.
TEST_F(WinePluginTest, RingsLieOnTheGroundThatIsThereWithinTheBudget) {
  const json scene = test::ground_scene(false, 60);
  const run r = hostsim("ground", scene);
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 11);
  const test::ground_run verdict = test::judge_ground_run(scene, r.trace, 20);
  EXPECT_EQ(verdict.failure, "");
  EXPECT_GT(verdict.discs_checked, 800);
  // The walker moved 59 frames of 33 ms at 1.4 a second, up the stairs.
  const std::vector<json> moved = r.calls("ped_position");
  ASSERT_EQ(moved.size(), 59u);
  EXPECT_GT(float(moved.back()["position"][2]), 2.5f);
}

// Who is who under Wine, each key alone, frame by frame against the rules
// modelled from the scene.
TEST_F(WinePluginTest, EachWhoKeyAloneRingsWhomTheRulesSay) {
  const std::vector<test::who_settings> variants = test::who_variants();
  for (std::size_t i = 0; i < variants.size(); ++i) {
    json scene = test::who_scene();
    scene["ini"] = variants[i].ini();
    const run r = hostsim("who-" + std::to_string(i), scene);
    ASSERT_EQ(r.exit_code, 0) << r.error;
    const std::vector<json> discs = r.discs();
    for (int frame = 1; frame <= 10; ++frame) {
      EXPECT_EQ(test::compare_rings(scene, discs, frame, test::expected_rings(scene, variants[i], frame)), "")
          << variants[i].ini();
    }
  }
}

// A real DLL named samp.dll loaded into hostsim at frame 100: found at frame
// 600, no ring from then on, one line; allowed, rings throughout.
TEST_F(WinePluginTest, MultiplayerClientTurnsTheRingsOffUnlessAllowed) {
  for (const bool allowed : {false, true}) {
    json scene = {{"peds", one_ped}, {"modules", {{{"frame", 100}, {"name", "samp.dll"}}}}, {"events", {"start_up", "draw*650"}}};
    if (allowed) scene["ini"] = "[Rings]\nAllowInMultiplayer=1\n";
    const run r = hostsim(allowed ? "multiplayer-allowed" : "multiplayer", scene);
    ASSERT_EQ(r.exit_code, 0) << r.error;
    std::vector<int> drawn(651, 0);
    for (const json& c : r.calls("RwIm3DTransform")) drawn.at(c["frame"].get<int>())++;
    for (int f = 1; f <= 650; ++f) ASSERT_EQ(drawn[f], !allowed && f >= 600 ? 0 : 2) << "frame " << f;
    const lines log = r.log_lines();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "multiplayer client loaded (samp.dll): rings off; AllowInMultiplayer=1 turns them on where the server allows it"),
              allowed ? 0 : 1);
  }
}

// The game hides its HUD for a cutscene from frame 10 to 19 and the player
// switches it off in the menu from frame 30 to 39: no ring in those frames,
// but with ShowWithoutHud=1 in the second.
TEST_F(WinePluginTest, RingsFollowTheGamesHud) {
  const json scene = {{"peds", one_ped},
                      {"events", {"start_up", "draw*50"}},
                      {"hud",
                       {{{"frame", 10}, {"cutscene", true}, {"widescreen", true}},
                        {{"frame", 20}, {"cutscene", false}, {"widescreen", false}},
                        {{"frame", 30}, {"menu_hud", false}},
                        {{"frame", 40}, {"menu_hud", true}}}}};
  for (const bool without_hud : {false, true}) {
    json s = scene;
    if (without_hud) s["ini"] = "[Rings]\nShowWithoutHud=1\n";
    const run r = hostsim(without_hud ? "hud-without" : "hud", s);
    ASSERT_EQ(r.exit_code, 0) << r.error;
    std::vector<int> ringed(51, 0);
    for (const json& c : r.calls("RwIm3DTransform")) ringed.at(c["frame"].get<int>())++;
    for (int f = 1; f <= 50; ++f) {
      const bool hidden = (f >= 10 && f < 20) || (!without_hud && f >= 30 && f < 40);
      EXPECT_EQ(ringed[f], hidden ? 0 : 2) << "frame " << f << (without_hud ? " ShowWithoutHud=1" : "");
    }
  }
}

TEST_F(WinePluginTest, TypicalStartWritesTheLogByteForByte) {
  const run r = hostsim("typical", {{"events", {"start_up", "draw*600", "shutdown"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const std::string expected = "MorvaHealthRing started\r\n"
                               "TXD loaded: " + candidate(r, 1) + "\r\n"
                               "  texture in TXD: 'hpar'\r\n"
                               "  texture in TXD: 'hpfg'\r\n"
                               "  texture in TXD: 'hpbg'\r\n"
                               "  hpbg -> found\r\n"
                               "  hpfg -> found\r\n"
                               "Draw event is running\r\n"
                               "frame 600: loaded=1 peds_in_range=0 rings_drawn=0 projection_failed=0 (counts since last line)\r\n";
  EXPECT_EQ(r.log(), expected);
  EXPECT_EQ(r.summary["sites_changed_by_load"], 3);
  EXPECT_TRUE(sites_restored(r));
  EXPECT_EQ(r.calls("RwTexDictionaryDestroy").size(), 1u);
}

TEST_F(WinePluginTest, EachOfTheFourPlacesIsFoundInTurn) {
  const char* places[] = {"beside_plugin", "plugin_models_txd", "modloader", "game_models_txd"};
  for (int k = 1; k <= 4; ++k) {
    const run r = hostsim(std::string("place-") + places[k - 1], {{"txd", places[k - 1]}, {"events", {"start_up"}}});
    ASSERT_EQ(r.exit_code, 0) << r.error;
    lines expected = {"MorvaHealthRing started"};
    for (int f = 1; f < k; ++f) expected.push_back("TXD failed: " + candidate(r, f));
    expected.push_back("TXD loaded: " + candidate(r, k));
    const lines got = r.log_lines();
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(lines(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected) << places[k - 1];
    EXPECT_EQ(got.back(), "  hpfg -> found");
    // Only the place that holds the file reaches the game's loader.
    ASSERT_EQ(r.calls("host_load_txd").size(), 1u) << places[k - 1];
    EXPECT_EQ(r.calls("host_load_txd")[0]["path"], candidate(r, k));
  }
}

TEST_F(WinePluginTest, NoDictionaryAnywhereFailsAllFourPlaces) {
  const run r = hostsim("none", {{"txd", "none"}, {"events", {"start_up"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.log_lines(), (lines{"MorvaHealthRing started", "TXD failed: " + candidate(r, 1),
                                  "TXD failed: " + candidate(r, 2), "TXD failed: " + candidate(r, 3),
                                  "TXD failed: " + candidate(r, 4)}));
  EXPECT_TRUE(r.calls("host_load_txd").empty());  // the game's loader would have said "empty", not no
}

TEST_F(WinePluginTest, UnservedBuildsWriteOneLogLineAndTouchNothing) {
  for (int id : {0, 1011, 1101, 1111, 3200, 3210}) {
    const run r = hostsim("unserved-" + std::to_string(id), {{"game_version", id}, {"peds", one_ped}});
    ASSERT_EQ(r.exit_code, 0) << r.error;
    EXPECT_EQ(r.log(), "MorvaHealthRing not started: unsupported game executable (build id " + std::to_string(id) +
                           ")\r\n");
    ASSERT_EQ(r.trace.size(), 1u) << id;  // only the unload line
    EXPECT_EQ(r.summary["sites_changed_by_load"], 0) << id;
    EXPECT_TRUE(sites_restored(r)) << id;
  }
}

// Another module patched the drawing site before the plugin loaded, in each
// of the four forms such modules use.
TEST_F(WinePluginTest, SiteTakenByAnotherModuleIsChainedForCallsAndLeftAloneForJumps) {
  for (const char* form : {"call", "call_indirect", "jmp", "jmp_indirect"}) {
    const run r = hostsim(std::string("foreign-") + form,
                          {{"peds", one_ped}, {"foreign_patches", {{{"site", "drawing"}, {"form", form}}}}});
    ASSERT_EQ(r.exit_code, 0) << form << ": " << r.error;
    const json& s = r.summary;
    EXPECT_EQ(s["register_mismatches"], 0) << form;
    EXPECT_EQ(s["events"]["drawing"], 600) << form;
    EXPECT_EQ(s["foreign_code_runs"]["drawing"], 600) << form;
    EXPECT_EQ(s["game_function_runs"]["drawing"], 600) << form;
    const bool call = std::string(form).rfind("call", 0) == 0;
    EXPECT_EQ(s["rings_in_last_drawn_frame"], call ? 1 : 0) << form;
    EXPECT_EQ(s["sites_changed_by_load"], call ? 3 : 2) << form;
    EXPECT_EQ(r.calls("RwIm3DTransform").empty(), !call) << form;
    EXPECT_TRUE(sites_restored(r)) << form;
    const lines log = r.log_lines();
    const std::string left_alone =
        "drawing site 0x53E293 left alone: another module redirected it with a jump (rings cannot be drawn)";
    EXPECT_EQ(std::count(log.begin(), log.end(), left_alone), call ? 0 : 1) << form;
  }
}

TEST_F(WinePluginTest, PluginInAFolderTheAnsiCodePageCannotNameStillWorks) {
  const run r = hostsim("Игры-ゲーム", {{"peds", one_ped}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines got = r.log_lines();
  ASSERT_GE(got.size(), 7u) << r.log();
  EXPECT_EQ(got[0], "MorvaHealthRing started");
  EXPECT_EQ(got[1].rfind("TXD loaded: ", 0), 0u) << got[1];
  EXPECT_NE(got[1].find('~'), std::string::npos) << "the short form of the folder: " << got[1];
  EXPECT_EQ(got[6], "  hpfg -> found");
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 1);
}

TEST_F(WinePluginTest, MissingTexturesAreRetriedOnScheduleAndAShutdownStopsTheRings) {
  // Nowhere to be found: four failures at start-up and at every retry, and
  // the game's loader (which would hand back empty dictionaries) is never asked.
  const run r = hostsim("retry", {{"txd", "none"}, {"events", {"start_up", "draw*1201"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines log = r.log_lines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "TXD failed: " + candidate(r, 1)), 4);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("TXD failed: ", 0) == 0; }), 16);
  EXPECT_TRUE(r.calls("host_load_txd").empty());

  const run s = hostsim("shutdown-then-frames", {{"peds", one_ped},
                                                 {"events", {"start_up", "draw*10", "shutdown", "draw*600"}}});
  ASSERT_EQ(s.exit_code, 0) << s.error;
  std::vector<int> drawn_frames;
  for (const json& c : s.calls("RwIm3DEnd")) drawn_frames.push_back(c["frame"]);
  ASSERT_FALSE(drawn_frames.empty());
  EXPECT_EQ(drawn_frames.front(), 1);
  // Two fans a frame until the shutdown, then none until the retry of frame 600 loads again.
  EXPECT_EQ(std::count_if(drawn_frames.begin(), drawn_frames.end(), [](int f) { return f > 10 && f < 600; }), 0);
  const auto after_shutdown = std::find_if(drawn_frames.begin(), drawn_frames.end(), [](int f) { return f > 10; });
  ASSERT_NE(after_shutdown, drawn_frames.end());
  EXPECT_EQ(*after_shutdown, 600);
  EXPECT_EQ(s.calls("RwTexDictionaryDestroy").size(), 1u);
}

TEST_F(WinePluginTest, SecondStartUpTruncatesTheLog) {
  const run r = hostsim("second-start", {{"events", {"start_up", "draw*3", "start_up"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines got = r.log_lines();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), "MorvaHealthRing started");
  EXPECT_EQ(std::count(got.begin(), got.end(), "Draw event is running"), 0);
  EXPECT_EQ(r.calls("RwTexDictionaryDestroy").size(), 1u);  // the first dictionary is given back
}

TEST_F(WinePluginTest, LogHeldOpenWithWritingDeniedLosesThoseLinesOnly) {
  const run r = hostsim("held-log", {{"events", {"start_up", "draw*5", "hold_log", "draw*600", "release_log", "draw*600"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines got = r.log_lines();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], "Draw event is running");  // frame 600 fell into the held time
  EXPECT_EQ(got.back(), "frame 1200: loaded=1 peds_in_range=0 rings_drawn=0 projection_failed=0 (counts since last line)");
  EXPECT_TRUE(sites_restored(r));
}

// A renamed second copy, beside the first or in another plugin folder,
// unloaded before or after it: one ring per pedestrian, the second named in
// the first's log, nothing faults, and everything is back at the end.
TEST_F(WinePluginTest, SecondCopyStandsDownWhateverItsFolderAndUnloadOrder) {
  for (const char* folder : {"same", "other"}) {
    for (const char* unloaded : {"first", "last"}) {
      const std::string name = std::string("copies-") + folder + "-" + unloaded;
      const run r = hostsim(name, {{"second_plugin", {{"folder", folder}, {"unloaded", unloaded}}},
                                   {"peds", one_ped},
                                   {"events", {"start_up", "draw*2", "shutdown"}}});
      ASSERT_EQ(r.exit_code, 0) << name << ": " << r.error;
      int fans_in_frame_2 = 0;
      for (const json& c : r.calls("RwIm3DTransform")) fans_in_frame_2 += c["frame"] == 2 ? 1 : 0;
      EXPECT_EQ(fans_in_frame_2, 2) << name;
      const std::string copy = r.windows_path(std::string(folder) == "same" ? "scripts/MorvaHealthRingCopy.asi"
                                                                            : "plugins/MorvaHealthRingCopy.asi");
      const lines log = r.log_lines();
      ASSERT_GE(log.size(), 2u) << name;
      EXPECT_EQ(log[1], "another copy at " + copy + " was loaded and does nothing") << name;
      EXPECT_TRUE(sites_restored(r)) << name;
    }
  }
}

// The start-up site redirected with a jump by another module: the first frame
// starts the log, says what was left alone, and the rings are drawn.
TEST_F(WinePluginTest, StartUpSiteLeftAloneStartsTheLogAtTheFirstFrame) {
  const run r = hostsim("start-up-jump", {{"peds", one_ped}, {"foreign_patches", {{{"site", "start_up"}, {"form", "jmp"}}}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines log = r.log_lines();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "MorvaHealthRing started");
  EXPECT_EQ(log[1], "start-up site 0x5BF3A1 left alone: another module redirected it with a jump "
                    "(the log and the textures start at the first frame)");
  EXPECT_EQ(log[2], "TXD loaded: " + candidate(r, 1));
  EXPECT_EQ(log.back(), "frame 600: loaded=1 peds_in_range=600 rings_drawn=600 projection_failed=0 (counts since last line)");
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 1);
  EXPECT_TRUE(sites_restored(r));
}

// Code page 932: the plugin file's name holds 表, whose second byte there is a
// backslash. The log and the dictionary are found beside it all the same.
TEST_F(WinePluginTest, PluginNamedInADoubleByteCodePageFindsItsFolder) {
  const fs::path locales = runs_root() / "locale";
  if (!fs::exists("/usr/share/i18n/locales/ja_JP")) GTEST_SKIP() << "no ja_JP locale source (Debian package locales)";
  const std::string make = "localedef -i ja_JP -f UTF-8 '" + (locales / "ja_JP.UTF-8").string() + "' >/dev/null 2>&1";
  fs::create_directories(locales);
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  const run r = hostsim("cp932", {{"peds", one_ped}, {"plugin_name", "表示.asi"}}, PLUGIN_ASI, RING_TXD,
                        "LOCPATH='" + locales.string() + "' LC_ALL=ja_JP.UTF-8");
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines log = r.log_lines();
  ASSERT_GE(log.size(), 2u) << "no log beside the plugin";
  EXPECT_EQ(log[1], "TXD loaded: " + candidate(r, 1));
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 1);
}

// The drawing site's page cannot be opened again when the plugin is
// unloaded (another module's VirtualProtect refuses it): the site still calls
// the plugin, which stays mapped, so the game's frames after the unload run
// without a fault; the log says what happened.
TEST_F(WinePluginTest, RestoreRefusedAtUnloadKeepsThePluginMappedAndTheGameRunning) {
  const run r = hostsim("refused-restore", {{"peds", one_ped},
                                            {"events", {"start_up", "draw*3"}},
                                            {"refuse_restore", {{"site", "drawing"}, {"draws_after", 10}}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.summary["frames"], 13);
  EXPECT_EQ(r.summary["game_function_runs"]["drawing"], 13);
  EXPECT_EQ(r.summary["sites_restored"], false);
  const lines log = r.log_lines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "drawing site 0x53E293 could not be given back at unload: its code could not be made writable");
  EXPECT_EQ(log.back(), "drawing site 0x53E293 may still lead into this copy: it stays loaded until the game exits");
}

// A game folder deeper than 260 characters: the plugin's own folder still.
TEST_F(WinePluginTest, PluginFolderBeyondTwoHundredSixtyCharacters) {
  const std::string deep = std::string(120, 'a') + "/" + std::string(120, 'b') + "/" + std::string(40, 'c');
  const run r = hostsim(deep, {{"peds", one_ped}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  ASSERT_GT(r.windows_path("scripts/MorvaHealthRing.asi").size(), 300u);
  const lines log = r.log_lines();
  ASSERT_GE(log.size(), 2u) << "no log beside the plugin";
  EXPECT_EQ(log[1].rfind("TXD loaded: ", 0), 0u) << log[1];
  EXPECT_NE(log[1].find("scripts\\DEVIZAR.txd"), std::string::npos) << log[1];
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 1);
}

TEST_F(WinePluginTest, LongSoakKeepsEveryStatisticsLineAndFlatMemory) {
  json peds = json::array();
  for (int i = 1; i <= 40; ++i) {
    peds.push_back({{"slot", i}, {"position", {float(i % 9) * 2.0f - 8.0f, float(i / 9) * 3.0f - 6.0f, 0.0f}},
                    {"health", float((i * 37) % 100 + 1)}});
  }
  const run r = hostsim("soak", {{"trace", false}, {"peds", peds}, {"events", {"start_up", "draw*100000", "shutdown"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines got = r.log_lines();
  int statistics = 0;
  for (const std::string& l : got) {
    if (l.rfind("frame ", 0) == 0) {
      ++statistics;
      EXPECT_EQ(l, "frame " + std::to_string(statistics * 600) +
                       ": loaded=1 peds_in_range=24000 rings_drawn=24000 projection_failed=0 (counts since last line)");
    }
  }
  EXPECT_EQ(statistics, 166);
  const double early = r.summary["private_bytes_early"], end = r.summary["private_bytes_end"];
  EXPECT_GT(early, 0.0);
  EXPECT_LT(end - early, 256.0 * 1024) << "grew from " << early << " to " << end;
  EXPECT_TRUE(sites_restored(r));
}

// The player's settings as the reference applies them; the defaults are the
// ring as it always was.
struct ring_rules {
  float range = 25.0f, height = 6.0f, radius = 1.0f;
  std::uint32_t opacity = 255;
  std::uint8_t full[3] = {0, 255, 0}, low[3] = {255, 0, 0};
  bool show_full_health = true;
};

// Every fan of the one drawn frame of r, against the reference for each
// pedestrian of the scene that the rules ring; returns how many were ringed.
std::size_t expect_ring_geometry(const run& r, const json& scene, const ring_rules& rules) {
  const float fx = scene["camera_forward"][0], fy = scene["camera_forward"][1];
  const float heading = test::reference_heading(fx, fy);
  const std::vector<json> fans = r.discs();
  // The backgrounds of the pedestrians ringed, then their health fans.
  std::vector<test::reference_fan> expected_fans, health_fans;
  std::vector<json> slots;
  std::size_t next = 0, checked = 0;
  const json& player = scene["player"]["position"];
  for (const json& p : scene["peds"]) {
    const float x = p["position"][0], y = p["position"][1], z = p["position"][2];
    const float dx = x - float(player[0]), dy = y - float(player[1]), dz = z - float(player[2]);
    const float d = float(std::sqrt(double((dy * dy + dx * dx) + dz * dz)));
    const float health = p.value("health", 100.0f), max_health = p.value("max_health", 100.0f);
    float f = health / (max_health > 1.0f ? max_health : 100.0f);
    f = f > 1.0f ? 1.0f : (f < 0.0f ? 0.0f : f);
    const bool ringed = health > 0 && !p.value("in_vehicle", false) && p.value("visible", true) && p.value("area", 0) == 0 &&
                        d <= rules.range && std::fabs(dz) <= rules.height && (rules.show_full_health || f < 1.0f);
    if (!ringed) continue;
    const float centre[3] = {x, y, z - 0.90999997f};
    const std::uint32_t background = (rules.opacity << 24) | 0xFFFFFFu;
    const std::uint32_t foreground = test::reference_colour(f, rules.full, rules.low, rules.opacity);
    expected_fans.push_back(test::reference_ring_fan(centre, heading, 1.0f, background, rules.radius));
    health_fans.push_back(test::reference_ring_fan(centre, heading, f, foreground, rules.radius));
    slots.push_back(p["slot"]);
  }
  expected_fans.insert(expected_fans.end(), health_fans.begin(), health_fans.end());
  for (const test::reference_fan& expected : expected_fans) {
    const json& slot = slots[next % std::max<std::size_t>(slots.size(), 1)];
    if (next >= fans.size()) {
      ADD_FAILURE() << "no fan for ped slot " << slot;
      return checked;
    }
    const json& got = fans[next++];
    bool same = got["vertices"].size() == expected.vertices.size();
    for (std::size_t i = 0; same && i < expected.vertices.size(); ++i) {
      const json& v = got["vertices"][i];
      const host::RwIm3DVertex& e = expected.vertices[i];
      same = float(v[0]) == e.x && float(v[1]) == e.y && float(v[2]) == e.z && std::uint32_t(v[3]) == e.colour &&
             float(v[4]) == e.u && float(v[5]) == e.v;
      if (!same) {
        ADD_FAILURE() << "ped slot " << slot << " vertex " << i << ": recorded " << v.dump() << ", expected ["
                      << e.x << "," << e.y << "," << e.z << "," << e.colour << "," << e.u << "," << e.v << "]";
      }
    }
    if (!same) return checked;
    if (next > slots.size()) ++checked;
  }
  EXPECT_EQ(next, fans.size());
  return checked;
}

json one_frame_of_the_demo() {
  json scene = json::parse(read(DEMO_SCENARIO));
  scene["events"] = {"start_up", "draw"};
  return scene;
}

TEST_F(WinePluginTest, RecordedVerticesAgreeWithTheRingGeometry) {
  const json scene = one_frame_of_the_demo();
  const run r = hostsim("geometry", scene);
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_GE(expect_ring_geometry(r, scene, ring_rules{}), 8u);
  // Its nine rings in two batches, the backgrounds' and the health fans'.
  EXPECT_EQ(r.calls("RwIm3DTransform").size(), 2u);
  for (const json& c : r.calls("RwIm3DRenderIndexedPrimitive")) EXPECT_EQ(c["type"], 3);
}

// Each key of MorvaHealthRing.ini on its own changes the recorded fans as the
// reference with that setting says; every key at its default changes nothing.
TEST_F(WinePluginTest, EachSettingChangesTheTraceAsItSays) {
  struct variant {
    const char* name;
    const char* ini;
    ring_rules rules;
  };
  std::vector<variant> variants = {
      {"defaults", "[Rings]\r\nEnabled=1\r\nToggleKey=\r\nRange=25\r\nHeightRange=6\r\nRadius=1\r\nOpacity=255\r\n"
                   "FullHealthColour=0,255,0\r\nLowHealthColour=255,0,0\r\nShowFullHealth=1\r\n", {}},
      {"range", "[Rings]\nRange=12\n", {}},
      {"height", "[Rings]\nHeightRange=0.5\n", {}},
      {"radius", "[Rings]\nRadius=2.5\n", {}},
      {"opacity", "[Rings]\nOpacity=100\n", {}},
      {"colours", "[Rings]\nFullHealthColour=0,0,255\nLowHealthColour=255,255,0\n", {}},
      {"full-health", "[Rings]\nShowFullHealth=0\n", {}},
  };
  variants[1].rules.range = 12.0f;
  variants[2].rules.height = 0.5f;
  variants[3].rules.radius = 2.5f;
  variants[4].rules.opacity = 100;
  variants[5].rules.full[1] = 0;
  variants[5].rules.full[2] = 255;
  variants[5].rules.low[1] = 255;
  variants[6].rules.show_full_health = false;
  const json plain = one_frame_of_the_demo();
  const run without = hostsim("settings-none", plain);
  ASSERT_EQ(without.exit_code, 0) << without.error;
  const std::size_t all = expect_ring_geometry(without, plain, ring_rules{});
  for (const variant& v : variants) {
    json scene = plain;
    scene["ini"] = v.ini;
    const run r = hostsim(std::string("settings-") + v.name, scene);
    ASSERT_EQ(r.exit_code, 0) << v.name << ": " << r.error;
    SCOPED_TRACE(v.name);
    const std::size_t ringed = expect_ring_geometry(r, scene, v.rules);
    if (std::string(v.name) == "range" || std::string(v.name) == "height" || std::string(v.name) == "full-health") {
      EXPECT_LT(ringed, all);
    } else {
      EXPECT_EQ(ringed, all);
    }
    EXPECT_EQ(r.log_lines().at(1), "settings: " + std::string(v.name == std::string("defaults") ? "9" : v.name == std::string("colours") ? "2" : "1") +
                                       " values read from MorvaHealthRing.ini");
  }
  json hidden = plain;
  hidden["ini"] = "[Rings]\nEnabled=0\n";
  const run off = hostsim("settings-disabled", hidden);
  ASSERT_EQ(off.exit_code, 0) << off.error;
  EXPECT_TRUE(off.calls("RwRenderStateSet").empty());
  EXPECT_TRUE(off.calls("RwIm3DTransform").empty());
}

// F7 through the keyboard: pressed before frame 100 and held for 20 frames,
// pressed again before frame 300: no ring calls in frames 100 to 299.
TEST_F(WinePluginTest, ToggleKeyThroughTheKeyboardHidesAndShowsTheRings) {
  const run r = hostsim("toggle", {{"peds", one_ped},
                                   {"ini", "[Rings]\nToggleKey=F7\n"},
                                   {"key_presses", {{{"frame", 100}, {"key", "F7"}, {"frames", 20}},
                                                    {{"frame", 300}, {"key", "F7"}}}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  std::vector<int> frames;
  for (const json& c : r.calls("RwIm3DEnd")) {
    if (frames.empty() || frames.back() != c["frame"]) frames.push_back(c["frame"]);
  }
  ASSERT_EQ(frames.size(), 400u);
  EXPECT_EQ(frames[98], 99);
  EXPECT_EQ(frames[99], 300);
  const lines log = r.log_lines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "rings hidden (toggle key)"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "rings shown (toggle key)"), 1);
  EXPECT_EQ(log.back(), "frame 600: loaded=1 peds_in_range=400 rings_drawn=400 projection_failed=0 (counts since last line)");
}

// One frame's accepted fans, with the texture each was drawn with.
struct traced_fan {
  std::string texture;
  json vertices;
};
std::vector<traced_fan> fans_of_frame(const run& r, int frame) {
  std::vector<traced_fan> fans;
  for (const json& d : r.discs()) {
    if (d["frame"] == frame) fans.push_back({d["texture"], d["vertices"]});
  }
  return fans;
}
// The fans whose centre lies under (x, y), in order.
std::vector<traced_fan> fans_at(const std::vector<traced_fan>& fans, float x, float y) {
  std::vector<traced_fan> out;
  for (const traced_fan& f : fans) {
    if (float(f.vertices[0][0]) == x && float(f.vertices[0][1]) == y) out.push_back(f);
  }
  return out;
}
bool same_fan(const traced_fan& got, const test::reference_fan& expected) {
  if (got.vertices.size() != expected.vertices.size()) return false;
  for (std::size_t i = 0; i < expected.vertices.size(); ++i) {
    const json& v = got.vertices[i];
    const host::RwIm3DVertex& e = expected.vertices[i];
    if (float(v[0]) != e.x || float(v[1]) != e.y || float(v[2]) != e.z || std::uint32_t(v[3]) != e.colour ||
        float(v[4]) != e.u || float(v[5]) != e.v) {
      return false;
    }
  }
  return true;
}

// The player's overlays, each on its own, over 80 frames in which two
// pedestrians are hit, one slot is given to a newcomer and the game's clock
// pauses: every fan as the rules say, worked out here from the scene; with
// every new key at its default, or the release's file, nothing changes.
TEST_F(WinePluginTest, OverlaysDrawAsTheyShouldAndAtTheirDefaultsChangeNothing) {
  const json scene = {
      {"peds",
       {{{"slot", 1}, {"position", {3, 0, 0}}, {"armour", 50}},
        {{"slot", 2}, {"position", {0, 3, 0}}, {"health", 80}, {"armour", 150}},
        {{"slot", 3}, {"position", {22, 0, 0}}},
        {{"slot", 4}, {"position", {0, -4, 0}}, {"health", 90}}}},
      {"health_changes", {{{"frame", 5}, {"slot", 1}, {"health", 60}}, {{"frame", 6}, {"slot", 4}, {"health", 40}},
                          {{"frame", 8}, {"slot", 4}, {"health", 100}}}},
      {"respawn", {{{"frame", 8}, {"slot", 4}}}},
      {"clock", {{"start_ms", 1000}, {"ms_per_frame", 33}, {"paused", {{10, 14}}}}},
      {"events", {"start_up", "draw*80"}}};
  // The clock as the scenario sets it, and the time since a frame.
  const auto clock = [](int frame) {
    std::uint32_t ms = 1000;
    for (int f = 2; f <= frame; ++f) ms += (f >= 10 && f <= 14) ? 0 : 33;
    return ms;
  };
  const float heading = test::reference_heading(0.0f, 1.0f);
  const auto centre = [](float x, float y) { return std::array<float, 3>{x, y, 0.0f - 0.90999997f}; };
  const auto run_with = [&](const std::string& name, const std::string& ini) {
    json s = scene;
    if (!ini.empty()) s["ini"] = ini;
    run r = hostsim("overlays-" + name, s);
    EXPECT_EQ(r.exit_code, 0) << name << ": " << r.error;
    return r;
  };

  const run plain = run_with("none", "");
  std::ifstream shipped(SHIPPED_INI);
  const run release = run_with("release", std::string(std::istreambuf_iterator<char>(shipped), std::istreambuf_iterator<char>()));
  const run defaults = run_with("defaults", "[Rings]\nShowArmour=0\nArmourColour=220,220,220\nShowRecentDamage=0\n"
                                            "RecentDamageColour=255,255,255\nFadeDistance=0\nShowAfterDamage=0\n");
  // The same but for the run's own folder, which the paths name.
  const auto as_plain = [&](const run& r, std::string text) {
    const std::string own = r.out.filename().string(), theirs = plain.out.filename().string();
    for (std::size_t at; (at = text.find(own)) != std::string::npos;) text.replace(at, own.size(), theirs);
    return text;
  };
  for (const run* r : {&release, &defaults}) {
    EXPECT_EQ(as_plain(*r, read(r->out / "trace.jsonl")), read(plain.out / "trace.jsonl"));
    std::string log = r->log();
    const std::size_t settings = log.find("\r\nsettings: ");
    ASSERT_NE(settings, std::string::npos);
    log.erase(settings, log.find("\r\n", settings + 2) - settings);
    EXPECT_EQ(as_plain(*r, log), plain.log());
  }

  const run armour = run_with("armour", "[Rings]\nShowArmour=1\n");
  const lines armour_log = armour.log_lines();
  EXPECT_EQ(std::count(armour_log.begin(), armour_log.end(), "  hpar -> found"), 1);
  for (int f = 1; f <= 80; ++f) {
    const std::vector<traced_fan> fans = fans_of_frame(armour, f);
    for (const auto& [x, y, fraction] : {std::tuple{3.0f, 0.0f, 0.5f}, std::tuple{0.0f, 3.0f, 1.0f}}) {
      const std::vector<traced_fan> own = fans_at(fans, x, y);
      ASSERT_EQ(own.size(), 3u) << "frame " << f;
      EXPECT_EQ(own[2].texture, "hpar");
      EXPECT_TRUE(same_fan(own[2], test::reference_ring_fan(centre(x, y).data(), heading, fraction, 0xFFDCDCDCu, 1.3f)))
          << "frame " << f << " armour at " << x << "," << y;
    }
    EXPECT_EQ(fans_at(fans, 22.0f, 0.0f).size(), 2u);  // no armour, no arc
  }

  const run damage = run_with("recent-damage", "[Rings]\nShowRecentDamage=1\n");
  for (int f = 1; f <= 80; ++f) {
    const std::vector<traced_fan> hit = fans_at(fans_of_frame(damage, f), 3.0f, 0.0f);
    const std::uint32_t since = clock(f) - clock(5);
    float trail = 0.0f;
    if (f >= 5 && since < 500) trail = 1.0f;
    if (f >= 5 && since >= 500 && since < 1000) trail = 1.0f + (0.6f - 1.0f) * (float(since - 500) / 500.0f);
    if (trail > 0.6f) {
      ASSERT_EQ(hit.size(), 3u) << "frame " << f;
      EXPECT_EQ(hit[1].texture, "hpfg");
      EXPECT_TRUE(same_fan(hit[1], test::reference_ring_fan(centre(3, 0).data(), heading, trail, 0xFFFFFFFFu)))
          << "frame " << f << " trail " << trail;
    } else {
      EXPECT_EQ(hit.size(), 2u) << "frame " << f;
    }
    // Slot 4 was hit at frame 6, then given to a newcomer at frame 8.
    EXPECT_EQ(fans_at(fans_of_frame(damage, f), 0.0f, -4.0f).size(), f == 6 || f == 7 ? 3u : 2u) << "frame " << f;
  }

  const run fade = run_with("fade", "[Rings]\nFadeDistance=5\n");
  const std::vector<traced_fan> faded = fans_of_frame(fade, 1);
  const std::uint32_t far_alpha = std::uint32_t(std::int32_t(255.0f * ((25.0f - 22.0f) / 5.0f)));
  ASSERT_EQ(fans_at(faded, 22.0f, 0.0f).size(), 2u);
  EXPECT_EQ(std::uint32_t(fans_at(faded, 22.0f, 0.0f)[0].vertices[0][3]) >> 24, far_alpha);
  EXPECT_EQ(std::uint32_t(fans_at(faded, 3.0f, 0.0f)[0].vertices[0][3]) >> 24, 255u);

  const run after = run_with("after-damage", "[Rings]\nShowAfterDamage=2\n");
  for (int f = 1; f <= 80; ++f) {
    const std::vector<traced_fan> fans = fans_of_frame(after, f);
    const std::uint32_t since = clock(f) - clock(5);
    const bool shown = f >= 5 && since < 2000;
    const std::vector<traced_fan> hit = fans_at(fans, 3.0f, 0.0f);
    ASSERT_EQ(hit.size(), shown ? 2u : 0u) << "frame " << f;
    if (shown) {
      const std::uint32_t left = 2000 - since;
      const float weight = left < 500 ? float(left) / 500.0f : 1.0f;
      EXPECT_EQ(std::uint32_t(hit[0].vertices[0][3]) >> 24, std::uint32_t(std::int32_t(255.0f * weight))) << "frame " << f;
    }
    EXPECT_TRUE(fans_at(fans, 0.0f, 3.0f).empty());  // never hit
    EXPECT_EQ(fans_at(fans, 0.0f, -4.0f).size(), f == 6 || f == 7 ? 2u : 0u) << "frame " << f;
  }

  // Every overlay at once: a batch per pass, four at most, in a frame.
  const run every = run_with("every", "[Rings]\nShowArmour=1\nShowRecentDamage=1\nFadeDistance=5\n");
  std::vector<int> batches(81, 0);
  for (const json& c : every.calls("RwIm3DTransform")) batches.at(c["frame"].get<int>())++;
  EXPECT_EQ(*std::max_element(batches.begin(), batches.end()), 4);
  EXPECT_EQ(batches[1], 3);  // nobody hit yet
}

// Nobody qualifies (the one pedestrian sits in a car): the run and its view
// succeed, the picture shows the world, view.json lists no ring, and one
// line says that the plugin drew none.

}  // namespace
