#include "overlay/ring_textures.h"

#include <string>

#include "hooking/ansi_text.h"
#include "hooking/plugin_folder.h"
#include "overlay/diagnostic_log.h"
#include "overlay/dictionary_check.h"
#include "overlay/plugin_state.h"
#include "overlay/product_files.h"
#include "platform/os.h"

namespace overlay {
namespace {


const char* outcome(const host::RwTexture* texture) { return texture ? "found" : "NOT FOUND"; }

// A place to look: the file as the plugin checks it, and the narrow path the
// game's loader is handed.
struct candidate {
  std::wstring file;
  hooking::game_path path;
};

void log_refusal(const candidate& c, const std::string& why) {
  log_line("TXD failed: %s", c.path.shown.c_str());
  log_line("  not a texture dictionary the game can read (%s)", why.c_str());
}

// Whether the loader may be handed the candidate. The game's loader never
// says no: a file it cannot open comes back as an empty dictionary, and one
// it cannot read damages its heap. So a file that is not there, or not a
// dictionary it can read, is never handed to it. A file refused before is
// not read again while it is unchanged.
bool can_hand_over(const candidate& c, refused_dictionary& refused) {
  const os::file_facts facts = os::file_facts_w(c.file.c_str());
  if (facts.kind != os::path_kind::file) {
    refused = refused_dictionary{};
    log_line("TXD failed: %s", c.path.shown.c_str());
    return false;
  }
  if (refused.file == c.file && refused.facts == facts) {
    log_refusal(c, refused.why);
    return false;
  }
  const dictionary_check check = check_dictionary_file(c.file, facts.size);
  if (!check.readable) {
    refused = refused_dictionary{c.file, facts, check.why};
    log_refusal(c, check.why);
    return false;
  }
  refused = refused_dictionary{};
  if (c.path.handed.empty()) {
    log_line("TXD failed: %s", c.path.shown.c_str());
    log_line("  the game cannot open this path (more than 259 characters, or outside its code page, "
             "and no shorter form)");
    return false;
  }
  return true;
}

}  // namespace

host::RwTexture* HOST_ENTRY log_texture_name(host::RwTexture* texture, void* /*data*/) {
  // The name field is 32 bytes; a name that fills it has no terminator.
  log_line("  texture in TXD: '%.32s'", texture->name);
  return texture;
}


bool load_ring_textures() {
  plugin_state& s = state();
  candidate candidates[5];
  unsigned count = 0;
  // Where a copy that handed the drawing over found it, first.
  if (!s.handed_dictionary_file.empty()) {
    candidates[count++] = candidate{s.handed_dictionary_file, {s.handed_dictionary_path, s.handed_dictionary_path}};
  }
  for (const char* name : dictionary_beside_plugin) {
    candidates[count++] = candidate{hooking::plugin_file_path(name), hooking::plugin_path_for_game(name)};
  }
  // As the game opens them: relative to its current folder.
  for (const char* name : dictionary_relative_to_game) candidates[count++] = candidate{hooking::widened(name), {name, name}};

  for (unsigned i = 0; i < count; ++i) {
    const candidate& c = candidates[i];
    if (!can_hand_over(c, s.refused[i])) continue;
    host::RwTexDictionary* dictionary = host::host_load_txd(c.path.handed.c_str());
    if (!dictionary) {
      log_line("TXD failed: %s", c.path.shown.c_str());
      continue;
    }
    log_line("TXD loaded: %s", c.path.handed.c_str());
    host::RwTexDictionaryForAllTextures(dictionary, &log_texture_name, nullptr);
    host::RwTexture* background = host::RwTexDictionaryFindNamedTexture(dictionary, background_texture);
    host::RwTexture* foreground = host::RwTexDictionaryFindNamedTexture(dictionary, foreground_texture);
    log_line("  %s -> %s", background_texture, outcome(background));
    log_line("  %s -> %s", foreground_texture, outcome(foreground));
    host::RwTexture* armour = nullptr;
    if (s.settings.show_armour || s.settings.show_relationship) {
      armour = host::RwTexDictionaryFindNamedTexture(dictionary, armour_texture_name);
      log_line("  %s -> %s", armour_texture_name, outcome(armour));
    }
    if (background && foreground) {
      s.ring_dictionary = dictionary;
      s.ring_background = background;
      s.ring_foreground = foreground;
      s.ring_armour = armour_texture(dictionary, foreground, armour);
      s.dictionary_file = c.file;
      s.dictionary_path = c.path.handed;
      return true;
    }
    host::RwTexDictionaryDestroy(dictionary);
  }
  return false;
}

host::RwTexture* armour_texture(host::RwTexDictionary* dictionary, host::RwTexture* foreground, host::RwTexture* armour) {
  if (!state().settings.show_armour && !state().settings.show_relationship) return nullptr;
  if (armour == nullptr) armour = host::RwTexDictionaryFindNamedTexture(dictionary, armour_texture_name);
  // An older dictionary without it draws the armour with the foreground.
  return armour ? armour : foreground;
}

}  // namespace overlay
