#include "cseries/files.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "platform/posix_files.h"

namespace {

int16_t last_file_error = error_none;

char volume_names[MAXIMUM_VOLUMES][MAXIMUM_VOLUME_NAME_LENGTH + 1];

// Sets the outcome of the operation that is ending. The platform's own error value is cleared so
// that only the last file error tells what happened.
bool finish(int16_t error) {
  last_file_error = error;
  errno = 0;
  return error == error_none;
}

bool is_valid(const file_specification* spec) { return spec && spec->signature == FILE_SPECIFICATION_SIGNATURE; }

bool is_open(const file_specification* spec) { return is_valid(spec) && spec->handle != NONE; }

// The host path of a specification. Volumes other than 0 lie on discs found by drive letter and
// label, which this platform does not have, so they are never reachable.
bool host_path(const file_specification* spec, std::string* path) {
  if (!is_valid(spec) || spec->volume != 0) return false;
  *path = posix_path_from_backslashes(spec->path);
  return true;
}

// Appends text to a path, cutting the result at MAXIMUM_FILE_PATH_LENGTH characters.
void append_text(char (&path)[MAXIMUM_FILE_PATH_LENGTH + 1], const char* text) {
  size_t length = strnlen(path, MAXIMUM_FILE_PATH_LENGTH);
  size_t room = MAXIMUM_FILE_PATH_LENGTH - length;
  size_t count = strnlen(text, room);
  std::memcpy(path + length, text, count);
  path[length + count] = '\0';
}

void append_component(file_specification* spec, const char* name) {
  if (spec->path[0] != '\0') append_text(spec->path, "\\");
  append_text(spec->path, name);
}

// The offset of the last component of a path (0 when it has no folder part).
size_t last_component_start(const char* path) {
  const char* separator = std::strrchr(path, '\\');
  return separator ? size_t(separator - path) + 1 : 0;
}

bool is_plain_name(const char* name) {
  return name && name[0] != '\0' && !std::strchr(name, '\\') && !std::strchr(name, '/');
}

// The walk of file_enumeration_begin/next: one level per folder entered, each with its entries
// listed and sorted when entered, so the order does not depend on the file system.
struct enumeration_level {
  std::vector<posix_directory_entry> entries;
  size_t next = 0;
  std::string path;  // backslash path of the folder on the walk's volume
};

struct enumeration_state {
  std::vector<enumeration_level> levels;
  int16_t volume = 0;
  bool descend = false;
};

enumeration_state enumeration;

bool enumeration_enter(const std::string& path) {
  enumeration_level level;
  level.path = path;
  if (!posix_folder_list(posix_path_from_backslashes(path.c_str()), &level.entries)) return false;
  enumeration.levels.push_back(std::move(level));
  return true;
}

}  // namespace

int16_t file_last_error() { return last_file_error; }

void file_spec_initialize(file_specification* spec, int16_t volume) {
  std::memset(spec, 0, sizeof(*spec));
  spec->signature = FILE_SPECIFICATION_SIGNATURE;
  spec->volume = volume;
  spec->handle = NONE;
  finish(error_none);
}

bool file_spec_append_folder(file_specification* spec, const char* name) {
  if (!is_valid(spec) || !name || name[0] == '\0') return finish(error_file_general);
  append_component(spec, name);
  spec->flags &= uint16_t(~_file_specification_is_file);
  return finish(error_none);
}

bool file_spec_set_name(file_specification* spec, const char* name) {
  if (!is_valid(spec) || !name || name[0] == '\0') return finish(error_file_general);
  if (file_spec_is_file(spec)) {
    size_t start = last_component_start(spec->path);
    spec->path[start > 0 ? start - 1 : 0] = '\0';
  }
  append_component(spec, name);
  spec->flags |= _file_specification_is_file;
  return finish(error_none);
}

