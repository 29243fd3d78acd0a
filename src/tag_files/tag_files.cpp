#include "tag_files/tag_files.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "cseries/error_manager.h"
#include "cseries/data.h"
#include "tag_files/atomic_file.h"

// ---- stored layouts ----

namespace {

constexpr int16_t tag_file_header_codes[] = {_byte_swap_begin_group, 1, -2, -2, 32, 64, -2, -2, -4, -4, -4, -4, 4, -4,
                                             _byte_swap_end_group};
constexpr int16_t tag_file_entry_point_codes[] = {_byte_swap_begin_group, 1, -4, 8, -4, 32, 64, _byte_swap_end_group};
constexpr int16_t tag_header_codes[] = {_byte_swap_begin_group, 1, -2, 1, 1, 32, -4, -4, -4, -4, -4, -2, 1, 1, -4,
                                        _byte_swap_end_group};

}  // namespace

const byte_swap_description tag_file_header_description = {"tag_file_header", sizeof(tag_file_header),
                                                            tag_file_header_codes};
const byte_swap_description tag_file_entry_point_description = {"tag_file_entry_point", sizeof(tag_file_entry_point),
                                                                tag_file_entry_point_codes};
const byte_swap_description tag_header_description = {"tag_header", sizeof(tag_header), tag_header_codes};

const char* const install_archive_names[NUMBER_OF_INSTALL_ARCHIVES] = {
    "small install", "medium install", "large install", "international small install",
    "international large install",
};

namespace {

constexpr tag_group_definition tag_groups[NUMBER_OF_TAG_GROUPS] = {
    {"ambient sounds", make_tag("amso"), 0, 0},
    {"artifacts", make_tag("arti"), 1, 0},
    {"collection references", make_tag("core"), 0, 0},
    {"collections", make_tag(".256"), 1, 2},
    {"detail maps", make_tag("dmap"), 0, 0},
    {"detail textures", make_tag("dtex"), 0, 2},
    {"dialog string lists", make_tag("ditl"), 0, 3},
    {"dialogs", make_tag("bina"), 0, 0},
    {"fonts", make_tag("font"), 0, 3},
    {"geometries", make_tag("geom"), 1, 1},
    {"interface", make_tag("inte"), 0, 0},
    {"lightning", make_tag("ligh"), 1, 0},
    {"local physics", make_tag("phys"), 0, 0},
    {"local projectile groups", make_tag("lpgr"), 0, 0},
    {"media types", make_tag("medi"), 1, 0},
    {"mesh effect", make_tag("meef"), 1, 0},
    {"mesh lighting", make_tag("meli"), 0, 0},
    {"meshes", make_tag("mesh"), 1, 0},
    {"models", make_tag("mode"), 1, 0},
    {"model animations", make_tag("anim"), 1, 0},
    {"monsters", make_tag("mons"), 1, 0},
    {"objects", make_tag("obje"), 1, 0},
    {"observer constants", make_tag("obpc"), 0, 0},
    {"particle systems", make_tag("part"), 1, 0},
    {"preferences", make_tag("pref"), 2, 0},
    {"projectile groups", make_tag("prgr"), 1, 0},
    {"projectiles", make_tag("proj"), 1, 0},
    {"recordings", make_tag("reco"), 6, 0},
    {"saved games", make_tag("save"), 6, 0},
    {"scenery", make_tag("scen"), 1, 0},
    {"sound lists", make_tag("soli"), 0, 0},
    {"sounds", make_tag("soun"), 0, 0},
    {"string lists", make_tag("stli"), 0, 3},
    {"text", make_tag("text"), 0, 0},
    {"templates", make_tag("temp"), 0, 0},
    {"units", make_tag("unit"), 1, 0},
    {"wind", make_tag("wind"), 1, 0},
    {"connectors", make_tag("conn"), 1, 0},
    {"preloaded data", make_tag("prel"), 0, 0},
    {"formations", make_tag("form"), 0, 0},
};

// The only local groups taken in restricted mode.
constexpr tag restricted_groups[] = {make_tag("obpc"), make_tag("form"), make_tag("stli"),
                                     make_tag("pref"), make_tag("reco"), make_tag("save")};

constexpr const char* kLocalFolderName = "local";
constexpr const char* kPluginsFolderName = "plugins";
constexpr const char* kTagsFolderName = "tags";
constexpr const char* kLockFileName = "tarn2";
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

  bool lock_held = false;
  bool lock_exit_registered = false;
  file_specification lock_file{};
};

tag_store_globals store;

// ---- small helpers ----

uint64_t tag_key(tag group, tag identifier) { return (uint64_t(group) << 32) | identifier; }

void sorted_insert(std::vector<int16_t>& slots, int16_t slot) {
  auto at = std::lower_bound(slots.begin(), slots.end(), slot);
  if (at == slots.end() || *at != slot) slots.insert(at, slot);
}

void sorted_erase(std::vector<int16_t>& slots, int16_t slot) {
  auto at = std::lower_bound(slots.begin(), slots.end(), slot);
  if (at != slots.end() && *at == slot) slots.erase(at);
}

const std::vector<int16_t>* find_slots(const std::unordered_map<tag, std::vector<int16_t>>& map, tag group) {
  auto found = map.find(group);
  return found == map.end() ? nullptr : &found->second;
}

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

bool names_equal(const char* a, const char* b) { return compare_text_case_insensitive(a, b) == 0; }

// The last component of a specification's path.
std::string spec_file_name(const file_specification& spec) {
  const char* path = spec.path;
  const char* separator = std::strrchr(path, '\\');
  return separator ? separator + 1 : path;
}

std::string spec_path_text(const file_specification& spec) {
  char text[MAXIMUM_FILE_PATH_LENGTH + 1];
  file_spec_get_text(&spec, _file_text_full, text);
  return text;
}

bool folder_spec(file_specification* spec, std::initializer_list<const char*> folders) {
  file_spec_initialize(spec, 0);
  for (const char* folder : folders) {
    if (!file_spec_append_folder(spec, folder)) return false;
  }
  return true;
}

// A file in a folder; false when the path would not fit.
bool file_in_folder(const file_specification& folder, const std::string& name, file_specification* file) {
  *file = folder;
  if (std::strlen(folder.path) + 1 + name.size() > MAXIMUM_FILE_PATH_LENGTH) return false;
  return file_spec_set_name(file, name.c_str());
}

// ---- the header table and its index ----

tag_header* header_at_slot(int32_t slot) { return data_array_get_as<tag_header>(store.headers, slot); }

tag_header* header_get(int32_t tag_index) {
  if (!store.headers || tag_index == NONE) return nullptr;
  return data_array_get_checked_as<tag_header>(store.headers, tag_index);
}

int32_t handle_of_slot(int32_t slot) { return store.headers ? data_array_handle(store.headers, slot) : NONE; }

bool header_is_local(const tag_header* header) { return header->archive_index == TAG_ARCHIVE_INDEX_LOCAL; }
bool header_is_hidden(const tag_header* header) { return (header->flags & _tag_header_hidden) != 0; }

const std::vector<int16_t>* key_slots(tag group, tag identifier) {
  auto found = store.slots_by_key.find(tag_key(group, identifier));
  return found == store.slots_by_key.end() ? nullptr : &found->second;
}

bool identifier_in_use(tag group, tag identifier) {
  const std::vector<int16_t>* slots = key_slots(group, identifier);
  return slots && !slots->empty();
}

