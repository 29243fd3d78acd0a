// Local tags: one file per tag in its group's folder; loading them, the one open local file, and
// writing, creating and removing whole local tags.
#include <algorithm>
#include <cstring>

#include "cseries/error_manager.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files_private.h"

namespace tag_files_internal {

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

// Makes the tag's file the one open local file, for reading: files are replaced whole by renames,
// so a reader never needs to keep anybody else out, and an open file keeps its contents.
bool local_open(int32_t tag_index) {
  if (store.open_local_tag == tag_index && file_spec_is_open(&store.open_local_file)) return true;
  local_close();
  file_specification file;
  if (!local_file_of(tag_index, &file)) return false;
  if (!file_open(&file, _file_open_read)) {
    POST_ERROR(error_file_open, "couldn't open local tag file '%s'.", spec_file_name(file).c_str());
    return false;
  }
  store.open_local_file = file;
  store.open_local_tag = tag_index;
  return true;
}

static bool group_is_restricted_visible(tag group) {
  return std::find(std::begin(restricted_groups), std::end(restricted_groups), group) != std::end(restricted_groups);
}

// One file of a group's folder: taken only if it is a sound local tag of that group whose file name
// is its tag name.
static void local_tag_load(const file_specification& file, const tag_group_definition* group) {
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

// ---- writing whole local tags ----
//
// Every write goes through a commit (tag_files_commit.cpp): the new contents are staged and the
// file is replaced whole when the commit ends, so that it holds either the old or the new
// contents, never a mixture. A write outside an open commit is a commit of its own.

namespace {

void local_header_prepare(tag_header* header, int32_t size) {
  header->flags = 0;
  header->reserved = 0;
  header->offset = LOCAL_TAG_DATA_OFFSET;
  header->size = uint32_t(size);
  header->archive_index = TAG_ARCHIVE_INDEX_LOCAL;
  header->signature = TAG_HEADER_SIGNATURE;
}

// Adds the header of a local tag that has no file yet and stages it with data.
int32_t local_tag_add_staged(const tag_header& header, const void* data, int32_t size) {
  if (free_header_count() == 0) {
    POST_ERROR(error_array_full, "there are no more free tag_headers for '%s'", header.name);
    return NONE;
  }
  int32_t tag_index = header_add(header, header.name);
  staged_tag* staged = tag_index == NONE ? nullptr : stage(tag_index, true);
  if (!staged) {
    if (tag_index != NONE) header_remove(tag_index);
    return NONE;
  }
  staged->data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  return tag_index;
}

}  // namespace

// A local tag with the header's group, identifier, name and fields, holding data: the existing
// local tag (tag_index) is replaced, or a new one is written and added.
int32_t local_tag_write_whole(int32_t tag_index, tag_header header, const void* data, int32_t size) {
  const tag_group_definition* group = tag_group_find(header.group_tag);
  if (!group || size < 0 || (!data && size > 0)) return NONE;
  local_header_prepare(&header, size);
  commit_scope commit;
  if (tag_index == NONE) {
    tag_index = local_tag_add_staged(header, data, size);
  } else {
    staged_tag* staged = stage(tag_index, false);
    if (!staged) return NONE;
    staged->data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    header_get(tag_index)->size = uint32_t(size);
    header_get(tag_index)->version = header.version;
  }
  return tag_index != NONE && commit.end() ? tag_index : NONE;
}

// Creates a new empty local tag with a known identifier.
int32_t local_tag_create(const tag_group_definition* group, const char* name, tag identifier, int16_t version) {
  file_specification folder, file;
  if (!group_folder(group, &folder) || !file_in_folder(folder, name, &file)) return NONE;
  tag_header header;
  std::memset(&header, 0, sizeof header);
  copy_text(header.name, name);
  header.group_tag = group->group_tag;
  header.tag_identifier = identifier;
  header.version = version;
  header.install_class = group->install_class;
  local_header_prepare(&header, 0);
  commit_scope commit;
  int32_t tag_index = local_tag_add_staged(header, nullptr, 0);
  return tag_index != NONE && commit.end() ? tag_index : NONE;
}

// Empties an existing local tag as if it were created again: its new header (version, install
// class, no user data) and no data, replacing the file whole.
int32_t local_tag_recreate(int32_t tag_index, const tag_group_definition* group, int16_t version) {
  commit_scope commit;
  staged_tag* staged = stage(tag_index, false);
  if (!staged) return NONE;
  staged->data.clear();
  tag_header* header = header_get(tag_index);
  header->size = 0;
  header->version = version;
  header->install_class = group->install_class;
  header->user_data = 0;
  return commit.end() ? tag_index : NONE;
}

// The tag's header (already changed in memory) goes to its file with the data as it is.
bool local_header_rewrite(int32_t tag_index) {
  commit_scope commit;
  return stage(tag_index, false) != nullptr && commit.end();
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
  if (store.commit.open) {
    POST_ERROR(error_warning, "can't delete '%s' while changes to the store are being gathered.",
               tag_file_get_name(tag_index));
    return false;
  }
  local_close();
  file_specification file;
  if (local_file_of(tag_index, &file) && file_exists(&file) && !file_delete(&file)) {
    POST_ERROR(error_file_create, "couldn't delete local tag file '%s'", spec_path_text(file).c_str());
    return false;
  }
  header_remove(tag_index);
  return true;
}

}  // namespace tag_files_internal
