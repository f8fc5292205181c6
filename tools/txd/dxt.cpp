#include "dxt.h"

#include <algorithm>
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
        stb_compress_dxt_block(block, px, 0, STB_DXT_HIGHQUAL);
      } else if (format == pixel_format::dxt5) {
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
