#include "overlay/plugin_copies.h"

#include <cstdint>

#include "hooking/plugin_folder.h"
#include "overlay/copy_link.h"
#include "overlay/diagnostic_log.h"
#include "overlay/hand_over.h"
#include "overlay/plugin_state.h"

namespace overlay {
namespace {

struct registry {
  copy_link own{};
  std::string own_path;
  std::vector<copy_link*> standing_down;  // the copies that stood down for this one
  bool draws = false;
  bool claim_recorded = true;
  void (*register_handlers)() = nullptr;
};

registry& copies() {
  static registry r;
  return r;
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

void HOST_CDECL on_take_over(copy_link** others, std::uint32_t count, const hand_over* from) {
  registry& r = copies();
  r.draws = true;
  r.standing_down.assign(others, others + count);
  r.claim_recorded = write_claim(&r.own);
  if (from != nullptr) take_hand_over(*from, r.own_path);
  if (r.register_handlers) r.register_handlers();
}

}  // namespace

bool claim_drawing_copy() {
  registry& r = copies();
  if (r.own.magic != link_magic) {
    hooking::find_plugin_path_quietly(&r.own_path);
    r.own = copy_link{link_magic, link_version, sizeof(copy_link), r.own_path.c_str(), &on_stood_down, &on_leaving,
                      &on_take_over};
  }
  copy_link* drawing = read_claim();
  if (drawing != nullptr && drawing != &r.own) {
    // A copy of another release draws: stand down without a word to it.
    r.draws = false;
    if (speaks_this_version(drawing)) drawing->stood_down(&r.own);
    return false;
  }
  r.draws = true;
  r.claim_recorded = write_claim(&r.own);
  return true;
}

bool drawing_claim_recorded() { return copies().claim_recorded; }

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
    if (drawing_now != nullptr && drawing_now != &r.own && speaks_this_version(drawing_now)) {
      drawing_now->leaving(&r.own);
    }
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
  const hand_over record = hand_over_of_this_copy(r.own_path.c_str());
  successor->take_over(rest.data(), static_cast<std::uint32_t>(rest.size()), &record);
  handed_over();
}

copies_guard::copies_guard() { copies(); }
copies_guard::~copies_guard() { leave_copies(); }

void set_take_over(void (*register_handlers)()) { copies().register_handlers = register_handlers; }

}  // namespace overlay
