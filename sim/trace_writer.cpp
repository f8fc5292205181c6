#include "trace_writer.h"

#include <nlohmann/json.hpp>

namespace sim {
namespace {

// Nine significant digits read back as the same 32-bit float.
std::string number(float f) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(f));
  return text;
}

std::string quoted(const std::string& s) { return nlohmann::json(s).dump(); }

}  // namespace

std::string trace_line(const host_call& call) {
  std::string line = "{\"frame\":" + std::to_string(call.frame) + ",\"call\":";
  switch (call.kind) {
    case call_kind::load_txd:
      line += "\"host_load_txd\",\"path\":" + quoted(call.path) + ",\"result\":" + (call.ok ? "\"ok\"" : "\"null\"");
      break;
    case call_kind::tex_dictionary_destroy:
      line += "\"RwTexDictionaryDestroy\"";
      break;
    case call_kind::render_state_set:
      line += "\"RwRenderStateSet\",\"state\":" + std::to_string(call.state);
      if (call.state == host::rwRENDERSTATETEXTURERASTER) {
        line += ",\"texture\":" + (call.texture.empty() ? std::string("null") : quoted(call.texture));
      } else {
        line += ",\"value\":" + std::to_string(call.value);
      }
      break;
    case call_kind::im3d_transform: {
      line += "\"RwIm3DTransform\",\"count\":" + std::to_string(call.vertices.size()) +
              ",\"flags\":" + std::to_string(call.flags) + ",\"result\":" + (call.ok ? "\"ok\"" : "\"null\"") +
              ",\"vertices\":[";
      bool first = true;
      for (const host::RwIm3DVertex& v : call.vertices) {
        if (!first) line += ",";
        first = false;
        line += "[" + number(v.x) + "," + number(v.y) + "," + number(v.z) + "," + std::to_string(v.colour) + "," +
                number(v.u) + "," + number(v.v) + "]";
      }
      line += "]";
      break;
    }
    case call_kind::im3d_render_primitive:
      line += "\"RwIm3DRenderPrimitive\",\"type\":" + std::to_string(call.type);
      break;
    case call_kind::im3d_end:
      line += "\"RwIm3DEnd\"";
      break;
  }
  return line + "}";
}

void write_trace(std::FILE* out, const std::vector<host_call>& calls) {
  for (const host_call& c : calls) {
    const std::string line = trace_line(c);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
  }
}

}  // namespace sim
