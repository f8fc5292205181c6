// A second, independent copy of the hooking framework, loaded as its own
// module, as another plugin built on it would be.
#include "hooking/patch/hooking.h"

namespace {

constexpr hooking::host_address shared_site = 0x401F00;
using copy_hooker = patch::function_hooker<patch::scoped_call, shared_site, void*()>;

unsigned runs = 0;
copy_hooker* installed = nullptr;

}  // namespace

extern "C" __attribute__((visibility("default"))) void framework_copy_install() {
  installed = new copy_hooker;
  installed->install([](const copy_hooker::next_type& next) {
    ++runs;
    return next();
  });
}

extern "C" __attribute__((visibility("default"))) void framework_copy_remove() {
  delete installed;
  installed = nullptr;
}

extern "C" __attribute__((visibility("default"))) unsigned framework_copy_runs() { return runs; }
