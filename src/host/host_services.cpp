#include "host/host_services.h"

namespace host {

const host_references& references() {
  static const host_references resolved;
  return resolved;
}

}  // namespace host
