// txdtool: lists, extracts and builds RenderWare texture dictionaries.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "file/whole_file.h"
#include "tools/txd/manifest.h"
#include "png/png_io.h"
#include "tools/txd/rebuild.h"
#include "txd/dictionary.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* usage_text =
    "usage: txdtool list FILE.txd\n"
    "       txdtool extract FILE.txd DIR\n"
    "       txdtool build OUT.txd NAME=IMAGE.png ...\n"
    "       txdtool build OUT.txd DIR/textures.json\n"
    "extract writes each texture's image, textures.json (the manifest of\n"
    "everything else) and original.txd (a copy of the file); build from that\n"
    "manifest writes each texture whose images and settings were not edited\n"
    "exactly as the original holds it, and of the others encodes anew only\n"
    "the blocks or pixels that were edited.\n"
    "Built from NAME=IMAGE.png: 8888, wrap addressing, alpha when a pixel is\n"
    "not opaque, and a full mip chain (linear mip linear filter) when both sides\n"
    "are powers of two, else one level (linear filter).\n"
    "A texture name is at most 31 bytes, without path separators, '..', ':',\n"
    "control characters or other characters a Windows file name cannot hold.\n";

int usage() {
  std::fputs(usage_text, stderr);
  return 2;
}

int fail(const std::string& what, const std::string& reason) {
  std::fprintf(stderr, "txdtool: %s: %s\n", what.c_str(), reason.c_str());
  return 1;
}

int fail(const std::string& line) {
  std::fprintf(stderr, "txdtool: %s\n", line.c_str());
  return 1;
}

bool reserved_device(std::string name) {
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
  return name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) && name[3] >= '1' &&
         name[3] <= '9';
}

bool forbidden_byte(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

// Why a texture name cannot go into a dictionary, or empty when it can. The
// game reads the name from a 32-byte field that must keep its terminator, and
// extract writes it as a file name.
std::string name_problem(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name.size() > txd::max_name_bytes) {
    return "is " + std::to_string(name.size()) + " bytes long; at most " + std::to_string(txd::max_name_bytes) +
           " bytes fit the game's 32-byte name field with its terminator";
  }
  for (unsigned char c : name) {
    if (forbidden_byte(c)) return "holds a path separator, ':', a control character or one of * ? \" < > |";
  }
  if (name.find("..") != std::string::npos) return "holds '..'";
  if (name.back() == '.' || name.back() == ' ') return "ends in a dot or a blank, which Windows drops from file names";
  if (reserved_device(name)) return "is a device name that Windows keeps for itself";
  return {};
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A file name for a texture name from a foreign dictionary: every byte a
// Windows file name cannot hold becomes '_', and a name that would still be
// special gets a leading '_'. Names that meet are told apart by "~2", "~3"...
std::string file_name_for(const std::string& name, std::vector<std::string>* taken) {
  std::string base;
  // A name that is not UTF-8 (Latin-1, from older tools) keeps its ASCII
  // only: the manifest names its files in UTF-8.
  const bool utf8 = txd::valid_utf8(name);
  for (unsigned char c : name) base.push_back(forbidden_byte(c) || (!utf8 && c >= 0x80) ? '_' : static_cast<char>(c));
  for (std::size_t at; (at = base.find("..")) != std::string::npos;) base[at] = '_';
  while (!base.empty() && (base.back() == '.' || base.back() == ' ')) base.back() = '_';
  if (base.empty() || reserved_device(base)) base.insert(0, "_");
  std::string candidate = base;
  for (int n = 2; std::find(taken->begin(), taken->end(), lower(candidate)) != taken->end(); ++n) {
    candidate = base + "~" + std::to_string(n);
  }
  taken->push_back(lower(candidate));
  return candidate + ".png";
}

bool read_bytes(const fs::path& path, std::vector<std::uint8_t>* bytes) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    fail(path.string(), "is a folder, not a dictionary file");
    return false;
  }
  file::whole_file f = file::read_whole(path);
  if (!f.ok) {
    fail(path.string(), f.error);
    return false;
  }
  *bytes = std::move(f.bytes);
  return true;
}

