// The connectors' display records are rebuilt whenever the renderer asks for them, so that they
// follow Undo, Redo and every marker change. The worst case: 32 chains of 31 posts on a map with
// 4000 scenery markers. Baseline: one pass over the marker list reading each identifier, the least
// any rebuild must do.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "map/mesh_edit.h"
#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "engine/definition_groups.h"
#include "map/mesh_file.h"
#include "tag_files/tag_files.h"
#include "tools/vellgrim_connectors.h"

namespace {

constexpr int16_t kMarkers = 4000;

bool ensure_map() {
  static bool ready = false;
  if (ready) return true;
  if (!bench_make_store_folder()) return false;
  tag media_tag;
  if (!map_fixture_open_store(&media_tag) || !connectors_initialize()) return false;
  std::vector<uint8_t> rope(32, 0);
  for (size_t i = 4; i < 8; ++i) rope[i] = 0xFF;
  const int32_t rope_index = fixture_store_tag(connector_definitions.group_tag, "rope", 1, rope);
  if (rope_index == NONE) return false;
  map_fixture map = map_fixture_new(4, 4);
  map.header.connector_definitions_tag = tag_file_get_identifier(rope_index);
  map.palette = {map_fixture_palette_entry(_marker_scenery, NONE_TAG, NONE)};
  for (int16_t i = 0; i < kMarkers; ++i) {
    marker_data post = map_fixture_marker(_marker_scenery, 0, 300 + (i % 100) * 600, 300 + (i / 100) * 600);
    post.identifier = int16_t(1000 + i);
    map.markers.push_back(post);
  }
  // Posts spread over the list, so each look-up lands anywhere.
  for (int32_t c = 0; c < MAXIMUM_CONNECTORS_PER_MAP; ++c) {
    std::array<int16_t, 32> record{};
    for (int32_t at = 0; at < MAXIMUM_MARKERS_PER_CONNECTOR; ++at)
      record[size_t(at)] = int16_t(1000 + (c * 127 + at * 113) % kMarkers);
    record[31] = MAXIMUM_MARKERS_PER_CONNECTOR;
    map.connectors.push_back(record);
  }
  const int32_t map_index = map_fixture_store_map("Bench Fences", map, MESH_VERSION, media_tag);
  if (map_index == NONE || !mesh_load(tag_file_get_identifier(map_index))) return false;
  // Every post shown: the records read only the markers' object fields.
  marker_data* markers = mesh_edit_markers();
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    markers[i].object_index = int16_t(i % 1000);
    markers[i].object_identifier = int16_t(0x8000 | i);
  }
  ready = true;
  return true;
}

void BM_MarkerScanBaseline(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  for (auto _ : state) {
    int32_t sum = 0;
    for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i) sum += mesh_markers()[i].identifier;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_MarkerScanBaseline)->Unit(benchmark::kMicrosecond);

void BM_ConnectorsDisplayRecords(benchmark::State& state) {
  if (!ensure_map()) return state.SkipWithError("couldn't make the map");
  for (auto _ : state) {
    const int32_t built = connectors_build_all();
    if (built != MAXIMUM_CONNECTORS_PER_MAP) return state.SkipWithError("the chains were not all built");
    benchmark::DoNotOptimize(built);
  }
}
BENCHMARK(BM_ConnectorsDisplayRecords)->Unit(benchmark::kMicrosecond);

}  // namespace
