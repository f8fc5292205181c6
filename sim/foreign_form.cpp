#include "sim/foreign_form.h"

namespace sim {
namespace {

using patch::branch_form;
constexpr branch_form forms[] = {branch_form::call_relative, branch_form::jump_relative, branch_form::call_indirect,
                                 branch_form::jump_indirect};

}  // namespace

bool foreign_form_named(const std::string& name, foreign_form* form) {
  for (foreign_form f : forms) {
    if (name == foreign_form_name(f)) {
      *form = f;
      return true;
    }
  }
  return false;
}

const char* foreign_form_name(foreign_form form) {
  switch (form) {
    case branch_form::call_relative: return "call";
    case branch_form::jump_relative: return "jmp";
    case branch_form::call_indirect: return "call_indirect";
    case branch_form::jump_indirect: return "jmp_indirect";
    case branch_form::none: break;
  }
  return "";
}

}  // namespace sim
