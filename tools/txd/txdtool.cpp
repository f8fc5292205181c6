// txdtool: lists, extracts and builds RenderWare texture dictionaries.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "png_io.h"
#include "txd_file.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: txdtool list FILE.txd\n"
               "       txdtool extract FILE.txd DIR\n"
               "       txdtool build OUT.txd NAME=IMAGE.png ...\n");
  return 2;
}

bool open_dictionary(const char* path, txd::dictionary* dict) {
  txd::read_result r = txd::read_file(path);
  if (!r.ok) {
    std::fprintf(stderr, "txdtool: %s: %s\n", path, r.error.c_str());
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
  std::filesystem::create_directories(dir);
  for (const txd::texture& t : dict.textures) {
    const std::string out = std::string(dir) + "/" + t.name + ".png";
    const txd::level& top = t.levels[0];
    if (!txd::save_png(out, txd::image{top.width, top.height, top.rgba})) {
      std::fprintf(stderr, "txdtool: cannot write %s\n", out.c_str());
      return 1;
    }
    std::printf("%s\n", out.c_str());
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
    if (t.name.size() > 32) {
      std::fprintf(stderr, "txdtool: texture name '%s' is longer than 32 characters\n", t.name.c_str());
      return 2;
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
  if (!txd::write_file(out, dict)) {
    std::fprintf(stderr, "txdtool: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "list") == 0 && argc == 3) return list(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3]);
  if (argc >= 4 && std::strcmp(argv[1], "build") == 0) return build(argv[2], argc - 3, argv + 3);
  return usage();
}
