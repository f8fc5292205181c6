#include "tests/support/damaged_dictionaries.h"

#include <cstring>

namespace test {
namespace {

// The first texture's struct body: dictionary and struct headers, the
// 4-byte dictionary struct, then the native's and its struct's headers.
constexpr std::size_t fixed_part = 12 + 12 + 4 + 12 + 12;

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

}  // namespace

std::vector<damaged_dictionary> damaged_copies(const std::vector<std::uint8_t>& whole) {
  std::vector<damaged_dictionary> out(4, damaged_dictionary{{}, whole});
  out[0].what = "sides 0";
  put32(out[0].bytes, fixed_part + 80, 0);
  out[1].what = "first level 0x1000 larger";
  put32(out[1].bytes, fixed_part + 88, get32(whole, fixed_part + 88) + 0x1000);
  out[2].what = "formats 0";
  put32(out[2].bytes, fixed_part + 72, 0);
  put32(out[2].bytes, fixed_part + 76, 0);
  out[3].what = "struct of its platform only";
  put32(out[3].bytes, fixed_part - 8, 4);
  return out;
}

}  // namespace test
