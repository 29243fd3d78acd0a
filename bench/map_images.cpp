// Map images on an 8 x 8-submesh map (2048 x 2048 pixels): New Map from a bitmap, whole-map export
// and import of each layer through files, and the colour-table rebuild.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "session/engine.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_file.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/new_map.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kPixels = 2048;

tag media_tag = NONE_TAG;
std::string picture_path;

// Every question is answered Yes: New Map replaces its map, reopening saves first.
ui_answer answer_yes(void*, const char*, const char*, ui_icon, ui_buttons buttons) {
  return buttons == ui_buttons_ok ? ui_answer_ok : ui_answer_yes;
}
const ui_host yes_host = {nullptr, answer_yes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// Fields of colour with a few hundred colours in use, so the tables have work to do.
bitmap_image picture() {
  bitmap_image image;
  image.width = image.height = kPixels;
  image.pixels.resize(size_t(kPixels) * kPixels);
  for (int32_t y = 0; y < kPixels; ++y)
    for (int32_t x = 0; x < kPixels; ++x) image.row(y)[x] = uint8_t(((x / 37) * 7 + (y / 29) * 13 + (x ^ y) % 5) % 200 + 1);
  for (int i = 0; i < BITMAP_PALETTE_ENTRIES; ++i) image.palette[i] = {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 0};
  return image;
}

// One store with one 8 x 8-submesh map for the whole run, in a temporary folder.
bool ensure_map() {
  if (media_tag == NONE_TAG) {
    if (!bench_make_store_folder()) return false;
    if (!map_fixture_open_store(&media_tag) || !engine_initialize()) return false;
    ui_host_install(&yes_host);
    picture_path = (bench_store_root() / "picture.bmp").string();
    if (!bitmap_write(picture_path, picture())) return false;
  }
  if (map_is_open()) return true;
  return new_map_create("Bench Images", media_tag, picture_path) && map_save();
}

void BM_NewMap2048(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  for (auto _ : state) {
    if (!new_map_create("Bench New", media_tag, picture_path)) state.SkipWithError("New Map failed");
  }
  map_close();
}
BENCHMARK(BM_NewMap2048)->Unit(benchmark::kMillisecond);

void BM_ExportLayer(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  const int16_t layer = int16_t(state.range(0));
  const std::string path = (bench_store_root() / "export.bmp").string();
  for (auto _ : state) {
    if (!extract_export_layer(layer, EXTRACT_WHOLE_MESH, path)) state.SkipWithError("export failed");
  }
  state.SetLabel(map_layer_get(layer)->name);
}
BENCHMARK(BM_ExportLayer)->DenseRange(0, NUMBER_OF_MAP_LAYERS - 1)->Unit(benchmark::kMillisecond);

// The baseline of the exports, measured in the same run: writing an image of the same size, with
// the same file writer (and so the same syncing), that is already built.
void BM_WriteImageBytes(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  const bitmap_image image = picture();
  const std::string path = (bench_store_root() / "baseline.bmp").string();
  for (auto _ : state) {
    if (!bitmap_write(path, image)) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteImageBytes)->Unit(benchmark::kMillisecond);

void BM_ImportLayer(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  const int16_t layer = int16_t(state.range(0));
  const std::string path = (bench_store_root() / "import.bmp").string();
  if (!extract_export_layer(layer, EXTRACT_WHOLE_MESH, path)) return state.SkipWithError("export failed");
  for (auto _ : state) {
    if (!extract_import_layer(layer, EXTRACT_WHOLE_MESH, path)) state.SkipWithError("import failed");
  }
  state.SetLabel(map_layer_get(layer)->name);
}
BENCHMARK(BM_ImportLayer)->DenseRange(0, NUMBER_OF_MAP_LAYERS - 1)->Unit(benchmark::kMillisecond);

void BM_ColorTableRebuild(benchmark::State& state) {
  const bitmap_image image = picture();
  uint32_t counts[256] = {};
  for (uint8_t pixel : image.pixels) ++counts[pixel];
  auto tables = std::make_unique<map_color_tables>();
  for (auto _ : state) {
    extract_build_color_tables(image.palette, counts, rgb_color{0xFFFF, 0, 0, 0}, tables.get());
    benchmark::DoNotOptimize(tables->blend[1000]);
  }
}
BENCHMARK(BM_ColorTableRebuild)->Unit(benchmark::kMillisecond);

}  // namespace
