// RenderWare's numbers for the render states, blend modes and primitives the
// plugin uses: plain numbers, for any build that reads or replays its calls.
#pragma once

#include <cstdint>

namespace host {

enum RwRenderState : std::int32_t {
  rwRENDERSTATETEXTURERASTER = 1,
  rwRENDERSTATEZTESTENABLE = 6,
  rwRENDERSTATEZWRITEENABLE = 8,
  rwRENDERSTATETEXTUREFILTER = 9,
  rwRENDERSTATESRCBLEND = 10,
  rwRENDERSTATEDESTBLEND = 11,
  rwRENDERSTATEVERTEXALPHAENABLE = 12,
  rwRENDERSTATEFOGENABLE = 14,
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
  rwPRIMTYPETRILIST = 3,
  rwPRIMTYPETRIFAN = 5,
};

// The game's own immediate-mode batches stay within these.
constexpr std::uint32_t im3d_max_vertices = 2048;
constexpr std::uint32_t im3d_max_indices = 4096;

}  // namespace host
