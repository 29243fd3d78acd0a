// Shared set-up for the tag store tests: a fresh working folder with the log open, archives and
// local tags written with the archive writer, and small readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "support/work_folder.h"
#include "tag_files/archive_writer.h"
#include "tag_files/tag_files.h"

inline constexpr tag kMesh = make_tag("mesh");
inline constexpr tag kStringList = make_tag("stli");
inline constexpr tag kPreferences = make_tag("pref");
inline constexpr tag kScenery = make_tag("scen");

inline archive_writer_tag tag_entry(tag group, tag identifier, const std::string& name, const std::string& data,
                                    uint32_t user_data = 0, int16_t version = 1) {
  archive_writer_tag entry;
  entry.group_tag = group;
  entry.tag_identifier = identifier;
  entry.name = name;
  entry.version = version;
  entry.user_data = user_data;
  entry.data.assign(data.begin(), data.end());
  return entry;
}

inline archive_writer_archive archive_of(int16_t type, std::vector<archive_writer_tag> tags, int16_t patch_level = 0) {
  archive_writer_archive archive;
  archive.type = type;
  archive.patch_level = patch_level;
  archive.tags = std::move(tags);
  return archive;
}

class TagStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    error_manager_initialize("vellgrim");
    for (const char* name : {"local", "plugins", "tags"}) std::filesystem::create_directories(name);
  }

  // A file below the working folder given as "folder/name".
  static file_specification spec_of(const std::string& folder, const std::string& name) {
    file_specification spec;
    file_spec_initialize(&spec, 0);
    file_spec_append_folder(&spec, folder.c_str());
    file_spec_set_name(&spec, name.c_str());
    return spec;
  }

  static void write_archive(const std::string& folder, const std::string& name, const archive_writer_archive& archive) {
    file_specification spec = spec_of(folder, name);
    ASSERT_TRUE(archive_writer_write(archive, &spec));
  }

  static void write_install(int index, std::vector<archive_writer_tag> tags) {
    write_archive("tags", install_archive_names[index], archive_of(_tag_file_install_archive, std::move(tags)));
  }

  static void write_local(const archive_writer_tag& entry) { ASSERT_TRUE(archive_writer_write_local_tag_in_place(entry)); }

  static std::vector<uint8_t> archive_bytes(const archive_writer_archive& archive) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(archive_writer_build(archive, &bytes));
    return bytes;
  }

  // Initialises the store and opens it unrestricted at the latest patch level.
  static bool open_store(std::vector<int16_t> plugins = {}, int16_t patch_level = NONE) {
    if (!tag_files_initialize()) return false;
    return tag_files_open(false, plugins, patch_level);
  }

  static std::string read_all(int32_t tag_index) {
    std::string data(size_t(std::max(tag_file_get_size(tag_index), 0)), '\0');
    if (!tag_file_read(tag_index, 0, int32_t(data.size()), data.data())) return "<read failed>";
    return data;
  }

  static std::string read_tag(tag group, tag identifier) {
    int32_t tag_index = tag_file_find(group, identifier);
    return tag_index == NONE ? "<none>" : read_all(tag_index);
  }

  // The plugin index of a discovered plugin file, NONE when it was not discovered.
  static int16_t plugin_named(const char* name) {
    for (int16_t index = 0; index < MAXIMUM_TAG_FILE_PLUGINS; ++index) {
      const tag_file_plugin* plugin = tag_file_plugin_get(index);
      if (plugin && std::string(plugin->name) == name) return index;
    }
    return int16_t(NONE);
  }

  std::string log() const { return folder.read_file("tarn_log.txt"); }
  // The log without its header line.
  std::string reports() const {
    std::string text = log();
    size_t end = text.find('\n');
    return end == std::string::npos ? std::string() : text.substr(end + 1);
  }

  static std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  scoped_work_folder folder;
};
