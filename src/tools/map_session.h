// The open map as the editor sees it, without any window: opening a `mesh` tag (the world started
// with the editor's two players, the map loaded, its markers numbered and given their objects, the
// teams built, the per-map editor state reset), saving it, and closing it with the question
// "Save '%s' before closing?" through the UI host. It also keeps the shell's flags: the open-map
// count, the modified flag and the shadow-maps-changed flag.
#pragma once

#include <cstdint>
#include <string>

// Per-map editor state registers here to be reset with every map (vertex selection, overhead view,
// connector snapshot ...). Any procedure may be none.
struct map_session_client {
  const char* name;
  void (*opened)();  // the map, its objects and its teams are ready
  bool (*saving)();  // before the mesh tag is written; false stops the save
  void (*closing)(); // before the map is unloaded
};

enum { MAXIMUM_MAP_SESSION_CLIENTS = 16 };

// False when the table is full; the client must outlive its registration.
bool map_session_register(const map_session_client* client);
void map_session_unregister(const map_session_client* client);

// The procedure that empties the level behind a closed map (every definition, data array and world
// object); installed by engine initialisation.
void map_session_set_level_dispose(void (*procedure)());

int32_t map_open_count();
bool map_is_open();

// Opens the map whose `mesh` tag is tag_index. Any map already open is closed first (with its
// question; false when that close is cancelled). False when the map can't be loaded: nothing stays
// open then. Opening clears the modified and shadow-maps-changed flags.
[[nodiscard]] bool map_open(int32_t tag_index);
// The first steps of opening alone, for a map still being built (New Map): the count goes up, the
// map's tag is remembered and the world starts; map_reopen then loads it. False for a tag that is
// not a `mesh` tag.
[[nodiscard]] bool map_start_world(int32_t tag_index);
// Saves the open map: the clients' saving procedures, the LOD data, the mesh tag. Clears both
// flags on success; leaves them set on failure.
[[nodiscard]] bool map_save();
// Closes the open map, asking first when it has unsaved changes: Yes saves (a failed save keeps the
// map open), No discards, Cancel keeps the map open. False when the map stays open; true when it
// was closed or none was open.
bool map_close();
// Closes the open map (with its question) and opens it again from its tag. Nothing when no map is
// open; false when the close was cancelled or the map can't be opened again.
[[nodiscard]] bool map_reopen();

void map_set_modified(bool modified);
bool map_is_modified();
void map_set_shadow_maps_changed(bool changed);
bool map_shadow_maps_changed();

// The open map's name, "" when none.
const char* map_name();
// "mesh:<name>" while a map is open, "Vellgrim" otherwise.
std::string map_window_title();
