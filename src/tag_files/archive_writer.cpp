#include "tag_files/archive_writer.h"

#include <cstring>
#include <set>
#include <utility>

#include "cseries/error_manager.h"
#include "tag_files/atomic_file.h"

namespace {

// Names must come back unchanged through the loader's name rule.
bool name_is_storable(const std::string& name) {
  if (name.empty() || name.size() > MAXIMUM_TAG_NAME_LENGTH) return false;
  char copy[TAG_NAME_SIZE] = {};
  std::memcpy(copy, name.data(), name.size());
  return !sanitize_tag_name(copy) && name == copy;
}

template <size_t N>
bool put_text(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  if (text.size() > N - 1) return false;
  std::memcpy(field, text.data(), text.size());
  return true;
}

// The stored (big-endian) header of one tag.
bool stored_tag_header(const archive_writer_tag& source, uint32_t offset, uint8_t archive_index, tag_header* out) {
  std::memset(out, 0, sizeof *out);
  if (!name_is_storable(source.name) || source.data.size() > INT32_MAX) {
    POST_ERROR(error_data_mismatch, "can't store the tag '%s': its name or size would not load",
               source.name.c_str());
    return false;
  }
  put_text(out->name, source.name);
  out->group_tag = source.group_tag;
  out->tag_identifier = source.tag_identifier;
  out->offset = offset;
  out->size = uint32_t(source.data.size());
  out->user_data = source.user_data;
  out->version = source.version;
  out->install_class = source.install_class;
  out->archive_index = archive_index;
  out->signature = TAG_HEADER_SIGNATURE;
  byte_swap_data(tag_header_description, out, sizeof *out, 1);
  return true;
}

template <class T>
void append_record(std::vector<uint8_t>* bytes, const T& record) {
  const auto* first = reinterpret_cast<const uint8_t*>(&record);
  bytes->insert(bytes->end(), first, first + sizeof record);
}

bool write_whole(const std::vector<uint8_t>& bytes, const file_specification* file) {
  const std::span<const uint8_t> parts[] = {bytes};
  return atomic_file_write(file, parts);
}

std::string file_name_of(const file_specification& file) {
  const char* separator = std::strrchr(file.path, '\\');
  return separator ? separator + 1 : file.path;
}

}  // namespace

uint32_t archive_writer_checksum(std::span<const uint8_t> bytes_after_header) {
  uint32_t hash = 2166136261u;
  for (uint8_t byte : bytes_after_header) hash = (hash ^ byte) * 16777619u;
  return hash;
}

bool archive_writer_build(const archive_writer_archive& archive, std::vector<uint8_t>* bytes) {
  bytes->clear();
  const char* name = archive.name.c_str();
  if ((archive.type != _tag_file_install_archive && archive.type != _tag_file_plugin) ||
      archive.tags.size() >= MAXIMUM_TAG_HEADERS || archive.entry_points.size() > INT16_MAX) {
    POST_ERROR(error_data_mismatch, "can't build the archive '%s': bad type or too many tags or entry points", name);
    return false;
  }
  std::set<std::pair<tag, tag>> keys;
  uint64_t data_start = sizeof(tag_file_header) + sizeof(tag_file_entry_point) * archive.entry_points.size() +
                        sizeof(tag_header) * archive.tags.size();
  uint64_t total = data_start;
  for (const archive_writer_tag& source : archive.tags) {
    total += source.data.size();
    if (!keys.insert({source.group_tag, source.tag_identifier}).second) {
      POST_ERROR(error_data_mismatch, "can't build the archive '%s': two tags are '%s' '%s'", name,
                 tag_to_text(source.group_tag).c_str(), tag_to_text(source.tag_identifier).c_str());
      return false;
    }
  }
  if (total > UINT32_MAX) {
    POST_ERROR(error_data_mismatch, "can't build the archive '%s': it would be larger than 4 GB", name);
    return false;
  }

  bytes->reserve(size_t(total));
  bytes->resize(sizeof(tag_file_header));
  for (const archive_writer_entry_point& source : archive.entry_points) {
    tag_file_entry_point stored;
    std::memset(&stored, 0, sizeof stored);
    stored.mesh_tag = source.mesh_tag;
    stored.flags = source.flags;
    if (!put_text(stored.name, source.name) || !put_text(stored.description, source.description)) {
      POST_ERROR(error_data_mismatch, "can't build the archive '%s': the entry point '%s' has too long a text", name,
                 source.name.c_str());
      return false;
    }
    byte_swap_data(tag_file_entry_point_description, &stored, sizeof stored, 1);
    append_record(bytes, stored);
  }
  uint64_t offset = data_start;
  for (const archive_writer_tag& source : archive.tags) {
    tag_header stored;
    // The archive index of a stored tag is not read back; it is written as "none".
    if (!stored_tag_header(source, uint32_t(offset), TAG_ARCHIVE_INDEX_LOCAL, &stored)) return false;
    append_record(bytes, stored);
    offset += source.data.size();
  }
  for (const archive_writer_tag& source : archive.tags) bytes->insert(bytes->end(), source.data.begin(), source.data.end());

  tag_file_header header;
  std::memset(&header, 0, sizeof header);
  header.type = archive.type;
  header.patch_level = archive.patch_level;
  if (!put_text(header.name, archive.name.substr(0, MAXIMUM_TAG_NAME_LENGTH)) ||
      !put_text(header.web_address, archive.web_address)) {
    POST_ERROR(error_data_mismatch, "can't build the archive '%s': its web address is too long", name);
    return false;
  }
  header.entry_point_count = int16_t(archive.entry_points.size());
  header.tag_count = int16_t(archive.tags.size());
  header.checksum = archive.checksum
                        ? archive.checksum
                        : archive_writer_checksum(std::span<const uint8_t>(*bytes).subspan(sizeof(tag_file_header)));
  header.flags = archive.flags;
  header.size = uint32_t(bytes->size());
  header.signature = TAG_FILE_SIGNATURE;
  byte_swap_data(tag_file_header_description, &header, sizeof header, 1);
  std::memcpy(bytes->data(), &header, sizeof header);
  return true;
}

