// Collections (`.256` tags): the game's bitmaps with their colour tables, hue changes, bitmap
// instances, sequences, shadow maps and shading tables. A collection's header is its definition
// record; its data block is read at load, checked against the header and converted to native order
// once ("fixed up"). Every count, offset and size in it is checked before use: a collection that
// does not fit its block is refused with "Data Corrupted".
//
// Stored records keep 4-byte slots where the game kept pointers. Those slots stay zero here; the
// loaded collection keeps its views on the side. Records inside the data block are packed because
// their offsets are whatever the file says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"
#include "render/colors.h"

inline constexpr tag COLLECTION_DEFINITION_GROUP_TAG = make_tag(".256");

enum {
  COLLECTION_DEFINITION_VERSION = 4,
  MAXIMUM_COLLECTION_DEFINITIONS = 256,
  MAXIMUM_SHADING_TABLES_PER_COLLECTION = 64,
  COLLECTION_WORK_TABLE_SIZE = 256,
};

// collection_header.runtime_flags
enum : uint32_t { COLLECTION_FIXED_UP = 1 };
// collection_header.flags
enum : uint32_t { COLLECTION_HOLDS_SUBMESH_TEXTURES = 0x100 };

// One block of records inside the data block; offsets are relative to the data block.
struct collection_block {
  uint32_t count;
  uint32_t offset;
  uint32_t size;
  uint32_t runtime_pointer;  // kept zero
};
static_assert(sizeof(collection_block) == 16);

// The definition record (320 bytes at offset 0 of the tag's data).
struct collection_header {
  uint32_t runtime_flags;  // COLLECTION_FIXED_UP once loaded; stored as 0
  uint32_t flags;          // COLLECTION_HOLDS_SUBMESH_TEXTURES
  uint8_t kept_8[56];
  collection_block color_tables;         // color_table, 2080 bytes each
  collection_block hue_changes;          // hue_change, 128 bytes each
  collection_block bitmap_references;    // bitmap_reference, 128 bytes each
  collection_block bitmap_instances;     // bitmap_instance, 64 bytes each
  collection_block sequence_references;  // sequence_reference, 128 bytes each
  collection_block shadow_maps;          // shadow_map, 32 bytes each
  collection_block blend_tables;         // raw bytes; count 0 = absent
  collection_block remapping_tables;     // raw bytes; count 0 = absent
  int32_t shading_table_count;           // run time, not swapped
  uint32_t work_table_pointer;           // run time, kept zero
  uint8_t runtime_reserved[48];
  uint32_t data_offset;  // of the data block within the tag's data
  uint32_t data_size;
  uint32_t kept_256;
  uint32_t data_pointer;  // kept zero
  uint8_t kept_264[40];
  uint8_t kept_304[16];
};
static_assert(sizeof(collection_header) == 320);
static_assert(offsetof(collection_header, color_tables) == 64);
static_assert(offsetof(collection_header, remapping_tables) == 176);
static_assert(offsetof(collection_header, shading_table_count) == 192);
static_assert(offsetof(collection_header, data_offset) == 248);
static_assert(offsetof(collection_header, data_size) == 252);
static_assert(offsetof(collection_header, data_pointer) == 260);

struct __attribute__((packed)) bitmap_reference {
  char name[64];  // lower-cased and NUL-terminated at load
  int32_t offset;  // of the bitmap within the data block
  int32_t size;
  uint32_t runtime_pointer;  // kept zero
  int16_t origin_x;          // registration point, in pixels from the top-left corner
  int16_t origin_y;
  uint8_t runtime[32];
  uint8_t kept_112[16];
};
static_assert(sizeof(bitmap_reference) == 128);
static_assert(offsetof(bitmap_reference, origin_x) == 76);

enum : int32_t { BITMAP_INSTANCE_MIRRORED = 1 };

