// The on-file numbers of the dictionary format: chunks, platforms, raster
// and Direct3D formats.
#pragma once

#include <cstddef>
#include <cstdint>

namespace txd {

constexpr std::uint32_t chunk_struct = 0x01;
constexpr std::uint32_t chunk_extension = 0x03;
constexpr std::uint32_t chunk_texture_native = 0x15;
constexpr std::uint32_t chunk_dictionary = 0x16;
constexpr std::size_t chunk_header_size = 12;
constexpr std::uint32_t platform_d3d8 = 8;
constexpr std::uint32_t platform_d3d9 = 9;
constexpr std::uint32_t max_dimension = 4096;
constexpr std::size_t native_fixed_size = 88;

constexpr std::uint32_t raster_default = 0x0000;
constexpr std::uint32_t raster_1555 = 0x0100;
constexpr std::uint32_t raster_565 = 0x0200;
constexpr std::uint32_t raster_4444 = 0x0300;
constexpr std::uint32_t raster_lum8 = 0x0400;
constexpr std::uint32_t raster_8888 = 0x0500;
constexpr std::uint32_t raster_888 = 0x0600;
constexpr std::uint32_t raster_555 = 0x0A00;
constexpr std::uint32_t raster_pixel_mask = 0x0F00;
constexpr std::uint32_t raster_pal8 = 0x2000;
constexpr std::uint32_t raster_pal4 = 0x4000;
constexpr std::uint32_t raster_has_mipmaps = 0x8000;
constexpr std::uint32_t d3d_r8g8b8 = 20;
constexpr std::uint32_t d3d_a8r8g8b8 = 21;
constexpr std::uint32_t d3d_x8r8g8b8 = 22;
constexpr std::uint32_t d3d_r5g6b5 = 23;
constexpr std::uint32_t d3d_x1r5g5b5 = 24;
constexpr std::uint32_t d3d_a1r5g5b5 = 25;
constexpr std::uint32_t d3d_a4r4g4b4 = 26;
constexpr std::uint32_t d3d_p8 = 41;
constexpr std::uint32_t d3d_l8 = 50;
constexpr std::uint32_t d3d_a8l8 = 51;
constexpr std::uint32_t fourcc(const char (&s)[5]) {
  return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
         std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}
constexpr std::uint32_t d3d_dxt1 = fourcc("DXT1");
constexpr std::uint32_t d3d_dxt2 = fourcc("DXT2");
constexpr std::uint32_t d3d_dxt3 = fourcc("DXT3");
constexpr std::uint32_t d3d_dxt4 = fourcc("DXT4");
constexpr std::uint32_t d3d_dxt5 = fourcc("DXT5");
// Direct3D 9 native flags.
constexpr std::uint8_t flag_alpha = 1;
constexpr std::uint8_t flag_cube = 2;
constexpr std::uint8_t flag_compressed = 8;

}  // namespace txd
