#include "sim/os_linux.h"
#include "platform/seam_check.h"

#include <dlfcn.h>
#include <strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace os {
namespace {

struct answers {
  module_handle main_module = reinterpret_cast<module_handle>(0x400000);
  std::string module_file_name;
  std::string main_file_name;
  window_handle active_window = nullptr;
  std::vector<linux_host::shown_box> boxes;
  bool single_byte_code_page = false;
  std::vector<std::pair<std::string, std::string>> short_paths;
  std::vector<int> keys_down;
  bool foreground_is_ours = true;
  std::vector<std::string> pinned;
  std::vector<std::pair<wchar_t, std::string>> double_byte;
  std::string current_directory;
  bool by_free_library = false;
  std::vector<std::string> loaded_modules;  // besides the game and the plugin, by file name
};

answers& state() {
  static answers a;
  return a;
}

std::uintptr_t page_size() {
  static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  return size;
}

int to_posix(std::uint32_t protection) {
  switch (protection) {
    case page_readonly: return PROT_READ;
    case page_readwrite: return PROT_READ | PROT_WRITE;
    case page_execute: return PROT_EXEC;
    case page_execute_read: return PROT_READ | PROT_EXEC;
    case page_execute_readwrite: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return PROT_NONE;
  }
}

std::uint32_t to_windows(bool r, bool w, bool x) {
  if (x) return w ? page_execute_readwrite : (r ? page_execute_read : page_execute);
  if (w) return page_readwrite;
  return r ? page_readonly : page_noaccess;
}

// The current protection of the page holding address, or false when unmapped.
std::map<std::uintptr_t, std::uint32_t>& noted_protections() {
  static std::map<std::uintptr_t, std::uint32_t> pages;
  return pages;
}

bool protection_of(std::uintptr_t address, std::uint32_t* protection) {
  FILE* maps = std::fopen("/proc/self/maps", "r");
  if (!maps) return false;
  char line[512];
  bool found = false;
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long long begin = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line, "%llx-%llx %4s", &begin, &end, perms) != 3) continue;
    if (address >= begin && address < end) {
      *protection = to_windows(perms[0] == 'r', perms[1] == 'w', perms[2] == 'x');
      found = true;
      break;
    }
  }
  std::fclose(maps);
  // Mapped: as it was last given, where that is known.
  const auto noted = noted_protections().find(address & ~(page_size() - 1));
  if (found && noted != noted_protections().end()) *protection = noted->second;
  return found;
}

std::wstring from_utf8(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(code));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

// One code point's UTF-8 bytes; their count.
std::size_t encode_utf8(std::uint32_t c, char* bytes) {
  if (c < 0x80) {
    bytes[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  bytes[0] = static_cast<char>(0xF0 | (c >> 18));
  bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

std::string to_utf8(const std::wstring& text) {
  std::string out;
  char bytes[4];
  for (wchar_t w : text) out.append(bytes, encode_utf8(static_cast<std::uint32_t>(w), bytes));
  return out;
}

// The path of a module as the file system names it, in UTF-8.
bool module_path(module_handle module, std::string* path) {
  if (module == nullptr) {
    *path = state().main_file_name;
    if (!path->empty()) return true;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return false;
    path->assign(exe, static_cast<std::size_t>(n));
    return true;
  }
  *path = state().module_file_name;
  if (!path->empty()) return true;
  Dl_info info{};
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return false;
  char resolved[4096];
  *path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  return true;
}

// What the simulated ANSI code page makes of a text; '?' for what it cannot hold.
std::string to_ansi(const std::wstring& text, bool* lossless) {
  *lossless = true;
  std::string out;
  for (wchar_t w : text) {
    bool mapped = false;
    for (const auto& [character, bytes] : state().double_byte) {
      if (character == w) {
        out += bytes;
        mapped = true;
      }
    }
    if (mapped) continue;
    if (!state().single_byte_code_page) {
      out += to_utf8(std::wstring(1, w));
    } else if (static_cast<std::uint32_t>(w) > 0xFF) {
      *lossless = false;
      out.push_back('?');
    } else {
      out.push_back(static_cast<char>(w));
    }
  }
  return out;
}

// The wide text of narrow bytes in the simulated ANSI code page.
std::wstring from_ansi(const std::string& text) {
  if (!state().single_byte_code_page && state().double_byte.empty()) return from_utf8(text);
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    bool mapped = false;
    for (const auto& [character, bytes] : state().double_byte) {
      if (!mapped && text.compare(i, bytes.size(), bytes) == 0) {
        out.push_back(character);
        i += bytes.size();
        mapped = true;
      }
    }
    if (mapped) continue;
    if (state().single_byte_code_page) {
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i++])));
    } else {
      const auto c = static_cast<unsigned char>(text[i]);
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      out += from_utf8(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

// A Windows-style path for the file system, backslashes as separators, in a
// buffer of the caller's: opening the log of a frame allocates nothing, as
// CreateFileW does not. Empty when it does not fit.
struct system_path {
  char text[4 * 32768];
};
const char* file_system_path(const wchar_t* path, system_path* out) {
  std::size_t n = 0;
  for (const wchar_t* p = path; *p; ++p) {
    char bytes[4];
    const std::size_t length = encode_utf8(static_cast<std::uint32_t>(*p == L'\\' ? L'/' : *p), bytes);
    if (n + length + 1 > sizeof out->text) return "";
    std::memcpy(out->text + n, bytes, length);
    n += length;
  }
  out->text[n] = '\0';
  return out->text;
}

file_handle open_path(const char* path, file_open how) {
  int flags = O_RDONLY;
  if (how == file_open::write_new) flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (how == file_open::append) flags = O_WRONLY | O_CREAT | O_APPEND;
  struct stat info {};
  if (how == file_open::read_existing && (stat(path, &info) != 0 || S_ISDIR(info.st_mode))) return nullptr;
  const int fd = ::open(path, flags | O_CLOEXEC, 0644);
  // A descriptor of 0 would read as no file: handles are descriptor + 1.
  return fd < 0 ? nullptr : reinterpret_cast<file_handle>(static_cast<std::intptr_t>(fd) + 1);
}

int descriptor(file_handle file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1); }

// As GetModuleFileName does it: a text that does not fit is cut, terminated,
// and answered with the buffer's size.
template <class Char>
std::uint32_t copy_text(const std::basic_string<Char>& text, Char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), size - 1));
  std::copy(text.begin(), text.begin() + n, buffer);
  buffer[n] = Char{};
  return text.size() >= size ? size : n;
}

