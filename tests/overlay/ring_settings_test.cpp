#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "overlay/ring_settings.h"
#include "sim/os_linux.h"
#include "tests/support/reference_ring.h"
#include "tests/support/test_game.h"

namespace {

using sim::call_kind;
using test::txd_place;
using lines = std::vector<std::string>;

constexpr const char* every_default =
    "\xEF\xBB\xBF; every key at its default\r\n[Rings]\r\nEnabled=1\r\nToggleKey=\r\nRange=25.0\r\nHeightRange=6\r\n"
    "Radius=1\r\n# colours\r\nOpacity=255\r\nFullHealthColour=0,255,0\r\nLowHealthColour=255, 0, 0\r\nShowFullHealth=1\r\n"
    "ShowArmour=0\r\nArmourColour=220,220,220\r\nShowRecentDamage=0\r\nRecentDamageColour=255,255,255\r\n"
    "FadeDistance=0\r\nShowAfterDamage=0\r\nShowWithoutHud=0\r\nShowRelationship=0\r\nHostileColour=230,40,40\r\n"
    "FriendColour=60,140,255\r\nOnlyInFight=0\r\nMarkTarget=0\r\nShowKinds= ALL \r\nAllowInMultiplayer=0\r\n";

class RingSettingsTest : public test::OverlayTest {
 protected:
  std::string ini_path() { return test::game_dir().scripts + "MorvaHealthRing.ini"; }
  void write_ini(const std::string& text) {
    std::FILE* f = std::fopen(ini_path().c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  void TearDown() override {
    std::remove(ini_path().c_str());
    os::linux_host::set_key_down(0x76, false);
    os::linux_host::set_foreground_is_ours(true);
  }
  // A scene of every kind of pedestrian: full, half and low health, near and
  // far, above and below, one refused by the renderer.
  void scene() {
    test::write_ring_txd(txd_place::beside_plugin);
    test::add_ped(1, {2.0f, 0.0f, 0.0f});
    test::add_ped(2, {0.0f, 9.0f, 0.5f});
    sim::ped_setup half{3, {-5.0f, 3.0f, -1.0f}, 50.0f};
    world.add_ped(half);
    sim::ped_setup low{4, {14.0f, -14.0f, 3.0f}, 12.0f, 200.0f};
    world.add_ped(low);
    sim::ped_setup far{5, {30.0f, 0.0f, 0.0f}, 80.0f};
    world.add_ped(far);
    sim::ped_setup high{6, {3.0f, 3.0f, 7.5f}, 80.0f};
    world.add_ped(high);
    test::add_ped(7, {-3.0f, -3.0f, 0.0f}, true);
    world.set_camera_forward(0.6f, 0.8f);
  }
  struct run {
    std::vector<sim::host_call> calls;
    lines log;
  };
  run run_scene(int frames) {
    scene();
    world.start_up();
    for (int i = 0; i < frames; ++i) world.draw();
    return {world.calls, test::log_lines()};
  }
  std::vector<sim::host_call> fans() {
    std::vector<sim::host_call> out;
    for (const sim::host_call& c : world.calls_of(call_kind::im3d_transform)) {
      if (c.ok) out.push_back(c);
    }
    return out;
  }
};

bool same_calls(const std::vector<sim::host_call>& a, const std::vector<sim::host_call>& b) {
  if (a.size() != b.size()) {
    ADD_FAILURE() << a.size() << " calls against " << b.size();
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const sim::host_call& x = a[i];
    const sim::host_call& y = b[i];
    // A raster is named by its texture: each run loads the dictionary anew.
    const bool raster = x.state == host::rwRENDERSTATETEXTURERASTER;
    if (x.kind != y.kind || x.frame != y.frame || x.path != y.path || x.ok != y.ok || x.state != y.state ||
        (!raster && x.value != y.value) || x.texture != y.texture || x.type != y.type || x.flags != y.flags ||
        x.vertices.size() != y.vertices.size() ||
        !std::equal(x.vertices.begin(), x.vertices.end(), y.vertices.begin(), test::same_vertex)) {
      ADD_FAILURE() << "call " << i << " differs: kind " << int(x.kind) << "/" << int(y.kind) << " frame " << x.frame
                    << " state " << x.state << " value " << x.value << "/" << y.value << " vertices "
                    << x.vertices.size() << "/" << y.vertices.size();
      return false;
    }
  }
  return true;
}

// A player with no file sees exactly what the ring always drew; a file with
// every key at its default changes nothing but the one settings line.
TEST_F(RingSettingsTest, EveryKeyAtItsDefaultGivesTheSameCallsAndLogAsNoFile) {
  const run without = run_scene(600);
  ASSERT_FALSE(without.calls.empty());
  // Ours with a byte-order mark and CR LF, and the one a release ships.
  for (const std::string& text : {std::string(every_default), test::read_file(SHIPPED_INI)}) {
    test::reset_overlay();
    write_ini(text);
    const run with = run_scene(600);
    EXPECT_TRUE(same_calls(without.calls, with.calls));
    lines expected = without.log;
    expected.insert(expected.begin() + 1, "settings: 23 values read from MorvaHealthRing.ini");
    EXPECT_EQ(with.log, expected);
  }
}

// The release's file lists every key of the settings table, in its order,
// at its default, after its comment.
TEST(ReleaseSettingsFileTest, HoldsEveryKeyAtItsDefaultAfterItsComment) {
  std::istringstream file(test::read_file(SHIPPED_INI));
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
  std::vector<std::string> expected;
  for (const overlay::setting_key& key : overlay::setting_keys) {
    expected.push_back(std::string("; ") + key.comment);
    expected.push_back(std::string(key.name) + "=" + key.default_text);
  }
  const auto section = std::find(lines.begin(), lines.end(), "[Rings]");
  ASSERT_NE(section, lines.end());
  EXPECT_EQ(std::vector<std::string>(section + 1, lines.end()), expected);
}

// Each key on its own, against values worked out by hand.
TEST_F(RingSettingsTest, EachKeyChangesTheRingsAsItSays) {
  test::write_ring_txd(txd_place::beside_plugin);
  const auto one_ped = [&](const std::string& ini, sim::ped_setup ped) {
    test::reset_overlay();
    write_ini("[Rings]\n" + ini + "\n");
    test::write_ring_txd(txd_place::beside_plugin);
    world.add_ped(ped);
    world.set_camera_forward(1.0f, 0.0f);  // heading 0: the first rim vertex lies along +x
    world.start_up();
    world.draw();
    return fans();
  };
  sim::ped_setup near{3, {4.0f, 0.0f, 0.0f}, 50.0f};
  sim::ped_setup at_eleven{3, {11.0f, 0.0f, 0.0f}, 50.0f};
  EXPECT_EQ(one_ped("Range=10", at_eleven).size(), 0u);
  EXPECT_EQ(one_ped("Range=12", at_eleven).size(), 2u);
  sim::ped_setup above{3, {1.0f, 0.0f, 2.0f}, 50.0f};
  EXPECT_EQ(one_ped("HeightRange=1.5", above).size(), 0u);
  EXPECT_EQ(one_ped("HeightRange=2", above).size(), 2u);

  std::vector<sim::host_call> f = one_ped("Radius=2.5", near);
  ASSERT_EQ(f.size(), 2u);
  for (const sim::host_call& fan : f) {
    EXPECT_FLOAT_EQ(fan.vertices[1].x - fan.vertices[0].x, 2.5f);
    EXPECT_NEAR(fan.vertices[1].y, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(fan.vertices[1].u, 0.5f);  // texture coordinates do not grow with the ring
    EXPECT_FLOAT_EQ(fan.vertices[1].v, 0.0f);
  }

  f = one_ped("Opacity=128", near);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].vertices[0].colour, 0x80FFFFFFu);
  EXPECT_EQ(f[1].vertices[0].colour, 0x807F7F00u);

  // Half health between blue and yellow: 127.5 truncated in every channel.
  f = one_ped("FullHealthColour=0,0,255\nLowHealthColour=255,255,0", near);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1].vertices[0].colour, 0xFF7F7F7Fu);