bool file_spec_get_text(const file_specification* spec, int parts, char (&out)[MAXIMUM_FILE_PATH_LENGTH + 1]) {
  out[0] = '\0';
  if (!is_valid(spec)) return finish(error_file_general);
  std::string path(spec->path, strnlen(spec->path, MAXIMUM_FILE_PATH_LENGTH));
  std::string folder = path, name, extension;
  if (file_spec_is_file(spec)) {
    size_t start = last_component_start(path.c_str());
    folder = path.substr(0, start > 0 ? start - 1 : 0);
    name = path.substr(start);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) {
      extension = name.substr(dot + 1);
      name.resize(dot);
    }
  }
  std::string text;
  if (parts & _file_text_folder) text = folder;
  if (parts & _file_text_name) {
    if (!text.empty() && !name.empty()) text += '\\';
    text += name;
  }
  if ((parts & _file_text_extension) && !extension.empty()) {
    if (parts & _file_text_name) text += '.';
    text += extension;
  }
  append_text(out, text.c_str());
  return finish(error_none);
}

bool file_exists(const file_specification* spec) {
  std::string path;
  bool exists = false;
  if (host_path(spec, &path)) posix_path_kind(path, &exists);
  return finish(exists ? error_none : error_file_general);
}

bool file_create(const file_specification* spec) {
  std::string path;
  if (!host_path(spec, &path)) return finish(error_file_create);
  bool created = file_spec_is_file(spec) ? posix_file_create(path) : posix_folder_create(path);
  return finish(created ? error_none : error_file_create);
}

bool file_delete(const file_specification* spec) {
  std::string path;
  if (!host_path(spec, &path)) return finish(error_file_general);
  bool deleted = file_spec_is_file(spec) ? posix_file_remove(path) : posix_folder_remove(path);
  return finish(deleted ? error_none : error_file_general);
}

bool file_rename(file_specification* spec, const char* new_name) {
  std::string from;
  if (!host_path(spec, &from) || !is_plain_name(new_name)) return finish(error_file_general);
  size_t start = last_component_start(spec->path);
  if (start + std::strlen(new_name) > MAXIMUM_FILE_PATH_LENGTH) return finish(error_file_general);
  file_specification renamed = *spec;
  renamed.path[start] = '\0';
  append_text(renamed.path, new_name);
  if (std::strcmp(renamed.path, spec->path) != 0 &&
      !posix_rename_no_replace(from, posix_path_from_backslashes(renamed.path))) {
    return finish(error_file_general);
  }
  *spec = renamed;
  return finish(error_none);
}

bool file_rename_over(file_specification* spec, const file_specification* target) {
  std::string from, to;
  if (!host_path(spec, &from) || !host_path(target, &to) || !file_spec_is_file(spec) || !file_spec_is_file(target)) {
    return finish(error_file_general);
  }
  if (!posix_rename_replace(from, to)) return finish(error_file_general);
  std::memcpy(spec->path, target->path, sizeof(spec->path));
  spec->volume = target->volume;
  return finish(error_none);
}

bool file_open(file_specification* spec, int mode) {
  std::string path;
  int access = mode & (_file_open_read | _file_open_write);
  if (!host_path(spec, &path) || !file_spec_is_file(spec) || spec->handle != NONE || access == 0 ||
      (mode & ~(_file_open_read | _file_open_write | _file_open_at_end)) != 0) {
    return finish(error_file_open);
  }
  int posix_mode = ((mode & _file_open_read) ? _posix_open_read : 0) | ((mode & _file_open_write) ? _posix_open_write : 0);
  int fd = posix_file_open(path, posix_mode, nullptr);
  if (fd < 0) return finish(error_file_open);
  if ((mode & _file_open_at_end) && !posix_file_seek_end(fd)) {
    posix_file_close(fd);
    return finish(error_file_open);
  }
  spec->handle = fd;
  return finish(error_none);
}

bool file_close(file_specification* spec) {
  if (!is_open(spec)) return finish(error_file_general);
  bool closed = posix_file_close(spec->handle);
  spec->handle = NONE;
  return finish(closed ? error_none : error_file_general);
}

