#include "map/mesh.h"
#include "map/map_actions.h"
#include "map/mesh_edit.h"
#include "map/mesh_private.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cseries/error_manager.h"
#include "cseries/data.h"
#include "engine/definition_groups.h"
#include "platform/ui_host.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"

namespace {

using namespace byte_swap_letters;

// Pointer slots are kept as raw bytes: they are never converted, only zeroed.
constexpr int16_t mesh_definition_codes[] = {
    B, 1,
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

constexpr int16_t mesh_cell_codes[] = {B, 1, S, S, S, 2, S, 2, E};
constexpr int16_t connector_codes[] = {B, 1, B, 32, S, E, E};

const char* const terrain_type_names[NUMBER_OF_TERRAIN_TYPES] = {
    "dwarf-depth media", "human-depth media", "giant-depth media", "deep media", "sloped", "steep",
    "grass", "desert", "rocky", "marsh", "snow", "forest", "unused", "unused", "walking impassable",
    "flying impassable"};

}  // namespace

const int8_t mesh_triangle_corner_steps[4][3][2] = {
    {{0, 1}, {1, 1}, {0, 0}},  // 0: below the top-left to bottom-right diagonal
    {{1, 0}, {0, 0}, {1, 1}},  // 1: above it
    {{0, 0}, {1, 0}, {0, 1}},  // 2: above the top-right to bottom-left diagonal
    {{1, 1}, {0, 1}, {1, 0}},  // 3: below it
};

const byte_swap_description mesh_definition_description = byte_swap_describe(
    "mesh definition", MESH_HEADER_SIZE, mesh_definition_codes);
const byte_swap_description mesh_cell_description = byte_swap_describe("mesh cell", sizeof(mesh_cell), mesh_cell_codes);
const byte_swap_description connector_description = byte_swap_describe(
    "connector", CONNECTOR_RECORD_SIZE, connector_codes);


const char* terrain_type_name(int16_t type) {
  return type >= 0 && type < NUMBER_OF_TERRAIN_TYPES ? terrain_type_names[type] : "";
}

void mesh_set_dimensions(int16_t width, int16_t height) {
  ++mesh_globals.cells_generation;
  mesh_forget_normals();
  mesh_globals.width = width;
  mesh_globals.height = height;
  mesh_globals.cells_across = int32_t(width) * CELLS_PER_SUBMESH;
  mesh_globals.cells_down = int32_t(height) * CELLS_PER_SUBMESH;
  for (int t = 0; t < 4; ++t) {
    for (int c = 0; c < 3; ++c) {
      mesh_globals.triangle_corner_offsets[t][c] =
          mesh_triangle_corner_steps[t][c][0] + mesh_triangle_corner_steps[t][c][1] * mesh_globals.cells_across;
    }
  }
}

void mesh_free_sections() {
  mesh_state& m = mesh_globals;
  resize_block(m.cells, 0);
  resize_block(m.palette, 0);
  resize_block(m.markers, 0);
  resize_block(m.media_coverage, 0);
  resize_block(m.lod, 0);
  resize_block(m.connectors, 0);
  resize_block(m.media_coverage_rows, 0);
  m.cells = nullptr;
  m.palette = nullptr;
  m.markers = nullptr;
  map_actions_end();
  m.media_coverage = nullptr;
  m.lod = nullptr;
  m.connectors = nullptr;
  m.media_coverage_rows = nullptr;
  m.header = nullptr;
  mesh_forget_landscape_collection();
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
  map_actions_begin();
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

// ---- the `mesh` definition group ----

namespace {

void mesh_references(definition_group*, int16_t, void* record, definition_reference_visitor visitor, void* context) {
  auto* header = static_cast<mesh_definition*>(record);
  visitor(COLLECTION_DEFINITION_GROUP_TAG, header->landscape_collection_tag, &header->landscape_collection_index, 0,
          context);
  visitor(media_definitions.group_tag, header->media_tag, &header->media_index, 0, context);
}

bool mesh_convert(definition_group*, int32_t, int16_t stored_version, const void*, void* record) {
  return mesh_definition_upgrade(static_cast<mesh_definition*>(record), stored_version);
}

void build_landscape_shading(const color_table& colors, int32_t levels, uint16_t* pixels, const void* context) {
  const auto& header = *static_cast<const mesh_definition*>(context);
  for (int32_t level = 0; level < levels; ++level) {
    for (int32_t j = 0; j < MAXIMUM_COLORS_PER_TABLE; ++j) {
      rgb_color shaded = mesh_landscape_shade(header, colors.colors[j], level, levels);
      pixels[level * MAXIMUM_COLORS_PER_TABLE + j] = screen_pixel(shaded.red, shaded.green, shaded.blue);
    }
  }
}

// An optional reference: NONE_TAG loads nothing (index -1, success).
template <class Load>
bool load_optional(tag identifier, int16_t* index, Load load) {
  *index = NONE;
  if (identifier == NONE_TAG) return true;
  *index = load(identifier);
  return *index != NONE;
}

bool mesh_postprocess(definition_group*, int16_t, int32_t, void* record) {
  auto* header = static_cast<mesh_definition*>(record);
  header->connector_definitions_index = header->description_string_list_index = NONE;
  header->extra_collection_index = header->landscape_collection_index = NONE;
  header->ambient_sound_index = header->media_index = header->second_string_list_index = NONE;

  // The landscape collection (tens of megabytes of textures) is loaded when first used, not here;
  // a map without one is refused as before, and a missing tag is reported by the loader.
  const bool has_collection = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, header->landscape_collection_tag) != NONE ||
                              collection_load(header->landscape_collection_tag) != NONE;
  int16_t media = header->media_tag == NONE_TAG ? int16_t(NONE) : definition_load(&media_definitions, header->media_tag);
  if (!has_collection || media == NONE) return false;

  header->media_index = media;
  collections_set_map_tint(header->tint_color, header->tint_amount);

  // Every optional reference is tried, so one missing tag does not hide the others.
  bool success = true;
  success &= load_optional(header->ambient_sound_tag, &header->ambient_sound_index,
                           [](tag t) { return definition_load(&ambient_sound_definitions, t); });
  success &= load_optional(header->extra_collection_tag, &header->extra_collection_index,
                           [](tag t) { return collection_load(t); });
  success &= load_optional(header->description_string_list_tag, &header->description_string_list_index,
                           [](tag t) { return definition_load(&string_list_definitions, t); });
  success &= load_optional(header->connector_definitions_tag, &header->connector_definitions_index,
                           [](tag t) { return definition_load(&connector_definitions, t); });
  success &= load_optional(header->second_string_list_tag, &header->second_string_list_index,
                           [](tag t) { return definition_load(&string_list_definitions, t); });
  return success;
}

}  // namespace

int16_t mesh_landscape_collection() {
  mesh_state& m = mesh_globals;
  if (m.header == nullptr) return NONE;
  const tag identifier = m.header->landscape_collection_tag;
  if (m.landscape_collection != NONE) {
    // Still ours: definitions dropped and loaded again may have put another collection there.
    const int32_t tag_index = definition_get_tag(&collection_definitions, m.landscape_collection);
    if (collection_get_header(m.landscape_collection) != nullptr && tag_index != NONE &&
        tag_file_get_identifier(tag_index) == identifier) {
      return m.landscape_collection;
    }
    m.landscape_collection = NONE;
  }
  if (m.landscape_collection_failed) return NONE;
  const int16_t collection = collection_load(identifier);
  if (collection == NONE) {
    m.landscape_collection_failed = true;
    return NONE;
  }
  shading_table_request request;
  request.builder = build_landscape_shading;
  request.builder_context = m.header;
  if (collection_add_shading_table(collection, request) == NONE) {
    m.landscape_collection_failed = true;
    return NONE;
  }
  m.landscape_collection = collection;
  return collection;
}

void mesh_forget_landscape_collection() {
  mesh_globals.landscape_collection = NONE;
  mesh_globals.landscape_collection_failed = false;
}

void mesh_initialize() {
  map_actions_initialize();
  mesh_definitions.references = mesh_references;
  mesh_definitions.postprocess = mesh_postprocess;
  mesh_definitions.convert = mesh_convert;
  mesh_definitions.description = &mesh_definition_description;
}

bool mesh_definition_upgrade(mesh_definition* header, int16_t stored_version) {
  if (stored_version < MESH_OLDEST_UPGRADABLE_VERSION) return false;
  auto at16 = [header](size_t offset, int16_t value) {
    std::memcpy(reinterpret_cast<uint8_t*>(header) + offset, &value, sizeof(value));
  };
  // Each step brings the header from its version to the next; they run in order.
  for (int16_t step = stored_version; step < MESH_VERSION; ++step) {
    switch (step) {
      case 5:
        header->kept_80 = NONE_TAG;
        break;
      case 7:
        mesh_definition_set_shading_defaults(header);
        header->dark_color.flags = 0;
        break;
      case 8:
        header->connector_definitions_tag = NONE_TAG;
        break;
      case 9:
        std::memset(header->kept_300, 0, sizeof(header->kept_300));
        break;
      case 10:
        header->second_string_list_tag = NONE_TAG;
        at16(496, -1);
        at16(498, -1);
        at16(500, -1);
        at16(502, 0);
        header->kept_504[0] = 0;
        break;
      default:
        break;
    }
  }
  return true;
}

rgb_color mesh_landscape_shade(const mesh_definition& header, const rgb_color& color, int32_t level, int32_t levels) {
  const int64_t last = std::max(levels - 1, 0);
  const int64_t threshold = std::clamp<int64_t>((int64_t(header.normal_level_fraction) * last) >> 16, 0, last);
  int64_t amount;
  rgb_color target;
  if (level > threshold) {
    int64_t span = levels - threshold - 1;
    amount = span > 0 ? (level - threshold) * header.light_blend / span : 0;
    target = header.light_color;
  } else {
    amount = threshold > 0 ? header.dark_blend * (threshold - level) / threshold : 0;
    target = header.dark_color;
  }
  auto blend = [amount](uint16_t to, uint16_t from) {
    int64_t channel = (amount * to + (256 - amount) * from) >> 8;
    return uint16_t(std::clamp<int64_t>(channel >> 8, 0, 255) << 8);
  };
  return rgb_color{blend(target.red, color.red), blend(target.green, color.green), blend(target.blue, color.blue),
                   color.flags};
}

std::string mesh_limits_text() {
  struct line {
    tag group;             // a definition group, or
    const char* array;     // a data array by name
    int32_t capacity = 0;  // the array's capacity while its module does not declare it yet
  };
  const tag none = NONE_TAG;
  static const line lines[] = {
      {make_tag("amso"), nullptr}, {make_tag("arti"), nullptr}, {make_tag(".256"), nullptr},
      {make_tag("core"), nullptr}, {make_tag("phys"), nullptr}, {none, "local projectile", 0},
      {make_tag("lpgr"), nullptr}, {make_tag("ligh"), nullptr}, {none, "map action", 1024},
      {make_tag("meef"), nullptr}, {none, "model"},             {make_tag("mode"), nullptr},
      {make_tag("anim"), nullptr}, {make_tag("mons"), nullptr}, {make_tag("obje"), nullptr},
      {make_tag("proj"), nullptr}, {make_tag("prgr"), nullptr}, {make_tag("scen"), nullptr},
      {make_tag("unit"), nullptr}, {none, "object"},
  };
  std::string text;
  for (const line& l : lines) {
    if (l.array == nullptr) {
      if (const definition_group* group = definition_group_find(l.group)) text += definitions_usage_line(group);
      continue;
    }
    bool found = false;
    for (const declared_data_array* a = data_array_registry_next(nullptr); a != nullptr && !found;
         a = data_array_registry_next(a)) {
      if (a->state.name != nullptr && std::strcmp(a->state.name, l.array) == 0) {
        text += data_array_usage_line(a);
        found = true;
      }
    }
    // Every line is listed: an array whose module is not built yet holds nothing.
    if (!found) {
      char missing[96];
      std::snprintf(missing, sizeof(missing), "%ss: 0 / %d\n", l.array, int(l.capacity));
      text += missing;
    }
  }
  const int32_t parameter_bytes = mesh_globals.header != nullptr ? map_actions_parameter_bytes() : 0;
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "MA params size: %d / %d\n", parameter_bytes, int(MAP_ACTION_PARAMETER_LIMIT));
  return text + buffer;
}

void mesh_show_limits() {
  ui_message_box("Current Mesh Limits", mesh_limits_text().c_str(), ui_icon_information, ui_buttons_ok);
}
