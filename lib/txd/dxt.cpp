#include "txd/dxt.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#define STB_DXT_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb_dxt.h>
#pragma GCC diagnostic pop

namespace txd {
namespace {

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

}  // namespace

std::vector<std::uint8_t> decode_blocks(pixel_format format, std::uint32_t w, std::uint32_t h, const std::uint8_t* src) {
  std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
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


namespace {

struct colour {
  float r, g, b;
};

std::uint16_t pack565(const colour& c) {
  auto q = [](float v, int bits) {
    const int max = (1 << bits) - 1;
    return std::clamp(int(v * max / 255.0f + 0.5f), 0, max);
  };
  return std::uint16_t(q(c.r, 5) << 11 | q(c.g, 6) << 5 | q(c.b, 5));
}

colour unpack565(std::uint16_t v) {
  std::uint8_t rgb[3];
  colour565(v, rgb);
  return {float(rgb[0]), float(rgb[1]), float(rgb[2])};
}

float distance(const colour& a, const colour& b) {
  return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
}

// A DXT1 block in its three-colour mode (first endpoint not above the
// second): transparent texels take index 3, opaque ones the nearest of the
// two endpoints and their midpoint. Returns the block's squared error.
float three_colour_block(const std::uint8_t px[16 * 4], std::uint16_t a, std::uint16_t b, std::uint8_t block[8]) {
  if (a > b) std::swap(a, b);
  const colour e0 = unpack565(a), e1 = unpack565(b);
  const colour mid = {std::floor((e0.r + e1.r) / 2), std::floor((e0.g + e1.g) / 2), std::floor((e0.b + e1.b) / 2)};
  const colour palette[3] = {e0, e1, mid};
  std::uint32_t bits = 0;
  float error = 0;
  for (int i = 0; i < 16; ++i) {
    unsigned index = 3;
    if (px[i * 4 + 3] >= 128) {
      const colour c = {float(px[i * 4]), float(px[i * 4 + 1]), float(px[i * 4 + 2])};
      float best = distance(c, palette[0]);
      index = 0;
      for (unsigned k = 1; k < 3; ++k) {
        const float d = distance(c, palette[k]);
        if (d < best) best = d, index = k;
      }
      error += best;
    }
    bits |= index << (2 * i);
  }
  block[0] = std::uint8_t(a), block[1] = std::uint8_t(a >> 8);
  block[2] = std::uint8_t(b), block[3] = std::uint8_t(b >> 8);
  for (int k = 0; k < 4; ++k) block[4 + k] = std::uint8_t(bits >> (8 * k));
  return error;
}

// Endpoints that best fit the opaque texels for the weights their indices
// in block give them (1, 0 or one half), by least squares.
bool refit(const std::uint8_t px[16 * 4], const std::uint8_t block[8], std::uint16_t* a, std::uint16_t* b) {
  const std::uint32_t bits = std::uint32_t(block[4]) | std::uint32_t(block[5]) << 8 |
                             std::uint32_t(block[6]) << 16 | std::uint32_t(block[7]) << 24;
  float aa = 0, bb = 0, ab = 0;
  colour ax = {0, 0, 0}, bx = {0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    const unsigned index = (bits >> (2 * i)) & 3;
    if (index == 3) continue;
    const float w = index == 0 ? 1.0f : index == 1 ? 0.0f : 0.5f;
    const colour c = {float(px[i * 4]), float(px[i * 4 + 1]), float(px[i * 4 + 2])};
    aa += w * w, bb += (1 - w) * (1 - w), ab += w * (1 - w);
    ax = {ax.r + w * c.r, ax.g + w * c.g, ax.b + w * c.b};
    bx = {bx.r + (1 - w) * c.r, bx.g + (1 - w) * c.g, bx.b + (1 - w) * c.b};
  }
  const float det = aa * bb - ab * ab;
  if (std::fabs(det) < 1e-6f) return false;
  auto solve = [&](float x, float y, bool first) {
    return std::clamp(first ? (x * bb - y * ab) / det : (y * aa - x * ab) / det, 0.0f, 255.0f);
  };
  *a = pack565({solve(ax.r, bx.r, true), solve(ax.g, bx.g, true), solve(ax.b, bx.b, true)});
  *b = pack565({solve(ax.r, bx.r, false), solve(ax.g, bx.g, false), solve(ax.b, bx.b, false)});
  return true;
}

// DXT1 keeps one bit of alpha: a block with a texel under half opacity is
// written in the three-colour mode, every such texel transparent and every
// other opaque.
void encode_dxt1_block(std::uint8_t px[16 * 4], std::uint8_t block[8]) {
  int first_opaque = -1;
  for (int i = 15; i >= 0; --i) {
    if (px[i * 4 + 3] >= 128) first_opaque = i;
  }
  bool transparent = false;
  for (int i = 0; i < 16; ++i) transparent = transparent || px[i * 4 + 3] < 128;
  if (!transparent) {
    stb_compress_dxt_block(block, px, 0, STB_DXT_HIGHQUAL);
    return;
  }
  if (first_opaque < 0) {
    const std::uint8_t clear[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(block, clear, 8);
    return;
  }
  // stb's endpoints for the opaque texels alone, refined for three colours.
  std::uint8_t opaque[16 * 4];
  for (int i = 0; i < 16; ++i) std::memcpy(&opaque[i * 4], &px[(px[i * 4 + 3] >= 128 ? i : first_opaque) * 4], 4);
  std::uint8_t four[8];
  stb_compress_dxt_block(four, opaque, 0, STB_DXT_HIGHQUAL);
  std::uint16_t a = std::uint16_t(four[0] | four[1] << 8), b = std::uint16_t(four[2] | four[3] << 8);
  float best = three_colour_block(px, a, b, block);
  for (int pass = 0; pass < 2; ++pass) {
    std::uint8_t trial[8];
    if (!refit(px, block, &a, &b)) break;
    const float error = three_colour_block(px, a, b, trial);
    if (error >= best) break;
    best = error;
    std::memcpy(block, trial, 8);
  }
}

}  // namespace

std::vector<std::uint8_t> encode_blocks(pixel_format format, std::uint32_t w, std::uint32_t h,
                                        const std::vector<std::uint8_t>& rgba) {
  const std::uint32_t bw = std::max(1u, (w + 3) / 4);
  const std::uint32_t bh = std::max(1u, (h + 3) / 4);
  const std::size_t block_bytes = format == pixel_format::dxt1 ? 8 : 16;
  std::vector<std::uint8_t> out(std::size_t(bw) * bh * block_bytes);
  for (std::uint32_t by = 0; by < bh; ++by) {
    for (std::uint32_t bx = 0; bx < bw; ++bx) {
      // Blocks past a small level's edge repeat its last row and column.
      std::uint8_t px[16 * 4];
      for (int i = 0; i < 16; ++i) {
        const std::uint32_t x = std::min(w - 1, bx * 4 + i % 4);
        const std::uint32_t y = std::min(h - 1, by * 4 + i / 4);
        std::memcpy(&px[i * 4], &rgba[(std::size_t(y) * w + x) * 4], 4);
      }
      std::uint8_t* block = &out[(std::size_t(by) * bw + bx) * block_bytes];
      if (format == pixel_format::dxt1) {
        encode_dxt1_block(px, block);
      } else if (format == pixel_format::dxt5 || format == pixel_format::dxt4) {
        stb_compress_dxt_block(block, px, 1, STB_DXT_HIGHQUAL);
      } else {
        for (int i = 0; i < 16; ++i) {
          const auto nibble = static_cast<std::uint8_t>((px[i * 4 + 3] * 15 + 127) / 255);
          block[i / 2] = static_cast<std::uint8_t>(block[i / 2] | nibble << (4 * (i % 2)));
        }
        stb_compress_dxt_block(block + 8, px, 0, STB_DXT_HIGHQUAL);
      }
    }
  }
  return out;
}

}  // namespace txd
