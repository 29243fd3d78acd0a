// Reading and writing tags: the public reads and writes, whole-tag replacement, creation,
// deletion, copies to the local folder and renames.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cseries/error_manager.h"
#include "tag_files/tag_files_private.h"

namespace tag_files_internal {

bool range_is_inside(const tag_header* header, int32_t offset, int32_t size) {
  return offset >= 0 && size >= 0 && int64_t(offset) + int64_t(size) <= int64_t(header->size);
}

bool local_read(int32_t tag_index, const tag_header* header, int32_t offset, int32_t size, void* buffer,
                const char* caller) {
  if (const staged_tag* staged = staged_find(tag_index)) {
    // Written in the open commit: the new contents, not the file's.
    if (!range_is_inside(header, offset, size) || int64_t(offset) + size > int64_t(staged->data.size())) return false;
    if (size > 0) std::memcpy(buffer, staged->data.data() + offset, size_t(size));
    return true;
  }
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

}  // namespace tag_files_internal

using namespace tag_files_internal;

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
  // The archive tag's copy and the write are one change.
  commit_scope commit;
  if (!header_is_local(header) && !tag_file_copy_to_local(tag_index)) return false;
  staged_tag* staged = stage(*tag_index, false);
  if (!staged) return false;
  const size_t end = size_t(offset) + size_t(size);
  if (staged->data.size() < end) staged->data.resize(end);
  if (size > 0) std::memcpy(staged->data.data() + offset, buffer, size_t(size));
  header_get(*tag_index)->size = uint32_t(staged->data.size());
  return commit.end();
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

  // Only the visible tag of a name counts: a hidden one's identifier belongs to the tag hiding it.
  tag identifier;
  std::vector<int32_t> named = tags_named(group, clean, false);
  // A hidden local file of the name would stand where the new file goes.
  for (int32_t hidden : named) {
    if (header_is_hidden(header_get(hidden)) && header_is_local(header_get(hidden)) && !local_tag_remove(hidden)) {
      return NONE;
    }
  }
  named = tags_named(group, clean, false);
  std::erase_if(named, [](int32_t tag_index) { return header_is_hidden(header_get(tag_index)); });
  if (!named.empty()) {
    // The last tag of that name gives its identifier; a local one is emptied in place, replaced
    // whole, so that no moment passes without it.
    const int32_t last = named.back();
    identifier = header_get(last)->tag_identifier;
    if (header_is_local(header_get(last))) return local_tag_recreate(last, definition, version);
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
    if (store.commit.open) return false;  // a rename is not staged: it happens at once
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
