// textures.json: everything of a dictionary that its PNG images do not hold
// (names, filter and addressing, raster format and fields, alpha, the levels),
// so that extract and build make a round trip without losing anything. An
// extracted dictionary keeps a copy of its file beside the manifest; each
// entry names its texture there and the hashes of its images' pixels, so that
// build writes a texture whose images were not edited exactly as it was.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "txd/dictionary.h"

namespace txd {

// Whether text is well-formed UTF-8, which is all a JSON string can carry.
bool valid_utf8(const std::string& text);

constexpr const char* manifest_name = "textures.json";

struct manifest_entry {
  texture settings;  // everything but the levels
  unsigned level_count = 1;
  std::filesystem::path image;                     // the full-size level
  std::vector<std::filesystem::path> level_images;  // levels 1.. when stored, else empty
  std::optional<unsigned> native;                   // its index in the original
  std::vector<std::string> pixels;                  // hashes: image, then level images
};

struct manifest {
  std::uint16_t device_id = 2;
  std::filesystem::path original;  // the extracted file's copy; empty when none
  std::vector<manifest_entry> entries;
};

constexpr const char* original_name = "original.txd";

// A hash of an image's size and pixels, as the manifest records it.
std::string pixel_hash(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba);

std::string manifest_text(const manifest& m);
// Paths in the result are relative to folder. False with a one-line reason.
bool parse_manifest(const std::string& text, manifest* out, std::string* error);

const char* filter_name(std::uint8_t filter);
const char* addressing_name(std::uint8_t mode);

}  // namespace txd
