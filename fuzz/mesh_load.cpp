// Maps from untrusted bytes: loading must refuse or accept a `mesh` tag without reading or writing
// outside what it allocated, and a map it accepts must be safe to query, recompute and save.
// The store holds a valid map collection and media beside the map, so loads get past the
// postprocess.
//
// Input: byte 0 - bit 0 clear: edits (two position bytes, one value) applied to a well-formed
// sample map, so that an empty corpus reaches deep; set: the rest is the tag's data as it stands.
// Bits 1..3 give the tag's version, 5..12.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "../tests/support/collection_fixtures.cpp"
#include "../tests/support/map_fixtures.cpp"
#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "tag_files/tag_files.h"

namespace {

tag media_tag = NONE_TAG;

std::vector<uint8_t> sample_map() {
  map_fixture map = map_fixture_full();
  for (int32_t i = 0; i < 40; ++i) map.cells[size_t(i * 25)].ground_height = int16_t(i * 97);
  map.cells[70].terrain_and_flags |= _cell_media_flags | _cell_no_ground;
  map.header.landscape_collection_tag = tag_file_get_identifier(
      tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, text_to_tag_padded("Fuzz Map")));
  map.header.media_tag = media_tag;
  return map.tag_data();
}

bool count_cell(int32_t, int32_t, void* context) {
  ++*static_cast<int32_t*>(context);
  return false;
}

// Everything a loaded map offers, over its whole extent.
void exercise_open_map() {
  const int32_t width = mesh_globals.cells_across * WORLD_ONE, height = mesh_globals.cells_down * WORLD_ONE;
  int32_t sum = 0;
  for (int32_t y = -300; y < height + 300; y += 1531) {
    for (int32_t x = -300; x < width + 300; x += 1277) {
      for (mesh_height_mode mode : {_mesh_height_surface, _mesh_height_ground, _mesh_height_media}) {
        sum += mesh_height_at(x, y, mode);
      }
      sum += mesh_terrain_at(x, y) + mesh_media_at(x, y) + mesh_normal_at(x, y)->z;
    }
  }
  for (int32_t row = 0; row < mesh_globals.cells_down * TEXELS_PER_CELL; row += 37) {
    const int16_t* values = mesh_media_coverage_row(row);
    if (values != nullptr) sum += values[0];
  }
  mesh_walk_line(-1000, 5, width + 1000, height / 2, count_cell, &sum);
  mesh_update_lod(3, 3, 3, 3);
  mesh_recompute_lod();
  std::vector<uint8_t> stored;
  mesh_build_stored_data(&stored);
  if (sum == 0x7FFFFFFF) std::abort();  // keeps the reads from being optimised away
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_enter_temporary_folder();
  map_fixture map = map_fixture_new(1, 1);
  if (!map_fixture_open_store(&media_tag) || map_fixture_store_map("Fuzz Map", map, MESH_VERSION, media_tag) == NONE) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_map();
  if (size == 0) return 0;
  const std::vector<uint8_t> bytes = fuzz_edited_sample_or_bytes(sample, data, size);
  const int16_t version = int16_t(5 + ((data[0] >> 1) & 7));

  // A fresh tag each time (creating it again replaces the local file), with exactly these bytes.
  int32_t tag_index = tag_file_create(MESH_DEFINITION_GROUP_TAG, "Fuzz Map", version);
  if (tag_index == NONE) std::abort();
  if (!bytes.empty() && !tag_file_write(&tag_index, 0, int32_t(bytes.size()), bytes.data())) std::abort();

  if (mesh_load(tag_file_get_identifier(tag_index))) exercise_open_map();
  mesh_unload();
  // Collections and media are loaded afresh each time, so their shading tables never pile up.
  definition_groups_invalidate();
  shapes_dispose();
  definition_groups_validate();
  handle_error();
  fuzz_restart_log_now_and_then("fuzz_mesh_load");
  return 0;
}
