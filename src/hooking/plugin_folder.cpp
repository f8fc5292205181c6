#include "hooking/plugin_folder.h"

#include <cstring>

#include "hooking/ansi_text.h"
#include "hooking/long_path.h"
#include "hooking/module_path.h"
#include "hooking/short_path.h"
#include "platform/os.h"

namespace hooking {
namespace {

// Static and never freed: the handlers may ask for it up to the very end.
struct folder_record {
  char folder[max_long_path];
  char scratch[max_long_path + 8];
  std::wstring* wide_folder;
};

folder_record record;  // zero-initialised at load

// Folder and file of a module path, in the ANSI code page. The path is split
// on its wide form: in a double-byte code page a character's second byte can
// be 0x5C, the backslash, and splitting the converted text would cut it in
// two. A path the code page cannot hold is taken in its short (8.3) form.
bool narrow_module_parts(const std::wstring& module_path, std::string* folder, std::string* file) {
  std::wstring wide = module_path;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::size_t cut = folder_length(wide.c_str(), wide.size());
    if (cut != 0 && to_ansi(wide.substr(0, cut), folder) && to_ansi(wide.substr(cut), file)) return true;
    if (cut == 0 && to_ansi(wide, file)) {
      *folder = *file;  // no separator: the whole path serves as the folder
      return true;
    }
    std::wstring short_form;
    if (attempt == 1 || !short_path(wide, &short_form) || short_form == wide) break;
    wide = short_form;
  }
  return false;
}

// The module's folder, with its trailing separator, wide and narrow; false
// when the path has no separator.
bool module_folder(os::module_handle handle, std::wstring* wide_folder, std::string* folder) {
  std::wstring wide;
  std::string file;
  if (wide_module_path(handle, &wide)) {
    const std::size_t cut = folder_length(wide.c_str(), wide.size());
    wide_folder->assign(wide, 0, cut != 0 ? cut : wide.size());
    if (narrow_module_parts(wide, folder, &file)) return folder_length(folder->c_str(), folder->size()) != 0;
  }
  // Last resort, the narrow call: one less than the buffer, so the last byte
  // stays zero even when the path is cut.
  char narrow[max_path_buffer] = {};
  os::get_module_file_name(handle, narrow, max_path_buffer - 1);
  const std::size_t length = std::strlen(narrow);
  const std::size_t cut = folder_length(narrow, length);
  folder->assign(narrow, cut != 0 ? cut : length);
  return cut != 0;
}

bool look_up_folder() {
  os::module_handle handle = nullptr;
  if (!own_module(&handle)) {
    handle = nullptr;
    show_error_box("FILESYSTEM\nFailed to retrieve plugin dir path");
  }
  // Made at the first handler, so gone before every load-time object at
  // exit; nothing at unload asks for it (the log keeps its own path).
  static std::wstring wide;
  record.wide_folder = &wide;
  std::string folder;
  module_folder(handle, &wide, &folder);
  if (folder.size() < sizeof record.folder) std::memcpy(record.folder, folder.c_str(), folder.size() + 1);
  return true;
}

// Whether path lies under folder (compared as Windows compares file names,
// in any letter case of any script, either separator), and the rest behind it.
bool relative_to(const std::wstring& path, std::wstring folder, std::wstring* rest) {
  if (folder.empty()) return false;
  if (folder.back() != L'\\' && folder.back() != L'/') folder.push_back(L'\\');
  if (path.size() <= folder.size()) return false;
  std::wstring head(path, 0, folder.size());
  for (std::wstring* text : {&head, &folder}) {
    for (wchar_t& c : *text) c = c == L'/' ? L'\\' : c;
  }
  if (!os::same_file_name(head.c_str(), folder.c_str(), static_cast<std::uint32_t>(folder.size()))) return false;
  rest->assign(path, folder.size());
  return true;
}

bool current_folder(std::wstring* folder) {
  std::uint32_t size = max_path_buffer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::wstring buffer(size, L'\0');
    const std::uint32_t length = os::get_current_directory_w(buffer.data(), size);
    if (length == 0 || length > max_long_path) return false;
    if (length < size) {
      folder->assign(buffer, 0, length);
      return true;
    }
    size = length;
  }
  return false;
}

// A narrow form the game's CreateFileA takes.
bool fits_the_game(const std::wstring& path, std::string* narrow) {
  return path.size() <= max_plain_path && to_ansi(path, narrow) && narrow->size() <= max_plain_path;
}

}  // namespace

const char* plugin_folder() {
  static const bool looked_up = look_up_folder();
  (void)looked_up;
  return record.folder;
}

const std::wstring& plugin_folder_w() {
  plugin_folder();
  return *record.wide_folder;
}

bool find_plugin_folder_quietly(std::string* folder) {
  folder->clear();
  os::module_handle handle = nullptr;
  std::wstring wide;
  if (own_module(&handle) && module_folder(handle, &wide, folder)) return true;
  folder->clear();
  return false;
}

bool find_plugin_folder_quietly_w(std::wstring* folder) {
  folder->clear();
  os::module_handle handle = nullptr;
  std::wstring path;
  if (!own_module(&handle) || !wide_module_path(handle, &path)) return false;
  const std::size_t cut = folder_length(path.c_str(), path.size());
  if (cut == 0) return false;
  folder->assign(path, 0, cut);
  return true;
}

bool find_plugin_path_quietly(std::string* path) {
  path->clear();
  os::module_handle handle = nullptr;
  std::wstring wide;
  std::string folder;
  std::string file;
  if (!own_module(&handle) || !wide_module_path(handle, &wide) || !narrow_module_parts(wide, &folder, &file)) {
    return false;
  }
  *path = folder == file ? file : folder + file;
  return true;
}

const char* plugin_relative_path(const char* relative_name) {
  const std::string joined = std::string(plugin_folder()) + relative_name;
  const std::string path = with_long_path_prefix(joined);
  if (path.size() >= sizeof record.scratch) {
    record.scratch[0] = '\0';
    return record.scratch;
  }
  std::memcpy(record.scratch, path.c_str(), path.size() + 1);
  return record.scratch;
}

std::wstring plugin_file_path(const std::wstring& folder, const char* relative_name) {
  return with_long_path_prefix(folder + widened(relative_name));
}

std::wstring plugin_file_path(const char* relative_name) { return plugin_file_path(plugin_folder_w(), relative_name); }

game_path plugin_path_for_game(const char* relative_name) {
  const std::wstring name = widened(relative_name);
  const std::wstring& folder = plugin_folder_w();
  const std::wstring full = folder + name;
  game_path result;
  std::wstring short_folder;
  std::wstring here;
  std::wstring rest;
  if (fits_the_game(full, &result.handed)) {
    result.shown = result.handed;
  } else if (short_path(folder, &short_folder) && fits_the_game(short_folder + name, &result.handed)) {
    result.shown = result.handed;
  } else if (current_folder(&here) && relative_to(full, here, &rest) && fits_the_game(rest, &result.handed)) {
    result.shown = result.handed;
  } else {
    result.handed.clear();
    result.shown = ansi_for_display(full);
  }
  return result;
}

}  // namespace hooking
