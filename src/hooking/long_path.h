// The \\?\ prefix that lets Windows' wide file functions take a path of 260
// characters or more.
#pragma once

#include <cstddef>
#include <string>

namespace hooking {

constexpr std::size_t max_plain_path = 259;  // MAX_PATH less its terminator

// The path as Windows' wide functions can open it: as it is up to 259
// characters, behind \\?\ (a drive) or \\?\UNC\ (a share) beyond. A path
// that is relative, prefixed already or written with forward slashes (which
// the prefix would take literally) is left as it is.
template <class Char>
std::basic_string<Char> with_long_path_prefix(const std::basic_string<Char>& path) {
  using text = std::basic_string<Char>;
  if (path.size() <= max_plain_path || path.find(Char('/')) != text::npos) return path;
  const Char question[] = {Char('\\'), Char('\\'), Char('?'), Char('\\'), Char(0)};
  if (path.compare(0, 4, question) == 0) return path;
  if (path.size() > 2 && path[1] == Char(':') && path[2] == Char('\\')) return text(question) + path;
  if (path[0] == Char('\\') && path[1] == Char('\\')) {
    const Char unc[] = {Char('U'), Char('N'), Char('C'), Char(0)};
    return text(question) + unc + path.substr(1);  // the share's two backslashes become one
  }
  return path;
}

}  // namespace hooking
