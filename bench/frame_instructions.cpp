// Runs drawing events for scripts/count-instructions, which counts them under
// callgrind:  frame_instructions fast|overlays|walking|who|ground PEDS FRAMES
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_scene.h"

int main(int argc, char** argv) {
  const char* const names[] = {"fast", "overlays", "walking", "who", "ground"};
  const bench::ring_path paths[] = {bench::ring_path::fast, bench::ring_path::overlays, bench::ring_path::walking,
                                    bench::ring_path::who, bench::ring_path::ground};
  const bool probes = argc == 5 && std::strcmp(argv[4], "--probes") == 0;
  int chosen = -1;
  for (int i = 0; i < 5 && (argc == 4 || probes); ++i) {
    if (std::strcmp(argv[1], names[i]) == 0) chosen = i;
  }
  const int frames = chosen < 0 ? 0 : std::atoi(argv[3]);
  if (chosen < 0 || frames < 1) {
    std::fprintf(stderr, "usage: frame_instructions fast|overlays|walking|who|ground PEDS FRAMES [--probes]\n");
    return 2;
  }
  const bench::ring_path path = paths[chosen];
  if (path == bench::ring_path::walking) {
    bench::set_walking_scene();
  } else {
    bench::set_scene(std::atoi(argv[2]));
  }
  for (int i = 0; i < frames; ++i) bench::run_drawing_event(path);
  if (probes) {
    const bench::probe_count c = bench::probes_so_far();
    std::printf("%llu probes for %llu rings over %d frames: %.2f per ringed pedestrian per frame\n",
                static_cast<unsigned long long>(c.probes), static_cast<unsigned long long>(c.rings), frames,
                c.rings ? static_cast<double>(c.probes) / static_cast<double>(c.rings) : 0.0);
  }
  return 0;
}
