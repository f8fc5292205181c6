// Time per drawing event for scenes of 0, 16, 64 and 140 pedestrians in range,
// the plugin's ring path against the reference; and one event through
// call_hooks and a hub's dispatch with 0, 1 and 3 handlers.
#include <benchmark/benchmark.h>

#include "bench/bench_scene.h"
#include "hooking/events/event_hub.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/test_sites.h"

namespace {

void frame(benchmark::State& state, bench::ring_path path) {
  bench::set_scene(static_cast<int>(state.range(0)));
  bench::run_drawing_event(path);
  const std::size_t before = test::allocations();
  for (auto _ : state) benchmark::DoNotOptimize(bench::run_drawing_event(path));
  state.counters["allocs/event"] =
      benchmark::Counter(double(test::allocations() - before) / double(state.iterations()));
}

void BM_DrawingEventFast(benchmark::State& state) { frame(state, bench::ring_path::fast); }
void BM_DrawingEventReference(benchmark::State& state) { frame(state, bench::ring_path::reference); }
BENCHMARK(BM_DrawingEventFast)->Arg(0)->Arg(16)->Arg(64)->Arg(140);
BENCHMARK(BM_DrawingEventReference)->Arg(0)->Arg(16)->Arg(64)->Arg(140);

void nothing() {}

template <hooking::host_address Site>
void hub_event(benchmark::State& state, int handlers) {
  static events::game_event<Site> hub;
  if (!hub.patched) {
    test::make_site(Site);
    hub.add_handler(hub.before, [] {});  // patches the site
    hub.before.clear();
    for (int i = 0; i < handlers; ++i) hub.add_handler(hub.after, i == 0 ? events::Handler(&nothing) : events::Handler([] {}));
  }
  const std::size_t before = test::allocations();
  for (auto _ : state) benchmark::DoNotOptimize(test::run_site(Site));
  state.counters["allocs/event"] =
      benchmark::Counter(double(test::allocations() - before) / double(state.iterations()));
}

void BM_HubEvent0(benchmark::State& state) { hub_event<0x401800>(state, 0); }
void BM_HubEvent1(benchmark::State& state) { hub_event<0x401810>(state, 1); }
void BM_HubEvent3(benchmark::State& state) { hub_event<0x401820>(state, 3); }
BENCHMARK(BM_HubEvent0);
BENCHMARK(BM_HubEvent1);
BENCHMARK(BM_HubEvent3);

}  // namespace

BENCHMARK_MAIN();
