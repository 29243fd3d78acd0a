#include "map/mesh.h"

#include <algorithm>
#include <cstring>

#include "cseries/error_manager.h"

namespace {

enum : int16_t {
  G = _byte_swap_begin_group,
  E = _byte_swap_end_group,
  L = _byte_swap_4_bytes,
  S = _byte_swap_2_bytes,
};

// Pointer slots are kept as raw bytes: they are never converted, only zeroed.
constexpr int16_t mesh_definition_codes[] = {
    G, 1,
    L, L, S, S,                // collection, media, width, height
    L, L, 4,                   // cells offset and size, pointer
    L, L, 4,                   // data offset and size, pointer
    L, L, L, 4,                // palette
    L, L, L, 4,                // markers
    L, L, L, L, L,             // lighting, connector definitions, flags, 80, team count
    S, S, S, S, S, S, S, S, S, S,  // blends and colours
    L,                         // normal level fraction
    S, 2,                      // 112, 114
    S, S, S, S,                // observer margins
    L,                         // ambient sound
    L, L, L,                   // map actions
    L, L, L, L,                // string list, 144, 148, extra collection
    L, L, L, L, L, L, L, L, L,  // 156..188
    L, L, 4,                   // media coverage
    L, L, 4,                   // LOD
    S, S, S, S, S, 2,          // tint colour and amount, 226
    L, L, L, L,                // wind, 232..240
    S, S, S, S,                // 244..250
    L, L, L, L,                // 252..264
    L, L, L, L,                // 268..280
    L, L, L, L,                // connectors and their pointer (converted as a number)
    192,                       // 300..491
    L,                         // second string list
    S, S, S, S,                // 496..502
    L, L, L,                   // 504..512
    32,                        // 516..547
    L,                         // 548
    442,                       // 552..993
    S, S, S, S, S, S, S,       // run-time indices
    16,
    E};

constexpr int16_t mesh_cell_codes[] = {G, 1, S, S, S, 2, S, 2, E};
constexpr int16_t connector_codes[] = {G, 1, G, 32, S, E, E};

const char* const terrain_type_names[NUMBER_OF_TERRAIN_TYPES] = {
    "dwarf-depth media", "human-depth media", "giant-depth media", "deep media", "sloped", "steep",
    "grass", "desert", "rocky", "marsh", "snow", "forest", "unused", "unused", "walking impassable",
    "flying impassable"};

// Each triangle's corners as cell steps (matches the interpolation order of the geometry).
constexpr int8_t triangle_corner_steps[4][3][2] = {
    {{0, 1}, {1, 1}, {0, 0}}, {{1, 0}, {0, 0}, {1, 1}}, {{0, 0}, {1, 0}, {0, 1}}, {{1, 1}, {0, 1}, {1, 0}}};

}  // namespace

const byte_swap_description mesh_definition_description = {"mesh definition", MESH_HEADER_SIZE,
                                                            mesh_definition_codes};
const byte_swap_description mesh_cell_description = {"mesh cell", sizeof(mesh_cell), mesh_cell_codes};
const byte_swap_description connector_description = {"connector", CONNECTOR_RECORD_SIZE, connector_codes};

mesh_state mesh_globals;

const char* terrain_type_name(int16_t type) {
  return type >= 0 && type < NUMBER_OF_TERRAIN_TYPES ? terrain_type_names[type] : "";
}

void mesh_set_dimensions(int16_t width, int16_t height) {
  mesh_globals.width = width;
  mesh_globals.height = height;
  mesh_globals.cells_across = int32_t(width) * CELLS_PER_SUBMESH;
  mesh_globals.cells_down = int32_t(height) * CELLS_PER_SUBMESH;
  for (int t = 0; t < 4; ++t) {
    for (int c = 0; c < 3; ++c) {
      mesh_globals.triangle_corner_offsets[t][c] =
          triangle_corner_steps[t][c][0] + triangle_corner_steps[t][c][1] * mesh_globals.cells_across;
    }
  }
}

void mesh_free_sections() {
  mesh_state& m = mesh_globals;
  resize_block(m.cells, 0);
  resize_block(m.palette, 0);
  resize_block(m.markers, 0);
  resize_block(m.map_actions, 0);
  resize_block(m.media_coverage, 0);
  resize_block(m.lod, 0);
  resize_block(m.connectors, 0);
  resize_block(m.media_coverage_rows, 0);
  m.cells = nullptr;
  m.palette = nullptr;
  m.markers = nullptr;
  m.map_actions = nullptr;
  m.media_coverage = nullptr;
  m.lod = nullptr;
  m.connectors = nullptr;
  m.media_coverage_rows = nullptr;
  m.header = nullptr;
  mesh_set_dimensions(0, 0);
}

