// The open map, writable: for the files of this layer and the operations of the tools layer only
// (a test refuses any other includer). The operations record every change they make here in the
// edit journal before making it, so Undo can put the bytes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "map/mesh.h"

// The parts of the open map whose bytes the edit journal keeps. Each section but the header is one
// plain array whose size (and count, where the record size gives it) the header keeps in step.
enum mesh_section : int16_t {
  _mesh_section_header = 0,
  _mesh_section_cells,
  _mesh_section_palette,
  _mesh_section_markers,
  _mesh_section_map_actions,
  _mesh_section_media_coverage,
  _mesh_section_connectors,
  NUMBER_OF_MESH_SECTIONS
};

const char* mesh_section_name(int16_t section);

mesh_definition* mesh_edit_header();
mesh_cell* mesh_edit_cell(int32_t x, int32_t y);
mesh_cell* mesh_edit_cells();
marker_palette_entry* mesh_edit_palette();
marker_data* mesh_edit_markers();

// The section's bytes as they are now (empty when it has none).
std::span<std::byte> mesh_section_bytes(int16_t section);
// Replaces the section with a copy of bytes, resizing it; the header's size field follows, and
// the count where records give it (palette, markers, connectors). The cells keep their size and
// the header its 1024 bytes: a replacement of another size is refused. False (reported) when the
// new array can't be allocated: the section is then unchanged.
[[nodiscard]] bool mesh_section_replace(int16_t section, std::span<const std::byte> bytes);

// A grid without a tag: header is the caller's record; width × height submeshes of new cells
// (grass, height 0), no other sections. Used by new maps and tests. False on allocation failure.
[[nodiscard]] bool mesh_set_grid(mesh_definition* header, int16_t width, int16_t height);
// Frees every section and forgets the grid (the header record is not the state's to free).
void mesh_free_sections();
// Puts cells (an array of width × height submeshes, now owned here) in place of the grid, with the
// header's size fields; the media coverage region and the LOD data are dropped, as they describe
// the old grid.
void mesh_adopt_cells(mesh_cell* cells, int16_t width, int16_t height);
// Builds the row index over the current region (the stored one, or the covering default when it
// is empty). False when a row does not close inside the region or its columns are not ascending
// (the index is then left empty); reports only allocation failures.
bool mesh_build_media_coverage_rows();
// The cells x0..x1, y0..y1 changed height or media: the normals that read them (the rectangle and
// the row and column before it) are computed again when next read.
void mesh_refresh_normals(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// The landscape collection's tag was rebuilt: the next use loads it as it now stands (the caller
// unloads the old one).
void mesh_forget_landscape_collection();
// Sets width and height in submeshes, the cells across and down and the triangle corner offsets.
void mesh_set_dimensions(int16_t width, int16_t height);
