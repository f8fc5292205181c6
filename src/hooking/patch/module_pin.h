// Keeping the module mapped while code outside it may still call into it.
#pragma once

#include "platform/os.h"

namespace patch {

class module_pin {
 public:
  // Asked once: a refusal is not asked again on every pass. True while the
  // module holding address is pinned.
  bool ask(const void* address) {
    if (!asked_) {
      asked_ = true;
      pinned_ = os::pin_module(address);
    }
    return pinned_;
  }
  bool asked() const { return asked_; }

 private:
  bool asked_ = false;
  bool pinned_ = false;
};

}  // namespace patch