  sim::ped_setup full{3, {4.0f, 0.0f, 0.0f}, 100.0f};
  EXPECT_EQ(one_ped("ShowFullHealth=0", full).size(), 0u);
  EXPECT_EQ(state.peds_in_range, 0);
  EXPECT_EQ(one_ped("ShowFullHealth=0", near).size(), 2u);

  EXPECT_EQ(one_ped("Enabled=0", near).size(), 0u);
  EXPECT_TRUE(world.calls_of(call_kind::render_state_set).empty());
}

TEST_F(RingSettingsTest, MistakesAreNamedInTheLogAndTheirDefaultsKept) {
  const overlay::settings_result r = overlay::parse_settings(
      "x=1\n[Ring]\nRange=5\n[rings]\nRange=abc\nRnage=3\nHeightRange=0.1\nRadius=nan\nOpacity=255.5\n"
      "FullHealthColour=1,2\nLowHealthColour=0,0,256\nToggleKey=F13\nEnabled=2\nShowFullHealth=1\nShowFullHealth=0\n");
  EXPECT_EQ(r.lines, (lines{
                         "settings: 1 values read from MorvaHealthRing.ini",
                         "settings: key \"x\" outside the [Rings] section ignored",
                         "settings: unknown section [Ring] ignored",
                         "settings: Range = \"abc\" is not a number from 1 to 200; using 25",
                         "settings: unknown key \"Rnage\" ignored",
                         "settings: HeightRange = \"0.1\" is not a number from 0.5 to 50; using 6",
                         "settings: Radius = \"nan\" is not a number from 0.25 to 4; using 1",
                         "settings: Opacity = \"255.5\" is not a whole number from 0 to 255; using 255",
                         "settings: FullHealthColour = \"1,2\" is not three whole numbers from 0 to 255; using 0,255,0",
                         "settings: LowHealthColour = \"0,0,256\" is not three whole numbers from 0 to 255; using 255,0,0",
                         "settings: ToggleKey = \"F13\" is not a key (F1-F12, A-Z, 0-9, NumPad0-NumPad9, Insert, Delete, "
                         "Home, End, PageUp, PageDown) or a key code from 0x01 to 0xFE; using none",
                         "settings: Enabled = \"2\" is not 0 or 1; using 1",
                         "settings: ShowFullHealth is given 2 times; the last one counts",
                     }));
  const overlay::ring_settings defaults;
  EXPECT_EQ(r.values.range, defaults.range);
  EXPECT_EQ(r.values.radius, defaults.radius);
  EXPECT_FALSE(r.values.show_full_health);
  EXPECT_EQ(overlay::parse_settings("[Rings]\nToggleKey=numpad5\n").values.toggle_key, 0x65);
  EXPECT_EQ(overlay::parse_settings("[Rings]\nToggleKey=0x2d\n").values.toggle_key, 0x2D);
  EXPECT_EQ(overlay::parse_settings("[Rings]\nToggleKey=f7\n").values.toggle_key, 0x76);
  // The overlays' keys: FadeDistance is held to Range, whatever the order.
  const overlay::settings_result o = overlay::parse_settings(
      "[Rings]\nFadeDistance=30\nShowAfterDamage=61\nArmourColour=1,2,3\nShowArmour=yes\nRange=20\n");
  EXPECT_EQ(o.lines, (lines{
                         "settings: 2 values read from MorvaHealthRing.ini",
                         "settings: ShowAfterDamage = \"61\" is not a whole number of seconds from 0 to 60; using 0",
                         "settings: ShowArmour = \"yes\" is not 0 or 1; using 0",
                         "settings: FadeDistance = \"30\" is more than Range (20); using 0",
                     }));
  EXPECT_EQ(o.values.fade_distance, 0.0f);
  EXPECT_EQ(o.values.armour_colour[2], 3);
  EXPECT_FALSE(o.values.show_armour);
  // ShowKinds: names in any letter case with blanks around them, "all" among
  // them meaning all; an empty value or an unknown name keeps all.
  using overlay::ring_settings;
  EXPECT_EQ(overlay::parse_settings("[Rings]\nShowKinds=Police, gangs\n").values.show_kinds, (1u << 6) | (0x3FFu << 7));
  EXPECT_EQ(overlay::parse_settings("[Rings]\nShowKinds=mission,all\n").values.show_kinds, ring_settings::all_kinds);
  const overlay::settings_result k = overlay::parse_settings("[Rings]\nShowKinds=civilians,cops\n");
  EXPECT_EQ(k.values.show_kinds, ring_settings::all_kinds);
  EXPECT_EQ(k.lines.at(1), "settings: ShowKinds = \"civilians,cops\" is not names of civilians, gangs, police, emergency, "
                           "criminals, mission, players separated by commas, or all; using all");
  EXPECT_EQ(overlay::parse_settings("[Rings]\nShowKinds=\n").values.show_kinds, ring_settings::all_kinds);
  EXPECT_EQ(overlay::parse_settings("[Rings]\nShowKinds=police,\n").lines.size(), 2u);
}

