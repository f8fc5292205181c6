#include "overlay/key_names.h"

#include <charconv>

namespace overlay {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool number(const std::string& text, int low, int high, int base, int* value) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, *value, base);
  return !text.empty() && error == std::errc() && at == end && *value >= low && *value <= high;
}

}  // namespace

bool same_name(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

std::optional<int> key_code(const std::string& name) {
  static const struct {
    const char* name;
    int code;
  } named[] = {{"Insert", 0x2D}, {"Delete", 0x2E}, {"Home", 0x24}, {"End", 0x23}, {"PageUp", 0x21}, {"PageDown", 0x22}};
  for (const auto& n : named) {
    if (same_name(name, n.name)) return n.code;
  }
  if (name.size() == 1) {
    const char c = upper(name[0]);
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    return std::nullopt;
  }
  if (name.size() < 2) return std::nullopt;
  int n = 0;
  if (upper(name[0]) == 'F' && name[1] != '0' && number(name.substr(1), 1, 12, 10, &n)) return 0x6F + n;
  if (name.size() == 7 && same_name(name.substr(0, 6), "NumPad") && number(name.substr(6), 0, 9, 10, &n)) return 0x60 + n;
  if (name.size() > 2 && name[0] == '0' && upper(name[1]) == 'X' && number(name.substr(2), 1, 0xFE, 16, &n)) return n;
  return std::nullopt;
}

}  // namespace overlay
