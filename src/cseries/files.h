// The file layer: every file and folder is reached through a fixed-size file specification (a
// volume number and a backslash-separated path relative to it). Operations return true on success
// and leave their outcome in the last file error (0, or an error_code 3..7).
#pragma once

#include <cstddef>
#include <cstdint>

#include "cseries/text.h"

enum {
  MAXIMUM_FILE_PATH_LENGTH = 255,  // characters of a path, without the NUL
  MAXIMUM_VOLUMES = 8,             // entries of the volume-name table
  MAXIMUM_VOLUME_NAME_LENGTH = 255,
  MAXIMUM_ENUMERATION_DEPTH = 8,   // folder levels walked by a descending enumeration
};

inline constexpr tag FILE_SPECIFICATION_SIGNATURE = make_tag("filo");

enum file_specification_flags : uint16_t {
  _file_specification_is_file = 1,  // clear: the path names a folder
};

enum file_open_mode {
  _file_open_read = 1,
  _file_open_write = 2,
  _file_open_at_end = 4,
};

// Parts of file_spec_get_text; 7 = the full path, 6 = name with extension, 2 = bare name.
enum file_text_parts {
  _file_text_folder = 1,
  _file_text_name = 2,
  _file_text_extension = 4,
  _file_text_full = 7,
  _file_text_name_and_extension = 6,
};

enum file_enumeration_flags {
  _file_enumeration_descend = 1,
};

struct file_specification {
  tag signature;     // `filo` once initialised; other values are refused by every operation
  uint16_t flags;    // file_specification_flags
  int16_t volume;    // 0: relative to the working folder; n >= 1: the disc named volume name n
  char path[MAXIMUM_FILE_PATH_LENGTH + 1];
  int32_t handle;    // the platform handle while open, NONE otherwise
};
static_assert(sizeof(file_specification) == 268);
static_assert(offsetof(file_specification, path) == 8);
static_assert(offsetof(file_specification, handle) == 264);

// The outcome of the last file operation: 0 or error_file_read .. error_file_general.
int16_t file_last_error();

// Specifications. Paths are cut at MAXIMUM_FILE_PATH_LENGTH characters without complaint.
void file_spec_initialize(file_specification* spec, int16_t volume);
// Appends "\name" (just the name to an empty path); the file specification then names a folder.
bool file_spec_append_folder(file_specification* spec, const char* name);
// Replaces the file name of a file specification, or appends one to a folder's path.
bool file_spec_set_name(file_specification* spec, const char* name);
// Writes at most 255 characters plus NUL into out.
bool file_spec_get_text(const file_specification* spec, int parts, char (&out)[MAXIMUM_FILE_PATH_LENGTH + 1]);
inline bool file_spec_is_file(const file_specification* spec) {
  return (spec->flags & _file_specification_is_file) != 0;
}
inline bool file_spec_is_open(const file_specification* spec) { return spec->handle != NONE; }

// Files and folders.
bool file_exists(const file_specification* spec);
// A file: created empty, replacing an existing one (fails with 6 while another holds it open for
// writing). A folder: the one folder, its parent must exist.
bool file_create(const file_specification* spec);
// A file: deleted (fails while another holds it open for writing). A folder: removed when empty.
bool file_delete(const file_specification* spec);
// Renames within its folder, never replacing another file; the file specification takes the new name.
bool file_rename(file_specification* spec, const char* new_name);
// Moves the file over target, replacing it atomically; the file specification takes target's path.
bool file_rename_over(file_specification* spec, const file_specification* target);

// Open files. mode: _file_open_read, _file_open_write, _file_open_at_end combined. Read opens are
// shared; any open with write access is exclusive across processes and fails with 5 while another
// holds one.
bool file_open(file_specification* spec, int mode);
bool file_close(file_specification* spec);
// The size in bytes (of the open file, or of the file the path names when not open).
bool file_get_length(const file_specification* spec, int64_t* length);
// Exactly count bytes at the current position (errors 3 and 4).
bool file_read(file_specification* spec, int64_t count, void* buffer);
bool file_write(file_specification* spec, int64_t count, const void* buffer);
// Seek from the start (error 7 on failure), then exactly count bytes.
bool file_read_from_position(file_specification* spec, int64_t offset, int64_t count, void* buffer);
bool file_write_to_position(file_specification* spec, int64_t offset, int64_t count, const void* buffer);
// Forces written data to the disc (error 4 on failure).
bool file_flush(file_specification* spec);

// Walks the files (never folders) of a folder in name order, into sub-folders (at most
// MAXIMUM_ENUMERATION_DEPTH levels) with _file_enumeration_descend. One walk at a time.
bool file_enumeration_begin(int flags, const file_specification* folder);
// The next file as a specification on the folder's volume; false at the end.
bool file_enumeration_next(file_specification* out);
void file_enumeration_end();

// Volumes: 0 is always found; volume n >= 1 is the disc whose label matches volume name n.
bool file_set_volume_name(int16_t volume, const char* name);
const char* file_get_volume_name(int16_t volume);
bool find_volume(int16_t volume);
