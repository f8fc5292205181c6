// The chunks of a texture dictionary as the game's reader walks them, without
// decoding a pixel. The game's loader (CFileLoader::LoadTexDictionary) finds
// the dictionary chunk among a file's chunks; a file without one reads as an
// empty dictionary. Past that point every failure of its reader closes the
// stream twice, which damages the game's heap: walk_dictionary says which
// files the game reads whole, which it fails on, and which contradict
// themselves (a chunk that runs past the one holding it, say), where the game
// would read on into bytes that were never meant for it.
//
// No exceptions, no streams, no allocation but the optional list of
// textures: the plugin runs this inside the game's process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "txd/format.h"

namespace txd {

struct chunk_header {
  std::uint32_t type = 0;
  std::uint32_t size = 0;   // of the body after the header
  std::uint32_t stamp = 0;  // RenderWare's library stamp
};

// The header at offset, when 12 bytes stand there before end.
bool read_chunk_header(const std::uint8_t* bytes, std::size_t offset, std::size_t end, chunk_header* out);

// The RenderWare version a library stamp names (0x36003 for 3.6.0.3); stamps
// older than 3.2 hold the version itself, shifted.
std::uint32_t stamp_version(std::uint32_t stamp);
// The versions the game's RwStreamFindChunk accepts: 3.1 to 3.6.0.3.
bool readable_stamp(std::uint32_t stamp);

// Bytes the game's Direct3D surface holds for one level of a native (rows of
// uncompressed ones padded to 4 bytes); 0 for a format it cannot create.
std::size_t level_storage(std::uint32_t platform, std::uint32_t raster_format, std::uint32_t d3d_format,
                          std::uint8_t compression_or_flags, std::uint32_t width, std::uint32_t height);

// Texture names as RwTexDictionaryFindNamedTexture compares them: within
// their 32-byte field, without regard to letter case.
bool same_texture_name(const char* a, const char* b);

enum class walk_verdict {
  readable,            // the game reads it whole
  no_dictionary,       // no dictionary chunk it accepts: an empty dictionary
  reader_fails,        // it finds the dictionary chunk and then fails
  contradicts_itself,  // it reads on past where the file says a part ends
};

struct walked_texture {
  std::size_t native_at = 0;  // the texture native chunk's header
  char name[32] = {};         // as the field holds it, unterminated when full
};

struct walk_result {
  walk_verdict verdict = walk_verdict::no_dictionary;
  char why[128] = {};  // for any other verdict: "cut at byte 812", ...
  bool readable() const { return verdict == walk_verdict::readable; }
};

// Walks a whole file; textures, when given, receives the announced textures
// in file order (more than announced are ignored, as the game ignores them).
walk_result walk_dictionary(const std::uint8_t* bytes, std::size_t size,
                            std::vector<walked_texture>* textures = nullptr);

}  // namespace txd
