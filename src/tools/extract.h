// Map images: the six layers of the open map (colour map, shadow map, displacement, water level,
// terrain, reflection) written to and read from 8-bit Windows bitmaps, for the whole map or one
// submesh, and the colour, blend and remapping tables rebuilt from a colour map's palette.
//
// Geometry shared by every layer, in mesh pixels (64 world units; a cell is 8 x 8 of them): image
// row Y is mesh pixel row Y, image column X is mesh pixel column W - 1 - X, so the picture is the
// map mirrored left to right; a submesh image is the same inside its submesh (W = 256).
//
// The operations take their inputs as arguments; the questions and refusals they meet go through
// the UI host (message boxes titled "Warning" and "Error"). The shell adds only the file dialogs,
// whose texts are in the layer table.
#pragma once

#include <cstdint>
#include <string>

#include "render/colors.h"
#include "tools/bitmap_file.h"

struct mesh_definition;

enum map_layer : int16_t {
  _map_layer_color = 0,
  _map_layer_shadow,
  _map_layer_displacement,
  _map_layer_water_level,
  _map_layer_terrain,
  _map_layer_reflection,
  NUMBER_OF_MAP_LAYERS
};

enum {
  EXTRACT_WHOLE_MESH = -1,  // the submesh argument for whole-map images
  MAP_BLEND_TABLE_SIZE = 256 * 256,
  MAP_REMAPPING_TABLE_SIZE = 256,
};

struct map_layer_definition {
  const char* name;           // on the command line: "color", "shadow", ...
  const char* untitled_name;  // the save dialog's suggested file name
  const char* save_title;     // the save dialog's title
  bool per_submesh;           // the reflection map exists for the whole map only
};

// The texts of the file dialogs.
inline constexpr const char EXTRACT_IMPORT_TITLE[] = "Select a bitmap to import";
inline constexpr const char EXTRACT_REFLECTION_IMPORT_TITLE[] = "Select a bitmap for the new map";  // New Map's own
inline constexpr const char EXTRACT_SAVE_FILTER[] = "Bitmap Files (*.BMP)";
inline constexpr const char EXTRACT_OPEN_FILTER[] = "Bitmap Files";
inline constexpr const char EXTRACT_FILE_PATTERN[] = "*.BMP";
inline constexpr const char EXTRACT_DEFAULT_EXTENSION[] = "BMP";

const map_layer_definition* map_layer_get(int16_t layer);  // none outside 0..5
int16_t map_layer_find(const char* name);                  // NONE when unknown

// ---- export and import on the open map ----

// The layer as an image: the whole map (submesh EXTRACT_WHOLE_MESH) or submesh k (row-major).
// False (reported) without an open map, with a bad submesh or layer, or with empty bounds.
bool extract_build_image(int16_t layer, int32_t submesh, bitmap_image* image);
// Builds the image and writes it to the file, replacing any old one.
[[nodiscard]] bool extract_export_layer(int16_t layer, int32_t submesh, const std::string& path);
// Checks the file (every refusal in an "Error" box), asks "Do you want to resize the current
// mesh?" for a whole-map image of another size, and applies the image. A colour map also rebuilds
// the colour tables and reopens the map. False when refused, answered No or failed; a refused or
// unreadable file changes nothing.
[[nodiscard]] bool extract_import_layer(int16_t layer, int32_t submesh, const std::string& path);
// Reads a bitmap fit to be a whole map (sides multiples of 256, at most 64 submeshes), showing
// every refusal in an "Error" box.
bool extract_read_whole_map_bitmap(const std::string& path, bitmap_image* image);
// Applies an image already checked against the map's (or the submesh's) size.
[[nodiscard]] bool extract_apply_image(int16_t layer, int32_t submesh, const bitmap_image& image);

// ---- displacement bounds (world units, in the editor's preference record) ----

// The bounds in use; false (shown in an "Error" box) when the upper one is not above the lower.
bool extract_get_displacement_bounds(int32_t* lower, int32_t* upper);
// Stores and saves new bounds; refuses upper <= lower in an "Error" box, changing nothing.
bool extract_set_displacement_bounds(int32_t lower, int32_t upper);
// The pixel of a height and the height of a pixel; upper > lower.
uint8_t extract_height_to_pixel(int32_t height, int32_t lower, int32_t upper);
int32_t extract_pixel_to_height(uint8_t pixel, int32_t lower, int32_t upper);

// ---- colour tables ----

struct map_color_tables {
  color_table colors;
  uint8_t blend[MAP_BLEND_TABLE_SIZE];        // entry [i + 256 j]: the colour between i and j
  uint8_t remapping[MAP_REMAPPING_TABLE_SIZE];
};

// The map's remap colour: the three words at 244 of the header as red, green and blue; black
// counts as pure red.
rgb_color extract_remap_color(const mesh_definition& header);
// Builds the three tables from a palette and how often each colour index occurs in the colour
// maps: unused indices receive colours blended toward the remap colour, which the remapping table
// then points at.
void extract_build_color_tables(const bitmap_palette_entry (&palette)[BITMAP_PALETTE_ENTRIES],
                                const uint32_t (&counts)[256], const rgb_color& remap_color,
                                map_color_tables* tables);
// On the open map: counts the colour maps' indices, builds the tables, writes them into the
// collection tag and the loaded collection. False (reported) on failure.
[[nodiscard]] bool extract_rebuild_color_tables(const bitmap_palette_entry (&palette)[BITMAP_PALETTE_ENTRIES]);
