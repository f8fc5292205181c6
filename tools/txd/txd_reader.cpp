// Reading dictionaries: every field is bounds-checked, and a malformed file is
// refused with the problem and its byte offset.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "dxt.h"
#include "txd_file.h"
#include "txd_format.h"

namespace txd {
namespace {

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
  cursor(const std::uint8_t* data, std::size_t begin, std::size_t end, bool whole_file = false)
      : data_(data), pos_(begin), end_(end), whole_file_(whole_file) {}

  std::size_t pos() const { return pos_; }
  std::size_t end() const { return end_; }
  std::size_t left() const { return end_ - pos_; }

  void need(std::size_t n, const char* what) const {
    if (left() >= n) return;
    char text[160];
    std::snprintf(text, sizeof text, "truncated %s: %zu bytes needed, %zu left (%zu missing)", what, n, left(),
                  n - left());
    throw failure{at(text, pos_)};
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
      char text[160];
      // Past the end of the file itself the file was cut short; inside it, a
      // size field is wrong.
      std::snprintf(text, sizeof text,
                    whole_file_ ? "the file is truncated: %s chunk of %u bytes, %zu left (%zu bytes missing)"
                                : "%s chunk of %u bytes overruns its parent (%zu left, %zu missing)",
                    what, size, left(), std::size_t(size) - left());
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
  bool whole_file_;
};

std::vector<std::uint8_t> decode_level(pixel_format format, std::uint32_t w, std::uint32_t h, const std::uint8_t* src) {
  if (format != pixel_format::bgra8888 && format != pixel_format::bgr888) return decode_blocks(format, w, h, src);
  std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
  for (std::size_t i = 0; i < std::size_t(w) * h; ++i) {
    rgba[i * 4 + 0] = src[i * 4 + 2];
    rgba[i * 4 + 1] = src[i * 4 + 1];
    rgba[i * 4 + 2] = src[i * 4 + 0];
    rgba[i * 4 + 3] = format == pixel_format::bgr888 ? 255 : src[i * 4 + 3];
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
  const std::uint8_t depth = body.u8("depth");
  const std::uint32_t level_count = body.u8("mip level count");
  const std::uint8_t raster_type = body.u8("raster type");
  const std::uint8_t flags = body.u8("flags");
  t.raster = raster_fields{raster_format, d3d_format, depth, raster_type, flags};
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
    t.levels.push_back(level{w, h, decode_level(t.format, w, h, data), std::vector<std::uint8_t>(data, data + size)});
  }
  native.chunk(chunk_extension, "texture extension");
  return t;
}

}  // namespace

const texture* dictionary::find(const std::string& name) const {
  for (const texture& t : textures) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

read_result read(const std::uint8_t* data, std::size_t size) {
  read_result result;
  try {
    cursor file(data, 0, size, true);
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
    r.error = std::string("cannot open: ") + std::strerror(errno);
    return r;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return read(bytes.data(), bytes.size());
}

}  // namespace txd
