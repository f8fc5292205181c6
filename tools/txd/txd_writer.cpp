// Writing dictionaries and computing mip chains.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "dxt.h"
#include "txd_file.h"
#include "txd_format.h"

namespace txd {
namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(std::uint8_t(v));
  out.push_back(std::uint8_t(v >> 8));
}
void put_text(std::vector<std::uint8_t>& out, const std::string& s) {
  for (std::size_t i = 0; i < 32; ++i) out.push_back(i < s.size() ? std::uint8_t(s[i]) : 0);
}
void put_chunk(std::vector<std::uint8_t>& out, std::uint32_t type, const std::vector<std::uint8_t>& body) {
  put32(out, type);
  put32(out, std::uint32_t(body.size()));
  put32(out, library_stamp);
  out.insert(out.end(), body.begin(), body.end());
}

// The raster fields a texture gets when it brings none from a file.
raster_fields derived_fields(const texture& t) {
  bool alpha = t.has_alpha;
  for (const level& l : t.levels) {
    for (std::size_t i = 3; i < l.rgba.size(); i += 4) alpha = alpha || l.rgba[i] != 255;
  }
  const std::uint32_t mipmaps = t.levels.size() > 1 ? raster_has_mipmaps : 0;
  const std::uint8_t alpha_flag = alpha ? flag_alpha : 0;
  switch (t.format) {
    case pixel_format::bgra8888: return {raster_8888 | mipmaps, d3d_a8r8g8b8, 32, 4, alpha_flag};
    case pixel_format::bgr888: return {raster_888 | mipmaps, d3d_x8r8g8b8, 32, 4, 0};
    case pixel_format::dxt1:
      return {(alpha ? raster_1555 : raster_565) | mipmaps, d3d_dxt1, 16, 4, std::uint8_t(alpha_flag | flag_compressed)};
    case pixel_format::dxt3: return {raster_4444 | mipmaps, d3d_dxt3, 16, 4, std::uint8_t(flag_alpha | flag_compressed)};
    case pixel_format::dxt5: return {raster_4444 | mipmaps, d3d_dxt5, 16, 4, std::uint8_t(flag_alpha | flag_compressed)};
  }
  return {};
}

void put_level(std::vector<std::uint8_t>& s, pixel_format format, const level& l) {
  put32(s, std::uint32_t(level_size(format, l.width, l.height)));
  if (format != pixel_format::bgra8888 && format != pixel_format::bgr888) {
    const std::vector<std::uint8_t> blocks = encode_blocks(format, l.width, l.height, l.rgba);
    s.insert(s.end(), blocks.begin(), blocks.end());
    return;
  }
  for (std::size_t i = 0; i < l.rgba.size(); i += 4) {
    s.push_back(l.rgba[i + 2]);
    s.push_back(l.rgba[i + 1]);
    s.push_back(l.rgba[i + 0]);
    s.push_back(format == pixel_format::bgr888 ? 255 : l.rgba[i + 3]);
  }
}

std::vector<std::uint8_t> native_chunk(const texture& t) {
  std::vector<std::uint8_t> s;
  const std::uint32_t width = t.levels.empty() ? 0 : t.levels[0].width;
  const std::uint32_t height = t.levels.empty() ? 0 : t.levels[0].height;
  const raster_fields r = t.raster ? *t.raster : derived_fields(t);
  put32(s, platform_d3d9);
  s.push_back(t.raster ? t.filter : t.levels.size() > 1 ? 6 : 2);
  s.push_back(t.addressing);
  put16(s, 0);
  put_text(s, t.name);
  put_text(s, t.mask_name);
  put32(s, r.raster_format);
  put32(s, r.d3d_format);
  put16(s, std::uint16_t(width));
  put16(s, std::uint16_t(height));
  s.push_back(r.depth);
  s.push_back(std::uint8_t(t.levels.size()));
  s.push_back(r.raster_type);
  s.push_back(r.flags);
  for (const level& l : t.levels) put_level(s, t.format, l);
  std::vector<std::uint8_t> body;
  put_chunk(body, chunk_struct, s);
  put_chunk(body, chunk_extension, {});
  return body;
}

}  // namespace

const char* format_name(pixel_format format) {
  switch (format) {
    case pixel_format::bgra8888: return "8888";
    case pixel_format::bgr888: return "888";
    case pixel_format::dxt1: return "DXT1";
    case pixel_format::dxt3: return "DXT3";
    case pixel_format::dxt5: return "DXT5";
  }
  return "?";
}

std::size_t level_size(pixel_format format, std::uint32_t w, std::uint32_t h) {
  const std::size_t blocks = std::size_t(std::max(1u, (w + 3) / 4)) * std::max(1u, (h + 3) / 4);
  switch (format) {
    case pixel_format::dxt1: return blocks * 8;
    case pixel_format::dxt3:
    case pixel_format::dxt5: return blocks * 16;
    default: return std::size_t(w) * h * 4;
  }
}

bool power_of_two(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

std::vector<std::uint8_t> write(const dictionary& dict) {
  std::vector<std::uint8_t> body;
  std::vector<std::uint8_t> info;
  put16(info, std::uint16_t(dict.textures.size()));
  put16(info, 2);  // Direct3D 9
  put_chunk(body, chunk_struct, info);
  for (const texture& t : dict.textures) put_chunk(body, chunk_texture_native, native_chunk(t));
  put_chunk(body, chunk_extension, {});
  std::vector<std::uint8_t> out;
  put_chunk(out, chunk_dictionary, body);
  return out;
}

bool write_file(const std::string& path, const dictionary& dict) {
  const std::vector<std::uint8_t> bytes = write(dict);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::vector<level> mip_chain(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba) {
  std::vector<level> chain;
  chain.push_back(level{width, height, rgba, {}});
  while (chain.back().width > 1 || chain.back().height > 1) {
    const level& up = chain.back();
    level down{std::max(1u, up.width / 2), std::max(1u, up.height / 2), {}, {}};
    down.rgba.resize(std::size_t(down.width) * down.height * 4);
    for (std::uint32_t y = 0; y < down.height; ++y) {
      for (std::uint32_t x = 0; x < down.width; ++x) {
        for (int c = 0; c < 4; ++c) {
          unsigned sum = 0;
          for (std::uint32_t dy = 0; dy < 2; ++dy) {
            for (std::uint32_t dx = 0; dx < 2; ++dx) {
              const std::uint32_t sx = std::min(up.width - 1, x * 2 + dx);
              const std::uint32_t sy = std::min(up.height - 1, y * 2 + dy);
              sum += up.rgba[(std::size_t(sy) * up.width + sx) * 4 + c];
            }
          }
          down.rgba[(std::size_t(y) * down.width + x) * 4 + c] = std::uint8_t((sum + 2) / 4);
        }
      }
    }
    chain.push_back(std::move(down));
  }
  return chain;
}

}  // namespace txd