bool mesh_set_grid(mesh_definition* header, int16_t width, int16_t height) {
  mesh_free_sections();
  if (width <= 0 || height <= 0 || width > MAXIMUM_MESH_SUBMESHES || height > MAXIMUM_MESH_SUBMESHES) return false;
  size_t count = size_t(width) * height * CELLS_PER_SUBMESH * CELLS_PER_SUBMESH;
  auto* cells = static_cast<mesh_cell*>(resize_block(nullptr, count * sizeof(mesh_cell)));
  if (cells == nullptr) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for mesh cells.", int(count * sizeof(mesh_cell)));
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    cells[i].terrain_and_flags = NEW_CELL_TERRAIN;
    cells[i].object_list = NONE;
    cells[i].model_list = NONE;
  }
  mesh_globals.cells = cells;
  mesh_globals.header = header;
  mesh_set_dimensions(width, height);
  if (header != nullptr) {
    header->width = width;
    header->height = height;
    header->cells_size = int32_t(count * sizeof(mesh_cell));
    header->palette_entry_count = header->palette_size = 0;
    header->marker_count = header->markers_size = 0;
    header->map_action_count = header->map_actions_size = 0;
    header->media_coverage_size = header->lod_size = 0;
    header->connector_count = header->connectors_size = 0;
  }
  return mesh_build_media_coverage_rows();
}

const int16_t* mesh_media_coverage_row(int32_t texel_row) {
  const mesh_state& m = mesh_globals;
  if (m.media_coverage_rows == nullptr || texel_row < 0 || texel_row >= m.cells_down * TEXELS_PER_CELL) {
    return nullptr;
  }
  const int16_t* values = m.media_coverage != nullptr && m.header != nullptr && m.header->media_coverage_size > 0
                              ? m.media_coverage
                              : m.media_coverage_default;
  return values + m.media_coverage_rows[texel_row];
}

bool mesh_build_media_coverage_rows() {
  mesh_state& m = mesh_globals;
  resize_block(m.media_coverage_rows, 0);
  m.media_coverage_rows = nullptr;
  const int32_t rows = m.cells_down * TEXELS_PER_CELL, row_width = m.cells_across * TEXELS_PER_CELL;
  if (rows <= 0) return true;
  auto* index = static_cast<int32_t*>(resize_block(nullptr, size_t(rows) * sizeof(int32_t)));
  if (index == nullptr) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for media coverage row addresses",
               int(rows * sizeof(int32_t)));
    return false;
  }
  m.media_coverage_default[0] = int16_t(std::min(row_width, 32767));
  int32_t value_count = m.header != nullptr && m.media_coverage != nullptr ? m.header->media_coverage_size / 2 : 0;
  if (value_count == 0) {
    // An empty region covers every row: each row is the one value [row width].
    std::fill(index, index + rows, 0);
    m.media_coverage_rows = index;
    return true;
  }
  // Each row is a run of ascending toggle columns closed by the first value >= the row width.
  int32_t next = 0;
  for (int32_t row = 0; row < rows; ++row) {
    index[row] = next;
    int32_t previous = 0;
    for (;;) {
      if (next >= value_count) {
        resize_block(index, 0);
        return false;
      }
      int32_t value = m.media_coverage[next++];
      if (value < previous) {
        resize_block(index, 0);
        return false;
      }
      if (value >= row_width) break;
      previous = value;
    }
  }
  m.media_coverage_rows = index;
  return true;
}

void mesh_definition_set_shading_defaults(mesh_definition* header) {
  header->dark_blend = 230;
  header->light_blend = 25;
  header->dark_color = {0, 0, 3932, 0};
  header->light_color.red = 0xFFFF;
  header->light_color.green = 0xA147;
  header->light_color.blue = 0;
  header->normal_level_fraction = 0xF333;
}

void mesh_definition_set_defaults(mesh_definition* header, tag map_identifier, tag media_tag, int16_t width,
                                  int16_t height) {
  std::memset(header, 0, sizeof(*header));
  header->landscape_collection_tag = map_identifier;
  header->media_tag = media_tag;
  header->width = width;
  header->height = height;
  header->cells_size = int32_t(width) * height * CELLS_PER_SUBMESH * CELLS_PER_SUBMESH * int32_t(sizeof(mesh_cell));
  header->palette_offset = header->markers_offset = header->cells_size;
  header->data_size = header->cells_size;
  header->data_offset = MESH_HEADER_SIZE;
  header->mesh_lighting_tag = MESH_LIGHTING_DEFAULT_TAG;
  header->connector_definitions_tag = NONE_TAG;
  header->kept_80 = NONE_TAG;
  header->ambient_sound_tag = NONE_TAG;
  header->description_string_list_tag = NONE_TAG;
  header->kept_144[0] = header->kept_144[1] = NONE_TAG;
  header->extra_collection_tag = NONE_TAG;
  std::fill(std::begin(header->kept_156), std::end(header->kept_156), NONE_TAG);
  header->wind_tag = NONE_TAG;
  header->second_string_list_tag = NONE_TAG;
  header->kept_244[0] = -1;
  mesh_definition_set_shading_defaults(header);
  header->kept_112 = 2048;
  const float kept_floats[4] = {0.0f, 0.5f, 1.493f, 0.5f};
  static_assert(sizeof(kept_floats) == sizeof(header->kept_268));
  std::memcpy(header->kept_268, kept_floats, sizeof(kept_floats));
}
