#include "txd_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace txd {
namespace {

constexpr std::uint32_t raster_8888 = 0x0500;
constexpr std::uint32_t raster_888 = 0x0600;
constexpr std::uint32_t raster_has_mipmaps = 0x8000;
constexpr std::uint32_t d3d_a8r8g8b8 = 21;
constexpr std::uint32_t d3d_x8r8g8b8 = 22;
constexpr std::uint32_t fourcc(const char (&s)[5]) {
  return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
         std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}
constexpr std::uint32_t d3d_dxt1 = fourcc("DXT1");
constexpr std::uint32_t d3d_dxt3 = fourcc("DXT3");
constexpr std::uint32_t d3d_dxt5 = fourcc("DXT5");

struct failure {
  std::string message;
};

std::string at(const std::string& what, std::size_t offset) {
  char where[32];
  std::snprintf(where, sizeof where, " at byte %zu", offset);
  return what + where;
}

// A bounded view over the file; every read checks its end.
class cursor {
 public:
  cursor(const std::uint8_t* data, std::size_t begin, std::size_t end)
      : data_(data), pos_(begin), end_(end) {}

  std::size_t pos() const { return pos_; }
  std::size_t end() const { return end_; }
  std::size_t left() const { return end_ - pos_; }

  void need(std::size_t n, const char* what) const {
    if (left() < n) throw failure{at(std::string("truncated ") + what, pos_)};
  }
  std::uint32_t u32(const char* what) {
    need(4, what);
    std::uint32_t v;
    std::memcpy(&v, data_ + pos_, 4);
    pos_ += 4;
    return v;
  }
  std::uint16_t u16(const char* what) {
    need(2, what);
    std::uint16_t v;
    std::memcpy(&v, data_ + pos_, 2);
    pos_ += 2;
    return v;
  }
  std::uint8_t u8(const char* what) {
    need(1, what);
    return data_[pos_++];
  }
  std::string text(std::size_t n, const char* what) {
    need(n, what);
    const char* p = reinterpret_cast<const char*>(data_ + pos_);
    pos_ += n;
    return std::string(p, strnlen(p, n));
  }
  const std::uint8_t* bytes(std::size_t n, const char* what) {
    need(n, what);
    const std::uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }

  // Type of the next chunk, or 0 when no header fits.
  std::uint32_t peek_type() const {
    if (left() < 12) return 0;
    std::uint32_t v;
    std::memcpy(&v, data_ + pos_, 4);
    return v;
  }

  // The next chunk, which must be of the given type and fit in this view.
  cursor chunk(std::uint32_t type, const char* what) {
    const std::size_t header_at = pos_;
    need(12, what);
    const std::uint32_t found = u32(what);
    const std::uint32_t size = u32(what);
    u32(what);  // library stamp: any version is read the same way
    if (found != type) {
      char text[96];
      std::snprintf(text, sizeof text, "expected %s chunk (type 0x%X), found type 0x%X", what, type, found);
      throw failure{at(text, header_at)};
    }
    if (size > left()) {
      char text[96];
      std::snprintf(text, sizeof text, "%s chunk of %u bytes overruns its parent (%zu left)", what, size, left());
      throw failure{at(text, header_at)};
    }
    cursor body(data_, pos_, pos_ + size);
    pos_ += size;
    return body;
  }

