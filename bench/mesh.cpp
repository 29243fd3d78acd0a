// The map's hot paths on a 16 x 16-submesh map (512 x 512 cells): opening it (alone, and with the
// first frame of the visual view), saving the tag, preparing every cell with and without its
// normals, recomputing the LOD data, and one height query.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>
#include <cstdlib>
#include <filesystem>

#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "cseries/memory.h"
#include "render/screen.h"
#include "view/render.h"
#include "tag_files/tag_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int16_t kSubmeshes = 16;

tag map_identifier = NONE_TAG;

// Rolling hills with a lake, so normals, media flags and LOD splits all vary.
map_fixture hilly_map() {
  map_fixture map = map_fixture_new(kSubmeshes, kSubmeshes);
  const int32_t across = kSubmeshes * CELLS_PER_SUBMESH;
  for (int32_t y = 0; y < across; ++y) {
    for (int32_t x = 0; x < across; ++x) {
      mesh_cell& cell = map.cells[size_t(x + y * across)];
      cell.ground_height = int16_t(((x * 37) % 200) * ((y * 53) % 150) / 20 + ((x ^ y) & 63));
      cell.media_height = 600;
      if (cell.ground_height < 300) cell.terrain_and_flags |= _cell_media_flags;
    }
  }
  return map;
}

// One store for the whole run, in a temporary folder.
bool ensure_store() {
  if (map_identifier != NONE_TAG) return true;
  if (!bench_make_store_folder()) return false;
  tag media_tag;
  if (!map_fixture_open_store(&media_tag)) return false;
  map_fixture map = hilly_map();
  int32_t tag_index = map_fixture_store_map("Bench Map", map, MESH_VERSION, media_tag);
  if (tag_index == NONE) return false;
  map_identifier = tag_file_get_identifier(tag_index);
  // Saved once by the editor, as every map in a store is: its stored flags are those an open derives.
  return mesh_load(map_identifier) && mesh_save();
}

// Loading again starts from empty definition tables, as opening a map does (untimed).
void reopen_from_empty_tables() {
  mesh_unload();
  definition_groups_invalidate();
  shapes_dispose();
  definition_groups_validate();
}

bool reload() {
  reopen_from_empty_tables();
  return mesh_load(map_identifier);
}

bool open_map(benchmark::State& state) {
  if (!ensure_store() || !reload()) {
    state.SkipWithError("couldn't open the map");
    return false;
  }
  return true;
}

