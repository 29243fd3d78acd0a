// The map actions model: the "map action" data array, the shared parameter buffer, their stored
// form and every operation on actions, parameters and elements.
#include "map/map_actions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cseries/data.h"
#include "cseries/error_manager.h"
#include "map/map_action_templates.h"
#include "map/map_actions_edit.h"
#include "map/marker_utils.h"
#include "map/markers.h"
#include "tag_files/tag_files.h"

namespace {

using namespace byte_swap_letters;

constexpr int16_t action_codes[] = {B, 1, S, S, L, L, L, L, S, S, L, S, 30, 4, E};
constexpr int16_t parameter_header_codes[] = {B, 1, S, S, L, E};

constexpr tag NAME_TAG = make_tag("name");
constexpr tag LINK_TAG = make_tag("link");
constexpr tag NULL_TAG = make_tag("null");

const map_action_parameter_type_definition type_table[NUMBER_OF_MAP_ACTION_PARAMETER_TYPES] = {
    {"flag", 1, 0, _edit_typed, 0, -1, NONE_TAG},
    {"string", 1, 0, _edit_whole_string, 0, -1, NONE_TAG},
    {"monster_identifier", 2, 2, _edit_marker, 0, _marker_unit, NONE_TAG},
    {"action_identifier", 2, 2, _edit_choice, MAP_ACTION_OWN_IDENTIFIER, -1, NONE_TAG},
    {"angle", 2, 2, _edit_angle, 0, -1, NONE_TAG},
    {"integer", 4, 4, _edit_typed, 0, -1, NONE_TAG},
    {"world_distance", 4, 4, _edit_typed, 0, -1, NONE_TAG},
    {"field name", 4, 4, _edit_typed, int32_t(make_tag("null")), -1, NONE_TAG},
    {"fixed", 4, 4, _edit_typed, 0, -1, NONE_TAG},
    {"projectile", 4, 4, _edit_choice, -1, -1, make_tag("prgr")},
    {"string list", 4, 4, _edit_choice, -1, -1, make_tag("stli")},
    {"sound", 4, 4, _edit_choice, -1, -1, make_tag("soun")},
    {"projectile", 4, 4, _edit_choice, -1, -1, make_tag("proj")},
    {"world_point2d", 8, 4, _edit_point2d, 0, -1, NONE_TAG},
    {"world_rectangle2d", 16, 4, _edit_not_editable, 0, -1, NONE_TAG},
    {"object_identifier", 2, 2, _edit_marker, 0, _marker_projectile, NONE_TAG},
    {"model_identifier", 2, 2, _edit_model, 0, _marker_model, NONE_TAG},
    {"sound_source_identifier", 2, 2, _edit_marker, 0, _marker_sound_source, NONE_TAG},
    {"world_point3d", 12, 4, _edit_point3d, 0, -1, NONE_TAG},
    {"local_projectile_group_identifier", 2, 2, _edit_marker, 0, _marker_local_projectile_group, NONE_TAG},
    {"model_animation_identifier", 2, 2, _edit_model_animation, 0, _marker_model_animation, NONE_TAG},
};

declared_data_array action_array = data_array_declare("map action", MAP_ACTION_CAPACITY, MAP_ACTION_SIZE);

struct map_action_globals {
  bool valid = false;
  std::byte* buffer = nullptr;  // MAP_ACTION_BUFFER_SIZE bytes
  int32_t used = 0;
};
map_action_globals globals;

// The journal's image of the model: this header, the slots up to the last used one, the buffer.
struct image_header {
  tag signature;
  int32_t slot_count;
  int32_t used_bytes;
  uint16_t next_identifier;
  int16_t zero;
};
static_assert(sizeof(image_header) == 16);
constexpr tag IMAGE_SIGNATURE = make_tag("mapa");
std::vector<std::byte> image_bytes;

map_action* record(int32_t slot) { return data_array_get_as<map_action>(&action_array, slot); }

int32_t round_up_4(int64_t n) { return int32_t((n + 3) & ~int64_t(3)); }

template <class T>
T load_value(const std::byte* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
template <class T>
void store_value(std::byte* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Swaps every element of a parameter in place.
void swap_elements(std::byte* elements, int16_t type, int32_t count) {
  const map_action_parameter_type_definition* definition = map_action_type_get(type);
  if (definition == nullptr || definition->swap_width == 0 || count <= 0) return;
  const int32_t values = count * (definition->element_size / definition->swap_width);
  byte_swap_memory("map action parameter", elements, values,
                   definition->swap_width == 2 ? _byte_swap_2_bytes : _byte_swap_4_bytes);
}

// Walks a block's parameters from its start: the byte offset of parameter n inside it, or -1.
// Parameter headers are read in native order.
int32_t parameter_offset_in_block(const std::byte* block, int32_t block_size, int32_t count, int32_t n) {
  if (n < 0 || n >= count) return -1;
  int32_t at = 0;
  for (int32_t i = 0;; ++i) {
    if (at + MAP_ACTION_PARAMETER_HEADER_SIZE > block_size) return -1;
    const auto header = load_value<map_action_parameter_header>(block + at);
    const int32_t size = map_action_parameter_size(header.parameter_type, header.element_count);
    if (size < 0 || at + size > block_size) return -1;
    if (i == n) return at;
    at += size;
  }
}

std::byte* block_of(const map_action& action) { return globals.buffer + action.parameter_offset; }

// The buffer offset of parameter n of a used slot, or -1.
int32_t parameter_at(int32_t slot, int32_t n) {
  const map_action* action = record(slot);
  if (action == nullptr || !globals.buffer) return -1;
  const int32_t inside = parameter_offset_in_block(block_of(*action), action->parameter_bytes, action->parameter_count, n);
  return inside < 0 ? -1 : action->parameter_offset + inside;
}

map_action_parameter_header* header_at(int32_t offset) {
  return reinterpret_cast<map_action_parameter_header*>(globals.buffer + offset);
}

// Checks one block (native or stored order) and, when convert_from_stored is set, converts each
// header before its elements. Faults name the action.
bool check_block(std::byte* block, int32_t size, int32_t count, bool convert_from_stored, int32_t index,
                 std::vector<std::string>* faults) {
  char text[160];
  int32_t at = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (at + MAP_ACTION_PARAMETER_HEADER_SIZE > size) {
      std::snprintf(text, sizeof text, "map action %d has %d parameters but its block ends after %d", index, count, i);
      faults->push_back(text);
      return false;
    }
    if (convert_from_stored) byte_swap_data(map_action_parameter_header_description, block + at, MAP_ACTION_PARAMETER_HEADER_SIZE, 1);
    const auto header = load_value<map_action_parameter_header>(block + at);
    const int32_t bytes = map_action_parameter_size(header.parameter_type, header.element_count);
    if (bytes < 0) {
      std::snprintf(text, sizeof text, "map action %d parameter %d has type %d and %d elements", index, i,
                    header.parameter_type, header.element_count);
      faults->push_back(text);
      return false;
    }
    if (at + bytes > size) {
      std::snprintf(text, sizeof text, "map action %d parameter %d runs past its block of %d bytes", index, i, size);
      faults->push_back(text);
      return false;
    }
    std::byte* elements = block + at + MAP_ACTION_PARAMETER_HEADER_SIZE;
    if (convert_from_stored) swap_elements(elements, header.parameter_type, header.element_count);
    if (header.parameter_type == _parameter_string && header.element_count > 0 &&
        std::memchr(elements, 0, size_t(header.element_count)) == nullptr) {
      std::snprintf(text, sizeof text, "map action %d parameter %d is a string without an end", index, i);
      faults->push_back(text);
      return false;
    }
    at += bytes;
  }
  if (at != size) {
    std::snprintf(text, sizeof text, "map action %d fills %d of its %d parameter bytes", index, at, size);
    faults->push_back(text);
    return false;
  }
  return true;
}

// Checks records and blocks against a buffer of used bytes (native order records). On success the
// buffer is converted (when asked) and the blocks are packed in offset order.
bool check_and_pack(std::vector<map_action>& actions, std::vector<std::byte>& buffer, bool convert_from_stored,
                    std::vector<std::string>* faults) {
  char text[160];
  const int32_t used = int32_t(buffer.size());
  std::vector<int32_t> order;
  bool sound = true;
  for (int32_t i = 0; i < int32_t(actions.size()); ++i) {
    map_action& a = actions[i];
    if (a.identifier == 0) continue;  // a free slot (images only)
    if (a.parameter_count < 0 || a.parameter_bytes < 0 || a.parameter_offset < 0 ||
        int64_t(a.parameter_offset) + a.parameter_bytes > used) {
      std::snprintf(text, sizeof text, "map action %d has %d parameters in %d bytes at %d, outside the %d used bytes", i,
                    a.parameter_count, a.parameter_bytes, a.parameter_offset, used);
      faults->push_back(text);
      sound = false;
      continue;
    }
    order.push_back(i);
  }
  if (!sound) return false;
  std::stable_sort(order.begin(), order.end(), [&](int32_t x, int32_t y) {
    return actions[x].parameter_offset < actions[y].parameter_offset;
  });
  int32_t end = 0;
  for (int32_t i : order) {
    const map_action& a = actions[i];
    if (a.parameter_bytes == 0) continue;
    if (a.parameter_offset < end) {
      std::snprintf(text, sizeof text, "map action %d's parameter block overlaps another", i);
      faults->push_back(text);
      return false;
    }
    end = a.parameter_offset + a.parameter_bytes;
  }
  for (int32_t i : order) {
    map_action& a = actions[i];
    if (!check_block(buffer.data() + a.parameter_offset, a.parameter_bytes, a.parameter_count, convert_from_stored, i,
                     faults)) {
      return false;
    }
  }
  // Packed: the blocks tile the first used bytes; bytes no block claims are dropped.
  std::vector<std::byte> packed;
  packed.reserve(buffer.size());
  for (int32_t i : order) {
    map_action& a = actions[i];
    const int32_t at = int32_t(packed.size());
    packed.insert(packed.end(), buffer.begin() + a.parameter_offset, buffer.begin() + a.parameter_offset + a.parameter_bytes);
    a.parameter_offset = at;
  }
  buffer.swap(packed);
  return true;
}

bool identifiers_equal(int32_t a, int32_t b) { return uint16_t(a) == uint16_t(b); }

void apply_link_fix(int32_t identifier) {
  // Links to an identifier that no longer exists would pass to whichever action reuses it.
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    const map_action* action = record(slot);
    for (int32_t p = 0; p < action->parameter_count; ++p) {
      const int32_t at = parameter_at(slot, p);
      if (at < 0) break;
      map_action_parameter_header* header = header_at(at);
      if (header->parameter_type != _parameter_action_identifier) continue;
      std::byte* elements = globals.buffer + at + MAP_ACTION_PARAMETER_HEADER_SIZE;
      for (int32_t e = 0; e < header->element_count; ++e) {
        if (identifiers_equal(load_value<int16_t>(elements + 2 * e), identifier)) store_value<int16_t>(elements + 2 * e, -1);
      }
    }
  }
}

std::string tag_name_text(tag group, int32_t value) {
  if (value == -1) return "<none>";
  const int32_t index = tag_file_find(group, tag(value));
  return index == NONE ? "<invalid>" : tag_file_get_name(index);
}

std::string marker_definition_name(int16_t type, int16_t identifier, const marker_data** found) {
  const marker_data* marker = marker_find_by_identifier(type, identifier);
  if (found) *found = marker;
  if (marker == nullptr) return "<unknown type>";
  const marker_palette_entry* entry = palette_entry_get(marker->type, marker->palette_index);
  const marker_type_definition* definition = marker_type_get(type);
  if (entry == nullptr || definition == nullptr || definition->group_tag == NONE_TAG) return "<unknown type>";
  const int32_t index = tag_file_find(definition->group_tag, entry->definition_tag);
  return index == NONE ? "<unknown type>" : tag_file_get_name(index);
}

}  // namespace

