#include "txd/dictionary_walk.h"

#include <cstdio>
#include <cstring>

#include "txd/format.h"

namespace txd {
namespace {

constexpr std::uint32_t oldest_version = 0x31000;  // 3.1
constexpr std::uint32_t newest_version = 0x36003;  // 3.6.0.3

std::uint32_t u32_at(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint32_t u16_at(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }

// Bytes a pixel takes in an uncompressed surface, 0 for none the game makes.
unsigned d3d9_pixel_bytes(std::uint32_t d3d_format) {
  switch (d3d_format) {
    case d3d_r8g8b8: return 3;
    case d3d_a8r8g8b8: case d3d_x8r8g8b8: return 4;
    case d3d_r5g6b5: case d3d_x1r5g5b5: case d3d_a1r5g5b5: case d3d_a4r4g4b4: return 2;
    case d3d_p8: case d3d_l8: return 1;
    case d3d_a8l8: return 2;
    default: return 0;
  }
}

unsigned d3d8_pixel_bytes(std::uint32_t raster_format) {
  switch (raster_format & raster_pixel_mask) {
    case raster_1555: case raster_565: case raster_4444: case raster_555: return 2;
    case raster_lum8: return 1;
    case raster_8888: case raster_888: return 4;  // 888 as X8R8G8B8
    default: return 0;
  }
}

// Bytes of one DXT block, 0 when the format is none.
unsigned dxt_block_bytes(std::uint32_t d3d_format) {
  if (d3d_format == d3d_dxt1) return 8;
  for (std::uint32_t f : {d3d_dxt2, d3d_dxt3, d3d_dxt4, d3d_dxt5}) {
    if (d3d_format == f) return 16;
  }
  return 0;
}

std::size_t blocks(std::uint32_t w, std::uint32_t h, unsigned block_bytes) {
  return std::size_t((w + 3) / 4) * ((h + 3) / 4) * block_bytes;
}

std::size_t rows(std::uint32_t w, std::uint32_t h, unsigned pixel_bytes) {
  return ((std::size_t(w) * pixel_bytes + 3) & ~std::size_t(3)) * h;
}

// A part of the file: [begin, end).
struct span {
  std::size_t begin;
  std::size_t end;
};

class walker {
 public:
  walker(const std::uint8_t* bytes, std::size_t size, std::vector<walked_texture>* textures)
      : bytes_(bytes), size_(size), textures_(textures) {}

  walk_result run() {
    if (!find_dictionary()) return result_;
    const bool ok = walk_dictionary_body();
    if (ok) result_.verdict = walk_verdict::readable;
    return result_;
  }

 private:
  template <class... Args>
  bool refuse(walk_verdict verdict, const char* format, Args... args) {
    result_.verdict = verdict;
    std::snprintf(result_.why, sizeof result_.why, format, args...);
    return false;
  }
  bool fails(const char* format, auto... args) { return refuse(walk_verdict::reader_fails, format, args...); }
  bool contradicts(const char* format, auto... args) {
    return refuse(walk_verdict::contradicts_itself, format, args...);
  }
  static unsigned long at(std::size_t offset) { return static_cast<unsigned long>(offset); }

  // A chunk of the given size at offset, checked against the part holding it.
  bool fits(std::size_t offset, const chunk_header& h, const span& parent) {
    if (h.size <= parent.end - offset - chunk_header_size) return true;
    if (h.size > size_ - offset - chunk_header_size) return contradicts("cut at byte %lu", at(size_));
    return contradicts("the chunk at byte %lu runs past the one holding it", at(offset));
  }

  enum class search { found, ran_out, refused };

  // As RwStreamFindChunk finds a chunk: others are skipped, and the one found
  // must carry a version the game reads. The search stays inside within: the
  // game would read on past it, into what the file says is something else.
  search find(std::uint32_t type, span& within, span* body, const char* what) {
    while (within.end - within.begin >= chunk_header_size) {
      chunk_header h;
      read_chunk_header(bytes_, within.begin, within.end, &h);
      if (!fits(within.begin, h, within)) return search::refused;
      const std::size_t header_at = within.begin;
      within.begin += chunk_header_size + h.size;
      if (h.type != type) continue;
      if (!readable_stamp(h.stamp)) {
        fails("the %s chunk at byte %lu has version stamp 0x%X, not RenderWare 3.1 to 3.6.0.3", what, at(header_at),
              h.stamp);
        return search::refused;
      }
      *body = span{header_at + chunk_header_size, header_at + chunk_header_size + h.size};
      return search::found;
    }
    return search::ran_out;
  }

  // A chunk that must be there: running out of the file fails the game's
  // reader; running out of the chunk holding it, it reads on past that.
  bool require(std::uint32_t type, span& within, span* body, const char* what) {
    const search s = find(type, within, body, what);
    if (s == search::found) return true;
    if (s == search::refused) return false;
    if (within.end == size_) return fails("no %s chunk before the end of the file", what);
    return contradicts("no %s chunk inside the chunk that ends at byte %lu", what, at(within.end));
  }

  bool find_dictionary() {
    std::size_t at_ = 0;
    chunk_header h;
    while (read_chunk_header(bytes_, at_, size_, &h)) {
      if (h.type == chunk_dictionary) {
        if (!readable_stamp(h.stamp)) {
          return refuse(walk_verdict::no_dictionary,
                        "its texture dictionary chunk has version stamp 0x%X, not RenderWare 3.1 to 3.6.0.3",
                        h.stamp);
        }
        if (!fits(at_, h, span{0, size_})) return false;
        dictionary_ = span{at_ + chunk_header_size, at_ + chunk_header_size + h.size};
        return true;
      }
      if (h.size > size_ - at_ - chunk_header_size) break;
      at_ += chunk_header_size + h.size;
    }
    return refuse(walk_verdict::no_dictionary, "it holds no texture dictionary chunk");
  }

  // Whether any extension chunk stands among the dictionary's chunks or its
  // natives': files without any are read without them.
  bool holds_extensions() const {
    chunk_header h;
    for (std::size_t at_ = dictionary_.begin; read_chunk_header(bytes_, at_, dictionary_.end, &h);) {
      if (h.size > dictionary_.end - at_ - chunk_header_size) return false;
      if (h.type == chunk_extension) return true;
      if (h.type == chunk_texture_native) {
        const std::size_t end = at_ + chunk_header_size + h.size;
        chunk_header inner;
        for (std::size_t in = at_ + chunk_header_size; read_chunk_header(bytes_, in, end, &inner);) {
          if (inner.size > end - in - chunk_header_size) break;
          if (inner.type == chunk_extension) return true;
          in += chunk_header_size + inner.size;
        }
      }
      at_ += chunk_header_size + h.size;
    }
    return false;
  }

  // The extension chunk after an object; its parts are read by their sizes.
  bool extension(span& within, const char* whose) {
    if (!extensions_) return true;
    span body{};
    if (!require(chunk_extension, within, &body, "extension")) return false;
    std::size_t part = body.begin;
    while (part != body.end) {
      chunk_header h;
      if (!read_chunk_header(bytes_, part, body.end, &h) || h.size > body.end - part - chunk_header_size) {
        return fails("the extension of %s at byte %lu: its parts do not fit its length", whose,
                     at(body.begin - chunk_header_size));
      }
      part += chunk_header_size + h.size;
    }
    return true;
  }

  bool walk_dictionary_body() {
    extensions_ = holds_extensions();
    span rest = dictionary_;
    span info{};
    if (!require(chunk_struct, rest, &info, "dictionary struct")) return false;
    if (info.end - info.begin < 4) {
      return contradicts("the dictionary struct at byte %lu holds %lu bytes, not its 4", at(info.begin - 12),
                         at(info.end - info.begin));
    }
    announced_ = u16_at(bytes_ + info.begin);
    for (unsigned i = 1; i <= announced_; ++i) {
      span native{};
      const search s = find(chunk_texture_native, rest, &native, "texture native");
      if (s == search::refused) return false;
      if (s == search::ran_out) {
        return refuse(rest.end == size_ ? walk_verdict::reader_fails : walk_verdict::contradicts_itself,
                      "it announces %u textures and holds %u", announced_, i - 1);
      }
      char whose[24];
      std::snprintf(whose, sizeof whose, "texture %u", i);
      if (!walk_native(native, i)) return false;
      span after_struct = native_rest_;
      if (!extension(after_struct, whose)) return false;
      // The search for the next texture steps over the rest of this one.
      while (after_struct.begin != after_struct.end) {
        chunk_header h;
        if (!read_chunk_header(bytes_, after_struct.begin, after_struct.end, &h)) {
          return contradicts("%s: %lu bytes that are no chunk at the end of its native", whose,
                             at(after_struct.end - after_struct.begin));
        }
        if (!fits(after_struct.begin, h, after_struct)) return false;
        after_struct.begin += chunk_header_size + h.size;
      }
      if (textures_) {
        walked_texture t;
        t.native_at = native.begin - chunk_header_size;
        std::memcpy(t.name, bytes_ + native_struct_ + 8, sizeof t.name);
        textures_->push_back(t);
      }
    }
    return extension(rest, "the dictionary");
  }

  // A texture native's struct, read as the game's Direct3D driver reads it.
  bool walk_native(span native, unsigned n) {
    span st{};
    if (!require(chunk_struct, native, &st, "texture struct")) return false;
    native_rest_ = native;
    native_struct_ = st.begin;
    if (st.end - st.begin < native_fixed_size) {
      return contradicts("texture %u: its struct ends inside its 88-byte fixed part", n);
    }
    const std::uint8_t* f = bytes_ + st.begin;
    const std::uint32_t platform = u32_at(f);
    if (platform != platform_d3d8 && platform != platform_d3d9) {
      return fails("texture %u: platform %u, not Direct3D 8 or 9", n, platform);
    }
    const std::uint32_t raster_format = u32_at(f + 72);
    const std::uint32_t d3d_format = u32_at(f + 76);
    const std::uint32_t width = u16_at(f + 80);
    const std::uint32_t height = u16_at(f + 82);
    const std::uint32_t level_field = f[85];
    const std::uint8_t last = f[87];  // Direct3D 9: flags; Direct3D 8: compression
    if (width == 0 || height == 0 || width > max_dimension || height > max_dimension) {
      return fails("texture %u: sides %u x %u, not 1 to 4096", n, width, height);
    }
    if ((raster_format & raster_pal8) && (raster_format & raster_pal4)) {
      return fails("texture %u: raster format 0x%X says both an 8-bit and a 4-bit palette", n, raster_format);
    }
    if (platform == platform_d3d9 && d3d9_pixel_bytes(d3d_format) == 0 && dxt_block_bytes(d3d_format) == 0) {
      return fails("texture %u: Direct3D format 0x%X, which the game cannot create", n, d3d_format);
    }
    if (platform == platform_d3d8 && last > 5) return fails("texture %u: compression %u", n, unsigned(last));
    if (level_storage(platform, raster_format, d3d_format, last, 1, 1) == 0) {
      return fails("texture %u: raster format 0x%X, no pixel format the game knows", n, raster_format);
    }
    unsigned max_levels = 1;
    while (((width > height ? width : height) >> max_levels) > 0) ++max_levels;
    if (level_field > max_levels) {
      return fails("texture %u: %u levels, more than %u x %u allows", n, level_field, width, height);
    }
    std::size_t pos = st.begin + native_fixed_size;
    const std::size_t palette = (raster_format & raster_pal8) ? 256 * 4 : (raster_format & raster_pal4) ? 16 * 4 : 0;
    if (st.end - pos < palette) return contradicts("texture %u: its struct ends inside its palette", n);
    pos += palette;
    const unsigned faces = platform == platform_d3d9 && (last & flag_cube) ? 6 : 1;
    const std::uint32_t levels = level_field == 0 ? 1 : level_field;
    for (unsigned face = 0; face < faces; ++face) {
      for (std::uint32_t i = 0; i < levels; ++i) {
        if (st.end - pos < 4) return contradicts("texture %u: its struct ends before the size of level %u", n, i);
        const std::size_t announced = u32_at(bytes_ + pos);
        const std::uint32_t w = (width >> i) ? (width >> i) : 1;
        const std::uint32_t h = (height >> i) ? (height >> i) : 1;
        const std::size_t storage = level_storage(platform, raster_format, d3d_format, last, w, h);
        if (announced > storage) {
          return fails("texture %u: level %u announces %lu bytes where its surface holds %lu", n, i, at(announced),
                       at(storage));
        }
        pos += 4;
        if (st.end - pos < announced) return contradicts("texture %u: level %u runs past its struct", n, i);
        pos += announced;
      }
    }
    if (pos != st.end) return contradicts("texture %u: %lu bytes after its last level", n, at(st.end - pos));
    return true;
  }

  const std::uint8_t* bytes_;
  std::size_t size_;
  std::vector<walked_texture>* textures_;
  walk_result result_;
  span dictionary_{};
  span native_rest_{};  // of the native being walked, after its struct
  std::size_t native_struct_ = 0;
  unsigned announced_ = 0;  // the dictionary struct's count
  bool extensions_ = true;
};

}  // namespace

bool read_chunk_header(const std::uint8_t* bytes, std::size_t offset, std::size_t end, chunk_header* out) {
  if (offset > end || end - offset < chunk_header_size) return false;
  out->type = u32_at(bytes + offset);
  out->size = u32_at(bytes + offset + 4);
  out->stamp = u32_at(bytes + offset + 8);
  return true;
}

std::uint32_t stamp_version(std::uint32_t stamp) {
  if ((stamp & 0xFFFF0000u) == 0) return stamp << 8;
  return (((stamp >> 14) & 0x3FF00u) + 0x30000u) | ((stamp >> 16) & 0x3Fu);
}

bool readable_stamp(std::uint32_t stamp) {
  const std::uint32_t version = stamp_version(stamp);
  return version >= oldest_version && version <= newest_version;
}

std::size_t level_storage(std::uint32_t platform, std::uint32_t raster_format, std::uint32_t d3d_format,
                          std::uint8_t compression_or_flags, std::uint32_t width, std::uint32_t height) {
  if (platform == platform_d3d9) {
    if (const unsigned block = dxt_block_bytes(d3d_format)) return blocks(width, height, block);
    if (d3d9_pixel_bytes(d3d_format) == 0) return 0;
    if (raster_format & (raster_pal8 | raster_pal4)) return rows(width, height, 1);
    return rows(width, height, d3d9_pixel_bytes(d3d_format));
  }
  if (platform != platform_d3d8 || compression_or_flags > 5) return 0;
  if (compression_or_flags != 0) return blocks(width, height, compression_or_flags == 1 ? 8 : 16);
  if (raster_format & (raster_pal8 | raster_pal4)) return rows(width, height, 1);
  return rows(width, height, d3d8_pixel_bytes(raster_format));
}

bool same_texture_name(const char* a, const char* b) {
  const auto folded = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < 32; ++i) {
    if (folded(a[i]) != folded(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

walk_result walk_dictionary(const std::uint8_t* bytes, std::size_t size, std::vector<walked_texture>* textures) {
  return walker(bytes, size, textures).run();
}

}  // namespace txd
