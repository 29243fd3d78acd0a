// Fuzzes the tag store's loaders: each input becomes an install archive, a plugin and a local tag
// file in a temporary store, which is opened and every visible tag read, directly and through the
// read-ahead window. Besides the sanitizers it checks what must hold for any input: visible data
// lies within the files written, both read paths agree, reads past a tag's end fail, and the
// indexed look-ups agree with the search.
//
// Input: byte 0 options (bit 0 restricted mode, bit 1 load the plugin, bits 2..7 the local tag's
// group), byte 1 the local tag's name and the read-ahead chunk size, bytes 2..3 and 4..5 the
// archive's and the plugin's lengths (big-endian), then the archive, the plugin and, with the rest,
// the local tag file.
//
// With VELLGRIM_FUZZ_SEEDS naming a folder, inputs built from well-formed files are written there
// first, so that mutation starts from archives the store accepts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "tag_files/archive_writer.h"
#include "tag_files/tag_files.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kArchivePath = "tags/small install";
constexpr const char* kPluginPath = "plugins/fuzz plugin";
constexpr size_t kPrefixSize = 6;

// Names the local tag file may take: valid ones, and ones the name rule changes.
constexpr const char* kLocalNames[] = {"fuzz tag", "Fuzz Tag", "map", "trailing dot.", "what?", "a:b",
                                       "a name that is well over thirty-one characters long", "x"};
constexpr int32_t kChunkSizes[] = {1, 7, 64, 1000, 4096, 16383, 16384, 16385};

void write_file(const fs::path& path, const uint8_t* data, size_t size) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

archive_writer_tag seed_tag(tag group, tag identifier, const char* name, size_t size, uint8_t fill) {
  archive_writer_tag entry;
  entry.group_tag = group;
  entry.tag_identifier = identifier;
  entry.name = name;
  entry.version = 1;
  entry.user_data = identifier;
  entry.install_class = 0;
  entry.data.assign(size, fill);
  for (size_t i = 0; i < size; i += 97) entry.data[i] = uint8_t(i);
  return entry;
}

std::vector<uint8_t> seed_archive(int16_t type, std::vector<archive_writer_tag> tags, bool with_map) {
  archive_writer_archive archive;
  archive.type = type;
  archive.name = type == _tag_file_plugin ? "fuzz plugin" : "small install";
  archive.web_address = "example.org/fuzz";
  if (with_map) archive.entry_points.push_back({make_tag("fmap"), 1, "Fuzz Map", "A map for the fuzzer."});
  archive.tags = std::move(tags);
  std::vector<uint8_t> bytes;
  archive_writer_build(archive, &bytes);
  return bytes;
}

std::vector<uint8_t> seed_input(uint8_t options, uint8_t name_and_chunk, const std::vector<uint8_t>& archive,
                                const std::vector<uint8_t>& plugin, const std::vector<uint8_t>& local) {
  std::vector<uint8_t> input = {options, name_and_chunk, uint8_t(archive.size() >> 8), uint8_t(archive.size()),
                                uint8_t(plugin.size() >> 8), uint8_t(plugin.size())};
  input.insert(input.end(), archive.begin(), archive.end());
  input.insert(input.end(), plugin.begin(), plugin.end());
  input.insert(input.end(), local.begin(), local.end());
  return input;
}

// The group index of a group tag in the group table.
uint8_t group_index_of(tag group) {
  for (int16_t i = 0; i < NUMBER_OF_TAG_GROUPS; ++i)
    if (tag_group_get(i)->group_tag == group) return uint8_t(i);
  return 0;
}

void write_seeds(const fs::path& folder) {
  const tag mesh = make_tag("mesh"), scenery = make_tag("scen"), unit = make_tag("unit");
  // Sizes around the read-ahead window, so that reads cross its end.
  std::vector<uint8_t> archive = seed_archive(
      _tag_file_install_archive,
      {seed_tag(mesh, make_tag("fmap"), "Fuzz Map", 300, 1), seed_tag(scenery, make_tag("rock"), "Rock", 16400, 2),
       seed_tag(unit, make_tag("sold"), "Soldier", 20, 3)},
      true);
  std::vector<uint8_t> plugin =
      seed_archive(_tag_file_plugin, {seed_tag(scenery, make_tag("rock"), "Rock", 40, 4),
                                      seed_tag(scenery, make_tag("tree"), "Tree", 9000, 5)},
                   false);
  std::vector<uint8_t> small_plugin = seed_archive(_tag_file_plugin, {}, false);
  std::vector<uint8_t> local;
  archive_writer_build_local_tag(seed_tag(scenery, make_tag("rock"), "fuzz tag", 33, 6), &local);
  std::vector<uint8_t> local_mesh;
  archive_writer_build_local_tag(seed_tag(mesh, make_tag("fmap"), "map", 70, 7), &local_mesh);

  const uint8_t scenery_group = uint8_t(group_index_of(scenery) << 2);
  const uint8_t mesh_group = uint8_t(group_index_of(mesh) << 2);
  const std::vector<std::vector<uint8_t>> seeds = {
      seed_input(uint8_t(scenery_group | 2), 0x30, archive, plugin, local),
      seed_input(uint8_t(scenery_group | 2), 0x61, archive, plugin, local),
      seed_input(uint8_t(mesh_group | 3), 0x72, archive, small_plugin, local_mesh),
      seed_input(uint8_t(mesh_group), 0x02, archive, {}, local_mesh),
      seed_input(uint8_t(scenery_group | 2), 0x40, {}, plugin, {}),
  };
  std::error_code error;
  fs::create_directories(folder, error);
  for (size_t i = 0; i < seeds.size(); ++i) {
    std::ofstream out(folder / ("seed-" + std::to_string(i)), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(seeds[i].data()), std::streamsize(seeds[i].size()));
  }
}

