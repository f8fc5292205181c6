#include "overlay/dictionary_check.h"

#include <cstdio>
#include <vector>

#include "platform/file_reading.h"
#include "txd/dictionary_walk.h"

namespace overlay {
namespace {

dictionary_check too_large(std::uint64_t size) {
  char text[80];
  std::snprintf(text, sizeof text, "%llu bytes, more than the %llu MiB a dictionary may have",
                static_cast<unsigned long long>(size), static_cast<unsigned long long>(max_dictionary_bytes >> 20));
  return dictionary_check{false, text};
}

}  // namespace

dictionary_check check_dictionary(const std::uint8_t* bytes, std::size_t size) {
  const txd::walk_result walk = txd::walk_dictionary(bytes, size);
  if (walk.readable()) return dictionary_check{true, {}};
  return dictionary_check{false, walk.why};
}

dictionary_check check_dictionary_file(const std::wstring& path, std::uint64_t size) {
  if (size > max_dictionary_bytes) return too_large(size);
  os::file_handle file = os::open_file_w(path.c_str(), os::file_open::read_existing);
  if (file == nullptr) return dictionary_check{false, "it cannot be opened"};
  std::vector<std::uint8_t> bytes;
  // One byte more than allowed tells a file that grew since its size was seen.
  const bool ok = os::read_all(file, &bytes, static_cast<std::size_t>(max_dictionary_bytes) + 1);
  os::close_file(file);
  if (!ok) return dictionary_check{false, "it cannot be read"};
  if (bytes.size() > max_dictionary_bytes) return too_large(bytes.size());
  return check_dictionary(bytes.data(), bytes.size());
}

}  // namespace overlay