// Among the headers sharing group and identifier, in slot order: a later local tag replaces the
// choice; an archive tag replaces it only when the choice is an archive tag of a lower archive.
void visibility_update(tag group, tag identifier) {
  auto found = store.slots_by_key.find(tag_key(group, identifier));
  if (found == store.slots_by_key.end()) return;
  const std::vector<int16_t>& slots = found->second;
  int32_t winner = NONE;
  for (int16_t slot : slots) {
    const tag_header* header = header_at_slot(slot);
    if (winner == NONE) {
      winner = slot;
      continue;
    }
    const tag_header* choice = header_at_slot(winner);
    if (header_is_local(header) || (!header_is_local(choice) && choice->archive_index < header->archive_index)) {
      winner = slot;
    }
  }
  std::vector<int16_t>& visible = store.group_visible_slots[group];
  for (int16_t slot : slots) {
    tag_header* header = header_at_slot(slot);
    if (slot == winner) {
      header->flags &= uint8_t(~_tag_header_hidden);
      sorted_insert(visible, slot);
    } else {
      header->flags |= _tag_header_hidden;
      sorted_erase(visible, slot);
    }
  }
  if (slots.empty()) store.slots_by_key.erase(found);
}

// Adds a copy of header (its in-memory fields are reset); local_file_name for local tags.
int32_t header_add(const tag_header& source, const char* local_file_name) {
  int32_t handle = data_array_new_element(store.headers);
  if (handle == DATA_ARRAY_NONE) {
    char name[TAG_NAME_SIZE];
    copy_field(name, source.name);
    POST_ERROR(error_array_full, "there are no more free tag_headers for '%s'", name);
    return NONE;
  }
  tag_header* header = data_array_get_checked_as<tag_header>(store.headers, handle);
  int16_t identifier = header->identifier;
  *header = source;
  header->identifier = identifier;
  header->flags = 0;
  copy_field(header->name, source.name);  // NUL-padded, whatever followed the name in the file
  int16_t slot = int16_t(data_array_handle_slot(handle));
  sorted_insert(store.slots_by_key[tag_key(header->group_tag, header->tag_identifier)], slot);
  sorted_insert(store.group_slots[header->group_tag], slot);
  store.local_file_names[size_t(slot)] = local_file_name ? local_file_name : "";
  visibility_update(header->group_tag, header->tag_identifier);
  return handle;
}

void header_remove(int32_t tag_index) {
  tag_header* header = header_get(tag_index);
  if (!header) return;
  tag group = header->group_tag, identifier = header->tag_identifier;
  int16_t slot = int16_t(data_array_handle_slot(tag_index));
  sorted_erase(store.slots_by_key[tag_key(group, identifier)], slot);
  sorted_erase(store.group_slots[group], slot);
  sorted_erase(store.group_visible_slots[group], slot);
  store.local_file_names[size_t(slot)].clear();
  data_array_delete_element(store.headers, tag_index);
  visibility_update(group, identifier);
}

int32_t free_header_count() {
  const data_array_state* state = data_array_state_of(store.headers);
  return state->capacity - state->used_count;
}

// The handles of every tag of a group with that name (case-insensitive), hidden ones too.
std::vector<int32_t> tags_named(tag group, const char* name, bool local_only) {
  std::vector<int32_t> result;
  if (const std::vector<int16_t>* slots = find_slots(store.group_slots, group)) {
    for (int16_t slot : *slots) {
      const tag_header* header = header_at_slot(slot);
      if (local_only && !header_is_local(header)) continue;
      if (names_equal(header->name, name)) result.push_back(handle_of_slot(slot));
    }
  }
  return result;
}

// ---- archives ----

tag_file_record* archive_get(int32_t archive_index) {
  if (!store.files || archive_index == TAG_ARCHIVE_INDEX_LOCAL) return nullptr;
  return data_array_get_as<tag_file_record>(store.files, archive_index);
}

struct archive_contents {
  file_specification file;       // open for reading
  tag_file_header header;        // native order
  std::vector<tag_header> tags;  // native order
};

void archive_contents_close(archive_contents* contents) {
  if (file_spec_is_open(&contents->file)) file_close(&contents->file);
}

// A tag of an archive is taken only if its name needs no change and its data lies inside the file,
// after the archive's tables. Trailing blanks and dots are no change: they are dropped from the name.
bool archive_tag_is_valid(tag_header& header, int64_t data_start, int64_t length) {
  if (strnlen(header.name, sizeof header.name) > MAXIMUM_TAG_NAME_LENGTH) return false;
  char name[TAG_NAME_SIZE];
  copy_field(name, header.name);
  if (sanitize_tag_name(name)) return false;
  copy_text(header.name, name);
  if (header.signature != TAG_HEADER_SIGNATURE || int32_t(header.size) < 0) return false;
  return int64_t(header.offset) >= data_start && int64_t(header.offset) + int64_t(header.size) <= length;
}

// Opens an archive and checks its header and every tag header. Files that aren't archives of the
// wanted type are passed over silently; damaged archives are reported. On success the file stays
// open in contents.
bool archive_read(const file_specification& file, int16_t type, bool need_free_headers, archive_contents* contents) {
  contents->file = file;
  contents->file.handle = NONE;
  if (!file_open(&contents->file, _file_open_read)) return false;
  std::string path = spec_path_text(file);
  tag_file_header& header = contents->header;
  if (!file_read_from_position(&contents->file, 0, sizeof header, &header)) {
    POST_ERROR(error_data_corrupted, "the monolithic file '%s' has no header", path.c_str());
    archive_contents_close(contents);
    return false;
  }
  byte_swap_data(tag_file_header_description, &header, sizeof header, 1);
  std::string file_name = spec_file_name(file);
  char name[64];
  copy_text(name, file_name.c_str());
  bool bad_name = file_name.size() > MAXIMUM_TAG_NAME_LENGTH || sanitize_tag_name(name) || name[0] == '\0';
  if (bad_name) {
    POST_ERROR(error_data_corrupted, "the monolithic file '%s' has a bad name", path.c_str());
    archive_contents_close(contents);
    return false;
  }
  copy_text(header.name, name);

  int64_t length = 0;
  file_get_length(&contents->file, &length);
  // The counts are checked against the size before anything is read through them.
  const int64_t data_start = int64_t(sizeof(tag_file_header)) +
                             int64_t(sizeof(tag_file_entry_point)) * header.entry_point_count +
                             int64_t(sizeof(tag_header)) * header.tag_count;
  bool acceptable = header.type == type && header.tag_count >= 0 && header.tag_count < MAXIMUM_TAG_HEADERS &&
                    header.entry_point_count >= 0 && header.signature == TAG_FILE_SIGNATURE &&
                    int64_t(header.tag_count) * int64_t(sizeof(tag_header)) < int64_t(header.size) &&
                    length == int64_t(header.size) && data_start <= length;
  if (!acceptable || (need_free_headers && free_header_count() < header.tag_count)) {
    archive_contents_close(contents);
    return false;
  }

  contents->tags.resize(size_t(header.tag_count));
  const int64_t tags_offset = int64_t(sizeof(tag_file_header)) + int64_t(sizeof(tag_file_entry_point)) * header.entry_point_count;
  if (!contents->tags.empty() &&
      !file_read_from_position(&contents->file, tags_offset, int64_t(contents->tags.size() * sizeof(tag_header)),
                               contents->tags.data())) {
    POST_ERROR(error_data_corrupted, "couldn't read tags from the monolithic file '%s'", path.c_str());
    archive_contents_close(contents);
    return false;
  }
  byte_swap_data(tag_header_description, contents->tags.data(), sizeof(tag_header), header.tag_count);
  bool valid = true;
  for (tag_header& tag_entry : contents->tags) {
    if (!archive_tag_is_valid(tag_entry, data_start, length)) {
      POST_ERROR(error_data_corrupted, "found an invalid tag in the monolithic file '%s'", path.c_str());
      valid = false;
    }
  }
  if (!valid) archive_contents_close(contents);
  return valid;
}

