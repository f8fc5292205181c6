#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "sim/os_linux.h"
#include "sim/scenario.h"
#include "sim/scenario_run.h"
#include "tests/support/native_run.h"
#include "tests/support/test_game.h"
#include "tests/support/who_model.h"

namespace {

using nlohmann::json;

class WhoTest : public test::OverlayTest {
 protected:
  std::vector<json> run(const json& scene_json) { return test::run_natively(scene_json); }
};

// Each key alone, frame by frame, against the rules modelled from the scene:
// hostile by attack, pursuit and hate, friend by group and respect, hostile
// winning, a bystander turning hostile at frame 5, the fight alone, the
// target at full health beyond the fade with rings only after damage, and
// each kind.
TEST_F(WhoTest, EachKeyAloneRingsWhomTheRulesSay) {
  const std::vector<test::who_settings> variants = test::who_variants();
  const json base = test::who_scene();
  for (const test::who_settings& v : variants) {
    json scene = base;
    scene["ini"] = v.ini();
    const std::vector<json> discs = test::discs_of_trace(run(scene));
    for (int frame = 1; frame <= 10; ++frame) {
      const auto expected = test::expected_rings(scene, v, frame);
      EXPECT_EQ(test::compare_rings(scene, discs, frame, expected), "") << v.ini();
    }
  }
}

// A multiplayer client loaded at frame 100 is found at frame 600: rings until
// then, none after, one line; allowed, rings throughout. The pair of another
// client counts only together.
TEST_F(WhoTest, MultiplayerClientTurnsTheRingsOffUnlessAllowed) {
  for (const char* variant : {"samp.dll", "pair", "core.dll alone", "allowed"}) {
    json scene = {{"peds", {{{"slot", 3}, {"position", {2, 0, 1}}}}}, {"events", {"start_up", "draw*700"}}};
    if (std::string(variant) == "pair") {
      scene["modules"] = {{{"frame", 100}, {"name", "Core.dll"}}, {{"frame", 300}, {"name", "multiplayer_sa.dll"}}};
    } else {
      scene["modules"] = {{{"frame", 100}, {"name", std::string(variant) == "core.dll alone" ? "core.dll" : "samp.dll"}}};
    }
    if (std::string(variant) == "allowed") scene["ini"] = "[Rings]\nAllowInMultiplayer=1\n";
    const std::vector<json> trace = run(scene);
    std::vector<int> drawn(701, 0);
    for (const json& j : trace) {
      if (j["call"] == "RwIm3DTransform") drawn.at(j["frame"].get<int>())++;
    }
    const bool off = std::string(variant) == "samp.dll" || std::string(variant) == "pair";
    for (int f = 1; f <= 700; ++f) ASSERT_EQ(drawn[f], off && f >= 600 ? 0 : 2) << variant << " frame " << f;
    const std::vector<std::string> log = test::log_lines();
    const std::string said = std::string("multiplayer client loaded (") +
                             (std::string(variant) == "pair" ? "core.dll and multiplayer_sa.dll" : "samp.dll") +
                             "): rings off; AllowInMultiplayer=1 turns them on where the server allows it";
    EXPECT_EQ(std::count(log.begin(), log.end(), said), off ? 1 : 0) << variant;
  }
}

}  // namespace