 private:
  const std::uint8_t* data_;
  std::size_t pos_;
  std::size_t end_;
};

std::size_t level_size(pixel_format format, std::uint32_t w, std::uint32_t h) {
  const std::size_t blocks = std::size_t(std::max(1u, (w + 3) / 4)) * std::max(1u, (h + 3) / 4);
  switch (format) {
    case pixel_format::dxt1: return blocks * 8;
    case pixel_format::dxt3:
    case pixel_format::dxt5: return blocks * 16;
    default: return std::size_t(w) * h * 4;
  }
}

void colour565(std::uint16_t c, std::uint8_t* rgb) {
  rgb[0] = std::uint8_t(((c >> 11) & 31) * 255 / 31);
  rgb[1] = std::uint8_t(((c >> 5) & 63) * 255 / 63);
  rgb[2] = std::uint8_t((c & 31) * 255 / 31);
}

// One 4 x 4 block's colours; DXT1 blocks may have a transparent fourth colour.
void decode_colour_block(const std::uint8_t* block, bool dxt1, std::uint8_t out[16][4]) {
  const std::uint16_t c0 = std::uint16_t(block[0] | block[1] << 8);
  const std::uint16_t c1 = std::uint16_t(block[2] | block[3] << 8);
  std::uint8_t palette[4][4] = {};
  colour565(c0, palette[0]);
  colour565(c1, palette[1]);
  palette[0][3] = palette[1][3] = palette[2][3] = palette[3][3] = 255;
  for (int k = 0; k < 3; ++k) {
    if (c0 > c1 || !dxt1) {
      palette[2][k] = std::uint8_t((2 * palette[0][k] + palette[1][k]) / 3);
      palette[3][k] = std::uint8_t((palette[0][k] + 2 * palette[1][k]) / 3);
    } else {
      palette[2][k] = std::uint8_t((palette[0][k] + palette[1][k]) / 2);
      palette[3][k] = 0;
    }
  }
  if (dxt1 && c0 <= c1) palette[3][3] = 0;
  const std::uint32_t bits = std::uint32_t(block[4]) | std::uint32_t(block[5]) << 8 |
                             std::uint32_t(block[6]) << 16 | std::uint32_t(block[7]) << 24;
  for (int i = 0; i < 16; ++i) std::memcpy(out[i], palette[(bits >> (2 * i)) & 3], 4);
}

void decode_alpha_dxt5(const std::uint8_t* block, std::uint8_t out[16][4]) {
  std::uint8_t a[8];
  a[0] = block[0];
  a[1] = block[1];
  if (a[0] > a[1]) {
    for (int i = 1; i < 7; ++i) a[i + 1] = std::uint8_t(((7 - i) * a[0] + i * a[1]) / 7);
  } else {
    for (int i = 1; i < 5; ++i) a[i + 1] = std::uint8_t(((5 - i) * a[0] + i * a[1]) / 5);
    a[6] = 0;
    a[7] = 255;
  }
  std::uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= std::uint64_t(block[2 + i]) << (8 * i);
  for (int i = 0; i < 16; ++i) out[i][3] = a[(bits >> (3 * i)) & 7];
}

std::vector<std::uint8_t> decode(pixel_format format, std::uint32_t w, std::uint32_t h,
                                 const std::uint8_t* src) {
  std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
  if (format == pixel_format::bgra8888 || format == pixel_format::bgr888) {
    for (std::size_t i = 0; i < std::size_t(w) * h; ++i) {
      rgba[i * 4 + 0] = src[i * 4 + 2];
      rgba[i * 4 + 1] = src[i * 4 + 1];
      rgba[i * 4 + 2] = src[i * 4 + 0];
      rgba[i * 4 + 3] = format == pixel_format::bgr888 ? 255 : src[i * 4 + 3];
    }
    return rgba;
  }
  const std::size_t block_bytes = format == pixel_format::dxt1 ? 8 : 16;
  const std::uint32_t bw = std::max(1u, (w + 3) / 4);
  const std::uint32_t bh = std::max(1u, (h + 3) / 4);
  for (std::uint32_t by = 0; by < bh; ++by) {
    for (std::uint32_t bx = 0; bx < bw; ++bx) {
      const std::uint8_t* block = src + (std::size_t(by) * bw + bx) * block_bytes;
      std::uint8_t px[16][4];
      if (format == pixel_format::dxt1) {
        decode_colour_block(block, true, px);
      } else {
        decode_colour_block(block + 8, false, px);
        if (format == pixel_format::dxt3) {
          for (int i = 0; i < 16; ++i) {
            const std::uint8_t nibble = (block[i / 2] >> (4 * (i % 2))) & 15;
            px[i][3] = std::uint8_t(nibble * 17);
          }
        } else {
          decode_alpha_dxt5(block, px);
        }
      }
      for (int i = 0; i < 16; ++i) {
        const std::uint32_t x = bx * 4 + i % 4;
        const std::uint32_t y = by * 4 + i / 4;
        if (x < w && y < h) std::memcpy(&rgba[(std::size_t(y) * w + x) * 4], px[i], 4);
      }
    }
  }
  return rgba;
}

pixel_format classify(std::uint32_t raster_format, std::uint32_t d3d_format, std::size_t offset) {
  if (d3d_format == d3d_dxt1) return pixel_format::dxt1;
  if (d3d_format == d3d_dxt3) return pixel_format::dxt3;
  if (d3d_format == d3d_dxt5) return pixel_format::dxt5;
  const std::uint32_t base = raster_format & 0x0F00;
  if (raster_format & 0x6000) throw failure{at("palettised rasters are not supported", offset)};
  if (base == raster_8888 && d3d_format == d3d_a8r8g8b8) return pixel_format::bgra8888;
  if (base == raster_888 && (d3d_format == d3d_x8r8g8b8 || d3d_format == d3d_a8r8g8b8)) {
    return pixel_format::bgr888;
  }
  char text[96];
  std::snprintf(text, sizeof text, "unsupported raster format 0x%X with Direct3D format %u", raster_format,
                d3d_format);
  throw failure{at(text, offset)};
}

texture read_native(cursor& parent, unsigned index) {
  char what[40];
  std::snprintf(what, sizeof what, "texture native %u", index);
  cursor native = parent.chunk(chunk_texture_native, what);
  cursor body = native.chunk(chunk_struct, "texture struct");
  const std::size_t struct_at = body.pos();
  if (body.left() < native_fixed_size) {
    throw failure{at("texture struct shorter than its 88-byte fixed part", struct_at)};
  }
  texture t;
  const std::uint32_t platform = body.u32("platform id");
  if (platform != platform_d3d9) {
    char text[64];
    std::snprintf(text, sizeof text, "platform %u is not Direct3D 9", platform);
    throw failure{at(text, struct_at)};
  }
  t.filter = body.u8("filter mode");
  t.addressing = body.u8("addressing");
  body.u16("padding");
  t.name = body.text(32, "name");
  t.mask_name = body.text(32, "mask name");
  const std::size_t format_at = body.pos();
  const std::uint32_t raster_format = body.u32("raster format");
  const std::uint32_t d3d_format = body.u32("Direct3D format");
  const std::uint32_t width = body.u16("width");
  const std::uint32_t height = body.u16("height");
  body.u8("depth");
  const std::uint32_t level_count = body.u8("mip level count");
  body.u8("raster type");
  const std::uint8_t flags = body.u8("flags");
  t.format = classify(raster_format, d3d_format, format_at);
  if (width == 0 || height == 0 || width > max_dimension || height > max_dimension) {
    char text[80];
    std::snprintf(text, sizeof text, "dimensions %u x %u outside 1 to %u", width, height, max_dimension);
    throw failure{at(text, format_at + 8)};
  }
  unsigned max_levels = 1;
  while ((std::max(width, height) >> (max_levels - 1)) > 1) ++max_levels;
  if (level_count == 0 || level_count > max_levels) {
    char text[80];
    std::snprintf(text, sizeof text, "mip level count %u for %u x %u", level_count, width, height);
    throw failure{at(text, format_at + 13)};
  }
  t.has_alpha = (flags & 1) != 0;
  for (std::uint32_t i = 0; i < level_count; ++i) {
    const std::uint32_t w = std::max(1u, width >> i);
    const std::uint32_t h = std::max(1u, height >> i);
    const std::size_t size_at = body.pos();
    const std::uint32_t size = body.u32("level size");
    const std::size_t expected = level_size(t.format, w, h);
    if (size != expected) {
      char text[120];
      std::snprintf(text, sizeof text, "level %u holds %u bytes, %zu expected for %u x %u %s", i, size,
                    expected, w, h, format_name(t.format));
      throw failure{at(text, size_at)};
    }
    const std::uint8_t* data = body.bytes(size, "level data");
    t.levels.push_back(level{w, h, decode(t.format, w, h, data)});
  }
  native.chunk(chunk_extension, "texture extension");
  return t;
}

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

std::vector<std::uint8_t> native_chunk(const texture& t) {
  std::vector<std::uint8_t> s;
  const std::uint32_t width = t.levels.empty() ? 0 : t.levels[0].width;
  const std::uint32_t height = t.levels.empty() ? 0 : t.levels[0].height;
  bool alpha = false;
  for (const level& l : t.levels) {
    for (std::size_t i = 3; i < l.rgba.size(); i += 4) alpha = alpha || l.rgba[i] != 255;
  }
  put32(s, platform_d3d9);
  s.push_back(t.levels.size() > 1 ? 6 : 2);
  s.push_back(t.addressing);
  put16(s, 0);
  put_text(s, t.name);
  put_text(s, t.mask_name);
  put32(s, raster_8888 | (t.levels.size() > 1 ? raster_has_mipmaps : 0));
  put32(s, d3d_a8r8g8b8);
  put16(s, std::uint16_t(width));
  put16(s, std::uint16_t(height));
  s.push_back(32);
  s.push_back(std::uint8_t(t.levels.size()));
  s.push_back(4);
  s.push_back(alpha ? 1 : 0);
  for (const level& l : t.levels) {
    put32(s, std::uint32_t(l.rgba.size()));
    for (std::size_t i = 0; i < l.rgba.size(); i += 4) {
      s.push_back(l.rgba[i + 2]);
      s.push_back(l.rgba[i + 1]);
      s.push_back(l.rgba[i + 0]);
      s.push_back(l.rgba[i + 3]);
    }
  }
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

const texture* dictionary::find(const std::string& name) const {
  for (const texture& t : textures) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

read_result read(const std::uint8_t* data, std::size_t size) {
  read_result result;
  try {
    cursor file(data, 0, size);
    cursor dict = file.chunk(chunk_dictionary, "texture dictionary");
    cursor info = dict.chunk(chunk_struct, "dictionary struct");
    const std::uint16_t count = info.u16("texture count");
    result.dict.device_id = info.u16("device id");
    for (unsigned i = 0; i < count; ++i) {
      if (dict.peek_type() != chunk_texture_native) {
        char text[80];
        std::snprintf(text, sizeof text, "dictionary announces %u textures but holds %u", count, i);
        throw failure{at(text, dict.pos())};
      }
      result.dict.textures.push_back(read_native(dict, i));
    }
    if (dict.peek_type() == chunk_texture_native) {
      char text[80];
      std::snprintf(text, sizeof text, "dictionary holds more textures than the %u it announces", count);
      throw failure{at(text, dict.pos())};
    }
    dict.chunk(chunk_extension, "dictionary extension");
    result.ok = true;
  } catch (const failure& f) {
    result.dict = dictionary{};
    result.error = f.message;
  }
  return result;
}

read_result read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    read_result r;
    r.error = "cannot open " + path;
    return r;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return read(bytes.data(), bytes.size());
}

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
  chain.push_back(level{width, height, rgba});
  while (chain.back().width > 1 || chain.back().height > 1) {
    const level& up = chain.back();
    level down{std::max(1u, up.width / 2), std::max(1u, up.height / 2), {}};
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
