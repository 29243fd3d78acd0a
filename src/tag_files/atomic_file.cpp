#include "tag_files/atomic_file.h"

#include <cstring>
#include <string>

#include "cseries/error_manager.h"

namespace {

bool (*test_hook)(const file_specification*) = nullptr;

std::string path_text(const file_specification& spec) {
  char text[MAXIMUM_FILE_PATH_LENGTH + 1];
  file_spec_get_text(&spec, _file_text_full, text);
  return text;
}

// The temporary beside target: same folder, prefixed name; false when the path would not fit.
bool temporary_beside(const file_specification& target, file_specification* temporary) {
  const char* separator = std::strrchr(target.path, '\\');
  const char* name = separator ? separator + 1 : target.path;
  size_t folder_length = size_t(name - target.path);
  if (folder_length + std::strlen(ATOMIC_FILE_TEMPORARY_PREFIX) + std::strlen(name) > MAXIMUM_FILE_PATH_LENGTH) {
    return false;
  }
  *temporary = target;
  temporary->handle = NONE;
  std::string path = std::string(target.path, folder_length) + ATOMIC_FILE_TEMPORARY_PREFIX + name;
  std::memcpy(temporary->path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

bool atomic_file_is_temporary_name(const char* file_name) {
  return file_name &&
         std::strncmp(file_name, ATOMIC_FILE_TEMPORARY_PREFIX, std::strlen(ATOMIC_FILE_TEMPORARY_PREFIX)) == 0;
}

bool atomic_file_write(const file_specification* target, std::span<const std::span<const uint8_t>> parts) {
  file_specification temporary;
  if (!target || !file_spec_is_file(target) || !temporary_beside(*target, &temporary) || !file_create(&temporary)) {
    POST_ERROR(error_file_create, "couldn't create a temporary file to replace '%s'",
               target ? path_text(*target).c_str() : "");
    return false;
  }
  bool written = file_open(&temporary, _file_open_write);
  for (std::span<const uint8_t> part : parts) {
    written = written && file_write(&temporary, int64_t(part.size()), part.data());
  }
  written = written && file_flush(&temporary);
  if (file_spec_is_open(&temporary)) written = file_close(&temporary) && written;
  if (!written) {
    POST_ERROR(error_file_write, "couldn't write the temporary file '%s'", path_text(temporary).c_str());
    file_delete(&temporary);
    return false;
  }
  if ((test_hook && !test_hook(&temporary)) || !file_rename_over(&temporary, target)) {
    POST_ERROR(error_file_write, "couldn't replace '%s' with its new contents", path_text(*target).c_str());
    file_delete(&temporary);
    return false;
  }
  return true;
}

void atomic_file_set_test_hook(bool (*hook)(const file_specification* temporary)) { test_hook = hook; }