const byte_swap_description map_action_description = byte_swap_describe("map action", sizeof(map_action), action_codes);
const byte_swap_description map_action_parameter_header_description =
    byte_swap_describe("map action parameter", sizeof(map_action_parameter_header), parameter_header_codes);

const map_action_parameter_type_definition* map_action_type_get(int16_t type) {
  return type >= 0 && type < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES ? &type_table[type] : nullptr;
}

int32_t map_action_parameter_size(int16_t type, int32_t element_count) {
  const map_action_parameter_type_definition* definition = map_action_type_get(type);
  if (definition == nullptr || element_count < 0) return -1;
  return MAP_ACTION_PARAMETER_HEADER_SIZE + round_up_4(int64_t(element_count) * definition->element_size);
}

// ---- lifecycle ----

bool map_actions_initialize() {
  if (globals.buffer != nullptr) return true;
  if (!data_array_allocate(&action_array)) return false;
  globals.buffer = static_cast<std::byte*>(resize_block(nullptr, MAP_ACTION_BUFFER_SIZE));
  if (globals.buffer == nullptr) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for parameter buffer", int(MAP_ACTION_BUFFER_SIZE));
    data_array_dispose(&action_array);
    return false;
  }
  return true;
}

void map_actions_begin() {
  if (!map_actions_initialize()) return;
  map_action_templates_reset();  // the templates are read afresh for each map
  data_array_validate(&action_array);
  std::memset(globals.buffer, 0, MAP_ACTION_BUFFER_SIZE);
  globals.used = 0;
  globals.valid = true;
}

void map_actions_end() {
  if (globals.buffer == nullptr) return;
  data_array_invalidate(&action_array);
  globals.used = 0;
  globals.valid = false;
}

bool map_actions_are_valid() { return globals.valid && data_array_is_valid(&action_array); }

void map_actions_clear() {
  if (!map_actions_are_valid()) return;
  data_array_reset(&action_array);
  globals.used = 0;
}

