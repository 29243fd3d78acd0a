// Unsaved work survives a crash: while a map is open and changed, every step of the edit journal
// (and every Undo and Redo) is also appended to a recovery file beside the local tags,
// "local\NAME.recovery". Its header names the map and the checksum of the map as stored when the
// first unsaved step was made; each record carries its length and checksum, so a record torn by a
// crash is dropped and everything before it is replayed. Saving, and closing without saving,
// remove it.
#pragma once

#include <cstdint>
#include <string>

#include "cseries/text.h"

enum recovery_file_state : int16_t {
  _recovery_none,      // no recovery file for the map
  _recovery_matching,  // one written against the map as it is stored: it can be replayed
  _recovery_stale,     // one written against another version of the map: never replayed
};

// Only the editor writes and offers recovery files (off until it turns it on): a tool command
// saves its changes before it ends, and must not touch the file a crashed editor left.
void edit_recovery_enable(bool enabled);
bool edit_recovery_enabled();

// The recovery file's path for a map name (working-folder relative).
std::string edit_recovery_path(const char* map_name);

// The map session's calls: a map opened (its name, identifier and stored tag), saved, closed.
void edit_recovery_map_opened(const char* map_name, tag identifier, int32_t tag_index);
void edit_recovery_map_saved();
void edit_recovery_map_closed();

// What waits for the map whose `mesh` tag is tag_index.
recovery_file_state edit_recovery_check(const char* map_name, int32_t tag_index);
// Replays the open map's recovery file (opened with edit_recovery_map_opened) into the journal; the
// number of records replayed, -1 when the file can't be read. The map is left modified.
int32_t edit_recovery_replay();
// Keeps the open map's (or the named map's) recovery file aside as "NAME.recovery-old".
void edit_recovery_set_aside(const char* map_name);
// Writes what is buffered to the disc now (the exit procedures call it on a fatal exit).
void edit_recovery_flush();
