// txdtool as a modder runs it: on real dictionaries of the game and its mods
// when their folder is at hand, and on dictionaries made here.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "txd/pixels.h"
#include "png/png_io.h"
#include "txd/dictionary.h"

namespace {

namespace fs = std::filesystem;
using byte_list = std::vector<std::uint8_t>;

// A folder of its own for each test, gone after it.
struct scratch {
  fs::path dir;
  scratch() {
    char pattern[] = "/tmp/morva-txdtool-XXXXXX";
    dir = mkdtemp(pattern);
  }
  ~scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

struct run_result {
  int code = -1;
  std::string err;
};

run_result txdtool(const scratch& s, const std::string& arguments) {
  const fs::path err = s.dir / "stderr.txt";
  const std::string command = std::string(TXDTOOL_PATH) + " " + arguments + " >/dev/null 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  std::ifstream in(err);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

byte_list bytes_of(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return byte_list(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

txd::dictionary read_ok(const fs::path& p) {
  txd::read_result r = txd::read_file(p.string());
  EXPECT_TRUE(r.ok) << p << ": " << r.error;
  return r.dict;
}

png::image load(const fs::path& p) {
  png::image img;
  std::string error;
  EXPECT_TRUE(png::load(p.string(), &img, &error)) << error;
  return img;
}

const std::uint8_t* pixel(const png::image& img, std::uint32_t x, std::uint32_t y) {
  return &img.rgba[(std::size_t(y) * img.width + x) * 4];
}

class RealDictionariesTest : public ::testing::Test {
 protected:
  fs::path folder = REALTXD_DIR;
  void SetUp() override {
    if (const char* other = std::getenv("MORVA_REALTXD")) folder = other;
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no folder of real dictionaries at " << folder;
  }
  fs::path file(const char* name) const { return folder / name; }
};

TEST_F(RealDictionariesTest, EveryFileListsExtractsAndBuildsBackByteForByte) {
  scratch s;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".txd") continue;
    ++files;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    run_result r = txdtool(s, "list " + quoted(entry.path()));
    ASSERT_EQ(r.code, 0) << r.err;
    r = txdtool(s, "extract " + quoted(entry.path()) + " " + quoted(s.dir / name));
    ASSERT_EQ(r.code, 0) << r.err;
    r = txdtool(s, "build " + quoted(s.dir / (name + ".txd")) + " " + quoted(s.dir / name / "textures.json"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(bytes_of(entry.path()) == bytes_of(s.dir / (name + ".txd")));
    fs::remove_all(s.dir / name);
  }
  EXPECT_GE(files, 30);
}

// One texel of an icon of a HUD dictionary repainted, and one texel of a
// DXT3 texture given another alpha: of the whole file, the two blocks that
// hold them change, and transparency stays where it was.
TEST_F(RealDictionariesTest, RepaintedTexturesChangeAloneAndKeepTheirTransparency) {
  scratch s;
  const fs::path hud = file("cretaceous_hud.txd");
  ASSERT_EQ(txdtool(s, "extract " + quoted(hud) + " " + quoted(s.dir / "hud")).code, 0);
  const txd::dictionary before = read_ok(hud);
  std::string dxt3_name;
  for (const txd::texture& t : before.textures) {
    if (t.format == txd::pixel_format::dxt3 && dxt3_name.empty()) dxt3_name = t.name;
  }
  ASSERT_FALSE(dxt3_name.empty());

  png::image fire = load(s.dir / "hud" / "radar_fire.png");
  // The first opaque texel in a block that also holds transparent ones.
  auto mixed = [&fire](std::uint32_t x, std::uint32_t y) {
    if (pixel(fire, x, y)[3] != 255) return false;
    for (std::uint32_t by = y / 4 * 4; by < y / 4 * 4 + 4; ++by) {
      for (std::uint32_t bx = x / 4 * 4; bx < x / 4 * 4 + 4; ++bx) {
        if (pixel(fire, bx, by)[3] == 0) return true;
      }
    }
    return false;
  };
  std::uint32_t fx = 0, fy = 0;
  while (fy < fire.height && !mixed(fx, fy)) {
    fx = (fx + 1) % fire.width;
    fy += fx == 0 ? 1 : 0;
  }
  ASSERT_LT(fy, fire.height);
  std::uint8_t* painted = &fire.rgba[(std::size_t(fy) * fire.width + fx) * 4];
  const byte_list was(painted, painted + 4);
  for (int c = 0; c < 3; ++c) painted[c] = std::uint8_t(255 - painted[c]);
  const byte_list paint(painted, painted + 4);
  ASSERT_TRUE(png::save((s.dir / "hud" / "radar_fire.png").string(), fire));
  png::image other = load(s.dir / "hud" / (dxt3_name + ".png"));
  other.rgba[3] = other.rgba[3] == 255 ? 136 : 255;
  ASSERT_TRUE(png::save((s.dir / "hud" / (dxt3_name + ".png")).string(), other));

  const run_result r = txdtool(s, "build " + quoted(s.dir / "new.txd") + " " + quoted(s.dir / "hud" / "textures.json"));
  ASSERT_EQ(r.code, 0) << r.err;
  const txd::dictionary after = read_ok(s.dir / "new.txd");
  ASSERT_EQ(after.textures.size(), before.textures.size());
  for (std::size_t i = 0; i < before.textures.size(); ++i) {
    const txd::texture& a = before.textures[i];
    const txd::texture& b = after.textures[i];
    SCOPED_TRACE(a.name);
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.raster, a.raster);
    if (a.name != "radar_fire" && a.name != dxt3_name) {
      EXPECT_TRUE(b.native == a.native);
      continue;
    }
    // One texel edited: the bytes of its block alone differ.
    ASSERT_EQ(b.native.size(), a.native.size());
    std::size_t first = a.native.size(), last = 0;
    for (std::size_t k = 0; k < a.native.size(); ++k) {
      if (a.native[k] != b.native[k]) first = std::min(first, k), last = k;
    }
    ASSERT_LE(first, last);
    EXPECT_LT(last - first, a.format == txd::pixel_format::dxt1 ? 8u : 16u);
    const byte_list& old_px = a.levels[0].rgba;
    const byte_list& new_px = b.levels[0].rgba;
    const byte_list& wanted = a.name == "radar_fire" ? fire.rgba : other.rgba;
    for (std::size_t p = 0; p < old_px.size() / 4; ++p) {
      if (a.format == txd::pixel_format::dxt1) {
        ASSERT_EQ(new_px[p * 4 + 3] == 0, old_px[p * 4 + 3] == 0) << "texel " << p;
      } else {
        ASSERT_EQ(new_px[p * 4 + 3], wanted[p * 4 + 3]) << "texel " << p;
      }
    }
  }
  const txd::texture* repainted = after.find("radar_fire");
  const std::uint8_t* now = &repainted->levels[0].rgba[(std::size_t(fy) * fire.width + fx) * 4];
  auto distance = [now](const byte_list& c) {
    int d = 0;
    for (int k = 0; k < 3; ++k) d += (now[k] - c[k]) * (now[k] - c[k]);
    return d;
  };
  EXPECT_LT(distance(paint), distance(was));
}

// Colours worked out from the files' bytes: a palettised texture's index
// looked up in its palette (R, G, B, A entries), an A8L8 texel's luminance
// byte repeated and its alpha byte.
TEST_F(RealDictionariesTest, PalettisedAndLuminanceTexturesExtractToTheFilesColours) {
  scratch s;
  struct expected {
    const char* file;
    const char* image;
    std::uint32_t x, y;
    std::uint8_t rgba[4];
  };
  const expected cases[] = {
      // Direct3D 8 PAL8 over 888: index 46 at byte 1168 + 300 * 512 + 100, entry e8 98 78 ff.
      {"stars_outro.txd", "outro.png", 100, 300, {0xe8, 0x98, 0x78, 0xff}},
      // ... index 0, entry 00 00 00 ff.
      {"stars_outro.txd", "outro.png", 511, 511, {0, 0, 0, 0xff}},
      // Direct3D 8 PAL8 over 8888: index 0, entry 4b 00 05 55, its alpha kept.
      {"ucd_camaro.txd", "Lights_Glass.png", 2, 0, {0x4b, 0x00, 0x05, 0x55}},
      // Direct3D 9 A8L8: bytes 74 ff at byte 144, and 6a ff for (64, 32).
      {"stars_Mobile_details.txd", "Detail_Asphalt.png", 0, 0, {0x74, 0x74, 0x74, 0xff}},
      {"stars_Mobile_details.txd", "Detail_Asphalt.png", 64, 32, {0x6a, 0x6a, 0x6a, 0xff}},
  };
  for (const expected& e : cases) {
    SCOPED_TRACE(std::string(e.file) + " " + e.image);
    const fs::path out = s.dir / fs::path(e.file).stem();
    if (!fs::exists(out)) {
      ASSERT_EQ(txdtool(s, "extract " + quoted(file(e.file)) + " " + quoted(out)).code, 0);
    }
    const png::image img = load(out / e.image);
    ASSERT_LT(e.x, img.width);
    EXPECT_EQ(byte_list(pixel(img, e.x, e.y), pixel(img, e.x, e.y) + 4), byte_list(e.rgba, e.rgba + 4));
  }
}

// A palettised texture repainted keeps each colour it still uses in its
// palette entry, and each pixel not repainted its index; one repainted with more colours than its palette holds is
// written with every pixel as it is. A copy of the original replaced since
// extraction is refused, not trusted.
TEST(TxdToolTest, RepaintedPaletteKeepsItsEntriesOrWidensWhenItMust) {
  scratch s;
  txd::texture t;
  t.name = "pal";
  t.format = txd::pixel_format::pal8;
  t.raster = txd::raster_fields{txd::platform_d3d8, 0x2500, 1, 8, 4, 0};
  byte_list rgba(32 * 32 * 4);
  for (std::size_t i = 0; i < 32 * 32; ++i) {
    const std::uint8_t q = std::uint8_t((i % 32) / 16 + (i / 512) * 2);
    const std::uint8_t colour[4] = {std::uint8_t(q * 60), 10, std::uint8_t(200 - q * 50),
                                    std::uint8_t(q == 3 ? 128 : 255)};
    std::copy(colour, colour + 4, &rgba[i * 4]);
  }
  t.levels.push_back(txd::level{32, 32, rgba, {}});
  ASSERT_TRUE(txd::fit_palette(t));
  // The first pixel's colour also in entry 200, which rows 8 to 15 use.
  t.levels[0].stored = txd::encode_pixels(t, t.levels[0]);
  std::copy_n(&t.palette[t.levels[0].stored[0] * 4u], 4, &t.palette[200 * 4]);
  for (std::size_t i = 8 * 32; i < 16 * 32; ++i) {
    if (t.levels[0].stored[i] == t.levels[0].stored[0]) t.levels[0].stored[i] = 200;
  }
  txd::dictionary dict;
  dict.textures.push_back(t);
  ASSERT_TRUE(txd::write_file((s.dir / "pal.txd").string(), dict));
  ASSERT_EQ(txdtool(s, "extract " + quoted(s.dir / "pal.txd") + " " + quoted(s.dir / "out")).code, 0);
  const fs::path manifest = s.dir / "out" / "textures.json";
  const txd::texture before = read_ok(s.dir / "pal.txd").textures[0];

  png::image img = load(s.dir / "out" / "pal.png");
  const std::uint8_t repaint[4] = {1, 2, 3, 255};
  std::copy(repaint, repaint + 4, img.rgba.begin());
  ASSERT_TRUE(png::save((s.dir / "out" / "pal.png").string(), img));
  run_result r = txdtool(s, "build " + quoted(s.dir / "a.txd") + " " + quoted(manifest));
  ASSERT_EQ(r.code, 0) << r.err;
  const txd::texture after = read_ok(s.dir / "a.txd").textures[0];
  EXPECT_EQ(after.format, txd::pixel_format::pal8);
  EXPECT_EQ(after.raster, before.raster);
  EXPECT_EQ(after.levels[0].rgba, img.rgba);
  // The colours before keep their entries, and the other pixels their indices.
  EXPECT_EQ(byte_list(after.palette.begin(), after.palette.begin() + 16),
            byte_list(before.palette.begin(), before.palette.begin() + 16));
  EXPECT_EQ(byte_list(after.palette.begin() + 800, after.palette.begin() + 804),
            byte_list(before.palette.begin() + 800, before.palette.begin() + 804));
  ASSERT_EQ(after.levels[0].stored.size(), before.levels[0].stored.size());
  EXPECT_NE(after.levels[0].stored[0], before.levels[0].stored[0]);
  EXPECT_TRUE(std::equal(after.levels[0].stored.begin() + 1, after.levels[0].stored.end(),
                         before.levels[0].stored.begin() + 1));

  for (std::size_t i = 0; i < 32 * 32; ++i) {  // 1024 colours
    img.rgba[i * 4] = std::uint8_t(i);
    img.rgba[i * 4 + 1] = std::uint8_t(i / 256);
  }
  ASSERT_TRUE(png::save((s.dir / "out" / "pal.png").string(), img));
  r = txdtool(s, "build " + quoted(s.dir / "b.txd") + " " + quoted(manifest));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("more colours than PAL8's palette holds; written as 8888"), std::string::npos) << r.err;
  const txd::texture wide = read_ok(s.dir / "b.txd").textures[0];
  EXPECT_EQ(wide.format, txd::pixel_format::bgra8888);
  EXPECT_EQ(wide.levels[0].rgba, img.rgba);

  fs::copy_file(s.dir / "a.txd", s.dir / "out" / "original.txd", fs::copy_options::overwrite_existing);
  r = txdtool(s, "build " + quoted(s.dir / "c.txd") + " " + quoted(manifest));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is not the one extracted"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(s.dir / "c.txd"));
}

// What servers and older tools write: a native and a dictionary ending in
// empty extension chunks given twice, and a texture name in Latin-1. It is
// listed, extracted and built back byte for byte; a chunk that is no
// extension where only extensions may stand is refused with its offset.
// Also a name that fills its whole 32-byte field, without a terminator: a
// file holding one is given back, though a new name must keep the
// terminator.
TEST(TxdToolTest, DoubledEmptyExtensionsLatinOneAndFieldFillingNamesComeBackByteForByte) {
  scratch s;
  const byte_list empty_extension = {0x03, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x03, 0x18};
  txd::dictionary dict;
  txd::texture t;
  t.name = "caf\xE9";
  t.levels = txd::mip_chain(4, 4, byte_list(64, 200));
  t.more_extensions = empty_extension;
  dict.textures.push_back(t);
  t.name = std::string(32, 'n');
  dict.textures.push_back(t);
  dict.frame.more_extensions = empty_extension;
  dict.frame.more_extensions.insert(dict.frame.more_extensions.end(), empty_extension.begin(), empty_extension.end());
  const byte_list file = txd::write(dict);
  ASSERT_TRUE(txd::write_file((s.dir / "served.txd").string(), dict));
  ASSERT_EQ(txdtool(s, "list " + quoted(s.dir / "served.txd")).code, 0);
  run_result r = txdtool(s, "extract " + quoted(s.dir / "served.txd") + " " + quoted(s.dir / "out"));
  ASSERT_EQ(r.code, 0) << r.err;
  r = txdtool(s, "build " + quoted(s.dir / "back.txd") + " " + quoted(s.dir / "out" / "textures.json"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(bytes_of(s.dir / "back.txd") == file);
  EXPECT_EQ(read_ok(s.dir / "back.txd").textures.at(0).name, "caf\xE9");

  // The dictionary's last extension turned into a chunk of another type.
  byte_list wrong = file;
  const std::size_t last = wrong.size() - 12;
  wrong[last] = 0x99;
  std::ofstream(s.dir / "wrong.txd", std::ios::binary).write(reinterpret_cast<const char*>(wrong.data()), wrong.size());
  r = txdtool(s, "list " + quoted(s.dir / "wrong.txd"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("a chunk of type 0x99 where only extension chunks may end the texture dictionary"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(std::to_string(last)), std::string::npos) << r.err;
}

}  // namespace
