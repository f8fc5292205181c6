#include "tools/view/trace_frame.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

namespace view {
namespace {

using nlohmann::json;

struct bad_line {
  std::string message;
};

std::uint32_t whole(const json& j, const char* key, std::size_t line) {
  if (!j.contains(key) || !j[key].is_number_unsigned() || j[key].get<std::uint64_t>() > 0xFFFFFFFFu) {
    throw bad_line{"line " + std::to_string(line) + ": \"" + key + "\" is not a whole number from 0 to 0xFFFFFFFF"};
  }
  return static_cast<std::uint32_t>(j[key].get<std::uint64_t>());
}

replay_call fan_of(const json& j, std::size_t line) {
  replay_call c;
  c.kind = replay_call::draw_fan;
  c.accepted = false;  // until its triangles are rendered
  if (!j.contains("vertices") || !j["vertices"].is_array()) {
    throw bad_line{"line " + std::to_string(line) + ": a transform without its vertices"};
  }
  const auto refuse = [line](const char* what) { throw bad_line{"line " + std::to_string(line) + ": " + what}; };
  // Converted only when it fits: a double beyond a float's range, or a
  // colour beyond 32 bits, has no value there.
  const auto single = [&](const json& n) {
    const double d = n.get<double>();
    if (!(std::fabs(d) <= std::numeric_limits<float>::max())) refuse("a vertex coordinate is no finite 32-bit float");
    return static_cast<float>(d);
  };
  for (const json& v : j["vertices"]) {
    if (!v.is_array() || v.size() != 6) refuse("a vertex is not 6 numbers");
    for (const json& n : v) {
      if (!n.is_number()) refuse("a vertex is not 6 numbers");
    }
    if (!v[3].is_number_unsigned() || v[3].get<std::uint64_t>() > 0xFFFFFFFFu) {
      refuse("a vertex colour is not a whole number from 0 to 0xFFFFFFFF");
    }
    c.vertices.push_back({single(v[0]), single(v[1]), single(v[2]), static_cast<std::uint32_t>(v[3].get<std::uint64_t>()),
                          single(v[4]), single(v[5])});
  }
  return c;
}

}  // namespace

frame_result read_frame(const std::string& text, std::int32_t wanted) {
  frame_result r;
  if (text.empty()) {
    r.error = "the trace is empty";
    return r;
  }
  if (text.back() != '\n') {
    r.error = "the trace is cut: its last line has no end";
    return r;
  }
  // First pass: which frame, and which dictionary was loaded by then.
  struct line_info {
    std::int32_t frame;
    json value;
  };
  std::vector<line_info> lines;
  try {
    std::size_t begin = 0, number = 0;
    while (begin < text.size()) {
      const std::size_t end = text.find('\n', begin);
      ++number;
      json j;
      try {
        j = json::parse(text.substr(begin, end - begin));
      } catch (const json::parse_error&) {
        throw bad_line{"line " + std::to_string(number) + " is not JSON"};
      }
      if (!j.is_object() || !j.contains("call") || !j["call"].is_string()) {
        throw bad_line{"line " + std::to_string(number) + " names no call"};
      }
      lines.push_back({static_cast<std::int32_t>(whole(j, "frame", number)), std::move(j)});
      begin = end + 1;
    }
    // By default the last frame that drew; when none did, the last frame:
    // a scene where nobody has a ring is a picture all the same.
    std::int32_t chosen = 0, last = 0;
    for (const line_info& l : lines) {
      last = std::max(last, l.frame);
      if (l.value["call"] == "RwIm3DTransform" && l.value.value("result", "") == "ok") chosen = l.frame;
    }
    if (wanted != 0) {
      if (wanted > last) {
        r.error = "frame " + std::to_string(wanted) + " is not in the trace, which ends at frame " + std::to_string(last);
        return r;
      }
      chosen = wanted;
    } else if (chosen == 0) {
      chosen = last;
    }
    drawn_frame& f = r.value;
    f.frame = chosen;
    std::map<std::int32_t, replay_call> carried;
    bool transformed = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const line_info& l = lines[i];
      if (l.frame > chosen) break;
      const std::string call = l.value["call"];
      if (call == "host_load_txd" && l.value.value("result", "") == "ok") f.dictionary = l.value.value("path", "");
      if (call == "ped_position") {
        const json& p = l.value.contains("position") ? l.value["position"] : json();
        if (!p.is_array() || p.size() != 3 || !p[0].is_number() || !p[1].is_number() || !p[2].is_number()) {
          throw bad_line{"line " + std::to_string(i + 1) + ": a position is not 3 numbers"};
        }
        const int slot = static_cast<int>(whole(l.value, "slot", i + 1));
        const std::array<float, 3> at = {p[0].get<float>(), p[1].get<float>(), p[2].get<float>()};
        auto it = std::find_if(f.moved.begin(), f.moved.end(), [&](const auto& m) { return m.first == slot; });
        if (it == f.moved.end()) {
          f.moved.emplace_back(slot, at);
        } else {
          it->second = at;
        }
      }
      if (call == "RwRenderStateSet") {
        replay_call c;
        c.state = static_cast<std::int32_t>(whole(l.value, "state", i + 1));
        if (c.state == host::rwRENDERSTATETEXTURERASTER) {
          c.texture = l.value.contains("texture") && l.value["texture"].is_string() ? l.value["texture"].get<std::string>() : "";
        } else {
          c.value = whole(l.value, "value", i + 1);
        }
        if (l.frame < chosen) {
          carried[c.state] = c;
        } else {
          f.calls.push_back(c);
        }
      } else if (call == "RwIm3DTransform" && l.frame == chosen) {
        f.calls.push_back(fan_of(l.value, i + 1));
        transformed = l.value.value("result", "") == "ok";
      } else if (call == "RwIm3DRenderPrimitive" && l.frame == chosen && !f.calls.empty() &&
                 f.calls.back().kind == replay_call::draw_fan) {
        // A triangle fan; any other primitive leaves the batch undrawn.
        replay_call& c = f.calls.back();
        c.accepted = transformed && whole(l.value, "type", i + 1) == host::rwPRIMTYPETRIFAN;
        c.indices.clear();
        for (std::size_t v = 1; v + 1 < c.vertices.size(); ++v) {
          c.indices.insert(c.indices.end(), {0, static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(v + 1)});
        }
      } else if (call == "RwIm3DRenderIndexedPrimitive" && l.frame == chosen && !f.calls.empty() &&
                 f.calls.back().kind == replay_call::draw_fan) {
        // A triangle list, its indices within the batch.
        replay_call& c = f.calls.back();
        if (!l.value.contains("indices") || !l.value["indices"].is_array()) {
          throw bad_line{"line " + std::to_string(i + 1) + ": an indexed primitive without its indices"};
        }
        c.indices.clear();
        for (const json& n : l.value["indices"]) {
          if (!n.is_number_unsigned() || n.get<std::uint64_t>() >= c.vertices.size()) {
            throw bad_line{"line " + std::to_string(i + 1) + ": an index is not one of the batch's vertices"};
          }
          c.indices.push_back(static_cast<std::uint16_t>(n.get<std::uint64_t>()));
        }
        c.accepted = transformed && whole(l.value, "type", i + 1) == host::rwPRIMTYPETRILIST &&
                     l.value.value("result", "") == "ok" && c.indices.size() % 3 == 0;
      }
    }
    for (const auto& [state, c] : carried) f.earlier.push_back(c);
    for (const replay_call& c : f.calls) f.draws |= c.kind == replay_call::draw_fan && c.accepted;
    if (f.draws && f.dictionary.empty()) {
      r.error = "the trace loads no texture dictionary before frame " + std::to_string(chosen);
      return r;
    }
  } catch (const bad_line& b) {
    r.error = b.message;
    return r;
  } catch (const json::exception& e) {
    r.error = std::string("a value of an unexpected kind: ") + e.what();
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace view
