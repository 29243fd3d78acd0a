// Included by the fuzz targets too: local includes only.
#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "map_fixtures.h"

#include <algorithm>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh_file.h"
#include "render/shapes.h"
#include "collection_fixtures.h"
#include "content/content_definitions.h"
#include "tag_files/tag_files.h"

scoped_test_grid::scoped_test_grid(int16_t width, int16_t height) { ready_ = mesh_set_grid(&header, width, height); }

scoped_test_grid::~scoped_test_grid() { mesh_free_sections(); }

void map_fixture_set_height(int32_t x, int32_t y, int16_t height) { mesh_edit_cell(x, y)->ground_height = height; }

void map_fixture_set_flags(int32_t x, int32_t y, uint16_t flags) { mesh_edit_cell(x, y)->terrain_and_flags |= flags; }

void map_fixture::lay_out() {
  mesh_definition& h = header;
  h.cells_size = int32_t(cells.size() * sizeof(mesh_cell));
  h.palette_entry_count = int32_t(palette.size());
  h.palette_size = int32_t(palette.size() * sizeof(marker_palette_entry));
  h.marker_count = int32_t(markers.size());
  h.markers_size = int32_t(markers.size() * sizeof(marker_data));
  h.map_action_count = map_action_count;
  h.map_actions_size = int32_t(map_actions.size());
  h.media_coverage_size = int32_t(media_coverage.size() * 2);
  h.lod_size = int32_t(lod.size() * 2);
  h.connector_count = int32_t(connectors.size());
  h.connectors_size = int32_t(connectors.size() * 64);
  mesh_definition_lay_out(&h);
}

std::vector<uint8_t> map_fixture::tag_data() {
  lay_out();
  std::vector<uint8_t> out(size_t(MESH_HEADER_SIZE + header.data_size));
  mesh_definition stored = header;
  byte_swap_data(mesh_definition_description, &stored, MESH_HEADER_SIZE, 1);
  std::memcpy(out.data(), &stored, MESH_HEADER_SIZE);
  uint8_t* base = out.data() + MESH_HEADER_SIZE;
  auto put = [&](int32_t offset, const void* data, size_t size) {
    if (size > 0) std::memcpy(base + offset, data, size);
  };
  put(header.cells_offset, cells.data(), cells.size() * sizeof(mesh_cell));
  byte_swap_data(mesh_cell_description, base + header.cells_offset, sizeof(mesh_cell), int32_t(cells.size()));
  put(header.palette_offset, palette.data(), palette.size() * sizeof(marker_palette_entry));
  palette_convert(reinterpret_cast<marker_palette_entry*>(base + header.palette_offset), int32_t(palette.size()));
  put(header.markers_offset, markers.data(), markers.size() * sizeof(marker_data));
  markers_convert_to_stored(reinterpret_cast<marker_data*>(base + header.markers_offset), int32_t(markers.size()));
  put(header.map_actions_offset, map_actions.data(), map_actions.size());
  put(header.media_coverage_offset, media_coverage.data(), media_coverage.size() * 2);
  byte_swap_memory("coverage", base + header.media_coverage_offset, int32_t(media_coverage.size()), _byte_swap_2_bytes);
  put(header.lod_offset, lod.data(), lod.size() * 2);
  byte_swap_memory("lod", base + header.lod_offset, int32_t(lod.size()), _byte_swap_2_bytes);
  put(header.connectors_offset, connectors.data(), connectors.size() * 64);
  byte_swap_memory("connectors", base + header.connectors_offset, int32_t(connectors.size() * 32), _byte_swap_2_bytes);
  return out;
}

map_fixture map_fixture_new(int16_t width, int16_t height) {
  map_fixture map;
  mesh_definition_set_defaults(&map.header, NONE_TAG, NONE_TAG, width, height);
  mesh_cell cell{};
  cell.terrain_and_flags = NEW_CELL_TERRAIN;
  map.cells.assign(size_t(width) * height * CELLS_PER_SUBMESH * CELLS_PER_SUBMESH, cell);
  return map;
}

marker_data map_fixture_marker(int16_t type, int16_t palette_index, int32_t x, int32_t y) {
  marker_data marker{};
  marker.type = type;
  marker.palette_index = palette_index;
  marker.location = {x, y, 0};
  marker.object_index = NONE;
  return marker;
}

marker_palette_entry map_fixture_palette_entry(int16_t type, uint32_t definition_tag, int16_t team) {
  marker_palette_entry entry{};
  entry.type = type;
  entry.definition_tag = definition_tag;
  entry.team = team;
  entry.definition_index = NONE;
  return entry;
}

