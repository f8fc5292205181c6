// Runs drawing events for scripts/count-instructions, which counts them under
// callgrind:  frame_instructions fast|reference PEDS FRAMES
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_scene.h"

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "fast") != 0 && std::strcmp(argv[1], "reference") != 0)) {
    std::fprintf(stderr, "usage: frame_instructions fast|reference PEDS FRAMES\n");
    return 2;
  }
  const bench::ring_path path = std::strcmp(argv[1], "fast") == 0 ? bench::ring_path::fast : bench::ring_path::reference;
  bench::set_scene(std::atoi(argv[2]));
  const int frames = std::atoi(argv[3]);
  for (int i = 0; i < frames; ++i) bench::run_drawing_event(path);
  return 0;
}
