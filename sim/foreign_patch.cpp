#include "sim/foreign_patch.h"

#include <cstring>

#include "sim/site_function.h"

namespace sim {

foreign_module& foreign_module::get() {
  static foreign_module module;
  return module;
}

bool foreign_module::ensure_memory() {
  if (code_) return true;
  code_ = static_cast<std::uint8_t*>(memory::allocate(page));
  data_ = static_cast<std::uint32_t*>(memory::allocate(page));
  return code_ && data_ && memory::protect(code_, page, memory::access::read_execute);
}

bool foreign_module::patch(host_address site, foreign_form form, const void* callee) {
  if (!ensure_memory()) return false;
  std::size_t slot = entries_.size();
  for (const entry& e : entries_) {
    if (e.site == site) slot = e.slot;
  }
  if (slot * slot_size >= page) return false;
  if (slot == entries_.size()) entries_.push_back({site, slot});
  std::uint32_t* counter = data_ + slot * 2;
  std::uint32_t* cell = counter + 1;
  *counter = 0;

  const std::uintptr_t site_at = game_image::get().running(site);
  const std::size_t length = patch::branch_length(form);
  const bool jumps = form == patch::branch_form::jump_relative || form == patch::branch_form::jump_indirect;
  std::uint8_t* code = code_ + slot * slot_size;
  const auto code_at = reinterpret_cast<std::uintptr_t>(code);

  std::vector<std::uint8_t> body = {0xFF, 0x05};  // inc dword [counter]
  append_word(body, address32(counter));
  const std::vector<std::uint8_t> call =
      branch(patch::branch_form::call_relative, code_at + body.size(), reinterpret_cast<std::uintptr_t>(callee));
  body.insert(body.end(), call.begin(), call.end());
  if (jumps) {
    const std::vector<std::uint8_t> back = branch(patch::branch_form::jump_relative, code_at + body.size(), site_at + length);
    body.insert(body.end(), back.begin(), back.end());  // behind the site
  } else {
    body.push_back(0xC3);
  }
  if (!memory::protect(code_, page, memory::access::read_write)) return false;
  std::memcpy(code, body.data(), body.size());
  if (!memory::protect(code_, page, memory::access::read_execute)) return false;
  *cell = static_cast<std::uint32_t>(code_at);

  const bool relative = form == patch::branch_form::call_relative || form == patch::branch_form::jump_relative;
  const std::vector<std::uint8_t> instruction = branch(form, site_at, relative ? code_at : address32(cell));
  site_function::write(site, instruction.data(), instruction.size());
  return true;
}

std::uint32_t foreign_module::runs(host_address site) const {
  for (const entry& e : entries_) {
    if (e.site == site) return data_[e.slot * 2];
  }
  return 0;
}

std::vector<foreign_module::region> foreign_module::regions() const {
  if (!code_) return {};
  return {{reinterpret_cast<std::uintptr_t>(code_), page}, {reinterpret_cast<std::uintptr_t>(data_), page}};
}

void foreign_module::clear() { entries_.clear(); }

}  // namespace sim
