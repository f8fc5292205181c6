#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "txd/dictionary.h"

namespace {

using byte_list = std::vector<std::uint8_t>;

// Little-endian bytes written out by hand.
struct builder {
  byte_list out;
  builder& u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
    return *this;
  }
  builder& u16(std::uint16_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
    return *this;
  }
  builder& u8(std::uint8_t v) {
    out.push_back(v);
    return *this;
  }
  builder& text32(const std::string& s) {
    for (std::size_t i = 0; i < 32; ++i) out.push_back(i < s.size() ? std::uint8_t(s[i]) : 0);
    return *this;
  }
  builder& raw(const byte_list& b) {
    out.insert(out.end(), b.begin(), b.end());
    return *this;
  }
  builder& chunk(std::uint32_t type, const byte_list& body) {
    return u32(type).u32(std::uint32_t(body.size())).u32(0x1803FFFF).raw(body);
  }
};

byte_list native_struct(const std::string& name, std::uint32_t raster, std::uint32_t d3d, std::uint16_t w,
                        std::uint16_t h, std::uint8_t depth, std::uint8_t flags, const std::vector<byte_list>& levels) {
  builder s;
  s.u32(9).u8(2).u8(0x11).u16(0).text32(name).text32("").u32(raster).u32(d3d).u16(w).u16(h).u8(depth);
  s.u8(std::uint8_t(levels.size())).u8(4).u8(flags);
  for (const byte_list& l : levels) s.u32(std::uint32_t(l.size())).raw(l);
  return s.out;
}

byte_list dictionary_of(const std::vector<byte_list>& structs, std::uint16_t count_field) {
  builder body;
  body.chunk(0x01, builder().u16(count_field).u16(2).out);
  for (const byte_list& s : structs) body.chunk(0x15, builder().chunk(0x01, s).chunk(0x03, {}).out);
  body.chunk(0x03, {});
  return builder().chunk(0x16, body.out).out;
}

byte_list dictionary_of(const std::vector<byte_list>& structs) {
  return dictionary_of(structs, std::uint16_t(structs.size()));
}

txd::read_result parse(const byte_list& b) { return txd::read(b.data(), b.size()); }

TEST(TxdFileTest, TwoByTwoTextureIsWrittenExactlyAsTheFormatLaysItOut) {
  txd::dictionary dict;
  txd::texture t;
  t.name = "hpbg";
  t.addressing = 0x11;
  // RGBA: red, green, blue, half-transparent white.
  t.levels.push_back(txd::level{2, 2, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128}, {}});
  dict.textures.push_back(t);
  const byte_list bgra = {0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 128};
  builder expected;
  expected.u32(0x16).u32(172).u32(0x1803FFFF);
  expected.u32(0x01).u32(4).u32(0x1803FFFF).u16(1).u16(2);
  expected.u32(0x15).u32(132).u32(0x1803FFFF);
  expected.u32(0x01).u32(108).u32(0x1803FFFF);
  expected.u32(9).u8(2).u8(0x11).u16(0).text32("hpbg").text32("");
  expected.u32(0x0500).u32(21).u16(2).u16(2).u8(32).u8(1).u8(4).u8(1);
  expected.u32(16).raw(bgra);
  expected.u32(0x03).u32(0).u32(0x1803FFFF);
  expected.u32(0x03).u32(0).u32(0x1803FFFF);
  EXPECT_EQ(txd::write(dict), expected.out);
}

TEST(TxdFileTest, WrittenChainSetsTheMipmapFlagAndNeverTheAutomaticOne) {
  txd::dictionary dict;
  txd::texture t;
  t.name = "ring";
  t.levels = txd::mip_chain(8, 4, byte_list(8 * 4 * 4, 200));
  dict.textures.push_back(t);
  const byte_list bytes = txd::write(dict);
  // Raster format field: 12+16 (dictionary, its struct) + 24 (native, struct headers) + 72 into the struct.
  std::uint32_t raster = 0;
  std::memcpy(&raster, &bytes[28 + 24 + 72], 4);
  EXPECT_EQ(raster, 0x8500u);
  EXPECT_EQ(bytes[28 + 24 + 85], 4u);  // levels: 8x4, 4x2, 2x1, 1x1
  EXPECT_EQ(bytes[28 + 24 + 4], 6u);   // linear mip linear
}

