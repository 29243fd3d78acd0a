#include "tools/map_session.h"

#include <cstdio>

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "engine/game_data.h"
#include "engine/preferences.h"
#include "input/action_queue.h"
#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "tools/edit_journal.h"
#include "tools/edit_recovery.h"
#include "tools/shadow_editor.h"
#include "tag_files/tag_files.h"
#include "world/teams.h"
#include "world/world.h"

namespace {

struct map_session_state {
  int32_t open_count;
  tag map_identifier;  // of the open map's `mesh` tag
  bool modified;
  bool shadow_maps_changed;
  const map_session_client* clients[MAXIMUM_MAP_SESSION_CLIENTS];
};
map_session_state session = {0, NONE_TAG, false, false, {}};
// Level disposal belongs to the start-up layer above; it registers it here.
void (*level_dispose_procedure)() = nullptr;

template <class Call>
void for_each_client(Call call) {
  for (const map_session_client* client : session.clients) {
    if (client) call(*client);
  }
}

// The level behind an open map: everything it loaded and created goes, the preferences it loaded
// are written back.
void dispose_level() {
  for (preferences_descriptor* descriptor : {&vellgrim_preferences_descriptor, &sound_preferences_descriptor}) {
    preferences_save(descriptor);
    preferences_dispose(descriptor);
  }
  mesh_unload();
  if (level_dispose_procedure) level_dispose_procedure();
  if (game_data* data = game_data_get()) data->state = _game_state_none;
}

// Ends the session of the open map: its level goes and the flags are cleared.
void end_session() {
  dispose_level();
  --session.open_count;
  edit_recovery_map_closed();
  edit_journal_clear();
  session.map_identifier = NONE_TAG;
  session.modified = false;
  session.shadow_maps_changed = false;
}

// Unsaved edits written ahead by a run that stopped: offered back once, or kept aside.
void offer_recovery(int32_t tag_index) {
  const char* name = map_name();
  edit_recovery_map_opened(name, session.map_identifier, tag_index);
  if (!edit_recovery_enabled()) return;
  switch (edit_recovery_check(name, tag_index)) {
    case _recovery_none:
      return;
    case _recovery_stale:
      // The map changed since (another program saved it): the steps no longer fit it.
      log_note("map_session", __LINE__, "the recovery file of '%s' was written against another version of it.", name);
      edit_recovery_set_aside(name);
      return;
    case _recovery_matching:
      break;
  }
  char question[BOUNDED_TEXT_LENGTH + 1];
  format_bounded(question, "'%s' was not saved when Vellgrim last stopped. Recover the unsaved changes?", name);
  if (ui_message_box("Warning", question, ui_icon_warning, ui_buttons_yes_no) == ui_answer_yes) {
    edit_recovery_replay();
  } else {
    edit_recovery_set_aside(name);
  }
}

}  // namespace

void map_session_set_level_dispose(void (*procedure)()) { level_dispose_procedure = procedure; }

bool map_session_register(const map_session_client* client) {
  for (const map_session_client*& slot : session.clients) {
    if (slot == client) return true;
  }
  for (const map_session_client*& slot : session.clients) {
    if (!slot) {
      slot = client;
      return true;
    }
  }
  return false;
}

void map_session_unregister(const map_session_client* client) {
  for (const map_session_client*& slot : session.clients) {
    if (slot == client) slot = nullptr;
  }
}

int32_t map_open_count() { return session.open_count; }
bool map_is_open() { return session.open_count > 0; }

bool map_open(int32_t tag_index) {
  if (map_is_open() && !map_close()) return false;
  if (!map_start_world(tag_index)) return false;
  if (!mesh_load(session.map_identifier)) {
    end_session();
    return false;
  }
  markers_reset_palette();
  teams_build_from_palette(mesh_palette(), mesh_palette_count());
  markers_instantiate();
  // The editor plays no team of its own: the observer takes the last observer marker of team 0.
  if (!observer_place(-1)) {
    end_session();
    return false;
  }
  // Keys pressed before the map was there move nothing.
  input_flush();
  preferences_load(&vellgrim_preferences_descriptor);
  preferences_load(&sound_preferences_descriptor);
  for_each_client([](const map_session_client& client) {
    if (client.opened) client.opened();
  });
  edit_journal_clear();
  session.modified = false;
  session.shadow_maps_changed = false;
  offer_recovery(tag_file_find(MESH_DEFINITION_GROUP_TAG, session.map_identifier));
  return true;
}

bool map_start_world(int32_t tag_index) {
  tag identifier = tag_file_get_identifier(tag_index);
  if (identifier == NONE_TAG || tag_file_get_group(tag_index) != MESH_DEFINITION_GROUP_TAG) return false;
  ++session.open_count;
  edit_journal_clear();
  session.map_identifier = identifier;
  definition_groups_validate();
  if (!world_start(world_editor_game_description())) {
    end_session();
    return false;
  }
  // A map counted open with a game that is not running would end the main loop, so the game runs
  // from here on, also for a map still being built.
  if (game_data* data = game_data_get()) data->state = _game_state_running;
  return true;
}

bool map_save() {
  if (!map_is_open()) return false;
  bool ready = true;
  for_each_client([&ready](const map_session_client& client) {
    if (ready && client.saving) ready = client.saving();
  });
  // The shadow maps in the collection, the map and the preferences saved with it: one commit.
  tag_files_commit_scope commit;
  // A failed shadow write stops the save with both flags kept.
  if (!ready || !mesh_is_open() || (session.shadow_maps_changed && !shadow_write_maps()) || !mesh_recompute_lod() ||
      !mesh_save() || !commit.end()) {
    return false;
  }
  edit_journal_mark_saved();
  edit_recovery_map_saved();
  session.modified = false;
  session.shadow_maps_changed = false;
  return true;
}

bool map_close() {
  if (!map_is_open()) return true;
  if (map_is_modified()) {
    char question[BOUNDED_TEXT_LENGTH + 1];
    format_bounded(question, "Save '%s' before closing?", map_name());
    switch (ui_message_box("Warning", question, ui_icon_warning, ui_buttons_yes_no_cancel)) {
      case ui_answer_yes:
        // Closing after a failed save would lose the changes the author just asked to keep.
        if (!map_save()) return false;
        break;
      case ui_answer_no:
        break;
      default:
        return false;
    }
  }
  for_each_client([](const map_session_client& client) {
    if (client.closing) client.closing();
  });
  end_session();
  return true;
}

bool map_reopen() {
  if (!map_is_open()) return true;
  tag identifier = session.map_identifier;
  if (!map_close()) return false;
  return map_open(tag_file_find(MESH_DEFINITION_GROUP_TAG, identifier));
}

void map_set_modified(bool modified) {
  session.modified = modified && map_is_open();
  if (!modified) edit_journal_mark_saved();
}
bool map_is_modified() { return map_is_open() && (session.modified || edit_journal_differs_from_saved()); }
void map_set_shadow_maps_changed(bool changed) { session.shadow_maps_changed = changed && map_is_open(); }
bool map_shadow_maps_changed() { return session.shadow_maps_changed; }

const char* map_name() {
  return map_is_open() ? tag_file_get_name(tag_file_find(MESH_DEFINITION_GROUP_TAG, session.map_identifier)) : "";
}

std::string map_window_title() { return map_is_open() ? std::string("mesh:") + map_name() : "Vellgrim"; }
