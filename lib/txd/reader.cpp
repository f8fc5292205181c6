// Reading dictionaries: every field is bounds-checked, and a malformed file is
// refused with the problem and its byte offset.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "file/whole_file.h"
#include "txd/pixels.h"
#include "txd/dictionary.h"
#include "txd/format.h"

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
  cursor(const std::uint8_t* data, std::size_t begin, std::size_t end, bool whole_file = false,
         std::uint32_t stamp = library_stamp)
      : data_(data), pos_(begin), end_(end), whole_file_(whole_file), stamp_(stamp) {}

  std::size_t pos() const { return pos_; }
  // The version stamp of the chunk this view is the body of.
  std::uint32_t stamp() const { return stamp_; }
  // The bytes from begin up to where the view stands.
  std::vector<std::uint8_t> since(std::size_t begin) const { return {data_ + begin, data_ + pos_}; }
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

  // The 32-bit value at offset bytes ahead, if the view holds it.
  std::optional<std::uint32_t> peek_u32(std::size_t offset) const {
    if (left() < 4 || left() - 4 < offset) return std::nullopt;
    std::uint32_t v;
    std::memcpy(&v, data_ + pos_ + offset, 4);
    return v;
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
    need(chunk_header_size, what);
    chunk_header header;
    read_chunk_header(data_, pos_, end_, &header);
    pos_ += chunk_header_size;
    const std::uint32_t found = header.type;
    const std::uint32_t size = header.size;
    const std::uint32_t stamp = header.stamp;  // any version is read the same way
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
    cursor body(data_, pos_, pos_ + size, false, stamp);
    pos_ += size;
    return body;
  }

  // An optional extension chunk's body, any further extension chunks (the
  // game reads as many as stand there, empty ones too) as raw bytes into
  // more, then the end of this view.
  std::optional<std::vector<std::uint8_t>> extension_then_end(const char* what, std::uint32_t* stamp,
                                                              std::vector<std::uint8_t>* more) {
    std::optional<std::vector<std::uint8_t>> body;
    more->clear();
    while (peek_type() == chunk_extension) {
      const std::size_t header_at = pos_;
      cursor extension = chunk(chunk_extension, what);
      if (body) {
        more->insert(more->end(), data_ + header_at, data_ + extension.end());
        continue;
      }
      *stamp = extension.stamp();
      body = std::vector<std::uint8_t>(data_ + extension.pos(), data_ + extension.end());
    }
    if (left() >= 12) {
      char text[120];
      std::snprintf(text, sizeof text, "a chunk of type 0x%X where only extension chunks may end the %s",
                    static_cast<unsigned>(peek_type()), what);
      throw failure{at(text, pos_)};
    }
    if (left() != 0) {
      char text[120];
      std::snprintf(text, sizeof text, "%zu bytes that are no chunk at the end of the %s", left(), what);
      throw failure{at(text, pos_)};
    }
    return body;
  }

 private:
  const std::uint8_t* data_;
  std::size_t pos_;
  std::size_t end_;
  bool whole_file_;
  std::uint32_t stamp_;
};

[[noreturn]] void unsupported(const char* what, std::uint32_t raster_format, std::uint32_t value, std::size_t offset) {
  char text[120];
  std::snprintf(text, sizeof text, "unsupported raster format 0x%X with %s %u", raster_format, what, value);
  throw failure{at(text, offset)};
}

pixel_format palettised_format(std::uint32_t raster_format, std::size_t offset) {
  if ((raster_format & raster_pal8) && (raster_format & raster_pal4)) {
    throw failure{at("raster format says both 8-bit and 4-bit palette", offset)};
  }
  return raster_format & raster_pal8 ? pixel_format::pal8 : pixel_format::pal4;
}

