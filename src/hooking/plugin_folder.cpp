#include "hooking/plugin_folder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace hooking {
namespace {

struct folder_record {
  char folder[max_path_buffer];
  char scratch[max_path_buffer];
};

folder_record record;  // zero-initialised at load

// The module's path in the ANSI code page, from its wide path: as it is when
// every character converts, else its short (8.3) form, which is ASCII. A
// folder named in a script the code page lacks (Cyrillic on a Western
// Windows) would otherwise come back with '?' in it and name nothing.
bool narrow_module_path(os::module_handle handle, char* path) {
  wchar_t wide[max_path_buffer] = {};
  if (os::get_module_file_name_w(handle, wide, max_path_buffer - 1) == 0) return false;
  if (os::wide_to_ansi(wide, path, max_path_buffer - 1)) return true;
  wchar_t short_form[max_path_buffer] = {};
  const std::uint32_t length = os::get_short_path_name_w(wide, short_form, max_path_buffer - 1);
  if (length == 0 || length >= max_path_buffer - 1) return false;
  return os::wide_to_ansi(short_form, path, max_path_buffer - 1);
}

// Fills folder (max_path_buffer bytes, zeroed) with the module's folder and
// its trailing separator; false when the path has no separator.
bool module_folder(os::module_handle handle, char* folder) {
  if (!narrow_module_path(handle, folder)) {
    std::memset(folder, 0, max_path_buffer);
    // One less than the buffer: the last byte stays zero even when the path is cut.
    os::get_module_file_name(handle, folder, max_path_buffer - 1);
  }
  char* backslash = std::strrchr(folder, '\\');
  char* slash = std::strrchr(folder, '/');
  char* separator = backslash > slash ? backslash : slash;
  if (!separator) return false;
  separator[1] = '\0';
  return true;
}

bool own_module(os::module_handle* handle) {
  *handle = nullptr;
  return os::get_module_handle_ex(os::module_from_address | os::module_unchanged_refcount,
                                  reinterpret_cast<const void*>(&plugin_folder), handle);
}

bool look_up_folder() {
  os::module_handle handle = nullptr;
  if (!own_module(&handle)) {
    handle = nullptr;
    show_error_box("FILESYSTEM\nFailed to retrieve plugin dir path");
  }
  module_folder(handle, record.folder);
  return true;
}

}  // namespace

const char* plugin_folder() {
  static const bool looked_up = look_up_folder();
  (void)looked_up;
  return record.folder;
}

bool find_plugin_folder_quietly(char (&folder)[max_path_buffer]) {
  std::memset(folder, 0, sizeof folder);
  os::module_handle handle = nullptr;
  return own_module(&handle) && module_folder(handle, folder);
}

const char* plugin_relative_path(const char* relative_name) {
  const char* folder = plugin_folder();
  const std::size_t folder_length = std::strlen(folder);
  const std::size_t name_length = std::strlen(relative_name);
  if (folder_length + name_length >= max_path_buffer) {
    record.scratch[0] = '\0';
    return record.scratch;
  }
  std::memcpy(record.scratch, folder, folder_length);
  std::memcpy(record.scratch + folder_length, relative_name, name_length + 1);
  return record.scratch;
}

void show_error_box(const char* format, ...) {
  static char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  os::message_box(os::get_active_window(), text, "hookkit", os::mb_ok | os::mb_iconerror);
}

}  // namespace hooking
