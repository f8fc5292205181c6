// Writing dictionaries and computing mip chains.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "txd/pixels.h"
#include "txd/dictionary.h"
#include "txd/format.h"

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
void put_chunk(std::vector<std::uint8_t>& out, std::uint32_t type, const std::vector<std::uint8_t>& body,
               std::uint32_t stamp = library_stamp) {
  put32(out, type);
  put32(out, std::uint32_t(body.size()));
  put32(out, stamp);
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
  const std::uint8_t block_flags = std::uint8_t(flag_alpha | flag_compressed);
  const std::uint32_t palette_base = alpha ? raster_8888 : raster_888;
  switch (t.format) {
    case pixel_format::bgra8888: return {platform_d3d9, raster_8888 | mipmaps, d3d_a8r8g8b8, 32, 4, alpha_flag};
    case pixel_format::bgr888: return {platform_d3d9, raster_888 | mipmaps, d3d_x8r8g8b8, 32, 4, 0};
    case pixel_format::dxt1:
      return {platform_d3d9, (alpha ? raster_1555 : raster_565) | mipmaps, d3d_dxt1, 16, 4,
              std::uint8_t(alpha_flag | flag_compressed)};
    case pixel_format::dxt3: return {platform_d3d9, raster_4444 | mipmaps, d3d_dxt3, 16, 4, block_flags};
    case pixel_format::dxt4: return {platform_d3d9, raster_4444 | mipmaps, d3d_dxt4, 16, 4, block_flags};
    case pixel_format::dxt5: return {platform_d3d9, raster_4444 | mipmaps, d3d_dxt5, 16, 4, block_flags};
    case pixel_format::r5g6b5: return {platform_d3d9, raster_565 | mipmaps, d3d_r5g6b5, 16, 4, 0};
    case pixel_format::a1r5g5b5: return {platform_d3d9, raster_1555 | mipmaps, d3d_a1r5g5b5, 16, 4, alpha_flag};
    case pixel_format::x1r5g5b5: return {platform_d3d9, raster_555 | mipmaps, d3d_x1r5g5b5, 16, 4, 0};
    case pixel_format::a4r4g4b4: return {platform_d3d9, raster_4444 | mipmaps, d3d_a4r4g4b4, 16, 4, alpha_flag};
    case pixel_format::lum8: return {platform_d3d9, raster_lum8 | mipmaps, d3d_l8, 8, 4, 0};
    case pixel_format::a8l8: return {platform_d3d9, raster_default | mipmaps, d3d_a8l8, 16, 4, alpha_flag};
    case pixel_format::pal8: return {platform_d3d9, raster_pal8 | palette_base | mipmaps, d3d_p8, 8, 4, alpha_flag};
    case pixel_format::pal4: return {platform_d3d9, raster_pal4 | palette_base | mipmaps, d3d_p8, 4, 4, alpha_flag};
  }
  return {};
}

// Whether two fixed parts of a native say the same: all but the padding,
// the bytes after each name's terminator, and a level count of 0 or 1.
bool same_meaning(const std::uint8_t* a, const std::uint8_t* b) {
  auto text = [](const std::uint8_t* p) {
    const char* c = reinterpret_cast<const char*>(p);
    return std::string(c, strnlen(c, 32));
  };
  auto levels = [](std::uint8_t n) { return n == 0 ? 1 : n; };
  return std::memcmp(a, b, 6) == 0 && text(a + 8) == text(b + 8) && text(a + 40) == text(b + 40) &&
         std::memcmp(a + 72, b + 72, 13) == 0 && levels(a[85]) == levels(b[85]) && std::memcmp(a + 86, b + 86, 2) == 0;
}

void put_level(std::vector<std::uint8_t>& s, const texture& t, const level& l) {
  if (l.stored.size() == level_size(t.format, l.width, l.height, t.index_bits) ||
      l.stored.size() == padded_level_size(t.format, l.width, l.height, t.index_bits)) {
    put32(s, std::uint32_t(l.stored.size()));
    s.insert(s.end(), l.stored.begin(), l.stored.end());
    return;
  }
  const std::vector<std::uint8_t> pixels = encode_pixels(t, l);
  put32(s, std::uint32_t(pixels.size()));
  s.insert(s.end(), pixels.begin(), pixels.end());
}