TEST(TxdFileTest, BuildThenReadGivesBackTheSamePixelsAndNames) {
  txd::dictionary dict;
  for (const char* name : {"hpbg", "hpfg"}) {
    txd::texture t;
    t.name = name;
    byte_list rgba(16 * 8 * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = std::uint8_t(i * 7 + name[3]);
    t.levels = txd::mip_chain(16, 8, rgba);
    dict.textures.push_back(t);
  }
  const byte_list bytes = txd::write(dict);
  const txd::read_result r = parse(bytes);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.dict.textures.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const txd::texture& a = dict.textures[i];
    const txd::texture& b = r.dict.textures[i];
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.format, txd::pixel_format::bgra8888);
    EXPECT_TRUE(b.has_alpha);
    ASSERT_EQ(b.levels.size(), 5u);
    for (std::size_t l = 0; l < 5; ++l) {
      EXPECT_EQ(b.levels[l].width, a.levels[l].width);
      EXPECT_EQ(b.levels[l].rgba, a.levels[l].rgba) << "level " << l;
    }
  }
}

// Each format is written with the raster fields the game's Direct3D 9 path
// reads, and a texture read from a file is written back with the fields it had.
TEST(TxdFileTest, EveryFormatIsWrittenWithItsRasterFieldsAndReadBackTheSame) {
  struct expected {
    txd::pixel_format format;
    txd::raster_fields fields;
  };
  // Flat colours that 5:6:5 holds exactly, so that DXT keeps them too.
  const byte_list pixel = {255, 0, 0, 255};
  for (const expected& e : {expected{txd::pixel_format::bgra8888, {9, 0x8500, 21, 32, 4, 0}},
                            expected{txd::pixel_format::bgr888, {9, 0x8600, 22, 32, 4, 0}},
                            expected{txd::pixel_format::dxt1, {9, 0x8200, 0x31545844, 16, 4, 8}},
                            expected{txd::pixel_format::dxt3, {9, 0x8300, 0x33545844, 16, 4, 9}},
                            expected{txd::pixel_format::dxt4, {9, 0x8300, 0x34545844, 16, 4, 9}},
                            expected{txd::pixel_format::dxt5, {9, 0x8300, 0x35545844, 16, 4, 9}},
                            expected{txd::pixel_format::r5g6b5, {9, 0x8200, 23, 16, 4, 0}},
                            expected{txd::pixel_format::a1r5g5b5, {9, 0x8100, 25, 16, 4, 0}},
                            expected{txd::pixel_format::x1r5g5b5, {9, 0x8A00, 24, 16, 4, 0}},
                            expected{txd::pixel_format::a4r4g4b4, {9, 0x8300, 26, 16, 4, 0}},
                            expected{txd::pixel_format::pal8, {9, 0xA600, 41, 8, 4, 0}},
                            expected{txd::pixel_format::pal4, {9, 0xC600, 41, 4, 4, 0}}}) {
    SCOPED_TRACE(txd::format_name(e.format));
    txd::dictionary dict;
    txd::texture t;
    t.name = "flat";
    t.format = e.format;
    byte_list rgba;
    for (int i = 0; i < 8 * 8; ++i) rgba.insert(rgba.end(), pixel.begin(), pixel.end());
    t.levels = txd::mip_chain(8, 8, rgba);
    if (txd::palettised(t.format)) t.palette = {255, 0, 0, 255};
    dict.textures.push_back(t);
    const byte_list bytes = txd::write(dict);
    const txd::read_result r = parse(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    const txd::texture& back = r.dict.textures[0];
    EXPECT_EQ(back.format, e.format);
    ASSERT_TRUE(back.raster.has_value());
    EXPECT_EQ(*back.raster, e.fields);
    ASSERT_EQ(back.levels.size(), 4u);
    EXPECT_EQ(back.levels, t.levels);
    txd::dictionary again;
    again.textures.push_back(back);
    EXPECT_EQ(txd::write(again), bytes);
  }
}

TEST(TxdFileTest, MipChainRunsDownToOnePixelAveragingBoxes) {
  byte_list rgba = {0, 0, 0, 255, 100, 100, 100, 255, 200, 200, 200, 255, 40, 40, 40, 255};
  const std::vector<txd::level> chain = txd::mip_chain(2, 2, rgba);
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[1].width, 1u);
  EXPECT_EQ(chain[1].rgba, (byte_list{85, 85, 85, 255}));
}

