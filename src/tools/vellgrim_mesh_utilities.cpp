#include "tools/vellgrim_mesh_utilities.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cseries/error_manager.h"
#include "map/map_actions_edit.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/extract.h"
#include "tools/new_map.h"

namespace {

bool inside_grid(int32_t x, int32_t y) {
  return mesh_is_open() && x >= 0 && y >= 0 && x < mesh_cells_across() && y < mesh_cells_down();
}

int16_t clamp_height(int32_t height) { return int16_t(std::clamp<int32_t>(height, INT16_MIN, INT16_MAX)); }

bool is_media_type(int32_t type) { return type <= _terrain_deep_media; }

int32_t marker_total() { return mesh_marker_count(); }

// Models stand on their footprint, placed by their own rule; every other marker on the ground.
bool marker_stands_on_ground(const marker_data& marker) {
  return marker.type != _marker_model && marker.type != _marker_model_animation;
}

// World coordinates are kept inside the map up to cells x 512 - 513: a whole cell and one unit
// short of the map's far edge.
int32_t clamp_world(int32_t value, int32_t cells) {
  return std::clamp(value, 0, std::max(cells * WORLD_ONE - WORLD_ONE - 1, 0));
}

void reseat_markers(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  for (int32_t i = 0; i < marker_total(); ++i) {
    const marker_data& at = mesh_markers()[i];
    const int32_t x = at.location.x >> WORLD_FRACTIONAL_BITS, y = at.location.y >> WORLD_FRACTIONAL_BITS;
    if (!marker_stands_on_ground(at) || x < x0 || x > x1 || y < y0 || y > y1) continue;
    const int32_t z = mesh_height_at(at.location.x, at.location.y, _mesh_height_ground);
    if (z == at.location.z) continue;
    marker_data* marker = edit_journal_marker(i);
    marker->location.z = z;
    marker_refresh_object(marker);
  }
}

// What a rebuilt collection keeps of the old one.
struct kept_collection {
  block_ptr<map_color_tables> tables;
  int16_t old_width = 0, old_height = 0, new_width = 0;
  std::vector<std::vector<uint8_t>> pixels;  // by old bitmap index; empty when not kept
  std::vector<int16_t> flags;
};

void keep_collection(int16_t collection, int16_t new_width, int16_t new_height, kept_collection* kept) {
  kept->old_width = mesh_width();
  kept->old_height = mesh_height();
  kept->new_width = new_width;
  const color_table* colors = collection_get_color_table(collection);
  const std::span<uint8_t> blend = collection_get_blend_tables(collection);
  const std::span<uint8_t> remapping = collection_get_remapping_tables(collection);
  kept->tables = block_new<map_color_tables>();
  if (kept->tables) {
    if (colors) kept->tables->colors = *colors;
    std::memcpy(kept->tables->blend, blend.data(), std::min<size_t>(blend.size(), MAP_BLEND_TABLE_SIZE));
    std::memcpy(kept->tables->remapping, remapping.data(), std::min<size_t>(remapping.size(), MAP_REMAPPING_TABLE_SIZE));
  }
  const int32_t count = 2 * kept->old_width * kept->old_height;
  kept->pixels.resize(size_t(count));
  kept->flags.assign(size_t(count), 0);
  for (int32_t k = 0; k < count; ++k) {
    const int32_t submesh = k / 2;
    if (submesh % kept->old_width >= new_width || submesh / kept->old_width >= new_height) continue;
    bitmap_data* bitmap = collection_get_bitmap(collection, k);
    if (!bitmap || bitmap->width != MAP_TEXTURE_SIZE || bitmap->height != MAP_TEXTURE_SIZE ||
        bitmap->bits_per_pixel != 8 || (bitmap->flags & BITMAP_IS_ENCODED)) {
      continue;
    }
    std::vector<uint8_t>& pixels = kept->pixels[size_t(k)];
    pixels.resize(size_t(MAP_TEXTURE_SIZE) * MAP_TEXTURE_SIZE);
    for (int32_t row = 0; row < MAP_TEXTURE_SIZE; ++row) {
      std::memcpy(pixels.data() + row * MAP_TEXTURE_SIZE, bitmap_get_row(bitmap, row), MAP_TEXTURE_SIZE);
    }
    kept->flags[size_t(k)] = int16_t(bitmap->flags & ~BITMAP_IS_POWER_OF_TWO);
  }
}

void fill_kept_bitmap(void* context, int32_t bitmap_index, uint8_t* pixels, int16_t* flags) {
  const auto& kept = *static_cast<const kept_collection*>(context);
  const int32_t submesh = bitmap_index / 2, x = submesh % kept.new_width, y = submesh / kept.new_width;
  if (x >= kept.old_width || y >= kept.old_height) return;
  const size_t old_index = size_t(2 * (x + y * kept.old_width) + bitmap_index % 2);
  if (old_index >= kept.pixels.size() || kept.pixels[old_index].empty()) return;
  std::memcpy(pixels, kept.pixels[old_index].data(), kept.pixels[old_index].size());
  *flags = kept.flags[old_index];
}

// Rebuilds the landscape collection's tag for the new size; false (reported) when the tag could
// not be written, which leaves it as it was.
bool rebuild_landscape_collection(int16_t new_width, int16_t new_height) {
  const mesh_definition& header = *mesh_header();
  int32_t tag_index = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, header.landscape_collection_tag);
  if (tag_index == NONE) return true;  // nothing to rebuild
  kept_collection kept;
  // The textures kept across the resize come from the loaded collection (loaded now if need be).
  const int16_t loaded = mesh_landscape_collection();
  if (loaded != NONE) keep_collection(loaded, new_width, new_height, &kept);
  map_collection_contents contents;
  contents.tables = kept.tables.get();
  contents.fill_bitmap = loaded != NONE ? fill_kept_bitmap : nullptr;
  contents.context = &kept;
  if (!new_map_build_collection(&tag_index, new_width * MAP_TEXTURE_SIZE, new_height * MAP_TEXTURE_SIZE, &contents)) {
    POST_ERROR(error_unknown, "failed to build new collection when enlarging");
    return false;
  }
  return true;
}

