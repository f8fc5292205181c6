// The forms in which other modules patch a call site, by the names scenarios
// give them.
#pragma once

#include <string>

#include "hooking/patch/instruction.h"

namespace sim {

using foreign_form = patch::branch_form;

bool foreign_form_named(const std::string& name, foreign_form* form);
const char* foreign_form_name(foreign_form form);

}  // namespace sim