TEST(TxdFileTest, ReadsThirtyTwoBitWithoutAlphaAsOpaque) {
  const byte_list bgrx = {1, 2, 3, 0, 4, 5, 6, 0};
  const txd::read_result r = parse(dictionary_of({native_struct("x", 0x0600, 22, 2, 1, 32, 0, {bgrx})}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.dict.textures[0].format, txd::pixel_format::bgr888);
  EXPECT_EQ(r.dict.textures[0].levels[0].rgba, (byte_list{3, 2, 1, 255, 6, 5, 4, 255}));
}

TEST(TxdFileTest, DecodesTheThreeCompressedFormats) {
  // DXT1: colour 0 pure red (F800), colour 1 pure blue (001F), every pixel index 1 (blue).
  const byte_list dxt1 = {0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55};
  txd::read_result r = parse(dictionary_of({native_struct("a", 0x0200, 0x31545844, 4, 4, 16, 8, {dxt1})}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.dict.textures[0].format, txd::pixel_format::dxt1);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(byte_list(r.dict.textures[0].levels[0].rgba.begin() + i * 4, r.dict.textures[0].levels[0].rgba.begin() + i * 4 + 4),
              (byte_list{0, 0, 255, 255}));
  }
  // DXT3: explicit alpha 0x8 (136) everywhere, colour index 0 (red).
  byte_list dxt3(8, 0x88);
  dxt3.insert(dxt3.end(), {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0});
  r = parse(dictionary_of({native_struct("b", 0x0300, 0x33545844, 4, 4, 16, 9, {dxt3})}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(byte_list(r.dict.textures[0].levels[0].rgba.begin(), r.dict.textures[0].levels[0].rgba.begin() + 4),
            (byte_list{255, 0, 0, 136}));
  // DXT5: alpha endpoints 255 and 0, index 1 everywhere (alpha 0), colour index 1 (blue).
  byte_list dxt5 = {255, 0, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24};
  dxt5.insert(dxt5.end(), {0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55});
  r = parse(dictionary_of({native_struct("c", 0x0300, 0x35545844, 4, 4, 16, 9, {dxt5})}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(byte_list(r.dict.textures[0].levels[0].rgba.begin(), r.dict.textures[0].levels[0].rgba.begin() + 4),
            (byte_list{0, 0, 255, 0}));
}

TEST(TxdFileTest, CompressedTextureSmallerThanABlockStillTakesOneBlock) {
  const byte_list dxt1 = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
  const txd::read_result r = parse(dictionary_of({native_struct("a", 0x0200, 0x31545844, 2, 2, 16, 8, {dxt1})}));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.dict.textures[0].levels[0].rgba.size(), 16u);
}

void expect_rejected(const byte_list& bytes, const std::string& words) {
  const txd::read_result r = parse(bytes);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find(words), std::string::npos) << "[" << r.error << "] lacks [" << words << "]";
  EXPECT_NE(r.error.find("at byte"), std::string::npos) << r.error;
  EXPECT_TRUE(r.dict.textures.empty());
}

TEST(TxdFileTest, RejectsWhatItCannotReadNamingTheProblem) {
  const byte_list px(16, 0);
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 36, 2, 2, 64, 0, {byte_list(32)})}),
                  "unsupported raster format 0x500 with Direct3D format 36");
  expect_rejected(dictionary_of({native_struct("x", 0x6500, 41, 2, 2, 8, 0, {px})}), "both 8-bit and 4-bit palette");
  expect_rejected(dictionary_of({native_struct("x", 0x2500, 41, 2, 2, 8, 0, {px})}), "truncated palette");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 2, 2, 32, 2, {px})}), "cube textures");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 0, 2, 32, 0, {byte_list{}})}), "dimensions 0 x 2");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 4097, 1, 32, 0, {byte_list{}})}), "dimensions 4097");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 2, 2, 32, 0, {byte_list(12)})}), "level 0 holds 12 bytes, 16 expected");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 2, 2, 32, 0, {px, byte_list(4), byte_list(4)})}), "mip level count 3");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 2, 2, 32, 0, {px})}, 3), "announces 3 textures but holds 1");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 2, 2, 32, 0, {px})}, 0), "more textures than the 0");
  builder other_platform;
  other_platform.u32(6).raw(byte_list(84, 0));
  expect_rejected(dictionary_of({other_platform.out}), "platform 6 is neither Direct3D 8 nor Direct3D 9");
  builder d3d8_unknown;
  d3d8_unknown.u32(8).u8(2).u8(0x11).u16(0).text32("x").text32("").u32(0x0200).u32(0).u16(4).u16(4).u8(16);
  d3d8_unknown.u8(1).u8(4).u8(2).u32(16).raw(byte_list(16));
  expect_rejected(dictionary_of({d3d8_unknown.out}), "with compression 2");
  expect_rejected(dictionary_of({native_struct("x", 0x0500, 21, 2, 2, 32, 0, {byte_list(20)})}),
                  "level 0 holds 20 bytes");
  expect_rejected(dictionary_of({byte_list(40, 0)}), "shorter than its 88-byte fixed part");
  expect_rejected(builder().chunk(0x10, {}).out, "expected texture dictionary chunk");
  expect_rejected(byte_list{}, "truncated");
}

