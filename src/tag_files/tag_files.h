// The tag store: every piece of game and editor data is a tag (group, identifier, name, data),
// read from read-only archives (the install archives in "tags", plugins in "plugins") and from
// writable local tags, one file per tag, under "local". Tags sharing group and identifier are
// merged so that exactly one is visible: a local tag beats every archive tag, a later archive beats
// an earlier one. Only local tags are written; writing an archive tag copies it to local first.
//
// A tag index is the handle of a loaded tag header: slot in the low 16 bits, slot identifier in the
// high 16 bits; NONE (-1) for no tag. Identifiers have their top bit set, so live indices are
// negative numbers: compare with NONE, never with < 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "cseries/byte_swapping.h"
#include "cseries/files.h"
#include "cseries/text.h"

enum {
  MAXIMUM_TAG_HEADERS = 10000,
  MAXIMUM_TAG_FILES = 32,              // archives open at once
  MAXIMUM_TAG_FILE_PLUGINS = 512,
  MAXIMUM_TAG_FILE_ENTRY_POINTS = 512,
  TAG_FILE_READ_AHEAD_SIZE = 16384,
  MAXIMUM_TAG_NAME_LENGTH = 31,        // characters, without the NUL
  TAG_NAME_SIZE = MAXIMUM_TAG_NAME_LENGTH + 1,
  MAXIMUM_TAG_FILE_COUNT = 8192,       // tag_file_count answers at most this
  NUMBER_OF_INSTALL_ARCHIVES = 5,
  NUMBER_OF_TAG_GROUPS = 40,
  MAXIMUM_REQUIRED_PLUGINS = 16,
  MAXIMUM_REQUIRED_PLUGIN_LIST_SIZE = 512,
  MAXIMUM_PLUGIN_NAME_LENGTH = 31,
  MAXIMUM_PLUGIN_WEB_ADDRESS_LENGTH = 63,
  LOCAL_TAG_DATA_OFFSET = 64,          // a local tag file: the header, then the data
  TAG_INSTALL_CLASS_NONE = 255,
  TAG_ARCHIVE_INDEX_LOCAL = 255,
  ENTRY_POINT_SORT_KEY_TAG_TABLE = 32767,
};

enum tag_file_archive_type : int16_t {
  _tag_file_plugin = 2,
  _tag_file_install_archive = 3,
};

inline constexpr tag TAG_FILE_SIGNATURE = make_tag("dng2");   // archive headers
inline constexpr tag TAG_HEADER_SIGNATURE = make_tag("trn2");  // tag headers

// ---- stored records (big-endian on disc, native in memory) ----

// At offset 0 of an archive.
struct tag_file_header {
  int16_t type;                 // tag_file_archive_type
  int16_t patch_level;          // plugins: 2, 3, ... are patches; 0 and 1 load only when named
  char name[32];                // replaced on loading by the file's name and extension
  char web_address[64];         // where a plugin comes from (the missing-plugin report)
  int16_t entry_point_count;
  int16_t tag_count;
  uint32_t checksum;            // identifies a plugin in a required-plugin list
  uint32_t flags;               // bit 0 is carried into the plugin record
  uint32_t size;                // the whole file, in bytes
  uint32_t header_check;        // not verified
  uint8_t reserved[4];          // kept unswapped
  tag signature;                // TAG_FILE_SIGNATURE
};
static_assert(sizeof(tag_file_header) == 128);
static_assert(offsetof(tag_file_header, web_address) == 36);
static_assert(offsetof(tag_file_header, entry_point_count) == 100);
static_assert(offsetof(tag_file_header, checksum) == 104);
static_assert(offsetof(tag_file_header, size) == 112);
static_assert(offsetof(tag_file_header, signature) == 124);

// One playable map of an archive; an array of them follows the archive header.
struct tag_file_entry_point {
  tag mesh_tag;                 // the map's `mesh` identifier
  uint8_t reserved[8];          // kept unswapped
  uint32_t flags;               // copied unchanged into the entry-point list
  char name[32];
  char description[64];
};
static_assert(sizeof(tag_file_entry_point) == 112);
static_assert(offsetof(tag_file_entry_point, flags) == 12);
static_assert(offsetof(tag_file_entry_point, name) == 16);
static_assert(offsetof(tag_file_entry_point, description) == 48);

