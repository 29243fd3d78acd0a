// The map: the stored layout of the `mesh` tag (a 1024-byte header and seven sections) and the
// state of the one open map. The header is the single loaded `mesh` definition; the sections are
// plain arrays owned here (allocated with resize_block), their sizes and counts kept in step in
// the header. Pointers never live in the header: its pointer slots stay zero in memory and on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"
#include "map/markers.h"
#include "render/colors.h"

inline constexpr tag MESH_DEFINITION_GROUP_TAG = make_tag("mesh");
inline constexpr tag MESH_LIGHTING_DEFAULT_TAG = make_tag("gras");

enum {
  MESH_VERSION = 11,
  MESH_OLDEST_UPGRADABLE_VERSION = 5,
  MESH_HEADER_SIZE = 1024,
  CELLS_PER_SUBMESH = 32,
  TEXELS_PER_CELL = 8,
  TEXELS_PER_SUBMESH = CELLS_PER_SUBMESH * TEXELS_PER_CELL,
  WORLD_ONE = 512,               // world units to a cell edge
  WORLD_FRACTIONAL_BITS = 9,     // a world coordinate's cell is the coordinate >> 9
  WORLD_UNITS_PER_TEXEL = 64,
  // The largest map side accepted, in submeshes: texel columns of the media coverage region are
  // int16 and cells stay within a few tens of megabytes.
  MAXIMUM_MESH_SUBMESHES = 64,
  MAXIMUM_CONNECTORS_PER_MAP = 32,
  MAXIMUM_MAP_ACTIONS_PER_MAP = 1024,
  MAP_ACTION_RECORD_SIZE = 64,
  CONNECTOR_RECORD_SIZE = 64,
  MAP_ACTION_PARAMETER_LIMIT = 0x18000,
};

// Cell flags, in the high byte of terrain_and_flags.
enum cell_flags : uint16_t {
  _cell_vertex_touches_media = 0x0100,      // recomputed after loading
  _cell_transient = 0x0200,                 // never stored
  _cell_vertex_fully_in_media = 0x0400,     // recomputed after loading
  _cell_media_on_even_triangle = 0x0800,
  _cell_media_on_odd_triangle = 0x1000,
  _cell_reflective_media = 0x2000,
  _cell_no_ground = 0x4000,
  _cell_selected = 0x8000,                  // editor selection: never stored
  _cell_media_flags = _cell_media_on_even_triangle | _cell_media_on_odd_triangle,
  _cell_odd_terrain_mask = 0x000F,
  _cell_even_terrain_mask = 0x00F0,
};

enum terrain_type : int16_t {
  _terrain_dwarf_depth_media = 0,
  _terrain_human_depth_media,
  _terrain_giant_depth_media,
  _terrain_deep_media,
  _terrain_sloped,
  _terrain_steep,
  _terrain_grass,
  _terrain_desert,
  _terrain_rocky,
  _terrain_marsh,
  _terrain_snow,
  _terrain_forest,
  _terrain_unused_12,
  _terrain_unused_13,
  _terrain_walking_impassable,
  _terrain_flying_impassable,
  NUMBER_OF_TERRAIN_TYPES,
  NEW_CELL_TERRAIN = 0x66,  // grass on both triangles
};

// The names shown by the terrain window.
const char* terrain_type_name(int16_t type);

// mesh_flags bits the visual view consults; the editor never changes any bit.
enum mesh_flag_bits : uint32_t {
  _mesh_draws_mirror_groups = 0x01000000,
  _mesh_line_of_sight_walks_cells = 0x02000000,
  _mesh_observer_follows_ground = 0x04000000,
};

// LOD entry bits (one entry per 2 x 2 block of cells).
enum lod_bits : uint16_t {
  _lod_split_top = 0x0001,
  _lod_split_right = 0x0002,
  _lod_split_bottom = 0x0004,
  _lod_split_left = 0x0008,
  _lod_split_edges = 0x000F,
  _lod_top_left_ground = 0x0010,
  _lod_top_right_ground = 0x0020,
  _lod_bottom_right_ground = 0x0040,
  _lod_bottom_left_ground = 0x0080,
  _lod_top_left_media_odd = 0x0100,
  _lod_top_right_media_even = 0x0200,
  _lod_top_right_media_odd = 0x0400,
  _lod_bottom_right_media_odd = 0x0800,
  _lod_bottom_right_media_even = 0x1000,
  _lod_bottom_left_media_odd = 0x2000,
  _lod_bottom_left_media_even = 0x4000,
  _lod_top_left_media_even = 0x8000,
};

