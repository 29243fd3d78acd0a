#include "map/mesh_file.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "cseries/error_manager.h"
#include "map/map_actions.h"
#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "engine/definition_groups.h"
#include "map/mesh_geometry.h"
#include "tag_files/tag_files.h"

namespace {

// The seven sections in stored order.
enum section_index {
  _section_cells,
  _section_palette,
  _section_markers,
  _section_map_actions,
  _section_media_coverage,
  _section_lod,
  _section_connectors,
  NUMBER_OF_SECTIONS
};

struct section_layout {
  const char* name;
  int32_t offset;
  int32_t size;
};

std::array<section_layout, NUMBER_OF_SECTIONS> sections_of(const mesh_definition& h) {
  return {{{"cells", h.cells_offset, h.cells_size},
           {"marker palette", h.palette_offset, h.palette_size},
           {"marker list", h.markers_offset, h.markers_size},
           {"map actions", h.map_actions_offset, h.map_actions_size},
           {"media coverage region", h.media_coverage_offset, h.media_coverage_size},
           {"LOD data", h.lod_offset, h.lod_size},
           {"connectors", h.connectors_offset, h.connectors_size}}};
}

// The open map's section buffers in stored order, with the messages of a failed allocation.
struct section_buffer {
  void** block;
  const char* allocation_message;
};

std::array<section_buffer, NUMBER_OF_SECTIONS> section_buffers() {
  mesh_state& m = mesh_globals;
  return {{{reinterpret_cast<void**>(&m.cells), "couldn't allocate #%d bytes for mesh data for %s."},
           {reinterpret_cast<void**>(&m.palette), "couldn't allocate #%d bytes for marker palette data for %s."},
           {reinterpret_cast<void**>(&m.markers), "couldn't allocate #%d bytes for markers for %s."},
           {nullptr, nullptr},  // the map actions model loads and saves its own section
           {reinterpret_cast<void**>(&m.media_coverage), "couldn't allocate #%d bytes for media coverage region for %s."},
           {reinterpret_cast<void**>(&m.lod), "couldn't allocate #%d bytes for mesh LOD data for %s."},
           {reinterpret_cast<void**>(&m.connectors), "couldn't allocate #%d bytes for connectors for %s."}}};
}

std::string format_fault(const char* format, ...) VG_PRINTF(1, 2);
std::string format_fault(const char* format, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  return text;
}

void report_corrupted(const char* map_name, const std::vector<std::string>& faults,
                      std::vector<std::string>* reported_faults) {
  for (const std::string& fault : faults) {
    POST_ERROR(error_data_corrupted, "mesh '%s' is corrupted: %s.", map_name, fault.c_str());
    if (reported_faults != nullptr) reported_faults->push_back(fault);
  }
}

// Checks that a count matches its section's size at a fixed record size.
void check_count(std::vector<std::string>* faults, const char* what, int32_t count, int32_t size, int32_t record_size,
                 int32_t maximum = INT32_MAX) {
  if (count < 0 || count > maximum) {
    faults->push_back(format_fault("%s count %d is outside 0..%d", what, count, maximum));
  } else if (int64_t(count) * record_size != size) {
    faults->push_back(format_fault("%s count %d disagrees with its size of %d bytes (%d bytes each)", what, count,
                                   size, record_size));
  }
}

// The record contents that the layout alone can't vouch for: marker and palette types, chain
// lengths. Run on the sections in native order.
bool check_records(std::vector<std::string>* faults) {
  const mesh_state& m = mesh_globals;
  const mesh_definition& h = *m.header;
  for (int32_t i = 0; i < h.palette_entry_count; ++i) {
    if (marker_type_get(m.palette[i].type) == nullptr) {
      faults->push_back(format_fault("palette entry %d has type %d, outside 0..%d", i, m.palette[i].type,
                                     NUMBER_OF_MARKER_TYPES - 1));
    }
  }
  for (int32_t i = 0; i < h.marker_count; ++i) {
    if (marker_type_get(m.markers[i].type) == nullptr) {
      faults->push_back(format_fault("marker %d has type %d, outside 0..%d", i, m.markers[i].type,
                                     NUMBER_OF_MARKER_TYPES - 1));
    }
  }
  for (int32_t i = 0; i < h.connector_count; ++i) {
    int16_t chain_length = m.connectors[i * (CONNECTOR_RECORD_SIZE / 2) + CONNECTOR_RECORD_SIZE / 2 - 1];
    if (chain_length < 0 || chain_length > CONNECTOR_RECORD_SIZE / 2 - 1) {
      faults->push_back(format_fault("connector %d has a chain of %d markers, outside 0..%d", i, chain_length,
                                     CONNECTOR_RECORD_SIZE / 2 - 1));
    }
  }
  return faults->empty();
}

// The cells' fields as mesh_cell_description swaps them, as one plain array of 16-bit values: the
// general description walk costs more than the whole rest of an open. The run-time lists are
// swapped too, harmlessly (they are reset after a load and written as NONE, whose bytes read the
// same either way).
void swap_cells(mesh_cell* cells, int32_t count) {
  static_assert(sizeof(mesh_cell) == 6 * sizeof(uint16_t));
  byte_swap_16_bit_values(cells, size_t(std::max(count, 0)) * 6);
}

void convert_sections(bool to_stored, mesh_cell* cells, marker_palette_entry* palette, marker_data* markers,
                      int16_t* media_coverage, uint16_t* lod, int16_t* connectors, const mesh_definition& h) {
  if (cells != nullptr) swap_cells(cells, h.cells_size / int32_t(sizeof(mesh_cell)));
  palette_convert(palette, h.palette_entry_count);
  if (to_stored) {
    markers_convert_to_stored(markers, h.marker_count);
  } else {
    markers_convert_to_native(markers, h.marker_count);
  }
  if (h.media_coverage_size > 0) byte_swap_memory("media coverage region", media_coverage, h.media_coverage_size / 2, _byte_swap_2_bytes);
  if (h.lod_size > 0) byte_swap_memory("mesh LOD data", lod, h.lod_size / 2, _byte_swap_2_bytes);
  if (h.connector_count > 0) byte_swap_data(connector_description, connectors, CONNECTOR_RECORD_SIZE, h.connector_count);
}

// Pointer slots are meaningless outside memory: readers ignore them, writers store zero.
void clear_pointer_slots(mesh_definition* h) {
  h->pointer_20 = h->pointer_32 = h->pointer_48 = h->pointer_64 = 0;
  h->pointer_200 = h->pointer_212 = h->pointer_296 = 0;
}

void forget_open_map() {
  mesh_free_sections();
  mesh_globals.definition_index = NONE;
  mesh_globals.tag_index = NONE;
}

bool load_failed(int16_t definition_index) {
  forget_open_map();
  if (definition_index != NONE && definitions_are_valid(&mesh_definitions)) {
    definition_remove(&mesh_definitions, definition_index);
  }
  return false;
}

}  // namespace