std::vector<std::uint8_t> native_chunk(const texture& t) {
  std::vector<std::uint8_t> s;
  const std::uint32_t width = t.levels.empty() ? 0 : t.levels[0].width;
  const std::uint32_t height = t.levels.empty() ? 0 : t.levels[0].height;
  const raster_fields r = t.raster ? *t.raster : derived_fields(t);
  put32(s, r.platform);
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
  if (t.fixed_part.size() == native_fixed_size && same_meaning(s.data(), t.fixed_part.data())) {
    s = t.fixed_part;
  }
  if (palettised(t.format)) {
    std::vector<std::uint8_t> palette = t.palette;
    const std::size_t entries = t.format == pixel_format::pal8 ? 256 : t.index_bits == 8 ? 32 : 16;
    palette.resize(t.format == pixel_format::pal8 ? entries * 4 : std::max(palette.size(), entries * 4));
    s.insert(s.end(), palette.begin(), palette.end());
  }
  for (const level& l : t.levels) put_level(s, t, l);
  std::vector<std::uint8_t> body;
  put_chunk(body, chunk_struct, s, t.stamp);
  if (t.extension) put_chunk(body, chunk_extension, *t.extension, t.stamp);
  body.insert(body.end(), t.more_extensions.begin(), t.more_extensions.end());
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
    case pixel_format::dxt4: return "DXT4";
    case pixel_format::r5g6b5: return "565";
    case pixel_format::a1r5g5b5: return "1555";
    case pixel_format::x1r5g5b5: return "555";
    case pixel_format::a4r4g4b4: return "4444";
    case pixel_format::lum8: return "LUM8";
    case pixel_format::a8l8: return "A8L8";
    case pixel_format::pal8: return "PAL8";
    case pixel_format::pal4: return "PAL4";
  }
  return "?";
}

bool format_named(const std::string& name, pixel_format* out) {
  for (int f = 0; f <= int(pixel_format::pal4); ++f) {
    if (name == format_name(pixel_format(f))) {
      *out = pixel_format(f);
      return true;
    }
  }
  return false;
}

bool compressed(pixel_format format) {
  return format == pixel_format::dxt1 || format == pixel_format::dxt3 || format == pixel_format::dxt4 ||
         format == pixel_format::dxt5;
}

bool palettised(pixel_format format) { return format == pixel_format::pal8 || format == pixel_format::pal4; }

std::size_t level_size(pixel_format format, std::uint32_t w, std::uint32_t h, unsigned index_bits) {
  const std::size_t blocks = std::size_t(std::max(1u, (w + 3) / 4)) * std::max(1u, (h + 3) / 4);
  const std::size_t pixels = std::size_t(w) * h;
  switch (format) {
    case pixel_format::dxt1: return blocks * 8;
    case pixel_format::dxt3:
    case pixel_format::dxt4:
    case pixel_format::dxt5: return blocks * 16;
    case pixel_format::bgra8888:
    case pixel_format::bgr888: return pixels * 4;
    case pixel_format::lum8:
    case pixel_format::pal8: return pixels;
    case pixel_format::pal4: return index_bits == 4 ? std::size_t((w + 1) / 2) * h : pixels;
    default: return pixels * 2;
  }
}

std::size_t padded_level_size(pixel_format format, std::uint32_t w, std::uint32_t h, unsigned index_bits) {
  if (compressed(format)) return level_size(format, w, h, index_bits);
  return (level_size(format, w, 1, index_bits) + 3) / 4 * 4 * h;
}

bool power_of_two(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

std::vector<std::uint8_t> write(const dictionary& dict) {
  const dictionary_frame& frame = dict.frame;
  std::vector<std::uint8_t> body;
  std::vector<std::uint8_t> info;
  put16(info, std::uint16_t(dict.textures.size()));
  put16(info, dict.device_id);
  put_chunk(body, chunk_struct, info, frame.struct_stamp);
  for (const texture& t : dict.textures) {
    if (t.native.empty()) {
      put_chunk(body, chunk_texture_native, native_chunk(t), t.stamp);
    } else {
      body.insert(body.end(), t.native.begin(), t.native.end());
    }
  }
  if (frame.extension) put_chunk(body, chunk_extension, *frame.extension, frame.extension_stamp);
  body.insert(body.end(), frame.more_extensions.begin(), frame.more_extensions.end());
  std::vector<std::uint8_t> out;
  put_chunk(out, chunk_dictionary, body, frame.stamp);
  out.insert(out.end(), dict.trailing.begin(), dict.trailing.end());
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