// Upper case as Windows' file name comparison has it, for the Latin and
// Cyrillic letters.
wchar_t upper(wchar_t c) {
  const auto pairs = [](wchar_t ch, wchar_t first, wchar_t last) {
    return ch >= first && ch <= last && (ch - first) % 2 == 1 ? static_cast<wchar_t>(ch - 1) : ch;
  };
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return pairs(c, 0x100, 0x137);
  if (c >= 0x139 && c <= 0x148) return pairs(c, 0x139, 0x148);
  if (c >= 0x14A && c <= 0x177) return pairs(c, 0x14A, 0x177);
  if (c >= 0x430 && c <= 0x44F) return static_cast<wchar_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<wchar_t>(c - 0x50);
  if (c >= 0x460 && c <= 0x481) return pairs(c, 0x460, 0x481);
  if (c >= 0x48A && c <= 0x4BF) return pairs(c, 0x48A, 0x4BF);
  return c;
}

}  // namespace

bool virtual_protect(void* address, std::size_t size, std::uint32_t new_protect,
                     std::uint32_t* old_protect) {
  const auto a = reinterpret_cast<std::uintptr_t>(address);
  if (detail::enter(call::virtual_protect, a, size)) return false;
  if (size == 0) return false;
  std::uint32_t old = 0;
  if (!protection_of(a, &old)) return false;
  const std::uintptr_t first = a & ~(page_size() - 1);
  const std::uintptr_t last = (a + size - 1) & ~(page_size() - 1);
  if (mprotect(reinterpret_cast<void*>(first), last - first + page_size(), to_posix(new_protect)) != 0) {
    return false;
  }
  linux_host::note_protection(first, last - first + page_size(), new_protect);
  if (old_protect) *old_protect = old;
  return true;
}

bool flush_instruction_cache(const void* address, std::size_t size) {
  if (detail::enter(call::flush_instruction_cache, reinterpret_cast<std::uintptr_t>(address), size)) {
    return false;
  }
  char* begin = static_cast<char*>(const_cast<void*>(address));
  __builtin___clear_cache(begin, begin + size);
  return true;
}

bool query_protection(const void* address, std::uint32_t* protection) {
  if (detail::enter(call::query_protection, reinterpret_cast<std::uintptr_t>(address))) return false;
  std::uint32_t found = 0;
  if (!protection_of(reinterpret_cast<std::uintptr_t>(address), &found)) return false;
  if (protection) *protection = found;
  return true;
}