TEST(TxdFileTest, EveryTruncationIsRejectedWithoutReadingPastTheEnd) {
  const byte_list good = dictionary_of({native_struct("hpbg", 0x0500, 21, 2, 2, 32, 0, {byte_list(16, 1)}),
                                        native_struct("hpfg", 0x0500, 21, 2, 2, 32, 0, {byte_list(16, 2)})});
  ASSERT_TRUE(parse(good).ok);
  for (std::size_t n = 0; n < good.size(); ++n) {
    // A copy of exactly n bytes, so that the sanitizer sees any read past it.
    const byte_list cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    const txd::read_result r = txd::read(cut.data(), cut.size());
    EXPECT_FALSE(r.ok) << "accepted " << n << " of " << good.size() << " bytes";
    EXPECT_FALSE(r.error.empty());
  }
}

// Byte offsets of every chunk's size field, containers walked into.
void size_fields(const byte_list& b, std::size_t begin, std::size_t end, std::vector<std::size_t>& out) {
  while (begin + 12 <= end) {
    std::uint32_t type, size;
    std::memcpy(&type, &b[begin], 4);
    std::memcpy(&size, &b[begin + 4], 4);
    out.push_back(begin + 4);
    if (type == 0x16 || type == 0x15) size_fields(b, begin + 12, begin + 12 + size, out);
    begin += 12 + size;
  }
}