// Loads the rebuilt collection in place of the old one.
bool reload_landscape_collection() {
  const mesh_definition& header = *mesh_header();
  if (tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, header.landscape_collection_tag) == NONE) return true;
  const int16_t old = mesh_landscape_collection();
  if (old != NONE) collection_unload(old);
  mesh_forget_landscape_collection();
  if (mesh_landscape_collection() == NONE) {
    POST_ERROR(error_unknown, "failed to build new collection when enlarging");
    return false;
  }
  return true;
}

}  // namespace

// ---- the cell setters ----

bool mesh_store_vertex_height(int32_t x, int32_t y, int32_t height) {
  if (!inside_grid(x, y)) return false;
  journal_step step("Set Vertex Height");
  mesh_cell* cell = edit_journal_cell(x, y);
  const uint16_t bits = cell->terrain_and_flags;
  // Ground may not rise above the water of a cell that has water terrain.
  if (is_media_type(bits & _cell_odd_terrain_mask) || is_media_type((bits & _cell_even_terrain_mask) >> 4)) {
    height = std::min<int32_t>(height, cell->media_height);
  }
  cell->ground_height = clamp_height(height);
  return step.commit();
}

bool mesh_store_media_height(int32_t x, int32_t y, int32_t height) {
  if (!inside_grid(x, y)) return false;
  journal_step step("Set Media Height");
  edit_journal_cell(x, y)->media_height = clamp_height(height);
  return step.commit();
}

bool mesh_set_vertex_height(int32_t x, int32_t y, int32_t height) {
  journal_step step("Set Vertex Height");
  if (!mesh_store_vertex_height(x, y, height)) return false;
  mesh_update_neighbourhood(x, y);
  return step.commit();
}