// Files no player meant to write: the plugin starts, says so and draws.
TEST_F(RingSettingsTest, EmptyBinaryAndHugeFilesLeaveTheDefaultsAndTheRings) {
  const std::string huge = "[Rings]\r\nOpacity=100\r\n; " + std::string(70000, 'x') + "\r\nRange=5\r\n";
  const std::vector<std::pair<std::string, lines>> cases = {
      {"", {"settings: 0 values read from MorvaHealthRing.ini"}},
      {std::string("\x7F" "ELF\0\1\2[Rings]\nRange=3", 16),
       {"settings: MorvaHealthRing.ini could not be read (it is not a text file); using defaults"}},
      {huge,
       {"settings: 1 values read from MorvaHealthRing.ini",
        "settings: MorvaHealthRing.ini is larger than 64 KiB; only its first 64 KiB were read"}},
  };
  for (const auto& [text, expected] : cases) {
    test::reset_overlay();
    write_ini(text);
    test::write_ring_txd(txd_place::beside_plugin);
    test::add_ped(3, {2.0f, 0.0f, 0.0f});
    world.start_up();
    world.draw();
    const lines log = test::log_lines();
    ASSERT_GT(log.size(), expected.size());
    EXPECT_EQ(lines(log.begin() + 1, log.begin() + 1 + static_cast<std::ptrdiff_t>(expected.size())), expected);
    EXPECT_EQ(world.accepted_fans().size(), 2u);
    EXPECT_EQ(state.settings.range, 25.0f);
  }
}

