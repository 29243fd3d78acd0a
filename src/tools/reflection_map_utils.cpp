#include "tools/reflection_map_utils.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cseries/error_manager.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

enum {
  COVERED_PIXEL = 255,
  WATER_PIXEL = 0,
  // A reflective cell gives its water height to the cells this far round it (rows and columns
  // from -3 to +2).
  WATER_SPREAD_BEFORE = 3,
  WATER_SPREAD_AFTER = 2,
};

constexpr uint16_t water_flags = _cell_media_on_even_triangle | _cell_media_on_odd_triangle | _cell_reflective_media;

// The media flags of a cell from the corners of its 8 x 8 block.
uint16_t cell_water_flags(const std::vector<uint8_t>& covered, int32_t width, int32_t x, int32_t y) {
  auto water = [&](int32_t column, int32_t row) {
    return covered[size_t(y * TEXELS_PER_CELL + row) * size_t(width) + size_t(x * TEXELS_PER_CELL + column)] == 0;
  };
  const bool top_left = water(0, 0), top_right = water(7, 0), bottom_left = water(0, 7), bottom_right = water(7, 7);
  uint16_t flags = 0;
  if (top_left && top_right && bottom_left && bottom_right) {
    flags = _cell_media_on_even_triangle | _cell_media_on_odd_triangle;
  } else if ((x + y) & 1) {
    // The diagonal runs top-right to bottom-left: both its ends must be wet.
    if (top_right && bottom_left) {
      if (top_left) flags |= _cell_media_on_even_triangle;
      if (bottom_right) flags |= _cell_media_on_odd_triangle;
    }
  } else if (top_left && bottom_right) {
    if (bottom_left) flags |= _cell_media_on_even_triangle;
    if (top_right) flags |= _cell_media_on_odd_triangle;
  }
  if (flags) flags |= _cell_reflective_media;
  return flags;
}

void spread_water_heights() {
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  // Only the cells the picture made reflective give their height; the cells that receive one do
  // not pass it further.
  std::vector<int32_t> sources;
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    if (mesh_cells()[i].terrain_and_flags & _cell_reflective_media) sources.push_back(i);
  }
  for (int32_t source : sources) {
    const int32_t sx = source % across, sy = source / across;
    const int16_t height = mesh_cells()[source].media_height;
    for (int32_t y = std::max(sy - WATER_SPREAD_BEFORE, 0); y <= std::min(sy + WATER_SPREAD_AFTER, down - 1); ++y) {
      for (int32_t x = std::max(sx - WATER_SPREAD_BEFORE, 0); x <= std::min(sx + WATER_SPREAD_AFTER, across - 1); ++x) {
        mesh_cell* cell = mesh_edit_cell(x, y);
        if (cell->terrain_and_flags & _cell_reflective_media) continue;
        cell->media_height = height;
        cell->terrain_and_flags |= _cell_reflective_media;
      }
    }
  }
}

}  // namespace

std::vector<int16_t> reflection_map_coverage_region(const std::vector<uint8_t>& covered, int32_t width, int32_t height) {
  std::vector<int16_t> region;
  region.reserve(size_t(height) * 3);
  for (int32_t row = 0; row < height; ++row) {
    const uint8_t* pixels = covered.data() + size_t(row) * size_t(width);
    bool in_cover = true;
    for (int32_t column = 0; column < width; ++column) {
      if ((pixels[column] != 0) != in_cover) {
        region.push_back(int16_t(column));
        in_cover = !in_cover;
      }
    }
    region.push_back(int16_t(width));
  }
  return region;
}

void reflection_map_build_image(bitmap_image* image) {
  const int32_t width = image->width;
  for (int32_t y = 0; y < image->height; ++y) {
    const int16_t* toggles = mesh_media_coverage_row(y);
    uint8_t* row = image->row(y);
    bool in_cover = true;
    int32_t column = 0;
    // The row index vouches for ascending toggles closed by a value of at least the width.
    while (column < width) {
      const int32_t next = toggles ? std::min<int32_t>(*toggles++, width) : width;
      for (; column < next; ++column) row[width - 1 - column] = in_cover ? COVERED_PIXEL : WATER_PIXEL;
      in_cover = !in_cover;
    }
  }
}

bool reflection_map_apply_image(const bitmap_image& image) {
  const int32_t width = mesh_cells_across() * TEXELS_PER_CELL, height = mesh_cells_down() * TEXELS_PER_CELL;
  if (!mesh_is_open() || mesh_header() == nullptr || image.width != width || image.height != height) return false;

  // The picture in mesh orientation, 1 where covered.
  std::vector<uint8_t> covered;
  std::vector<int16_t> region;
  try {
    covered.resize(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const bitmap_palette_entry& entry = image.palette[image.at(width - 1 - x, y)];
        covered[size_t(y) * size_t(width) + size_t(x)] =
            (entry.blue | entry.green | entry.red | entry.reserved) != 0 ? 1 : 0;
      }
    }
    region = reflection_map_coverage_region(covered, width, height);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for media coverage region.", width * height);
    return false;
  }
  journal_step step("Import Reflection Map");
  edit_journal_note_section(_mesh_section_media_coverage);
  if (!mesh_section_replace(_mesh_section_media_coverage,
                            std::as_bytes(std::span<const int16_t>(region.data(), region.size())))) {
    return false;
  }
  if (!mesh_build_media_coverage_rows()) {
    // Only an allocation can fail here (the region is well formed): the step puts the old region back.
    POST_ERROR(error_out_of_memory, "couldn't allocate the media coverage rows of the new region.");
    return false;
  }

  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  edit_journal_note_section(_mesh_section_cells);
  // The last row and column have no block of their own below or right of them.
  for (int32_t y = 0; y + 1 < down; ++y) {
    for (int32_t x = 0; x + 1 < across; ++x) {
      mesh_cell* cell = mesh_edit_cell(x, y);
      cell->terrain_and_flags =
          uint16_t((cell->terrain_and_flags & ~water_flags) | cell_water_flags(covered, width, x, y));
      mesh_recompute_media_terrain(x, y, true);
    }
  }
  spread_water_heights();
  mesh_prepare_cells(0, 0, across - 1, down - 1);
  mesh_recompute_lod();
  return step.commit();
}

bool reflection_paint_toggle(int32_t world_x, int32_t world_y) {
  if (!mesh_is_open() || world_x < 0 || world_y < 0) return false;
  const int32_t x = world_x >> WORLD_FRACTIONAL_BITS, y = world_y >> WORLD_FRACTIONAL_BITS;
  if (x >= mesh_cells_across() || y >= mesh_cells_down()) return false;
  const uint16_t flag = (mesh_triangle_at(world_x, world_y) & 1) ? uint16_t(_cell_media_on_odd_triangle)
                                                                  : uint16_t(_cell_media_on_even_triangle);
  journal_step step("Reflection Painting");
  if (!step.is_open()) return false;
  edit_journal_note_cells(x, y, x, y);
  mesh_cell* cell = mesh_edit_cell(x, y);
  cell->terrain_and_flags = uint16_t(cell->terrain_and_flags ^ flag);
  // The vertex flags, normals and media terrain of the cells round it follow the media, then the LOD.
  mesh_update_cells(x, y, x, y);
  return step.commit();
}