bool map_actions_load(int32_t count, std::span<const std::byte> bytes, bool convert, std::vector<std::string>* faults) {
  std::vector<std::string> local;
  if (faults == nullptr) faults = &local;
  char text[160];
  if (!map_actions_are_valid()) map_actions_begin();
  if (!map_actions_are_valid()) return false;
  if (count < 0 || count > MAP_ACTION_CAPACITY || int64_t(count) * MAP_ACTION_SIZE > int64_t(bytes.size())) {
    std::snprintf(text, sizeof text, "map action count %d does not fit the section's %d bytes", count, int(bytes.size()));
    faults->push_back(text);
    return false;
  }
  const int64_t parameter_bytes = int64_t(bytes.size()) - int64_t(count) * MAP_ACTION_SIZE;
  if (parameter_bytes > MAP_ACTION_BUFFER_SIZE) {
    std::snprintf(text, sizeof text, "map action parameters of %lld bytes exceed the %d-byte buffer",
                  static_cast<long long>(parameter_bytes), int(MAP_ACTION_BUFFER_SIZE));
    faults->push_back(text);
    return false;
  }
  std::vector<map_action> actions(static_cast<size_t>(count));
  if (count > 0) std::memcpy(actions.data(), bytes.data(), size_t(count) * MAP_ACTION_SIZE);
  if (convert && count > 0) byte_swap_data(map_action_description, actions.data(), MAP_ACTION_SIZE, count);
  for (map_action& a : actions) {
    if (a.identifier == 0) a.identifier = int16_t(0x8000);  // a stored record is in use; restore numbers it afresh
  }
  std::vector<std::byte> buffer(bytes.begin() + ptrdiff_t(count) * MAP_ACTION_SIZE, bytes.end());
  if (!check_and_pack(actions, buffer, convert, faults)) return false;

  data_array_reset(&action_array);
  std::memset(globals.buffer, 0, MAP_ACTION_BUFFER_SIZE);
  if (!buffer.empty()) std::memcpy(globals.buffer, buffer.data(), buffer.size());
  globals.used = int32_t(buffer.size());
  const int32_t restored = data_array_restore(
      &action_array, std::as_bytes(std::span<const map_action>(actions.data(), actions.size())));
  if (restored != count) {
    data_array_reset(&action_array);
    globals.used = 0;
    faults->push_back("the map actions could not all be restored");
    return false;
  }
  return true;
}

bool map_actions_save(std::vector<std::byte>* bytes, int32_t* count) {
  bytes->clear();
  *count = 0;
  if (!map_actions_are_valid()) return true;
  std::vector<map_action> actions;
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) actions.push_back(*record(slot));
  std::vector<std::byte> buffer(globals.buffer, globals.buffer + globals.used);
  // To stored order on the copy: each parameter's elements, then its header.
  for (const map_action& a : actions) {
    std::byte* block = buffer.data() + a.parameter_offset;
    int32_t at = 0;
    for (int32_t p = 0; p < a.parameter_count && at + MAP_ACTION_PARAMETER_HEADER_SIZE <= a.parameter_bytes; ++p) {
      const auto header = load_value<map_action_parameter_header>(block + at);
      const int32_t size = map_action_parameter_size(header.parameter_type, header.element_count);
      if (size < 0 || at + size > a.parameter_bytes) break;
      swap_elements(block + at + MAP_ACTION_PARAMETER_HEADER_SIZE, header.parameter_type, header.element_count);
      byte_swap_data(map_action_parameter_header_description, block + at, MAP_ACTION_PARAMETER_HEADER_SIZE, 1);
      at += size;
    }
  }
  if (!actions.empty()) byte_swap_data(map_action_description, actions.data(), MAP_ACTION_SIZE, int32_t(actions.size()));
  const auto records = std::as_bytes(std::span<const map_action>(actions.data(), actions.size()));
  bytes->insert(bytes->end(), records.begin(), records.end());
  bytes->insert(bytes->end(), buffer.begin(), buffer.end());
  *count = int32_t(actions.size());
  return true;
}

int32_t map_actions_parameter_bytes() { return map_actions_are_valid() ? globals.used : 0; }
int32_t map_actions_count() { return map_actions_are_valid() ? action_array.state.used_count : 0; }
std::string map_actions_usage_line() { return data_array_usage_line(&action_array); }

std::vector<std::string> map_actions_check() {
  std::vector<std::string> faults;
  if (!map_actions_are_valid()) return faults;
  std::vector<map_action> actions;
  std::vector<int32_t> slots;
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    actions.push_back(*record(slot));
    slots.push_back(slot);
  }
  std::vector<std::byte> buffer(globals.buffer, globals.buffer + globals.used);
  std::vector<map_action> copy = actions;
  int64_t claimed = 0;
  for (const map_action& a : actions) claimed += a.parameter_bytes;
  if (!check_and_pack(copy, buffer, false, &faults)) return faults;
  char text[200];
  if (claimed != globals.used) {
    std::snprintf(text, sizeof text, "the parameter blocks claim %lld of the %d used bytes", static_cast<long long>(claimed),
                  globals.used);
    faults.push_back(text);
  }
  for (int32_t slot : slots) {
    const map_action* a = record(slot);
    if (a->expiration_mode < 0 || a->expiration_mode > MAP_ACTION_MAXIMUM_EXPIRATION_MODE) {
      std::snprintf(text, sizeof text, "map action %d (%s) has expiration mode %d", slot, map_action_name(slot).c_str(),
                    a->expiration_mode);
      faults.push_back(text);
    }
    if (a->indent < 0 || a->indent > MAP_ACTION_MAXIMUM_INDENT) {
      std::snprintf(text, sizeof text, "map action %d (%s) has indent %d", slot, map_action_name(slot).c_str(), a->indent);
      faults.push_back(text);
    }
    for (int32_t p = 0; p < a->parameter_count; ++p) {
      const map_action_parameter_header* header = map_action_parameter(slot, p);
      if (header == nullptr || header->parameter_type != _parameter_action_identifier) continue;
      for (int32_t e = 0; e < header->element_count; ++e) {
        int32_t value = 0;
        map_action_element_value(slot, p, e, &value);
        if (value != -1 && map_action_find(value) == -1) {
          std::snprintf(text, sizeof text, "map action %d (%s) parameter '%s' links to missing action %d", slot,
                        map_action_name(slot).c_str(), tag_to_text(header->parameter_name).c_str(), value & 0xFFFF);
          faults.push_back(text);
        }
      }
    }
  }
  return faults;
}

// ---- image ----

std::span<std::byte> map_actions_image() {
  image_bytes.clear();
  if (!map_actions_are_valid()) return {};
  const data_array_state& state = action_array.state;
  image_header header = {IMAGE_SIGNATURE, state.high_water_mark, globals.used, state.next_identifier, 0};
  const auto* head = reinterpret_cast<const std::byte*>(&header);
  image_bytes.insert(image_bytes.end(), head, head + sizeof header);
  image_bytes.insert(image_bytes.end(), state.records, state.records + size_t(state.high_water_mark) * MAP_ACTION_SIZE);
  image_bytes.insert(image_bytes.end(), globals.buffer, globals.buffer + globals.used);
  return image_bytes;
}

