// Runs drawing events for scripts/count-instructions, which counts them under
// callgrind:  frame_instructions fast|overlays PEDS FRAMES
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_scene.h"

int main(int argc, char** argv) {
  const char* const names[] = {"fast", "overlays"};
  const bench::ring_path paths[] = {bench::ring_path::fast, bench::ring_path::overlays};
  int chosen = -1;
  for (int i = 0; i < 2 && argc == 4; ++i) {
    if (std::strcmp(argv[1], names[i]) == 0) chosen = i;
  }
  if (chosen < 0) {
    std::fprintf(stderr, "usage: frame_instructions fast|overlays PEDS FRAMES\n");
    return 2;
  }
  const bench::ring_path path = paths[chosen];
  bench::set_scene(std::atoi(argv[2]));
  const int frames = std::atoi(argv[3]);
  for (int i = 0; i < frames; ++i) bench::run_drawing_event(path);
  return 0;
}