bool archive_read_entry_points(archive_contents* contents, std::vector<tag_file_entry_point>* entry_points) {
  entry_points->resize(size_t(contents->header.entry_point_count));
  if (entry_points->empty()) return true;
  if (!file_read_from_position(&contents->file, sizeof(tag_file_header),
                               int64_t(entry_points->size() * sizeof(tag_file_entry_point)), entry_points->data())) {
    POST_ERROR(error_data_corrupted, "couldn't read entry points from the monolithic file '%s'",
               spec_path_text(contents->file).c_str());
    entry_points->clear();
    return false;
  }
  byte_swap_data(tag_file_entry_point_description, entry_points->data(), sizeof(tag_file_entry_point),
                 int32_t(entry_points->size()));
  return true;
}

bool entry_point_add(int16_t plugin_index, int16_t sort_key, bool from_tag_table, tag mesh_tag, uint32_t flags,
                     const char* name, const char* description) {
  int32_t handle = data_array_new_element(store.entry_points);
  if (handle == DATA_ARRAY_NONE) {
    POST_ERROR(error_array_full, "there are no more free entry points for '%s'", name);
    return false;
  }
  auto* record = data_array_get_checked_as<tag_file_entry_point_record>(store.entry_points, handle);
  record->plugin_index = plugin_index;
  record->sort_key = sort_key;
  record->from_tag_table = from_tag_table ? 1 : 0;
  record->mesh_tag = mesh_tag;
  record->flags = flags;
  copy_text(record->name, name);
  copy_text(record->description, description);
  return true;
}

void entry_points_add_stored(const std::vector<tag_file_entry_point>& entry_points, int16_t plugin_index,
                             int16_t sort_key) {
  for (const tag_file_entry_point& stored : entry_points) {
    char name[sizeof stored.name + 1], description[sizeof stored.description + 1];
    copy_field(name, stored.name);
    copy_field(description, stored.description);
    entry_point_add(plugin_index, sort_key, false, stored.mesh_tag, stored.flags, name, description);
  }
}

// Loads one archive into the store: a "tag file" slot (its archive index) and all of its tags.
bool archive_install(const file_specification& file, int16_t type, bool read_entry_points, int16_t plugin_index,
                     int16_t sort_key) {
  archive_contents contents;
  if (!archive_read(file, type, true, &contents)) return false;
  int32_t handle = data_array_new_element(store.files);
  if (handle == DATA_ARRAY_NONE) {
    archive_contents_close(&contents);
    return false;
  }
  auto* record = data_array_get_checked_as<tag_file_record>(store.files, handle);
  record->header = contents.header;
  record->file = contents.file;
  int32_t archive_index = data_array_handle_slot(handle);
  for (tag_header& header : contents.tags) {
    header.archive_index = uint8_t(archive_index);
    header_add(header, nullptr);
  }
  if (read_entry_points) {
    std::vector<tag_file_entry_point> entry_points;
    if (archive_read_entry_points(&contents, &entry_points)) entry_points_add_stored(entry_points, plugin_index, sort_key);
  }
  return true;
}

// ---- plugins ----

tag_file_plugin* plugin_get(int32_t plugin_index) {
  if (!store.plugins || plugin_index < 0) return nullptr;
  return data_array_get_as<tag_file_plugin>(store.plugins, plugin_index);
}

std::vector<file_specification> folder_files(const file_specification& folder) {
  std::vector<file_specification> files;
  if (!file_exists(&folder) || !file_enumeration_begin(0, &folder)) return files;
  file_specification file;
  while (file_enumeration_next(&file)) files.push_back(file);
  file_enumeration_end();
  return files;
}

void plugins_discover() {
  file_specification folder;
  folder_spec(&folder, {kPluginsFolderName});
  for (const file_specification& file : folder_files(folder)) {
    if (atomic_file_is_temporary_name(spec_file_name(file).c_str())) continue;
    archive_contents contents;
    if (!archive_read(file, _tag_file_plugin, false, &contents)) continue;
    std::vector<tag_file_entry_point> entry_points;
    bool entry_points_read = archive_read_entry_points(&contents, &entry_points);
    archive_contents_close(&contents);
    if (!entry_points_read) continue;
    int32_t handle = data_array_new_element(store.plugins);
    if (handle == DATA_ARRAY_NONE) break;
    auto* plugin = data_array_get_checked_as<tag_file_plugin>(store.plugins, handle);
    const tag_file_header& header = contents.header;
    plugin->patch_level = header.patch_level;
    copy_field(plugin->name, header.name);
    copy_field(plugin->web_address, header.web_address);
    plugin->checksum = header.checksum;
    plugin->header_flag = uint8_t(header.flags & 1);
    plugin->is_patch = header.patch_level >= 2;
    plugin->has_entry_points = !entry_points.empty();
    int16_t plugin_index = int16_t(data_array_handle_slot(handle));
    store.plugin_files[size_t(plugin_index)] = file;
    entry_points_add_stored(entry_points, plugin_index, header.patch_level);
  }
}

bool patch_level_present(int16_t level) {
  for (int32_t slot : data_array_used_slots(store.plugins)) {
    const tag_file_plugin* plugin = plugin_get(slot);
    if (plugin->is_patch && plugin->patch_level == level) return true;
  }
  return false;
}

// Patches of levels 2..level, level by level, each level in plugin-slot order. Fails before loading
// anything when a level of the range has no patch.
bool patches_load(int16_t level) {
  if (level < 2) return true;
  for (int16_t l = 2; l <= level; ++l) {
    if (!patch_level_present(l)) {
      log_note(nullptr, 0, "there is no patch of level %d", l);
      return false;
    }
  }
  bool announce = level != store.last_patch_level;
  if (announce) log_note(nullptr, 0, "Loading Patch Files...");
  for (int16_t l = 2; l <= level; ++l) {
    for (int32_t slot : data_array_used_slots(store.plugins)) {
      const tag_file_plugin* plugin = plugin_get(slot);
      if (!plugin->is_patch || plugin->patch_level != l) continue;
      if (announce) log_note(nullptr, 0, "  %s", plugin->name);
      archive_install(store.plugin_files[size_t(slot)], _tag_file_plugin, false, int16_t(slot), plugin->patch_level);
    }
  }
  if (announce) log_note(nullptr, 0, "Loading Patch Files Succeeded");
  store.last_patch_level = level;
  return true;
}

// ---- local tags ----

bool group_folder(const tag_group_definition* group, file_specification* folder) {
  if (group->flags & _tag_group_in_working_folder) return folder_spec(folder, {group->folder_name});
  return folder_spec(folder, {kLocalFolderName, group->folder_name});
}