bool file_get_length(const file_specification* spec, int64_t* length) {
  std::string path;
  int64_t result = -1;
  if (is_open(spec)) {
    result = posix_file_length(spec->handle);
  } else if (host_path(spec, &path)) {
    result = posix_path_length(path);
  }
  if (length) *length = result < 0 ? 0 : result;
  return finish(result < 0 ? error_file_general : error_none);
}

bool file_read(file_specification* spec, int64_t count, void* buffer) {
  bool read = is_open(spec) && count >= 0 && (buffer || count == 0) &&
              posix_file_read_exact(spec->handle, buffer, count);
  return finish(read ? error_none : error_file_read);
}

bool file_write(file_specification* spec, int64_t count, const void* buffer) {
  bool written = is_open(spec) && count >= 0 && (buffer || count == 0) &&
                 posix_file_write_exact(spec->handle, buffer, count);
  return finish(written ? error_none : error_file_write);
}

bool file_read_from_position(file_specification* spec, int64_t offset, int64_t count, void* buffer) {
  if (!is_open(spec) || !posix_file_seek(spec->handle, offset)) return finish(error_file_general);
  return file_read(spec, count, buffer);
}

bool file_write_to_position(file_specification* spec, int64_t offset, int64_t count, const void* buffer) {
  if (!is_open(spec) || !posix_file_seek(spec->handle, offset)) return finish(error_file_general);
  return file_write(spec, count, buffer);
}

bool file_flush(file_specification* spec) {
  return finish(is_open(spec) && posix_file_sync(spec->handle) ? error_none : error_file_write);
}

bool file_enumeration_begin(int flags, const file_specification* folder) {
  file_enumeration_end();
  if (!is_valid(folder) || file_spec_is_file(folder) || folder->volume != 0) return finish(error_file_open);
  enumeration.volume = folder->volume;
  enumeration.descend = (flags & _file_enumeration_descend) != 0;
  return finish(enumeration_enter(folder->path) ? error_none : error_file_open);
}

bool file_enumeration_next(file_specification* out) {
  while (!enumeration.levels.empty()) {
    enumeration_level& level = enumeration.levels.back();
    if (level.next >= level.entries.size()) {
      enumeration.levels.pop_back();
      continue;
    }
    const posix_directory_entry& entry = level.entries[level.next++];
    // A backslash in a host name would read as a separator, and a cut path would name another file.
    if (entry.name.find('\\') != std::string::npos) continue;
    std::string path = level.path.empty() ? entry.name : level.path + '\\' + entry.name;
    if (path.size() > MAXIMUM_FILE_PATH_LENGTH) continue;
    if (entry.kind == _posix_entry_file) {
      file_spec_initialize(out, enumeration.volume);
      std::memcpy(out->path, path.c_str(), path.size() + 1);
      out->flags = _file_specification_is_file;
      return finish(error_none);
    }
    // Below the deepest level sub-folders are passed over.
    if (entry.kind == _posix_entry_folder && enumeration.descend &&
        enumeration.levels.size() < MAXIMUM_ENUMERATION_DEPTH) {
      enumeration_enter(path);
    }
  }
  finish(error_none);  // the end of the walk is no failure
  return false;
}

void file_enumeration_end() { enumeration.levels.clear(); }

bool file_set_volume_name(int16_t volume, const char* name) {
  if (volume < 0 || volume >= MAXIMUM_VOLUMES || !name) return finish(error_file_general);
  std::strncpy(volume_names[volume], name, MAXIMUM_VOLUME_NAME_LENGTH);
  volume_names[volume][MAXIMUM_VOLUME_NAME_LENGTH] = '\0';
  return finish(error_none);
}

const char* file_get_volume_name(int16_t volume) {
  return volume >= 0 && volume < MAXIMUM_VOLUMES ? volume_names[volume] : "";
}

bool find_volume(int16_t volume) {
  // Only the working folder exists here: no drive letters, so no disc can match a volume name.
  return finish(volume == 0 ? error_none : error_file_general);
}
