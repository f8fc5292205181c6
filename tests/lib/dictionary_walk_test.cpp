// The dictionary walker against a model of the game's reader kept here,
// written from the reader's rules: RwStreamFindChunk reading on wherever the
// stream stands, the Direct3D driver reading each texture's struct.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "overlay/dictionary_check.h"
#include "tests/support/test_game.h"
#include "txd/dictionary_walk.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

enum class game_outcome { empty, read, fails, contradiction };

const char* name_of(game_outcome o) {
  switch (o) {
    case game_outcome::empty: return "an empty dictionary";
    case game_outcome::read: return "read";
    case game_outcome::fails: return "the reader fails";
    case game_outcome::contradiction: return "a contradiction";
  }
  return "?";
}

class game_reader {
 public:
  explicit game_reader(const bytes& file) : f_(file) {}

  game_outcome read() {
    // The loader's search for the dictionary: a failed search is no fault.
    for (;;) {
      if (f_.size() - pos_ < 12) return game_outcome::empty;
      if (u32(pos_) == 0x16) break;
      if (u32(pos_ + 4) > f_.size() - pos_ - 12) return game_outcome::empty;
      pos_ += 12 + u32(pos_ + 4);
    }
    if (!version_read(u32(pos_ + 8))) return game_outcome::empty;
    if (u32(pos_ + 4) > f_.size() - pos_ - 12) return game_outcome::contradiction;
    const std::size_t dictionary_end = pos_ + 12 + u32(pos_ + 4);
    pos_ += 12;
    extensions_ = any_extension(pos_, dictionary_end);
    std::size_t body = 0, size = 0;
    if (const auto o = find(0x01, dictionary_end, &body, &size); o != game_outcome::read) return o;
    if (size < 4) return game_outcome::contradiction;
    const unsigned count = f_[body] | (f_[body + 1] << 8);
    pos_ = body + size;
    for (unsigned i = 0; i < count; ++i) {
      if (const auto o = find(0x15, dictionary_end, &body, &size); o != game_outcome::read) return o;
      const std::size_t native_end = body + size;
      pos_ = body;
      if (const auto o = texture(native_end); o != game_outcome::read) return o;
      if (const auto o = extension(native_end); o != game_outcome::read) return o;
      // The search for the next texture steps over the rest of this one.
      while (pos_ < native_end) {
        if (native_end - pos_ < 12 || u32(pos_ + 4) > native_end - pos_ - 12) return game_outcome::contradiction;
        pos_ += 12 + u32(pos_ + 4);
      }
    }
    return extension(dictionary_end);
  }

 private:
  std::uint32_t u32(std::size_t at) const {
    std::uint32_t v;
    std::memcpy(&v, f_.data() + at, 4);
    return v;
  }

  static bool version_read(std::uint32_t stamp) {
    const std::uint32_t v = (stamp >> 16) ? 0x30000 + ((stamp >> 14) & 0x3FF00) + ((stamp >> 16) & 0x3F) : stamp << 8;
    return v >= 0x31000 && v <= 0x36003;
  }

  // Any extension chunk among the dictionary's chunks or its textures'.
  bool any_extension(std::size_t begin, std::size_t end) const {
    for (std::size_t at = begin; end - at >= 12 && u32(at + 4) <= end - at - 12; at += 12 + u32(at + 4)) {
      if (u32(at) == 0x03) return true;
      if (u32(at) != 0x15) continue;
      const std::size_t inner_end = at + 12 + u32(at + 4);
      for (std::size_t in = at + 12; inner_end - in >= 12 && u32(in + 4) <= inner_end - in - 12;
           in += 12 + u32(in + 4)) {
        if (u32(in) == 0x03) return true;
      }
    }
    return false;
  }

  // RwStreamFindChunk from where the stream stands; end is where the part the
  // file says holds the chunk ends.
  game_outcome find(std::uint32_t type, std::size_t end, std::size_t* body, std::size_t* size) {
    for (;;) {
      if (end - pos_ < 12) return end == f_.size() ? game_outcome::fails : game_outcome::contradiction;
      const std::uint32_t found = u32(pos_), length = u32(pos_ + 4);
      if (length > end - pos_ - 12) return game_outcome::contradiction;
      if (found == type) {
        if (!version_read(u32(pos_ + 8))) return game_outcome::fails;
        *body = pos_ + 12;
        *size = length;
        pos_ = *body;
        return game_outcome::read;
      }
      pos_ += 12 + length;
    }
  }

  game_outcome extension(std::size_t end) {
    if (!extensions_) return game_outcome::read;
    std::size_t body = 0, size = 0;
    if (const auto o = find(0x03, end, &body, &size); o != game_outcome::read) return o;
    std::size_t left = size;
    for (std::size_t at = body; left > 0;) {
      if (left < 12 || u32(at + 4) > left - 12) return game_outcome::fails;
      left -= 12 + u32(at + 4);
      at += 12 + u32(at + 4);
    }
    pos_ = body + size;
    return game_outcome::read;
  }