bool map_actions_restore_image(std::span<const std::byte> bytes) {
  if (!map_actions_are_valid()) {
    POST_ERROR(error_data_mismatch, "there are no map actions to put back.");
    return false;
  }
  image_header header{};
  if (bytes.size() < sizeof header) {
    if (bytes.empty()) {
      map_actions_clear();
      return true;
    }
    POST_ERROR(error_data_corrupted, "%d bytes are not an image of the map actions.", int(bytes.size()));
    return false;
  }
  std::memcpy(&header, bytes.data(), sizeof header);
  if (header.signature != IMAGE_SIGNATURE || header.slot_count < 0 || header.slot_count > MAP_ACTION_CAPACITY ||
      header.used_bytes < 0 || header.used_bytes > MAP_ACTION_BUFFER_SIZE ||
      bytes.size() != sizeof header + size_t(header.slot_count) * MAP_ACTION_SIZE + size_t(header.used_bytes)) {
    POST_ERROR(error_data_corrupted, "%d bytes are not an image of the map actions.", int(bytes.size()));
    return false;
  }
  std::vector<map_action> actions(size_t(header.slot_count));
  if (header.slot_count > 0) std::memcpy(actions.data(), bytes.data() + sizeof header, actions.size() * MAP_ACTION_SIZE);
  std::vector<std::byte> buffer(bytes.begin() + ptrdiff_t(sizeof header + actions.size() * MAP_ACTION_SIZE), bytes.end());
  std::vector<std::string> faults;
  std::vector<map_action> checked = actions;
  std::vector<std::byte> packed = buffer;
  if (!check_and_pack(checked, packed, false, &faults)) {
    for (const std::string& fault : faults) POST_ERROR(error_data_corrupted, "map actions image: %s.", fault.c_str());
    return false;
  }
  int32_t used_count = 0;
  for (const map_action& a : actions) {
    if (a.identifier != 0 && !(uint16_t(a.identifier) & 0x8000)) {
      POST_ERROR(error_data_corrupted, "map actions image: identifier %d is not an array identifier.", a.identifier);
      return false;
    }
    used_count += a.identifier != 0;
  }
  // The image is put back exactly: slots, identifiers and block places as they were.
  data_array_state& state = action_array.state;
  data_array_reset(&action_array);
  if (!actions.empty()) std::memcpy(state.records, actions.data(), actions.size() * MAP_ACTION_SIZE);
  state.high_water_mark = int16_t(header.slot_count);
  state.used_count = int16_t(used_count);
  state.search_start = 0;
  state.next_identifier = header.next_identifier < DATA_IDENTIFIER_FIRST ? DATA_IDENTIFIER_FIRST : header.next_identifier;
  std::memset(globals.buffer, 0, MAP_ACTION_BUFFER_SIZE);
  if (!buffer.empty()) std::memcpy(globals.buffer, buffer.data(), buffer.size());
  globals.used = header.used_bytes;
  return true;
}

// ---- reading ----

const map_action* map_action_get(int32_t slot) { return map_actions_are_valid() ? record(slot) : nullptr; }

int32_t map_action_next(int32_t slot) {
  if (!map_actions_are_valid()) return -1;
  const int32_t next = data_array_next_used(&action_array.state, slot);
  return next == DATA_ARRAY_NONE ? -1 : next;
}

int32_t map_action_find(int32_t identifier) {
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    if (identifiers_equal(record(slot)->identifier, identifier)) return slot;
  }
  return -1;
}

const map_action_parameter_header* map_action_parameter(int32_t slot, int32_t parameter) {
  const int32_t at = parameter_at(slot, parameter);
  return at < 0 ? nullptr : header_at(at);
}

std::span<const std::byte> map_action_parameter_elements(int32_t slot, int32_t parameter) {
  const int32_t at = parameter_at(slot, parameter);
  if (at < 0) return {};
  const map_action_parameter_header* header = header_at(at);
  const int32_t size = header->element_count * map_action_type_get(header->parameter_type)->element_size;
  return {globals.buffer + at + MAP_ACTION_PARAMETER_HEADER_SIZE, size_t(size)};
}

bool map_action_element_value(int32_t slot, int32_t parameter, int32_t element, int32_t* value, int32_t component) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr || element < 0 || element >= header->element_count) return false;
  const map_action_parameter_type_definition* definition = map_action_type_get(header->parameter_type);
  const std::byte* at = map_action_parameter_elements(slot, parameter).data() + size_t(element) * definition->element_size;
  switch (definition->swap_width) {
    case 0:
      if (component != 0) return false;
      *value = int32_t(load_value<uint8_t>(at));
      return true;
    case 2:
      if (component != 0) return false;
      *value = header->parameter_type == _parameter_angle ? int32_t(load_value<uint16_t>(at)) : int32_t(load_value<int16_t>(at));
      return true;
    default:
      if (component < 0 || component >= definition->element_size / 4) return false;
      *value = load_value<int32_t>(at + 4 * component);
      return true;
  }
}

int32_t map_action_find_parameter(int32_t slot, tag name, int16_t type) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return -1;
  for (int32_t p = 0; p < action->parameter_count; ++p) {
    const map_action_parameter_header* header = map_action_parameter(slot, p);
    if (header == nullptr) return -1;
    if (header->parameter_name == name && (type == -1 || header->parameter_type == type)) return p;
  }
  return -1;
}

std::string map_action_name(int32_t slot) {
  const int32_t p = map_action_find_parameter(slot, NAME_TAG, _parameter_string);
  if (p < 0) return "<unnamed action>";
  std::span<const std::byte> elements = map_action_parameter_elements(slot, p);
  const char* text = reinterpret_cast<const char*>(elements.data());
  return std::string(text, strnlen(text, elements.size()));
}

std::string map_action_list_line(int32_t slot) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return "";
  std::string prefix;
  if (action->action_flags & _map_action_initially_active) {
    prefix = "\xA5";
  } else {
    prefix.assign(size_t(std::clamp<int>(action->indent, 0, MAP_ACTION_MAXIMUM_INDENT) + 1) * 2, ' ');
  }
  if (action->action_type != NONE_TAG) prefix += tag_to_text(action->action_type) + ".";
  for (char& c : prefix) c = char(std::toupper(uint8_t(c)));
  return prefix + map_action_name(slot);
}

void map_action_list_lines(void (*line)(void* context, int32_t slot, const char* text), void* context) {
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    line(context, slot, map_action_list_line(slot).c_str());
  }
}

// ---- numbers as text ----

std::string map_action_format_fixed(double value, int decimals) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "<error>";
  std::string out(text, result.ptr);
  if (out.rfind("-0.", 0) == 0 && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
  return out;
}

