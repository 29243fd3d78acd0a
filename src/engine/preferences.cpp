#include "engine/preferences.h"

#include <cstdio>
#include <cstring>

#include "cseries/error_manager.h"
#include "tag_files/tag_files.h"

namespace {

using namespace byte_swap_letters;

// ---- "vellgrim" ----

constexpr int16_t vellgrim_codes[] = {
    B, 1,
    S, S, S, S, S, 2,                        // tool flag words
    L, S, S, S, 2, L, L, L, L, L, L, L, L, L,  // height painter
    L, S, 2, L,                                // terrain painter
    L, L,                                       // displacement bounds
    E};
const byte_swap_description vellgrim_description = byte_swap_describe(
    "vellgrim preferences", sizeof(vellgrim_preferences), vellgrim_codes);

void vellgrim_defaults(void* record) { vellgrim_preferences_set_defaults(static_cast<vellgrim_preferences*>(record)); }
bool vellgrim_validate(const void*) { return true; }

// ---- "input" ----

constexpr int16_t input_codes[] = {B, 1, S, 2746, E};
const byte_swap_description input_description = byte_swap_describe(
    "input preferences", sizeof(input_preferences), input_codes);

void input_defaults(void* record) { static_cast<input_preferences*>(record)->key_binding_set = 0; }
bool input_validate(const void* record) {
  int16_t set = static_cast<const input_preferences*>(record)->key_binding_set;
  return set >= 0 && set < NUMBER_OF_BUILT_IN_KEY_BINDING_SETS;
}

// ---- "sound" ----

constexpr int16_t sound_codes[] = {B, 1, S, S, 4, E};
const byte_swap_description sound_description = byte_swap_describe(
    "sound preferences", sizeof(sound_preferences), sound_codes);

void sound_defaults(void* record) { static_cast<sound_preferences*>(record)->volume = MAXIMUM_SOUND_VOLUME; }
bool sound_validate(const void* record) {
  int16_t volume = static_cast<const sound_preferences*>(record)->volume;
  return volume >= 0 && volume <= MAXIMUM_SOUND_VOLUME;
}

// The `pref` tag of the record's name, NONE when there is none.
int32_t preferences_find_named_tag(const preferences_descriptor* descriptor) {
  tag_file_filter filter = tag_file_filter_any();
  std::snprintf(filter.name, sizeof(filter.name), "%s", descriptor->name);
  filter.group_tag = PREFERENCES_GROUP_TAG;
  int32_t tag_index = NONE;
  return tag_file_search(filter, &tag_index, 1) > 0 ? tag_index : NONE;
}

// The stored tag a record is read from: the `pref` tag of its name, or else the one whose
// identifier is derived from the name (the identifier a new tag of that name would get).
int32_t preferences_find_tag(const preferences_descriptor* descriptor) {
  int32_t tag_index = preferences_find_named_tag(descriptor);
  return tag_index != NONE ? tag_index : tag_file_find(PREFERENCES_GROUP_TAG, text_to_tag(descriptor->name));
}

bool preferences_read_stored(preferences_descriptor* descriptor) {
  int32_t tag_index = preferences_find_tag(descriptor);
  if (tag_index == NONE) return false;
  if (tag_file_get_version(tag_index) != static_cast<uint16_t>(descriptor->version)) return false;
  if (tag_file_get_size(tag_index) != descriptor->size) return false;
  if (!tag_file_read(tag_index, 0, descriptor->size, descriptor->data)) return false;
  if (descriptor->description &&
      !byte_swap_data(*descriptor->description, descriptor->data, descriptor->size, 1))
    return false;
  return !descriptor->validate || descriptor->validate(descriptor->data);
}

}  // namespace

preferences_descriptor vellgrim_preferences_descriptor = {
    "vellgrim", sizeof(vellgrim_preferences), VELLGRIM_PREFERENCES_VERSION,
    vellgrim_defaults, vellgrim_validate, &vellgrim_description, nullptr};
preferences_descriptor input_preferences_descriptor = {
    "input", sizeof(input_preferences), INPUT_PREFERENCES_VERSION,
    input_defaults, input_validate, &input_description, nullptr};
preferences_descriptor sound_preferences_descriptor = {
    "sound", sizeof(sound_preferences), SOUND_PREFERENCES_VERSION,
    sound_defaults, sound_validate, &sound_description, nullptr};

void vellgrim_preferences_set_defaults(vellgrim_preferences* preferences) {
  *preferences = {};
  preferences->place_sound_source_flags = 7;
  preferences->place_unit_flags = 1;
  preferences->place_scenery_flags = 1;
  preferences->place_model_flags = 3;
  preferences->place_model_animation_flags = 3;

  height_painter_preferences& painter = preferences->height_painter;
  painter.batch_merge = 1;
  painter.radius = 2.5f;
  painter.feather = 2.5f;
  painter.tool_rates[0] = 1.0f / 12.0f;
  painter.tool_rates[1] = 0.0f;
  painter.tool_rates[2] = 1.0f;
  painter.filter_parameters[0] = 1.0f;
  painter.filter_parameters[1] = 0.0f;
  painter.filter_parameters[2] = 3.01f;
  painter.filter_parameters[3] = 0.6f;

  preferences->terrain_painter.merge_strokes = 1;
  preferences->terrain_painter.radius = 2.5f;
  preferences->displacement_lower_bound = -1536;
  preferences->displacement_upper_bound = 1536;
}

void* preferences_load(preferences_descriptor* descriptor) {
  if (!descriptor->data) {
    descriptor->data = resize_block(nullptr, static_cast<size_t>(descriptor->size));
    if (!descriptor->data) {
      POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for %s preferences", descriptor->size,
                 descriptor->name);
      return nullptr;
    }
  }
  if (!preferences_read_stored(descriptor)) {
    std::memset(descriptor->data, 0, static_cast<size_t>(descriptor->size));
    if (descriptor->defaults) descriptor->defaults(descriptor->data);
  }
  return descriptor->data;
}

bool preferences_save(preferences_descriptor* descriptor) {
  if (!descriptor->data) return true;

  // An existing tag of the record's name keeps its identifier and is replaced whole, version
  // included; a missing one is created first. Only the name counts here: a tag found through the
  // derived identifier may belong to another record.
  int32_t tag_index = preferences_find_named_tag(descriptor);
  if (tag_index == NONE) tag_index = tag_file_create(PREFERENCES_GROUP_TAG, descriptor->name, descriptor->version);

  bool written = false;
  if (tag_index != NONE) {
    const byte_swap_description* description = descriptor->description;
    if (!description || byte_swap_data(*description, descriptor->data, descriptor->size, 1)) {
      written = tag_file_replace_contents(&tag_index, descriptor->data, descriptor->size, descriptor->version);
      if (description) byte_swap_data(*description, descriptor->data, descriptor->size, 1);
    }
  }
  if (!written) POST_ERROR(error_file_write, "couldn't write %s preferences", descriptor->name);
  return written;
}

void preferences_dispose(preferences_descriptor* descriptor) {
  descriptor->data = resize_block(descriptor->data, 0);
}

vellgrim_preferences* vellgrim_preferences_get() {
  return static_cast<vellgrim_preferences*>(vellgrim_preferences_descriptor.data);
}
input_preferences* input_preferences_get() {
  return static_cast<input_preferences*>(input_preferences_descriptor.data);
}
sound_preferences* sound_preferences_get() {
  return static_cast<sound_preferences*>(sound_preferences_descriptor.data);
}
