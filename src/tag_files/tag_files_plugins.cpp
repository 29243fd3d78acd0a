// Plugins and entry points: plugins found at start, patches by level, the maps offered to the user
// and the required-plugin lists of levels.
#include <algorithm>
#include <cstring>

#include "cseries/error_manager.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files_private.h"

namespace tag_files_internal {

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

tag_file_plugin* plugin_get(int32_t plugin_index) {
  if (!store.plugins || plugin_index < 0) return nullptr;
  return data_array_get_as<tag_file_plugin>(store.plugins, plugin_index);
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

// The first line of the string list a map's header names, else the map's name.
static std::string map_description(int32_t tag_index) {
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

}  // namespace tag_files_internal

using namespace tag_files_internal;

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
