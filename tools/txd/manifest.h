// textures.json: everything of a dictionary that its PNG images do not hold
// (names, filter and addressing, raster format and fields, alpha, the levels),
// so that extract and build make a round trip without losing anything.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "txd_file.h"

namespace txd {

constexpr const char* manifest_name = "textures.json";

struct manifest_entry {
  texture settings;  // everything but the levels
  unsigned level_count = 1;
  std::filesystem::path image;                     // the full-size level
  std::vector<std::filesystem::path> level_images;  // levels 1.. when stored, else empty
};

struct manifest {
  std::uint16_t device_id = 2;
  std::vector<manifest_entry> entries;
};

std::string manifest_text(const manifest& m);
// Paths in the result are relative to folder. False with a one-line reason.
bool parse_manifest(const std::string& text, manifest* out, std::string* error);

const char* filter_name(std::uint8_t filter);
const char* addressing_name(std::uint8_t mode);

}  // namespace txd
