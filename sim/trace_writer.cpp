#include "sim/trace_writer.h"

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
  std::string line = "{\"frame\":";
  line += std::to_string(call.frame);
  line += ",\"call\":";
  switch (call.kind) {
    case call_kind::load_txd:
      line += "\"host_load_txd\",\"path\":";
      line += quoted(call.path);
      // The game's loader never returns null: what it could not read comes
      // back as an empty dictionary.
      line += call.ok ? ",\"result\":\"ok\"" : ",\"result\":\"empty\"";
      if (!call.fault.empty()) line += ",\"fault\":" + quoted(call.fault);
      break;
    case call_kind::tex_dictionary_destroy:
      line += "\"RwTexDictionaryDestroy\"";
      break;
    case call_kind::render_state_set:
    case call_kind::render_state_get:
      line += call.kind == call_kind::render_state_set ? "\"RwRenderStateSet\",\"state\":" : "\"RwRenderStateGet\",\"state\":";
      line += std::to_string(call.state);
      if (call.state == host::rwRENDERSTATETEXTURERASTER) {
        line += ",\"texture\":";
        line += call.texture.empty() ? std::string("null") : quoted(call.texture);
      } else {
        line += ",\"value\":";
        line += std::to_string(call.value);
      }
      break;
    case call_kind::render_state_left:
      line += "\"render_state_left\",\"state\":";
      line += std::to_string(call.state) + ",\"value\":" + std::to_string(call.value) +
              ",\"expected\":" + std::to_string(call.expected);
      break;
    case call_kind::im3d_transform:
      line += "\"RwIm3DTransform\",\"count\":";
      line += std::to_string(call.vertices.size());
      line += ",\"flags\":";
      line += std::to_string(call.flags);
      line += call.ok ? ",\"result\":\"ok\"" : ",\"result\":\"null\"";
      line += ",\"vertices\":[";
      for (std::size_t i = 0; i < call.vertices.size(); ++i) {
        const host::RwIm3DVertex& v = call.vertices[i];
        line += i == 0 ? "[" : ",[";
        for (float f : {v.x, v.y, v.z}) {
          line += number(f);
          line += ',';
        }
        line += std::to_string(v.colour);
        for (float f : {v.u, v.v}) {
          line += ',';
          line += number(f);
        }
        line += ']';
      }
      line += ']';
      break;
    case call_kind::im3d_render_primitive:
      line += "\"RwIm3DRenderPrimitive\",\"type\":";
      line += std::to_string(call.type);
      break;
    case call_kind::im3d_render_indexed_primitive:
      line += "\"RwIm3DRenderIndexedPrimitive\",\"type\":";
      line += std::to_string(call.type);
      line += ",\"indices\":[";
      for (std::size_t i = 0; i < call.indices.size(); ++i) {
        if (i) line += ',';
        line += std::to_string(call.indices[i]);
      }
      line += call.ok ? "],\"result\":\"ok\"" : "],\"result\":\"refused\"";
      break;
    case call_kind::im3d_end:
      line += "\"RwIm3DEnd\"";
      break;
    case call_kind::vertical_line:
      line += "\"ProcessVerticalLine\",\"origin\":[" + number(call.origin[0]) + "," + number(call.origin[1]) + "," +
              number(call.origin[2]) + "],\"end_z\":" + number(call.end_z) + ",\"vehicles\":" + (call.vehicles ? "true" : "false") +
              ",\"hit\":" + (call.ok ? "true" : "false");
      if (call.ok) line += ",\"z\":" + number(call.z);
      break;
    case call_kind::ped_position:
      line += "\"ped_position\",\"slot\":" + std::to_string(call.slot) + ",\"position\":[" + number(call.origin[0]) +
              "," + number(call.origin[1]) + "," + number(call.origin[2]) + "]";
      break;
  }
  line += '}';
  return line;
}

void write_trace(std::FILE* out, const std::vector<host_call>& calls) {
  for (const host_call& c : calls) {
    const std::string line = trace_line(c);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
  }
}

}  // namespace sim
