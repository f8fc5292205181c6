// The hooks of one site that stay installed for the life of the process.
#pragma once

#include <list>

namespace patch {

// Destroyed first to last at exit.
template <class Hook>
std::list<Hook>& hook_store() {
  static std::list<Hook> store;
  return store;
}

}  // namespace patch
