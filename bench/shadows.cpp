// Shadow maps on an 8 x 8-submesh map (2048 x 2048 pixels) of rolling hills: Basic Lighting, Add
// Mesh Shading, the blur of the whole map and Add Model Shading with 100 models, each on one
// thread and on two (the argument). The baseline, BM_HeightsPass, reads every pixel's height once;
// compare the others against it within one run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "engine/definitions.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "session/engine.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_file.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "tools/shadow_editor.h"
#include "world/models.h"

namespace {

constexpr int32_t kPixels = 2048;
constexpr int32_t kModels = 100;

ui_answer answer_yes(void*, const char*, const char*, ui_icon, ui_buttons buttons) {
  return buttons == ui_buttons_ok ? ui_answer_ok : ui_answer_yes;
}
const ui_host yes_host = {nullptr, answer_yes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// The demo data's day light, big-endian, as the map's "gras" lighting.
bool store_lighting() {
  std::vector<uint8_t> bytes(64, 0);
  const int32_t ints[7] = {29491, 22938, -53740, 19661, 49152, 16384, 65535};
  for (int k = 0; k < 7; ++k) fixture_put32(bytes, size_t(4 * k), uint32_t(ints[k]));
  fixture_put16(bytes, 28, 48);
  fixture_put16(bytes, 30, 2);
  const float sigma = 1.2f;
  uint32_t bits;
  std::memcpy(&bits, &sigma, 4);
  fixture_put32(bytes, 32, bits);
  int32_t tag_index = tag_file_find(mesh_lighting_definitions.group_tag, make_tag("gras"));
  return tag_index != NONE && tag_file_replace_contents(&tag_index, bytes.data(), 64);
}

// A hundred huts spread over the map.
bool place_models() {
  for (definition_group* group : {&geometry_definitions, &model_definitions}) {
    if (!definitions_initialize(group)) return false;
    if (!definitions_are_valid(group)) definitions_validate(group);
  }
  geometry_definition box = {};
  box.minimum_x = -600, box.maximum_x = 600, box.minimum_y = -400, box.maximum_y = 400;
  box.minimum_z = 0, box.maximum_z = 1500;
  box.collection_reference_index = NONE;
  model_definition hut = {};
  hut.geometry_index = definition_add(&geometry_definitions, make_tag("bbox"), &box);
  hut.geometry_tag = make_tag("bbox");
  const int16_t definition = definition_add(&model_definitions, make_tag("bhut"), &hut);
  if (hut.geometry_index == NONE || definition == NONE) return false;
  for (int32_t k = 0; k < kModels; ++k) {
    const int32_t x = (k % 10) * 13000 + 6000, y = (k / 10) * 13000 + 6000;
    if (model_place(definition, x, y, uint16_t(k * 4000), 0) == NONE) return false;
  }
  return true;
}

bool ensure_map() {
  static bool ready = false;
  if (ready) return true;
  tag media_tag = NONE_TAG;
  if (!bench_make_store_folder() || !map_fixture_open_store(&media_tag) || !engine_initialize() || !store_lighting()) {
    return false;
  }
  ui_host_install(&yes_host);
  bitmap_image image;
  image.width = image.height = kPixels;
  image.pixels.assign(size_t(kPixels) * kPixels, 1);
  const std::string path = (bench_store_root() / "flat.bmp").string();
  if (!bitmap_write(path, image) || !new_map_create("Bench Shadows", media_tag, path)) return false;
  for (int32_t y = 0; y < mesh_cells_down(); ++y) {
    for (int32_t x = 0; x < mesh_cells_across(); ++x) {
      map_fixture_set_height(x, y, int16_t(900.0 * std::sin(x * 0.21) * std::cos(y * 0.17) + 400.0 * std::sin((x + y) * 0.05)));
    }
  }
  mesh_prepare_cells(0, 0, mesh_cells_across() - 1, mesh_cells_down() - 1);
  ready = place_models();
  return ready;
}

void run(benchmark::State& state, int16_t mode, bool blur) {
  if (!ensure_map()) {
    state.SkipWithError("couldn't make the map");
    return;
  }
  shadow_set_thread_count(int32_t(state.range(0)));
  for (auto _ : state) {
    if (!shadow_compute(mode, SHADOW_ALL_SUBMESHES, blur)) state.SkipWithError("the computation failed");
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kPixels) * kPixels);
}

void BM_HeightsPass(benchmark::State& state) {
  if (!ensure_map()) {
    state.SkipWithError("couldn't make the map");
    return;
  }
  shadow_terrain terrain;
  for (auto _ : state) {
    shadow_terrain_take(&terrain);
    int64_t sum = 0;
    for (int32_t y = 0; y < kPixels; ++y)
      for (int32_t x = 0; x < kPixels; ++x) sum += shadow_terrain_height(terrain, x, y);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kPixels) * kPixels);
}
BENCHMARK(BM_HeightsPass)->Unit(benchmark::kMillisecond);

void BM_BasicLighting(benchmark::State& state) { run(state, _shadow_mode_basic_lighting, false); }
BENCHMARK(BM_BasicLighting)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BasicLightingWithBlur(benchmark::State& state) { run(state, _shadow_mode_basic_lighting, true); }
BENCHMARK(BM_BasicLightingWithBlur)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AddMeshShading(benchmark::State& state) { run(state, _shadow_mode_mesh_shading, true); }
BENCHMARK(BM_AddMeshShading)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AddModelShading(benchmark::State& state) { run(state, _shadow_mode_model_shading, true); }
BENCHMARK(BM_AddModelShading)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The blur alone: the whole map's image, every submesh written.
void BM_Blur(benchmark::State& state) {
  const std::vector<int32_t> factors = shadow_gaussian_factors(2, 1.2f);
  std::vector<uint8_t> image(size_t(kPixels) * kPixels), out(image.size());
  for (size_t k = 0; k < image.size(); ++k) image[k] = uint8_t((k * 2654435761u) >> 24);
  shadow_set_thread_count(int32_t(state.range(0)));
  struct job {
    const std::vector<uint8_t>* image;
    std::vector<uint8_t>* out;
    const std::vector<int32_t>* factors;
  } work = {&image, &out, &factors};
  for (auto _ : state) {
    shadow_run_parallel(64, [](int32_t item, int32_t, void* context) {
      auto& j = *static_cast<job*>(context);
      const int32_t x = (item % 8) * 256, y = (item / 8) * 256;
      shadow_blur_region(j.image->data(), kPixels, kPixels, x, y, 256, 256, *j.factors, 2,
                         j.out->data() + size_t(y) * kPixels + size_t(x), kPixels);
    }, &work, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kPixels) * kPixels);
}
BENCHMARK(BM_Blur)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
