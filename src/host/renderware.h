// RenderWare types and constants as the game's engine uses them. The types are
// the host's; the plugin only handles pointers to them.
#pragma once

#include <cstddef>
#include <cstdint>

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

enum RwRenderState : std::int32_t {
  rwRENDERSTATETEXTURERASTER = 1,
  rwRENDERSTATEZTESTENABLE = 6,
  rwRENDERSTATEZWRITEENABLE = 8,
  rwRENDERSTATETEXTUREFILTER = 9,
  rwRENDERSTATESRCBLEND = 10,
  rwRENDERSTATEDESTBLEND = 11,
  rwRENDERSTATEVERTEXALPHAENABLE = 12,
  rwRENDERSTATECULLMODE = 20,
};

enum : std::uint32_t {
  rwBLENDSRCALPHA = 5,
  rwBLENDINVSRCALPHA = 6,
  rwFILTERLINEAR = 2,
  rwCULLMODECULLNONE = 1,
};

enum : std::int32_t {
  rwIM3D_VERTEXUV = 1,
  rwPRIMTYPETRIFAN = 5,
};

}  // namespace host