// The path of the local tag file chosen by the input.
fs::path local_tag_path(uint8_t options, uint8_t name_and_chunk) {
  const tag_group_definition* group = tag_group_get(int16_t((options >> 2) % NUMBER_OF_TAG_GROUPS));
  file_specification folder;
  if (!tag_group_local_folder(group->group_tag, &folder)) return {};
  std::string path = folder.path;
  std::replace(path.begin(), path.end(), '\\', '/');
  return fs::path(path) / kLocalNames[(name_and_chunk & 0x0F) % std::size(kLocalNames)];
}

[[noreturn]] void invariant_broken(const char* what, int32_t tag_index) {
  std::fprintf(stderr, "tag store invariant broken: %s (tag '%s')\n", what, tag_file_get_name(tag_index));
  std::abort();
}

void read_every_visible_tag(size_t input_size, int32_t chunk_size) {
  std::vector<int32_t> indices(MAXIMUM_TAG_HEADERS);
  int32_t count = tag_file_search(tag_file_filter_any(), indices.data(), MAXIMUM_TAG_HEADERS);
  if (count < 0 || count > MAXIMUM_TAG_HEADERS) invariant_broken("search count out of range", NONE);
  std::map<tag, int32_t> visible_per_group;

  for (int32_t n = 0; n < count; ++n) {
    const int32_t tag_index = indices[size_t(n)];
    tag_file_info info;
    if (!tag_file_get_info(tag_index, &info)) invariant_broken("search found a hidden tag", tag_index);
    ++visible_per_group[info.group_tag];
    if (tag_file_find(info.group_tag, info.tag_identifier) != tag_index)
      invariant_broken("find disagrees with search", tag_index);

    // Every file written is part of the input, so no visible data can be larger.
    const int32_t size = tag_file_get_size(tag_index);
    if (size < 0 || size_t(size) > input_size) invariant_broken("data larger than its file", tag_index);

    std::vector<uint8_t> direct(size_t(size) + 1), ahead(size_t(size) + 1);
    bool direct_read = tag_file_read(tag_index, 0, size, direct.data());
    bool ahead_read = true;
    for (int32_t offset = 0; offset < size && ahead_read; offset += chunk_size) {
      int32_t part = std::min(chunk_size, size - offset);
      ahead_read = tag_file_read_ahead(tag_index, offset, part, ahead.data() + offset);
    }
    if (direct_read && ahead_read && direct != ahead) invariant_broken("read-ahead differs from a direct read", tag_index);
    if (tag_file_read(tag_index, size, 1, direct.data())) invariant_broken("read past the end succeeded", tag_index);
    if (tag_file_read(tag_index, -1, 1, direct.data())) invariant_broken("read before the start succeeded", tag_index);
  }

  for (const auto& [group, visible] : visible_per_group) {
    int32_t counted = tag_file_count(group);
    if (counted != std::min(visible, int32_t(MAXIMUM_TAG_FILE_COUNT))) invariant_broken("count disagrees", NONE);
    for (int32_t n = 0; n < counted; ++n) {
      if (tag_file_is_hidden(tag_file_nth(group, n))) invariant_broken("nth gave a hidden tag", NONE);
    }
    if (tag_file_nth(group, counted) != NONE) invariant_broken("nth past the end", NONE);
  }
  for (int32_t n = 0; n < tag_file_entry_point_count(); ++n) {
    if (!tag_file_entry_point_nth(n)) invariant_broken("missing entry point", NONE);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_enter_temporary_folder();
  error_manager_initialize("fuzz_tag_store");

  // Plugins are discovered once, at initialisation: a well-formed plugin becomes plugin 0, whose
  // file each input then replaces before the store is opened with it.
  std::vector<uint8_t> plugin = seed_archive(_tag_file_plugin, {seed_tag(make_tag("scen"), 1, "seed", 8, 1)}, false);
  write_file(kPluginPath, plugin.data(), plugin.size());
  if (!tag_files_initialize()) std::abort();

  if (const char* seeds = std::getenv("VELLGRIM_FUZZ_SEEDS")) write_seeds(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kPrefixSize) return 0;
  const uint8_t options = data[0], name_and_chunk = data[1];
  size_t archive_size = std::min<size_t>((size_t(data[2]) << 8) | data[3], size - kPrefixSize);
  size_t plugin_size = std::min<size_t>((size_t(data[4]) << 8) | data[5], size - kPrefixSize - archive_size);
  const uint8_t* archive = data + kPrefixSize;
  const uint8_t* plugin = archive + archive_size;
  const uint8_t* local = plugin + plugin_size;
  size_t local_size = size - kPrefixSize - archive_size - plugin_size;

  write_file(kArchivePath, archive, archive_size);
  write_file(kPluginPath, plugin, plugin_size);
  fs::path local_path = local_tag_path(options, name_and_chunk);
  if (!local_path.empty()) write_file(local_path, local, local_size);

  const int16_t plugin_list[] = {0};
  std::span<const int16_t> plugins = (options & 2) ? std::span<const int16_t>(plugin_list) : std::span<const int16_t>();
  if (tag_files_open((options & 1) != 0, plugins, NONE)) {
    read_every_visible_tag(size, kChunkSizes[(name_and_chunk >> 4) % std::size(kChunkSizes)]);
  }
  tag_files_close();
  handle_error();

  std::error_code error;
  if (!local_path.empty()) fs::remove(local_path, error);
  fuzz_restart_log_now_and_then("fuzz_tag_store");
  return 0;
}