struct __attribute__((packed)) bitmap_instance {
  int32_t flags;  // BITMAP_INSTANCE_MIRRORED
  int16_t kept_4[3];
  uint8_t kept_10[2];
  int16_t kept_12[2];
  // Placement extents in world units around the owner's position, set at load from the bitmap's
  // registration point and the sequence's scale.
  int16_t left;
  int16_t top;
  int16_t right;
  int16_t bottom;
  int16_t kept_24[2];
  int16_t bitmap_index;  // -1 = none
  uint8_t kept_30[18];
  uint8_t kept_48[16];
};
static_assert(sizeof(bitmap_instance) == 64);
static_assert(offsetof(bitmap_instance, left) == 16);
static_assert(offsetof(bitmap_instance, bitmap_index) == 28);

struct __attribute__((packed)) sequence_reference {
  char name[64];  // lower-cased and NUL-terminated at load
  int32_t offset;  // of the sequence data within the data block
  int32_t size;
  uint32_t runtime_pointer;  // kept zero
  uint8_t kept_76[36];
  uint8_t kept_112[16];
};
static_assert(sizeof(sequence_reference) == 128);

enum : int32_t {
  SEQUENCE_MIRRORS_VIEWS = 1,  // views past the stored half are mirrors of the stored ones
  SEQUENCE_NO_ROTATION = 4,    // one view serves every facing
};

// The head of a sequence; frames follow at offset 64, each a sequence_frame_data and then
// view_count int16 bitmap instance indexes (-1 = none).
struct __attribute__((packed)) sequence_data {
  int32_t flags;
  int32_t scale;  // world units per pixel, 16.16; used for the instances' placement extents
  int16_t view_count;
  int16_t frame_count;
  int16_t ticks_per_frame;
  int16_t key_frame;
  int16_t kept_16[4];
  int32_t kept_24[3];
  int16_t kept_36[2];
  int32_t kept_40[3];
  int16_t kept_52[3];
  uint8_t kept_58[6];
};
static_assert(sizeof(sequence_data) == 64);
static_assert(offsetof(sequence_data, view_count) == 8);

struct __attribute__((packed)) sequence_frame_data {
  int16_t kept_0[4];
  uint8_t kept_8[38];
};
static_assert(sizeof(sequence_frame_data) == 46);

struct __attribute__((packed)) shadow_map {
  int32_t kept_0[3];
  int16_t kept_12;
  uint8_t kept_14[2];
  uint8_t kept_16[16];
};
static_assert(sizeof(shadow_map) == 32);

enum : int16_t {
  BITMAP_IS_POWER_OF_TWO = 0x01,  // set at load: both dimensions are powers of two (raw only)
  BITMAP_IS_ENCODED = 0x04,       // rows of spans
  BITMAP_FLAG_8 = 0x08,
  BITMAP_FLAG_10 = 0x10,
  BITMAP_HAS_NO_ROW_TABLE = 0x20,  // pixels at offset 52, rows bytes_per_row apart
  BITMAP_ROWS_PADDED = 0x40,       // encoded rows padded to an even length
  BITMAP_FLAG_80 = 0x80,
  BITMAP_IS_PROTECTED = 0x400,  // shadow maps: kept by the shadow computation
};

enum { BITMAP_HEADER_SIZE = 52, BITMAP_ROW_TABLE_OFFSET = 48 };

// The head of a bitmap. Without BITMAP_HAS_NO_ROW_TABLE a table of `height` 4-byte row entries
// starts at offset 48 (the first overlapping first_row); at load each entry is set to its row's
// offset from the bitmap's start.
struct __attribute__((packed)) bitmap_data {
  int16_t width;
  int16_t height;
  int16_t bytes_per_row;  // raw bitmaps
  int16_t flags;
  int16_t bits_per_pixel;  // 8 or 16
  int16_t log2_width;      // set at load for power-of-two raw bitmaps, else 0
  int16_t log2_height;
  int16_t pixel_size_shift;  // bytes per pixel = 1 << shift
  int16_t kept_16;
  // run time, set at load
  int16_t rounded_width;  // up to a power of two
  int16_t rounded_height;
  int16_t log2_rounded_width;
  int16_t log2_rounded_height;
  uint8_t runtime[22];
  uint32_t first_row;  // offset of row 0 from the bitmap's start
};
static_assert(sizeof(bitmap_data) == BITMAP_HEADER_SIZE);
static_assert(offsetof(bitmap_data, first_row) == BITMAP_ROW_TABLE_OFFSET);

