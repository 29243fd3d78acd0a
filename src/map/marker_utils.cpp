#include "map/marker_utils.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_private.h"

namespace {

enum : int32_t { MAXIMUM_MARKER_IDENTIFIER = 32767 };

mesh_definition* header() { return mesh_globals.header; }

int32_t palette_count() { return header() && mesh_globals.palette ? header()->palette_entry_count : 0; }
int32_t marker_count() { return header() && mesh_globals.markers ? header()->marker_count : 0; }

int32_t list_index_of(const marker_data* marker) {
  int32_t count = marker_count();
  if (!marker || count == 0 || marker < mesh_globals.markers || marker >= mesh_globals.markers + count) return NONE;
  return static_cast<int32_t>(marker - mesh_globals.markers);
}

int32_t palette_array_index_of(const marker_palette_entry* entry) {
  int32_t count = palette_count();
  if (!entry || count == 0 || entry < mesh_globals.palette || entry >= mesh_globals.palette + count) return NONE;
  return static_cast<int32_t>(entry - mesh_globals.palette);
}

// The entry's position among the entries of its type.
int16_t palette_position_of(const marker_palette_entry* entry) {
  int32_t array_index = palette_array_index_of(entry);
  if (array_index == NONE) return NONE;
  int16_t position = 0;
  for (int32_t i = 0; i < array_index; ++i) position += mesh_globals.palette[i].type == entry->type;
  return position;
}

// Resizes one of the two lists to count records. Growing that fails leaves the list as it was;
// shrinking that fails is reported and the header still counts one record fewer.
bool resize_list(void** list, int32_t* header_count, int32_t* header_size, int32_t record_size, int32_t count,
                 const char* shrink_failure) {
  bool shrinking = count < *header_count;
  void* resized = resize_block(*list, static_cast<size_t>(count) * record_size);
  if (!resized && count > 0) {
    if (!shrinking) return false;
    POST_ERROR(error_out_of_memory, "%s", shrink_failure);
  } else {
    *list = resized;
  }
  *header_count = count;
  *header_size = count * record_size;
  return true;
}

bool resize_palette(int32_t count) {
  return resize_list(reinterpret_cast<void**>(&mesh_globals.palette), &header()->palette_entry_count,
                     &header()->palette_size, sizeof(marker_palette_entry), count,
                     "couldn't delete marker palette entry");
}

bool resize_markers(int32_t count) {
  return resize_list(reinterpret_cast<void**>(&mesh_globals.markers), &header()->marker_count,
                     &header()->markers_size, sizeof(marker_data), count, "couldn't delete marker");
}

// ---- the per-type procedures ----

// The per-type object procedures belong to the world, which registers them at start-up; until it
// does, markers get no objects.
marker_type_procedures registered_procedures[NUMBER_OF_MARKER_TYPES] = {};
// Told of each marker about to be deleted (the connectors drop it from their chains).
void (*delete_listener)(const marker_data& marker) = nullptr;

const marker_type_procedures* procedures_of(int16_t type) {
  return type >= 0 && type < NUMBER_OF_MARKER_TYPES ? &registered_procedures[type] : nullptr;
}

// The marker's object, when it is still the one the marker made (a reused slot is not).
bool marker_object_is_current(const marker_data& marker) {
  const marker_type_procedures* procedures = procedures_of(marker.type);
  return marker.object_index != NONE && procedures && procedures->identifier_of &&
         procedures->identifier_of(marker.object_index) == marker.object_identifier;
}

}  // namespace

void palette_entry_load_definition(marker_palette_entry* entry) {
  if (!entry) return;
  entry->definition_index = NONE;
  const marker_type_definition* type = marker_type_get(entry->type);
  definition_group* group = type && type->group_tag != NONE_TAG ? definition_group_find(type->group_tag) : nullptr;
  if (!group || entry->definition_tag == NONE_TAG) return;
  entry->definition_index = definition_load(group, entry->definition_tag);
}

void marker_types_register_procedures(const marker_type_procedures* table) {
  for (int32_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) registered_procedures[type] = table[type];
}