bool map_action_parse_number(std::string_view text, double* value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  double parsed = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

namespace {

// scaled units from text written with a bias of up to one last decimal: the printed value lies in
// [v, v + bias step], so floor(x + 0.25) of the scaled text gives v back.
bool units_from_text(std::string_view text, double scale, int32_t* out) {
  double value = 0;
  if (!map_action_parse_number(text, &value)) return false;
  const double scaled = std::floor(value * scale + 0.25);
  if (scaled < double(INT32_MIN) || scaled > double(INT32_MAX)) return false;
  *out = int32_t(scaled);
  return true;
}

}  // namespace

std::string map_action_distance_text(int32_t units) { return map_action_format_fixed(units / 512.0 + 0.0005, 3); }
bool map_action_distance_from_text(std::string_view text, int32_t* units) { return units_from_text(text, 512.0, units); }
std::string map_action_fixed_text(int32_t value) { return map_action_format_fixed(value / 65536.0 + 0.000005, 5); }
bool map_action_fixed_from_text(std::string_view text, int32_t* value) { return units_from_text(text, 65536.0, value); }

std::string map_action_angle_text(int32_t value) {
  const double degrees = double(value & 0xFFFF) * 360.0 / 65536.0;
  // "%3.2f" where that reads back to the same angle; more decimals where it would not.
  for (int decimals = 2; decimals < 6; ++decimals) {
    std::string text = map_action_format_fixed(degrees, decimals);
    int32_t back = 0;
    if (map_action_angle_from_text(text, &back) && back == (value & 0xFFFF)) return text;
  }
  return map_action_format_fixed(degrees, 6);
}

bool map_action_angle_from_text(std::string_view text, int32_t* value) {
  double degrees = 0;
  if (!map_action_parse_number(text, &degrees) || std::fabs(degrees) > 1e6) return false;
  const int64_t units = std::llround(degrees * 65536.0 / 360.0);
  *value = int32_t(((units % 65536) + 65536) % 65536);
  return true;
}

std::string map_action_seconds_text(int64_t ticks) { return map_action_format_fixed(double(ticks) / 30.0, 2); }

bool map_action_ticks_from_text(const char* text, int32_t* ticks) {
  double seconds = 0;
  if (text == nullptr || !map_action_parse_number(text, &seconds)) return false;
  const double rounded = std::nearbyint(seconds * 30.0);
  if (rounded < double(INT32_MIN) || rounded > double(INT32_MAX)) return false;
  *ticks = int32_t(rounded);
  return true;
}

bool map_action_get_properties(int32_t slot, map_action_properties* properties) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return false;
  properties->expiration_mode = action->expiration_mode;
  properties->flags = action->action_flags & MAP_ACTION_EDITABLE_FLAGS;
  properties->name = map_action_name(slot);
  properties->type = action->action_type == NONE_TAG ? "" : tag_to_text(action->action_type);
  properties->trigger_lower = map_action_seconds_text(action->trigger_time_lower);
  properties->trigger_upper = map_action_seconds_text(int64_t(action->trigger_time_lower) + action->trigger_time_range);
  return true;
}

// ---- element texts ----

std::string map_action_element_text(int32_t slot, int32_t parameter, int32_t element) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr) return "<error>";
  const int16_t type = header->parameter_type;
  if (type == _parameter_string) {
    std::span<const std::byte> elements = map_action_parameter_elements(slot, parameter);
    const char* text = reinterpret_cast<const char*>(elements.data());
    return std::string(text, strnlen(text, elements.size()));
  }
  int32_t v[4] = {};
  for (int32_t c = 0; c < 4; ++c) map_action_element_value(slot, parameter, element, &v[c], c);
  if (!map_action_element_value(slot, parameter, element, &v[0])) return "<error>";
  const map_action_parameter_type_definition* definition = map_action_type_get(type);
  char text[256];
  switch (type) {
    case _parameter_flag:
      return v[0] ? "true" : "false";
    case _parameter_integer:
      return std::to_string(v[0]);
    case _parameter_angle:
      return map_action_angle_text(v[0]);
    case _parameter_world_distance:
      return map_action_distance_text(v[0]);
    case _parameter_fixed:
      return map_action_fixed_text(v[0]);
    case _parameter_field_name:
      return tag_to_text(tag(v[0]));
    case _parameter_projectile_group:
    case _parameter_string_list:
    case _parameter_sound:
    case _parameter_projectile:
      return tag_name_text(definition->group_tag, v[0]);
    case _parameter_action_identifier: {
      const int32_t linked = map_action_find(v[0]);
      return linked == -1 || v[0] == -1 ? "<deleted action>" : map_action_name(linked);
    }
    case _parameter_monster_identifier: {
      const marker_data* marker = nullptr;
      const std::string name = marker_definition_name(_marker_unit, int16_t(v[0]), &marker);
      static const char* const difficulty[] = {"(KINDERGARTEN)", "(EASY)", "", "(MAJOR DAMAGE)", "(TOTAL CARNAGE)"};
      const char* suffix = marker && marker->minimum_difficulty >= 0 && marker->minimum_difficulty < 5
                               ? difficulty[marker->minimum_difficulty]
                               : "";
      std::snprintf(text, sizeof text, "#%d %s %s", v[0], name.c_str(), suffix);
      return text;
    }
    case _parameter_world_point2d:
      return "#" + std::to_string(element + 1) + " (" + map_action_distance_text(v[0]) + "," +
             map_action_distance_text(v[1]) + ")";
    case _parameter_world_point3d:
      return "#" + std::to_string(element + 1) + " (" + map_action_distance_text(v[0]) + "," +
             map_action_distance_text(v[1]) + "," + map_action_distance_text(v[2]) + ")";
    case _parameter_world_rectangle2d:
      return "(" + map_action_distance_text(v[0]) + "," + map_action_distance_text(v[1]) + "," +
             map_action_distance_text(v[2]) + "," + map_action_distance_text(v[3]) + ")";
    default: {
      const std::string name = marker_definition_name(definition->marker_type, int16_t(v[0]), nullptr);
      std::snprintf(text, sizeof text, "#%d %s", v[0], name.c_str());
      return text;
    }
  }
}

bool map_action_choice_list(int32_t slot, int32_t parameter, int32_t element, std::vector<std::string>* rows,
                            int32_t* selected) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr) return false;
  const map_action_parameter_type_definition* definition = map_action_type_get(header->parameter_type);
  int32_t current = -1;
  const bool has_value = map_action_element_value(slot, parameter, element, &current);
  rows->assign({"<none>", "-"});
  *selected = 0;
  if (header->parameter_type == _parameter_action_identifier) {
    for (int32_t s = map_action_next(-1); s != -1; s = map_action_next(s)) {
      if (has_value && current != -1 && identifiers_equal(record(s)->identifier, current)) *selected = int32_t(rows->size());
      rows->push_back(map_action_list_line(s));
    }
    return true;
  }
  if (definition->group_tag == NONE_TAG) return false;
  for (int32_t n = 0, count = tag_file_count(definition->group_tag); n < count; ++n) {
    const int32_t index = tag_file_nth(definition->group_tag, n);
    if (index == NONE) break;
    if (has_value && current != -1 && tag(current) == tag_file_get_identifier(index)) *selected = int32_t(rows->size());
    rows->push_back(tag_file_get_name(index));
  }
  return true;
}

