// Markers place things on a map: each names an entry of the map's marker palette, which names the
// definition (a unit type, a scenery type, ...), the team and the netgame types. This file holds the
// stored records, the marker-type table and the byte-order conversion used by loading and saving.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"
#include "cseries/value_types.h"

enum marker_type : int16_t {
  _marker_observer = 0,
  _marker_scenery = 1,
  _marker_unused_2 = 2,
  _marker_unit = 3,
  _marker_unused_4 = 4,
  _marker_sound_source = 5,
  _marker_model = 6,
  _marker_unused_7 = 7,
  _marker_unused_8 = 8,
  _marker_projectile = 9,
  _marker_local_projectile_group = 10,
  _marker_model_animation = 11,
  NUMBER_OF_MARKER_TYPES = 12,
};

enum marker_flags : uint32_t {
  _marker_invisible = 0x001,
  _marker_stone = 0x002,
  _marker_detonates_immediately = 0x004,
  _marker_is_invisible_observer = 0x008,
  _marker_netgame_target = 0x010,
  _marker_respawns = 0x020,
  _marker_respawn_via_script = 0x040,
  _marker_respawns_at_death_location = 0x080,
  _marker_use_monster_entrance = 0x100,
  // Run time only: the marker is in the tools' selection. Kept in the record so the selection moves
  // with its marker; cleared on load, on add and in every written copy.
  _marker_selected = 0x80000000u,
};

enum marker_palette_flags : uint16_t {
  _palette_uncontrollable = 0x01,
  _palette_may_be_traded = 0x02,
  _palette_may_use_veterans = 0x04,
  _palette_must_use_veterans = 0x08,
  _palette_is_ambient_life = 0x10,
  _palette_is_hunted_creature = 0x20,
};

enum {
  MARKER_USER_DATA_SIZE = 16,
  NUMBER_OF_NETGAME_TYPES = 14,
};

// "marker data", 64 bytes.
struct marker_data {
  uint32_t flags;  // marker_flags; other bits kept
  int16_t type;
  int16_t palette_index;  // among the palette entries of the same type
  int16_t identifier;     // unique within the type; 0 = not yet numbered
  int16_t minimum_difficulty;
  world_point3d location;
  int16_t vector_i, vector_j, vector_k;
  int16_t kept_30;
  uint16_t yaw, pitch;
  uint8_t user_data[MARKER_USER_DATA_SIZE];
  uint8_t kept_52[8];
  int16_t object_index;       // run time, stored value ignored
  int16_t object_identifier;  // run time, stored value ignored
};
static_assert(sizeof(marker_data) == 64);
static_assert(offsetof(marker_data, location) == 12);
static_assert(offsetof(marker_data, yaw) == 32);
static_assert(offsetof(marker_data, user_data) == 36);
static_assert(offsetof(marker_data, object_index) == 60);

// "marker palette entry", 32 bytes.
struct marker_palette_entry {
  int16_t type;
  uint16_t flags;  // marker_palette_flags; other bits kept
  tag definition_tag;
  int16_t team;
  uint8_t kept_10[2];
  uint32_t netgame_types;  // bit n: appears in netgame type n
  uint8_t kept_16[12];
  int16_t instance_count;    // run time, stored value ignored
  int16_t definition_index;  // run time, stored value ignored
};
static_assert(sizeof(marker_palette_entry) == 32);
static_assert(offsetof(marker_palette_entry, netgame_types) == 12);
static_assert(offsetof(marker_palette_entry, instance_count) == 28);

extern const byte_swap_description marker_data_description;
extern const byte_swap_description marker_palette_entry_description;

// One row of the fixed marker-type table. The per-type procedures arrive with the marker
// operations; this row holds what the stored data needs.
struct marker_type_definition {
  tag group_tag;  // the group of the type's definitions, NONE_TAG for none
  const char* name;
  const byte_swap_description* user_data_description;  // none: the user data is raw
};
const marker_type_definition* marker_type_get(int16_t type);  // none outside 0..11

extern const char* const netgame_type_names[NUMBER_OF_NETGAME_TYPES];

// Byte order of whole lists. To stored order each marker's user data is converted before its own
// fields (whose type chooses the user data's description); back to native, its fields first.
void markers_convert_to_stored(marker_data* markers, int32_t count);
void markers_convert_to_native(marker_data* markers, int32_t count);
void palette_convert(marker_palette_entry* entries, int32_t count);

// The number of teams the Unit entries of a palette make: one more than the highest team among
// them, 0 when none has a team.
int32_t palette_team_count(const marker_palette_entry* entries, int32_t count);

// Sorts the list by type, highest first (the order within one type is not kept).
void markers_sort_by_type(marker_data* markers, int32_t count);
