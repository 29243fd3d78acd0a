// Private to the tag store's own files (tag_files*.cpp): the store's state and the helpers its
// parts share. Nothing outside src/tag_files/ includes it.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cseries/data.h"
#include "tag_files/tag_files.h"

// The store's reports name the module, whichever of its files they come from.
#undef POST_ERROR
#define POST_ERROR(code, ...) post_error((code), "tag_files", __LINE__, __VA_ARGS__)

namespace tag_files_internal {

extern const tag_group_definition tag_groups[NUMBER_OF_TAG_GROUPS];
// The only local groups taken in restricted mode.
extern const tag restricted_groups[6];

constexpr const char* kLocalFolderName = "local";
constexpr const char* kPluginsFolderName = "plugins";
constexpr const char* kTagsFolderName = "tags";
constexpr const char* kLockFileName = "tarn2";
// Beside the lock: the list of renames of a commit under way (see tag_files_commit.cpp).
constexpr const char* kCommitRecordName = "tarn2 commit";
constexpr const char* kDiscVolumeName = "tarn2";
constexpr const char* kUnknownName = "<unknown>";
constexpr const char* kWebAddressScheme = "http://";
constexpr tag kMeshGroup = make_tag("mesh");
constexpr tag kStringListGroup = make_tag("stli");
// Where a map's header names the string list whose first line describes it.
constexpr int32_t kMeshDescriptionTagOffset = 140;
constexpr int32_t kEntryPointDescriptionLength = 63;

// An open archive, the record of the "tag file" array.
struct tag_file_record {
  int16_t identifier;
  int16_t unused;
  tag_file_header header;  // native order, name replaced by the file's name
  file_specification file; // open for reading until the store closes
};

struct read_ahead_state {
  std::unique_ptr<uint8_t[]> buffer;
  int32_t archive = NONE;  // "tag file" slot the buffer holds, NONE when empty
  int64_t start = 0;       // file position of buffer[0]
  int32_t length = 0;      // valid bytes
  bool reload = false;
};

// A tag written during a commit: its new contents wait here until the commit ends, and reads of
// the tag are answered from them meanwhile.
struct staged_tag {
  int32_t tag_index;
  tag_header original;  // the header before the commit, restored when it is abandoned
  bool created;         // the tag has no file yet; abandoning drops its header
  std::vector<uint8_t> data;
};

struct commit_state {
  bool open = false;
  std::deque<staged_tag> staged;  // pointers to staged tags stay valid as more are staged
};

struct tag_store_globals {
  bool initialized = false;
  created_data_array* headers = nullptr;
  created_data_array* files = nullptr;
  created_data_array* plugins = nullptr;
  created_data_array* entry_points = nullptr;

  // Look-ups without walking the whole header array: slots by (group, identifier), every slot of a
  // group and the visible slots of a group, each kept in slot order.
  std::unordered_map<uint64_t, std::vector<int16_t>> slots_by_key;
  std::unordered_map<tag, std::vector<int16_t>> group_slots;
  std::unordered_map<tag, std::vector<int16_t>> group_visible_slots;
  // The file name of each local tag (it may differ from the tag's name by trailing blanks or dots).
  std::vector<std::string> local_file_names;
  // Where each discovered plugin lives.
  std::vector<file_specification> plugin_files;

  read_ahead_state read_ahead;
  int32_t open_local_tag = NONE;  // the tag whose file is open, at most one
  file_specification open_local_file{};

  bool foundation_present = false;
  bool restricted = false;
  int16_t last_patch_level = NONE;
  bool install_entry_points_read[NUMBER_OF_INSTALL_ARCHIVES] = {};
  bool tag_table_entry_points_added = false;

  // "local\tarn2": byte 0 is the store lock (one writer), byte 1 the commit lock (shared by
  // readers, exclusive while a writer renames a commit into place).
  int lock_fd = -1;
  bool lock_held = false;
  bool reading_share_held = false;
  bool lock_exit_registered = false;