// A marker whose entry's definition is loaded (always true for types without definitions).
marker_palette_entry* marker_entry_ready(const marker_data& marker) {
  marker_palette_entry* entry = palette_entry_get(marker.type, marker.palette_index);
  if (!entry) return nullptr;
  const marker_type_definition* type = marker_type_get(marker.type);
  if (type && type->group_tag != NONE_TAG && entry->definition_index == NONE) return nullptr;
  return entry;
}


// ---- iterators ----

void marker_iterator(marker_iterator_state* state, int16_t type, int16_t palette_index, int16_t object_index) {
  *state = {type, palette_index, object_index, 0, NONE};
}

marker_data* marker_next(marker_iterator_state* state) {
  for (int32_t count = marker_count(); state->cursor < count; ++state->cursor) {
    marker_data* marker = &mesh_globals.markers[state->cursor];
    if ((state->type == NONE || marker->type == state->type) &&
        (state->palette_index == NONE || marker->palette_index == state->palette_index) &&
        (state->object_index == NONE || marker->object_index == state->object_index)) {
      state->last_index = state->cursor++;
      return marker;
    }
  }
  return nullptr;
}

void palette_iterator(palette_iterator_state* state, int16_t type, tag definition_tag) {
  *state = {type, definition_tag, 0, NONE, 0};
}

marker_palette_entry* palette_next(palette_iterator_state* state) {
  for (int32_t count = palette_count(); state->cursor < count; ++state->cursor) {
    marker_palette_entry* entry = &mesh_globals.palette[state->cursor];
    if (state->type != NONE && entry->type != state->type) continue;
    bool matches = state->definition_tag == NONE_TAG || entry->definition_tag == state->definition_tag;
    if (state->type != NONE) ++state->type_count;
    if (matches) {
      state->last_index = state->cursor++;
      return entry;
    }
  }
  return nullptr;
}

// ---- palette ----

marker_palette_entry* palette_entry_get(int16_t type, int16_t palette_index) {
  int16_t of_type = 0;
  for (int32_t i = 0, count = palette_count(); i < count; ++i) {
    if (mesh_globals.palette[i].type != type) continue;
    if (of_type++ == palette_index) return &mesh_globals.palette[i];
  }
  log_note("marker_utils", __LINE__, "marker palette index #%d for type #%d not in [0,#%d)", palette_index, type,
           of_type);
  return nullptr;
}

int16_t palette_entry_count_of_type(int16_t type) {
  int16_t count = 0;
  for (int32_t i = 0, entries = palette_count(); i < entries; ++i) count += mesh_globals.palette[i].type == type;
  return count;
}

int16_t palette_entry_index_of(const marker_palette_entry* entry) {
  if (!entry) return NONE;
  int16_t position = 0;
  for (int32_t i = 0, count = palette_count(); i < count; ++i) {
    const marker_palette_entry& other = mesh_globals.palette[i];
    if (other.type != entry->type) continue;
    if (other.definition_tag == entry->definition_tag) return position;
    ++position;
  }
  return NONE;
}

marker_palette_entry* palette_entry_find_or_add(const marker_palette_entry& entry_template) {
  if (!header()) return nullptr;
  for (int32_t i = 0, count = palette_count(); i < count; ++i) {
    marker_palette_entry& entry = mesh_globals.palette[i];
    if (entry.type == entry_template.type && entry.definition_tag == entry_template.definition_tag &&
        entry.team == entry_template.team && entry.flags == entry_template.flags)
      return &entry;
  }
  int32_t count = palette_count();
  if (!resize_palette(count + 1)) return nullptr;
  marker_palette_entry& added = mesh_globals.palette[count];
  added = entry_template;
  added.instance_count = 0;
  added.definition_index = NONE;
  return &added;
}

