// One height painter step (radius 5, the default feather 2.5) on a 16 x 16-submesh map (512 x 512
// cells), for each tool and filter: the tool pass, the write-back through the height setter, the
// neighbourhood update and the journal step. The target is 0.5 ms a step. Each is also reported
// as a ratio (of processor time) to the baseline measured in the same run: one vertex set through
// the height setter (its neighbourhood update and journal step included), the least edit there is.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <cstdlib>
#include <filesystem>

#include "bench_map.h"
#include "map/mesh_geometry.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/height_painter.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

constexpr int16_t kSubmeshes = 16;

// Rolling heights, so that Smooth and the caps have something to do.
void shape_heights(map_fixture* map) {
  const int32_t across = kSubmeshes * CELLS_PER_SUBMESH;
  for (int32_t y = 0; y < across; ++y) {
    for (int32_t x = 0; x < across; ++x) {
      map->cells[size_t(x + y * across)].ground_height = int16_t(((x * 37) % 200) * ((y * 53) % 150) / 20);
    }
  }
}

bool open_map() { return bench_open_map("Bench Painter", kSubmeshes, shape_heights); }

// The process's processor time in nanoseconds: the ratios hold on a machine shared with others.
double cpu_nanoseconds() { return double(std::clock()) * 1e9 / CLOCKS_PER_SEC; }

// Processor nanoseconds per single-vertex edit, measured once.
double baseline_nanoseconds() {
  static double measured = 0;
  if (measured > 0) return measured;
  constexpr int32_t kEdits = 4000;
  const double start = cpu_nanoseconds();
  for (int32_t i = 0; i < kEdits; ++i) {
    const int32_t x = 8 + (i * 7) % 496, y = 8 + (i * 13) % 496;
    if (!mesh_set_vertex_height(x, y, (i * 31) % 2000)) return 0;
  }
  measured = (cpu_nanoseconds() - start) / kEdits;
  return measured;
}

void run_steps(benchmark::State& state, int16_t tool, int16_t filter) {
  if (!open_map()) return state.SkipWithError("couldn't open the map");
  const double baseline = baseline_nanoseconds();
  if (!height_painter_start()) return state.SkipWithError("couldn't start the painter");
  height_painter_preferences preferences;
  height_painter_set_defaults(&preferences);
  preferences.radius = 5;
  preferences.tool = tool;
  preferences.filter = filter;
  if (!height_painter_use_preferences(preferences)) return state.SkipWithError("settings refused");
  height_painter_seed(1);
  int64_t tick = 1000;
  int32_t i = 0;
  const double start = cpu_nanoseconds();
  for (auto _ : state) {
    // A stroke wandering over the map, one tick a step, lowering on the way back.
    const double x = 20 + (i * 3) % 470, y = 20 + (i * 11) % 470;
    height_painter_apply((i / 400) % 2 != 0, x, y, ++tick);
    ++i;
  }
  const double elapsed = cpu_nanoseconds() - start;
  height_painter_end_stroke();
  height_painter_stop();
  if (state.iterations() > 0 && baseline > 0) {
    state.counters["x_vertex_edit"] = elapsed / double(state.iterations()) / baseline;
  }
  state.counters["baseline_us"] = baseline / 1000.0;
}

void BM_PainterRaise(benchmark::State& state) { run_steps(state, _height_painter_raise, 0); }
void BM_PainterFlatten(benchmark::State& state) { run_steps(state, _height_painter_flatten, 0); }
void BM_PainterFilter(benchmark::State& state) { run_steps(state, _height_painter_filter, int16_t(state.range(0))); }

BENCHMARK(BM_PainterRaise)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PainterFlatten)->Unit(benchmark::kMicrosecond);
// 0 Elevation Adjustment, 1 Absolute Elevation, 2 Smooth, 3 Noise.
BENCHMARK(BM_PainterFilter)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

}  // namespace
