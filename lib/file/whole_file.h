// A whole file's bytes, for the simulator and the tools (the plugin reads
// its files through the platform seam).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace file {

struct [[nodiscard]] whole_file {
  bool ok = false;
  std::vector<std::uint8_t> bytes;
  std::string error;  // when not ok: "cannot open: No such file or directory", ...
  std::string text() const { return std::string(bytes.begin(), bytes.end()); }
};

whole_file read_whole(const std::filesystem::path& path);

}  // namespace file
