// Operations that change the open map's cells as a whole or through the two cell setters: the
// vertex height and media height setters with the update of the changed vertex's neighbourhood,
// the media terrain types, resizing the grid (with its landscape collection), shifting cells and
// markers by whole cells, deleting the markers left outside, and the observer margins.
//
// The operations change the map and answer whether they did; the caller marks the map modified.
#pragma once

#include "cseries/text.h"

#include <cstdint>

// ---- the cell setters ----

// Sets the ground height of the vertex at cell (x, y), kept at or below the cell's media height
// when either triangle has a media type (0..3), then updates the neighbourhood. Heights outside
// int16 are clamped. False outside the grid.
[[nodiscard]] bool mesh_set_vertex_height(int32_t x, int32_t y, int32_t height);
// Sets the cell's media height, then updates the neighbourhood. False outside the grid.
[[nodiscard]] bool mesh_set_media_height(int32_t x, int32_t y, int32_t height);
// The same without the update, for callers that change many vertices and then update once.
[[nodiscard]] bool mesh_store_vertex_height(int32_t x, int32_t y, int32_t height);
[[nodiscard]] bool mesh_store_media_height(int32_t x, int32_t y, int32_t height);

// The neighbourhood update of vertex (x, y): over the cells one round it, the derived data
// (normals, vertex flags), the markers standing there re-seated on the ground, the media terrain
// types recomputed; then the LOD entries round the cell.
void mesh_update_neighbourhood(int32_t x, int32_t y);
// The same over every cell of an inclusive rectangle (and one cell round it).
void mesh_update_cells(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// ---- media terrain types ----

enum {
  // Water deeper than these (world units) is of the next class: dwarf-depth up to a quarter of
  // a cell, human-depth up to half, giant-depth up to a whole cell, deep beyond.
  DWARF_DEPTH_LIMIT = 128,
  HUMAN_DEPTH_LIMIT = 256,
  GIANT_DEPTH_LIMIT = 512,
};

// The depth class 0..3 of a cell's triangle (even or odd) from its corners' water depth.
int16_t mesh_media_depth_class(int32_t x, int32_t y, bool odd_triangle);
// Recomputes the cell's media terrain types. Triangles of a media type take the depth class of
// their water. With every_water_triangle, triangles that media covers take it too, whatever their
// type, and dry triangles of a media type become grass.
void mesh_recompute_media_terrain(int32_t x, int32_t y, bool every_water_triangle);

// ---- reshaping ----

// Resizes the grid to cells_across x cells_down (multiples of 32, 1..64 submeshes each): cells
// inside both sizes are kept, new ones are flat grass; the media coverage region and the LOD data are
// dropped; the landscape collection is rebuilt for the new size, keeping the colour tables and
// the textures and shadow maps of the submeshes both sizes share. False (reported) with nothing
// changed when the new cells can't be allocated or the size is refused.
[[nodiscard]] bool mesh_resize(int32_t cells_across, int32_t cells_down);
// Deletes every marker (and its object) standing outside the grid.
int32_t mesh_delete_markers_outside();
// Moves every cell by (dx, dy) cells in a new grid of the same size; cells moved out are lost,
// cells moved in are zero. False (reported) with nothing changed on allocation failure.
[[nodiscard]] bool mesh_shift_cells(int32_t dx, int32_t dy);
// Moves every marker by (dx, dy) cells, clamped into the map; heights are kept.
void markers_shift(int32_t dx, int32_t dy);
// "Shift Mesh && Markers...": the cells, the markers and every point and rectangle of the map
// actions, by (dx, dy) cells.
[[nodiscard]] bool mesh_shift(int32_t dx, int32_t dy);
// Recomputes the whole LOD data. It follows from the cells (and is recomputed by every save), so
// the journal does not keep it. False (reported) when it can't be allocated.
[[nodiscard]] bool mesh_recompute_lod_data();

// The definitions a map names in its header.
struct mesh_definition_tags {
  tag mesh_lighting;
  tag description_string_list;
  tag ambient_sound;
  tag wind;
  tag connector_definitions;
};
// Names them (NONE for none); the definitions load when the map is next opened.
[[nodiscard]] bool mesh_set_definition_tags(const mesh_definition_tags& tags);
// The four observer margins of the header, in cells.
[[nodiscard]] bool mesh_set_parameters(int16_t top, int16_t left, int16_t bottom, int16_t right);
