// New maps from a bitmap, and the landscape collection of a map: two 256 x 256 bitmaps per
// submesh in row-major submesh order, bitmap 2k the colour map and 2k + 1 the shadow map of
// submesh k, behind a colour table, a blend table and a remapping table.
#pragma once

#include <cstdint>
#include <string>

#include "cseries/text.h"

struct map_color_tables;

enum {
  MAP_COLLECTION_USER_DATA = 256,
  MAP_COLLECTION_DATA_OFFSET = 320,  // the data block follows the 320-byte header
  MAP_COLOR_TABLE_OFFSET = 0,        // offsets within the data block
  MAP_BLEND_TABLE_OFFSET = 2080,
  MAP_REMAPPING_TABLE_OFFSET = MAP_BLEND_TABLE_OFFSET + 65536,
  MAP_BITMAP_REFERENCES_OFFSET = MAP_REMAPPING_TABLE_OFFSET + 256,  // 67872
  MAP_BITMAP_REFERENCE_SIZE = 128,
  MAP_TEXTURE_SIZE = 256,
  MAP_BITMAP_SIZE = 52 + MAP_TEXTURE_SIZE * MAP_TEXTURE_SIZE,  // 65588
  MAP_COLOR_MAP_FLAGS = 0xA1,
  MAP_SHADOW_MAP_FLAGS = 0x21,
  MAP_NEW_SHADOW_PIXEL = 0xFF,  // fully lit
};

// The texts of New Map's dialogs, which the shell shows before new_map_create: the naming dialog
// "Select a mesh:" under its title with the edit text offered, the media choice over the `medi`
// tags, and the open-file dialog (filter EXTRACT_OPEN_FILTER, pattern EXTRACT_FILE_PATTERN).
inline constexpr const char NEW_MAP_NAME_TITLE[] = "Name the mesh:";
inline constexpr const char NEW_MAP_NAME_PROMPT[] = "Select a mesh:";
inline constexpr const char NEW_MAP_DEFAULT_NAME[] = "new mesh";
inline constexpr const char NEW_MAP_MEDIA_TITLE[] = "Select the media type:";
inline constexpr const char NEW_MAP_BITMAP_TITLE[] = "Select a bitmap for the new map";

// What a new collection holds besides its layout: the tables (none: zeroed) and each bitmap's
// pixels and flags (none: every pixel 0xFF with the new flags).
struct map_collection_contents {
  const map_color_tables* tables = nullptr;
  // Fills bitmap i's 256 x 256 pixels (row-major) and may change its flags.
  void (*fill_bitmap)(void* context, int32_t bitmap_index, uint8_t* pixels, int16_t* flags) = nullptr;
  void* context = nullptr;
};

// The data size behind the header of a collection of width x height texels.
int64_t map_collection_data_size(int32_t width, int32_t height);

// Writes the whole collection of a map of width x height texels (multiples of 256) into the
// collection tag, all at once: the user data 256, the header, the tables, the bitmap references
// and the bitmaps. False (reported) on failure; the tag then keeps what it held.
bool new_map_build_collection(int32_t* collection_tag_index, int32_t width, int32_t height,
                              const map_collection_contents* contents = nullptr);

// New Map with its inputs: the map's name, the media (`medi` identifier) and an 8-bit bitmap whose
// sides are multiples of 256. Asks "Are you sure you want to replace '%s'?" when a map of that name
// exists (No ends it) and shows every refusal in an "Error" box. Nothing is created or replaced
// until the name, the media and the whole bitmap are known to be good. On success both tags hold
// the new map (the bitmap as every submesh's colour map, shadow maps fully lit, the colour tables
// from the palette) and the map is open with its LOD data computed, unsaved.
// replace_confirmed: the caller has already asked about replacing a map of that name and got Yes
// (the editor's naming dialog asks), so the question is not asked twice.
[[nodiscard]] bool new_map_create(const char* name, tag media_tag, const std::string& bitmap_path,
                    bool replace_confirmed = false);