enum tag_header_flags : uint8_t {
  _tag_header_hidden = 1,  // another tag with the same group and identifier wins
};

// One tag: in an archive an array of them follows the entry points; a local tag file starts with
// one. In memory it is also the record of the "tag header" array.
struct tag_header {
  int16_t identifier;           // in memory: the slot identifier; ignored when read
  uint8_t flags;                // in memory: tag_header_flags; ignored when read
  uint8_t reserved;             // must be 0 in local files
  char name[TAG_NAME_SIZE];
  tag group_tag;
  tag tag_identifier;
  uint32_t offset;              // of the data in its file (64 in a local file)
  uint32_t size;                // of the data; for local files file length - 64 when loaded
  uint32_t user_data;
  int16_t version;
  uint8_t install_class;        // 0..4 (the install archives in order), 255 = none
  uint8_t archive_index;        // in memory: the archive's "tag file" slot, 255 for a local tag
  tag signature;                // TAG_HEADER_SIGNATURE
};
static_assert(sizeof(tag_header) == 64);
static_assert(offsetof(tag_header, name) == 4);
static_assert(offsetof(tag_header, group_tag) == 36);
static_assert(offsetof(tag_header, offset) == 44);
static_assert(offsetof(tag_header, user_data) == 52);
static_assert(offsetof(tag_header, version) == 56);
static_assert(offsetof(tag_header, install_class) == 58);
static_assert(offsetof(tag_header, signature) == 60);

// Whether a local tag file with this header (native order) and length is loaded: offset 64, local
// archive index, install class 0..4 or none, reserved byte 0, signature, and a size that fits.
// The loader also wants the header's group to be its folder's and the file name to be a tag name.
bool tag_header_is_sound_local(const tag_header& header, int64_t file_length);

extern const byte_swap_description tag_file_header_description;
extern const byte_swap_description tag_file_entry_point_description;
extern const byte_swap_description tag_header_description;

// ---- in-memory records ----

// A plugin found in "plugins" at initialisation; its index is its slot in "tag file plugin".
struct tag_file_plugin {
  int16_t identifier;
  int16_t patch_level;
  char name[32];                // the file's name and extension
  char web_address[64];
  uint32_t checksum;
  uint8_t header_flag;          // bit 0 of the archive header's flags
  uint8_t is_patch;             // patch level 2 or more
  uint8_t has_entry_points;
  uint8_t unused;
};
static_assert(sizeof(tag_file_plugin) == 108);

// A map offered to the user.
struct tag_file_entry_point_record {
  int16_t identifier;
  int16_t plugin_index;         // NONE for the install archives and for maps from the tag table
  int16_t sort_key;             // 0 install archives, patch level for plugins, 32767 tag table
  int16_t unused;
  int32_t from_tag_table;
  tag mesh_tag;
  uint32_t flags;
  char name[32];
  char description[64];
};
static_assert(sizeof(tag_file_entry_point_record) == 116);

// The group table: 40 fixed rows.
enum tag_group_flags : uint16_t {
  _tag_group_flag_1 = 1,                 // no effect in the tag store
  _tag_group_in_working_folder = 2,      // the folder lies in the working folder, not in "local"
  _tag_group_renumber_local = 4,         // local identifiers are made unique on loading
};

struct tag_group_definition {
  const char* folder_name;
  tag group_tag;
  uint16_t flags;
  uint8_t install_class;        // given to new tags of the group
};

// The names of the install archives, in install-class order.
extern const char* const install_archive_names[NUMBER_OF_INSTALL_ARCHIVES];

const tag_group_definition* tag_group_get(int16_t index);  // 0..NUMBER_OF_TAG_GROUPS-1
const tag_group_definition* tag_group_find(tag group);     // none for an unknown group
// The folder holding a group's local tags ("local\meshes", or "preferences" in the working folder).
bool tag_group_local_folder(tag group, file_specification* folder);
// The same, created where missing (reported with code 6 when it can't be).
bool tag_group_create_local_folder(tag group, file_specification* folder);

