// Archives: the install archives and plugins read as a whole, checked before any tag of them is
// taken, and the read-ahead window for many small reads of archive tags.
#include <algorithm>
#include <cstring>

#include "cseries/error_manager.h"
#include "tag_files/tag_files_private.h"

namespace tag_files_internal {

tag_file_record* archive_get(int32_t archive_index) {
  if (!store.files || archive_index == TAG_ARCHIVE_INDEX_LOCAL) return nullptr;
  return data_array_get_as<tag_file_record>(store.files, archive_index);
}

void archive_contents_close(archive_contents* contents) {
  if (file_spec_is_open(&contents->file)) file_close(&contents->file);
}

// A tag of an archive is taken only if its name needs no change and its data lies inside the file,
// after the archive's tables. Trailing blanks and dots are no change: they are dropped from the name.
static bool archive_tag_is_valid(tag_header& header, int64_t data_start, int64_t length) {
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

static bool read_ahead_fill(tag_file_record* archive, int32_t archive_index, int64_t position) {
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

}  // namespace tag_files_internal
