// PNG files in and out, as 8-bit RGBA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace png {

struct image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

bool load(const std::string& path, image* out, std::string* error);
bool save(const std::string& path, const image& in);
// The PNG file's bytes, for callers that open files themselves.
std::vector<std::uint8_t> encode(const image& in);

}  // namespace png