// F7 pressed before frames 100 and 300 of 600: no ring from 100 to 299, one
// line per toggle; a key held for many frames toggles once; with another
// program's window in front nothing toggles.
TEST_F(RingSettingsTest, ToggleKeyHidesAndShowsTheRingsOncePerPress) {
  write_ini("[Rings]\nToggleKey=F7\n");
  scene();
  world.free_slot(7);  // its batch would be refused, and with it every ring
  world.start_up();
  std::vector<int> frames_with_rings;
  for (int frame = 1; frame <= 600; ++frame) {
    const bool down = (frame >= 100 && frame < 110) || frame == 300;
    os::linux_host::set_key_down(0x76, down);
    world.draw();
    if (!world.accepted_fans().empty() && world.accepted_fans().front().frame == frame) frames_with_rings.push_back(frame);
  }
  ASSERT_EQ(frames_with_rings.size(), 400u);
  EXPECT_EQ(frames_with_rings[98], 99);
  EXPECT_EQ(frames_with_rings[99], 300);
  for (const sim::host_call& c : world.calls) {
    if (c.frame >= 100 && c.frame < 300) {
      EXPECT_NE(c.kind, call_kind::render_state_set) << c.frame;
    }
  }
  const lines log = test::log_lines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "rings hidden (toggle key)"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "rings shown (toggle key)"), 1);
  EXPECT_EQ(log.back().rfind("frame 600: loaded=1 peds_in_range=", 0), 0u);

  os::linux_host::set_foreground_is_ours(false);
  os::linux_host::set_key_down(0x76, true);
  world.draw();
  os::linux_host::set_key_down(0x76, false);
  world.draw();
  EXPECT_FALSE(state.rings_hidden);
}

}  // namespace
