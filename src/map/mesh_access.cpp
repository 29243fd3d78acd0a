// Read accessors of the open map, and the section-level writes the tools layer's journal uses.
#include <cstring>

#include "cseries/error_manager.h"
#include "map/map_actions_edit.h"
#include "map/mesh_edit.h"
#include "map/mesh_private.h"

mesh_state mesh_globals;

bool mesh_is_open() { return mesh_globals.cells != nullptr; }
const mesh_definition* mesh_header() { return mesh_globals.header; }
int16_t mesh_definition_index() { return mesh_globals.definition_index; }
int32_t mesh_tag_index() { return mesh_globals.tag_index; }
int16_t mesh_width() { return mesh_globals.width; }
int16_t mesh_height() { return mesh_globals.height; }
int32_t mesh_cells_across() { return mesh_globals.cells_across; }
int32_t mesh_cells_down() { return mesh_globals.cells_down; }
const mesh_cell* mesh_get_cell(int32_t x, int32_t y) {
  return mesh_globals.cells + (x + ptrdiff_t(y) * mesh_globals.cells_across);
}
const mesh_cell* mesh_cells() { return mesh_globals.cells; }
int32_t mesh_cell_count() { return mesh_globals.cells_across * mesh_globals.cells_down; }
int32_t mesh_lod_entry_count() { return (mesh_globals.cells_across / 2) * (mesh_globals.cells_down / 2); }
const marker_palette_entry* mesh_palette() { return mesh_globals.palette; }
const marker_data* mesh_markers() { return mesh_globals.markers; }
int32_t mesh_palette_count() {
  return mesh_globals.header && mesh_globals.palette ? mesh_globals.header->palette_entry_count : 0;
}
int32_t mesh_marker_count() {
  return mesh_globals.header && mesh_globals.markers ? mesh_globals.header->marker_count : 0;
}
const int16_t* mesh_media_coverage() { return mesh_globals.media_coverage; }
const uint16_t* mesh_lod() { return mesh_globals.lod; }
const int16_t* mesh_connectors() { return mesh_globals.connectors; }
int32_t mesh_triangle_corner_offset(int32_t triangle, int32_t corner) {
  return mesh_globals.triangle_corner_offsets[triangle & 3][corner < 0 || corner > 2 ? 0 : corner];
}
uint32_t mesh_cells_generation() { return mesh_globals.cells_generation; }

// ---- writable ----

mesh_definition* mesh_edit_header() { return mesh_globals.header; }
mesh_cell* mesh_edit_cell(int32_t x, int32_t y) {
  ++mesh_globals.cells_generation;
  return mesh_globals.cells + (x + ptrdiff_t(y) * mesh_globals.cells_across);
}
mesh_cell* mesh_edit_cells() {
  ++mesh_globals.cells_generation;
  return mesh_globals.cells;
}
marker_palette_entry* mesh_edit_palette() { return mesh_globals.palette; }
marker_data* mesh_edit_markers() { return mesh_globals.markers; }

namespace {

struct section_slot {
  const char* name;
  void** array;          // none for the header
  int32_t* size_field;   // in the header
  int32_t* count_field;  // none when the records don't give the count
  int32_t record_size;
};

// The header's fields that describe each section, for the open map.
section_slot slot_of(int16_t section) {
  mesh_state& m = mesh_globals;
  mesh_definition* h = m.header;
  switch (section) {
    case _mesh_section_header:
      return {"header", nullptr, nullptr, nullptr, 1};
    case _mesh_section_cells:
      return {"cells", reinterpret_cast<void**>(&m.cells), h ? &h->cells_size : nullptr, nullptr, sizeof(mesh_cell)};
    case _mesh_section_palette:
      return {"marker palette", reinterpret_cast<void**>(&m.palette), h ? &h->palette_size : nullptr,
              h ? &h->palette_entry_count : nullptr, sizeof(marker_palette_entry)};
    case _mesh_section_markers:
      return {"markers", reinterpret_cast<void**>(&m.markers), h ? &h->markers_size : nullptr,
              h ? &h->marker_count : nullptr, sizeof(marker_data)};
    case _mesh_section_map_actions:
      return {"map actions", nullptr, nullptr, nullptr, 1};  // the model answers for itself
    case _mesh_section_media_coverage:
      return {"media coverage", reinterpret_cast<void**>(&m.media_coverage), h ? &h->media_coverage_size : nullptr,
              nullptr, 2};
    case _mesh_section_connectors:
      return {"connectors", reinterpret_cast<void**>(&m.connectors), h ? &h->connectors_size : nullptr,
              h ? &h->connector_count : nullptr, CONNECTOR_RECORD_SIZE};
    default:
      return {"", nullptr, nullptr, nullptr, 1};
  }
}

}  // namespace