TEST(TxdFileTest, EveryDamagedChunkSizeIsRejected) {
  const byte_list good = dictionary_of({native_struct("hpbg", 0x0500, 21, 2, 2, 32, 0, {byte_list(16, 1)}),
                                        native_struct("hpfg", 0x0500, 21, 2, 2, 32, 0, {byte_list(16, 2)})});
  std::vector<std::size_t> fields;
  size_fields(good, 0, good.size(), fields);
  // The level sizes inside the two texture structs, too.
  for (std::size_t at = 0; at + 4 <= good.size(); ++at) {
    std::uint32_t v;
    std::memcpy(&v, &good[at], 4);
    if (v == 16 && good[at + 4] == good[at + 5] && (good[at + 4] == 1 || good[at + 4] == 2)) fields.push_back(at);
  }
  ASSERT_EQ(fields.size(), 1u + 1u + 2u * 3u + 1u + 2u);
  for (std::size_t at : fields) {
    std::uint32_t size;
    std::memcpy(&size, &good[at], 4);
    for (std::uint32_t damaged : {size + 1, size - 1, size + 12, 0xFFFFFFFFu, size ^ 0x80000000u}) {
      byte_list bad = good;
      std::memcpy(&bad[at], &damaged, 4);
      const txd::read_result r = parse(bad);
      // Grown by 12, the last native takes in the dictionary's empty
      // extension chunk as a second one of its own: a form the game reads.
      if (r.ok && damaged == size + 12) {
        ASSERT_EQ(r.dict.textures.size(), 2u);
        EXPECT_EQ(r.dict.textures[1].more_extensions.size(), 12u) << "size field at byte " << at;
        continue;
      }
      EXPECT_FALSE(r.ok) << "size field at byte " << at << " set to " << damaged;
      EXPECT_NE(r.error.find("at byte"), std::string::npos) << r.error;
    }
  }
}

TEST(TxdFileTest, DamagedSizeAndCountFieldsAreRejectedOrReadSafely) {
  const byte_list good = dictionary_of({native_struct("hpbg", 0x0500, 21, 2, 2, 32, 0, {byte_list(16, 1)})});
  const std::uint32_t damage[] = {0, 1, 3, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF4};
  std::size_t rejected = 0, tried = 0;
  // Every 32-bit field position, and the 16-bit count.
  for (std::size_t at = 0; at + 4 <= good.size(); at += 4) {
    for (std::uint32_t value : damage) {
      byte_list bad = good;
      std::memcpy(&bad[at], &value, 4);
      const txd::read_result r = parse(bad);
      ++tried;
      if (!r.ok) {
        ++rejected;
        EXPECT_NE(r.error.find("at byte"), std::string::npos) << r.error;
      }
    }
  }
  EXPECT_GT(rejected, tried / 4);
  byte_list huge_count = good;
  huge_count[24] = 0xFF;
  huge_count[25] = 0xFF;
  EXPECT_FALSE(parse(huge_count).ok);
}

}  // namespace

namespace {

// Every texel under half opacity comes back transparent and every other
// opaque, whatever mix a 4 x 4 block holds; opaque colours stay close.
TEST(TxdFileTest, DxtOneKeepsEachTexelsOneBitOfAlpha) {
  const std::uint32_t w = 32, h = 32;
  byte_list rgba(w * h * 4);
  std::uint32_t seed = 12345;
  const std::uint8_t alphas[] = {0, 40, 127, 128, 200, 255, 255, 255};
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      std::uint8_t* p = &rgba[(y * w + x) * 4];
      p[0] = std::uint8_t(x * 8), p[1] = std::uint8_t(y * 8), p[2] = std::uint8_t(255 - x * 4);
      // Whole blocks opaque or clear, too, beside mixed ones.
      const std::uint32_t block = (y / 4) * (w / 4) + x / 4;
      p[3] = block % 5 == 0 ? 255 : block % 5 == 1 ? 0 : alphas[(seed >> 16) % 8];
    }
  }
  txd::dictionary dict;
  txd::texture t;
  t.name = "icon";
  t.format = txd::pixel_format::dxt1;
  t.levels.push_back(txd::level{w, h, rgba, {}});
  dict.textures.push_back(t);
  const txd::read_result r = parse(txd::write(dict));
  ASSERT_TRUE(r.ok) << r.error;
  const byte_list& back = r.dict.textures[0].levels[0].rgba;
  EXPECT_EQ(r.dict.textures[0].raster->raster_format, 0x0100u);  // 1555: DXT1 with alpha
  for (std::size_t i = 0; i < w * h; ++i) {
    ASSERT_EQ(back[i * 4 + 3], rgba[i * 4 + 3] >= 128 ? 255 : 0) << "texel " << i;
    if (rgba[i * 4 + 3] < 128) continue;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[i * 4 + c], rgba[i * 4 + c], 24) << "texel " << i;
  }
}