// The dictionary, and the file's bytes when asked for.
bool open_dictionary(const fs::path& path, txd::dictionary* dict, std::vector<std::uint8_t>* file = nullptr) {
  std::vector<std::uint8_t> bytes;
  if (!read_bytes(path, &bytes)) return false;
  txd::read_result r = txd::read(bytes.data(), bytes.size());
  if (!r.ok) {
    fail(path.string(), r.error);
    return false;
  }
  *dict = std::move(r.dict);
  if (file) *file = std::move(bytes);
  return true;
}

// Writes a new file beside path and puts it in path's place only once it is
// whole, so that a failed write leaves what was there.
bool write_bytes(const fs::path& path, const void* data, std::size_t size) {
  errno = 0;
  fs::path partial = path;
  partial += ".partial";
  std::FILE* f = std::fopen(partial.string().c_str(), "wb");
  if (!f) {
    fail(path.string(), errno ? std::strerror(errno) : "cannot be written");
    return false;
  }
  const bool written = std::fwrite(data, 1, size, f) == size;
  const bool closed = std::fclose(f) == 0;
  std::error_code ec;
  if (!written || !closed) {
    fail(path.string(), errno ? std::strerror(errno) : "cannot be written");
    fs::remove(partial, ec);
    return false;
  }
  fs::rename(partial, path, ec);
  if (ec) {
    fail(path.string(), ec.message());
    fs::remove(partial, ec);
    return false;
  }
  return true;
}

int list(const char* path) {
  txd::dictionary dict;
  if (!open_dictionary(path, &dict)) return 1;
  std::printf("%-32s %-8s %9s %-6s %6s %-5s %-18s %s\n", "name", "platform", "size", "format", "levels", "alpha",
              "filter", "addressing u/v");
  for (const txd::texture& t : dict.textures) {
    char size[24];
    std::snprintf(size, sizeof size, "%ux%u", t.levels[0].width, t.levels[0].height);
    const bool d3d8 = t.raster && t.raster->platform == txd::platform_d3d8;
    std::printf("%-32s %-8s %9s %-6s %6zu %-5s %-18s %s/%s\n", t.name.c_str(), d3d8 ? "D3D8" : "D3D9", size,
                txd::format_name(t.format),
                t.levels.size(), t.has_alpha ? "yes" : "no", txd::filter_name(t.filter),
                txd::addressing_name(t.addressing & 0x0F), txd::addressing_name(t.addressing >> 4));
  }
  return 0;
}

bool write_png(const fs::path& out, const txd::level& l) {
  errno = 0;
  if (png::save(out.string(), png::image{l.width, l.height, l.rgba})) return true;
  fail(out.string(), errno ? std::strerror(errno) : "cannot be written");
  return false;
}

// The files an extract has written so far, taken away again when it fails,
// so that a failed extract leaves no half of one behind.
class written_files {
 public:
  bool add(bool written, const fs::path& p) {
    if (written) files_.push_back(p);
    return written;
  }
  void take_back() {
    std::error_code ignored;
    for (const fs::path& p : files_) fs::remove(p, ignored);
    files_.clear();
  }

 private:
  std::vector<fs::path> files_;
};

