#include "tools/txd/manifest.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace txd {
namespace {

using nlohmann::json;

constexpr const char* filters[] = {"none", "nearest", "linear", "mip_nearest", "mip_linear", "linear_mip_nearest",
                                   "linear_mip_linear"};
constexpr const char* addressings[] = {"none", "wrap", "mirror", "clamp", "border"};

struct bad {
  std::string message;
};
[[noreturn]] void fail(const std::string& field, const std::string& problem) { throw bad{field + ": " + problem}; }

template <std::size_t N>
json named(std::uint8_t value, const char* const (&names)[N]) {
  return value < N ? json(names[value]) : json(value);
}

template <std::size_t N>
std::uint8_t unnamed(const json& v, const char* const (&names)[N], const std::string& field) {
  if (v.is_number_unsigned() && v.get<std::uint64_t>() <= 255) return static_cast<std::uint8_t>(v.get<unsigned>());
  if (v.is_string()) {
    for (std::size_t i = 0; i < N; ++i) {
      if (v == names[i]) return static_cast<std::uint8_t>(i);
    }
  }
  std::string all;
  for (const char* n : names) all += std::string(all.empty() ? "" : ", ") + n;
  fail(field, "expected one of " + all + " or a number from 0 to 255");
}

std::uint64_t unsigned_at(const json& object, const char* key, const std::string& field, std::uint64_t max) {
  if (!object.contains(key)) fail(field + "." + key, "missing");
  const json& v = object[key];
  if (!v.is_number_unsigned() || v.get<std::uint64_t>() > max) {
    fail(field + "." + key, "expected a whole number from 0 to " + std::to_string(max));
  }
  return v.get<std::uint64_t>();
}

std::string string_at(const json& object, const char* key, const std::string& field) {
  if (!object.contains(key) || !object[key].is_string()) fail(field + "." + key, "expected a string");
  return object[key].get<std::string>();
}

// A name as the manifest keeps it: the text itself, and where that is not
// UTF-8 (older tools wrote Latin-1), its bytes in hex under key_bytes too,
// which build takes over the text.
void put_name(json& j, const char* key, const std::string& name) {
  if (valid_utf8(name)) {
    j[key] = name;
    return;
  }
  std::string shown, hex;
  for (unsigned char c : name) {
    shown += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string("\xEF\xBF\xBD");  // U+FFFD
    char two[3];
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  j[key] = shown;
  j[std::string(key) + "_bytes"] = hex;
}

std::string name_at(const json& object, const char* key, const std::string& field) {
  const std::string bytes_key = std::string(key) + "_bytes";
  if (!object.contains(bytes_key)) return string_at(object, key, field);
  const std::string hex = string_at(object, bytes_key.c_str(), field);
  if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    fail(field + "." + bytes_key, "expected the name's bytes as pairs of hex digits");
  }
  std::string name;
  for (std::size_t i = 0; i < hex.size(); i += 2) name.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return name;
}

}  // namespace

bool valid_utf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    std::uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