bool palette_entry_delete(marker_palette_entry* entry, int16_t palette_index) {
  int32_t array_index = palette_array_index_of(entry);
  if (array_index == NONE || palette_position_of(entry) != palette_index) return false;
  const int16_t type = entry->type;

  for (int32_t i = 0; i < marker_count();) {
    marker_data& marker = mesh_globals.markers[i];
    if (marker.type == type && marker.palette_index == palette_index) {
      marker_delete(&marker);  // the following markers move down into i
      continue;
    }
    if (marker.type == type && marker.palette_index > palette_index) --marker.palette_index;
    ++i;
  }

  int32_t count = palette_count();
  std::memmove(&mesh_globals.palette[array_index], &mesh_globals.palette[array_index + 1],
               static_cast<size_t>(count - array_index - 1) * sizeof(marker_palette_entry));
  resize_palette(count - 1);
  return true;
}

// ---- markers ----

marker_data* marker_add(const marker_data& marker_template) {
  if (!header()) return nullptr;
  int32_t count = marker_count();
  int32_t highest = NONE;
  std::vector<bool> used(MAXIMUM_MARKER_IDENTIFIER + 1, false);
  for (int32_t i = 0; i < count; ++i) {
    const marker_data& marker = mesh_globals.markers[i];
    if (marker.type != marker_template.type) continue;
    highest = std::max<int32_t>(highest, marker.identifier);
    if (marker.identifier > 0) used[size_t(marker.identifier)] = true;
  }
  int32_t identifier = std::max<int32_t>(FIRST_ADDED_MARKER_IDENTIFIER, highest + 1);
  if (identifier > MAXIMUM_MARKER_IDENTIFIER) {
    // The top of the range is taken: reuse the lowest free identifier above 10000 instead of
    // wrapping round into negative numbers.
    identifier = FIRST_ADDED_MARKER_IDENTIFIER;
    while (identifier <= MAXIMUM_MARKER_IDENTIFIER && used[size_t(identifier)]) ++identifier;
    if (identifier > MAXIMUM_MARKER_IDENTIFIER) return nullptr;
  }

  if (!resize_markers(count + 1)) return nullptr;
  marker_data& added = mesh_globals.markers[count];
  added = marker_template;
  added.identifier = static_cast<int16_t>(identifier);
  added.flags &= ~uint32_t(_marker_selected);  // a copy of a selected marker starts unselected
  added.object_index = NONE;
  added.object_identifier = NONE;
  return &added;
}

void markers_set_delete_listener(void (*listener)(const marker_data& marker)) { delete_listener = listener; }

bool marker_delete(marker_data* marker) {
  int32_t index = list_index_of(marker);
  if (index == NONE) return false;
  if (delete_listener) delete_listener(*marker);
  marker_remove_object(marker);
  int32_t count = marker_count();
  std::memmove(&mesh_globals.markers[index], &mesh_globals.markers[index + 1],
               static_cast<size_t>(count - index - 1) * sizeof(marker_data));
  resize_markers(count - 1);
  return true;
}

marker_data* marker_find_by_identifier(int16_t type, int16_t identifier) {
  for (int32_t i = 0, count = marker_count(); i < count; ++i) {
    marker_data& marker = mesh_globals.markers[i];
    if (marker.type == type && marker.identifier == identifier) return &marker;
  }
  return nullptr;
}

marker_data* marker_find_by_object(int16_t type, int16_t object_index) {
  if (object_index == NONE) return nullptr;
  marker_iterator_state state;
  marker_iterator(&state, type, NONE, object_index);
  return marker_next(&state);
}

void markers_number() {
  const int32_t count = marker_count();
  for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) {
    std::vector<bool> used(MAXIMUM_MARKER_IDENTIFIER + 1, false);
    for (int32_t i = 0; i < count; ++i) {
      const marker_data& marker = mesh_globals.markers[i];
      if (marker.type == type && marker.identifier > 0) used[size_t(marker.identifier)] = true;
    }
    int32_t next = FIRST_READ_MARKER_IDENTIFIER;
    for (int32_t i = 0; i < count; ++i) {
      marker_data& marker = mesh_globals.markers[i];
      if (marker.type != type || marker.identifier != 0) continue;
      while (next <= MAXIMUM_MARKER_IDENTIFIER && used[size_t(next)]) ++next;
      if (next > MAXIMUM_MARKER_IDENTIFIER) break;
      marker.identifier = static_cast<int16_t>(next);
      used[size_t(next)] = true;
    }
  }
}

