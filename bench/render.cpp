// The visual view on Demo Highlands (8 x 8 submeshes): frames over 16 camera poses with reduced
// LOD on and off, and the pick query at a point and over a rectangle. The baseline is clearing the
// frame and its depth buffer, the least any frame does, measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench_store.h"
#include "content/content.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "render/screen.h"
#include "session/engine.h"
#include "tag_files/tag_files.h"
#include "tools/map_session.h"
#include "view/render.h"

namespace {

bool ready = false;

bool ensure_map() {
  if (ready) return map_is_open();
  ready = true;
  // The demo data is built by a child process that ends through exit(): the folder's removal is
  // registered only after it, so that the child does not remove it.
  std::string folder = (std::filesystem::temp_directory_path() / "vellgrim-bench-XXXXXX").string();
  std::string failure;
  if (!mkdtemp(folder.data()) || !content_build(folder, &failure)) return false;
  bench_store_root() = folder;
  std::atexit([] {
    std::error_code error;
    std::filesystem::remove_all(bench_store_root(), error);
  });
  std::filesystem::current_path(folder);
  error_manager_initialize("render bench");
  if (!definitions_initialize(&mesh_lighting_definitions) || !engine_initialize()) return false;
  for (int32_t n = 0; n < tag_file_count(MESH_DEFINITION_GROUP_TAG); ++n) {
    const int32_t tag_index = tag_file_nth(MESH_DEFINITION_GROUP_TAG, n);
    if (std::strcmp(tag_file_get_name(tag_index), "Demo Highlands") == 0) return map_open(tag_index);
  }
  return false;
}

// Sixteen poses over the map, each turned another sixteenth, at the observer's height and pitch.
const std::vector<render_camera>& poses() {
  static std::vector<render_camera> cameras;
  if (cameras.empty()) {
    for (int32_t pose = 0; pose < 16; ++pose) {
      const int32_t x = (40 + (pose % 4) * 55) * 512, y = (40 + (pose / 4) * 55) * 512;
      cameras.push_back({{x, y, mesh_height_at(x, y, _mesh_height_ground) + 4096}, pose * 4096, -4916});
    }
  }
  return cameras;
}

void BM_ClearBaseline(benchmark::State& state) {
  std::vector<uint16_t> pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
  std::vector<float> depth(pixels.size());
  uint16_t color = 0;
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), ++color);
    std::fill(depth.begin(), depth.end(), 0.0f);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::DoNotOptimize(depth.data());
  }
}
BENCHMARK(BM_ClearBaseline)->Unit(benchmark::kMicrosecond);

void BM_Frame(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't open Demo Highlands");
  render_reset_view_settings();
  render_get_view_settings()->reduced_lod = int32_t(state.range(0));
  std::vector<uint16_t> pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
  size_t pose = 0;
  for (auto _ : state) {
    render_frame(poses()[pose++ % poses().size()], pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetLabel(state.range(0) ? "reduced LOD" : "full triangles");
  state.counters["pool_high_water"] = double(render_get_statistics()->pool_high_water);
}
BENCHMARK(BM_Frame)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_PickPoint(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't open Demo Highlands");
  render_reset_view_settings();
  std::vector<uint16_t> pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
  render_frame(poses()[5], pixels.data());
  render_pick_hit hits[64];
  int32_t i = 0, found = 0;
  for (auto _ : state) {
    const int32_t x = 40 + (i * 37) % 560, y = 150 + (i * 53) % 250;
    ++i;
    found += render_pick_point(x, y, _pick_vertex | _pick_ground | _pick_model | _pick_marker, hits, 64) > 0;
  }
  if (found == 0) state.SkipWithError("no pick found anything");
}
BENCHMARK(BM_PickPoint)->Unit(benchmark::kMicrosecond);

void BM_PickRectangle(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't open Demo Highlands");
  render_reset_view_settings();
  std::vector<uint16_t> pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
  render_frame(poses()[5], pixels.data());
  std::vector<render_pick_hit> hits(8192);
  int32_t i = 0;
  for (auto _ : state) {
    const int32_t x = 40 + (i * 37) % 300, y = 100 + (i * 53) % 150;
    ++i;
    benchmark::DoNotOptimize(render_pick_rectangle(x, y, x + 200, y + 150, _pick_vertex | _pick_model | _pick_marker,
                                                   hits.data(), 8192));
  }
}
BENCHMARK(BM_PickRectangle)->Unit(benchmark::kMicrosecond);

}  // namespace