bool local_file_of(int32_t tag_index, file_specification* file) {
  const tag_header* header = header_get(tag_index);
  if (!header || !header_is_local(header)) return false;
  const tag_group_definition* group = tag_group_find(header->group_tag);
  file_specification folder;
  if (!group || !group_folder(group, &folder)) return false;
  return file_in_folder(folder, store.local_file_names[size_t(data_array_handle_slot(tag_index))], file);
}

bool folder_ensure(const file_specification& folder) {
  return file_exists(&folder) || file_create(&folder);
}

// The group's folder, created where missing (and "local" above it).
bool group_folder_ensure(const tag_group_definition* group, file_specification* folder) {
  if (!group_folder(group, folder)) return false;
  if (!(group->flags & _tag_group_in_working_folder)) {
    file_specification local;
    folder_spec(&local, {kLocalFolderName});
    folder_ensure(local);
  }
  if (folder_ensure(*folder)) return true;
  POST_ERROR(error_file_create, "couldn't create tag subfolder '%s'", spec_path_text(*folder).c_str());
  return false;
}

void local_close() {
  if (file_spec_is_open(&store.open_local_file)) file_close(&store.open_local_file);
  store.open_local_tag = NONE;
}

// Makes the tag's file the one open local file (read-write, exclusive).
bool local_open(int32_t tag_index) {
  if (store.open_local_tag == tag_index && file_spec_is_open(&store.open_local_file)) return true;
  local_close();
  file_specification file;
  if (!local_file_of(tag_index, &file)) return false;
  if (!file_open(&file, _file_open_read | _file_open_write)) {
    POST_ERROR(error_file_open, "couldn't open local tag file '%s'.", spec_file_name(file).c_str());
    return false;
  }
  store.open_local_file = file;
  store.open_local_tag = tag_index;
  return true;
}

bool group_is_restricted_visible(tag group) {
  return std::find(std::begin(restricted_groups), std::end(restricted_groups), group) != std::end(restricted_groups);
}

// One file of a group's folder: taken only if it is a sound local tag of that group whose file name
// is its tag name.
void local_tag_load(const file_specification& file, const tag_group_definition* group) {
  std::string file_name = spec_file_name(file);
  if (atomic_file_is_temporary_name(file_name.c_str())) return;
  // A longer name would be cut, and the cut name would not find this file again.
  if (file_name.size() > MAXIMUM_TAG_NAME_LENGTH) return;
  char name[TAG_NAME_SIZE];
  copy_text(name, file_name.c_str());
  if (sanitize_tag_name(name) || name[0] == '\0') return;

  file_specification reader = file;
  if (!file_open(&reader, _file_open_read)) return;
  tag_header header;
  int64_t length = 0;
  bool read = file_read_from_position(&reader, 0, sizeof header, &header) && file_get_length(&reader, &length);
  file_close(&reader);
  if (!read) return;
  byte_swap_data(tag_header_description, &header, sizeof header, 1);
  if (!tag_header_is_sound_local(header, length) || header.group_tag != group->group_tag) return;
  header.size = uint32_t(length - LOCAL_TAG_DATA_OFFSET);
  copy_text(header.name, name);
  if (group->flags & _tag_group_renumber_local) {
    while (identifier_in_use(header.group_tag, header.tag_identifier) || header.tag_identifier == NONE_TAG) {
      header.tag_identifier++;
    }
  }
  header_add(header, file_name.c_str());
}

void local_tags_load() {
  for (const tag_group_definition& group : tag_groups) {
    if (store.restricted && !group_is_restricted_visible(group.group_tag)) continue;
    file_specification folder;
    if (!group_folder(&group, &folder)) continue;
    for (const file_specification& file : folder_files(folder)) local_tag_load(file, &group);
  }
}

// The first line of the string list a map's header names, else the map's name.
std::string map_description(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  std::string description = header->name;
  uint8_t stored[4];
  if (int64_t(header->size) < kMeshDescriptionTagOffset + 4 ||
      !tag_file_read(tag_index, kMeshDescriptionTagOffset, sizeof stored, stored)) {
    return description;
  }
  int32_t list = tag_file_find(kStringListGroup, read_big_endian_32(stored));
  if (list == NONE) return description;
  char text[kEntryPointDescriptionLength + 1] = {};
  int32_t length = std::min<int32_t>(tag_file_get_size(list), kEntryPointDescriptionLength);
  if (length < 0 || !tag_file_read(list, 0, length, text)) return description;
  text[length] = '\0';
  text[std::strcspn(text, "\r\n")] = '\0';
  return text;
}

void tag_table_entry_points_add() {
  const std::vector<int16_t>* slots = find_slots(store.group_visible_slots, kMeshGroup);
  if (!slots) return;
  std::vector<int16_t> meshes = *slots;  // reading tags does not change it, but stay safe
  for (int16_t slot : meshes) {
    int32_t tag_index = handle_of_slot(slot);
    const tag_header* header = header_get(tag_index);
    if (!header) continue;
    std::string description = map_description(tag_index);
    header = header_get(tag_index);
    entry_point_add(NONE, ENTRY_POINT_SORT_KEY_TAG_TABLE, true, header->tag_identifier, header->user_data,
                    header->name, description.c_str());
  }
}

// ---- reading ----

bool range_is_inside(const tag_header* header, int32_t offset, int32_t size) {
  return offset >= 0 && size >= 0 && int64_t(offset) + int64_t(size) <= int64_t(header->size);
}

bool local_read(int32_t tag_index, const tag_header* header, int32_t offset, int32_t size, void* buffer,
                const char* caller) {
  if (!local_open(tag_index)) return false;
  const int64_t position = int64_t(LOCAL_TAG_DATA_OFFSET) + offset;
  if (range_is_inside(header, offset, size) &&
      file_read_from_position(&store.open_local_file, position, size, buffer)) {
    return true;
  }
  POST_ERROR(error_file_read, "couldn't read #%d bytes from offset #%d in local tag '%s'", size, int32_t(position),
             spec_path_text(store.open_local_file).c_str());
  if (caller) POST_ERROR(error_warning, "single_file_read() failed in %s() ('%s')", caller, header->name);
  return false;
}

bool read_ahead_fill(tag_file_record* archive, int32_t archive_index, int64_t position) {
  read_ahead_state& ahead = store.read_ahead;
  const int64_t remaining = int64_t(archive->header.size) - position;
  const int32_t length = int32_t(std::min<int64_t>(TAG_FILE_READ_AHEAD_SIZE, remaining));
  ahead.archive = NONE;
  ahead.reload = false;
  if (length <= 0 || !file_read_from_position(&archive->file, position, length, ahead.buffer.get())) return false;
  ahead.archive = archive_index;
  ahead.start = position;
  ahead.length = length;
  return true;
}

// An archive read through the read-ahead window: a request that fits a window is copied from the
// buffer, reloading it at the request (or at the old end, for the part that runs past it).
bool archive_read_ahead(tag_file_record* archive, int32_t archive_index, int64_t position, int32_t size,
                        uint8_t* out, const char* name) {
  read_ahead_state& ahead = store.read_ahead;
  const int64_t window = std::min<int64_t>(TAG_FILE_READ_AHEAD_SIZE, int64_t(archive->header.size) - position);
  if (size == 0) return true;
  if (!ahead.buffer || size > window) {
    if (file_read_from_position(&archive->file, position, size, out)) return true;
    POST_ERROR(error_warning, "file_read_from_position() failed in tag_file_read() ('%s')", name);
    return false;
  }
  if (ahead.archive != archive_index || position < ahead.start) ahead.reload = true;
  bool inside = !ahead.reload && position < ahead.start + ahead.length;
  bool loaded = inside || read_ahead_fill(archive, archive_index, position);
  if (loaded) {
    int32_t first = int32_t(std::min<int64_t>(size, ahead.start + ahead.length - position));
    std::memcpy(out, ahead.buffer.get() + (position - ahead.start), size_t(first));
    if (first == size) return true;
    if (read_ahead_fill(archive, archive_index, position + first)) {
      std::memcpy(out + first, ahead.buffer.get(), size_t(size - first));
      return true;
    }
  }
  POST_ERROR(error_warning, "file_read_from_position() failed in tag_file_read_ahead() ('%s')", name);
  return false;
}

