// The viewer of traces, under Wine's 64-bit side.
#include <gtest/gtest.h>

#include <cmath>

#include "png/png_io.h"
#include "sim/scenario.h"
#include "tests/e2e/wine_run.h"
#include "tools/view/camera.h"

namespace {

using namespace e2e;

// The viewer needs Wine's 64-bit side and a display; where either is
// missing, scripts/view exits 77 with the reason and these tests skip.
class WineViewTest : public WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped()) return;
    if (!fs::exists("/usr/lib/wine/wine64")) GTEST_SKIP() << "64-bit Wine (/usr/lib/wine/wine64) is not installed";
  }
};

// Runs scripts/view; its exit code, and what it said.
int view(const fs::path& scenario, const fs::path& out, const std::string& options, std::string* said) {
  const fs::path log = out / "view-stderr.txt";
  const std::string command = std::string(VIEW_SCRIPT) + " " + options + " '" + scenario.string() + "' '" + out.string() +
                              "' >/dev/null 2>'" + log.string() + "'";
  const int status = std::system(command.c_str());
  if (said) *said = read(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct seen {
  run r;
  sim::scenario scene;
  view::camera cam;
  png::image with, without;
  json rings;
  std::uint8_t* at(png::image& i, int x, int y) { return &i.rgba[(static_cast<std::size_t>(y) * i.width + x) * 4]; }
  bool differs(int x, int y) {
    const std::uint8_t *a = at(with, x, y), *b = at(without, x, y);
    return a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
  }
  json ring_of(int slot) const {
    for (const json& ring : rings["rings"]) {
      if (ring["slot"] == slot) return ring;
    }
    return nullptr;
  }
  // Calls check(x, y) for every pixel within radius of the world point's picture.
  template <class Check>
  void around(sim::vec3 world, float radius, Check check) {
    float cx = 0, cy = 0;
    if (!view::project(cam, world, &cx, &cy)) return;
    for (int y = std::max(0, int(cy - radius)); y <= std::min(view::picture_height - 1, int(cy + radius)); ++y) {
      for (int x = std::max(0, int(cx - radius)); x <= std::min(view::picture_width - 1, int(cx + radius)); ++x) {
        if (std::hypot(x - cx, y - cy) <= radius) check(x, y, x - cx, y - cy);
      }
    }
  }
};

// The scene rendered as the plugin drew it and without its calls: the
// pixels that differ are the rings.
seen see(const std::string& name, const json& scenario) {
  seen s;
  s.r = hostsim(name, scenario);
  EXPECT_EQ(s.r.exit_code, 0) << s.r.error;
  const fs::path file = s.r.out / "scenario.json";
  std::string said;
  EXPECT_EQ(view(file, s.r.out, "", &said), 0) << said;
  EXPECT_EQ(view(file, s.r.out, "--world-only --out '" + (s.r.out / "world").string() + "'", &said), 0) << said;
  std::string error;
  EXPECT_TRUE(png::load((s.r.out / "view.png").string(), &s.with, &error)) << error;
  EXPECT_TRUE(png::load((s.r.out / "world" / "view.png").string(), &s.without, &error)) << error;
  s.rings = json::parse(read(s.r.out / "view.json"));
  s.scene = sim::parse_scenario(scenario.dump()).value;
  s.cam = view::camera_for(s.scene);
  return s;
}

TEST_F(WineViewTest, RingsShowAsDrawnBehindWallsAndFiguresAndNotWhereRefused) {
  const json scenario = {
      {"player", {{"position", {0, 0, 1}}}},
      {"camera_forward", {0, 1}},
      {"walls", {{{"min", {-2.5, 10, 0}}, {"max", {2.5, 10.5, 4}}}}},
      {"peds",
       {{{"slot", 1}, {"position", {-3.5, 5, 1}}},                        // full health, in the open
        {{"slot", 2}, {"position", {3.5, 6, 1}}, {"health", 25}},          // a quarter
        {{"slot", 3}, {"position", {0, 14, 1}}},                          // behind the wall
        {{"slot", 4}, {"position", {-1.5, 9, 1}}},                        // behind the figure of 5
        {{"slot", 5}, {"position", {-1.22, 6, 1}}, {"health", 60}}}},
      {"events", {"start_up", "draw*2"}}};
  seen s = see("view-scene", scenario);
  ASSERT_FALSE(HasFailure());

  // In the open, at full health: the ring's pixels differ, and are green.
  const json a = s.ring_of(1);
  ASSERT_TRUE(a.is_object());
  int differing = 0, green = 0;
  s.around({-3.5f, 5.0f, 0.09f}, float(a["radius_px"]), [&](int x, int y, float, float) {
    if (!s.differs(x, y)) return;
    ++differing;
    const std::uint8_t* p = s.at(s.with, x, y);
    green += p[1] > p[0] && p[1] > p[2] ? 1 : 0;
  });
  EXPECT_GT(differing, 100);
  EXPECT_GE(green, differing * 9 / 10);

  // A quarter of health: the red arc lies between the ring's far point and
  // its right-hand point, clockwise from the camera's direction.
  const json b = s.ring_of(2);
  ASSERT_TRUE(b.is_object());
  float cx, cy, fx, fy, rx, ry;
  ASSERT_TRUE(view::project(s.cam, {3.5f, 6.0f, 0.09f}, &cx, &cy));
  ASSERT_TRUE(view::project(s.cam, {3.5f, 7.0f, 0.09f}, &fx, &fy));
  ASSERT_TRUE(view::project(s.cam, {4.5f, 6.0f, 0.09f}, &rx, &ry));
  const float far_x = fx - cx, far_y = fy - cy, right_x = rx - cx, right_y = ry - cy;
  const float turn = far_x * right_y - far_y * right_x;
  int red = 0, in_quarter = 0;
  s.around({3.5f, 6.0f, 0.09f}, float(b["radius_px"]), [&](int x, int y, float dx, float dy) {
    const std::uint8_t* p = s.at(s.with, x, y);
    if (!s.differs(x, y) || !(p[0] > p[1] + 40 && p[0] > p[2] + 40)) return;
    ++red;
    const bool after_far = (far_x * dy - far_y * dx) * turn >= 0.0f;
    const bool before_right = (dx * right_y - dy * right_x) * turn >= 0.0f;
    in_quarter += after_far && before_right ? 1 : 0;
  });
  EXPECT_GT(red, 20);
  EXPECT_GE(in_quarter, red * 9 / 10);

  // Behind the wall: not one pixel of its ring shows.
  const json c = s.ring_of(3);
  ASSERT_TRUE(c.is_object());
  int through_wall = 0;
  s.around({0.0f, 14.0f, 0.09f}, float(c["radius_px"]) + 2.0f, [&](int x, int y, float, float) { through_wall += s.differs(x, y); });
  EXPECT_EQ(through_wall, 0);

  // The figure of slot 5 stands in front of slot 4's ring: its body above its
  // own ring keeps every pixel, while the ring shows around it.
  float left, top, right, bottom, unused;
  ASSERT_TRUE(view::project(s.cam, {-1.47f, 6.0f, 1.75f}, &left, &top));
  ASSERT_TRUE(view::project(s.cam, {-0.97f, 6.0f, 0.6f}, &right, &bottom));
  const json d = s.ring_of(4);
  ASSERT_TRUE(d.is_object());
  int covered = 0, changed = 0, ring_around = 0;
  s.around({-1.5f, 9.0f, 0.09f}, float(d["radius_px"]), [&](int x, int y, float, float) {
    const bool body = x > left + 2 && x < right - 2 && y > top + 2 && y < bottom - 2;
    covered += body;
    changed += body && s.differs(x, y);
    ring_around += !body && s.differs(x, y);
  });
  (void)unused;
  EXPECT_GT(covered, 50);
  EXPECT_EQ(changed, 0);
  EXPECT_GT(ring_around, 50);

  EXPECT_EQ(s.rings["rings"].size(), 5u);
  EXPECT_EQ(s.rings["frame"], 2);

  // The renderer refused the batch holding slot 6's ring, and with it slot
  // 1's: none there, and none in view.json.
  json refusing = scenario;
  refusing["peds"] = {{{"slot", 1}, {"position", {-3.5, 5, 1}}},
                      {{"slot", 6}, {"position", {4, 1.5, 1}}, {"reject_transform", true}}};
  seen t = see("view-refused", refusing);
  ASSERT_FALSE(HasFailure());
  EXPECT_TRUE(t.ring_of(1).is_null());
  EXPECT_TRUE(t.ring_of(6).is_null());
  int refused = 0;
  for (const sim::vec3 at : {sim::vec3{4.0f, 1.5f, 0.09f}, sim::vec3{-3.5f, 5.0f, 0.09f}}) {
    t.around(at, 30.0f, [&](int x, int y, float, float) { refused += t.differs(x, y); });
  }
  EXPECT_EQ(refused, 0);
  EXPECT_TRUE(t.rings["rings"].empty());
}

TEST_F(WineViewTest, ViewerRefusesWhatItCannotReplayAndWritesNothing) {
  const run r = hostsim("view-refusals", {{"peds", one_ped}, {"events", {"start_up", "draw"}}});
  ASSERT_EQ(r.exit_code, 0) << r.error;
  const fs::path scenario = r.out / "scenario.json";
  const std::string trace = read(r.out / "trace.jsonl");
  const auto refused = [&](const std::string& name, const std::string& text, const std::string& expected) {
    const fs::path out = runs_root() / name;
    fs::create_directories(out);
    if (!text.empty()) std::ofstream(out / "trace.jsonl", std::ios::binary) << text;
    std::string said;
    EXPECT_EQ(view(scenario, out, "", &said), 2) << name;
    EXPECT_NE(said.find(expected), std::string::npos) << name << ": " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << name << ": " << said;
    EXPECT_FALSE(fs::exists(out / "view.png")) << name;
    EXPECT_FALSE(fs::exists(out / "view.json")) << name;
  };
  refused("view-missing", "", "cannot be read");
  refused("view-cut", trace.substr(0, trace.size() - 10), "the trace is cut");
  refused("view-bad-line", trace + "{\"frame\": 9, \"call\"\n", "is not JSON");
  std::string no_drawing;
  for (std::size_t at = 0; at < trace.size();) {
    const std::size_t end = trace.find('\n', at) + 1;
    const std::string line = trace.substr(at, end - at);
    if (line.find("RwIm3DTransform") == std::string::npos) no_drawing += line;
    at = end;
  }
  {
    // A trace in which nothing is drawn is rendered all the same.
    const fs::path out = runs_root() / "view-no-drawing";
    fs::create_directories(out);
    std::ofstream(out / "trace.jsonl", std::ios::binary) << no_drawing;
    std::string said;
    EXPECT_EQ(view(scenario, out, "", &said), 0) << said;
    EXPECT_TRUE(fs::exists(out / "view.png"));
    EXPECT_EQ(json::parse(read(out / "view.json"))["rings"], json::array());
    // A frame the trace does not reach is refused.
    EXPECT_EQ(view(scenario, out, "--frame 99 --out '" + (out / "99").string() + "'", &said), 2);
    EXPECT_NE(said.find("frame 99 is not in the trace, which ends at frame 1"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out / "99" / "view.png"));
  }
  const fs::path not_a_dictionary = runs_root() / "not-a-dictionary.txd";
  std::ofstream(not_a_dictionary) << "not a texture dictionary";
  std::string elsewhere = trace;
  const std::string path = r.windows_path("scripts/DEVIZAR.txd");
  std::string escaped;
  for (char ch : path) escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
  std::string replacement = "Z:" + not_a_dictionary.string();
  std::replace(replacement.begin(), replacement.end(), '/', '\\');
  std::string replacement_escaped;
  for (char ch : replacement) replacement_escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
  for (std::size_t at; (at = elsewhere.find(escaped)) != std::string::npos;) elsewhere.replace(at, escaped.size(), replacement_escaped);
  refused("view-bad-dictionary", elsewhere, "cannot be read");
}

TEST_F(WineViewTest, SceneWhereNobodyHasARingIsStillAPicture) {
  const fs::path out = runs_root() / "nobody";
  fs::create_directories(out);
  const json scenario = {{"peds", {{{"slot", 3}, {"position", {2, 3, 0}}, {"in_vehicle", true}}}},
                         {"events", {"start_up", "draw*2"}},
                         {"view", true}};
  std::ofstream(out / "scenario.json") << scenario.dump();
  const std::string command = std::string(HOSTSIM_SCRIPT) + " '" + (out / "scenario.json").string() + "' '" +
                              (out / "run").string() + "' >'" + (out / "said.txt").string() + "' 2>&1";
  const int status = std::system(command.c_str());
  const std::string said = read(out / "said.txt");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
  EXPECT_EQ(count_of(said, "viewer: the plugin drew no ring in frame 2"), 1u) << said;
  const json rings = json::parse(read(out / "run" / "view.json"));
  EXPECT_EQ(rings["frame"], 2);
  EXPECT_EQ(rings["rings"], json::array());
  png::image picture;
  std::string error;
  ASSERT_TRUE(png::load((out / "run" / "view.png").string(), &picture, &error)) << error;
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_NE(std::count(picture.rgba.begin(), picture.rgba.end(), picture.rgba[0]),
            static_cast<std::ptrdiff_t>(picture.rgba.size()));  // the world, not a blank
}

// Two rings straight ahead, one 3 units above the other at a distance of 10:
// where view.json puts them on a 1280 x 720 picture gives the camera's
// vertical field of view, the game's 70 degrees across 4:3.
TEST_F(WineViewTest, CameraSeesAsTheGameDoesFiftyFiveDegreesFromTopToBottom) {
  const json scenario = {{"camera_position", {0, 0, 0}},
                         {"camera_target", {0, 10, 0}},
                         {"peds", {{{"slot", 1}, {"position", {0, 10, 0.91}}}, {{"slot", 2}, {"position", {0, 10, 3.91}}}}},
                         {"events", {"start_up", "draw"}}};
  const run r = hostsim("field-of-view", scenario);
  ASSERT_EQ(r.exit_code, 0) << r.error;
  std::string said;
  ASSERT_EQ(view(r.out / "scenario.json", r.out, "", &said), 0) << said;
  const json rings = json::parse(read(r.out / "view.json"));
  double low = 0, high = 0;
  for (const json& ring : rings["rings"]) (ring["slot"] == 1 ? low : high) = ring["screen"][1].get<double>();
  ASSERT_NEAR(low, 360.0, 0.5);
  const double degrees = 2.0 * std::atan((3.0 / 10.0) / ((low - high) / 360.0)) * 180.0 / 3.14159265358979;
  EXPECT_NEAR(degrees, 55.4, 0.1);
}

}  // namespace
