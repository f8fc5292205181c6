# The viewer's sources that need no Direct3D: one list, read by the viewer's
# own 64-bit build and by the native tests.
set(view_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/camera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/world.cpp)
