#include "overlay/ring_textures.h"

#include <string>

#include "hooking/plugin_folder.h"
#include "overlay/diagnostic_log.h"
#include "overlay/plugin_state.h"

namespace overlay {
namespace {

constexpr const char* beside_plugin[] = {"DEVIZAR.txd", "models\\txd\\DEVIZAR.txd"};
constexpr const char* relative_to_game[] = {"modloader\\Morva Health\\models\\txd\\DEVIZAR.txd",
                                            "models\\txd\\DEVIZAR.txd"};
constexpr const char* background_name = "hpbg";
constexpr const char* foreground_name = "hpfg";

const char* outcome(const host::RwTexture* texture) { return texture ? "found" : "NOT FOUND"; }

}  // namespace

host::RwTexture* HOST_ENTRY log_texture_name(host::RwTexture* texture, void* /*data*/) {
  // The name field is 32 bytes; a name that fills it has no terminator.
  log_line("  texture in TXD: '%.32s'", texture->name);
  return texture;
}

bool load_ring_textures() {
  std::string candidates[4];
  unsigned count = 0;
  for (const char* name : beside_plugin) candidates[count++] = hooking::plugin_relative_path(name);
  for (const char* name : relative_to_game) candidates[count++] = name;

  for (const std::string& candidate : candidates) {
    // An empty candidate is a join that did not fit: nothing to open.
    host::RwTexDictionary* dictionary =
        candidate.empty() ? nullptr : host::host_load_txd(candidate.c_str());
    if (!dictionary) {
      log_line("TXD failed: %s", candidate.c_str());
      continue;
    }
    log_line("TXD loaded: %s", candidate.c_str());
    host::RwTexDictionaryForAllTextures(dictionary, &log_texture_name, nullptr);
    host::RwTexture* background = host::RwTexDictionaryFindNamedTexture(dictionary, background_name);
    host::RwTexture* foreground = host::RwTexDictionaryFindNamedTexture(dictionary, foreground_name);
    log_line("  %s -> %s", background_name, outcome(background));
    log_line("  %s -> %s", foreground_name, outcome(foreground));
    if (background && foreground) {
      plugin_state& s = state();
      s.ring_dictionary = dictionary;
      s.ring_background = background;
      s.ring_foreground = foreground;
      return true;
    }
    host::RwTexDictionaryDestroy(dictionary);
  }
  return false;
}

}  // namespace overlay