bool mesh_check_layout(const mesh_definition& h, int64_t tag_data_size, std::vector<std::string>* faults) {
  std::vector<std::string> local;
  if (faults == nullptr) faults = &local;
  const size_t first_fault = faults->size();
  bool dimensions_valid = true;
  for (auto [what, value] : {std::pair{"width", h.width}, std::pair{"height", h.height}}) {
    if (value <= 0 || value > MAXIMUM_MESH_SUBMESHES) {
      faults->push_back(format_fault("%s of %d submeshes is outside 1..%d", what, value, int(MAXIMUM_MESH_SUBMESHES)));
      dimensions_valid = false;
    }
  }
  if (dimensions_valid) {
    const int64_t cells = int64_t(h.width) * h.height * CELLS_PER_SUBMESH * CELLS_PER_SUBMESH;
    if (h.cells_size != cells * int64_t(sizeof(mesh_cell))) {
      faults->push_back(format_fault("cells size of %d bytes disagrees with %d x %d submeshes", h.cells_size, h.width,
                                     h.height));
    }
    const int64_t lod_entries = cells / 4;
    if (h.lod_size != 0 && h.lod_size != lod_entries * 2) {
      faults->push_back(format_fault("LOD size of %d bytes disagrees with %d x %d submeshes", h.lod_size, h.width,
                                     h.height));
    }
  }
  check_count(faults, "palette entry", h.palette_entry_count, h.palette_size, sizeof(marker_palette_entry));
  check_count(faults, "marker", h.marker_count, h.markers_size, sizeof(marker_data));
  check_count(faults, "connector", h.connector_count, h.connectors_size, CONNECTOR_RECORD_SIZE,
              MAXIMUM_CONNECTORS_PER_MAP);
  if (h.map_action_count < 0 || h.map_action_count > MAXIMUM_MAP_ACTIONS_PER_MAP) {
    faults->push_back(format_fault("map action count %d is outside 0..%d", h.map_action_count,
                                   int(MAXIMUM_MAP_ACTIONS_PER_MAP)));
  } else {
    const int64_t parameter_bytes = int64_t(h.map_actions_size) - int64_t(h.map_action_count) * MAP_ACTION_RECORD_SIZE;
    if (parameter_bytes < 0 || parameter_bytes > MAP_ACTION_PARAMETER_LIMIT) {
      faults->push_back(format_fault("map actions size of %d bytes disagrees with %d actions", h.map_actions_size,
                                     h.map_action_count));
    }
  }
  if (h.media_coverage_size < 0 || h.media_coverage_size % 2 != 0) {
    faults->push_back(format_fault("media coverage size of %d bytes is not a whole number of values",
                                   h.media_coverage_size));
  }
  if (h.data_offset < MESH_HEADER_SIZE) {
    // Data that starts inside the header would be read as both.
    faults->push_back(format_fault("data offset %d lies inside the %d-byte header", h.data_offset,
                                   int(MESH_HEADER_SIZE)));
  } else if (h.data_size < 0 || int64_t(h.data_offset) + int64_t(h.data_size) > tag_data_size) {
    faults->push_back(format_fault("data of %d bytes at offset %d runs past the tag's %lld bytes", h.data_size,
                                   h.data_offset, static_cast<long long>(tag_data_size)));
  }

  const auto sections = sections_of(h);
  for (const section_layout& s : sections) {
    if (s.offset < 0 || s.size < 0 || int64_t(s.offset) + s.size > h.data_size) {
      faults->push_back(format_fault("%s (%d bytes at offset %d) run past the data's %d bytes", s.name, s.size,
                                     s.offset, h.data_size));
    }
  }
  for (size_t a = 0; a < sections.size(); ++a) {
    for (size_t b = a + 1; b < sections.size(); ++b) {
      const section_layout &s = sections[a], &t = sections[b];
      if (s.size <= 0 || t.size <= 0) continue;
      if (int64_t(s.offset) < int64_t(t.offset) + t.size && int64_t(t.offset) < int64_t(s.offset) + s.size) {
        faults->push_back(format_fault("%s overlap %s", s.name, t.name));
      }
    }
  }
  return faults->size() == first_fault;
}

