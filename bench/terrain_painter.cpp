// One terrain painter brush step (radius 5) on a 16 x 16-submesh map (512 x 512 cells), the
// types alternating so that every step writes its cells: the inside test, the writes and the
// journal step. And a flood fill of the whole map (262144 cells, one journal step). Each is
// reported as a ratio (of processor time) to the baseline measured in the same run: one triangle
// painted with the right button, a one-cell journal step, the least terrain edit there is.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>

#include "bench_map.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/terrain_painter.h"

namespace {

constexpr int16_t kSubmeshes = 16;
constexpr int32_t kCells = kSubmeshes * CELLS_PER_SUBMESH;

bool open_map() { return bench_open_map("Bench Terrain", kSubmeshes); }

double cpu_nanoseconds() { return double(std::clock()) * 1e9 / CLOCKS_PER_SEC; }

bool start_painter() {
  if (!terrain_painter_start()) return false;
  terrain_painter_preferences preferences;
  terrain_painter_set_defaults(&preferences);
  preferences.radius = 5;
  return terrain_painter_use_preferences(preferences);
}

// Processor nanoseconds per right-button triangle, measured once.
double baseline_nanoseconds() {
  static double measured = 0;
  if (measured > 0) return measured;
  if (!start_painter()) return 0;
  constexpr int32_t kEdits = 4000;
  const double start = cpu_nanoseconds();
  for (int32_t i = 0; i < kEdits; ++i) {
    (void)terrain_painter_set_current_type(i % 2 ? _terrain_rocky : _terrain_snow);
    const int32_t x = 8 + (i * 7) % 496, y = 8 + (i * 13) % 496;
    if (!terrain_painter_paint(true, x * 512 + 100, y * 512 + 300, i)) return 0;
  }
  measured = (cpu_nanoseconds() - start) / kEdits;
  terrain_painter_stop();
  return measured;
}

void BM_TerrainStrokeStep(benchmark::State& state) {
  if (!open_map()) return state.SkipWithError("couldn't open the map");
  const double baseline = baseline_nanoseconds();
  if (!start_painter()) return state.SkipWithError("couldn't start the painter");
  int64_t tick = 100000;
  int32_t i = 0;
  const double start = cpu_nanoseconds();
  for (auto _ : state) {
    // A stroke wandering over the map, one tick a step, its type changing every pass.
    (void)terrain_painter_set_current_type((i / 200) % 2 ? _terrain_desert : _terrain_forest);
    const int32_t x = 20 + (i * 3) % 470, y = 20 + (i * 11) % 470;
    terrain_painter_paint(false, x * 512, y * 512, ++tick);
    ++i;
  }
  const double elapsed = cpu_nanoseconds() - start;
  terrain_painter_end_stroke();
  terrain_painter_stop();
  if (state.iterations() > 0 && baseline > 0) state.counters["x_triangle"] = elapsed / double(state.iterations()) / baseline;
  state.counters["baseline_us"] = baseline / 1000.0;
}

void BM_TerrainFloodFillWholeMap(benchmark::State& state) {
  if (!open_map()) return state.SkipWithError("couldn't open the map");
  const double baseline = baseline_nanoseconds();
  if (!start_painter()) return state.SkipWithError("couldn't start the painter");
  int32_t i = 0;
  const double start = cpu_nanoseconds();
  for (auto _ : state) {
    // No type kept: the region is the whole map, whatever the other benchmarks painted, and each
    // fill changes every triangle the last one set.
    (void)terrain_painter_set_current_type(i++ % 2 ? _terrain_marsh : _terrain_snow);
    const terrain_fill_result result = terrain_painter_flood_fill(3, 3, 0);
    if (result.cells_visited != kCells * kCells) return state.SkipWithError("the fill missed cells");
  }
  const double elapsed = cpu_nanoseconds() - start;
  terrain_painter_stop();
  if (state.iterations() > 0 && baseline > 0) state.counters["x_triangle"] = elapsed / double(state.iterations()) / baseline;
  state.counters["baseline_us"] = baseline / 1000.0;
}

BENCHMARK(BM_TerrainStrokeStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TerrainFloodFillWholeMap)->Unit(benchmark::kMillisecond);

}  // namespace