bool pin_module(const void* address) {
  if (detail::enter(call::pin_module, reinterpret_cast<std::uintptr_t>(address))) return false;
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  // Marks the loaded module as never to be unmapped; takes no reference a
  // dlclose would have to give back.
  if (dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) == nullptr) return false;
  state().pinned.push_back(info.dli_fname);
  return true;
}

std::uint32_t get_environment_variable(const char* name, char* buffer, std::uint32_t size) {
  if (detail::enter(call::environment, 0, size)) return 0;
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  const std::size_t length = std::strlen(value);
  if (length + 1 > size) return static_cast<std::uint32_t>(length + 1);
  std::memcpy(buffer, value, length + 1);
  return static_cast<std::uint32_t>(length);
}

bool set_environment_variable(const char* name, const char* value) {
  if (detail::enter(call::environment)) return false;
  return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(getpid()); }
std::uint32_t current_thread_id() { return static_cast<std::uint32_t>(gettid()); }

bool key_down(int virtual_key) {
  if (detail::enter(call::key_state, static_cast<std::uintptr_t>(virtual_key))) return false;
  const std::vector<int>& down = state().keys_down;
  return std::find(down.begin(), down.end(), virtual_key) != down.end();
}

bool process_owns_foreground() {
  if (detail::enter(call::key_state)) return false;
  return state().foreground_is_ours;
}

module_handle get_module_handle(const char* name) {
  if (detail::enter(call::get_module_handle)) return nullptr;
  if (name == nullptr) return state().main_module;
  // As Windows matches a module's name: in any letter case.
  const std::vector<std::string>& loaded = state().loaded_modules;
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    if (strcasecmp(loaded[i].c_str(), name) == 0) return reinterpret_cast<module_handle>(0x70000000u + i * 0x10000u);
  }
  return nullptr;
}

bool get_module_handle_ex(std::uint32_t flags, const void* address, module_handle* module) {
  if (detail::enter(call::get_module_handle_ex, reinterpret_cast<std::uintptr_t>(address))) {
    if (module) *module = nullptr;
    return false;
  }
  Dl_info info{};
  if (!(flags & module_from_address) || dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
    if (module) *module = nullptr;
    return false;
  }
  if (module) *module = info.dli_fbase;
  return true;
}

std::uint32_t get_module_file_name(module_handle module, char* buffer, std::uint32_t size) {
  if (detail::enter(call::get_module_file_name, reinterpret_cast<std::uintptr_t>(module), size)) {
    return 0;
  }
  std::string path;
  if (!module_path(module, &path)) return 0;
  if (state().single_byte_code_page || !state().double_byte.empty()) {
    bool lossless = true;
    path = to_ansi(from_utf8(path), &lossless);
  }
  return copy_text(path, buffer, size);
}

std::uint32_t get_module_file_name_w(module_handle module, wchar_t* buffer, std::uint32_t size) {
  if (detail::enter(call::get_module_file_name_w, reinterpret_cast<std::uintptr_t>(module), size)) return 0;
  std::string path;
  if (!module_path(module, &path)) return 0;
  return copy_text(from_utf8(path), buffer, size);
}

std::uint32_t get_short_path_name_w(const wchar_t* path, wchar_t* buffer, std::uint32_t size) {
  if (detail::enter(call::get_short_path_name_w, 0, size)) return 0;
  std::string answer = to_utf8(path);
  for (const auto& [long_path, short_path] : state().short_paths) {
    if (long_path == answer) answer = short_path;
  }
  const std::wstring wide = from_utf8(answer);
  // Too small: the size needed, terminator included, and nothing copied.
  if (wide.size() + 1 > size) return static_cast<std::uint32_t>(wide.size() + 1);
  return copy_text(wide, buffer, size);
}

bool wide_to_ansi(const wchar_t* text, char* buffer, std::uint32_t size) {
  if (detail::enter(call::wide_to_ansi, 0, size)) return false;
  bool lossless = true;
  const std::string narrow = to_ansi(text, &lossless);
  if (narrow.size() + 1 > size) return false;
  copy_text(narrow, buffer, size);
  return lossless;
}

int message_box(window_handle owner, const char* text, const char* caption, std::uint32_t style) {
  if (detail::enter(call::message_box)) return 0;
  state().boxes.push_back(linux_host::shown_box{owner, text ? text : "", caption ? caption : "", style});
  return 1;  // IDOK
}

window_handle get_active_window() {
  if (detail::enter(call::get_active_window)) return nullptr;
  return state().active_window;
}

