// The shipped plugin file, loaded by hostsim.exe under Wine.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/reference_ring.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using lines = std::vector<std::string>;

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct run {
  int exit_code = -1;
  std::string error;  // what hostsim wrote to stderr
  fs::path out;
  fs::path game;
  std::vector<json> trace;
  json summary;

  fs::path log_file() const { return game / "scripts" / "MorvaHealthRing.log"; }
  bool has_log() const { return fs::exists(log_file()); }
  std::string log() const { return read(log_file()); }
  lines log_lines() const {
    lines out;
    std::string text = log();
    std::size_t begin = 0, end;
    while ((end = text.find("\r\n", begin)) != std::string::npos) {
      out.push_back(text.substr(begin, end - begin));
      begin = end + 2;
    }
    return out;
  }
  std::vector<json> calls(const std::string& name) const {
    std::vector<json> out;
    for (const json& j : trace) {
      if (j["call"] == name) out.push_back(j);
    }
    return out;
  }
  // The game's folder as the plugin sees it under Wine.
  std::string windows_path(const std::string& relative) const {
    std::string p = "Z:" + (game / relative).string();
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
  }
};

// The runs' folders stay behind only when a test failed, to be looked at.
const fs::path& runs_root() {
  static const fs::path root = [] {
    char pattern[] = "/tmp/morva-wine-XXXXXX";
    return fs::path(mkdtemp(pattern));
  }();
  return root;
}

class keep_runs_of_failures : public ::testing::Environment {
  void TearDown() override {
    std::error_code ignored;
    if (::testing::UnitTest::GetInstance()->Passed()) {
      fs::remove_all(runs_root(), ignored);
    } else {
      std::fprintf(stderr, "hostsim runs kept in %s\n", runs_root().c_str());
    }
  }
};
const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new keep_runs_of_failures);

run hostsim(const std::string& name, const json& scenario, const std::string& plugin = PLUGIN_ASI,
            const std::string& dictionary = RING_TXD) {
  const fs::path& root = runs_root();
  run r;
  r.out = root / name;
  r.game = r.out / "game";
  fs::create_directories(r.out);
  const fs::path scenario_file = r.out / "scenario.json";
  std::ofstream(scenario_file) << scenario.dump(2);
  for (const char* needed : {HOSTSIM_EXE, PLUGIN_ASI, RING_TXD}) {
    if (!fs::exists(needed)) {
      r.error = std::string(needed) + " is missing: build the win32 tree first (make test does)";
      return r;
    }
  }
  // A UTF-8 locale, so that Wine hands non-ASCII arguments on as they are.
  const auto quoted = [](const std::string& p) { return "'" + p + "'"; };
  const std::string command = "LC_ALL=C.UTF-8 " + std::string(WINE_RUN) + " " + HOSTSIM_EXE + " --plugin " +
                              quoted(plugin) + " --txd " + quoted(dictionary) + " --scenario " + quoted(scenario_file.string()) +
                              " --out " + quoted(r.out.string()) + " >" + quoted((r.out / "stdout.txt").string()) +
                              " 2>" + quoted((r.out / "stderr.txt").string());
  const int status = std::system(command.c_str());
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.error = read(r.out / "stderr.txt");
  std::ifstream trace(r.out / "trace.jsonl");
  for (std::string line; std::getline(trace, line);) r.trace.push_back(json::parse(line));
  if (fs::exists(r.out / "summary.json")) r.summary = json::parse(read(r.out / "summary.json"));
  return r;
}

// Where Windows programs cannot run, scripts/wine-run says why; the tests are
// then skipped with its words, not passed.
class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string reason = [] {
      const std::string check = std::string(WINE_RUN) + " --check 2>&1";
      std::string said;
      if (FILE* p = popen(check.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p)) said += buffer;
        const int status = pclose(p);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::string();
      }
      return said.empty() ? std::string("scripts/wine-run cannot run Windows programs here") : said;
    }();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }
};
class WinePluginTest : public WineTest {};
class WineHostsimTest : public WineTest {};

