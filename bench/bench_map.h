// The map an editing benchmark works on: a fixture map of submeshes x submeshes stored in the
// benchmark's own tag store and opened once a run.
#pragma once

#include <cstdint>

#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"

// shape, when given, sets the map's cells before it is stored. False when the map isn't open.
inline bool bench_open_map(const char* name, int16_t submeshes, void (*shape)(map_fixture*) = nullptr) {
  static bool opened = false;
  if (opened) return mesh_is_open();
  opened = true;
  if (!bench_make_store_folder()) return false;
  tag media_tag;
  if (!map_fixture_open_store(&media_tag)) return false;
  map_fixture map = map_fixture_new(submeshes, submeshes);
  if (shape) shape(&map);
  const int32_t tag_index = map_fixture_store_map(name, map, MESH_VERSION, media_tag);
  if (tag_index == NONE || !mesh_load(tag_file_get_identifier(tag_index))) return false;
  // A history of a few steps is enough; the journal's own cost per step is what is measured.
  edit_journal_set_budget(EDIT_JOURNAL_DEFAULT_BYTE_BUDGET, 64);
  return mesh_is_open();
}
