// DXT1/3/4/5 blocks: decoding for the reader, compression (stb_dxt, with a
// one-bit-alpha path for DXT1) for the writer.
#pragma once

#include <cstdint>
#include <vector>

#include "txd/dictionary.h"

namespace txd {

// RGBA, 4 bytes a pixel, rows top-down, from and to a level's stored blocks.
std::vector<std::uint8_t> decode_blocks(pixel_format format, std::uint32_t w, std::uint32_t h, const std::uint8_t* src);
std::vector<std::uint8_t> encode_blocks(pixel_format format, std::uint32_t w, std::uint32_t h,
                                        const std::vector<std::uint8_t>& rgba);

}  // namespace txd