bool mesh_load(tag map_identifier, std::vector<std::string>* reported_faults) {
  mesh_unload();
  mesh_initialize();
  const int16_t index = definition_load(&mesh_definitions, map_identifier);
  if (index == NONE) return false;
  // A header whose version could not be brought up to date is of no use (already reported).
  if (!(mesh_definitions.definition_flags[index] & DEFINITION_CHECKED)) return load_failed(index);

  mesh_definition* header = definition_get_as<mesh_definition>(&mesh_definitions, index);
  const int32_t tag_index = definition_get_tag(&mesh_definitions, index);
  const char* name = tag_file_get_name(tag_index);
  if (header == nullptr || tag_index == NONE) return load_failed(index);
  clear_pointer_slots(header);

  std::vector<std::string> faults;
  if (!mesh_check_layout(*header, tag_file_get_size(tag_index), &faults)) {
    report_corrupted(name, faults, reported_faults);
    return load_failed(index);
  }

  mesh_globals.header = header;
  mesh_globals.definition_index = index;
  mesh_globals.tag_index = tag_index;
  mesh_set_dimensions(header->width, header->height);
  // Each section is read straight into its own block: no copy of the whole data passes through
  // memory first.
  const auto layout = sections_of(*header);
  const auto buffers = section_buffers();
  std::vector<uint8_t> action_bytes;
  for (size_t s = 0; s < NUMBER_OF_SECTIONS; ++s) {
    if (layout[s].size == 0) continue;
    void* block = nullptr;
    if (buffers[s].block != nullptr) {
      block = resize_block(nullptr, size_t(layout[s].size));
      if (block == nullptr) {
        POST_ERROR(error_out_of_memory, buffers[s].allocation_message, layout[s].size, name);
        return load_failed(index);
      }
      *buffers[s].block = block;
    } else {
      try {
        action_bytes.resize(size_t(layout[s].size));
      } catch (const std::bad_alloc&) {
        POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for mesh data for %s.", layout[s].size, name);
        return load_failed(index);
      }
      block = action_bytes.data();
    }
    // The cells are read a chunk at a time as they are prepared, below.
    if (s == 0) continue;
    if (!tag_file_read(tag_index, header->data_offset + layout[s].offset, layout[s].size, block)) {
      POST_ERROR(error_file_read, "couldn't read mesh data from %s.", name);
      return load_failed(index);
    }
  }

  mesh_state& m = mesh_globals;
  // The cells are swapped as they are read and prepared, below.
  convert_sections(false, nullptr, m.palette, m.markers, m.media_coverage, m.lod, m.connectors, *header);
  for (int32_t i = 0; i < header->marker_count; ++i) m.markers[i].flags &= ~uint32_t(_marker_selected);
  map_actions_begin();
  const bool actions_loaded = map_actions_load(
      header->map_action_count,
      {reinterpret_cast<const std::byte*>(action_bytes.data()), action_bytes.size()}, true, &faults);
  if (!check_records(&faults) || !actions_loaded) {
    report_corrupted(name, faults, reported_faults);
    return load_failed(index);
  }
  // Bytes that no parameter block claimed were dropped: the header follows the model.
  header->map_actions_size = header->map_action_count * MAP_ACTION_SIZE + map_actions_parameter_bytes();
  if (!mesh_build_media_coverage_rows()) {
    report_corrupted(name, {"a row of the media coverage region does not close or runs backwards"}, reported_faults);
    return load_failed(index);
  }
  const int32_t row_bytes = m.cells_across * int32_t(sizeof(mesh_cell));
  const int32_t cells_at = header->data_offset + header->cells_offset;
  const bool cells_read = mesh_read_and_prepare_cells([&](int32_t first_row, int32_t row_count, mesh_cell* into) {
    if (tag_file_read(tag_index, cells_at + first_row * row_bytes, row_count * row_bytes, into)) return true;
    POST_ERROR(error_file_read, "couldn't read mesh data from %s.", name);
    return false;
  });
  if (!cells_read) return load_failed(index);
  return true;
}

