// The tag store's core: the stored layouts, the group table, the header table with its visibility
// rule, the store's lifecycle and the look-ups. Archives, plugins, local tags, reading and writing
// and the lock live beside it, around tag_files_private.h.
#include "tag_files/tag_files.h"

#include <algorithm>
#include <cstring>

#include "cseries/error_manager.h"
#include "tag_files/tag_files_private.h"

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

namespace tag_files_internal {

const tag_group_definition tag_groups[NUMBER_OF_TAG_GROUPS] = {
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

const tag restricted_groups[6] = {make_tag("obpc"), make_tag("form"), make_tag("stli"),
                                  make_tag("pref"), make_tag("reco"), make_tag("save")};

tag_store_globals store;

// ---- small helpers ----

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

std::vector<file_specification> folder_files(const file_specification& folder) {
  std::vector<file_specification> files;
  if (!file_exists(&folder) || !file_enumeration_begin(0, &folder)) return files;
  file_specification file;
  while (file_enumeration_next(&file)) files.push_back(file);
  file_enumeration_end();
  return files;
}

// ---- the header table and its index ----

tag_header* header_at_slot(int32_t slot) { return data_array_get_as<tag_header>(store.headers, slot); }

tag_header* header_get(int32_t tag_index) {
  if (!store.headers || tag_index == NONE) return nullptr;
  return data_array_get_checked_as<tag_header>(store.headers, tag_index);
}

int32_t handle_of_slot(int32_t slot) { return store.headers ? data_array_handle(store.headers, slot) : NONE; }


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

}  // namespace tag_files_internal

using namespace tag_files_internal;

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

namespace {

// The store's folders in the current folder, created when missing.
void ensure_store_folders() {
  for (const char* name : {kLocalFolderName, kPluginsFolderName, kTagsFolderName}) {
    file_specification folder;
    folder_spec(&folder, {name});
    if (!folder_ensure(folder)) POST_ERROR(error_file_create, "couldn't create tags folder '%s'.", name);
  }
}

}  // namespace

bool tag_files_initialize() {
  if (store.initialized) return true;
  file_set_volume_name(1, kDiscVolumeName);
  ensure_store_folders();
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
  // Reopening may find a folder removed since (or a store opened in another folder).
  ensure_store_folders();
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
  tag_files_commit_abandon();
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

bool foundation_tags_present() { return store.foundation_present; }

bool tag_files_is_open() { return store.initialized && store.read_ahead.buffer != nullptr; }

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