// What tag_file_get_info reports and tag_file_set_info takes.
struct tag_file_info {
  char name[TAG_NAME_SIZE];
  uint32_t user_data;
  int16_t version;
  uint8_t install_class;
  uint8_t reserved;
  int32_t size;
  tag group_tag;
  tag tag_identifier;
};

// A search: every field left at "any" (-1, or an empty name) matches everything.
struct tag_file_filter {
  char name[TAG_NAME_SIZE];     // case-insensitive; empty = any
  tag group_tag;
  tag tag_identifier;
  int32_t minimum_version;
  int32_t reserved;
  int32_t install_class;
  int32_t size;
  uint32_t user_data;
};
tag_file_filter tag_file_filter_any();

// ---- lifecycle ----

// Once at engine start: folders "local", "plugins", "tags", the tables, plugin discovery, then the
// patches of the latest level loaded once.
bool tag_files_initialize();
// Closes and reloads everything: install archives, patches up to patch_level (-1 = the latest),
// the listed plugins (plugin indices), local tags, and once the maps from the tag table.
// False when a patch level in the range has no patch.
bool tag_files_open(bool restricted, std::span<const int16_t> plugin_indices, int16_t patch_level);
// Closes every archive and the open local tag and empties the tag tables (plugins and entry points
// found at start stay).
void tag_files_close();
// The single-instance lock ("local\tarn2"), held by the one writer of the store until it ends;
// false while another writer holds it. Taking it finishes a commit that a stopped writer left
// half done and removes stale temporaries.
bool tag_files_lock_instance();
// For a process that only reads: waits while a writer puts a commit in place, so that what it reads
// is one state of the store; never refused by readers or by the writer. False only when a stopped
// writer's commit stays unfinished (the store is busy).
bool tag_files_lock_for_reading();
// Drops either lock (the lock file stays; it is never deleted).
void tag_files_unlock();
bool tag_files_lock_is_held();
// Between tag_files_open and tag_files_close.
bool tag_files_is_open();
// True if the last tag_files_open found all five install archives.
bool foundation_tags_present();

// ---- looking up ----

int32_t tag_file_find(tag group, tag identifier);
// The visible tags matching the filter, in slot order, into indices (may be none); answers how
// many matched, at most maximum.
int32_t tag_file_search(const tag_file_filter& filter, int32_t* indices, int32_t maximum);
bool tag_file_get_info(int32_t tag_index, tag_file_info* info);  // false for a hidden tag
const char* tag_file_get_name(int32_t tag_index);                 // "<unknown>" when invalid
tag tag_file_get_identifier(int32_t tag_index);                    // NONE_TAG when invalid
uint16_t tag_file_get_version(int32_t tag_index);                  // 0xFFFF when invalid
int32_t tag_file_count(tag group);                                 // visible, at most 8192
int32_t tag_file_nth(tag group, int32_t n);                        // in slot order; NONE past the end

// Accessors for the tools.
bool tag_file_get_header(int32_t tag_index, tag_header* header);   // hidden ones too
bool tag_file_is_valid(int32_t tag_index);
bool tag_file_is_hidden(int32_t tag_index);
bool tag_file_is_local(int32_t tag_index);
tag tag_file_get_group(int32_t tag_index);                         // NONE_TAG when invalid
uint32_t tag_file_get_user_data(int32_t tag_index);               // 0 when invalid
int16_t tag_file_get_install_class(int32_t tag_index);            // -1 when invalid
int32_t tag_file_get_size(int32_t tag_index);                      // -1 when invalid
// The name of the archive a tag came from (its file name), none for a local or invalid tag.
const char* tag_file_get_archive_name(int32_t tag_index);
// The file of a local tag.
bool tag_file_get_local_file(int32_t tag_index, file_specification* file);
// Every loaded header, hidden ones included, in slot order: pass NONE to start; NONE at the end.
int32_t tag_file_next_header(int32_t tag_index);

// ---- commits ----

