// The check the plugin makes before the game's loader sees a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "overlay/dictionary_check.h"
#include "txd/dictionary.h"

namespace {

TEST(DictionaryCheckTest, WhatTheGameCannotReadIsNamedWithItsReason) {
  txd::dictionary dict;
  txd::texture t;
  t.name = "hpbg";
  t.levels = txd::mip_chain(2, 2, std::vector<std::uint8_t>(16, 9));
  dict.textures.push_back(t);
  std::vector<std::uint8_t> bytes = txd::write(dict);
  const auto check = [](std::vector<std::uint8_t> b) { return overlay::check_dictionary(b.data(), b.size()); };
  EXPECT_TRUE(check(bytes).readable);
  EXPECT_EQ(check({}).why, "it holds no texture dictionary chunk");
  std::vector<std::uint8_t> wrong = bytes;
  wrong[52] = 7;  // the native's struct: platform 7
  EXPECT_EQ(check(wrong).why, "texture 1: platform 7, not Direct3D 8 or 9");
  std::vector<std::uint8_t> more = bytes;
  more[24] = 2;  // two textures announced
  EXPECT_EQ(check(more).why, "it announces 2 textures and holds 1");
  std::vector<std::uint8_t> huge = bytes;
  huge[44] = huge[45] = huge[46] = huge[47] = 0xFF;  // the native's struct, past anything
  EXPECT_EQ(check(huge).why, "cut at byte " + std::to_string(bytes.size()));
}
}  // namespace
