#include "txd/pixels.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "txd/dxt.h"
#include "txd/format.h"

namespace txd {
namespace {

std::uint8_t expand(unsigned value, unsigned bits) { return std::uint8_t(value * 255 / ((1u << bits) - 1)); }
unsigned reduce(std::uint8_t value, unsigned bits) { return (value * ((1u << bits) - 1) + 127) / 255; }
std::uint8_t luminance(const std::uint8_t* rgba) {
  return std::uint8_t((rgba[0] * 77u + rgba[1] * 150u + rgba[2] * 29u + 128) >> 8);
}

// 16-bit pixels: the bit widths of A, R, G, B from the top bit down.
struct packing {
  unsigned a, r, g, b;
};

packing packing_of(pixel_format format) {
  switch (format) {
    case pixel_format::r5g6b5: return {0, 5, 6, 5};
    case pixel_format::a1r5g5b5: return {1, 5, 5, 5};
    case pixel_format::x1r5g5b5: return {0, 5, 5, 5};
    default: return {4, 4, 4, 4};  // a4r4g4b4
  }
}

unsigned palette_entries(const texture& t) {
  const unsigned stored = unsigned(t.palette.size() / 4);
  return t.format == pixel_format::pal4 ? std::min(stored, 16u) : std::min(stored, 256u);
}

std::uint8_t index_at(const texture& t, const std::uint8_t* row, std::uint32_t x) {
  if (t.index_bits == 8) return row[x];
  return x % 2 ? row[x / 2] >> 4 : row[x / 2] & 15;  // the first pixel in the low half
}

unsigned pixel_bytes(pixel_format format) {
  switch (format) {
    case pixel_format::bgra8888:
    case pixel_format::bgr888: return 4;
    case pixel_format::lum8:
    case pixel_format::pal8:
    case pixel_format::pal4: return 1;
    default: return 2;
  }
}

}  // namespace

bool palette_has_alpha(const texture& t) {
  const std::uint32_t base = t.raster ? t.raster->raster_format & raster_pixel_mask : raster_8888;
  return base != raster_888 && base != raster_565 && base != raster_555;
}

std::vector<std::uint8_t> decode_pixels(const texture& t, std::uint32_t w, std::uint32_t h, const std::uint8_t* src,
                                        std::size_t size) {
  if (compressed(t.format)) return decode_blocks(t.format, w, h, src);
  const std::size_t stride = size / h;
  const unsigned bytes = pixel_bytes(t.format);
  std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
  const bool alpha = palette_has_alpha(t);
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* row = src + y * stride;
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint8_t* in = row + std::size_t(x) * bytes;
      std::uint8_t* out = &rgba[(std::size_t(y) * w + x) * 4];
      switch (t.format) {
        case pixel_format::bgra8888:
        case pixel_format::bgr888:
          out[0] = in[2];
          out[1] = in[1];
          out[2] = in[0];
          out[3] = t.format == pixel_format::bgr888 ? 255 : in[3];
          break;
        case pixel_format::lum8:
          out[0] = out[1] = out[2] = in[0];
          out[3] = 255;
          break;
        case pixel_format::a8l8:
          out[0] = out[1] = out[2] = in[0];
          out[3] = in[1];
          break;
        case pixel_format::pal8:
        case pixel_format::pal4: {
          const std::uint8_t index = index_at(t, row, x);
          if (index < t.palette.size() / 4) std::memcpy(out, &t.palette[index * 4u], 4);
          if (!alpha) out[3] = 255;
          break;
        }
        default: {  // 16-bit
          const packing p = packing_of(t.format);
          const unsigned v = unsigned(in[0] | in[1] << 8);
          out[2] = expand(v & ((1u << p.b) - 1), p.b);
          out[1] = expand((v >> p.b) & ((1u << p.g) - 1), p.g);
          out[0] = expand((v >> (p.b + p.g)) & ((1u << p.r) - 1), p.r);
          out[3] = p.a ? expand(v >> (p.b + p.g + p.r), p.a) : 255;
          break;
        }
      }
    }
  }
  return rgba;
}

