// The simulator's record of host calls as JSON Lines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sim/host_world.h"

namespace sim {

std::string trace_line(const host_call& call);

// Appends one line per call.
void write_trace(std::FILE* out, const std::vector<host_call>& calls);

}  // namespace sim