void mesh_unload() {
  const int16_t index = mesh_globals.definition_index;
  forget_open_map();
  if (index != NONE && definitions_are_valid(&mesh_definitions)) definition_remove(&mesh_definitions, index);
}

void mesh_definition_lay_out(mesh_definition* h) {
  if (h == mesh_globals.header && map_actions_are_valid()) {
    h->map_action_count = map_actions_count();
    h->map_actions_size = h->map_action_count * MAP_ACTION_SIZE + map_actions_parameter_bytes();
  }
  h->cells_offset = 0;
  h->palette_offset = h->cells_size;
  h->markers_offset = h->palette_offset + h->palette_size;
  h->map_actions_offset = h->markers_offset + h->markers_size;
  h->media_coverage_offset = h->map_actions_offset + h->map_actions_size;
  h->lod_offset = h->media_coverage_offset + h->media_coverage_size;
  h->connectors_offset = h->lod_offset + h->lod_size;
  h->data_size = h->connectors_offset + h->connectors_size;
  h->data_offset = MESH_HEADER_SIZE;
}

int32_t mesh_team_count() {
  const mesh_state& m = mesh_globals;
  return m.header == nullptr ? 0 : palette_team_count(m.palette, m.header->palette_entry_count);
}

bool mesh_build_stored_data(std::vector<uint8_t>* data) {
  const mesh_state& m = mesh_globals;
  if (m.header == nullptr || !mesh_is_open()) return false;
  const mesh_definition& h = *m.header;
  std::vector<std::string> faults;
  // The layout is ours, but a section resized elsewhere must still agree with its fields.
  if (!mesh_check_layout(h, int64_t(h.data_offset) + h.data_size, &faults) || h.data_offset != MESH_HEADER_SIZE) {
    for (const std::string& fault : faults) {
      POST_ERROR(error_data_mismatch, "mesh '%s' can't be saved: %s.", tag_file_get_name(m.tag_index), fault.c_str());
    }
    return false;
  }
  std::vector<std::byte> actions;
  int32_t action_count = 0;
  map_actions_save(&actions, &action_count);
  if (action_count != h.map_action_count || int64_t(actions.size()) != h.map_actions_size) {
    POST_ERROR(error_data_mismatch, "mesh '%s' can't be saved: its %d map actions in %d bytes disagree with the header.",
               tag_file_get_name(m.tag_index), action_count, int(actions.size()));
    return false;
  }
  const auto layout = sections_of(h);
  const auto buffers = section_buffers();
  for (size_t s = 0; s < NUMBER_OF_SECTIONS; ++s) {
    if (buffers[s].block == nullptr) continue;
    // A size the header promises without the bytes behind it: saving it would write garbage.
    if (layout[s].size > 0 && *buffers[s].block == nullptr) {
      POST_ERROR(error_data_mismatch, "mesh '%s' can't be saved: its %s (%d bytes) are missing.",
                 tag_file_get_name(m.tag_index), layout[s].name, layout[s].size);
      return false;
    }
  }
  try {
    data->assign(size_t(MESH_HEADER_SIZE) + size_t(h.data_size), 0);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for mesh data for %s.",
               MESH_HEADER_SIZE + h.data_size, tag_file_get_name(m.tag_index));
    return false;
  }
  // The stored normals are those of a full preparation, computed now where nobody asked yet.
  mesh_settle_normals(0, 0, m.cells_across - 1, m.cells_down - 1);
  uint8_t* base = data->data() + MESH_HEADER_SIZE;
  for (size_t s = 0; s < NUMBER_OF_SECTIONS; ++s) {
    if (layout[s].size > 0 && buffers[s].block != nullptr) {
      std::memcpy(base + layout[s].offset, *buffers[s].block, size_t(layout[s].size));
    }
  }
  if (!actions.empty()) std::memcpy(base + h.map_actions_offset, actions.data(), actions.size());
  // The copies go to stored order; the map in memory is never touched.
  auto* cells = reinterpret_cast<mesh_cell*>(base + h.cells_offset);
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    cells[i].terrain_and_flags &= uint16_t(~(_cell_selected | _cell_transient));
    cells[i].object_list = cells[i].model_list = NONE;  // run-time lists never leave memory
  }
  // The stored lists are sorted by type and carry no run-time slots: what is stored depends on the
  // map alone, not on the order of edits or the objects that happen to show it.
  auto* palette = reinterpret_cast<marker_palette_entry*>(base + h.palette_offset);
  for (int32_t i = 0; i < h.palette_entry_count; ++i) {
    palette[i].instance_count = 0;
    palette[i].definition_index = NONE;
  }
  auto* markers = reinterpret_cast<marker_data*>(base + h.markers_offset);
  markers_sort_by_type(markers, h.marker_count);
  for (int32_t i = 0; i < h.marker_count; ++i) {
    markers[i].object_index = markers[i].object_identifier = NONE;
    markers[i].flags &= ~uint32_t(_marker_selected);  // the selection never leaves memory
  }
  convert_sections(true, cells, reinterpret_cast<marker_palette_entry*>(base + h.palette_offset),
                   reinterpret_cast<marker_data*>(base + h.markers_offset),
                   reinterpret_cast<int16_t*>(base + h.media_coverage_offset),
                   reinterpret_cast<uint16_t*>(base + h.lod_offset),
                   reinterpret_cast<int16_t*>(base + h.connectors_offset), h);

  mesh_definition stored = h;
  clear_pointer_slots(&stored);
  stored.landscape_collection_index = 0;
  stored.media_index = 0;
  byte_swap_data(mesh_definition_description, &stored, MESH_HEADER_SIZE, 1);
  std::memcpy(data->data(), &stored, MESH_HEADER_SIZE);
  return true;
}