const char* mesh_section_name(int16_t section) { return slot_of(section).name; }

std::span<std::byte> mesh_section_bytes(int16_t section) {
  mesh_state& m = mesh_globals;
  if (!m.header) return {};
  if (section == _mesh_section_header) return {reinterpret_cast<std::byte*>(m.header), sizeof(mesh_definition)};
  if (section == _mesh_section_map_actions) return map_actions_image();
  section_slot slot = slot_of(section);
  if (!slot.array || !*slot.array || !slot.size_field || *slot.size_field <= 0) return {};
  if (section == _mesh_section_cells) ++m.cells_generation;
  if (section == _mesh_section_cells) return {reinterpret_cast<std::byte*>(m.cells), size_t(mesh_cell_count()) * sizeof(mesh_cell)};
  return {static_cast<std::byte*>(*slot.array), size_t(*slot.size_field)};
}

bool mesh_section_replace(int16_t section, std::span<const std::byte> bytes) {
  mesh_state& m = mesh_globals;
  if (!m.header || section < 0 || section >= NUMBER_OF_MESH_SECTIONS) return false;
  if (section == _mesh_section_map_actions) return map_actions_restore_image(bytes);
  std::span<std::byte> now = mesh_section_bytes(section);
  section_slot slot = slot_of(section);
  if (section == _mesh_section_header || section == _mesh_section_cells) {
    if (bytes.size() != now.size()) {
      POST_ERROR(error_data_mismatch, "the mesh %s can't change size from %d to %d bytes.", slot.name,
                 int(now.size()), int(bytes.size()));
      return false;
    }
    if (!bytes.empty()) std::memmove(now.data(), bytes.data(), bytes.size());
    return true;
  }
  if (bytes.size() % size_t(slot.record_size) != 0 || bytes.size() > size_t(INT32_MAX)) {
    POST_ERROR(error_data_mismatch, "%d bytes are not whole mesh %s.", int(bytes.size()), slot.name);
    return false;
  }
  void* array = nullptr;
  if (!bytes.empty()) {
    array = resize_block(nullptr, bytes.size());
    if (!array) {
      POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for mesh %s.", int(bytes.size()), slot.name);
      return false;
    }
    std::memcpy(array, bytes.data(), bytes.size());
  }
  resize_block(*slot.array, 0);
  *slot.array = array;
  *slot.size_field = int32_t(bytes.size());
  if (slot.count_field) *slot.count_field = int32_t(bytes.size() / size_t(slot.record_size));
  return true;
}

void mesh_adopt_cells(mesh_cell* cells, int16_t width, int16_t height) {
  mesh_state& m = mesh_globals;
  ++m.cells_generation;
  resize_block(m.cells, 0);
  m.cells = cells;
  mesh_set_dimensions(width, height);
  if (m.header) {
    m.header->width = width;
    m.header->height = height;
    m.header->cells_size = mesh_cell_count() * int32_t(sizeof(mesh_cell));
    m.header->media_coverage_size = 0;
    m.header->lod_size = 0;
  }
  resize_block(m.media_coverage, 0);
  m.media_coverage = nullptr;
  resize_block(m.lod, 0);
  m.lod = nullptr;
  mesh_build_media_coverage_rows();
}