std::string pixel_hash(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba) {
  std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  auto mix = [&h](std::uint8_t byte) { h = (h ^ byte) * 0x100000001b3ull; };
  for (int i = 0; i < 4; ++i) mix(std::uint8_t(width >> (8 * i)));
  for (int i = 0; i < 4; ++i) mix(std::uint8_t(height >> (8 * i)));
  for (std::uint8_t byte : rgba) mix(byte);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

const char* filter_name(std::uint8_t filter) { return filter < 7 ? filters[filter] : "?"; }
const char* addressing_name(std::uint8_t mode) { return mode < 5 ? addressings[mode] : "?"; }

std::string manifest_text(const manifest& m) {
  json textures = json::array();
  for (const manifest_entry& e : m.entries) {
    const texture& t = e.settings;
    json j = json::object();
    put_name(j, "name", t.name);
    put_name(j, "mask_name", t.mask_name);
    j.update(json{{"filter", named(t.filter, filters)},
              {"addressing_u", named(t.addressing & 0x0F, addressings)},
              {"addressing_v", named(t.addressing >> 4, addressings)},
              {"format", format_name(t.format)},
              {"alpha", t.has_alpha},
              {"levels", e.level_count},
              {"image", e.image.generic_string()}});
    if (!e.level_images.empty()) {
      json images = json::array();
      for (const auto& p : e.level_images) images.push_back(p.generic_string());
      j["level_images"] = images;
    }
    if (t.raster) {
      const bool d3d8 = t.raster->platform == platform_d3d8;
      j["raster"] = {{"platform", t.raster->platform},
                     {"raster_format", t.raster->raster_format},
                     {d3d8 ? "has_alpha" : "d3d_format", t.raster->d3d_format},
                     {"depth", t.raster->depth},
                     {"raster_type", t.raster->raster_type},
                     {d3d8 ? "compression" : "flags", t.raster->flags}};
    }
    if (e.native) j["native"] = *e.native;
    if (!e.pixels.empty()) j["pixels"] = e.pixels;
    textures.push_back(j);
  }
  json root = {{"device_id", m.device_id}};
  if (!m.original.empty()) root["original"] = m.original.generic_string();
  root["textures"] = textures;
  return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool parse_manifest(const std::string& text, manifest* out, std::string* error) {
  try {
    const json root = json::parse(text);
    if (!root.is_object() || !root.contains("textures") || !root["textures"].is_array()) {
      fail("manifest", "expected an object with a list \"textures\"");
    }
    if (root.contains("device_id")) out->device_id = static_cast<std::uint16_t>(unsigned_at(root, "device_id", "manifest", 0xFFFF));
    if (root.contains("original")) out->original = string_at(root, "original", "manifest");
    for (std::size_t i = 0; i < root["textures"].size(); ++i) {
      const json& j = root["textures"][i];
      const std::string field = "textures[" + std::to_string(i) + "]";
      if (!j.is_object()) fail(field, "expected an object");
      manifest_entry e;
      texture& t = e.settings;
      t.name = name_at(j, "name", field);
      if (j.contains("mask_name") || j.contains("mask_name_bytes")) t.mask_name = name_at(j, "mask_name", field);
      if (j.contains("filter")) t.filter = unnamed(j["filter"], filters, field + ".filter");
      const std::uint8_t u = j.contains("addressing_u") ? unnamed(j["addressing_u"], addressings, field + ".addressing_u") : 1;
      const std::uint8_t v = j.contains("addressing_v") ? unnamed(j["addressing_v"], addressings, field + ".addressing_v") : 1;
      if (u > 15 || v > 15) fail(field + ".addressing", "each mode fits in 4 bits");
      t.addressing = static_cast<std::uint8_t>(u | v << 4);
      const std::string format = j.contains("format") ? string_at(j, "format", field) : "8888";
      if (!format_named(format, &t.format)) {
        fail(field + ".format",
             "'" + format +
                 "' is none of 8888, 888, DXT1, DXT3, DXT4, DXT5, 565, 1555, 555, 4444, LUM8, A8L8, PAL8, PAL4");
      }
      if (j.contains("alpha")) {
        if (!j["alpha"].is_boolean()) fail(field + ".alpha", "expected true or false");
        t.has_alpha = j["alpha"].get<bool>();
      }
      e.level_count = static_cast<unsigned>(unsigned_at(j, "levels", field, 13));
      if (e.level_count == 0) fail(field + ".levels", "at least 1");
      e.image = string_at(j, "image", field);
      if (j.contains("level_images")) {
        const json& images = j["level_images"];
        if (!images.is_array() || images.size() != e.level_count - 1) {
          fail(field + ".level_images", "expected a list of " + std::to_string(e.level_count - 1) + " images");
        }
        for (const json& p : images) {
          if (!p.is_string()) fail(field + ".level_images", "expected file names");
          e.level_images.emplace_back(p.get<std::string>());
        }
      }
      if (j.contains("raster")) {
        const json& r = j["raster"];
        if (!r.is_object()) fail(field + ".raster", "expected an object");
        const std::string f = field + ".raster";
        const std::uint32_t platform =
            r.contains("platform") ? static_cast<std::uint32_t>(unsigned_at(r, "platform", f, 255)) : platform_d3d9;
        if (platform != platform_d3d8 && platform != platform_d3d9) fail(f + ".platform", "expected 8 or 9");
        const bool d3d8 = platform == platform_d3d8;
        const char* second = d3d8 ? "has_alpha" : "d3d_format";
        t.raster = raster_fields{platform,
                                 static_cast<std::uint32_t>(unsigned_at(r, "raster_format", f, 0xFFFFFFFF)),
                                 static_cast<std::uint32_t>(unsigned_at(r, second, f, 0xFFFFFFFF)),
                                 static_cast<std::uint8_t>(unsigned_at(r, "depth", f, 255)),
                                 static_cast<std::uint8_t>(unsigned_at(r, "raster_type", f, 255)),
                                 static_cast<std::uint8_t>(unsigned_at(r, d3d8 ? "compression" : "flags", f, 255))};
      }
      if (j.contains("native")) e.native = static_cast<unsigned>(unsigned_at(j, "native", field, 0xFFFF));
      if (j.contains("pixels")) {
        const json& p = j["pixels"];
        if (!p.is_array() || p.size() != 1 + e.level_images.size()) {
          fail(field + ".pixels", "expected a list of " + std::to_string(1 + e.level_images.size()) + " hashes");
        }
        for (const json& h : p) {
          if (!h.is_string()) fail(field + ".pixels", "expected hashes as text");
          e.pixels.push_back(h.get<std::string>());
        }
      }
      out->entries.push_back(std::move(e));
    }
    return true;
  } catch (const json::exception& e) {
    *error = std::string("not a manifest: ") + e.what();
  } catch (const bad& b) {
    *error = b.message;
  }
  return false;
}

}  // namespace txd