// Direct3D 9 natives: the Direct3D format says how the pixels are stored.
pixel_format classify_d3d9(std::uint32_t raster_format, std::uint32_t d3d_format, std::size_t offset) {
  if (raster_format & (raster_pal8 | raster_pal4)) return palettised_format(raster_format, offset);
  switch (d3d_format) {
    case d3d_dxt1: return pixel_format::dxt1;
    case d3d_dxt3: return pixel_format::dxt3;
    case d3d_dxt4: return pixel_format::dxt4;
    case d3d_dxt5: return pixel_format::dxt5;
    case d3d_a8r8g8b8:
      return (raster_format & raster_pixel_mask) == raster_888 ? pixel_format::bgr888 : pixel_format::bgra8888;
    case d3d_x8r8g8b8: return pixel_format::bgr888;
    case d3d_r5g6b5: return pixel_format::r5g6b5;
    case d3d_x1r5g5b5: return pixel_format::x1r5g5b5;
    case d3d_a1r5g5b5: return pixel_format::a1r5g5b5;
    case d3d_a4r4g4b4: return pixel_format::a4r4g4b4;
    case d3d_l8: return pixel_format::lum8;
    case d3d_a8l8: return pixel_format::a8l8;
    default: unsupported("Direct3D format", raster_format, d3d_format, offset);
  }
}

// Direct3D 8 natives: a compression byte, else the raster format.
pixel_format classify_d3d8(std::uint32_t raster_format, std::uint8_t compression, std::size_t offset) {
  if (raster_format & (raster_pal8 | raster_pal4)) return palettised_format(raster_format, offset);
  switch (compression) {
    case 0: break;
    case 1: return pixel_format::dxt1;
    case 3: return pixel_format::dxt3;
    case 4: return pixel_format::dxt4;
    case 5: return pixel_format::dxt5;
    default: unsupported("compression", raster_format, compression, offset);
  }
  switch (raster_format & raster_pixel_mask) {
    case raster_1555: return pixel_format::a1r5g5b5;
    case raster_565: return pixel_format::r5g6b5;
    case raster_4444: return pixel_format::a4r4g4b4;
    case raster_lum8: return pixel_format::lum8;
    case raster_8888: return pixel_format::bgra8888;
    case raster_888: return pixel_format::bgr888;
    case raster_555: return pixel_format::x1r5g5b5;
    default: unsupported("compression", raster_format, compression, offset);
  }
}

// A palette of 256 entries for 8-bit rasters. Writers store a 4-bit raster's
// palette with 32 entries or with 16, and its indices in a byte or in half of
// one: the layout whose first level size fits is the one the file has.
void read_palette(cursor& body, texture& t, std::uint32_t width, std::uint32_t height) {
  std::size_t entries = 256;
  if (t.format == pixel_format::pal4) {
    const std::size_t byte_wide = std::size_t(width) * height;
    const std::size_t half_wide = std::size_t((width + 1) / 2) * height;
    entries = 32;
    for (std::size_t candidate : {32, 16}) {
      const std::optional<std::uint32_t> size = body.peek_u32(candidate * 4);
      if (size && (*size == byte_wide || *size == half_wide)) {
        entries = candidate;
        t.index_bits = *size == byte_wide ? 8 : 4;
        break;
      }
    }
  }
  const std::uint8_t* p = body.bytes(entries * 4, "palette");
  t.palette.assign(p, p + entries * 4);
}