void markers_reset_palette() {
  for (int32_t i = 0, count = palette_count(); i < count; ++i) {
    mesh_globals.palette[i].instance_count = 0;
    mesh_globals.palette[i].definition_index = NONE;
  }
  // Stored object references mean nothing in this run.
  for (int32_t i = 0, count = marker_count(); i < count; ++i) {
    mesh_globals.markers[i].object_index = NONE;
    mesh_globals.markers[i].object_identifier = NONE;
  }
  markers_number();
}

void markers_instantiate() {
  for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) {
    for (int32_t i = 0, count = palette_count(); i < count; ++i) {
      if (mesh_globals.palette[i].type == type) palette_entry_load_definition(&mesh_globals.palette[i]);
    }
    for (int32_t i = 0; i < marker_count();) {
      marker_data& marker = mesh_globals.markers[i];
      if (marker.type != type) {
        ++i;
        continue;
      }
      marker.object_index = NONE;
      marker.object_identifier = NONE;
      if (type == _marker_unit && !palette_entry_get(type, marker.palette_index)) {
        marker_delete(&marker);  // a unit of nothing
        continue;
      }
      marker_create_object(&marker);
      ++i;
    }
  }
}

bool marker_create_object(marker_data* marker) {
  if (list_index_of(marker) == NONE || marker_object_is_current(*marker)) return false;
  const marker_type_procedures* procedures = procedures_of(marker->type);
  marker_palette_entry* entry = marker_entry_ready(*marker);
  if (!procedures || !procedures->create || !entry) return false;
  int32_t slot = procedures->create(*marker, *entry);
  if (slot == NONE) return false;
  marker->object_index = static_cast<int16_t>(slot);
  marker->object_identifier = procedures->identifier_of(slot);
  ++entry->instance_count;
  return true;
}

void marker_remove_object(marker_data* marker) {
  if (!marker || marker->object_index == NONE) return;
  if (marker_object_is_current(*marker)) {
    procedures_of(marker->type)->remove(marker->object_index);
    marker_palette_entry* entry = palette_entry_get(marker->type, marker->palette_index);
    if (entry && entry->instance_count > 0) --entry->instance_count;
  }
  marker->object_index = NONE;
  marker->object_identifier = NONE;
}

void marker_refresh_object(marker_data* marker) {
  if (marker && marker_object_is_current(*marker)) procedures_of(marker->type)->refresh(*marker);
}

void markers_convert_from_version_4() {
  for (int32_t i = 0, count = marker_count(); i < count; ++i) {
    marker_data& marker = mesh_globals.markers[i];
    // The old 32-bit tag at offset 8 came through the current layout's two int16 conversions,
    // which leave its high half in `identifier` and its low half in `minimum_difficulty`.
    tag definition_tag = (tag(uint16_t(marker.identifier)) << 16) | uint16_t(marker.minimum_difficulty);
    marker_palette_entry entry_template = {};
    entry_template.type = marker.type;
    entry_template.definition_tag = definition_tag;
    entry_template.team = NONE;
    // Not the palette iterator: its NONE filter means any tag, but an old "No Tag" marker wants
    // the entry whose tag is NONE.
    marker_palette_entry* entry = nullptr;
    for (int32_t e = 0, entries = palette_count(); e < entries && !entry; ++e) {
      marker_palette_entry& candidate = mesh_globals.palette[e];
      if (candidate.type == marker.type && candidate.definition_tag == definition_tag) entry = &candidate;
    }
    if (!entry) entry = palette_entry_find_or_add(entry_template);
    int16_t palette_index = entry ? palette_entry_index_of(entry) : static_cast<int16_t>(NONE);

    marker.palette_index = palette_index;
    marker.identifier = 0;
    marker.minimum_difficulty = 0;
    std::memset(marker.user_data, 0, sizeof(marker.user_data));
    std::memset(marker.kept_52, 0, sizeof(marker.kept_52));
    marker.object_index = 0;
    marker.object_identifier = 0;
  }
}
