// A level's pixels in every format a texture native stores: RGBA (4 bytes a
// pixel, rows top-down) from the stored bytes and back.
#pragma once

#include <cstdint>
#include <vector>

#include "txd/dictionary.h"

namespace txd {

// src holds size bytes: level_size() or padded_level_size() for the format.
std::vector<std::uint8_t> decode_pixels(const texture& t, std::uint32_t w, std::uint32_t h, const std::uint8_t* src,
                                        std::size_t size);
// Rows of uncompressed formats are padded to 4 bytes. Palettised formats
// index the texture's palette, which must hold every colour of the level
// (fit_palette).
std::vector<std::uint8_t> encode_pixels(const texture& t, const level& l);

// The bytes of a level of new pixels (now) that keep the stored bytes of
// every block, or pixel, whose pixels are those of before: an edit changes
// the blocks it touched alone. Levels whose layout differs, and those of
// 4-bit indices, are encoded whole.
std::vector<std::uint8_t> encode_keeping(const texture& t, const level& now, const level& before);

// Whether a palettised format's palette treats the fourth byte as alpha.
bool palette_has_alpha(const texture& t);

// Makes t.palette hold every colour of t's levels: entries the levels still
// use keep their places, and new colours take the places of unused ones.
// False when the colours do not fit the palette's size (256 entries, or 16
// for 4-bit indices); the palette is then unchanged.
bool fit_palette(texture& t);

}  // namespace txd