bool map_action_choice_value(int32_t slot, int32_t parameter, int32_t row, int32_t* value) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr || row < 0) return false;
  if (row < 2) {
    *value = -1;
    return true;
  }
  if (header->parameter_type == _parameter_action_identifier) {
    int32_t n = 0;
    for (int32_t s = map_action_next(-1); s != -1; s = map_action_next(s), ++n) {
      if (n == row - 2) {
        *value = record(s)->identifier;
        return true;
      }
    }
    return false;
  }
  const tag group = map_action_type_get(header->parameter_type)->group_tag;
  if (group == NONE_TAG || row - 2 >= tag_file_count(group)) return false;
  const int32_t index = tag_file_nth(group, row - 2);
  if (index == NONE) return false;
  *value = int32_t(tag_file_get_identifier(index));
  return true;
}

// ---- search ----

void map_action_search_begin(map_action_search_state* search, int32_t slot, uint16_t flags, tag name, int16_t type) {
  *search = {};
  search->flags = flags;
  search->name = name;
  search->type = type;
  search->list_count = 1;
  search->list[0] = {slot, 0};
}

bool map_action_search(map_action_search_state* search, int32_t* slot, int32_t* parameter) {
  while (search->list_index < search->list_count) {
    auto& entry = search->list[search->list_index];
    const map_action* action = map_action_get(entry.slot);
    if (action == nullptr || entry.next_parameter >= action->parameter_count) {
      ++search->list_index;
      continue;
    }
    const int32_t p = entry.next_parameter++;
    const map_action_parameter_header* header = map_action_parameter(entry.slot, p);
    if (header == nullptr) {
      entry.next_parameter = action->parameter_count;
      continue;
    }
    if (header->parameter_type == _parameter_action_identifier && header->parameter_name == LINK_TAG &&
        !(search->flags & _search_links_are_candidates)) {
      for (int32_t e = 0; e < header->element_count; ++e) {
        int32_t identifier = 0;
        map_action_element_value(entry.slot, p, e, &identifier);
        const int32_t linked = map_action_find(identifier);
        if (linked == -1) continue;
        bool listed = false;
        for (int32_t i = 0; i < search->list_count; ++i) listed |= search->list[i].slot == linked;
        if (listed) continue;
        if (search->list_count >= MAP_ACTION_SEARCH_LIST_SIZE) {
          log_note(SOURCE_MODULE_NAME, __LINE__, "search list full: dropped linked action '%s'",
                   map_action_name(linked).c_str());
          continue;
        }
        search->list[search->list_count++] = {linked, 0};
      }
      continue;
    }
    if (search->name != NONE_TAG && header->parameter_name != search->name) continue;
    if (search->type != -1 && header->parameter_type != search->type) continue;
    if (header->element_count == 0 && !(search->flags & _search_empty_parameters)) continue;
    if (header->element_count == 1 && (search->flags & _search_skip_single_elements)) continue;
    *slot = entry.slot;
    *parameter = p;
    return true;
  }
  return false;
}

// ---- writing ----

bool map_action_resize_block(int32_t slot, int32_t new_size) {
  map_action* action = map_actions_are_valid() ? record(slot) : nullptr;
  if (action == nullptr || new_size < 0 || new_size > INT16_MAX) return false;
  const int32_t old_size = action->parameter_bytes;
  const int32_t offset = action->parameter_offset;
  if (int64_t(globals.used) - old_size + new_size > MAP_ACTION_BUFFER_SIZE) return false;
  const int32_t tail = offset + old_size;
  const int32_t delta = new_size - old_size;
  // The blocks behind move in place; only net growth needs room.
  std::memmove(globals.buffer + tail + delta, globals.buffer + tail, size_t(globals.used - tail));
  if (delta > 0) std::memset(globals.buffer + tail, 0, size_t(delta));
  if (delta < 0) std::memset(globals.buffer + globals.used + delta, 0, size_t(-delta));
  for (int32_t other = map_action_next(-1); other != -1; other = map_action_next(other)) {
    map_action* a = record(other);
    if (other != slot && a->parameter_offset >= tail) {
      a->parameter_offset += delta;
    }
  }
  globals.used += delta;
  action->parameter_bytes = int16_t(new_size);
  return true;
}

namespace {

int32_t new_record() {
  int32_t slot = data_array_new_element(&action_array);
  // 0xFFFF reads as -1, the "no action" of a link: skip it (the counter has moved on).
  if (slot != DATA_ARRAY_NONE && record(slot)->identifier == -1) {
    data_array_delete_element(&action_array, slot);
    slot = data_array_new_element(&action_array);
  }
  if (slot == DATA_ARRAY_NONE) return -1;
  map_action* action = record(slot);
  action->action_type = NONE_TAG;
  action->parameter_offset = globals.used;
  return slot;
}

}  // namespace

int32_t map_action_new_empty() { return map_actions_are_valid() ? new_record() : -1; }

int32_t map_action_new(int32_t source) {
  if (!map_actions_are_valid()) return -1;
  const map_action* from = source == -1 ? nullptr : record(source);
  if (source != -1 && from == nullptr) return -1;
  if (from != nullptr && globals.used + from->parameter_bytes > MAP_ACTION_BUFFER_SIZE) return -1;
  const int32_t slot = new_record();
  if (slot == -1) return -1;
  map_action* action = record(slot);
  if (from == nullptr) {
    if (!map_action_set_name(slot, "new action")) {
      data_array_delete_element(&action_array, slot);
      return -1;
    }
    return slot;
  }
  const int16_t identifier = action->identifier;
  std::memcpy(action, from, sizeof *action);
  action->identifier = identifier;
  action->parameter_offset = globals.used;
  std::memcpy(globals.buffer + globals.used, globals.buffer + from->parameter_offset, size_t(from->parameter_bytes));
  globals.used += from->parameter_bytes;
  return slot;
}

bool map_action_delete(int32_t slot) {
  map_action* action = map_actions_are_valid() ? record(slot) : nullptr;
  if (action == nullptr) return false;
  const int16_t identifier = action->identifier;
  map_action_resize_block(slot, 0);
  record(slot)->parameter_count = 0;
  data_array_delete_element(&action_array, slot);
  apply_link_fix(identifier);
  return true;
}

void map_action_compact() {
  if (map_actions_are_valid()) data_array_compact(&action_array);
}

