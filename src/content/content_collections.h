// Sprite collections of the demo data: a collection described in memory (colour table, hue changes,
// raw 8-bit bitmaps, bitmap instances and sequences) and written in the stored layout of a `.256`
// tag, and the demo's own collections drawn by code (placeholders, soldiers, creatures, flora,
// effects and building surfaces) with the collection references that dress them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/colors.h"
#include "tag_files/archive_writer.h"

struct content_bitmap {
  std::string name;
  int16_t width = 0;
  int16_t height = 0;
  int16_t origin_x = 0;  // registration point, pixels from the top-left corner
  int16_t origin_y = 0;
  std::vector<uint8_t> pixels;  // width x height colour indices, row-major; 0 is transparent
};

struct content_sequence {
  std::string name;
  int32_t flags = 4;        // one view for every facing
  int32_t scale = 16 << 16; // world units per pixel, 16.16
  int16_t ticks_per_frame = 1;
  int16_t view_count = 1;
  std::vector<std::vector<int16_t>> frames;  // per frame, view_count bitmap instance indexes
};

struct content_collection {
  uint32_t flags = 0;
  std::vector<rgb_color> colors;     // at most 256
  std::vector<hue_change> hue_changes;
  std::vector<content_bitmap> bitmaps;
  std::vector<int16_t> instances;    // each instance's bitmap index
  std::vector<content_sequence> sequences;
};

// The whole tag data of a collection: the 320-byte header, then the data block (colour table, hue
// changes, bitmap references, instances, sequence references, sequences and bitmaps), all in
// stored order. False (reported) when a part does not fit the stored fields.
bool content_collection_data(const content_collection& collection, std::vector<uint8_t>* data);

// The sequences of the placeholder collection follow the marker types (sequence n is the look of
// marker type n); the others are listed here so that definitions can name them.
enum content_soldier_sequence : int16_t { SOLDIER_WARRIOR_STANDING, SOLDIER_WARRIOR_WALKING,
                                          SOLDIER_ARCHER_STANDING, SOLDIER_ARCHER_WALKING };
enum content_creature_sequence : int16_t { CREATURE_WOLF_STANDING, CREATURE_WOLF_RUNNING,
                                           CREATURE_BEAR_STANDING, CREATURE_BEAR_WALKING };
enum content_flora_sequence : int16_t { FLORA_PINE, FLORA_OAK, FLORA_BOULDER, FLORA_POST, FLORA_BUSH };
enum content_effect_sequence : int16_t { EFFECT_ARROW, EFFECT_FIREBALL, EFFECT_ROCK, EFFECT_SMOKE, EFFECT_FIREFLIES };
enum content_building_sequence : int16_t { BUILDING_PLANKS, BUILDING_THATCH, BUILDING_STONE, BUILDING_SAIL,
                                           BUILDING_ROPE };

// The sprite palette: named ramps of six shades, dark to light. The team ramp is pure red and the
// trim ramp pure green; two hue changes recolour them with a unit's team colours.
enum {
  SPRITE_RAMP_SHADES = 6,
  SPRITE_TRANSPARENT = 0,
};
enum content_ramp : int16_t {
  RAMP_SKIN, RAMP_TEAM, RAMP_TRIM, RAMP_STEEL, RAMP_WOOD, RAMP_LEAF, RAMP_PINE, RAMP_STONE, RAMP_FUR,
  RAMP_BROWN_FUR, RAMP_FIRE, RAMP_SMOKE, RAMP_DARK, RAMP_STRAW, RAMP_GOLD, RAMP_ROPE, RAMP_SKY,
  NUMBER_OF_RAMPS
};
// The palette index of a ramp's shade (0 darkest .. 5 lightest).
uint8_t content_ramp_color(content_ramp ramp, int32_t shade);
std::vector<rgb_color> content_sprite_palette();

// The demo's collections (group `.256`) and their collection references (group `core`).
bool content_build_collections(std::vector<archive_writer_tag>* tags);