bool mesh_save() {
  mesh_state& m = mesh_globals;
  if (m.header == nullptr || !mesh_is_open() || m.tag_index == NONE) return false;
  mesh_definition& h = *m.header;
  const char* name = tag_file_get_name(m.tag_index);

  mesh_definition_lay_out(&h);
  for (int32_t i = 0; i < mesh_cell_count(); ++i) m.cells[i].terrain_and_flags &= uint16_t(~_cell_transient);
  h.team_count = uint32_t(mesh_team_count());

  std::vector<uint8_t> data;
  if (!mesh_build_stored_data(&data)) return false;
  // One replacement of the whole tag, version included: a failure or a crash leaves the old map or
  // the new one.
  if (!tag_file_replace_contents(&m.tag_index, data.data(), int32_t(data.size()), MESH_VERSION)) {
    POST_ERROR(error_file_write, "couldn't write mesh data from %s.", name);
    return false;
  }
  return true;
}

bool mesh_create(int32_t tag_index, tag media_tag, int16_t width, int16_t height) {
  const char* name = tag_file_get_name(tag_index);
  if (width <= 0 || height <= 0 || width > MAXIMUM_MESH_SUBMESHES || height > MAXIMUM_MESH_SUBMESHES) {
    POST_ERROR(error_data_mismatch, "can't make mesh '%s' of %d x %d submeshes (1..%d each).", name, width, height,
               int(MAXIMUM_MESH_SUBMESHES));
    return false;
  }
  mesh_definition header;
  mesh_definition_set_defaults(&header, tag_file_get_identifier(tag_index), media_tag, width, height);
  std::vector<uint8_t> data;
  try {
    data.assign(size_t(MESH_HEADER_SIZE) + size_t(header.cells_size), 0);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_out_of_memory, "couldn't allocate mesh cells for %s.", name);
    return false;
  }
  auto* cells = reinterpret_cast<mesh_cell*>(data.data() + MESH_HEADER_SIZE);
  const int32_t count = header.cells_size / int32_t(sizeof(mesh_cell));
  for (int32_t i = 0; i < count; ++i) cells[i].terrain_and_flags = NEW_CELL_TERRAIN;
  byte_swap_data(mesh_cell_description, cells, sizeof(mesh_cell), count);
  byte_swap_data(mesh_definition_description, &header, MESH_HEADER_SIZE, 1);
  std::memcpy(data.data(), &header, MESH_HEADER_SIZE);
  if (!tag_file_replace_contents(&tag_index, data.data(), int32_t(data.size()), MESH_VERSION)) {
    POST_ERROR(error_file_write, "couldn't write mesh data from %s.", name);
    return false;
  }
  return true;
}

bool mesh_read_header(int32_t tag_index, mesh_definition* header) {
  if (header == nullptr || tag_file_get_size(tag_index) < MESH_HEADER_SIZE) return false;
  if (!tag_file_read(tag_index, 0, MESH_HEADER_SIZE, header)) return false;
  return byte_swap_data(mesh_definition_description, header, MESH_HEADER_SIZE, 1);
}