bool archive_writer_write(const archive_writer_archive& archive, const file_specification* file) {
  std::vector<uint8_t> bytes;
  return archive_writer_build(archive, &bytes) && write_whole(bytes, file);
}

bool archive_writer_build_local_tag(const archive_writer_tag& tag_entry, std::vector<uint8_t>* bytes) {
  bytes->clear();
  tag_header stored;
  if (!stored_tag_header(tag_entry, LOCAL_TAG_DATA_OFFSET, TAG_ARCHIVE_INDEX_LOCAL, &stored)) return false;
  append_record(bytes, stored);
  bytes->insert(bytes->end(), tag_entry.data.begin(), tag_entry.data.end());
  return true;
}

bool archive_writer_write_local_tag(const archive_writer_tag& tag_entry, const file_specification* file) {
  std::vector<uint8_t> bytes;
  return archive_writer_build_local_tag(tag_entry, &bytes) && write_whole(bytes, file);
}

bool archive_writer_write_local_tag_in_place(const archive_writer_tag& tag_entry) {
  file_specification folder;
  if (!name_is_storable(tag_entry.name) || !tag_group_find(tag_entry.group_tag)) {
    POST_ERROR(error_data_mismatch, "can't store the tag '%s' in its local folder", tag_entry.name.c_str());
    return false;
  }
  if (!tag_group_create_local_folder(tag_entry.group_tag, &folder)) return false;
  file_specification file = folder;
  file_spec_set_name(&file, tag_entry.name.c_str());
  return archive_writer_write_local_tag(tag_entry, &file);
}

bool archive_writer_read_local_tag(const file_specification* file, archive_writer_tag* tag_entry) {
  char text[MAXIMUM_FILE_PATH_LENGTH + 1];
  file_spec_get_text(file, _file_text_full, text);
  file_specification reader = *file;
  reader.handle = NONE;
  if (!file_open(&reader, _file_open_read)) {
    POST_ERROR(error_file_open, "couldn't open local tag file '%s'.", text);
    return false;
  }
  tag_header header;
  int64_t length = 0;
  bool read = file_read_from_position(&reader, 0, sizeof header, &header) && file_get_length(&reader, &length);
  byte_swap_data(tag_header_description, &header, sizeof header, 1);
  std::string name = file_name_of(*file);
  bool sound = read && tag_header_is_sound_local(header, length) && name_is_storable(name);
  archive_writer_tag result;
  if (sound) {
    result.data.resize(size_t(length - LOCAL_TAG_DATA_OFFSET));
    sound = file_read_from_position(&reader, LOCAL_TAG_DATA_OFFSET, int64_t(result.data.size()), result.data.data());
  }
  file_close(&reader);
  if (!sound) {
    POST_ERROR(error_data_corrupted, "'%s' is not a local tag file", text);
    return false;
  }
  result.group_tag = header.group_tag;
  result.tag_identifier = header.tag_identifier;
  result.name = name;
  result.version = header.version;
  result.user_data = header.user_data;
  result.install_class = header.install_class;
  *tag_entry = std::move(result);
  return true;
}