// ---- writing whole local files ----

// The tag's file is replaced as a whole (temporary, flush, rename), so that it holds either the old
// or the new contents, never a mixture.
bool local_file_replace(const file_specification& folder, const std::string& file_name, const tag_header& header,
                        const void* data, int32_t size) {
  file_specification target;
  if (!file_in_folder(folder, file_name, &target)) {
    POST_ERROR(error_file_create, "couldn't create local tag file '%s'", file_name.c_str());
    return false;
  }
  tag_header stored = header;
  byte_swap_data(tag_header_description, &stored, sizeof stored, 1);
  const std::span<const uint8_t> parts[] = {
      {reinterpret_cast<const uint8_t*>(&stored), sizeof stored},
      {static_cast<const uint8_t*>(data), size_t(size)},
  };
  return atomic_file_write(&target, parts);
}

// A local tag with the header's group, identifier, name and fields, holding data: the existing
// local tag (tag_index) is replaced in place, or a new one is written and added.
int32_t local_tag_write_whole(int32_t tag_index, tag_header header, const void* data, int32_t size) {
  const tag_group_definition* group = tag_group_find(header.group_tag);
  file_specification folder;
  if (!group || size < 0 || !group_folder_ensure(group, &folder)) return NONE;
  std::string file_name = tag_index == NONE ? std::string(header.name)
                                            : store.local_file_names[size_t(data_array_handle_slot(tag_index))];
  if (tag_index == NONE && free_header_count() == 0) {
    POST_ERROR(error_array_full, "there are no more free tag_headers for '%s'", header.name);
    return NONE;
  }
  header.flags = 0;
  header.reserved = 0;
  header.offset = LOCAL_TAG_DATA_OFFSET;
  header.size = uint32_t(size);
  header.archive_index = TAG_ARCHIVE_INDEX_LOCAL;
  header.signature = TAG_HEADER_SIGNATURE;
  if (tag_index != NONE && store.open_local_tag == tag_index) local_close();
  if (!local_file_replace(folder, file_name, header, data, size)) return NONE;
  if (tag_index != NONE) {
    header_get(tag_index)->size = uint32_t(size);
    header_get(tag_index)->version = header.version;
    return tag_index;
  }
  return header_add(header, file_name.c_str());
}

// Creates a new empty local tag with a known identifier.
int32_t local_tag_create(const tag_group_definition* group, const char* name, tag identifier, int16_t version) {
  file_specification folder, file;
  if (!group_folder_ensure(group, &folder)) return NONE;
  if (!file_in_folder(folder, name, &file)) return NONE;
  local_close();
  if (!file_create(&file)) {
    POST_ERROR(error_file_create, "couldn't create local tag file '%s'", spec_path_text(file).c_str());
    return NONE;
  }
  tag_header header;
  std::memset(&header, 0, sizeof header);
  copy_text(header.name, name);
  header.group_tag = group->group_tag;
  header.tag_identifier = identifier;
  header.version = version;
  header.archive_index = TAG_ARCHIVE_INDEX_LOCAL;
  header.install_class = group->install_class;
  header.signature = TAG_HEADER_SIGNATURE;
  header.offset = LOCAL_TAG_DATA_OFFSET;
  int32_t tag_index = header_add(header, name);
  if (tag_index == NONE) {
    file_delete(&file);
    return NONE;
  }
  tag_header stored = *header_get(tag_index);
  byte_swap_data(tag_header_description, &stored, sizeof stored, 1);
  if (!local_open(tag_index) || !file_write_to_position(&store.open_local_file, 0, sizeof stored, &stored)) {
    POST_ERROR(error_file_write, "couldn't write #%d bytes to offset #%d in local tag '%s'", int32_t(sizeof stored), 0,
               spec_path_text(file).c_str());
    local_close();
    header_remove(tag_index);
    file_delete(&file);
    return NONE;
  }
  return tag_index;
}

// The header in stored order at offset 0 of the tag's open file.
bool local_header_rewrite(int32_t tag_index) {
  if (!local_open(tag_index)) return false;
  tag_header stored = *header_get(tag_index);
  byte_swap_data(tag_header_description, &stored, sizeof stored, 1);
  if (file_write_to_position(&store.open_local_file, 0, sizeof stored, &stored)) return true;
  POST_ERROR(error_file_write, "couldn't write #%d bytes to offset #%d in local tag '%s'", int32_t(sizeof stored), 0,
             spec_path_text(store.open_local_file).c_str());
  return false;
}

bool local_name_taken(const tag_header* header) {
  if (tags_named(header->group_tag, header->name, true).empty()) return false;
  POST_ERROR(error_warning,
             "can't copy monolithic tag '%s' to local folder because a local tag already has the same name.",
             header->name);
  return true;
}

// Deletes a local tag's file and drops its header, so that an archive tag it hid shows again. A
// file that is already gone only loses its header.
bool local_tag_remove(int32_t tag_index) {
  local_close();
  file_specification file;
  if (local_file_of(tag_index, &file) && file_exists(&file) && !file_delete(&file)) {
    POST_ERROR(error_file_create, "couldn't delete local tag file '%s'", spec_path_text(file).c_str());
    return false;
  }
  header_remove(tag_index);
  return true;
}

void lock_release() {
  if (!store.lock_held) return;
  file_close(&store.lock_file);
  file_delete(&store.lock_file);
  store.lock_held = false;
}

}  // namespace

bool tag_header_is_sound_local(const tag_header& header, int64_t file_length) {
  return header.offset == LOCAL_TAG_DATA_OFFSET && header.archive_index == TAG_ARCHIVE_INDEX_LOCAL &&
         (header.install_class == TAG_INSTALL_CLASS_NONE || header.install_class < NUMBER_OF_INSTALL_ARCHIVES) &&
         header.reserved == 0 && header.signature == TAG_HEADER_SIGNATURE && file_length >= LOCAL_TAG_DATA_OFFSET &&
         file_length - LOCAL_TAG_DATA_OFFSET <= INT32_MAX;
}

// ---- group table ----

const tag_group_definition* tag_group_get(int16_t index) {
  return index >= 0 && index < NUMBER_OF_TAG_GROUPS ? &tag_groups[index] : nullptr;
}

const tag_group_definition* tag_group_find(tag group) {
  for (const tag_group_definition& definition : tag_groups) {
    if (definition.group_tag == group) return &definition;
  }
  return nullptr;
}

bool tag_group_local_folder(tag group, file_specification* folder) {
  const tag_group_definition* definition = tag_group_find(group);
  return definition && group_folder(definition, folder);
}

bool tag_group_create_local_folder(tag group, file_specification* folder) {
  const tag_group_definition* definition = tag_group_find(group);
  return definition && group_folder_ensure(definition, folder);
}

