// The overhead image of an 8 x 8-submesh map (2048 x 2048 pixels at zoom 1): composing the overlays,
// which runs after every frame of the visual view, against copying the background alone (the least
// a frame can cost); and building the background, which runs on each zoom change and map opening,
// against building the colour export's image of the same map (the same colour maps read once).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "session/engine.h"
#include "tools/bitmap_file.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "view/overhead_image.h"

namespace {

constexpr int32_t kPixels = 2048;

ui_answer answer_yes(void*, const char*, const char*, ui_icon, ui_buttons buttons) {
  return buttons == ui_buttons_ok ? ui_answer_ok : ui_answer_yes;
}
const ui_host yes_host = {nullptr, answer_yes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// The map, with 400 units of two teams and 400 scenery markers spread over it.
bool ensure_map() {
  static bool ready = false;
  if (ready) return map_is_open();
  ready = true;
  tag media_tag = NONE_TAG;
  if (!bench_make_store_folder() || !map_fixture_open_store(&media_tag) || !engine_initialize()) return false;
  ui_host_install(&yes_host);
  bitmap_image image;
  image.width = image.height = kPixels;
  image.pixels.resize(size_t(kPixels) * kPixels);
  for (int32_t y = 0; y < kPixels; ++y)
    for (int32_t x = 0; x < kPixels; ++x) image.row(y)[x] = uint8_t((x / 23 * 7 + y / 31 * 13) % 200 + 1);
  for (int i = 0; i < BITMAP_PALETTE_ENTRIES; ++i) image.palette[i] = {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 0};
  const std::string path = (bench_store_root() / "picture.bmp").string();
  if (!bitmap_write(path, image) || !new_map_create("Bench Overhead", media_tag, path)) return false;
  if (!palette_entry_find_or_add(map_fixture_palette_entry(_marker_unit, make_tag("warr"), 0)) ||
      !palette_entry_find_or_add(map_fixture_palette_entry(_marker_unit, make_tag("axem"), 2)) ||
      !palette_entry_find_or_add(map_fixture_palette_entry(_marker_scenery, make_tag("tree"), -1)))
    return false;
  const int32_t side = kPixels * 64;
  for (int32_t i = 0; i < 400; ++i) {
    const int32_t x = (i * 7919) % side, y = (i * 104729) % side;
    if (!marker_add(map_fixture_marker(_marker_unit, int16_t(i % 2), x, y))) return false;
    if (!marker_add(map_fixture_marker(_marker_scenery, 0, side - 1 - x, y))) return false;
  }
  return true;
}

void BM_OverheadCopyBackground(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  overhead_image background, copy;
  if (!overhead_build_background(1.0f, &background)) return state.SkipWithError("no background");
  for (auto _ : state) {
    copy.pixels = background.pixels;
    benchmark::DoNotOptimize(copy.pixels.data());
  }
}
BENCHMARK(BM_OverheadCopyBackground)->Unit(benchmark::kMicrosecond);

void BM_OverheadCompose(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  overhead_image background, composed;
  if (!overhead_build_background(1.0f, &background)) return state.SkipWithError("no background");
  overhead_overlays overlays;
  overlays.zoom = 1.0f;
  overhead_overlays_set_tool(&overlays, 5, -1, -1, nullptr);  // Place Scenery: every scenery marker
  overlays.unit_palette_index = OVERHEAD_ALL_ENTRIES;
  overhead_overlays_set_observer(&overlays);
  for (auto _ : state) {
    overhead_compose(background, overlays, &composed);
    benchmark::DoNotOptimize(composed.pixels.data());
  }
}
BENCHMARK(BM_OverheadCompose)->Unit(benchmark::kMicrosecond);

void BM_ColourExportImage(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  for (auto _ : state) {
    bitmap_image image;
    if (!extract_build_image(_map_layer_color, EXTRACT_WHOLE_MESH, &image)) state.SkipWithError("export failed");
    benchmark::DoNotOptimize(image.pixels.data());
  }
}
BENCHMARK(BM_ColourExportImage)->Unit(benchmark::kMillisecond);

// Zoom x 100: 50, 100, 200.
void BM_OverheadBackground(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  const float zoom = float(state.range(0)) / 100.0f;
  overhead_image background;
  for (auto _ : state) {
    if (!overhead_build_background(zoom, &background)) state.SkipWithError("no background");
    benchmark::DoNotOptimize(background.pixels.data());
  }
}
BENCHMARK(BM_OverheadBackground)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