// A map with something in every section.
map_fixture map_fixture_full() {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_unit, make_tag("warr"), 2),
                 map_fixture_palette_entry(_marker_scenery, make_tag("tree"), -1),
                 map_fixture_palette_entry(_marker_sound_source, make_tag("wind"), -1)};
  for (int i = 0; i < 6; ++i) {
    marker_data marker = map_fixture_marker(int16_t(i % 2 == 0 ? _marker_unit : _marker_scenery), 0, 1000 * i, 700);
    marker.identifier = int16_t(10000 + i);
    map.markers.push_back(marker);
  }
  marker_data sound = map_fixture_marker(_marker_sound_source, 0, 5, 6);
  sound.user_data[0] = 0x12;
  sound.user_data[1] = 0x34;
  map.markers.push_back(sound);
  // One untyped action holding one integer parameter `test` of value 0x7F (stored big-endian).
  map.map_action_count = 1;
  map.map_actions.assign(64 + 12, 0);
  map.map_actions[0] = 0x80;
  for (int i = 4; i < 8; ++i) map.map_actions[size_t(i)] = 0xFF;  // no type
  map.map_actions[21] = 1;   // one parameter
  map.map_actions[23] = 12;  // of 12 bytes at offset 0
  map.map_actions[64 + 1] = 5;  // integer
  map.map_actions[64 + 3] = 1;  // one element
  for (int i = 0; i < 4; ++i) map.map_actions[size_t(68 + i)] = uint8_t("test"[i]);
  map.map_actions[75] = 0x7F;
  for (int row = 0; row < 256; ++row) {
    if (row == 3) {
      map.media_coverage.insert(map.media_coverage.end(), {0, 100, 256});
    } else {
      map.media_coverage.push_back(256);
    }
  }
  map.lod.assign(256, 0x00F0);
  std::array<int16_t, 32> connector{};
  connector[0] = 10001;
  connector[1] = 10003;
  connector[31] = 2;
  map.connectors.push_back(connector);
  map.header.team_count = 3;
  return map;
}

std::vector<uint8_t> map_fixture_observer_constants() {
  // Stored (big-endian) int32: forward, sideways, turn, orbit, vertical, pitch, zoom.
  const int32_t axes[7][6] = {{160, 16, 24, 160, 16, 24}, {128, 14, 24, 128, 14, 24}, {512, 48, 96, 512, 48, 96},
                              {384, 32, 64, 384, 32, 64}, {64, 8, 16, 64, 8, 16},     {96, 12, 24, 96, 12, 24},
                              {1200, 120, 240, 1200, 120, 240}};
  std::vector<uint8_t> bytes(256, 0);
  for (size_t i = 0; i < 42; ++i) fixture_put32(bytes, i * 4, uint32_t(axes[i / 6][i % 6]));
  return bytes;
}

bool map_fixture_open_store(tag* media_tag) {
  error_manager_initialize("vellgrim tests");
  if (!tag_files_initialize() || !tag_files_open(false, {}, -1)) return false;
  if (!definition_groups_initialize()) return false;
  definition_groups_validate();
  if (!shapes_initialize()) return false;
  mesh_initialize();
  std::vector<uint8_t> media(sizeof(media_definition), 0);
  fixture_put32(media, 4, NONE_TAG);  // no surface texture
  fixture_put16(media, 8, 0x2000);
  fixture_put16(media, 10, 0x4000);
  fixture_put16(media, 12, 0xC000);
  int32_t media_index = fixture_store_tag(media_definitions.group_tag, "water", 1, media);
  if (media_index == NONE) return false;
  *media_tag = tag_file_get_identifier(media_index);
  // The observer's constants, which every map opening loads.
  if (fixture_store_tag(observer_physics_definitions.group_tag, "obpc", 1, map_fixture_observer_constants()) == NONE)
    return false;
  // The lighting that new maps name.
  return fixture_store_tag(mesh_lighting_definitions.group_tag, "gras", 1, std::vector<uint8_t>(64, 0)) != NONE;
}

void map_fixture_close_store() {
  mesh_unload();
  definition_groups_invalidate();
  shapes_dispose();
  tag_files_close();
}

int32_t map_fixture_store_map(const char* name, map_fixture& map, int16_t version, tag media_tag) {
  int32_t collection = fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, name, COLLECTION_DEFINITION_VERSION,
                                         fixture_map_collection(map.header.width, map.header.height, 3, 200).tag_data());
  if (collection == NONE) return NONE;
  map.header.landscape_collection_tag = tag_file_get_identifier(collection);
  map.header.media_tag = media_tag;
  return fixture_store_tag(MESH_DEFINITION_GROUP_TAG, name, version, map.tag_data());
}

int32_t map_fixture_store_lines(tag group, const char* name, const std::vector<std::string>& lines) {
  std::string data;
  for (const std::string& line : lines) data += line + "\n";
  int32_t index = tag_file_create(group, name, 1);
  if (index == NONE || !tag_file_write(&index, 0, int32_t(data.size()), data.data())) return NONE;
  return index;
}

bool map_fixture_store_action_keywords() {
  return map_fixture_store_lines(make_tag("stli"), "in#2", content_keywords()) != NONE;
}