int32_t map_action_move(int32_t slot, bool up, int32_t steps) {
  if (map_action_get(slot) == nullptr) return slot;
  for (int32_t i = 0; i < steps; ++i) {
    const int32_t neighbour = up ? slot - 1 : slot + 1;
    if (neighbour < 0 || neighbour >= action_array.state.high_water_mark) break;
    std::byte* a = action_array.state.records + size_t(slot) * MAP_ACTION_SIZE;
    std::byte* b = action_array.state.records + size_t(neighbour) * MAP_ACTION_SIZE;
    std::swap_ranges(a, a + MAP_ACTION_SIZE, b);
    slot = neighbour;
  }
  return slot;
}

bool map_action_indent(int32_t slot, bool deeper) {
  const map_action* action = map_action_get(slot);
  return action != nullptr && map_action_set_indent(slot, int16_t(action->indent + (deeper ? 1 : -1)));
}

bool map_action_set_indent(int32_t slot, int16_t indent) {
  map_action* action = map_actions_are_valid() ? record(slot) : nullptr;
  if (action == nullptr) return false;
  action->indent = std::clamp<int16_t>(indent, 0, MAP_ACTION_MAXIMUM_INDENT);
  return true;
}

bool map_action_set_record_fields(int32_t slot, int16_t expiration_mode, uint32_t flags, tag type, int32_t trigger_lower,
                                  int32_t trigger_range) {
  map_action* action = map_actions_are_valid() ? record(slot) : nullptr;
  if (action == nullptr) return false;
  action->expiration_mode = std::clamp<int16_t>(expiration_mode, 0, MAP_ACTION_MAXIMUM_EXPIRATION_MODE);
  action->action_flags = (action->action_flags & ~uint32_t(MAP_ACTION_EDITABLE_FLAGS)) | (flags & MAP_ACTION_EDITABLE_FLAGS);
  action->action_type = type;
  action->trigger_time_lower = trigger_lower;
  action->trigger_time_range = trigger_range;
  return true;
}

bool map_action_set_properties(int32_t slot, const map_action_properties& p) {
  if (map_action_get(slot) == nullptr) return false;
  int32_t lower = 0, upper = 0;
  if (!map_action_ticks_from_text(p.trigger_lower.c_str(), &lower) ||
      !map_action_ticks_from_text(p.trigger_upper.c_str(), &upper)) {
    return false;
  }
  const int64_t range = int64_t(upper) - lower;
  if (range < INT32_MIN || range > INT32_MAX) return false;
  std::string type = p.type;
  for (char& c : type) c = char(std::tolower(uint8_t(c)));
  const tag code = type.empty() ? NONE_TAG : text_to_tag(type.c_str());
  if (!map_action_set_name(slot, p.name.c_str())) return false;
  return map_action_set_record_fields(slot, p.expiration_mode, p.flags, code, lower, int32_t(range));
}

bool map_action_set_name(int32_t slot, const char* name) {
  const size_t length = std::strlen(name);
  if (length + 1 > size_t(INT16_MAX)) return false;
  return map_action_replace_parameter(slot, NAME_TAG, _parameter_string, int32_t(length + 1),
                                      std::as_bytes(std::span<const char>(name, length + 1))) != -1;
}

int32_t map_action_add_parameter(int32_t slot, tag name, int16_t type) {
  map_action* action = map_actions_are_valid() ? record(slot) : nullptr;
  if (action == nullptr || map_action_type_get(type) == nullptr || action->parameter_count == INT16_MAX) return -1;
  const int32_t old_size = action->parameter_bytes;
  if (!map_action_resize_block(slot, old_size + MAP_ACTION_PARAMETER_HEADER_SIZE)) return -1;
  action = record(slot);
  store_value(globals.buffer + action->parameter_offset + old_size, map_action_parameter_header{type, 0, name});
  return action->parameter_count++;
}

int32_t map_action_add_null_parameter(int32_t slot) { return map_action_add_parameter(slot, NULL_TAG, _parameter_flag); }

bool map_action_resize_parameter(int32_t slot, int32_t parameter, int32_t count) {
  const int32_t at = parameter_at(slot, parameter);
  if (at < 0 || count < -1 || count > INT16_MAX) return false;
  map_action* action = record(slot);
  const map_action_parameter_header header = *header_at(at);
  const int32_t old_size = map_action_parameter_size(header.parameter_type, header.element_count);
  const int32_t new_size = count < 0 ? 0 : map_action_parameter_size(header.parameter_type, count);
  const int32_t delta = new_size - old_size;
  const int32_t inside = at - action->parameter_offset;
  const int32_t block_size = action->parameter_bytes;
  if (block_size + delta > INT16_MAX) return false;
  if (delta > 0) {
    if (!map_action_resize_block(slot, block_size + delta)) return false;
    action = record(slot);
    std::byte* block = globals.buffer + action->parameter_offset;
    std::memmove(block + inside + new_size, block + inside + old_size, size_t(block_size - inside - old_size));
    std::memset(block + inside + old_size, 0, size_t(delta));
  } else if (delta < 0) {
    std::byte* block = globals.buffer + action->parameter_offset;
    std::memmove(block + inside + new_size, block + inside + old_size, size_t(block_size - inside - old_size));
    map_action_resize_block(slot, block_size + delta);
    action = record(slot);
  }
  if (count < 0) {
    --action->parameter_count;
    return true;
  }
  map_action_parameter_header* h = header_at(action->parameter_offset + inside);
  h->element_count = int16_t(count);
  // Padding stays zero.
  const int32_t data = count * map_action_type_get(h->parameter_type)->element_size;
  std::memset(globals.buffer + action->parameter_offset + inside + MAP_ACTION_PARAMETER_HEADER_SIZE + data, 0,
              size_t(new_size - MAP_ACTION_PARAMETER_HEADER_SIZE - data));
  return true;
}

namespace {

// Fills count elements from `first` with data, or with the type's default values.
void fill_elements(int32_t slot, int32_t parameter, int32_t first, int32_t count, std::span<const std::byte> data) {
  const int32_t at = parameter_at(slot, parameter);
  const map_action_parameter_header* header = header_at(at);
  const map_action_parameter_type_definition* definition = map_action_type_get(header->parameter_type);
  std::byte* elements = globals.buffer + at + MAP_ACTION_PARAMETER_HEADER_SIZE + size_t(first) * definition->element_size;
  const size_t bytes = size_t(count) * definition->element_size;
  if (!data.empty()) {
    std::memcpy(elements, data.data(), std::min(bytes, data.size()));
    if (data.size() < bytes) std::memset(elements + data.size(), 0, bytes - data.size());
    return;
  }
  int32_t value = definition->default_value;
  if (value == MAP_ACTION_OWN_IDENTIFIER) value = record(slot)->identifier;
  for (int32_t e = 0; e < count; ++e) {
    std::byte* at_element = elements + size_t(e) * definition->element_size;
    switch (definition->swap_width) {
      case 0:
        store_value<uint8_t>(at_element, uint8_t(value));
        break;
      case 2:
        store_value<int16_t>(at_element, int16_t(value));
        break;
      default:
        for (int32_t c = 0; c < definition->element_size / 4; ++c) store_value<int32_t>(at_element + 4 * c, value);
    }
  }
}

}  // namespace

