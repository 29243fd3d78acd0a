// Map actions: the map's scripting model. A fixed-capacity array of typed actions ("map action",
// 1024 records of 64 bytes) whose parameters all live in one shared parameter buffer of 98304
// bytes. This header is the read side; changes go through map/map_actions_edit.h, which only the
// map and tools layers may include (the tools layer records each change in the edit journal).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"

enum : int32_t {
  MAP_ACTION_CAPACITY = 1024,
  MAP_ACTION_SIZE = 64,
  MAP_ACTION_BUFFER_SIZE = 0x18000,  // 98304
  MAP_ACTION_PARAMETER_HEADER_SIZE = 8,
  MAP_ACTION_MAXIMUM_INDENT = 9,
  MAP_ACTION_SEARCH_LIST_SIZE = 64,
};

enum map_action_expiration_mode : int16_t {
  _expires_on_trigger = 0,
  _expires_on_execution = 1,
  _expires_on_successful_execution = 2,
  _expires_never = 3,
  _expires_on_failed_execution = 4,
  MAP_ACTION_MAXIMUM_EXPIRATION_MODE = 5,  // set values are clamped to 0..5
};

enum map_action_flags : uint32_t {
  _map_action_initially_active = 0x1,
  _map_action_activates_only_once = 0x2,
  _map_action_no_initial_delay = 0x4,
  _map_action_only_initial_delay = 0x8,
  MAP_ACTION_EDITABLE_FLAGS = 0xF,  // higher bits are the game's run-time state, kept
};

enum map_action_parameter_type : int16_t {
  _parameter_flag = 0,
  _parameter_string,
  _parameter_monster_identifier,
  _parameter_action_identifier,
  _parameter_angle,
  _parameter_integer,
  _parameter_world_distance,
  _parameter_field_name,
  _parameter_fixed,
  _parameter_projectile_group,
  _parameter_string_list,
  _parameter_sound,
  _parameter_projectile,
  _parameter_world_point2d,
  _parameter_world_rectangle2d,
  _parameter_object_identifier,
  _parameter_model_identifier,
  _parameter_sound_source_identifier,
  _parameter_world_point3d,
  _parameter_local_projectile_group_identifier,
  _parameter_model_animation_identifier,
  NUMBER_OF_MAP_ACTION_PARAMETER_TYPES
};

enum map_action_edit_kind : int16_t {
  _edit_not_editable = -1,
  _edit_typed = 0,
  _edit_whole_string = 1,
  _edit_choice = 2,
  _edit_point2d = 3,
  _edit_marker = 4,
  _edit_angle = 5,
  _edit_model = 6,
  _edit_model_animation = 7,
  _edit_point3d = 8,
};

// One row of the type table.
struct map_action_parameter_type_definition {
  const char* name;      // as shown; 9 and 12 are both "projectile"
  int16_t element_size;  // bytes
  int16_t swap_width;    // 0 (bytes), 2 or 4: each element is element_size / width values
  int16_t edit_kind;
  int32_t default_value;     // of an element appended without data; MAP_ACTION_OWN_IDENTIFIER for links
  int16_t marker_type;       // the markers an identifier names, -1 for none
  tag group_tag;             // the group a tag value is looked up in, NONE_TAG for none
};
inline constexpr int32_t MAP_ACTION_OWN_IDENTIFIER = INT32_MIN;
const map_action_parameter_type_definition* map_action_type_get(int16_t type);  // none outside 0..20

// The action record (stored big-endian).
struct map_action {
  int16_t identifier;  // the data array's; 0 = free slot
  int16_t expiration_mode;
  tag action_type;  // the template's code, NONE_TAG for none
  uint32_t action_flags;
  int32_t trigger_time_lower;  // ticks of 1/30 s
  int32_t trigger_time_range;
  int16_t parameter_count;
  int16_t parameter_bytes;
  int32_t parameter_offset;  // into the parameter buffer
  int16_t indent;            // 0..9
  uint8_t kept_30[30];
  uint8_t kept_60[4];
};
static_assert(sizeof(map_action) == MAP_ACTION_SIZE);
static_assert(offsetof(map_action, trigger_time_lower) == 12);
static_assert(offsetof(map_action, parameter_count) == 20);
static_assert(offsetof(map_action, parameter_offset) == 24);
static_assert(offsetof(map_action, indent) == 28);
static_assert(offsetof(map_action, kept_60) == 60);

struct map_action_parameter_header {
  int16_t parameter_type;
  int16_t element_count;
  tag parameter_name;
};
static_assert(sizeof(map_action_parameter_header) == MAP_ACTION_PARAMETER_HEADER_SIZE);

extern const byte_swap_description map_action_description;
extern const byte_swap_description map_action_parameter_header_description;

// The bytes a parameter of that type and count occupies (header included, padded to 4); -1 for an
// unknown type or a negative count.
int32_t map_action_parameter_size(int16_t type, int32_t element_count);

// ---- lifecycle ----

bool map_actions_initialize();  // once, at engine start
void map_actions_begin();       // before a map is loaded: empty, valid
void map_actions_end();         // when the map is closed
bool map_actions_are_valid();