// Changes to local tags made between tag_files_commit_begin and tag_files_commit_end are put on
// the disc together: after a crash or a kill the store holds all of them or none. Until the end,
// reads of a changed tag answer its new contents. A write outside a commit is a commit of its own.
bool tag_files_commit_begin();     // false while one is open
bool tag_files_commit_end();       // false after reporting; the tags are as they were
void tag_files_commit_abandon();   // drops every staged change
bool tag_files_commit_is_open();

// One operation's changes as one commit: it joins the commit already open, or begins its own,
// which end() ends and the destructor abandons when end() was not reached.
class tag_files_commit_scope {
 public:
  tag_files_commit_scope();
  ~tag_files_commit_scope();
  tag_files_commit_scope(const tag_files_commit_scope&) = delete;
  tag_files_commit_scope& operator=(const tag_files_commit_scope&) = delete;
  bool end();  // true inside a commit it joined
 private:
  bool own_;
};

// Tests: called at each step of ending a commit (n counts the tags), so that a test can stop there.
enum tag_files_commit_step {
  _tag_files_commit_temporary_written,
  _tag_files_commit_record_written,
  _tag_files_commit_renamed,
  _tag_files_commit_record_removed,
};
void tag_files_set_commit_hook(void (*hook)(tag_files_commit_step step, int32_t n));
// How long ending a commit waits for readers to let go of the store (60 seconds; tests shorten it).
void tag_files_set_commit_lock_wait(int seconds);

// ---- reading ----

// size bytes of the tag's data from offset; the range must lie within the tag.
bool tag_file_read(int32_t tag_index, int32_t offset, int32_t size, void* buffer);
// The same through the read-ahead buffer (for many small sequential reads of archive tags). A read
// of an archive that fails is logged and answers false, so that no caller takes stale buffer bytes
// for the tag's data.
bool tag_file_read_ahead(int32_t tag_index, int32_t offset, int32_t size, void* buffer);

// ---- writing (local tags; archive tags are copied to local first and *tag_index follows) ----

bool tag_file_write(int32_t* tag_index, int32_t offset, int32_t size, const void* buffer);
// Swaps count records to stored order, writes them, swaps them back; no description: as they are.
bool tag_file_write_byte_swapped(int32_t* tag_index, int32_t offset, int32_t record_size, int32_t count,
                                 void* buffer, const byte_swap_description* description);
// Replaces the whole data of a tag all at once: the new header and data go to a temporary file in
// the tag's folder, which is flushed and then renamed over the tag's file. On failure the old file
// is untouched. An archive tag becomes a local tag holding the new data. A version of 0 or more
// replaces the tag's version in the same step; -1 keeps it.
bool tag_file_replace_contents(int32_t* tag_index, const void* data, int32_t size, int32_t version = -1);
int32_t tag_file_create(tag group, const char* name, int16_t version);
bool tag_file_delete(int32_t tag_index);
bool tag_file_copy_to_local(int32_t* tag_index);
bool tag_file_set_info(int32_t* tag_index, const tag_file_info& info);
bool tag_file_set_user_data(int32_t* tag_index, uint32_t user_data);

// The name rule: characters of \/|"<>*?: become '_', longer than 31 is cut, trailing blanks and
// dots are dropped (alone not a change). name is NUL-terminated; true if it had to be changed.
bool sanitize_tag_name(char* name);

// ---- plugins and maps ----

int32_t tag_file_plugin_count();
// The plugin with that index (its slot), none when there is none.
const tag_file_plugin* tag_file_plugin_get(int16_t plugin_index);
// Turns a required-plugin list (big-endian: int16 count 0..16, then per plugin uint32 checksum,
// NUL-terminated name and web address) into plugin indices; each plugin not found adds a line
// "name - http://address\r" to report (may be none). True if every plugin was found.
bool resolve_required_plugins(const void* list, int32_t length, int16_t* plugin_indices, int16_t* plugin_count,
                              std::string* report);
int16_t tag_file_latest_patch_level();

// The maps offered to the user, in slot order.
int32_t tag_file_entry_point_count();
const tag_file_entry_point_record* tag_file_entry_point_nth(int32_t n);