// What the game and other tools write: Direct3D 8 natives, 4-bit palettes,
// a level count of 0, rows padded to 4 bytes, natives and dictionaries
// without an extension chunk. Read with the right pixels, and written back
// byte for byte, as read and when encoded anew.
TEST(TxdFileTest, ReadsWhatTheGameAndOtherToolsWriteAndWritesItBack) {
  auto d3d8 = [](const std::string& name, std::uint32_t raster, std::uint16_t w, std::uint16_t h, std::uint8_t levels,
                 std::uint8_t compression, const byte_list& palette, const std::vector<byte_list>& data) {
    builder s;
    s.u32(8).u8(2).u8(0x11).u16(0).text32(name).text32("").u32(raster).u32(0).u16(w).u16(h).u8(16);
    s.u8(levels).u8(4).u8(compression).raw(palette);
    for (const byte_list& l : data) s.u32(std::uint32_t(l.size())).raw(l);
    return s.out;
  };
  byte_list palette16;
  for (std::uint8_t e = 0; e < 16; ++e) palette16.insert(palette16.end(), {std::uint8_t(e * 16), 7, 9, 255});
  const std::vector<byte_list> natives = {
      d3d8("r565", 0x0200, 2, 1, 1, 0, {}, {{0x00, 0xF8, 0x1F, 0x00}}),       // red, blue
      d3d8("p4", 0x4600, 8, 1, 1, 0, palette16, {{0x21, 0x0F, 0, 0}}),      // 4-bit indices 1, 2, 15, 0...
      native_struct("lum", 0x0000, 51, 1, 1, 16, 1, {{0x40, 0x80, 0, 0}}),  // A8L8, row padded to 4
      d3d8("zero", 0x0500, 1, 1, 0, 0, {}, {{1, 2, 3, 4}}),                 // a level count of 0
  };
  builder body;
  body.chunk(0x01, builder().u16(4).u16(1).out);
  for (const byte_list& s : natives) body.chunk(0x15, builder().chunk(0x01, s).out);
  const byte_list file = builder().chunk(0x16, body.out).out;

  const txd::read_result r = parse(file);
  ASSERT_TRUE(r.ok) << r.error;
  const auto& t = r.dict.textures;
  EXPECT_EQ(t[0].format, txd::pixel_format::r5g6b5);
  EXPECT_EQ(t[0].levels[0].rgba, (byte_list{255, 0, 0, 255, 0, 0, 255, 255}));
  EXPECT_EQ(t[1].format, txd::pixel_format::pal4);
  EXPECT_EQ(byte_list(t[1].levels[0].rgba.begin(), t[1].levels[0].rgba.begin() + 16),
            (byte_list{16, 7, 9, 255, 32, 7, 9, 255, 240, 7, 9, 255, 0, 7, 9, 255}));
  EXPECT_EQ(t[2].levels[0].rgba, (byte_list{0x40, 0x40, 0x40, 0x80}));
  EXPECT_EQ(t[3].levels.size(), 1u);
  EXPECT_FALSE(t[0].extension.has_value());
  EXPECT_FALSE(r.dict.frame.extension.has_value());
  EXPECT_EQ(txd::write(r.dict), file);

  txd::dictionary anew = r.dict;
  anew.textures.pop_back();  // its count of 0 is written as 1
  for (txd::texture& each : anew.textures) {
    each.native.clear();
    for (txd::level& l : each.levels) l.stored.clear();
  }
  const byte_list expected(file.begin() + 28, file.end() - 12 - std::ptrdiff_t(natives[3].size() + 12));
  const byte_list written = txd::write(anew);
  EXPECT_EQ(byte_list(written.begin() + 28, written.end()), expected);
}

}  // namespace