int extract(const char* path, const char* dir) {
  txd::dictionary dict;
  std::vector<std::uint8_t> file;
  if (!open_dictionary(path, &dict, &file)) return 1;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return fail(dir, ec.message());
  if (!fs::is_directory(dir, ec)) return fail(dir, "is not a folder");
  std::vector<std::string> taken = {txd::manifest_name, txd::original_name};
  txd::manifest m;
  m.device_id = dict.device_id;
  m.original = txd::original_name;
  // Every file is named and the manifest made before anything is written.
  std::vector<std::pair<fs::path, const txd::level*>> images;
  for (std::size_t index = 0; index < dict.textures.size(); ++index) {
    const txd::texture& t = dict.textures[index];
    txd::manifest_entry e;
    e.settings = t;
    e.settings.levels.clear();
    e.settings.native.clear();
    e.settings.palette.clear();
    e.level_count = static_cast<unsigned>(t.levels.size());
    e.native = static_cast<unsigned>(index);
    e.image = file_name_for(t.name, &taken);
    images.emplace_back(fs::path(dir) / e.image, &t.levels[0]);
    e.pixels.push_back(txd::pixel_hash(t.levels[0].width, t.levels[0].height, t.levels[0].rgba));
    // Levels that build would compute from the first are not stored.
    const txd::level& top = t.levels[0];
    const std::vector<txd::level> computed = txd::mip_chain(top.width, top.height, top.rgba);
    if (t.levels.size() > computed.size() || !std::equal(t.levels.begin(), t.levels.end(), computed.begin())) {
      const std::string stem = e.image.stem().string();
      for (std::size_t i = 1; i < t.levels.size(); ++i) {
        e.level_images.emplace_back(file_name_for(stem + "." + std::to_string(i), &taken));
        images.emplace_back(fs::path(dir) / e.level_images.back(), &t.levels[i]);
        e.pixels.push_back(txd::pixel_hash(t.levels[i].width, t.levels[i].height, t.levels[i].rgba));
      }
    }
    m.entries.push_back(std::move(e));
  }
  const std::string text = txd::manifest_text(m);
  written_files written;
  for (const auto& [image, level] : images) {
    if (!written.add(write_png(image, *level), image)) {
      written.take_back();
      return 1;
    }
    std::printf("%s\n", image.string().c_str());
  }
  // The original beside the manifest, unless it is already that file.
  const fs::path original = fs::path(dir) / txd::original_name;
  if (!fs::equivalent(path, original, ec) && !written.add(write_bytes(original, file.data(), file.size()), original)) {
    written.take_back();
    return 1;
  }
  std::printf("%s\n", original.string().c_str());
  const fs::path manifest_path = fs::path(dir) / txd::manifest_name;
  if (!write_bytes(manifest_path, text.data(), text.size())) {
    written.take_back();
    return 1;
  }
  std::printf("%s\n", manifest_path.string().c_str());
  return 0;
}

// A name the game and a file system can hold, not yet in the dictionary; one
// line and false if not.
bool well_named(const txd::texture& t, const txd::dictionary& dict) {
  const std::string problem = name_problem(t.name);
  if (!problem.empty()) {
    std::fprintf(stderr, "txdtool: texture name '%s' %s\n", t.name.c_str(), problem.c_str());
    return false;
  }
  for (const txd::texture& earlier : dict.textures) {
    if (lower(earlier.name) == lower(t.name)) {
      std::fprintf(stderr, "txdtool: texture name '%s' is given twice (the game does not tell '%s' from '%s')\n",
                   t.name.c_str(), earlier.name.c_str(), t.name.c_str());
      return false;
    }
  }
  return true;
}

// Names and sizes a texture must have to be written; one line and false if not.
bool acceptable(const txd::texture& t, const txd::dictionary& dict, const std::string& source) {
  if (!well_named(t, dict)) return false;
  const txd::level& top = t.levels[0];
  if (top.width > txd::max_dimension || top.height > txd::max_dimension) {
    fail(source, "is larger than " + std::to_string(txd::max_dimension) + " pixels");
    return false;
  }
  if (t.levels.size() > 1 && (!txd::power_of_two(top.width) || !txd::power_of_two(top.height))) {
    fail(source, std::to_string(top.width) + "x" + std::to_string(top.height) +
                     " with a mip chain: the game's Direct3D 9 path needs sides that are powers of two");
    return false;
  }
  return true;
}

bool load_image(const fs::path& path, png::image* img) {
  std::string error;
  if (txd::load_image(path, img, &error)) return true;
  std::fprintf(stderr, "txdtool: %s\n", error.c_str());
  return false;
}

bool save_dictionary(const char* out, const txd::dictionary& dict) {
  std::error_code ec;
  if (fs::is_directory(out, ec)) {
    fail(out, "is a folder");
    return false;
  }
  const std::vector<std::uint8_t> bytes = txd::write(dict);
  return write_bytes(out, bytes.data(), bytes.size());
}