bool mesh_set_media_height(int32_t x, int32_t y, int32_t height) {
  journal_step step("Set Media Height");
  if (!mesh_store_media_height(x, y, height)) return false;
  mesh_update_neighbourhood(x, y);
  return step.commit();
}

void mesh_update_neighbourhood(int32_t x, int32_t y) { mesh_update_cells(x, y, x, y); }

void mesh_update_cells(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!mesh_is_open()) return;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  const int32_t left = std::max(x0 - 1, 0), top = std::max(y0 - 1, 0);
  const int32_t right = std::min(x1 + 1, mesh_cells_across() - 1);
  const int32_t bottom = std::min(y1 + 1, mesh_cells_down() - 1);
  if (left > right || top > bottom) return;
  journal_step step("Update Cells");
  // The prepared cells' normals and flags, but not the LOD data, which is rebuilt from the cells.
  edit_journal_note_cells(left, top, right, bottom);
  mesh_prepare_cells(left, top, right, bottom);
  reseat_markers(left, top, right, bottom);
  for (int32_t y = top; y <= bottom; ++y) {
    for (int32_t x = left; x <= right; ++x) mesh_recompute_media_terrain(x, y, false);
  }
  mesh_update_lod(x0, y0, x1, y1);
  step.commit();
}

// ---- media terrain types ----

int16_t mesh_media_depth_class(int32_t x, int32_t y, bool odd_triangle) {
  if (!inside_grid(x, y)) return _terrain_dwarf_depth_media;
  const int32_t index = x + y * mesh_cells_across();
  const int16_t triangle = int16_t(((x + y) & 1 ? 2 : 0) + (odd_triangle ? 1 : 0));
  int32_t depth = 0;
  for (int32_t corner = 0; corner < 3; ++corner) {
    // Corners past the last row or column read the cell itself.
    int32_t at = index + mesh_triangle_corner_offset(triangle, corner);
    if (at < 0 || at >= mesh_cell_count()) at = index;
    depth += mesh_cells()[at].media_height - mesh_cells()[at].ground_height;
  }
  depth /= 3;
  if (depth <= DWARF_DEPTH_LIMIT) return _terrain_dwarf_depth_media;
  if (depth <= HUMAN_DEPTH_LIMIT) return _terrain_human_depth_media;
  if (depth <= GIANT_DEPTH_LIMIT) return _terrain_giant_depth_media;
  return _terrain_deep_media;
}

void mesh_recompute_media_terrain(int32_t x, int32_t y, bool every_water_triangle) {
  if (!inside_grid(x, y)) return;
  uint16_t bits = mesh_get_cell(x, y)->terrain_and_flags;
  for (bool odd : {false, true}) {
    const int shift = odd ? 0 : 4;
    const uint16_t media_flag = odd ? _cell_media_on_odd_triangle : _cell_media_on_even_triangle;
    const int32_t type = (bits >> shift) & 0x0F;
    const bool water = (bits & media_flag) != 0;
    int32_t new_type = type;
    if (every_water_triangle) {
      if (water) {
        new_type = mesh_media_depth_class(x, y, odd);
      } else if (is_media_type(type)) {
        new_type = _terrain_grass;
      }
    } else if (is_media_type(type)) {
      new_type = mesh_media_depth_class(x, y, odd);
    }
    bits = uint16_t((bits & ~(0x0F << shift)) | (new_type << shift));
  }
  if (bits == mesh_get_cell(x, y)->terrain_and_flags) return;
  journal_step step("Set Media Terrain");
  edit_journal_cell(x, y)->terrain_and_flags = bits;
  step.commit();
}

// ---- reshaping ----

