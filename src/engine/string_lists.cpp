#include "engine/string_lists.h"

#include "cseries/error_manager.h"
#include "tag_files/tag_files.h"

std::vector<std::string> string_list_parse(std::span<const uint8_t> data) {
  std::vector<std::string> strings;
  std::string line;
  bool open = false;
  for (uint8_t byte : data) {
    if (byte == 0) break;
    if (byte == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      strings.push_back(std::move(line));
      line.clear();
      open = false;
      continue;
    }
    line.push_back(char(byte));
    open = true;
  }
  if (open) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    strings.push_back(std::move(line));
  }
  return strings;
}

bool string_list_read_index(int32_t tag_index, std::vector<std::string>* strings) {
  strings->clear();
  const int32_t size = tag_file_get_size(tag_index);
  if (size < 0) return false;
  if (size > STRING_LIST_MAXIMUM_SIZE) {
    POST_ERROR(error_data_corrupted, "string list '%s' of %d bytes is larger than %d bytes.", tag_file_get_name(tag_index),
               size, int(STRING_LIST_MAXIMUM_SIZE));
    return false;
  }
  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (size > 0 && !tag_file_read(tag_index, 0, size, data.data())) {
    POST_ERROR(error_file_read, "couldn't read string list '%s'.", tag_file_get_name(tag_index));
    return false;
  }
  *strings = string_list_parse(data);
  return true;
}

bool string_list_read(tag group, tag identifier, std::vector<std::string>* strings) {
  strings->clear();
  const int32_t index = tag_file_find(group, identifier);
  if (index == NONE) return false;
  return string_list_read_index(index, strings);
}
