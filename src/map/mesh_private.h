// The open map's state, shared by the files of this layer only. Other layers read it through
// mesh.h and change it through the tools layer's operations (mesh_edit.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "map/markers.h"
#include "map/mesh.h"

// The section arrays are valid while a map is open (or a grid was set up with mesh_set_grid).
struct mesh_state {
  mesh_definition* header = nullptr;  // the `mesh` definition's record; none when no map is open
  int16_t definition_index = NONE;    // in the `mesh` definition group
  int32_t tag_index = NONE;           // the map's tag
  int16_t width = 0, height = 0;      // in submeshes
  int32_t cells_across = 0, cells_down = 0;
  mesh_cell* cells = nullptr;
  marker_palette_entry* palette = nullptr;
  marker_data* markers = nullptr;
  int16_t* media_coverage = nullptr;
  uint16_t* lod = nullptr;
  int16_t* connectors = nullptr;  // native order, 32 int16 per connector
  // Media coverage row index: for each texel row, the index of its first value in the region in
  // use (the stored region, or the one-value default when the stored one is empty).
  int32_t* media_coverage_rows = nullptr;
  int16_t media_coverage_default[1] = {0};
  // Cell offsets of each triangle's three corners, for the current row length.
  int32_t triangle_corner_offsets[4][3] = {};
  // Moves on whenever the cells may change: every writable view of them is counted.
  uint32_t cells_generation = 0;
  // The landscape collection, loaded on first use (NONE until then); a failed load is not tried
  // again until the map or the collection changes.
  int16_t landscape_collection = NONE;
  bool landscape_collection_failed = false;
};
extern mesh_state mesh_globals;

// Clips an inclusive cell rectangle to the open map's grid, its corners put in order; false when
// nothing is left (or no map is open).
bool mesh_clip_cell_rectangle(int32_t& x0, int32_t& y0, int32_t& x1, int32_t& y1);

// Every submesh's normals are to be computed again when read (a new grid, a load).
void mesh_forget_normals();

// Reads row_count rows of cells from first_row on, in stored byte order, into `into`; false
// when they could not be read (reported).
using mesh_row_reader = std::function<bool(int32_t first_row, int32_t row_count, mesh_cell* into)>;
// Reads the whole grid of cells through `read` a chunk at a time, and prepares each chunk as
// mesh_prepare_cells does while it is in the cache; false when a read failed.
bool mesh_read_and_prepare_cells(const mesh_row_reader& read);
