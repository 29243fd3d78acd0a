#include "map/markers.h"

#include <cstring>

namespace {

using namespace byte_swap_letters;

constexpr int16_t marker_data_codes[] = {B, 1, L, S, S, S, S, L, L, L, S, S, S, S, S, S, 26, 2, E};
constexpr int16_t marker_palette_entry_codes[] = {B, 1, S, S, L, S, 2, L, 12, 4, E};
// Sound sources and models keep one converted int16 at the start of their user data.
constexpr int16_t marker_user_data_codes[] = {B, 1, S, 14, E};
const byte_swap_description marker_user_data_description = byte_swap_describe(
    "marker user data", MARKER_USER_DATA_SIZE, marker_user_data_codes);

// The group tags as the game's table holds them (little-endian words of the group tags).
const marker_type_definition marker_types[NUMBER_OF_MARKER_TYPES] = {
    {NONE_TAG, "Observer", nullptr},
    {make_tag("scen"), "Scenery", nullptr},
    {NONE_TAG, "Unused", nullptr},
    {make_tag("unit"), "Unit", nullptr},
    {NONE_TAG, "Unused", nullptr},
    {make_tag("amso"), "Sound Source", &marker_user_data_description},
    {make_tag("mode"), "Model", &marker_user_data_description},
    {NONE_TAG, "Unused", nullptr},
    {NONE_TAG, "Unused", nullptr},
    {make_tag("proj"), "projectile", nullptr},
    {make_tag("lpgr"), "local projectile group", nullptr},
    {make_tag("anim"), "model animation", nullptr},
};

void convert_user_data(marker_data& marker) {
  const marker_type_definition* type = marker_type_get(marker.type);
  if (type != nullptr && type->user_data_description != nullptr) {
    byte_swap_data(*type->user_data_description, marker.user_data, MARKER_USER_DATA_SIZE, 1);
  }
}

}  // namespace

const byte_swap_description marker_data_description = byte_swap_describe(
    "marker data", sizeof(marker_data), marker_data_codes);
const byte_swap_description marker_palette_entry_description = byte_swap_describe(
    "marker palette entry", sizeof(marker_palette_entry), marker_palette_entry_codes);

const char* const netgame_type_names[NUMBER_OF_NETGAME_TYPES] = {
    "Body Count", "Steal the Bacon", "Last Man on the Hill", "Scavenger Hunt", "Flag Rally",
    "Capture the Flag", "Balls on Parade", "Territories", "Captures", "King of the Hill",
    "Stampede!", "Assassination", "Hunting", "Custom"};

const marker_type_definition* marker_type_get(int16_t type) {
  return type >= 0 && type < NUMBER_OF_MARKER_TYPES ? &marker_types[type] : nullptr;
}

void markers_convert_to_stored(marker_data* markers, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    convert_user_data(markers[i]);  // the type is still native here
    byte_swap_data(marker_data_description, &markers[i], sizeof(marker_data), 1);
  }
}

void markers_convert_to_native(marker_data* markers, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    byte_swap_data(marker_data_description, &markers[i], sizeof(marker_data), 1);
    convert_user_data(markers[i]);
  }
}

void palette_convert(marker_palette_entry* entries, int32_t count) {
  if (count > 0) byte_swap_data(marker_palette_entry_description, entries, sizeof(marker_palette_entry), count);
}

int32_t palette_team_count(const marker_palette_entry* entries, int32_t count) {
  int32_t highest = -1;
  for (int32_t i = 0; entries && i < count; ++i) {
    if (entries[i].type == _marker_unit && entries[i].team > highest) highest = entries[i].team;
  }
  return highest + 1;
}

void markers_sort_by_type(marker_data* markers, int32_t count) {
  if (count < 2) return;
  heap_sort(markers, size_t(count), sizeof(marker_data), [](const void* a, const void* b) {
    return int(static_cast<const marker_data*>(b)->type) - int(static_cast<const marker_data*>(a)->type);
  });
}