// Reading the map tag's bytes from the store into freshly allocated memory, freed again: the
// baseline of an open, since an open must put the bytes into memory new to it.
bool read_map_bytes(int32_t tag_index, int32_t size) {
  void* bytes = resize_block(nullptr, size_t(std::max(size, 1)));
  const bool read = bytes != nullptr && tag_file_read(tag_index, 0, size, bytes);
  benchmark::DoNotOptimize(bytes);
  resize_block(bytes, 0);
  return read;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A camera over the middle of the map, looking along it from the observer's usual height.
render_camera first_frame_camera() {
  const int32_t middle = mesh_globals.cells_across * WORLD_ONE / 2;
  return {{middle, middle, mesh_height_at(middle, middle, _mesh_height_ground) + 4096}, 8192, -4916};
}

// The open beside its baseline, reading the map tag's bytes, both timed in every iteration under
// the same conditions, in turns (one first, then the other), so neither finds the caches the
// other warmed more often. Reports x_read: the opens' wall time over the reads'. The open leaves
// the triangle normals and the landscape collection to their first use (BM_MeshLoadAndFirstFrame).
void BM_MeshLoad(benchmark::State& state) {
  // Freed blocks stay with the allocator, so the read and the open both find warm memory rather
  // than whichever comes first paying for fresh pages from the system.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  if (!open_map(state)) return;
  const int32_t tag_index = tag_file_find(make_tag("mesh"), map_identifier);
  const int32_t size = tag_file_get_size(tag_index);
  double loading = 0, reading = 0;
  int64_t turn = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reopen_from_empty_tables();
    if ((turn & 1) == 0) {
      auto start = std::chrono::steady_clock::now();
      if (!read_map_bytes(tag_index, size)) state.SkipWithError("read failed");
      reading += seconds_since(start);
    }
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    if (!mesh_load(map_identifier)) state.SkipWithError("load failed");
    loading += seconds_since(start);
    if ((turn++ & 1) != 0) {
      state.PauseTiming();
      start = std::chrono::steady_clock::now();
      if (!read_map_bytes(tag_index, size)) state.SkipWithError("read failed");
      reading += seconds_since(start);
      state.ResumeTiming();
    }
  }
  if (state.iterations() > 0 && reading > 0) {
    const double iterations = double(state.iterations());
    state.counters["read_ms"] = reading / iterations * 1000.0;
    state.counters["open_ms"] = loading / iterations * 1000.0;
    state.counters["x_read"] = loading / reading;
  }
}
// Wall time: the cells are prepared on two threads, which the main thread's CPU time would hide.
BENCHMARK(BM_MeshLoad)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// An open followed by the first frame of the visual view, which computes the normals it draws
// and loads the textures (a colour and a shadow bitmap per submesh, 32 MB here). Reports the
// ratio to reading the map tag's bytes and to reading both tags' bytes, measured before the opens.
void BM_MeshLoadAndFirstFrame(benchmark::State& state) {
  if (!open_map(state)) return;
  const int32_t tag_index = tag_file_find(make_tag("mesh"), map_identifier);
  const int32_t textures_index = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, map_identifier);
  constexpr int kReads = 100, kTextureReads = 3;
  auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < kReads; ++k) {
    if (!read_map_bytes(tag_index, tag_file_get_size(tag_index))) state.SkipWithError("read failed");
  }
  const double reading = seconds_since(start) / kReads;
  start = std::chrono::steady_clock::now();
  for (int k = 0; k < kTextureReads; ++k) {
    if (!read_map_bytes(textures_index, tag_file_get_size(textures_index))) state.SkipWithError("read failed");
  }
  const double reading_textures = seconds_since(start) / kTextureReads;
  if (!render_initialize()) state.SkipWithError("no renderer");
  std::vector<uint16_t> pixels(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT);
  double opening = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reopen_from_empty_tables();
    state.ResumeTiming();
    start = std::chrono::steady_clock::now();
    if (!mesh_load(map_identifier) || !render_frame(first_frame_camera(), pixels.data()) ||
        mesh_landscape_collection() == NONE) {
      state.SkipWithError("open and first frame failed");
    }
    opening += seconds_since(start);
  }
  if (state.iterations() > 0 && reading > 0) {
    const double open = opening / double(state.iterations());
    state.counters["read_ms"] = reading * 1000.0;
    state.counters["read_textures_ms"] = reading_textures * 1000.0;
    state.counters["x_read"] = open / reading;
    state.counters["x_read_with_textures"] = open / (reading + reading_textures);
  }
}
BENCHMARK(BM_MeshLoadAndFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline of BM_MeshLoad, measured in the same run: reading the map tag's bytes from the
// store, all of them, into memory freshly allocated by the editor's allocator, as an open must
// (a map's memory is new to it), and freeing it again; nothing is done to the bytes.
void BM_ReadMapBytes(benchmark::State& state) {
  if (!open_map(state)) return;
  const int32_t tag_index = tag_file_find(make_tag("mesh"), map_identifier);
  const int32_t size = tag_file_get_size(tag_index);
  for (auto _ : state) {
    if (!read_map_bytes(tag_index, size)) state.SkipWithError("read failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}
BENCHMARK(BM_ReadMapBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same read into one buffer kept warm across iterations: the file read alone, without the
// cost of new memory.
void BM_ReadMapBytesIntoWarmBuffer(benchmark::State& state) {
  if (!open_map(state)) return;
  const int32_t tag_index = tag_file_find(make_tag("mesh"), map_identifier);
  const int32_t size = tag_file_get_size(tag_index);
  std::vector<uint8_t> bytes(size_t(std::max(size, 0)));
  for (auto _ : state) {
    if (!tag_file_read(tag_index, 0, size, bytes.data())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}
BENCHMARK(BM_ReadMapBytesIntoWarmBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

// The triangle-normal look-up alone, quick and full, over directions spread across the sky.
void BM_NearestNormal(benchmark::State& state) {
  const bool full = state.range(0) != 0;
  std::vector<std::array<int32_t, 3>> directions;
  for (int e = 0; e < 64; ++e) {
    for (int a = 0; a < 64; ++a) {
      const double elevation = 1.5707963 * e / 64.0, azimuth = 6.2831853 * a / 64.0;
      directions.push_back({int32_t(16384 * std::cos(elevation) * std::cos(azimuth)),
                            int32_t(16384 * std::cos(elevation) * std::sin(azimuth)),
                            int32_t(16384 * std::sin(elevation))});
    }
  }
  size_t k = 0;
  for (auto _ : state) {
    const auto& d = directions[k++ & 4095];
    benchmark::DoNotOptimize(full ? mesh_nearest_normal_by_search(d[0], d[1], d[2])
                                  : mesh_nearest_normal(d[0], d[1], d[2]));
  }
  state.SetLabel(full ? "full search" : "quick");
}
BENCHMARK(BM_NearestNormal)->Arg(1)->Arg(0);

void BM_MeshSave(benchmark::State& state) {
  if (!open_map(state)) return;
  for (auto _ : state) {
    if (!mesh_save()) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_MeshSave)->Unit(benchmark::kMillisecond);

// Preparing every cell, then (with argument 1) computing every normal it left for first use.
void BM_MeshPrepareCells(benchmark::State& state) {
  if (!open_map(state)) return;
  const int32_t x1 = mesh_globals.cells_across - 1, y1 = mesh_globals.cells_down - 1;
  for (auto _ : state) {
    mesh_prepare_cells(0, 0, x1, y1);
    if (state.range(0) != 0) mesh_settle_normals(0, 0, x1, y1);
  }
  state.SetLabel(state.range(0) != 0 ? "with every normal" : "normals left for first use");
}
BENCHMARK(BM_MeshPrepareCells)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_MeshRecomputeLod(benchmark::State& state) {
  if (!open_map(state)) return;
  for (auto _ : state) benchmark::DoNotOptimize(mesh_recompute_lod());
}
BENCHMARK(BM_MeshRecomputeLod)->Unit(benchmark::kMillisecond);

void BM_MeshHeightAt(benchmark::State& state) {
  if (!open_map(state)) return;
  const int32_t extent = mesh_globals.cells_across * WORLD_ONE;
  uint32_t seed = 12345;
  for (auto _ : state) {
    seed = seed * 1664525u + 1013904223u;
    int32_t x = int32_t((seed >> 8) % uint32_t(extent)), y = int32_t((seed >> 4) % uint32_t(extent));
    benchmark::DoNotOptimize(mesh_height_at(x, y, _mesh_height_surface));
  }
}
BENCHMARK(BM_MeshHeightAt);

}  // namespace
