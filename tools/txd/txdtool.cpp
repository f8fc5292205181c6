// txdtool: lists, extracts and builds RenderWare texture dictionaries.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "png_io.h"
#include "txd_file.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* usage_text =
    "usage: txdtool list FILE.txd\n"
    "       txdtool extract FILE.txd DIR\n"
    "       txdtool build OUT.txd NAME=IMAGE.png ...\n"
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
  for (unsigned char c : name) base.push_back(forbidden_byte(c) ? '_' : static_cast<char>(c));
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

bool open_dictionary(const char* path, txd::dictionary* dict) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    fail(path, "is a folder, not a dictionary file");
    return false;
  }
  txd::read_result r = txd::read_file(path);
  if (!r.ok) {
    fail(path, r.error);
    return false;
  }
  *dict = std::move(r.dict);
  return true;
}

int list(const char* path) {
  txd::dictionary dict;
  if (!open_dictionary(path, &dict)) return 1;
  std::printf("%-32s %9s %-6s %6s %s\n", "name", "size", "format", "levels", "alpha");
  for (const txd::texture& t : dict.textures) {
    char size[24];
    std::snprintf(size, sizeof size, "%ux%u", t.levels[0].width, t.levels[0].height);
    std::printf("%-32s %9s %-6s %6zu %s\n", t.name.c_str(), size, txd::format_name(t.format), t.levels.size(),
                t.has_alpha ? "yes" : "no");
  }
  return 0;
}

int extract(const char* path, const char* dir) {
  txd::dictionary dict;
  if (!open_dictionary(path, &dict)) return 1;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return fail(dir, ec.message());
  if (!fs::is_directory(dir, ec)) return fail(dir, "is not a folder");
  std::vector<std::string> taken;
  for (const txd::texture& t : dict.textures) {
    const fs::path out = fs::path(dir) / file_name_for(t.name, &taken);
    const txd::level& top = t.levels[0];
    errno = 0;
    if (!txd::save_png(out.string(), txd::image{top.width, top.height, top.rgba})) {
      return fail(out.string(), errno ? std::strerror(errno) : "cannot be written");
    }
    std::printf("%s\n", out.string().c_str());
  }
  return 0;
}

int build(const char* out, int count, char** descriptions) {
  txd::dictionary dict;
  for (int i = 0; i < count; ++i) {
    const char* eq = std::strchr(descriptions[i], '=');
    if (!eq || eq == descriptions[i]) {
      std::fprintf(stderr, "txdtool: '%s' is not NAME=IMAGE.png\n", descriptions[i]);
      return 2;
    }
    txd::texture t;
    t.name.assign(descriptions[i], static_cast<std::size_t>(eq - descriptions[i]));
    const std::string problem = name_problem(t.name);
    if (!problem.empty()) {
      std::fprintf(stderr, "txdtool: texture name '%s' %s\n", t.name.c_str(), problem.c_str());
      return 2;
    }
    for (const txd::texture& earlier : dict.textures) {
      if (lower(earlier.name) == lower(t.name)) {
        std::fprintf(stderr, "txdtool: texture name '%s' is given twice (the game does not tell '%s' from '%s')\n",
                     t.name.c_str(), earlier.name.c_str(), t.name.c_str());
        return 2;
      }
    }
    txd::image img;
    std::string error;
    if (!txd::load_png(eq + 1, &img, &error)) {
      std::fprintf(stderr, "txdtool: %s\n", error.c_str());
      return 1;
    }
    if (img.width > txd::max_dimension || img.height > txd::max_dimension) {
      std::fprintf(stderr, "txdtool: %s is larger than %u pixels\n", eq + 1, txd::max_dimension);
      return 1;
    }
    t.levels = txd::mip_chain(img.width, img.height, img.rgba);
    dict.textures.push_back(std::move(t));
  }
  std::error_code ec;
  if (fs::is_directory(out, ec)) return fail(out, "is a folder");
  errno = 0;
  if (!txd::write_file(out, dict)) return fail(out, errno ? std::strerror(errno) : "cannot be written");
  return 0;
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
