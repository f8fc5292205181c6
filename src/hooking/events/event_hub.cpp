#include "hooking/events/event_hub.h"

namespace events {

start_up_hub& start_up_event() {
  static start_up_hub hub;
  return hub;
}

drawing_hub& drawing_event() {
  static drawing_hub hub;
  return hub;
}

shutdown_hub& shutdown_event() {
  static shutdown_hub hub;
  return hub;
}

}  // namespace events