tag_file_filter tag_file_filter_any() {
  tag_file_filter filter;
  std::memset(&filter, 0, sizeof filter);
  filter.group_tag = NONE_TAG;
  filter.tag_identifier = NONE_TAG;
  filter.minimum_version = NONE;
  filter.reserved = NONE;
  filter.install_class = NONE;
  filter.size = NONE;
  filter.user_data = NONE_TAG;
  return filter;
}

// ---- lifecycle ----

bool tag_files_initialize() {
  if (store.initialized) return true;
  file_set_volume_name(1, kDiscVolumeName);
  for (const char* name : {kLocalFolderName, kPluginsFolderName, kTagsFolderName}) {
    file_specification folder;
    folder_spec(&folder, {name});
    if (!folder_ensure(folder)) POST_ERROR(error_file_create, "couldn't create tags folder '%s'.", name);
  }
  store.headers = data_array_new("tag header", MAXIMUM_TAG_HEADERS, sizeof(tag_header));
  store.files = data_array_new("tag file", MAXIMUM_TAG_FILES, sizeof(tag_file_record));
  store.plugins = data_array_new("tag file plugin", MAXIMUM_TAG_FILE_PLUGINS, sizeof(tag_file_plugin));
  store.entry_points =
      data_array_new("tag file entry points", MAXIMUM_TAG_FILE_ENTRY_POINTS, sizeof(tag_file_entry_point_record));
  if (!store.headers || !store.files || !store.plugins || !store.entry_points) {
    POST_ERROR(error_out_of_memory, "couldn't allocate memory for tag file globals");
    return false;
  }
  store.local_file_names.assign(MAXIMUM_TAG_HEADERS, std::string());
  store.plugin_files.assign(MAXIMUM_TAG_FILE_PLUGINS, file_specification{});
  store.open_local_file.handle = NONE;
  store.initialized = true;
  plugins_discover();
  // The latest patches are loaded once here; opening at that level later does not announce them again.
  patches_load(tag_file_latest_patch_level());
  register_exit_procedure("tag_files", __LINE__, tag_files_close);
  return true;
}

bool tag_files_open(bool restricted, std::span<const int16_t> plugin_indices, int16_t patch_level) {
  if (!store.initialized) return false;
  tag_files_close();
  store.read_ahead.buffer.reset(new (std::nothrow) uint8_t[TAG_FILE_READ_AHEAD_SIZE]);
  if (!store.read_ahead.buffer) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %d bytes for readahead buffer", TAG_FILE_READ_AHEAD_SIZE);
    return false;
  }
  store.restricted = restricted;
  int16_t level = patch_level == NONE ? tag_file_latest_patch_level() : patch_level;

  store.foundation_present = true;
  for (int16_t install_class = 0; install_class < NUMBER_OF_INSTALL_ARCHIVES; ++install_class) {
    bool taken = false;
    for (int16_t volume = 0; volume <= 1 && !taken; ++volume) {
      if (volume > 0 && !find_volume(volume)) continue;
      file_specification file;
      file_spec_initialize(&file, volume);
      file_spec_append_folder(&file, kTagsFolderName);
      file_spec_set_name(&file, install_archive_names[install_class]);
      taken = archive_install(file, _tag_file_install_archive, !store.install_entry_points_read[install_class], NONE, 0);
    }
    if (taken) store.install_entry_points_read[install_class] = true;
    else store.foundation_present = false;
  }

  if (!patches_load(level)) return false;
  for (int16_t plugin_index : plugin_indices) {
    const tag_file_plugin* plugin = plugin_get(plugin_index);
    if (plugin) {
      archive_install(store.plugin_files[size_t(plugin_index)], _tag_file_plugin, false, plugin_index,
                      plugin->patch_level);
    }
  }
  local_tags_load();
  if (!restricted && !store.tag_table_entry_points_added) {
    store.tag_table_entry_points_added = true;
    tag_table_entry_points_add();
  }
  return true;
}

void tag_files_close() {
  if (!store.initialized) return;
  local_close();
  for (int32_t slot : data_array_used_slots(store.files)) {
    tag_file_record* record = archive_get(slot);
    if (file_spec_is_open(&record->file)) file_close(&record->file);
  }
  data_array_validate(store.files);
  data_array_validate(store.headers);
  store.slots_by_key.clear();
  store.group_slots.clear();
  store.group_visible_slots.clear();
  for (std::string& name : store.local_file_names) name.clear();
  store.read_ahead.buffer.reset();
  store.read_ahead.archive = NONE;
}

namespace {

// Temporaries of whole-tag replacements that a crash or a kill left behind. They are only ever
// written by the program holding the lock, so once we hold it every one left is stale.
void local_temporaries_remove() {
  for (const tag_group_definition& group : tag_groups) {
    file_specification folder;
    if (!group_folder(&group, &folder)) continue;
    for (file_specification& file : folder_files(folder)) {
      if (atomic_file_is_temporary_name(spec_file_name(file).c_str())) file_delete(&file);
    }
  }
}

}  // namespace

bool tag_files_lock_instance() {
  if (store.lock_held) return true;
  file_specification lock;
  folder_spec(&lock, {kLocalFolderName});
  file_spec_set_name(&lock, kLockFileName);
  if (!file_create(&lock) || !file_open(&lock, _file_open_write)) return false;
  store.lock_file = lock;
  store.lock_held = true;
  local_temporaries_remove();
  if (!store.lock_exit_registered) {
    store.lock_exit_registered = true;
    register_exit_procedure("tag_files", __LINE__, lock_release);
  }
  return true;
}

bool foundation_tags_present() { return store.foundation_present; }

// ---- looking up ----

int32_t tag_file_find(tag group, tag identifier) {
  const std::vector<int16_t>* slots = key_slots(group, identifier);
  if (!slots) return NONE;
  for (int16_t slot : *slots) {
    if (!header_is_hidden(header_at_slot(slot))) return handle_of_slot(slot);
  }
  return NONE;
}

int32_t tag_file_search(const tag_file_filter& filter, int32_t* indices, int32_t maximum) {
  if (!store.headers || maximum <= 0) return 0;
  char name[TAG_NAME_SIZE];
  copy_field(name, filter.name);
  auto matches = [&](const tag_header* header) {
    return !header_is_hidden(header) && (name[0] == '\0' || names_equal(header->name, name)) &&
           (filter.group_tag == NONE_TAG || header->group_tag == filter.group_tag) &&
           (filter.tag_identifier == NONE_TAG || header->tag_identifier == filter.tag_identifier) &&
           (filter.minimum_version == NONE || header->version >= filter.minimum_version) &&
           (filter.reserved == NONE || header->reserved == filter.reserved) &&
           (filter.install_class == NONE || header->install_class == filter.install_class) &&
           (filter.size == NONE || int64_t(header->size) == filter.size) &&
           (filter.user_data == NONE_TAG || header->user_data == filter.user_data);
  };
  int32_t count = 0;
  auto consider = [&](int32_t slot) {
    if (count >= maximum || !matches(header_at_slot(slot))) return;
    if (indices) indices[count] = handle_of_slot(slot);
    count++;
  };
  if (filter.group_tag != NONE_TAG) {
    const std::vector<int16_t>* slots = filter.tag_identifier != NONE_TAG
                                            ? key_slots(filter.group_tag, filter.tag_identifier)
                                            : find_slots(store.group_visible_slots, filter.group_tag);
    if (slots) {
      for (int16_t slot : *slots) consider(slot);
    }
  } else {
    for (int32_t slot : data_array_used_slots(store.headers)) consider(slot);
  }
  return count;
}