// A name the game's field holds; one line and false if not. A name the
// original holds stays as it is, even one that fills the field without a
// terminator: only a new name must keep it. A built dictionary may give a
// name twice, as the game loads such files.
bool fits_name_field(const txd::texture& t, const txd::dictionary& dict, const std::string& source,
                     const std::string* original_name) {
  const bool kept = original_name != nullptr && *original_name == t.name;
  if (t.name.size() > txd::max_name_bytes && !kept) {
    fail(source, "texture name '" + t.name + "' is " + std::to_string(t.name.size()) + " bytes long; at most " +
                     std::to_string(txd::max_name_bytes) + " bytes fit the game's 32-byte name field with its terminator");
    return false;
  }
  for (const txd::texture& earlier : dict.textures) {
    if (lower(earlier.name) == lower(t.name)) {
      std::fprintf(stderr, "txdtool: note: texture name '%s' is given twice; the game finds only one of them\n",
                   t.name.c_str());
      break;
    }
  }
  return true;
}

int build_from_manifest(const char* out, const char* manifest_file) {
  const file::whole_file manifest_text = file::read_whole(manifest_file);
  if (!manifest_text.ok) return fail(manifest_file, manifest_text.error);
  const std::string text = manifest_text.text();
  txd::manifest m;
  std::string error;
  if (!txd::parse_manifest(text, &m, &error)) return fail(manifest_file, error);
  const fs::path folder = fs::path(manifest_file).parent_path();
  txd::dictionary dict;
  txd::dictionary original;
  const bool has_original = !m.original.empty();
  if (has_original && !open_dictionary(folder / m.original, &original)) return 1;
  if (has_original) {
    dict.frame = original.frame;
    dict.trailing = original.trailing;
  }
  dict.device_id = m.device_id;
  for (const txd::manifest_entry& e : m.entries) {
    if (e.native && !has_original) {
      return fail(manifest_file, "texture '" + e.settings.name + "' names the original, but the manifest has none");
    }
    txd::texture t;
    std::vector<std::string> notes;
    const bool rebuilt = txd::rebuild_texture(folder, e, has_original ? &original : nullptr, &t, &error, &notes);
    for (const std::string& note : notes) std::fprintf(stderr, "txdtool: %s\n", note.c_str());
    if (!rebuilt) return fail(error);
    const std::string source = (folder / e.image).string();
    const std::string* original_name =
        e.native && *e.native < original.textures.size() ? &original.textures[*e.native].name : nullptr;
    if (!fits_name_field(t, dict, source, original_name)) return 1;
    if (t.levels[0].width > txd::max_dimension || t.levels[0].height > txd::max_dimension) {
      return fail(source, "is larger than " + std::to_string(txd::max_dimension) + " pixels");
    }
    dict.textures.push_back(std::move(t));
  }
  return save_dictionary(out, dict) ? 0 : 1;
}

int build(const char* out, int count, char** descriptions) {
  if (count == 1 && !std::strchr(descriptions[0], '=')) return build_from_manifest(out, descriptions[0]);
  txd::dictionary dict;
  for (int i = 0; i < count; ++i) {
    const char* eq = std::strchr(descriptions[i], '=');
    if (!eq || eq == descriptions[i]) {
      std::fprintf(stderr, "txdtool: '%s' is not NAME=IMAGE.png\n", descriptions[i]);
      return 2;
    }
    txd::texture t;
    t.name.assign(descriptions[i], static_cast<std::size_t>(eq - descriptions[i]));
    if (!well_named(t, dict)) return 2;
    png::image img;
    if (!load_image(eq + 1, &img)) return 1;
    if (txd::power_of_two(img.width) && txd::power_of_two(img.height)) {
      t.levels = txd::mip_chain(img.width, img.height, img.rgba);
    } else {
      t.levels.push_back(txd::level{img.width, img.height, img.rgba, {}});
    }
    if (!acceptable(t, dict, eq + 1)) return 1;
    dict.textures.push_back(std::move(t));
  }
  return save_dictionary(out, dict) ? 0 : 1;
}

int run(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(usage_text, stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "list") == 0) return list(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3]);
  if (argc >= 4 && std::strcmp(argv[1], "build") == 0) return build(argv[2], argc - 3, argv + 3);
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const fs::filesystem_error& e) {
    return fail(e.path1().string(), e.code().message());
  } catch (const std::exception& e) {
    return fail("txdtool", e.what());
  }
}