// An encoded row: span_count spans of two int16, then pixel_count pixels.
struct __attribute__((packed)) encoded_span_header {
  int16_t span_count;
  int16_t pixel_count;
};

// Byte-swap descriptions of the stored records.
extern const byte_swap_description collection_header_description;
extern const byte_swap_description color_table_description;
extern const byte_swap_description hue_change_description;
extern const byte_swap_description bitmap_reference_description;
extern const byte_swap_description bitmap_instance_description;
extern const byte_swap_description sequence_reference_description;
extern const byte_swap_description sequence_data_description;
extern const byte_swap_description sequence_frame_data_description;
extern const byte_swap_description shadow_map_description;
extern const byte_swap_description bitmap_data_description;

// ---- the data block, without the tag store (also the fuzzing entry) ----

// Checks every count, offset and size of the data block against the header (native order) and,
// only if all of it fits, converts the block to native order and sets it up: names, row tables,
// power-of-two information, instance extents, mirrored views. Refused collections are reported
// with code 10 naming `name` and what was wrong; the block may then be partly converted and must
// be dropped. Sets COLLECTION_FIXED_UP on success.
bool collection_fix_up(collection_header& header, std::span<uint8_t> block, const char* name);

// Views on a fixed-up block (none when the index is out of range).
color_table* collection_block_get_color_table(const collection_header& header, std::span<uint8_t> block,
                                              int32_t index);
hue_change* collection_block_get_hue_change(const collection_header& header, std::span<uint8_t> block,
                                            int32_t index);
bitmap_reference* collection_block_get_bitmap_reference(const collection_header& header,
                                                        std::span<uint8_t> block, int32_t index);
bitmap_data* collection_block_get_bitmap(const collection_header& header, std::span<uint8_t> block,
                                         int32_t index);
bitmap_instance* collection_block_get_bitmap_instance(const collection_header& header,
                                                      std::span<uint8_t> block, int32_t index);
sequence_reference* collection_block_get_sequence_reference(const collection_header& header,
                                                            std::span<uint8_t> block, int32_t index);
sequence_data* collection_block_get_sequence(const collection_header& header, std::span<uint8_t> block,
                                             int32_t index);
// The bytes of an optional raw block (blend or remapping tables); empty when its count is 0.
std::span<uint8_t> collection_block_get_bytes(const collection_block& raw, std::span<uint8_t> block);

// ---- bitmaps of a fixed-up collection ----

// Row `row`'s first byte (an encoded row starts with its encoded_span_header); none out of range.
uint8_t* bitmap_get_row(bitmap_data* bitmap, int32_t row);
const uint8_t* bitmap_get_row(const bitmap_data* bitmap, int32_t row);
// The stored length of an encoded row, padding included.
int32_t bitmap_encoded_row_length(const bitmap_data* bitmap, const uint8_t* row);
// Frame `frame`, view `view` of a sequence: its bitmap instance index, -1 when none or outside.
int16_t sequence_get_instance_index(const sequence_data* sequence, int32_t frame, int32_t view);

// Replaces every pixel of a raw 8-bit bitmap (without flags 4, 8, 0x10, 0x80) by the nearest colour
// of `destination` to its colour in `source`; index 0 stays 0. Other bitmaps are left unchanged.
void remap_bitmap(bitmap_data* bitmap, const color_table& source, const color_table& destination);

// ---- the collection definitions ----

// Registers the collection group's procedures and builds the transparency tables.
bool shapes_initialize();
// Drops every loaded collection's data (tests and level disposal call it through the group).
void shapes_dispose();

