// The operations on the open map's marker palette and marker list: iterators, queries, adding and
// deleting entries and markers, numbering, and the world objects that show the markers. Both lists
// are the mesh's plain arrays (mesh_globals.palette and .markers), grown and shrunk in place with
// the header's counts and sizes kept in step; a pointer into either list is good only until the
// next operation that adds or deletes.
#pragma once

#include <cstdint>

#include "map/markers.h"

enum {
  FIRST_READ_MARKER_IDENTIFIER = 1000,    // markers stored without an identifier
  FIRST_ADDED_MARKER_IDENTIFIER = 10000,  // markers added in the editor
};

enum marker_difficulty : int16_t {
  _difficulty_timid = 0,
  _difficulty_simple,
  _difficulty_normal,
  _difficulty_heroic,
  _difficulty_legendary,
  NUMBER_OF_DIFFICULTY_LEVELS
};

// ---- iterators (-1 filters match anything) ----

struct marker_iterator_state {
  int16_t type, palette_index, object_index;
  int32_t cursor;      // the next list index to look at
  int32_t last_index;  // the list index of the marker last yielded, NONE before the first
};
void marker_iterator(marker_iterator_state* state, int16_t type, int16_t palette_index, int16_t object_index);
marker_data* marker_next(marker_iterator_state* state);

struct palette_iterator_state {
  int16_t type;
  tag definition_tag;
  int32_t cursor;
  int32_t last_index;
  int16_t type_count;  // entries of the filtered type passed so far
};
void palette_iterator(palette_iterator_state* state, int16_t type, tag definition_tag);
marker_palette_entry* palette_next(palette_iterator_state* state);

// ---- palette ----

// The palette_index-th entry of the type (from 0); none out of range (noted in the log).
marker_palette_entry* palette_entry_get(int16_t type, int16_t palette_index);
int16_t palette_entry_count_of_type(int16_t type);
// The palette index markers use for the entry: the position, among its type, of the first entry
// with the same definition tag.
int16_t palette_entry_index_of(const marker_palette_entry* entry);
// The first entry of the template's type and tag whose team and flags match too, or a new copy of
// the template appended to the palette (run-time fields cleared); none when the palette can't grow.
marker_palette_entry* palette_entry_find_or_add(const marker_palette_entry& entry_template);
// Deletes every marker of the entry's type and palette index (their objects first), moves the later
// indices of the type down by one and removes the entry. False when palette_index is not the
// entry's position among its type.
bool palette_entry_delete(marker_palette_entry* entry, int16_t palette_index);

// ---- markers ----

// Appends a copy of the template (without an object) with a fresh identifier: 10000, or one more
// than the highest of its type. None when the list can't grow.
marker_data* marker_add(const marker_data& marker_template);
// Removes the marker's object, then the marker. False for a pointer outside the list.
bool marker_delete(marker_data* marker);
// Told of every marker marker_delete is about to delete (palette entry deletion and the markers
// outside a resized map included), while it is still in the list, its object still there; the
// listener must not add or delete markers. None clears it.
void markers_set_delete_listener(void (*listener)(const marker_data& marker));
marker_data* marker_find_by_identifier(int16_t type, int16_t identifier);
marker_data* marker_find_by_object(int16_t type, int16_t object_index);
// Markers without an identifier get 1000, 1001, ... in list order, per type, skipping identifiers
// their type already uses.
void markers_number();
// Forgets every run-time index (entries: no instances, no definition; markers: no object), then
// numbers the markers.
void markers_reset_palette();
// The palette-entry procedure: loads the definition the entry names from its type's group into
// definition_index (none when it names nothing or the definition can't be loaded).
void palette_entry_load_definition(marker_palette_entry* entry);
// Loads each entry's definition and creates each marker's object, type by type.
void markers_instantiate();
// Creates the marker's object when it has none (and its entry's definition is loaded).
bool marker_create_object(marker_data* marker);
// Removes the marker's object, if any, and counts it off its entry's instances.
void marker_remove_object(marker_data* marker);
// After an edit: the object follows the marker's position, angles, "Invisible" and shading.
void marker_refresh_object(marker_data* marker);

// ---- the objects that show markers ----

// A marker type's object procedures. The world layer owns the objects and registers a table of
// these at start-up; a type whose entries are null never gets objects.
struct marker_type_procedures {
  int32_t (*create)(const marker_data& marker, const marker_palette_entry& entry);  // the new slot or NONE
  bool (*remove)(int32_t slot);
  int16_t (*identifier_of)(int32_t slot);
  void (*refresh)(const marker_data& marker);
};

// Installs the procedures of every marker type (a table of NUMBER_OF_MARKER_TYPES entries, copied).
void marker_types_register_procedures(const marker_type_procedures* table);
// A type's ready marker palette entry: the marker's entry when its definition is loaded (always
// for types without definitions); none otherwise.
marker_palette_entry* marker_entry_ready(const marker_data& marker);

// Maps before version 5 kept a marker's definition tag at offset 8: gives each marker a palette
// entry of its type and tag (adding one when missing) and rewrites it in the current layout.
void markers_convert_from_version_4();