// Loads the stored section (count records, then the parameter bytes), converting from stored order
// when convert is set. Checks every record and every parameter block; on any fault nothing is
// loaded, the faults are appended and the answer is false.
bool map_actions_load(int32_t count, std::span<const std::byte> bytes, bool convert,
                      std::vector<std::string>* faults);
// The stored form of the actions in use, in slot order, big-endian; *count gets the records.
bool map_actions_save(std::vector<std::byte>* bytes, int32_t* count);
int32_t map_actions_parameter_bytes();  // used bytes of the buffer
int32_t map_actions_count();            // records in use
std::string map_actions_usage_line();   // "map actions: %d / %d\n"

// Structural faults of the model as it stands (blocks, types, strings) and links to actions that
// don't exist; empty when sound.
std::vector<std::string> map_actions_check();

// ---- reading ----

// The record of a used slot, none otherwise.
const map_action* map_action_get(int32_t slot);
int32_t map_action_next(int32_t slot);  // the next used slot after slot (-1 to start), or -1
int32_t map_action_find(int32_t identifier);  // first used slot with that identifier, or -1
// The nth parameter's header, none for a bad slot or number (never the block start).
const map_action_parameter_header* map_action_parameter(int32_t slot, int32_t parameter);
// The nth parameter's element bytes (element_count × size), empty when there is none.
std::span<const std::byte> map_action_parameter_elements(int32_t slot, int32_t parameter);
// One element's value as an integer (flags, identifiers, angles, numbers, tags); for points and
// rectangles the component given. False when there is no such element.
bool map_action_element_value(int32_t slot, int32_t parameter, int32_t element, int32_t* value, int32_t component = 0);
// The first parameter with that name (and type, unless -1), or -1.
int32_t map_action_find_parameter(int32_t slot, tag name, int16_t type = -1);

// The first `name` string parameter's text, or "<unnamed action>".
std::string map_action_name(int32_t slot);
// "0xA5" or (indent + 1) × two blanks, then "TYPE." upper-cased, then the name.
std::string map_action_list_line(int32_t slot);
void map_action_list_lines(void (*line)(void* context, int32_t slot, const char* text), void* context);

// Properties as the Edit Map Action dialog shows them.
struct map_action_properties {
  int16_t expiration_mode;
  uint32_t flags;  // the four editable flags
  std::string name;
  std::string type;          // four characters, "" for none
  std::string trigger_lower; // seconds, "%3.2f"
  std::string trigger_upper;
};
bool map_action_get_properties(int32_t slot, map_action_properties* properties);

// Seconds text of a tick count ("%3.2f"), and back: round to the nearest tick so that every count
// reads back exactly. False for text that is not a finite number of seconds in range.
std::string map_action_seconds_text(int64_t ticks);
bool map_action_ticks_from_text(const char* text, int32_t* ticks);

// The text of an element (numbers from 0), "<error>" when nothing can be produced.
std::string map_action_element_text(int32_t slot, int32_t parameter, int32_t element);

// The choices of a tag or action parameter: "<none>", "-", then the tags of the group (or every
// action by its list line). *selected gets the current value's row (0 when not found).
bool map_action_choice_list(int32_t slot, int32_t parameter, int32_t element, std::vector<std::string>* rows,
                            int32_t* selected);
// The value row stands for (row < 2: -1); false for a row out of range.
bool map_action_choice_value(int32_t slot, int32_t parameter, int32_t row, int32_t* value);

// ---- search ----

struct map_action_search_state {
  uint16_t flags;     // 0x1 links are candidates, 0x2 empty parameters too, 0x4 not single elements
  tag name;           // NONE_TAG: any
  int16_t type;       // -1: any
  int16_t list_count;
  int16_t list_index;
  struct {
    int32_t slot;
    int32_t next_parameter;
  } list[MAP_ACTION_SEARCH_LIST_SIZE];
};
enum : uint16_t {
  _search_links_are_candidates = 0x1,
  _search_empty_parameters = 0x2,
  _search_skip_single_elements = 0x4,
};
void map_action_search_begin(map_action_search_state* search, int32_t slot, uint16_t flags, tag name, int16_t type);
// The next candidate as (slot, parameter); false when the search is over.
bool map_action_search(map_action_search_state* search, int32_t* slot, int32_t* parameter);

// ---- value texts shared with the text format ----

// Number texts that read back to the same value, independent of the locale.
std::string map_action_format_fixed(double value, int decimals);
// A finite number from the whole text (leading and trailing blanks allowed); false otherwise.
bool map_action_parse_number(std::string_view text, double* value);
// World units from a text of cells ("%3.3f" of units / 512 with the export's bias), exactly back.
std::string map_action_distance_text(int32_t units);
bool map_action_distance_from_text(std::string_view text, int32_t* units);
std::string map_action_fixed_text(int32_t value);
bool map_action_fixed_from_text(std::string_view text, int32_t* value);
std::string map_action_angle_text(int32_t value);
bool map_action_angle_from_text(std::string_view text, int32_t* value);