// Loads the collection's definition and data block; the index, or -1 (not found, unreadable,
// version mismatch or refused data).
int16_t collection_load(int32_t tag_identifier);
// Removes the definition when it is the last slot and frees its data and shading tables.
void collection_unload(int16_t collection);
collection_header* collection_get_header(int16_t collection);
std::span<uint8_t> collection_get_data(int16_t collection);
const char* collection_get_name(int16_t collection);

// The fixed-up bitmap of a reference; none when not loaded or out of range.
bitmap_data* collection_get_bitmap(int16_t collection, int32_t bitmap_index);
int32_t collection_get_bitmap_count(int16_t collection);
// A submesh texture: 256 x 256 pixels of 8 bits, rows one after the other.
enum { SUBMESH_TEXTURE_SIZE = 256 };
// For a map collection only: the SUBMESH_TEXTURE_SIZE squared pixels of texture `bitmap_index`;
// none otherwise, and none when that bitmap is not a raw texture of that size (callers read the
// whole square). `keep` is accepted for the callers' sake; loaded collections stay in memory.
uint8_t* collection_get_submesh_texture(int16_t collection, int32_t bitmap_index, bool keep);
color_table* collection_get_color_table(int16_t collection);
// The collection's optional blend and remapping tables as stored; empty when absent.
std::span<uint8_t> collection_get_blend_tables(int16_t collection);
std::span<uint8_t> collection_get_remapping_tables(int16_t collection);
// Writes the loaded bitmap, in stored order, at its reference's place in the collection's tag.
bool collection_write_bitmap(int16_t collection, int32_t bitmap_index);
// -1 passes; otherwise 0..count-1, else reported with code 15.
bool collection_check_sequence(int16_t collection, int32_t sequence);

// ---- shading tables ----

enum {
  SHADING_TABLE_LEVELS = 64,
  REDUCED_SHADING_TABLE_LEVELS = 7,
};

// Fills levels x 256 pixels from a (recoloured) colour table.
typedef void (*shading_table_builder)(const color_table& colors, int32_t levels, uint16_t* pixels,
                                      const void* context);

struct shading_table_request {
  int32_t levels = SHADING_TABLE_LEVELS;  // SHADING_TABLE_LEVELS or REDUCED_SHADING_TABLE_LEVELS
  // Hue-change replacements, one per hue change; none leaves the colours as they are.
  const rgb_color* replacements = nullptr;
  int32_t replacement_count = 0;
  rgb_color special_colors[2] = {{0, 0, 0, RGB_COLOR_UNUSED}, {0, 0, 0, RGB_COLOR_UNUSED}};
  // The light ramp blends every colour toward tint by tint_amount / 256 first (0 = no tint).
  rgb_color tint = {0, 0, 0, RGB_COLOR_UNUSED};
  int16_t tint_amount = 0;
  shading_table_builder builder = nullptr;  // none: the light ramp
  const void* builder_context = nullptr;
};

// The default builder: level l of L is every colour at (l + 1) / L of its brightness, so the last
// level is the full colour; pixels in the screen's 5-5-5 format.
void build_light_ramp(const color_table& colors, int32_t levels, uint16_t* pixels, const void* context);

// Adds a shading table built from a copy of the collection's colour table, recoloured by the hue
// changes and blended toward the tint; its number, or -1 (a 65th table is refused with "can't add
// more than #%d color tables (%s collection).", code 13).
int16_t collection_add_shading_table(int16_t collection, const shading_table_request& request);
// levels x 256 pixels; none when out of range.
const uint16_t* collection_get_shading_table(int16_t collection, int16_t table, int32_t* levels = nullptr);

// The open map's tint, used by collection references whose special colour asks for it.
void collections_set_map_tint(const rgb_color& tint, int16_t amount);
void collections_get_map_tint(rgb_color* tint, int16_t* amount);

// The two channel-blending tables built at initialisation (16 levels x 32 x 32 each).
const uint8_t* shapes_get_blend_table(int which);