bool map_action_set_elements(int32_t slot, int32_t parameter, int32_t count, std::span<const std::byte> data) {
  if (count < 0 || !map_action_resize_parameter(slot, parameter, count)) return false;
  fill_elements(slot, parameter, 0, count, data);
  return true;
}

bool map_action_append_elements(int32_t slot, int32_t parameter, int32_t count, std::span<const std::byte> data) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr || count < 0) return false;
  const int32_t first = header->element_count;
  if (!map_action_resize_parameter(slot, parameter, first + count)) return false;
  fill_elements(slot, parameter, first, count, data);
  return true;
}

bool map_action_remove_element(int32_t slot, int32_t parameter, int32_t element) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr || element < 0 || element >= header->element_count) return false;
  const int32_t size = map_action_type_get(header->parameter_type)->element_size;
  std::span<const std::byte> elements = map_action_parameter_elements(slot, parameter);
  auto* base = const_cast<std::byte*>(elements.data());
  std::memmove(base + size_t(element) * size, base + size_t(element + 1) * size,
               size_t(header->element_count - element - 1) * size);
  return map_action_resize_parameter(slot, parameter, header->element_count - 1);
}

bool map_action_set_parameter_type(int32_t slot, int32_t parameter, int16_t type) {
  const int32_t at = parameter_at(slot, parameter);
  if (at < 0 || map_action_type_get(type) == nullptr) return false;
  if (header_at(at)->parameter_type == type) return true;
  if (!map_action_resize_parameter(slot, parameter, 0)) return false;
  header_at(parameter_at(slot, parameter))->parameter_type = type;
  return true;
}

bool map_action_set_parameter_name(int32_t slot, int32_t parameter, tag name) {
  const int32_t at = parameter_at(slot, parameter);
  if (at < 0) return false;
  header_at(at)->parameter_name = name;
  return true;
}

int32_t map_action_replace_parameter(int32_t slot, tag name, int16_t type, int32_t count, std::span<const std::byte> data) {
  const map_action* action = map_action_get(slot);
  const map_action_parameter_type_definition* definition = map_action_type_get(type);
  if (action == nullptr || definition == nullptr || count < 0) return -1;
  // Refuse before removing anything when the result can't fit.
  int64_t removed = 0;
  for (int32_t p = 0; p < action->parameter_count; ++p) {
    const map_action_parameter_header* h = map_action_parameter(slot, p);
    if (h && h->parameter_name == name && h->parameter_type == type) removed += map_action_parameter_size(type, h->element_count);
  }
  const int64_t added = map_action_parameter_size(type, count);
  if (int64_t(action->parameter_bytes) - removed + added > INT16_MAX ||
      int64_t(globals.used) - removed + added > MAP_ACTION_BUFFER_SIZE) {
    return -1;
  }
  for (int32_t p = record(slot)->parameter_count - 1; p >= 0; --p) {
    const map_action_parameter_header* h = map_action_parameter(slot, p);
    if (h && h->parameter_name == name && h->parameter_type == type) map_action_resize_parameter(slot, p, -1);
  }
  const int32_t p = map_action_add_parameter(slot, name, type);
  if (p < 0) return -1;
  if (!map_action_set_elements(slot, p, count, data)) {
    map_action_resize_parameter(slot, p, -1);
    return -1;
  }
  return p;
}

bool map_action_set_element_value(int32_t slot, int32_t parameter, int32_t element, int32_t value, int32_t component) {
  int32_t old = 0;
  if (!map_action_element_value(slot, parameter, element, &old, component)) return false;
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  const map_action_parameter_type_definition* definition = map_action_type_get(header->parameter_type);
  auto* at = const_cast<std::byte*>(map_action_parameter_elements(slot, parameter).data()) +
             size_t(element) * definition->element_size;
  switch (definition->swap_width) {
    case 0:
      store_value<uint8_t>(at, uint8_t(value));
      break;
    case 2:
      store_value<int16_t>(at, int16_t(value));
      break;
    default:
      store_value<int32_t>(at + 4 * component, value);
  }
  return true;
}

bool map_action_element_from_text(int32_t slot, int32_t parameter, int32_t element, const char* text) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  if (header == nullptr || text == nullptr) return false;
  int32_t value = 0;
  const std::string_view view(text);
  switch (header->parameter_type) {
    case _parameter_flag:
      if (view == "0" || view == "F" || view == "f") return map_action_set_element_value(slot, parameter, element, 0);
      if (view == "1" || view == "T" || view == "t") return map_action_set_element_value(slot, parameter, element, 1);
      return false;
    case _parameter_angle:
      return map_action_angle_from_text(view, &value) && map_action_set_element_value(slot, parameter, element, value);
    case _parameter_world_distance:
      return map_action_distance_from_text(view, &value) && map_action_set_element_value(slot, parameter, element, value);
    case _parameter_fixed:
      return map_action_fixed_from_text(view, &value) && map_action_set_element_value(slot, parameter, element, value);
    case _parameter_field_name:
      return map_action_set_element_value(slot, parameter, element, int32_t(text_to_tag(text)));
    case _parameter_integer: {
      double number = 0;
      if (!map_action_parse_number(view, &number) || number != std::trunc(number) || number < INT32_MIN ||
          number > INT32_MAX) {
        return false;
      }
      return map_action_set_element_value(slot, parameter, element, int32_t(number));
    }
    default:
      return false;
  }
}

bool map_action_choose(int32_t slot, int32_t parameter, int32_t element, int32_t row) {
  int32_t value = 0;
  return map_action_choice_value(slot, parameter, row, &value) &&
         map_action_set_element_value(slot, parameter, element, value);
}

void map_actions_shift_points(int32_t dx, int32_t dy) {
  auto moved = [](int32_t v, int32_t d) { return int32_t(std::clamp<int64_t>(int64_t(v) + d, INT32_MIN, INT32_MAX)); };
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    for (int32_t p = 0; p < record(slot)->parameter_count; ++p) {
      const map_action_parameter_header* header = map_action_parameter(slot, p);
      if (header == nullptr) break;
      const int16_t type = header->parameter_type;
      int32_t pairs = 0;
      if (type == _parameter_world_point2d || type == _parameter_world_point3d) pairs = 1;
      if (type == _parameter_world_rectangle2d) pairs = 2;
      if (pairs == 0) continue;
      const int32_t stride = map_action_type_get(type)->element_size;
      auto* elements = const_cast<std::byte*>(map_action_parameter_elements(slot, p).data());
      for (int32_t e = 0; e < header->element_count; ++e) {
        std::byte* at = elements + size_t(e) * stride;
        for (int32_t pair = 0; pair < pairs; ++pair) {
          store_value<int32_t>(at + 8 * pair, moved(load_value<int32_t>(at + 8 * pair), dx));
          store_value<int32_t>(at + 8 * pair + 4, moved(load_value<int32_t>(at + 8 * pair + 4), dy));
        }
      }
    }
  }
}