  // The Direct3D driver's read of one texture native's struct.
  game_outcome texture(std::size_t native_end) {
    std::size_t body = 0, size = 0;
    if (const auto o = find(0x01, native_end, &body, &size); o != game_outcome::read) return o;
    const std::size_t end = body + size;
    if (size < 88) return game_outcome::contradiction;
    const std::uint32_t platform = u32(body), raster = u32(body + 72), format = u32(body + 76);
    const std::uint32_t width = f_[body + 80] | f_[body + 81] << 8, height = f_[body + 82] | f_[body + 83] << 8;
    const unsigned levels_field = f_[body + 85], last = f_[body + 87];
    if (platform != 8 && platform != 9) return game_outcome::fails;
    if (width < 1 || width > 4096 || height < 1 || height > 4096) return game_outcome::fails;
    const bool pal8 = raster & 0x2000, pal4 = raster & 0x4000;
    if (pal8 && pal4) return game_outcome::fails;
    unsigned block = 0, pixel = 0;
    const auto dxt = [](std::uint32_t f) -> unsigned {
      if (f == 0x31545844) return 8;  // "DXT1"
      for (std::uint32_t n = 0x32545844; n <= 0x35545844; n += 0x01000000) {
        if (f == n) return 16;
      }
      return 0;
    };
    if (platform == 9) {
      block = dxt(format);
      const unsigned table[][2] = {{20, 3}, {21, 4}, {22, 4}, {23, 2}, {24, 2}, {25, 2}, {26, 2}, {41, 1}, {50, 1}, {51, 2}};
      for (const auto& e : table) pixel = format == e[0] ? e[1] : pixel;
      if (block == 0 && pixel == 0) return game_outcome::fails;
      if (pal8 || pal4) pixel = 1;
    } else {
      if (last > 5) return game_outcome::fails;
      block = last == 0 ? 0 : last == 1 ? 8 : 16;
      const unsigned table[][2] = {{0x100, 2}, {0x200, 2}, {0x300, 2}, {0x400, 1}, {0x500, 4}, {0x600, 4}, {0xA00, 2}};
      for (const auto& e : table) pixel = (raster & 0xF00) == e[0] ? e[1] : pixel;
      if (pal8 || pal4) pixel = 1;
      if (block == 0 && pixel == 0) return game_outcome::fails;
    }
    unsigned most = 0;
    for (std::uint32_t side = std::max(width, height); side > 0; side /= 2) ++most;
    if (levels_field > most) return game_outcome::fails;
    std::size_t at = body + 88 + (pal8 ? 1024 : pal4 ? 64 : 0);
    if (at > end) return game_outcome::contradiction;
    const unsigned faces = platform == 9 && (last & 2) ? 6 : 1;
    for (unsigned face = 0; face < faces; ++face) {
      for (unsigned i = 0; i < std::max(1u, levels_field); ++i) {
        const std::size_t w = std::max(1u, width >> i), h = std::max(1u, height >> i);
        const std::size_t storage = block ? ((w + 3) / 4) * ((h + 3) / 4) * block : ((w * pixel + 3) / 4 * 4) * h;
        if (end - at < 4) return game_outcome::contradiction;
        const std::size_t level = u32(at);
        if (level > storage) return game_outcome::fails;
        at += 4;
        if (end - at < level) return game_outcome::contradiction;
        at += level;
      }
    }
    if (at != end) return game_outcome::contradiction;
    pos_ = end;
    return game_outcome::read;
  }

  const bytes& f_;
  std::size_t pos_ = 0;
  bool extensions_ = true;
};

bytes file_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Our own dictionary and, where the folder is there, the real ones.
std::vector<std::pair<std::string, bytes>> corpus() {
  std::vector<std::pair<std::string, bytes>> files;
  files.emplace_back("DEVIZAR.txd", file_bytes(RING_TXD));
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(REALTXD_DIR, ec)) {
    if (entry.path().extension() == ".txd") files.emplace_back(entry.path().filename().string(), file_bytes(entry.path()));
  }
  return files;
}

// Offsets worth changing: the first bytes, every chunk header and texture
// struct up to its first level's size, and a sample of the rest.
std::vector<std::size_t> positions(const bytes& f, std::mt19937& random) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < std::min<std::size_t>(f.size(), 160); ++i) at.push_back(i);
  const auto u32 = [&](std::size_t p) {
    std::uint32_t v;
    std::memcpy(&v, f.data() + p, 4);
    return v;
  };
  unsigned textures = 0;
  for (std::size_t p = 24; p + 12 <= f.size() && textures < 6;) {
    const std::uint32_t size = u32(p + 4);
    if (size > f.size() - p - 12) break;
    if (u32(p) == 0x15) {
      ++textures;
      for (std::size_t i = p; i < std::min(f.size(), p + 12 + 12 + 96); ++i) at.push_back(i);
      for (std::size_t in = p + 12; in + 12 <= p + 12 + size; in += 12 + u32(in + 4)) {
        for (std::size_t i = in; i < in + 12; ++i) at.push_back(i);
        if (u32(in + 4) > p + size - in) break;
      }
    }
    p += 12 + size;
  }
  std::uniform_int_distribution<std::size_t> anywhere(0, f.size() - 1);
  for (int i = 0; i < 64; ++i) at.push_back(anywhere(random));
  return at;
}

