// Time per drawing event for scenes of 0, 16, 64 and 140 pedestrians in range,
// by default and with every overlay on; and one event through call_hooks and
// a hub's dispatch with 0, 1 and 3 handlers.
#include <benchmark/benchmark.h>

#include "bench/bench_scene.h"
#include "hooking/events/event_hub.h"

namespace {

void frame(benchmark::State& state, bench::ring_path path) {
  bench::set_scene(static_cast<int>(state.range(0)));
  bench::run_drawing_event(path);
  for (auto _ : state) benchmark::DoNotOptimize(bench::run_drawing_event(path));
}

void BM_DrawingEvent(benchmark::State& state) { frame(state, bench::ring_path::fast); }
void BM_DrawingEventWithOverlays(benchmark::State& state) { frame(state, bench::ring_path::overlays); }
BENCHMARK(BM_DrawingEvent)->Arg(0)->Arg(16)->Arg(64)->Arg(140);
BENCHMARK(BM_DrawingEventWithOverlays)->Arg(140);
void BM_DrawingEventWhoIsWho(benchmark::State& state) { frame(state, bench::ring_path::who); }
BENCHMARK(BM_DrawingEventWhoIsWho)->Arg(140);

// The walking scene, with the ground probes per ringed pedestrian per frame.
void BM_DrawingEventWalking(benchmark::State& state) {
  bench::set_walking_scene();
  for (auto _ : state) benchmark::DoNotOptimize(bench::run_drawing_event(bench::ring_path::walking));
  const bench::probe_count c = bench::probes_so_far();
  state.counters["probes_per_ring"] = c.rings ? static_cast<double>(c.probes) / static_cast<double>(c.rings) : 0.0;
}
BENCHMARK(BM_DrawingEventWalking);

void nothing() {}

template <hooking::host_address Site>
void hub_event(benchmark::State& state, int handlers) {
  static events::game_event<Site> hub;
  if (!hub.patched) {
    bench::make_site(Site);
    hub.add_handler(hub.before, [] {});  // patches the site
    hub.before.clear();
    for (int i = 0; i < handlers; ++i) hub.add_handler(hub.after, i == 0 ? events::Handler(&nothing) : events::Handler([] {}));
  }
  for (auto _ : state) benchmark::DoNotOptimize(bench::run_site(Site));
}

void BM_HubEvent0(benchmark::State& state) { hub_event<0x401800>(state, 0); }
void BM_HubEvent1(benchmark::State& state) { hub_event<0x401810>(state, 1); }
void BM_HubEvent3(benchmark::State& state) { hub_event<0x401820>(state, 3); }
BENCHMARK(BM_HubEvent0);
BENCHMARK(BM_HubEvent1);
BENCHMARK(BM_HubEvent3);

}  // namespace

BENCHMARK_MAIN();
