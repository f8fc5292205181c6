// viewer: what a player would see of one frame of a traced run, rendered
// through Direct3D 9.
//
//   viewer --scenario FILE --trace FILE --out DIR [--frame N] [--world-only]
//
// Writes DIR/view.png (1280 x 720) and DIR/view.json. --world-only leaves the
// plugin's calls out, for comparing. Exit codes: 0 written; 2 a wrong command
// line or input, named in one line, with nothing written; 3 the device failed.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "file/whole_file.h"
#include "tools/view/camera.h"
#include "tools/view/d3d_view.h"
#include "png/png_io.h"
#include "tools/view/rings.h"
#include "sim/scenario.h"
#include "tools/view/trace_frame.h"
#include "txd/dictionary.h"
#include "tools/view/world.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* usage = "usage: viewer --scenario FILE --trace FILE --out DIR [--frame N] [--world-only]";

std::string shown(const fs::path& p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

int refuse(int code, const std::string& reason) {
  std::fprintf(stderr, "viewer: %s\n", reason.c_str());
  return code;
}

bool read_bytes(const fs::path& p, std::string* out) {
  const file::whole_file f = file::read_whole(p);
  if (f.ok) *out = f.text();
  return f.ok;
}

bool write_bytes(const fs::path& p, const void* data, std::size_t size) {
  std::ofstream out(p, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  fs::path scenario_path, trace_path, out;
  std::int32_t wanted = 0;
  bool replay = true;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--world-only") {
      replay = false;
      continue;
    }
    if (i + 1 >= argc) return refuse(2, usage);
    if (a == L"--scenario") {
      scenario_path = argv[++i];
    } else if (a == L"--trace") {
      trace_path = argv[++i];
    } else if (a == L"--out") {
      out = argv[++i];
    } else if (a == L"--frame") {
      wchar_t* end = nullptr;
      const long n = std::wcstol(argv[++i], &end, 10);
      if (*end != L'\0' || n < 1 || n > 0x7FFFFFFF) return refuse(2, "--frame takes a frame number from 1");
      wanted = static_cast<std::int32_t>(n);
    } else {
      return refuse(2, "unknown option " + shown(a));
    }
  }
  if (scenario_path.empty() || trace_path.empty() || out.empty()) return refuse(2, usage);

  // Everything is read and checked before anything is written.
  const sim::scenario_result scene = sim::read_scenario(scenario_path);
  if (!scene.ok) return refuse(2, shown(scenario_path) + ": " + scene.error);
  std::string trace_text;
  if (!read_bytes(trace_path, &trace_text)) return refuse(2, shown(trace_path) + ": cannot be read (no such file?)");
  const view::frame_result frame = view::read_frame(trace_text, wanted);
  if (!frame.ok) return refuse(2, shown(trace_path) + ": " + frame.error);
  // A path the plugin gave the game's loader; a relative one names a file of
  // the game's folder beside the trace.
  fs::path dictionary_path = fs::path(frame.value.dictionary);
  if (dictionary_path.is_relative()) dictionary_path = trace_path.parent_path() / "game" / dictionary_path;
  // A frame that draws nothing needs no dictionary.
  const bool replays = replay && frame.value.draws;
  const txd::read_result dictionary = replays ? txd::read_file(dictionary_path.string()) : txd::read_result{};
  if (replays && !dictionary.ok) {
    return refuse(2, "the texture dictionary " + shown(dictionary_path) + " the trace loaded cannot be read: " + dictionary.error);
  }
  if (fs::exists(out) && !fs::is_directory(out)) return refuse(2, shown(out) + " is not a folder");

  // Pedestrians that walked stand where the frame had them.
  sim::scenario at_frame = scene.value;
  for (const auto& [slot, at] : frame.value.moved) {
    for (sim::ped_setup& p : at_frame.peds) {
      if (p.slot == slot) p.position = {at[0], at[1], at[2]};
    }
  }
  // The ground present in that frame: pieces that come and go.
  std::erase_if(at_frame.ground, [&](const sim::ground_piece& g) { return !g.present(frame.value.frame); });
  const view::camera cam = view::camera_for(at_frame);
  const view::world_mesh world = view::build_world(at_frame);
  const view::render_result picture = view::render(cam, world, frame.value, dictionary.dict, replays);
  if (!picture.ok) return refuse(3, picture.error);

  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) return refuse(2, "cannot make " + shown(out) + ": " + ec.message());
  png::image image;
  image.width = view::picture_width;
  image.height = view::picture_height;
  image.rgba = picture.rgba;
  const std::vector<std::uint8_t> png = png::encode(image);
  const std::string json = view::view_json(frame.value.frame, view::rings_of(frame.value, at_frame, cam));
  if (!write_bytes(out / "view.png", png.data(), png.size()) || !write_bytes(out / "view.json", json.data(), json.size())) {
    return refuse(3, "cannot write into " + shown(out));
  }
  if (!frame.value.draws) std::printf("viewer: the plugin drew no ring in frame %d\n", frame.value.frame);
  std::printf("viewer: frame %d rendered into %s/view.png\n", frame.value.frame, shown(out).c_str());
  return 0;
}
