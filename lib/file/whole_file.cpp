#include "file/whole_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace file {

whole_file read_whole(const std::filesystem::path& path) {
  whole_file result;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.error = std::string("cannot open: ") + std::strerror(errno);
    return result;
  }
  result.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    result.bytes.clear();
    result.error = "cannot be read";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace file