texture read_native(cursor& parent, unsigned index) {
  char what[40];
  std::snprintf(what, sizeof what, "texture native %u", index);
  const std::size_t native_at = parent.pos();
  cursor native = parent.chunk(chunk_texture_native, what);
  cursor body = native.chunk(chunk_struct, "texture struct");
  const std::size_t struct_at = body.pos();
  if (body.left() < native_fixed_size) {
    throw failure{at("texture struct shorter than its 88-byte fixed part", struct_at)};
  }
  texture t;
  t.stamp = body.stamp();
  const std::uint32_t platform = body.u32("platform id");
  if (platform != platform_d3d9 && platform != platform_d3d8) {
    char text[80];
    std::snprintf(text, sizeof text, "platform %u is neither Direct3D 8 nor Direct3D 9", platform);
    throw failure{at(text, struct_at)};
  }
  t.filter = body.u8("filter mode");
  t.addressing = body.u8("addressing");
  body.u16("padding");
  t.name = body.text(32, "name");
  t.mask_name = body.text(32, "mask name");
  const std::size_t format_at = body.pos();
  const std::uint32_t raster_format = body.u32("raster format");
  const std::uint32_t d3d_format = body.u32(platform == platform_d3d9 ? "Direct3D format" : "alpha");
  const std::uint32_t width = body.u16("width");
  const std::uint32_t height = body.u16("height");
  const std::uint8_t depth = body.u8("depth");
  const std::uint32_t level_field = body.u8("mip level count");
  const std::uint8_t raster_type = body.u8("raster type");
  const std::uint8_t flags = body.u8(platform == platform_d3d9 ? "flags" : "compression");
  t.raster = raster_fields{platform, raster_format, d3d_format, depth, raster_type, flags};
  t.fixed_part = body.since(struct_at);
  if (platform == platform_d3d9) {
    if (flags & flag_cube) throw failure{at("cube textures are not supported", format_at + 15)};
    t.format = classify_d3d9(raster_format, d3d_format, format_at);
    t.has_alpha = (flags & flag_alpha) != 0;
  } else {
    t.format = classify_d3d8(raster_format, flags, format_at);
    t.has_alpha = d3d_format != 0;
  }
  if (width == 0 || height == 0 || width > max_dimension || height > max_dimension) {
    char text[80];
    std::snprintf(text, sizeof text, "dimensions %u x %u outside 1 to %u", width, height, max_dimension);
    throw failure{at(text, format_at + 8)};
  }
  unsigned max_levels = 1;
  while ((std::max(width, height) >> (max_levels - 1)) > 1) ++max_levels;
  if (level_field > max_levels) {
    char text[80];
    std::snprintf(text, sizeof text, "mip level count %u for %u x %u", level_field, width, height);
    throw failure{at(text, format_at + 13)};
  }
  if (palettised(t.format)) read_palette(body, t, width, height);
  // The game reads a count of 0 as one level.
  const std::uint32_t level_count = std::max(1u, level_field);
  for (std::uint32_t i = 0; i < level_count; ++i) {
    const std::uint32_t w = std::max(1u, width >> i);
    const std::uint32_t h = std::max(1u, height >> i);
    const std::size_t size_at = body.pos();
    const std::uint32_t size = body.u32("level size");
    const std::size_t expected = level_size(t.format, w, h, t.index_bits);
    if (size != expected && size != padded_level_size(t.format, w, h, t.index_bits)) {
      char text[120];
      std::snprintf(text, sizeof text, "level %u holds %u bytes, %zu expected for %u x %u %s", i, size,
                    expected, w, h, format_name(t.format));
      throw failure{at(text, size_at)};
    }
    const std::uint8_t* data = body.bytes(size, "level data");
    t.levels.push_back(level{w, h, decode_pixels(t, w, h, data, size), std::vector<std::uint8_t>(data, data + size)});
  }
  if (body.left() != 0) {
    char text[80];
    std::snprintf(text, sizeof text, "%zu bytes after the last level of the texture struct", body.left());
    throw failure{at(text, body.pos())};
  }
  std::uint32_t extension_stamp = 0;
  t.extension = native.extension_then_end("texture native", &extension_stamp, &t.more_extensions);
  t.native = parent.since(native_at);
  return t;
}

}  // namespace

std::optional<pixel_format> format_of(const raster_fields& fields) {
  try {
    return fields.platform == platform_d3d8 ? classify_d3d8(fields.raster_format, fields.flags, 0)
                                            : classify_d3d9(fields.raster_format, fields.d3d_format, 0);
  } catch (const failure&) {
    return std::nullopt;
  }
}

const texture* dictionary::find(const std::string& name) const {
  const texture* found = nullptr;
  for (const texture& t : textures) {
    if (same_texture_name(t.name.c_str(), name.c_str())) found = &t;
  }
  return found;
}

read_result read(const std::uint8_t* data, std::size_t size) {
  read_result result;
  try {
    cursor file(data, 0, size, true);
    cursor dict = file.chunk(chunk_dictionary, "texture dictionary");
    cursor info = dict.chunk(chunk_struct, "dictionary struct");
    dictionary_frame& frame = result.dict.frame;
    frame.stamp = dict.stamp();
    frame.struct_stamp = info.stamp();
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
    frame.extension = dict.extension_then_end("texture dictionary", &frame.extension_stamp, &frame.more_extensions);
    result.dict.trailing.assign(data + file.pos(), data + size);
    result.ok = true;
  } catch (const failure& f) {
    result.dict = dictionary{};
    result.error = f.message;
  }
  return result;
}

read_result read_file(const std::string& path) {
  const file::whole_file f = file::read_whole(path);
  if (!f.ok) {
    read_result r;
    r.error = f.error;
    return r;
  }
  return read(f.bytes.data(), f.bytes.size());
}

}  // namespace txd