file_handle open_file_w(const wchar_t* path, file_open how) {
  if (detail::enter(call::file)) return nullptr;
  static system_path buffer;  // the game's one thread
  return open_path(file_system_path(path, &buffer), how);
}

file_handle open_file(const char* path, file_open how) {
  if (detail::enter(call::file)) return nullptr;
  // Windows' narrow file functions stop at MAX_PATH, prefix or none.
  if (std::strlen(path) >= 260) return nullptr;
  static system_path buffer;
  return open_path(file_system_path(from_ansi(path).c_str(), &buffer), how);
}

bool read_file(file_handle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  if (detail::enter(call::file, 0, size)) return false;
  const ssize_t n = ::read(descriptor(file), buffer, size);
  if (n < 0) return false;
  *read = static_cast<std::uint32_t>(n);
  return true;
}

bool write_file(file_handle file, const void* data, std::uint32_t size) {
  if (detail::enter(call::file, 0, size)) return false;
  return ::write(descriptor(file), data, size) == static_cast<ssize_t>(size);
}

void close_file(file_handle file) {
  if (file != nullptr) ::close(descriptor(file));
}

file_facts file_facts_w(const wchar_t* path) {
  file_facts facts;
  if (detail::enter(call::file_attributes)) return facts;
  static system_path buffer;
  struct stat info {};
  if (stat(file_system_path(path, &buffer), &info) != 0) return facts;
  facts.kind = S_ISDIR(info.st_mode) ? path_kind::folder : path_kind::file;
  facts.size = static_cast<std::uint64_t>(info.st_size);
  // As Windows counts: 100 ns steps since 1601.
  constexpr std::uint64_t unix_epoch = 116444736000000000ull;
  facts.write_time = unix_epoch + static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 10000000ull +
                     static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
  return facts;
}

std::uint32_t get_current_directory_w(wchar_t* buffer, std::uint32_t size) {
  if (detail::enter(call::current_directory, 0, size)) return 0;
  std::string directory = state().current_directory;
  if (directory.empty()) {
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr) return 0;
    directory = here;
  }
  const std::wstring wide = from_utf8(directory);
  if (wide.size() + 1 > size) return static_cast<std::uint32_t>(wide.size() + 1);
  return copy_text(wide, buffer, size);
}

bool same_file_name(const wchar_t* a, const wchar_t* b, std::uint32_t length) {
  for (std::uint32_t i = 0; i < length; ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool unloading_by_free_library() { return state().by_free_library; }
void note_process_detach(bool by_free_library) { state().by_free_library = by_free_library; }

namespace linux_host {

void note_protection(std::uintptr_t begin, std::size_t size, std::uint32_t protection) {
  const std::uintptr_t page = page_size();
  for (std::uintptr_t p = begin & ~(page - 1); p < begin + size; p += page) noted_protections()[p] = protection;
}

void forget_protections(std::uintptr_t begin, std::size_t size) {
  auto& pages = noted_protections();
  pages.erase(pages.lower_bound(begin & ~(page_size() - 1)), pages.lower_bound(begin + size));
}

int free_library(void* module) {
  state().by_free_library = true;
  const int result = dlclose(module);
  state().by_free_library = false;
  return result;
}
void set_current_directory(const std::string& path) { state().current_directory = path; }

void set_main_module(module_handle base) { state().main_module = base; }
void set_module_file_name(const std::string& path) { state().module_file_name = path; }
void set_main_file_name(const std::string& path) { state().main_file_name = path; }
void set_active_window(window_handle window) { state().active_window = window; }
void set_single_byte_code_page(bool on) { state().single_byte_code_page = on; }
void set_short_path(const std::string& long_path, const std::string& short_path) {
  state().short_paths.emplace_back(long_path, short_path);
}
std::vector<shown_box>& message_boxes() { return state().boxes; }
void load_module(const std::string& file_name) { state().loaded_modules.push_back(file_name); }
void unload_modules() { state().loaded_modules.clear(); }
void set_key_down(int virtual_key, bool down) {
  std::vector<int>& keys = state().keys_down;
  keys.erase(std::remove(keys.begin(), keys.end(), virtual_key), keys.end());
  if (down) keys.push_back(virtual_key);
}
void set_double_byte_character(const std::string& character, const std::string& bytes) {
  const std::wstring wide = from_utf8(character);
  if (!wide.empty()) state().double_byte.emplace_back(wide[0], bytes);
}
void set_foreground_is_ours(bool ours) { state().foreground_is_ours = ours; }
const std::vector<std::string>& pinned_modules() { return state().pinned; }

void reset() {
  state() = answers{};
}

}  // namespace linux_host
}  // namespace os
