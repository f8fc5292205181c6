#include "overlay/dictionary_check.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file_reading.h"

namespace overlay {
namespace {

constexpr std::uint32_t chunk_struct = 0x01;
constexpr std::uint32_t chunk_texture_native = 0x15;
constexpr std::uint32_t chunk_dictionary = 0x16;
constexpr std::size_t header_size = 12;

std::uint32_t word(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

struct chunk {
  std::uint32_t type;
  std::size_t begin;  // of its contents
  std::size_t end;
};

dictionary_check refused(const char* format, std::size_t a, std::size_t b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long>(a), static_cast<unsigned long>(b));
  return dictionary_check{false, text};
}

class checker {
 public:
  checker(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

  // The chunk at offset inside [.., end); false (with why) when it does not fit.
  bool next(std::size_t offset, std::size_t end, chunk* c, dictionary_check* why) const {
    // Compared as room left, so that a huge size cannot wrap around.
    if (end - offset < header_size || word(bytes_ + offset + 4) > end - offset - header_size) {
      *why = end == size_ ? refused("cut at byte %lu", size_)
                          : refused("the chunk at byte %lu runs past the one holding it", offset);
      return false;
    }
    *c = chunk{word(bytes_ + offset), offset + header_size, offset + header_size + word(bytes_ + offset + 4)};
    return true;
  }

  // The children of a chunk, each within it, the first its struct of at least
  // min_struct bytes.
  bool children(const chunk& parent, std::size_t min_struct, std::vector<chunk>* out, dictionary_check* why) const {
    out->clear();
    for (std::size_t at = parent.begin; at < parent.end;) {
      chunk c{};
      if (!next(at, parent.end, &c, why)) return false;
      out->push_back(c);
      at = c.end;
    }
    if (out->empty() || (*out)[0].type != chunk_struct || (*out)[0].end - (*out)[0].begin < min_struct) {
      *why = refused("the chunk at byte %lu has no header of its own", parent.begin - header_size);
      return false;
    }
    return true;
  }

  dictionary_check run() const {
    if (size_ < header_size || word(bytes_) != chunk_dictionary) {
      return dictionary_check{false, "it does not start with a texture dictionary chunk"};
    }
    dictionary_check why;
    chunk dictionary{};
    std::vector<chunk> parts;
    if (!next(0, size_, &dictionary, &why) || !children(dictionary, 4, &parts, &why)) return why;
    const std::size_t announced = bytes_[parts[0].begin] | (bytes_[parts[0].begin + 1] << 8);
    std::size_t held = 0;
    std::vector<chunk> inside;
    for (const chunk& c : parts) {
      if (c.type != chunk_texture_native) continue;
      if (!children(c, 4, &inside, &why)) return why;
      const std::uint32_t platform = word(bytes_ + inside[0].begin);
      if (platform != 8 && platform != 9) {
        return refused("texture %lu is a texture of platform %lu, not Direct3D 8 or 9", held + 1, platform);
      }
      ++held;
    }
    if (held < announced) return refused("it announces %lu textures and holds %lu", announced, held);
    return dictionary_check{true, {}};
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
};

}  // namespace

dictionary_check check_dictionary(const std::uint8_t* bytes, std::size_t size) { return checker(bytes, size).run(); }

dictionary_check check_dictionary_file(const std::wstring& path) {
  os::file_handle file = os::open_file_w(path.c_str(), os::file_open::read_existing);
  if (file == nullptr) return dictionary_check{false, "it cannot be opened"};
  std::vector<std::uint8_t> bytes;
  const bool ok = os::read_all(file, &bytes);
  os::close_file(file);
  if (!ok) return dictionary_check{false, "it cannot be read"};
  return check_dictionary(bytes.data(), bytes.size());
}

}  // namespace overlay