std::string candidate(const run& r, int k) {
  switch (k) {
    case 1: return r.windows_path("scripts/DEVIZAR.txd");
    case 2: return r.windows_path("scripts/") + "models\\txd\\DEVIZAR.txd";
    case 3: return "modloader\\Morva Health\\models\\txd\\DEVIZAR.txd";
    default: return "models\\txd\\DEVIZAR.txd";
  }
}

bool sites_restored(const run& r) {
  return !r.trace.empty() && r.trace.back()["call"] == "unload" && r.trace.back()["sites_restored"] == true &&
         r.trace.back()["protections_restored"] == true;
}

const json one_ped = {{{"slot", 3}, {"position", {2, 0, 0}}}};

TEST_F(WinePluginTest, TypicalStartWritesTheLogByteForByte) {
  const run r = hostsim("typical", {{"events", {"start_up", "draw*600", "shutdown"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const std::string expected = "MorvaHealthRing started\r\n"
                               "TXD loaded: " + candidate(r, 1) + "\r\n"
                               "  texture in TXD: 'hpbg'\r\n"
                               "  texture in TXD: 'hpfg'\r\n"
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
  }
}

TEST_F(WinePluginTest, NoDictionaryAnywhereFailsAllFourPlaces) {
  const run r = hostsim("none", {{"txd", "none"}, {"events", {"start_up"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.log_lines(), (lines{"MorvaHealthRing started", "TXD failed: " + candidate(r, 1),
                                  "TXD failed: " + candidate(r, 2), "TXD failed: " + candidate(r, 3),
                                  "TXD failed: " + candidate(r, 4)}));
  for (const json& c : r.calls("host_load_txd")) EXPECT_EQ(c["result"], "null");
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
  }
}

TEST_F(WinePluginTest, PluginInAFolderTheAnsiCodePageCannotNameStillWorks) {
  const run r = hostsim("Игры-ゲーム", {{"peds", one_ped}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const lines got = r.log_lines();
  ASSERT_GE(got.size(), 6u) << r.log();
  EXPECT_EQ(got[0], "MorvaHealthRing started");
  EXPECT_EQ(got[1].rfind("TXD loaded: ", 0), 0u) << got[1];
  EXPECT_NE(got[1].find('~'), std::string::npos) << "the short form of the folder: " << got[1];
  EXPECT_EQ(got[5], "  hpfg -> found");
  EXPECT_EQ(r.summary["rings_in_last_drawn_frame"], 1);
}

TEST_F(WineHostsimTest, WriteIntoTheGamesCodeWithoutOpeningItFaults) {
  const run r = hostsim("rogue-plugin", json::object(), ROGUE_PLUGIN);
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_NE(r.error.find("the game faulted: access violation writing 0x0053E293"), std::string::npos) << r.error;
}

TEST_F(WinePluginTest, MissingTexturesAreRetriedOnScheduleAndAShutdownStopsTheRings) {
  const run r = hostsim("retry", {{"txd", "none"}, {"events", {"start_up", "draw*1201"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  std::vector<int> frames;
  for (const json& c : r.calls("host_load_txd")) {
    if (c["path"] == candidate(r, 1)) frames.push_back(c["frame"]);
  }
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 600, 1200}));

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

TEST_F(WinePluginTest, TwoPluginsBothDrawAndUnloadToTheOriginalBytes) {
  const run r = hostsim("two-plugins", {{"second_plugin", true},
                                        {"peds", {{{"slot", 3}, {"position", {2, 0, 0}}}}},
                                        {"events", {"start_up", "draw*2", "shutdown"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  int fans_in_frame_2 = 0;
  for (const json& c : r.calls("RwIm3DTransform")) fans_in_frame_2 += c["frame"] == 2 ? 1 : 0;
  EXPECT_EQ(fans_in_frame_2, 4);
  EXPECT_TRUE(sites_restored(r));
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

TEST_F(WinePluginTest, RecordedVerticesAgreeWithTheRingGeometry) {
  const json scene = json::parse(read(DEMO_SCENARIO));
  json one_frame = scene;
  one_frame["events"] = {"start_up", "draw"};
  const run r = hostsim("geometry", one_frame);
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const float fx = scene["camera_forward"][0], fy = scene["camera_forward"][1];
  const float heading = test::reference_heading(fx, fy);
  std::vector<json> fans = r.calls("RwIm3DTransform");
  std::size_t next = 0, checked = 0;
  const json& player = scene["player"]["position"];
  for (const json& p : scene["peds"]) {
    const float x = p["position"][0], y = p["position"][1], z = p["position"][2];
    const float dx = x - float(player[0]), dy = y - float(player[1]), dz = z - float(player[2]);
    const float d = float(std::sqrt(double((dy * dy + dx * dx) + dz * dz)));
    const float health = p.value("health", 100.0f), max_health = p.value("max_health", 100.0f);
    const bool ringed = health > 0 && !p.value("in_vehicle", false) && p.value("visible", true) && p.value("area", 0) == 0 &&
                        d <= 25.0f && std::fabs(dz) <= 6.0f;
    if (!ringed) continue;
    const float centre[3] = {x, y, z - 0.90999997f};
    float f = health / (max_health > 1.0f ? max_health : 100.0f);
    f = f > 1.0f ? 1.0f : (f < 0.0f ? 0.0f : f);
    for (const test::reference_fan& expected : {test::reference_ring_fan(centre, heading, 1.0f, 0xFFFFFFFFu),
                                                test::reference_ring_fan(centre, heading, f, test::reference_colour(f))}) {
      ASSERT_LT(next, fans.size());
      const json& got = fans[next++];
      ASSERT_EQ(got["count"], expected.vertices.size());
      for (std::size_t i = 0; i < expected.vertices.size(); ++i) {
        const json& v = got["vertices"][i];
        const host::RwIm3DVertex& e = expected.vertices[i];
        EXPECT_EQ(float(v[0]), e.x) << "ped slot " << p["slot"] << " vertex " << i;
        EXPECT_EQ(float(v[1]), e.y) << "ped slot " << p["slot"] << " vertex " << i;
        EXPECT_EQ(float(v[2]), e.z);
        EXPECT_EQ(std::uint32_t(v[3]), e.colour);
        EXPECT_EQ(float(v[4]), e.u) << "ped slot " << p["slot"] << " vertex " << i;
        EXPECT_EQ(float(v[5]), e.v) << "ped slot " << p["slot"] << " vertex " << i;
      }
    }
    ++checked;
  }
  EXPECT_EQ(next, fans.size());
  EXPECT_GE(checked, 8u);
}

TEST_F(WineHostsimTest, BadScenarioIsRefusedNamingTheField) {
  const run r = hostsim("bad-scenario", {{"peds", {{{"slot", 3}, {"position", {1, 2}}}}}});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.error.find("peds[0].position: expected a list of 3 numbers"), std::string::npos) << r.error;
  const run u = hostsim("unknown-key", {{"colour", "red"}});
  EXPECT_EQ(u.exit_code, 2);
  EXPECT_NE(u.error.find("colour: unknown key"), std::string::npos) << u.error;
}

TEST_F(WineHostsimTest, DictionaryTheGameCannotReadReachesThePluginAsNoDictionary) {
  const fs::path broken = runs_root() / "broken.txd";
  std::ofstream(broken) << "not a texture dictionary";
  const run r = hostsim("broken-txd", {{"events", {"start_up"}}}, PLUGIN_ASI, broken.string());
  ASSERT_EQ(r.exit_code, 0) << r.error;
  EXPECT_EQ(r.log_lines(), (lines{"MorvaHealthRing started", "TXD failed: " + candidate(r, 1),
                                  "TXD failed: " + candidate(r, 2), "TXD failed: " + candidate(r, 3),
                                  "TXD failed: " + candidate(r, 4)}));
}

TEST_F(WineHostsimTest, PluginThatCannotBeLoadedIsRefused) {
  const run r = hostsim("not-a-plugin", json::object(), DEMO_SCENARIO);  // a JSON file, not a DLL
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.error.find("cannot load scripts\\MorvaHealthRing.asi"), std::string::npos) << r.error;
}

}  // namespace
