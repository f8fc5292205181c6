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

bool look_up_folder() {
  os::module_handle handle = nullptr;
  if (!os::get_module_handle_ex(os::module_from_address | os::module_unchanged_refcount,
                                reinterpret_cast<const void*>(&plugin_folder), &handle)) {
    show_error_box("FILESYSTEM\nFailed to retrieve plugin dir path");
  }
  // One less than the buffer: the last byte stays zero even when the path is cut.
  os::get_module_file_name(handle, record.folder, max_path_buffer - 1);
  char* backslash = std::strrchr(record.folder, '\\');
  char* slash = std::strrchr(record.folder, '/');
  char* separator = backslash > slash ? backslash : slash;
  if (separator) separator[1] = '\0';
  return true;
}

}  // namespace

const char* plugin_folder() {
  static const bool looked_up = look_up_folder();
  (void)looked_up;
  return record.folder;
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
