#include "sim/foreign_form.h"

namespace sim {

bool foreign_form_named(const std::string& name, foreign_form* form) {
  for (foreign_form f : {foreign_form::call, foreign_form::jmp, foreign_form::call_indirect, foreign_form::jmp_indirect}) {
    if (name == foreign_form_name(f)) {
      *form = f;
      return true;
    }
  }
  return false;
}

const char* foreign_form_name(foreign_form form) {
  switch (form) {
    case foreign_form::call: return "call";
    case foreign_form::jmp: return "jmp";
    case foreign_form::call_indirect: return "call_indirect";
    case foreign_form::jmp_indirect: return "jmp_indirect";
  }
  return "";
}

std::size_t foreign_form_length(foreign_form form) {
  return form == foreign_form::call || form == foreign_form::jmp ? 5 : 6;
}

}  // namespace sim