bool tag_file_get_info(int32_t tag_index, tag_file_info* info) {
  const tag_header* header = header_get(tag_index);
  if (!header || header_is_hidden(header)) return false;
  std::memset(info, 0, sizeof *info);
  copy_field(info->name, header->name);
  info->user_data = header->user_data;
  info->version = header->version;
  info->install_class = header->install_class;
  info->reserved = header->reserved;
  info->size = int32_t(header->size);
  info->group_tag = header->group_tag;
  info->tag_identifier = header->tag_identifier;
  return true;
}

const char* tag_file_get_name(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? header->name : kUnknownName;
}

tag tag_file_get_identifier(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? header->tag_identifier : NONE_TAG;
}

uint16_t tag_file_get_version(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? uint16_t(header->version) : 0xFFFF;
}

int32_t tag_file_count(tag group) {
  const std::vector<int16_t>* slots = find_slots(store.group_visible_slots, group);
  return slots ? std::min<int32_t>(int32_t(slots->size()), MAXIMUM_TAG_FILE_COUNT) : 0;
}

int32_t tag_file_nth(tag group, int32_t n) {
  const std::vector<int16_t>* slots = find_slots(store.group_visible_slots, group);
  if (!slots || n < 0 || n >= tag_file_count(group)) return NONE;
  return handle_of_slot((*slots)[size_t(n)]);
}

bool tag_file_get_header(int32_t tag_index, tag_header* header) {
  const tag_header* found = header_get(tag_index);
  if (found) *header = *found;
  return found != nullptr;
}

bool tag_file_is_valid(int32_t tag_index) { return header_get(tag_index) != nullptr; }

bool tag_file_is_hidden(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header && header_is_hidden(header);
}

bool tag_file_is_local(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header && header_is_local(header);
}

tag tag_file_get_group(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? header->group_tag : NONE_TAG;
}

uint32_t tag_file_get_user_data(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? header->user_data : 0;
}

int16_t tag_file_get_install_class(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? header->install_class : int16_t(NONE);
}

int32_t tag_file_get_size(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  return header ? int32_t(header->size) : NONE;
}

const char* tag_file_get_archive_name(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  const tag_file_record* archive = header ? archive_get(header->archive_index) : nullptr;
  return archive ? archive->header.name : nullptr;
}

bool tag_file_get_local_file(int32_t tag_index, file_specification* file) { return local_file_of(tag_index, file); }

int32_t tag_file_next_header(int32_t tag_index) {
  if (!store.headers) return NONE;
  int32_t slot = tag_index == NONE ? NONE : data_array_handle_slot(tag_index);
  int32_t next = data_array_next_used(data_array_state_of(store.headers), slot);
  return next == DATA_ARRAY_NONE ? NONE : handle_of_slot(next);
}

// ---- reading ----

bool tag_file_read(int32_t tag_index, int32_t offset, int32_t size, void* buffer) {
  const tag_header* header = header_get(tag_index);
  if (!header || header_is_hidden(header) || (!buffer && size > 0)) return false;
  if (header_is_local(header)) return local_read(tag_index, header, offset, size, buffer, "tag_file_read");
  tag_file_record* archive = archive_get(header->archive_index);
  if (archive && range_is_inside(header, offset, size) &&
      file_read_from_position(&archive->file, int64_t(header->offset) + offset, size, buffer)) {
    return true;
  }
  POST_ERROR(error_warning, "file_read_from_position() failed in tag_file_read() ('%s')", header->name);
  return false;
}

bool tag_file_read_ahead(int32_t tag_index, int32_t offset, int32_t size, void* buffer) {
  const tag_header* header = header_get(tag_index);
  if (!header || header_is_hidden(header) || (!buffer && size > 0)) return false;
  if (header_is_local(header)) return local_read(tag_index, header, offset, size, buffer, nullptr);
  tag_file_record* archive = archive_get(header->archive_index);
  if (!archive || !range_is_inside(header, offset, size)) {
    POST_ERROR(error_warning, "file_read_from_position() failed in tag_file_read_ahead() ('%s')", header->name);
    return false;
  }
  return archive_read_ahead(archive, header->archive_index, int64_t(header->offset) + offset, size,
                            static_cast<uint8_t*>(buffer), header->name);
}

// ---- writing ----

bool tag_file_write(int32_t* tag_index, int32_t offset, int32_t size, const void* buffer) {
  const tag_header* header = tag_index ? header_get(*tag_index) : nullptr;
  if (!header || header_is_hidden(header) || offset < 0 || size < 0 || (!buffer && size > 0)) return false;
  if (int64_t(LOCAL_TAG_DATA_OFFSET) + offset + size > INT32_MAX) return false;
  if (!header_is_local(header) && !tag_file_copy_to_local(tag_index)) return false;
  if (!local_open(*tag_index)) return false;
  const int64_t position = int64_t(LOCAL_TAG_DATA_OFFSET) + offset;
  if (!file_write_to_position(&store.open_local_file, position, size, buffer)) {
    POST_ERROR(error_file_write, "couldn't write #%d bytes to offset #%d in local tag '%s'", size, int32_t(position),
               spec_path_text(store.open_local_file).c_str());
    return false;
  }
  int64_t length = 0;
  if (file_get_length(&store.open_local_file, &length) && length >= LOCAL_TAG_DATA_OFFSET) {
    header_get(*tag_index)->size = uint32_t(length - LOCAL_TAG_DATA_OFFSET);
  }
  return true;
}

bool tag_file_write_byte_swapped(int32_t* tag_index, int32_t offset, int32_t record_size, int32_t count, void* buffer,
                                 const byte_swap_description* description) {
  if (record_size < 0 || count < 0 || int64_t(record_size) * count > INT32_MAX) return false;
  const int32_t size = record_size * count;
  if (description && !byte_swap_data(*description, buffer, record_size, count)) return false;
  bool written = tag_file_write(tag_index, offset, size, buffer);
  if (description) byte_swap_data(*description, buffer, record_size, count);
  return written;
}

bool tag_file_replace_contents(int32_t* tag_index, const void* data, int32_t size, int32_t version) {
  const tag_header* found = tag_index ? header_get(*tag_index) : nullptr;
  if (!found || header_is_hidden(found) || size < 0 || (!data && size > 0)) return false;
  if (version > INT16_MAX) return false;
  // The new version goes into the same replacement as the data, so the two never disagree on disk.
  tag_header header = *found;
  if (version >= 0) header.version = int16_t(version);
  if (header_is_local(found)) return local_tag_write_whole(*tag_index, header, data, size) != NONE;
  if (local_name_taken(found)) return false;
  int32_t local = local_tag_write_whole(NONE, header, data, size);
  if (local == NONE) return false;
  *tag_index = local;
  return true;
}

