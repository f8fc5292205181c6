// RenderWare types as the game's engine lays them out. The types are the
// host's; the plugin only handles pointers to them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/renderware_constants.h"

namespace host {

struct RwTexDictionary;
struct RwRaster;

// Only the two fields the plugin reads.
struct RwTexture {
  RwRaster* raster;           // 0x00
  std::uint8_t unread[0x0C];  // dictionary and list link
  char name[32];              // 0x10, zero-terminated within the field
};
static_assert(offsetof(RwTexture, name) == 0x10);

struct RwIm3DVertex {
  float x, y, z;     // 0x00
  float nx, ny, nz;  // 0x0C, unused by the rings
  std::uint32_t colour;  // 0x18, 0xAARRGGBB
  float u, v;        // 0x1C
};
static_assert(sizeof(RwIm3DVertex) == 36);

}  // namespace host
