#include "sim/site_function.h"

#include "hooking/calling_convention.h"

#include <cassert>
#include <cstring>
#include <map>
#include <memory>

namespace sim {
namespace {

// Values the function keeps in the callee-saved registers across its call.
constexpr std::uint32_t kept_ebx = 0x0EB0EB01;
constexpr std::uint32_t kept_esi = 0x0E510E51;
constexpr std::uint32_t kept_edi = 0x0ED10ED1;

struct guard {
  std::uint32_t esp = 0;
  std::uint32_t ebp = 0;
  std::uint32_t mismatches = 0;
  std::size_t size = 0;  // of the function
};

// Addresses stay put: the function's code refers to its guard by address.
std::map<host_address, std::unique_ptr<guard>>& guards() {
  static std::map<host_address, std::unique_ptr<guard>> all;
  return all;
}

class code {
 public:
  void put(std::initializer_list<std::uint8_t> b) { bytes_.insert(bytes_.end(), b); }
  void put(const std::uint8_t* b, std::size_t n) { bytes_.insert(bytes_.end(), b, b + n); }
  void op(std::initializer_list<std::uint8_t> opcode, std::uint32_t operand) {
    put(opcode);
    append_word(bytes_, operand);
  }
  // A short conditional jump whose target is filled in later.
  std::size_t jump_if_not_equal() {
    put({0x75, 0x00});
    return bytes_.size() - 1;
  }
  void aim(std::size_t at, std::size_t target) {
    const std::ptrdiff_t distance = static_cast<std::ptrdiff_t>(target) - static_cast<std::ptrdiff_t>(at + 1);
    assert(distance >= -128 && distance <= 127);
    bytes_[at] = static_cast<std::uint8_t>(distance);
  }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

void append_word(std::vector<std::uint8_t>& code, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
}

std::vector<std::uint8_t> branch(patch::branch_form form, std::uintptr_t site, std::uintptr_t target) {
  std::vector<std::uint8_t> b(patch::branch_length(form));
  patch::encode_branch(form, site, target, b.data());
  return b;
}

void site_function::write(host_address site, const std::uint8_t* instruction, std::size_t length) {
  std::unique_ptr<guard>& slot = guards()[site];
  if (!slot) slot = std::make_unique<guard>();
  guard& g = *slot;
  const std::uint32_t esp = address32(&g.esp), ebp = address32(&g.ebp), bad = address32(&g.mismatches);

  code c;
  c.put({0x55, 0x89, 0xE5, 0x53, 0x56, 0x57});       // push ebp; mov ebp, esp; push ebx, esi, edi
  c.op({0xBB}, kept_ebx);                            // mov ebx, kept_ebx
  c.op({0xBE}, kept_esi);                            // mov esi, kept_esi
  c.op({0xBF}, kept_edi);                            // mov edi, kept_edi
  c.op({0x89, 0x25}, esp);                           // mov [guard.esp], esp
  c.op({0x89, 0x2D}, ebp);                           // mov [guard.ebp], ebp
  assert(c.size() == prologue_size);
  c.put(instruction, length);                        // the site
  std::vector<std::size_t> to_repair;
  c.op({0x81, 0xFB}, kept_ebx);                      // cmp ebx, kept_ebx
  to_repair.push_back(c.jump_if_not_equal());
  c.op({0x81, 0xFE}, kept_esi);                      // cmp esi, kept_esi
  to_repair.push_back(c.jump_if_not_equal());
  c.op({0x81, 0xFF}, kept_edi);                      // cmp edi, kept_edi
  to_repair.push_back(c.jump_if_not_equal());
  c.op({0x3B, 0x25}, esp);                           // cmp esp, [guard.esp]
  to_repair.push_back(c.jump_if_not_equal());
  c.op({0x3B, 0x2D}, ebp);                           // cmp ebp, [guard.ebp]
  to_repair.push_back(c.jump_if_not_equal());
  const std::size_t epilogue = c.size();
  c.put({0x5F, 0x5E, 0x5B, 0x5D, 0xC3});             // pop edi, esi, ebx, ebp; ret
  const std::size_t repair = c.size();
  c.op({0xFF, 0x05}, bad);                           // inc dword [guard.mismatches]
  c.op({0x8B, 0x25}, esp);                           // mov esp, [guard.esp]
  c.op({0x8B, 0x2D}, ebp);                           // mov ebp, [guard.ebp]
  c.put({0xEB, 0x00});                               // jmp epilogue
  c.aim(c.size() - 1, epilogue);
  for (std::size_t at : to_repair) c.aim(at, repair);

  g.size = c.size();
  game_image::get().write(entry(site), c.bytes().data(), c.size());
}

void site_function::write_call(host_address site, const void* callee, std::size_t slot) {
  std::vector<std::uint8_t> call =
      branch(patch::branch_form::call_relative, game_image::get().running(site), reinterpret_cast<std::uintptr_t>(callee));
  call.resize(slot, 0x90);
  write(site, call.data(), call.size());
}

void* site_function::run(host_address site) {
  using function = void*(HOST_CDECL*)();
  function volatile f = reinterpret_cast<function>(game_image::get().at(entry(site)));
  return f();
}

std::vector<std::uint8_t> site_function::bytes(host_address site) {
  const auto it = guards().find(site);
  const std::size_t size = it == guards().end() ? 0 : it->second->size;
  const std::uint8_t* p = game_image::get().at(entry(site));
  return std::vector<std::uint8_t>(p, p + size);
}

std::uint32_t site_function::mismatches() {
  std::uint32_t total = 0;
  for (const auto& [site, g] : guards()) total += g->mismatches;
  return total;
}

void site_function::clear_mismatches() {
  for (auto& [site, g] : guards()) g->mismatches = 0;
}

}  // namespace sim