int32_t tag_file_create(tag group, const char* name, int16_t version) {
  const tag_group_definition* definition = tag_group_find(group);
  if (!store.initialized || !definition || !name) return NONE;
  char clean[TAG_NAME_SIZE];
  copy_text(clean, name);
  sanitize_tag_name(clean);
  if (clean[0] == '\0') return NONE;

  tag identifier;
  std::vector<int32_t> named = tags_named(group, clean, false);
  if (!named.empty()) {
    // The last tag of that name gives its identifier; local ones make way for the new file.
    identifier = header_get(named.back())->tag_identifier;
    for (int32_t existing : named) {
      if (header_is_local(header_get(existing)) && !local_tag_remove(existing)) return NONE;
    }
  } else {
    identifier = text_to_tag_padded(clean);
    while (identifier_in_use(group, identifier) || identifier == NONE_TAG) identifier++;
  }
  return local_tag_create(definition, clean, identifier, version);
}

bool tag_file_delete(int32_t tag_index) {
  const tag_header* header = header_get(tag_index);
  if (!header || header_is_hidden(header)) return false;
  if (!header_is_local(header)) {
    POST_ERROR(error_warning, "can't delete '%s' because it is not a local tag.", header->name);
    return false;
  }
  return local_tag_remove(tag_index);
}

bool tag_file_copy_to_local(int32_t* tag_index) {
  const tag_header* header = tag_index ? header_get(*tag_index) : nullptr;
  if (!header || header_is_hidden(header)) return false;
  if (header_is_local(header)) return true;
  if (local_name_taken(header)) return false;
  const int32_t size = int32_t(header->size);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size_t(size) + 1]);
  if (!data) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes to '%s' to local folder.", size, header->name);
    return false;
  }
  if (!tag_file_read(*tag_index, 0, size, data.get())) return false;
  // The local copy keeps the archive tag's identifier, so it hides the archive tag.
  int32_t local = local_tag_write_whole(NONE, *header_get(*tag_index), data.get(), size);
  if (local == NONE) return false;
  *tag_index = local;
  return true;
}

bool tag_file_set_info(int32_t* tag_index, const tag_file_info& info) {
  const tag_header* found = tag_index ? header_get(*tag_index) : nullptr;
  if (!found || header_is_hidden(found)) return false;
  if (info.install_class != TAG_INSTALL_CLASS_NONE && info.install_class >= NUMBER_OF_INSTALL_ARCHIVES) return false;
  char name[TAG_NAME_SIZE];
  copy_field(name, info.name);
  sanitize_tag_name(name);
  if (name[0] == '\0') return false;
  if (!header_is_local(found) && !tag_file_copy_to_local(tag_index)) return false;
  tag_header* header = header_get(*tag_index);
  const int32_t slot = data_array_handle_slot(*tag_index);

  if (std::strcmp(name, header->name) != 0) {
    for (int32_t other : tags_named(header->group_tag, name, false)) {
      if (other != *tag_index) {
        POST_ERROR(error_warning, "can't rename '%s' to '%s' because another tag has that name.", header->name, name);
        return false;
      }
    }
    local_close();
    file_specification file;
    if (!local_file_of(*tag_index, &file) || !file_rename(&file, name)) {
      POST_ERROR(error_file_general, "couldn't rename local tag file '%s' to '%s'", header->name, name);
      return false;
    }
    copy_text(header->name, name);
    store.local_file_names[size_t(slot)] = name;
  }
  header->user_data = info.user_data;
  header->version = info.version;
  header->install_class = info.install_class;
  return local_header_rewrite(*tag_index);
}

bool tag_file_set_user_data(int32_t* tag_index, uint32_t user_data) {
  tag_file_info info;
  if (!tag_index || !tag_file_get_info(*tag_index, &info)) return false;
  info.user_data = user_data;
  return tag_file_set_info(tag_index, info);
}

bool sanitize_tag_name(char* name) {
  if (!name) return false;
  bool changed = false;
  for (char* c = name; *c; ++c) {
    if (std::strchr("\\/|\"<>*?:", *c)) {
      *c = '_';
      changed = true;
    }
  }
  if (std::strlen(name) > MAXIMUM_TAG_NAME_LENGTH) {
    name[MAXIMUM_TAG_NAME_LENGTH] = '\0';
    changed = true;
  }
  size_t length = std::strlen(name);
  while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '.')) name[--length] = '\0';
  return changed;
}

// ---- plugins and maps ----

int32_t tag_file_plugin_count() { return store.plugins ? data_array_state_of(store.plugins)->used_count : 0; }

const tag_file_plugin* tag_file_plugin_get(int16_t plugin_index) { return plugin_get(plugin_index); }

int16_t tag_file_latest_patch_level() {
  int16_t level = 1;
  while (level < INT16_MAX && store.plugins && patch_level_present(int16_t(level + 1))) ++level;
  return level;
}

bool resolve_required_plugins(const void* list, int32_t length, int16_t* plugin_indices, int16_t* plugin_count,
                              std::string* report) {
  if (plugin_count) *plugin_count = 0;
  const auto* bytes = static_cast<const uint8_t*>(list);
  if (!bytes || length < 2 || length > MAXIMUM_REQUIRED_PLUGIN_LIST_SIZE) return false;
  const int16_t count = int16_t(read_big_endian_16(bytes));
  if (count < 0 || count > MAXIMUM_REQUIRED_PLUGINS) return false;

  // A NUL-terminated text of at most maximum characters at *position; none when it can't be read.
  int32_t position = 2;
  bool readable = true;
  auto take_text = [&](int32_t maximum, std::string* text) {
    if (!readable) return false;
    const int32_t limit = std::min(length, position + maximum + 1);
    for (int32_t end = position; end < limit; ++end) {
      if (bytes[end] == '\0') {
        text->assign(reinterpret_cast<const char*>(bytes + position), size_t(end - position));
        position = end + 1;
        return true;
      }
    }
    readable = false;
    return false;
  };

  bool all_found = true;
  int16_t found_count = 0;
  for (int16_t entry = 0; entry < count; ++entry) {
    uint32_t checksum = 0;
    bool have_checksum = readable && position + 4 <= length;
    if (have_checksum) {
      checksum = read_big_endian_32(bytes + position);
      position += 4;
    } else {
      readable = false;
    }
    std::string name, address;
    bool have_name = take_text(MAXIMUM_PLUGIN_NAME_LENGTH, &name);
    bool have_address = take_text(MAXIMUM_PLUGIN_WEB_ADDRESS_LENGTH, &address);
    int32_t match = NONE;
    if (have_checksum && have_name && store.plugins) {
      for (int32_t slot : data_array_used_slots(store.plugins)) {
        const tag_file_plugin* plugin = plugin_get(slot);
        if (plugin->checksum == checksum && names_equal(plugin->name, name.c_str())) {
          match = slot;
          break;
        }
      }
    }
    if (match != NONE) {
      if (plugin_indices) plugin_indices[found_count] = int16_t(match);
      found_count++;
      continue;
    }
    all_found = false;
    if (report) {
      *report += have_name ? name : kUnknownName;
      *report += " - ";
      *report += kWebAddressScheme;
      *report += have_address ? address : kUnknownName;
      *report += '\r';
    }
  }
  if (plugin_count) *plugin_count = found_count;
  return all_found;
}

int32_t tag_file_entry_point_count() {
  return store.entry_points ? data_array_state_of(store.entry_points)->used_count : 0;
}

const tag_file_entry_point_record* tag_file_entry_point_nth(int32_t n) {
  if (!store.entry_points || n < 0) return nullptr;
  for (int32_t slot : data_array_used_slots(store.entry_points)) {
    if (n-- == 0) return data_array_get_as<tag_file_entry_point_record>(store.entry_points, slot);
  }
  return nullptr;
}