// One cell of the grid: the vertex at its top-left corner and its two triangles.
struct mesh_cell {
  int16_t ground_height;
  uint16_t normals;            // even triangle's normal index << 8 | odd triangle's
  uint16_t terrain_and_flags;  // bits 0-3 odd triangle's terrain, 4-7 even's, 8-15 cell_flags
  int16_t object_list;         // run time, not stored: head of the cell's object list
  int16_t media_height;
  int16_t model_list;          // run time, not stored: head of the cell's model list
};
static_assert(sizeof(mesh_cell) == 12);
static_assert(offsetof(mesh_cell, media_height) == 8);

// The 1024-byte mesh header. Fields named unused_N / kept_N are the game's and round-trip as they
// stand; pointer_N slots hold nothing (readers ignore them, writers store zero).
struct mesh_definition {
  tag landscape_collection_tag;  // .256: bitmaps 2k (texture) and 2k + 1 (shadow) of submesh k
  tag media_tag;                 // medi
  int16_t width, height;         // in submeshes
  int32_t cells_offset, cells_size;
  uint32_t pointer_20;
  int32_t data_offset, data_size;
  uint32_t pointer_32;
  int32_t palette_entry_count, palette_offset, palette_size;
  uint32_t pointer_48;
  int32_t marker_count, markers_offset, markers_size;
  uint32_t pointer_64;
  tag mesh_lighting_tag;           // meli
  tag connector_definitions_tag;   // conn
  uint32_t mesh_flags;
  uint32_t kept_80;
  uint32_t team_count;
  int16_t dark_blend, light_blend;  // in 1/256
  rgb_color dark_color, light_color;
  uint32_t normal_level_fraction;   // 16.16
  int16_t kept_112;
  uint8_t kept_114[2];
  int16_t observer_margin_top, observer_margin_left, observer_margin_bottom, observer_margin_right;
  tag ambient_sound_tag;  // amso
  int32_t map_action_count, map_actions_offset, map_actions_size;
  tag description_string_list_tag;  // stli
  tag kept_144[2];
  tag extra_collection_tag;  // .256
  tag kept_156[9];
  int32_t media_coverage_offset, media_coverage_size;
  uint32_t pointer_200;
  int32_t lod_offset, lod_size;
  uint32_t pointer_212;
  rgb_color tint_color;
  int16_t tint_amount;
  uint8_t kept_226[2];
  tag wind_tag;  // wind
  uint32_t kept_232[3];
  int16_t kept_244[4];
  uint32_t kept_252[4];
  uint32_t kept_268[4];  // IEEE single-precision values
  int32_t connector_count, connectors_offset, connectors_size;
  uint32_t pointer_296;
  uint8_t kept_300[192];
  tag second_string_list_tag;  // stli
  int16_t kept_496[4];
  uint32_t kept_504[3];
  uint8_t kept_516[32];
  uint32_t kept_548;
  uint8_t kept_552[442];
  // Run-time definition indices, rewritten by the postprocess.
  int16_t connector_definitions_index;
  int16_t description_string_list_index;
  int16_t extra_collection_index;
  int16_t landscape_collection_index;
  int16_t ambient_sound_index;
  int16_t media_index;
  int16_t second_string_list_index;
  uint8_t kept_1008[16];
};
static_assert(sizeof(mesh_definition) == MESH_HEADER_SIZE);
static_assert(offsetof(mesh_definition, mesh_lighting_tag) == 68);
static_assert(offsetof(mesh_definition, dark_blend) == 88);
static_assert(offsetof(mesh_definition, normal_level_fraction) == 108);
static_assert(offsetof(mesh_definition, observer_margin_top) == 116);
static_assert(offsetof(mesh_definition, map_action_count) == 128);
static_assert(offsetof(mesh_definition, media_coverage_offset) == 192);
static_assert(offsetof(mesh_definition, tint_color) == 216);
static_assert(offsetof(mesh_definition, wind_tag) == 228);
static_assert(offsetof(mesh_definition, connector_count) == 284);
static_assert(offsetof(mesh_definition, kept_300) == 300);
static_assert(offsetof(mesh_definition, second_string_list_tag) == 492);
static_assert(offsetof(mesh_definition, kept_552) == 552);
static_assert(offsetof(mesh_definition, connector_definitions_index) == 994);
static_assert(offsetof(mesh_definition, landscape_collection_index) == 1000);
static_assert(offsetof(mesh_definition, media_index) == 1004);

