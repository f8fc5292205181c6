#include "hooking/error_box.h"

#include <cstdarg>
#include <cstdio>

#include "platform/os.h"

namespace hooking {

void show_error_box(const char* format, ...) {
  static char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  os::message_box(os::get_active_window(), text, "hookkit", os::mb_ok | os::mb_iconerror);
}

}  // namespace hooking