std::vector<std::uint8_t> encode_pixels(const texture& t, const level& l) {
  if (compressed(t.format)) return encode_blocks(t.format, l.width, l.height, l.rgba);
  std::vector<std::uint8_t> out(padded_level_size(t.format, l.width, l.height, t.index_bits));
  const std::size_t stride = out.size() / l.height;
  const unsigned bytes = pixel_bytes(t.format);
  const bool alpha = palette_has_alpha(t);
  std::map<std::uint32_t, std::uint8_t> index_of;
  if (palettised(t.format)) {
    for (unsigned e = palette_entries(t); e-- > 0;) {
      std::uint32_t key;
      std::memcpy(&key, &t.palette[e * 4], 4);
      if (!alpha) key |= 0xFF000000u;
      index_of[key] = std::uint8_t(e);
    }
  }
  for (std::uint32_t y = 0; y < l.height; ++y) {
    std::uint8_t* row = &out[y * stride];
    for (std::uint32_t x = 0; x < l.width; ++x) {
      const std::uint8_t* px = &l.rgba[(std::size_t(y) * l.width + x) * 4];
      std::uint8_t* o = row + std::size_t(x) * bytes;
      switch (t.format) {
        case pixel_format::bgra8888:
        case pixel_format::bgr888:
          o[0] = px[2];
          o[1] = px[1];
          o[2] = px[0];
          o[3] = t.format == pixel_format::bgr888 ? 255 : px[3];
          break;
        case pixel_format::lum8: o[0] = luminance(px); break;
        case pixel_format::a8l8:
          o[0] = luminance(px);
          o[1] = px[3];
          break;
        case pixel_format::pal8:
        case pixel_format::pal4: {  // fit_palette made room for every colour
          std::uint32_t key;
          std::memcpy(&key, px, 4);
          if (!alpha) key |= 0xFF000000u;
          const auto found = index_of.find(key);
          const std::uint8_t index = found == index_of.end() ? 0 : found->second;
          if (t.index_bits == 8) {
            row[x] = index;
          } else {
            row[x / 2] |= std::uint8_t(x % 2 ? index << 4 : index);
          }
          break;
        }
        default: {  // 16-bit
          const packing p = packing_of(t.format);
          unsigned v = reduce(px[2], p.b) | reduce(px[1], p.g) << p.b | reduce(px[0], p.r) << (p.b + p.g);
          if (p.a) v |= reduce(px[3], p.a) << (p.b + p.g + p.r);
          o[0] = std::uint8_t(v);
          o[1] = std::uint8_t(v >> 8);
          break;
        }
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> encode_keeping(const texture& t, const level& now, const level& before) {
  std::vector<std::uint8_t> out = encode_pixels(t, now);
  if (out.size() != before.stored.size() || now.width != before.width || now.height != before.height ||
      before.rgba.size() != now.rgba.size() || (palettised(t.format) && t.index_bits != 8)) {
    return out;
  }
  if (palettised(t.format)) {
    // An unchanged pixel keeps its index while its entry still holds its colour.
    const std::size_t stride = out.size() / now.height;
    const bool alpha = palette_has_alpha(t);
    for (std::uint32_t y = 0; y < now.height; ++y) {
      for (std::uint32_t x = 0; x < now.width; ++x) {
        const std::size_t px = (std::size_t(y) * now.width + x) * 4, at = y * stride + x;
        const std::size_t entry = before.stored[at] * 4u;
        if (std::memcmp(&now.rgba[px], &before.rgba[px], 4) != 0 || entry + 4 > t.palette.size()) continue;
        if (std::memcmp(&t.palette[entry], &now.rgba[px], alpha ? 4 : 3) == 0) out[at] = before.stored[at];
      }
    }
    return out;
  }
  // A unit is a 4 x 4 block, or one pixel of a row stride bytes long.
  const bool blocks = compressed(t.format);
  const std::uint32_t side = blocks ? 4 : 1;
  const std::size_t unit_bytes = blocks ? (t.format == pixel_format::dxt1 ? 8 : 16) : pixel_bytes(t.format);
  const std::uint32_t across = (now.width + side - 1) / side, down = (now.height + side - 1) / side;
  const std::size_t stride = blocks ? across * unit_bytes : out.size() / now.height;
  for (std::uint32_t uy = 0; uy < down; ++uy) {
    for (std::uint32_t ux = 0; ux < across; ++ux) {
      bool same = true;
      for (std::uint32_t y = uy * side; y < std::min(now.height, uy * side + side) && same; ++y) {
        const std::size_t at = (std::size_t(y) * now.width + ux * side) * 4;
        const std::size_t n = std::size_t(std::min(now.width, ux * side + side) - ux * side) * 4;
        same = std::memcmp(&now.rgba[at], &before.rgba[at], n) == 0;
      }
      if (!same) continue;
      const std::size_t at = uy * stride + ux * unit_bytes;
      std::memcpy(&out[at], &before.stored[at], unit_bytes);
    }
  }
  return out;
}

bool fit_palette(texture& t) {
  const bool alpha = palette_has_alpha(t);
  const unsigned capacity = t.format == pixel_format::pal4 ? 16 : 256;
  std::vector<std::uint8_t> palette = t.palette;
  if (palette.empty()) palette.resize((t.format == pixel_format::pal8 ? 256 : t.index_bits == 8 ? 32 : 16) * 4);
  const unsigned entries = std::min(capacity, unsigned(palette.size() / 4));
  auto key_of = [alpha](const std::uint8_t* p) {
    std::uint32_t key;
    std::memcpy(&key, p, 4);
    return alpha ? key : key | 0xFF000000u;
  };
  std::map<std::uint32_t, int> wanted;  // colour -> its entry, or -1 while it has none
  for (const level& l : t.levels) {
    for (std::size_t i = 0; i < l.rgba.size(); i += 4) wanted.emplace(key_of(&l.rgba[i]), -1);
  }
  if (wanted.size() > entries) return false;
  std::vector<bool> used(entries, false);
  for (unsigned e = 0; e < entries; ++e) {
    const auto found = wanted.find(key_of(&palette[e * 4]));
    if (found != wanted.end() && found->second < 0) {
      found->second = int(e);
      used[e] = true;
    }
  }
  unsigned free_entry = 0;
  for (auto& [key, entry] : wanted) {
    if (entry >= 0) continue;
    while (used[free_entry]) ++free_entry;
    used[free_entry] = true;
    entry = int(free_entry);
    std::memcpy(&palette[free_entry * 4], &key, 4);
  }
  t.palette = std::move(palette);
  return true;
}

}  // namespace txd