class DictionaryWalkTest : public test::OverlayTest {};

// Every one-byte change of the corpus at the places that matter: the walker
// calls readable exactly what the game reads (and what contradicts itself
// not), the plugin's check agrees, and the simulated loader faults exactly
// where the game's would.
TEST_F(DictionaryWalkTest, OneByteMutationsAreJudgedAsTheGamesReaderJudgesThem) {
  std::mt19937 random(27);
  unsigned counts[4] = {}, mutations = 0, loaded = 0;
  const std::string on_disk = test::game_dir().root + "/mutation.txd";
  for (auto& [name, original] : corpus()) {
    SCOPED_TRACE(name);
    ASSERT_GT(original.size(), 12u);
    ASSERT_EQ(game_reader(original).read(), game_outcome::read);
    const txd::walk_result whole = txd::walk_dictionary(original.data(), original.size());
    ASSERT_TRUE(whole.readable()) << whole.why;
    bytes f = original;
    for (const std::size_t p : positions(original, random)) {
      const std::uint8_t was = f[p];
      for (const std::uint8_t value : {std::uint8_t(0), std::uint8_t(0xFF), std::uint8_t(was ^ 0x80), std::uint8_t(was + 1)}) {
        if (value == was) continue;
        f[p] = value;
        ++mutations;
        const game_outcome game = game_reader(f).read();
        ++counts[static_cast<int>(game)];
        const txd::walk_result walk = txd::walk_dictionary(f.data(), f.size());
        ASSERT_EQ(walk.readable(), game == game_outcome::read)
            << "byte " << p << " = " << unsigned(value) << ": the game's reader: " << name_of(game)
            << "; the walker: " << (walk.readable() ? "readable" : walk.why);
        ASSERT_EQ(walk.verdict == txd::walk_verdict::no_dictionary, game == game_outcome::empty) << walk.why;
        ASSERT_EQ(overlay::check_dictionary(f.data(), f.size()).readable, walk.readable());
        if (mutations % 97 == 0) {
          ++loaded;
          std::ofstream(on_disk, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
          world.loader_faults.clear();
          sim::host_world::load_txd(on_disk.c_str());
          EXPECT_EQ(!world.loader_faults.empty(), game == game_outcome::fails || game == game_outcome::contradiction);
        }
      }
      f[p] = was;
    }
  }
  std::printf("%u one-byte mutations (%u through the simulated loader): %u read, %u empty dictionaries, "
              "%u fail the reader, %u contradict themselves\n",
              mutations, loaded, counts[1], counts[0], counts[2], counts[3]);
}

// Files the game reads that a stricter reader would refuse, and files that
// contradict themselves though the game might read on.
TEST(DictionaryWalkEdgeTest, WhatTheGameReadsIsReadableAndContradictionsAreNamed) {
  bytes ring = file_bytes(RING_TXD);
  const auto walk = [](const bytes& b) { return txd::walk_dictionary(b.data(), b.size()); };
  const auto put32 = [](bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
  // More textures than announced: the rest is ignored.
  bytes fewer = ring;
  fewer[24] = 1;
  EXPECT_TRUE(walk(fewer).readable());
  // A chunk of another kind before the dictionary is stepped over.
  bytes led = {0x99, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF, 0x03, 0x18, 1, 2, 3, 4};
  led.insert(led.end(), ring.begin(), ring.end());
  EXPECT_TRUE(walk(led).readable());
  // A dictionary chunk of a version the game does not read: no dictionary.
  bytes newer = ring;
  put32(newer, 8, 0x1C02FFFF);  // 3.7
  EXPECT_EQ(walk(newer).verdict, txd::walk_verdict::no_dictionary);
  // A texture struct's version refused after the dictionary chunk was found.
  bytes old_struct = ring;
  put32(old_struct, 48, 0x0300);  // 3.0
  EXPECT_EQ(walk(old_struct).verdict, txd::walk_verdict::reader_fails);
  // Half the height: the first level's bytes are all there, but more than
  // its surface holds.
  bytes halved = ring;
  const std::uint16_t height = static_cast<std::uint16_t>(halved[134] | halved[135] << 8);
  halved[134] = static_cast<std::uint8_t>((height / 2) & 0xFF);
  halved[135] = static_cast<std::uint8_t>((height / 2) >> 8);
  EXPECT_EQ(walk(halved).verdict, txd::walk_verdict::reader_fails);
  EXPECT_NE(std::string(walk(halved).why).find("level 0 announces"), std::string::npos) << walk(halved).why;
  // The dictionary struct shorter than its count and device: a contradiction.
  bytes short_struct = ring;
  put32(short_struct, 16, 2);
  EXPECT_EQ(walk(short_struct).verdict, txd::walk_verdict::contradicts_itself);
}

}  // namespace
