#include <gtest/gtest.h>

#include <string>

#include "tools/view/camera.h"
#include "tools/view/rings.h"
#include "sim/scenario.h"
#include "tools/view/trace_frame.h"

namespace {

const std::string loaded = R"({"frame":0,"call":"host_load_txd","path":"C:\\g\\DEVIZAR.txd","result":"ok"})" "\n";
std::string fan(int frame, const char* result, float x) {
  const std::string v = "[" + std::to_string(x) + ",6,0.09,4294967295,0.5,0.5]";
  const std::string transform = R"({"frame":)" + std::to_string(frame) +
                                R"(,"call":"RwIm3DTransform","count":3,"flags":1,"result":")" + result +
                                R"(","vertices":[)" + v + "," + v + "," + v + "]}\n";
  if (std::string(result) != "ok") return transform;
  return transform + R"({"frame":)" + std::to_string(frame) +
         R"(,"call":"RwIm3DRenderIndexedPrimitive","type":3,"indices":[0,1,2],"result":"ok"})" "\n";
}
std::string state(int frame, int s, const std::string& value) {
  return R"({"frame":)" + std::to_string(frame) + R"(,"call":"RwRenderStateSet","state":)" + std::to_string(s) + "," + value +
         "}\n";
}

TEST(ViewTraceTest, TheLastDrawnFrameIsChosenWithTheStatesEarlierFramesLeft) {
  const std::string trace = loaded + state(1, 12, R"("value":1)") + state(1, 1, R"("texture":"hpbg")") + fan(1, "ok", 2) +
                            state(2, 1, R"("texture":"hpfg")") + fan(2, "ok", 3) + fan(2, "null", 4) + fan(3, "null", 5);
  const view::frame_result r = view::read_frame(trace, 0);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.value.frame, 2);
  EXPECT_EQ(r.value.dictionary, "C:\\g\\DEVIZAR.txd");
  ASSERT_EQ(r.value.earlier.size(), 2u);  // the alpha and the raster of frame 1, one each
  ASSERT_EQ(r.value.calls.size(), 3u);
  EXPECT_EQ(r.value.calls[0].texture, "hpfg");
  EXPECT_TRUE(r.value.calls[1].accepted);
  EXPECT_FALSE(r.value.calls[2].accepted);  // a refused transform draws nothing
  EXPECT_EQ(view::read_frame(trace, 1).value.calls.size(), 3u);
}

TEST(ViewTraceTest, WhatCannotBeReplayedIsRefusedInOneLine) {
  const std::string good = loaded + fan(1, "ok", 2);
  const std::pair<std::string, std::string> cases[] = {
      {"", "the trace is empty"},
      {good.substr(0, good.size() - 1), "the trace is cut: its last line has no end"},
      {loaded + "{\"frame\":1,\"call\":\n", "line 2 is not JSON"},
      {loaded + "{\"frame\":1}\n", "line 2 names no call"},
      {fan(1, "ok", 2), "the trace loads no texture dictionary before frame 1"},
      {loaded + R"({"frame":1,"call":"RwIm3DTransform","result":"ok","vertices":[[2,6,0.09,1e20,0.5,0.5]]})" "\n",
       "line 2: a vertex colour is not a whole number from 0 to 0xFFFFFFFF"},
      {loaded + fan(1, "null", 2) + R"({"frame":1,"call":"RwIm3DRenderIndexedPrimitive","type":3,"indices":[0,1,3]})" "\n",
       "line 3: an index is not one of the batch's vertices"},
  };
  for (const auto& [trace, error] : cases) {
    const view::frame_result r = view::read_frame(trace, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, error);
  }
  EXPECT_EQ(view::read_frame(good, 7).error, "frame 7 is not in the trace, which ends at frame 1");
  // A frame in which nobody has a ring is still a picture: the last frame,
  // with nothing to replay and no dictionary needed.
  const view::frame_result none = view::read_frame(fan(1, "null", 2) + "{\"frame\":3,\"call\":\"unload\"}\n", 0);
  ASSERT_TRUE(none.ok) << none.error;
  EXPECT_EQ(none.value.frame, 3);
  EXPECT_FALSE(none.value.draws);
}

// The camera behind the player looking along camera_forward: what lies to
// the right of the player is right of the picture's middle, what lies ahead
// is in the middle, and what lies behind the camera is nowhere.
TEST(ViewCameraTest, RightIsRightAheadIsTheMiddleAndBehindIsNowhere) {
  sim::scenario scene;
  scene.player = sim::scenario_player{0, {10.0f, 20.0f, 1.0f}};
  scene.camera_forward[0] = 0.0f;
  scene.camera_forward[1] = 1.0f;
  const view::camera cam = view::camera_for(scene);
  EXPECT_FLOAT_EQ(cam.eye.y, 13.0f);
  EXPECT_FLOAT_EQ(cam.eye.z, 4.5f);
  float x = 0, y = 0;
  ASSERT_TRUE(view::project(cam, {10.0f, 22.0f, 0.0f}, &x, &y));
  EXPECT_NEAR(x, view::picture_width / 2.0f, 0.01f);
  EXPECT_NEAR(y, view::picture_height / 2.0f, 0.01f);
  ASSERT_TRUE(view::project(cam, {12.0f, 22.0f, 0.0f}, &x, &y));
  EXPECT_GT(x, view::picture_width / 2.0f);
  ASSERT_TRUE(view::project(cam, {10.0f, 26.0f, 0.0f}, &x, &y));
  EXPECT_LT(y, view::picture_height / 2.0f);  // farther away is higher up
  EXPECT_FALSE(view::project(cam, {10.0f, 5.0f, 0.0f}, &x, &y));
}

}  // namespace