bool mesh_resize(int32_t cells_across, int32_t cells_down) {
  if (!mesh_is_open() || mesh_header() == nullptr) return false;
  if (cells_across <= 0 || cells_down <= 0 || cells_across % CELLS_PER_SUBMESH || cells_down % CELLS_PER_SUBMESH ||
      cells_across / CELLS_PER_SUBMESH > MAXIMUM_MESH_SUBMESHES ||
      cells_down / CELLS_PER_SUBMESH > MAXIMUM_MESH_SUBMESHES) {
    POST_ERROR(error_data_mismatch, "can't resize the mesh to %dx%d cells.", cells_across, cells_down);
    return false;
  }
  // The collection's bitmaps are most of the work; nothing stops half way.
  ui_progress_scope progress("Resizing the map", 4, false);
  const size_t size = size_t(cells_across) * size_t(cells_down) * sizeof(mesh_cell);
  auto* cells = static_cast<mesh_cell*>(resize_block(nullptr, size));
  if (cells == nullptr) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for new mesh cells", int(size));
    return false;
  }
  // Cells added are flat dry grass, as in a new map: zero terrain would be water types on dry
  // ground, which no terrain import can change.
  for (size_t i = 0; i < size / sizeof(mesh_cell); ++i) cells[i].terrain_and_flags = NEW_CELL_TERRAIN;
  const int32_t old_across = mesh_cells_across();
  const int32_t kept_across = std::min(cells_across, old_across);
  const int32_t kept_down = std::min(cells_down, mesh_cells_down());
  for (int32_t y = 0; y < kept_down; ++y) {
    std::memcpy(cells + size_t(y) * cells_across, mesh_cells() + size_t(y) * old_across,
                size_t(kept_across) * sizeof(mesh_cell));
  }

  progress.step(1);
  const int16_t width = int16_t(cells_across / CELLS_PER_SUBMESH), height = int16_t(cells_down / CELLS_PER_SUBMESH);
  // The collection is rebuilt first, while the old grid still tells which submeshes it keeps; if
  // that fails, nothing has changed.
  if (!rebuild_landscape_collection(width, height)) {
    resize_block(cells, 0);
    return false;
  }
  // The collection tag is already written: the change can't be taken back by Undo.
  edit_journal_mark_unrecorded_change();
  progress.step(2);
  // The region and the LOD data described the old grid: the region now covers everything and the
  // LOD data is rebuilt by the next recomputation.
  mesh_adopt_cells(cells, width, height);
  // New cells are zero: their run-time list heads must be reset before anything stands on them.
  mesh_prepare_cells(0, 0, cells_across - 1, cells_down - 1);
  progress.step(3);
  return reload_landscape_collection();
}

int32_t mesh_delete_markers_outside() {
  if (!mesh_is_open()) return 0;
  const int32_t right = mesh_cells_across() * WORLD_ONE, bottom = mesh_cells_down() * WORLD_ONE;
  journal_step step("Delete Markers Outside");
  int32_t deleted = 0;
  for (int32_t i = marker_total() - 1; i >= 0; --i) {
    const world_point3d& at = mesh_markers()[i].location;
    if (at.x >= 0 && at.y >= 0 && at.x < right && at.y < bottom) continue;
    edit_journal_note_section(_mesh_section_markers);
    edit_journal_note_section(_mesh_section_palette);
    if (marker_delete(&mesh_edit_markers()[i])) ++deleted;
  }
  step.commit();
  return deleted;
}

