// The forms in which other modules patch a call site.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

enum class foreign_form { call, jmp, call_indirect, jmp_indirect };

bool foreign_form_named(const std::string& name, foreign_form* form);
const char* foreign_form_name(foreign_form form);
// 5 for the rel32 forms, 6 for those through a pointer.
std::size_t foreign_form_length(foreign_form form);

}  // namespace sim