// Each triangle's three corners as cell steps from its cell, (0,0) top-left to (1,1) bottom-right,
// in the order the height interpolation takes them (first, second, third).
extern const int8_t mesh_triangle_corner_steps[4][3][2];

extern const byte_swap_description mesh_definition_description;
extern const byte_swap_description mesh_cell_description;
extern const byte_swap_description connector_description;

// ---- the open map, read only ----
// The open map's state belongs to this layer; every other layer reads it here and changes it only
// through the operations of the tools layer, which record each change for Undo.

bool mesh_is_open();
// The `mesh` definition's record; none when no map is open.
const mesh_definition* mesh_header();
int16_t mesh_definition_index();  // in the `mesh` definition group
int32_t mesh_tag_index();         // the map's tag
int16_t mesh_width();             // in submeshes
int16_t mesh_height();
int32_t mesh_cells_across();
int32_t mesh_cells_down();
// The cell at (x, y); the caller keeps x and y inside the grid.
const mesh_cell* mesh_get_cell(int32_t x, int32_t y);
const mesh_cell* mesh_cells();
int32_t mesh_cell_count();
int32_t mesh_lod_entry_count();
const marker_palette_entry* mesh_palette();  // header's palette_entry_count records
const marker_data* mesh_markers();           // header's marker_count records
int32_t mesh_palette_count();
int32_t mesh_marker_count();
const int16_t* mesh_media_coverage();
const uint16_t* mesh_lod();
const int16_t* mesh_connectors();  // native order, 32 int16 per connector
// Cell offsets of each triangle's three corners, for the current row length.
int32_t mesh_triangle_corner_offset(int32_t triangle, int32_t corner);
// The open map's landscape collection (its textures and shadow maps), loaded with its landscape
// shading table on first use rather than at open; NONE without a map or when it can't be loaded
// (reported once; not tried again until the map or the collection changes).
int16_t mesh_landscape_collection();
// A number that changes whenever the cells may have changed (a new grid, a load, any writable
// access); what is computed from heights is good while it stays the same.
uint32_t mesh_cells_generation();


// The texel row's coverage values (ascending toggle columns closed by a value >= the row width),
// or none when no row index exists or the row lies outside the map.
const int16_t* mesh_media_coverage_row(int32_t texel_row);
// Fills a header with the defaults of a new map of the given size.
void mesh_definition_set_defaults(mesh_definition* header, tag map_identifier, tag media_tag, int16_t width,
                                  int16_t height);
// The shading defaults that versions before 7 lacked.
void mesh_definition_set_shading_defaults(mesh_definition* header);

// Installs the `mesh` definition group's procedures and description (idempotent).
void mesh_initialize();

// The group's procedures, exposed for the tests.
// Version upgrade: runs the steps from the stored version through 10; versions below 5 fail.
bool mesh_definition_upgrade(mesh_definition* header, int16_t stored_version);
// Landscape shading: a colour at level i of levels, blended toward the dark or the light colour;
// the channels come out at full scale with their low byte clear (8 significant bits, clamped).
rgb_color mesh_landscape_shade(const mesh_definition& header, const rgb_color& color, int32_t level, int32_t levels);

// The text of the "Current Mesh Limits" report, one line per definition group and data array that
// exists, then the map actions' parameter bytes.
std::string mesh_limits_text();
// Shows it in a message box titled "Current Mesh Limits".
void mesh_show_limits();