bool mesh_shift_cells(int32_t dx, int32_t dy) {
  if (!mesh_is_open()) return false;
  const int32_t across = mesh_cells_across(), down = mesh_cells_down();
  const size_t count = size_t(across) * size_t(down);
  auto* cells = static_cast<mesh_cell*>(resize_block(nullptr, count * sizeof(mesh_cell)));
  if (cells == nullptr) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for shifted mesh cells", int(count * sizeof(mesh_cell)));
    return false;
  }
  for (size_t i = 0; i < count; ++i) cells[i].object_list = cells[i].model_list = NONE;
  // Only the rows and columns that stay inside are copied; a shift past the edge copies nothing.
  const int64_t first_x = std::max<int64_t>(0, -int64_t(dx)), last_x = std::min<int64_t>(across, int64_t(across) - dx);
  for (int64_t y = std::max<int64_t>(0, -int64_t(dy)); y < std::min<int64_t>(down, int64_t(down) - dy); ++y) {
    for (int64_t x = first_x; x < last_x; ++x) {
      cells[(x + dx) + (y + dy) * across] = mesh_cells()[x + y * across];
    }
  }
  journal_step step("Shift Mesh");
  edit_journal_note_section(_mesh_section_cells);
  std::memcpy(mesh_edit_cells(), cells, count * sizeof(mesh_cell));
  resize_block(cells, 0);
  // Normals and vertex flags at the new edges, and the LOD data, follow the moved cells.
  mesh_prepare_cells(0, 0, across - 1, down - 1);
  mesh_update_lod(0, 0, across - 1, down - 1);
  return step.commit();
}

void markers_shift(int32_t dx, int32_t dy) {
  if (!mesh_is_open()) return;
  journal_step step("Shift Markers");
  const int64_t step_x = int64_t(dx) * WORLD_ONE, step_y = int64_t(dy) * WORLD_ONE;
  for (int32_t i = 0; i < marker_total(); ++i) {
    marker_data* marker = edit_journal_marker(i);
    marker->location.x = clamp_world(int32_t(std::clamp<int64_t>(marker->location.x + step_x, INT32_MIN, INT32_MAX)),
                                     mesh_cells_across());
    marker->location.y = clamp_world(int32_t(std::clamp<int64_t>(marker->location.y + step_y, INT32_MIN, INT32_MAX)),
                                     mesh_cells_down());
    marker_refresh_object(marker);
  }
  step.commit();
}

bool mesh_shift(int32_t dx, int32_t dy) {
  if (!mesh_is_open()) return false;
  journal_step step("Shift Mesh & Markers");
  // The cells are shifted first so that a failed allocation leaves the markers where they were.
  if (!mesh_shift_cells(dx, dy)) return false;
  markers_shift(dx, dy);
  edit_journal_note_section(_mesh_section_map_actions);
  auto units = [](int32_t cells) { return int32_t(std::clamp<int64_t>(int64_t(cells) * WORLD_ONE, INT32_MIN, INT32_MAX)); };
  map_actions_shift_points(units(dx), units(dy));
  return step.commit();
}

bool mesh_set_parameters(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  if (!mesh_is_open() || mesh_header() == nullptr) return false;
  journal_step step("Set Mesh Parameters");
  // The four margins are adjacent in the header.
  mesh_definition& header = *edit_journal_header_fields(offsetof(mesh_definition, observer_margin_top), 4 * sizeof(int16_t));
  header.observer_margin_top = top;
  header.observer_margin_left = left;
  header.observer_margin_bottom = bottom;
  header.observer_margin_right = right;
  return step.commit();
}

bool mesh_set_definition_tags(const mesh_definition_tags& tags) {
  if (!mesh_is_open() || mesh_header() == nullptr) return false;
  journal_step step("Set Map Definitions");
  mesh_definition* header = edit_journal_header_fields(offsetof(mesh_definition, mesh_lighting_tag), sizeof(tag));
  header->mesh_lighting_tag = tags.mesh_lighting;
  edit_journal_header_fields(offsetof(mesh_definition, connector_definitions_tag), sizeof(tag));
  header->connector_definitions_tag = tags.connector_definitions;
  edit_journal_header_fields(offsetof(mesh_definition, ambient_sound_tag), sizeof(tag));
  header->ambient_sound_tag = tags.ambient_sound;
  edit_journal_header_fields(offsetof(mesh_definition, description_string_list_tag), sizeof(tag));
  header->description_string_list_tag = tags.description_string_list;
  edit_journal_header_fields(offsetof(mesh_definition, wind_tag), sizeof(tag));
  header->wind_tag = tags.wind;
  return step.commit();
}

bool mesh_recompute_lod_data() { return mesh_is_open() && mesh_recompute_lod(); }
