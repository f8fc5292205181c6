#include "overlay/plugin_copies.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hooking/calling_convention.h"
#include "hooking/plugin_folder.h"
#include "overlay/diagnostic_log.h"
#include "overlay/plugin_state.h"
#include "platform/os.h"

namespace overlay {
namespace {

// The process's environment names the drawing copy's link, with the process
// id: a child process inherits the text, not the copy.
constexpr const char* registry_variable = "MORVAHEALTHRING_DRAWING_COPY";
constexpr std::uint32_t link_magic = 0x4D485231;  // "MHR1"

// Every copy lays this record out the same way; only plain data and cdecl
// entry points cross from one copy to another.
struct copy_link {
  std::uint32_t magic;
  const char* path;
  void(HOST_CDECL* stood_down)(copy_link* other);
  void(HOST_CDECL* leaving)(copy_link* other);
  void(HOST_CDECL* take_over)(copy_link** others, std::uint32_t count, const char* log_path,
                              const char* previous_path);
};

struct registry {
  copy_link own{};
  std::string own_path;
  std::vector<copy_link*> standing_down;  // the copies that stood down for this one
  bool draws = false;
  void (*register_handlers)() = nullptr;
};

registry& copies() {
  static registry r;
  return r;
}

void write_claim(const copy_link* link) {
  if (link == nullptr) {
    os::set_environment_variable(registry_variable, nullptr);
    return;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%lu:%lx", static_cast<unsigned long>(os::current_process_id()),
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(link)));
  os::set_environment_variable(registry_variable, text);
}

copy_link* read_claim() {
  char text[48] = {};
  const std::uint32_t length = os::get_environment_variable(registry_variable, text, sizeof text);
  if (length == 0 || length >= sizeof text) return nullptr;
  char* rest = nullptr;
  const unsigned long process = std::strtoul(text, &rest, 10);
  if (rest == text || *rest != ':' || process != os::current_process_id()) return nullptr;
  const unsigned long address = std::strtoul(rest + 1, nullptr, 16);
  auto* link = reinterpret_cast<copy_link*>(static_cast<std::uintptr_t>(address));
  return link != nullptr && link->magic == link_magic ? link : nullptr;
}

// A copy's path lives in that copy, which stays loaded while it is listed.
const char* path_of(const copy_link* link) { return link->path ? link->path : ""; }

void HOST_CDECL on_stood_down(copy_link* other) {
  registry& r = copies();
  r.standing_down.push_back(other);
  if (state().log_started) log_line("another copy at %s was loaded and does nothing", path_of(other));
}

void HOST_CDECL on_leaving(copy_link* other) {
  registry& r = copies();
  for (std::size_t i = 0; i < r.standing_down.size(); ++i) {
    if (r.standing_down[i] == other) {
      r.standing_down.erase(r.standing_down.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

void HOST_CDECL on_take_over(copy_link** others, std::uint32_t count, const char* log_path, const char* previous_path) {
  registry& r = copies();
  r.draws = true;
  r.standing_down.assign(others, others + count);
  write_claim(&r.own);
  // The log goes on where the unloaded copy left it: nothing it wrote is lost.
  if (log_path != nullptr && *log_path != '\0') {
    state().log_path = log_path;
    state().log_started = true;
    log_line("the copy at %s was unloaded; the copy at %s draws the rings from now on", previous_path,
             r.own_path.c_str());
  }
  if (r.register_handlers) r.register_handlers();
}

}  // namespace

bool claim_drawing_copy() {
  registry& r = copies();
  if (r.own.magic != link_magic) {
    hooking::find_plugin_path_quietly(&r.own_path);
    r.own = copy_link{link_magic, r.own_path.c_str(), &on_stood_down, &on_leaving, &on_take_over};
  }
  copy_link* drawing = read_claim();
  if (drawing != nullptr && drawing != &r.own) {
    r.draws = false;
    drawing->stood_down(&r.own);
    return false;
  }
  r.draws = true;
  write_claim(&r.own);
  return true;
}

std::vector<std::string> copies_standing_down() {
  std::vector<std::string> paths;
  for (const copy_link* link : copies().standing_down) paths.emplace_back(path_of(link));
  return paths;
}

void leave_copies() {
  registry& r = copies();
  if (r.own.magic != link_magic) return;
  if (!r.draws) {
    // Whoever draws now keeps the list of those that stood down: the copy
    // this one stood down for, or one that took over from it since.
    copy_link* drawing_now = read_claim();
    if (drawing_now != nullptr && drawing_now != &r.own) drawing_now->leaving(&r.own);
    return;
  }
  if (read_claim() != &r.own) return;
  if (r.standing_down.empty()) {
    write_claim(nullptr);
    return;
  }
  copy_link* successor = r.standing_down.front();
  std::vector<copy_link*> rest(r.standing_down.begin() + 1, r.standing_down.end());
  r.standing_down.clear();
  r.draws = false;
  successor->take_over(rest.data(), static_cast<std::uint32_t>(rest.size()), state().log_path.c_str(),
                       r.own_path.c_str());
}

copies_guard::copies_guard() { copies(); }
copies_guard::~copies_guard() { leave_copies(); }

void set_take_over(void (*register_handlers)()) { copies().register_handlers = register_handlers; }

}  // namespace overlay