  commit_state commit;
};

extern tag_store_globals store;

// ---- small helpers ----

inline uint64_t tag_key(tag group, tag identifier) { return (uint64_t(group) << 32) | identifier; }
void sorted_insert(std::vector<int16_t>& slots, int16_t slot);
void sorted_erase(std::vector<int16_t>& slots, int16_t slot);
const std::vector<int16_t>* find_slots(const std::unordered_map<tag, std::vector<int16_t>>& map, tag group);

// Copies a NUL-padded text field of a stored record into a fixed buffer, always terminated.
template <size_t N, size_t M>
void copy_field(char (&out)[N], const char (&in)[M]) {
  size_t length = strnlen(in, M);
  if (length > N - 1) length = N - 1;
  std::memset(out, 0, N);
  std::memcpy(out, in, length);
}

template <size_t N>
void copy_text(char (&out)[N], const char* in) {
  size_t length = in ? strnlen(in, N - 1) : 0;
  std::memset(out, 0, N);
  if (length) std::memcpy(out, in, length);
}

bool names_equal(const char* a, const char* b);
// The last component of a specification's path.
std::string spec_file_name(const file_specification& spec);
std::string spec_path_text(const file_specification& spec);
bool folder_spec(file_specification* spec, std::initializer_list<const char*> folders);
// A file in a folder; false when the path would not fit.
bool file_in_folder(const file_specification& folder, const std::string& name, file_specification* file);
std::vector<file_specification> folder_files(const file_specification& folder);

// ---- the header table and its index (tag_files.cpp) ----

tag_header* header_at_slot(int32_t slot);
tag_header* header_get(int32_t tag_index);
int32_t handle_of_slot(int32_t slot);
inline bool header_is_local(const tag_header* header) { return header->archive_index == TAG_ARCHIVE_INDEX_LOCAL; }
inline bool header_is_hidden(const tag_header* header) { return (header->flags & _tag_header_hidden) != 0; }
const std::vector<int16_t>* key_slots(tag group, tag identifier);
bool identifier_in_use(tag group, tag identifier);
void visibility_update(tag group, tag identifier);
// Adds a copy of header (its in-memory fields are reset); local_file_name for local tags.
int32_t header_add(const tag_header& source, const char* local_file_name);
void header_remove(int32_t tag_index);
int32_t free_header_count();
// The handles of every tag of a group with that name (case-insensitive), hidden ones too.
std::vector<int32_t> tags_named(tag group, const char* name, bool local_only);

// ---- archives (tag_files_archives.cpp) ----

tag_file_record* archive_get(int32_t archive_index);

struct archive_contents {
  file_specification file;       // open for reading
  tag_file_header header;        // native order
  std::vector<tag_header> tags;  // native order
};

void archive_contents_close(archive_contents* contents);
bool archive_read(const file_specification& file, int16_t type, bool need_free_headers, archive_contents* contents);
bool archive_read_entry_points(archive_contents* contents, std::vector<tag_file_entry_point>* entry_points);
bool archive_install(const file_specification& file, int16_t type, bool read_entry_points, int16_t plugin_index,
                     int16_t sort_key);
bool archive_read_ahead(tag_file_record* archive, int32_t archive_index, int64_t position, int32_t size,
                        uint8_t* out, const char* name);

// ---- plugins and entry points (tag_files_plugins.cpp) ----

bool entry_point_add(int16_t plugin_index, int16_t sort_key, bool from_tag_table, tag mesh_tag, uint32_t flags,
                     const char* name, const char* description);
void entry_points_add_stored(const std::vector<tag_file_entry_point>& entry_points, int16_t plugin_index,
                             int16_t sort_key);
tag_file_plugin* plugin_get(int32_t plugin_index);
void plugins_discover();
bool patch_level_present(int16_t level);
bool patches_load(int16_t level);
void tag_table_entry_points_add();

// ---- local tags (tag_files_local.cpp) ----

bool group_folder(const tag_group_definition* group, file_specification* folder);
bool local_file_of(int32_t tag_index, file_specification* file);
bool folder_ensure(const file_specification& folder);
bool group_folder_ensure(const tag_group_definition* group, file_specification* folder);
void local_close();
bool local_open(int32_t tag_index);
void local_tags_load();
int32_t local_tag_write_whole(int32_t tag_index, tag_header header, const void* data, int32_t size);
int32_t local_tag_create(const tag_group_definition* group, const char* name, tag identifier, int16_t version);
int32_t local_tag_recreate(int32_t tag_index, const tag_group_definition* group, int16_t version);
bool local_header_rewrite(int32_t tag_index);
bool local_name_taken(const tag_header* header);
bool local_tag_remove(int32_t tag_index);

// ---- commits (tag_files_commit.cpp) ----

// The staged contents of a tag in the open commit, none when it has none.
staged_tag* staged_find(int32_t tag_index);
// Stages a tag in the open commit, its current data read in first unless created (no file yet).
staged_tag* stage(int32_t tag_index, bool created);
using commit_scope = tag_files_commit_scope;
// Finishes (or discards) a commit whose writer was stopped, then removes stale temporaries. Only
// while the store lock is held.
void commit_recover();
bool commit_record_exists();

// ---- the lock (tag_files_lock.cpp) ----

bool lock_file_open();
bool lock_byte(int64_t byte, bool exclusive, bool wait);
// Exclusive, waiting at most seconds for the holders of shares to end.
bool lock_byte_within(int64_t byte, int seconds);
void unlock_byte(int64_t byte);
enum { LOCK_BYTE_STORE = 0, LOCK_BYTE_COMMIT = 1 };

// ---- reading (tag_files_io.cpp) ----

bool range_is_inside(const tag_header* header, int32_t offset, int32_t size);
bool local_read(int32_t tag_index, const tag_header* header, int32_t offset, int32_t size, void* buffer,
                const char* caller);

}  // namespace tag_files_internal
