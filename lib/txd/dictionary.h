// RenderWare texture dictionaries (.txd) as the PC game uses them: Direct3D 9
// and Direct3D 8 texture natives inside a dictionary chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "txd/dictionary_walk.h"

namespace txd {

constexpr std::uint32_t library_stamp = 0x1803FFFF;  // RenderWare 3.6.0.3
// A name field is 32 bytes and keeps its terminator.
constexpr std::size_t max_name_bytes = 31;

enum class pixel_format {
  bgra8888, bgr888, dxt1, dxt3, dxt5,
  dxt4,      // DXT5's blocks over premultiplied colour
  r5g6b5, a1r5g5b5, x1r5g5b5, a4r4g4b4,
  lum8, a8l8,
  pal8, pal4,  // indices into the texture's palette
};

const char* format_name(pixel_format format);
// The format of a name format_name gives; false when there is none.
bool format_named(const std::string& name, pixel_format* out);
bool compressed(pixel_format format);
bool palettised(pixel_format format);

struct level {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;  // decoded, 4 bytes a pixel, rows top-down
  // The level's bytes as the file stores them (compressed blocks stay
  // blocks), for a renderer that takes them as the game's device does. The
  // writer writes them as they are, so a level whose pixels change must drop
  // them. Empty for a level made in memory. Not part of a level's value.
  std::vector<std::uint8_t> stored;
  bool operator==(const level& other) const {
    return width == other.width && height == other.height && rgba == other.rgba;
  }
};

// The texture native's raster fields as a file holds them, kept by the reader
// so that a texture is written back as it was. A Direct3D 8 native has an
// alpha word where Direct3D 9 has its format, and a compression byte (0, or
// the N of DXTN) where Direct3D 9 has its flags.
struct raster_fields {
  std::uint32_t platform = platform_d3d9;
  std::uint32_t raster_format = 0;
  std::uint32_t d3d_format = 0;  // Direct3D 8: the alpha word
  std::uint8_t depth = 0;
  std::uint8_t raster_type = 0;
  std::uint8_t flags = 0;        // Direct3D 8: the compression byte
  bool operator==(const raster_fields&) const = default;
};

// The format a native with these raster fields stores; none for fields the
// reader refuses.
std::optional<pixel_format> format_of(const raster_fields& fields);

struct texture {
  std::string name;
  std::string mask_name;
  std::uint8_t filter = 6;        // linear mip linear
  std::uint8_t addressing = 0x11;  // wrap, wrap
  pixel_format format = pixel_format::bgra8888;
  bool has_alpha = false;
  std::vector<level> levels;  // the first is the full-size image
  // As read; without them the writer derives the fields from the format, and
  // the filter from the level count.
  std::optional<raster_fields> raster;
  // Palettised formats: 4 bytes (R, G, B, A) an entry, as many entries as the
  // file stores; an index takes a byte, or half of one where index_bits is 4.
  std::vector<std::uint8_t> palette;
  unsigned index_bits = 8;
  // The version stamp of the native's chunks, and its extension chunk's body
  // (none when the file has no extension chunk).
  std::uint32_t stamp = library_stamp;
  std::optional<std::vector<std::uint8_t>> extension = std::vector<std::uint8_t>{};
  // Further extension chunks after the first (some tools write an empty one
  // more), headers and all, as the file holds them.
  std::vector<std::uint8_t> more_extensions;
  // The whole native chunk as the file holds it. When set, write() copies it
  // instead of writing the fields above.
  std::vector<std::uint8_t> native;
  // The native's 88-byte fixed part as read. write() keeps it where it says
  // what the fields above say: its padding, the bytes after a name's
  // terminator and a level count of 0 for one level carry nothing else.
  std::vector<std::uint8_t> fixed_part;
};

// Everything of a read dictionary around its textures, so that it is written
// back as it was.
struct dictionary_frame {
  std::uint32_t stamp = library_stamp;         // the dictionary chunk's
  std::uint32_t struct_stamp = library_stamp;  // its struct's
  std::uint32_t extension_stamp = library_stamp;
  std::optional<std::vector<std::uint8_t>> extension = std::vector<std::uint8_t>{};
  std::vector<std::uint8_t> more_extensions;  // as a texture's
};

struct dictionary {
  std::uint16_t device_id = 2;
  std::vector<texture> textures;
  dictionary_frame frame;
  // Bytes after the dictionary chunk (an archive's padding), kept as read.
  std::vector<std::uint8_t> trailing;

  // The texture the game finds by that name: in any letter case, the later
  // of two.
  const texture* find(const std::string& name) const;
};

struct read_result {
  bool ok = false;
  dictionary dict;
  std::string error;  // names the problem and the byte offset
};

read_result read(const std::uint8_t* data, std::size_t size);
read_result read_file(const std::string& path);

// Writes every texture in its format with the levels it holds: a texture that
// keeps its native chunk as read, and any other as encoded anew (a level with
// its stored bytes as they are).
std::vector<std::uint8_t> write(const dictionary& dict);
bool write_file(const std::string& path, const dictionary& dict);

// The full chain from one RGBA image down to 1 x 1, each level a 2 x 2 box
// average of the one above.
std::vector<level> mip_chain(std::uint32_t width, std::uint32_t height,
                             const std::vector<std::uint8_t>& rgba);

// Bytes of one level of w x h pixels in a format (4-bit indices when
// index_bits is 4).
std::size_t level_size(pixel_format format, std::uint32_t w, std::uint32_t h, unsigned index_bits = 8);
// The same with every row of an uncompressed level padded to 4 bytes, as the
// game's Direct3D surfaces lay rows out: files store either.
std::size_t padded_level_size(pixel_format format, std::uint32_t w, std::uint32_t h, unsigned index_bits = 8);
bool power_of_two(std::uint32_t n);

}  // namespace txd
