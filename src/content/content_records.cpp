#include "content/content_records.h"

#include <cmath>
#include <cstring>

#include "cseries/error_manager.h"
#include "tag_files/tag_files.h"

uint8_t content_install_class(tag group) {
  const tag_group_definition* definition = tag_group_find(group);
  return definition ? definition->install_class : 0;
}

bool content_append_swapped(const byte_swap_description& description, const void* record, std::vector<uint8_t>* out) {
  std::vector<uint8_t> copy(static_cast<const uint8_t*>(record),
                            static_cast<const uint8_t*>(record) + description.size);
  if (!byte_swap_data(description, copy.data(), description.size, 1)) return false;
  out->insert(out->end(), copy.begin(), copy.end());
  return true;
}

bool content_record_tag(const definition_group& group, tag identifier, const char* name, const void* record,
                        std::vector<archive_writer_tag>* tags, const byte_swap_description* description) {
  if (!description) description = group.description;
  std::vector<uint8_t> data;
  if (!description || description->size != group.record_size || !content_append_swapped(*description, record, &data)) {
    POST_ERROR(error_data_mismatch, "couldn't build the %s definition '%s'.", group.name, name);
    return false;
  }
  content_data_tag(group.group_tag, identifier, name, std::move(data), tags, group.version);
  return true;
}

void content_data_tag(tag group, tag identifier, const char* name, std::vector<uint8_t> data,
                      std::vector<archive_writer_tag>* tags, int16_t version) {
  archive_writer_tag entry;
  entry.group_tag = group;
  entry.tag_identifier = identifier;
  entry.name = name;
  entry.version = version;
  entry.install_class = content_install_class(group);
  entry.data = std::move(data);
  tags->push_back(std::move(entry));
}

void content_string_list_tag(tag group, tag identifier, const char* name, const std::vector<std::string>& strings,
                             std::vector<archive_writer_tag>* tags) {
  std::vector<uint8_t> data;
  for (const std::string& text : strings) {
    data.insert(data.end(), text.begin(), text.end());
    data.push_back('\n');
  }
  content_data_tag(group, identifier, name, std::move(data), tags);
}

std::vector<std::string> content_string_list_strings(const std::vector<uint8_t>& data) {
  std::vector<std::string> strings;
  std::string line;
  for (uint8_t byte : data) {
    if (byte == '\n' || byte == '\r') {
      if (!line.empty()) strings.push_back(line);
      line.clear();
    } else {
      line.push_back(char(byte));
    }
  }
  if (!line.empty()) strings.push_back(line);
  return strings;
}

uint16_t content_angle(double degrees) {
  double turns = degrees / 360.0;
  turns -= std::floor(turns);
  return uint16_t(int32_t(std::lround(turns * 65536.0)) & 0xFFFF);
}

int32_t content_fixed(double value) { return int32_t(std::lround(value * 65536.0)); }
