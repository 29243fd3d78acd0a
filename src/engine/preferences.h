// Preference records: fixed-size binary records kept as `pref` tags (the tag store's "preferences"
// folder), one tag per record, named after it. A record that is missing, of another version or
// size, or refused by its validate procedure is replaced by its defaults; saving replaces the
// tag's contents all at once, so a failed save never leaves a torn record behind.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"

inline constexpr tag PREFERENCES_GROUP_TAG = make_tag("pref");

enum { MAXIMUM_PREFERENCES_NAME_LENGTH = 31 };

struct preferences_descriptor {
  char name[MAXIMUM_PREFERENCES_NAME_LENGTH + 1];  // also the `pref` tag's name
  int32_t size;                                    // bytes of the record
  int16_t version;                                 // must equal the stored tag's version
  void (*defaults)(void* record);                  // fills a zeroed record; may be none
  bool (*validate)(const void* record);            // after a stored record was read; may be none
  const byte_swap_description* description;
  void* data;  // the loaded record, none when not loaded
};

// Allocates the record and fills it from the stored tag, or with the defaults; the record (also
// kept as descriptor->data). An allocation failure is fatal (code 8). A loaded record is reloaded.
void* preferences_load(preferences_descriptor* descriptor);
// Writes the loaded record into its `pref` tag (created when missing, keeping the identifier of
// an earlier one); nothing and true when not loaded. A failure is reported ("couldn't write %s
// preferences", code 4) and the record in memory stays valid.
bool preferences_save(preferences_descriptor* descriptor);
void preferences_dispose(preferences_descriptor* descriptor);

// ---- the editor's tool settings: "vellgrim", 80 bytes, version 1 ----

// The height painter's settings (a block of the editor's record, copied into the painter).
struct height_painter_preferences {
  int32_t batch_merge;   // non-zero: a stroke soon after the previous one joins its batch
  int16_t brush;         // 0 circle, 1 square
  int16_t tool;          // 0 raise, 1 flatten, 2 filter
  int16_t filter;        // 0 elevation adjustment, 1 absolute elevation, 2 smooth, 3 noise
  uint8_t kept_10[2];
  float radius;          // cells
  float feather;         // cells
  float tool_rates[3];   // per tool: raise rate, flatten elevation, filter effect rate
  float filter_parameters[4];  // per filter: adjustment, absolute elevation, smoothing radius, noise
};
static_assert(sizeof(height_painter_preferences) == 48);
static_assert(offsetof(height_painter_preferences, radius) == 12);
static_assert(offsetof(height_painter_preferences, filter_parameters) == 32);

// The terrain painter's settings.
struct terrain_painter_preferences {
  int32_t merge_strokes;
  int16_t brush_shape;  // 0 circle, 1 square
  uint8_t kept_6[2];
  float radius;         // cells
};
static_assert(sizeof(terrain_painter_preferences) == 12);

struct vellgrim_preferences {
  // The tool preference flag words (the "Show All" / "Constrain to Grid" check boxes).
  uint16_t place_sound_source_flags;
  uint16_t place_unit_flags;
  uint16_t place_scenery_flags;
  uint16_t place_model_flags;
  uint16_t place_model_animation_flags;
  uint8_t kept_10[2];
  height_painter_preferences height_painter;
  terrain_painter_preferences terrain_painter;
  int32_t displacement_lower_bound;  // world units
  int32_t displacement_upper_bound;
};
static_assert(sizeof(vellgrim_preferences) == 80);
static_assert(offsetof(vellgrim_preferences, height_painter) == 12);
static_assert(offsetof(vellgrim_preferences, terrain_painter) == 60);
static_assert(offsetof(vellgrim_preferences, displacement_lower_bound) == 72);

enum {
  VELLGRIM_PREFERENCES_VERSION = 1,
  INPUT_PREFERENCES_VERSION = 3,
  SOUND_PREFERENCES_VERSION = 1,
};

// ---- the keyboard configuration choice: "input", 2748 bytes, version 3, read only ----

enum { NUMBER_OF_BUILT_IN_KEY_BINDING_SETS = 2 };  // "Right Handed", "Left Handed"

struct input_preferences {
  int16_t key_binding_set;  // 0 "Right Handed", 1 "Left Handed"
  uint8_t kept[2746];       // the game's control settings, kept as stored
};
static_assert(sizeof(input_preferences) == 2748);

// ---- sound: "sound", 8 bytes, version 1 ----

enum { MAXIMUM_SOUND_VOLUME = 8 };

struct sound_preferences {
  int16_t volume;   // 0..8
  uint16_t flags;   // kept
  uint8_t kept[4];
};
static_assert(sizeof(sound_preferences) == 8);

extern preferences_descriptor vellgrim_preferences_descriptor;
extern preferences_descriptor input_preferences_descriptor;
extern preferences_descriptor sound_preferences_descriptor;

// The loaded records, none when not loaded.
vellgrim_preferences* vellgrim_preferences_get();
input_preferences* input_preferences_get();
sound_preferences* sound_preferences_get();

// Fills a record with the defaults of the editor's record.
void vellgrim_preferences_set_defaults(vellgrim_preferences* preferences);
