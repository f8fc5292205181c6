#include "png/png_io.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace png {

bool load(const std::string& path, image* out, std::string* error) {
  int w = 0, h = 0, channels = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  unsigned char* pixels = stbi_load_from_file(file, &w, &h, &channels, 4);
  std::fclose(file);
  if (!pixels) {
    const char* why = stbi_failure_reason();
    *error = path + ": not a PNG image that can be read (" + (why ? why : "unknown reason") + ")";
    return false;
  }
  out->width = static_cast<std::uint32_t>(w);
  out->height = static_cast<std::uint32_t>(h);
  out->rgba.assign(pixels, pixels + static_cast<std::size_t>(w) * h * 4);
  stbi_image_free(pixels);
  return true;
}

bool save(const std::string& path, const image& in) {
  return stbi_write_png(path.c_str(), static_cast<int>(in.width), static_cast<int>(in.height), 4, in.rgba.data(),
                        static_cast<int>(in.width * 4)) != 0;
}

std::vector<std::uint8_t> encode(const image& in) {
  std::vector<std::uint8_t> out;
  const auto append = [](void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(context);
    bytes->insert(bytes->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
  };
  stbi_write_png_to_func(append, &out, static_cast<int>(in.width), static_cast<int>(in.height), 4, in.rgba.data(),
                         static_cast<int>(in.width * 4));
  return out;
}

}  // namespace png
