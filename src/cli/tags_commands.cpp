// vellgrim-tool tags ...: listing, showing and packing the tags of a store.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "tag_files/archive_writer.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files.h"

namespace {

using json = cli_json;

// Text fields of stored records are NUL-padded and may fill their whole field.
template <size_t N>
std::string field_text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

json tag_json(int32_t tag_index) {
  tag_header header{};
  tag_file_get_header(tag_index, &header);
  const char* archive = tag_file_get_archive_name(tag_index);
  json object;
  object["group"] = tag_to_text(header.group_tag).c_str();
  object["id"] = tag_to_text(header.tag_identifier).c_str();
  object["id_hex"] = cli_hex_text(header.tag_identifier);
  object["name"] = field_text(header.name);
  object["version"] = header.version;
  object["size"] = header.size;
  object["user_data"] = header.user_data;
  object["install_class"] = header.install_class;
  object["source"] = tag_file_is_local(tag_index) ? "local" : archive ? archive : "";
  object["index"] = tag_index;
  return object;
}

bool parse_tag_argument(cli_options& options, const char* what, const std::string& text, tag* value) {
  if (cli_parse_tag(text, value)) return true;
  return cli_fail(options, "bad %s '%s': give four characters, or 0x and up to eight hex digits", what,
                  text.c_str());
}

// The visible tag named by GROUP and ID arguments, NONE after reporting.
int32_t find_tag_argument(cli_options& options, const std::string& group_text, const std::string& id_text) {
  tag group, identifier;
  if (!parse_tag_argument(options, "group", group_text, &group) ||
      !parse_tag_argument(options, "identifier", id_text, &identifier))
    return NONE;
  if (!cli_session_begin(options, _cli_session_read)) return NONE;
  int32_t tag_index = tag_file_find(group, identifier);
  if (tag_index == NONE) {
    cli_fail(options, "no tag '%s' '%s' (%s %s) in the store", tag_to_text(group).c_str(), tag_to_text(identifier).c_str(),
             cli_hex_text(group).c_str(), cli_hex_text(identifier).c_str());
  }
  return tag_index;
}

// ---- tags list ----

struct list_arguments {
  std::string group;
  bool group_given = false;
  bool as_json = false;
};

void tags_list(cli_options& options, const list_arguments& arguments) {
  tag_file_filter filter = tag_file_filter_any();
  if (arguments.group_given && !parse_tag_argument(options, "group", arguments.group, &filter.group_tag))
    return;
  if (!cli_session_begin(options, _cli_session_read)) return;

  std::vector<int32_t> indices(MAXIMUM_TAG_HEADERS);
  int32_t count = tag_file_search(filter, indices.data(), MAXIMUM_TAG_HEADERS);
  if (count < 0) count = 0;
  indices.resize(size_t(count));

  if (arguments.as_json) {
    json list = json::array();
    for (int32_t tag_index : indices) list.push_back(tag_json(tag_index));
    cli_print_json(list);
    return;
  }
  for (int32_t tag_index : indices) {
    json object = tag_json(tag_index);
    std::printf("%4s %4s %s %10" PRIu32 " %6d  %-28s %s\n", object["group"].get<std::string>().c_str(),
                object["id"].get<std::string>().c_str(), object["id_hex"].get<std::string>().c_str(),
                object["size"].get<uint32_t>(), object["version"].get<int>(),
                object["source"].get<std::string>().c_str(), object["name"].get<std::string>().c_str());
  }
}

// ---- tags info, tags cat ----

struct tag_arguments {
  std::string group;
  std::string id;
  bool as_json = false;
};

void tags_info(cli_options& options, const tag_arguments& arguments) {
  int32_t tag_index = find_tag_argument(options, arguments.group, arguments.id);
  if (tag_index == NONE) return;
  json object = tag_json(tag_index);
  if (arguments.as_json)
    cli_print_json(object);
  else
    cli_print_fields(object);
}

void tags_cat(cli_options& options, const tag_arguments& arguments) {
  int32_t tag_index = find_tag_argument(options, arguments.group, arguments.id);
  if (tag_index == NONE) return;
  int32_t size = tag_file_get_size(tag_index);
  constexpr int32_t kChunkSize = 64 * 1024;
  std::unique_ptr<char[]> buffer(new char[kChunkSize]);
  for (int32_t offset = 0; offset < size; offset += kChunkSize) {
    int32_t count = size - offset < kChunkSize ? size - offset : kChunkSize;
    if (!tag_file_read(tag_index, offset, count, buffer.get())) {
      cli_fail(options, "couldn't read '%s' (see tarn_log.txt)", tag_file_get_name(tag_index));
      return;
    }
    if (std::fwrite(buffer.get(), 1, size_t(count), stdout) != size_t(count)) {
      cli_fail(options, "couldn't write to standard output");
      return;
    }
  }
  if (std::fflush(stdout) != 0) cli_fail(options, "couldn't write to standard output");
}

// ---- tags plugins, tags entry-points ----

void tags_plugins(cli_options& options, bool as_json) {
  if (!cli_session_begin(options, _cli_session_read)) return;
  json list = json::array();
  for (int16_t plugin_index = 0; plugin_index < MAXIMUM_TAG_FILE_PLUGINS; ++plugin_index) {
    const tag_file_plugin* plugin = tag_file_plugin_get(plugin_index);
    if (!plugin) continue;
    json object;
    object["index"] = plugin_index;
    object["name"] = field_text(plugin->name);
    object["web_address"] = field_text(plugin->web_address);
    object["patch_level"] = plugin->patch_level;
    object["checksum"] = cli_hex_text(plugin->checksum);
    object["header_flag"] = plugin->header_flag != 0;
    object["is_patch"] = plugin->is_patch != 0;
    object["has_entry_points"] = plugin->has_entry_points != 0;
    list.push_back(std::move(object));
  }
  if (as_json) {
    cli_print_json(list);
    return;
  }
  for (const json& plugin : list) {
    std::printf("%3d level %-3d %s %-31s %s\n", plugin["index"].get<int>(), plugin["patch_level"].get<int>(),
                plugin["checksum"].get<std::string>().c_str(), plugin["name"].get<std::string>().c_str(),
                plugin["web_address"].get<std::string>().c_str());
  }
}

void tags_entry_points(cli_options& options, bool as_json) {
  if (!cli_session_begin(options, _cli_session_read)) return;
  json list = json::array();
  int32_t count = tag_file_entry_point_count();
  for (int32_t n = 0; n < count; ++n) {
    const tag_file_entry_point_record* entry = tag_file_entry_point_nth(n);
    if (!entry) continue;
    json object;
    object["id"] = tag_to_text(entry->mesh_tag).c_str();
    object["id_hex"] = cli_hex_text(entry->mesh_tag);
    object["name"] = field_text(entry->name);
    object["description"] = field_text(entry->description);
    object["flags"] = entry->flags;
    object["plugin_index"] = entry->plugin_index;
    object["sort_key"] = entry->sort_key;
    object["from_tag_table"] = entry->from_tag_table != 0;
    list.push_back(std::move(object));
  }
  if (as_json) {
    cli_print_json(list);
    return;
  }
  for (const json& entry : list) {
    std::printf("%4s %s %-31s %s\n", entry["id"].get<std::string>().c_str(),
                entry["id_hex"].get<std::string>().c_str(), entry["name"].get<std::string>().c_str(),
                entry["description"].get<std::string>().c_str());
  }
}


// ---- tags pack ----

struct pack_arguments {
  std::string out;
  std::string type;
  std::string name;
  std::string web_address;
  int16_t patch_level = 0;
  std::vector<std::string> folders;
};

constexpr tag kMeshGroup = make_tag("mesh");

// Adds the local tag files of every group folder under folder; false after reporting.
bool pack_collect_folder(cli_options& options, const std::string& folder_path, archive_writer_archive* archive,
                         std::map<std::pair<tag, tag>, std::string>* sources) {
  file_specification root;
  if (!cli_file_spec_from_path(folder_path, false, &root))
    return cli_fail(options, "the folder path '%s' is too long or holds a backslash", folder_path.c_str());
  if (!file_exists(&root)) return cli_fail(options, "there is no folder '%s'", folder_path.c_str());

  for (int16_t group_index = 0; group_index < NUMBER_OF_TAG_GROUPS; ++group_index) {
    const tag_group_definition* group = tag_group_get(group_index);
    file_specification folder = root;
    if (!file_spec_append_folder(&folder, group->folder_name) || !file_exists(&folder)) continue;

    std::vector<file_specification> files;
    if (file_enumeration_begin(0, &folder)) {
      file_specification file;
      while (file_enumeration_next(&file)) files.push_back(file);
      file_enumeration_end();
    }
    for (const file_specification& file : files) {
      std::string path = folder_path + "/" + group->folder_name + "/";
      const char* separator = std::strrchr(file.path, '\\');
      const char* file_name = separator ? separator + 1 : file.path;
      path += file_name;
      // Left behind by an interrupted save: never a tag.
      if (atomic_file_is_temporary_name(file_name)) continue;

      archive_writer_tag entry;
      if (!archive_writer_read_local_tag(&file, &entry))
        return cli_fail(options, "'%s' is not a local tag file the store would load", path.c_str());
      if (entry.group_tag != group->group_tag)
        return cli_fail(options, "'%s' belongs to group '%s', not to the folder's group '%s'", path.c_str(),
                        tag_to_text(entry.group_tag).c_str(), tag_to_text(group->group_tag).c_str());
      auto [existing, inserted] = sources->insert({{entry.group_tag, entry.tag_identifier}, path});
      if (!inserted)
        return cli_fail(options, "'%s' and '%s' are both tag '%s' '%s'", existing->second.c_str(), path.c_str(),
                        tag_to_text(entry.group_tag).c_str(), tag_to_text(entry.tag_identifier).c_str());
      // Each map of the archive is offered to the player.
      if (entry.group_tag == kMeshGroup)
        archive->entry_points.push_back({entry.tag_identifier, entry.user_data, entry.name, std::string()});
      archive->tags.push_back(std::move(entry));
    }
  }
  return true;
}

void tags_pack(cli_options& options, const pack_arguments& arguments) {
  archive_writer_archive archive;
  if (arguments.type == "install") {
    archive.type = _tag_file_install_archive;
  } else if (arguments.type == "plugin") {
    archive.type = _tag_file_plugin;
  } else {
    cli_fail(options, "bad archive type '%s': give install or plugin", arguments.type.c_str());
    return;
  }
  if (arguments.web_address.size() > MAXIMUM_PLUGIN_WEB_ADDRESS_LENGTH) {
    cli_fail(options, "the web address is longer than %d characters", MAXIMUM_PLUGIN_WEB_ADDRESS_LENGTH);
    return;
  }
  // Paths are taken from where the tool was started, before the session enters --root.
  std::string out_path = cli_absolute_path(arguments.out);
  std::vector<std::string> folder_paths;
  for (const std::string& folder : arguments.folders) folder_paths.push_back(cli_absolute_path(folder));
  file_specification out;
  if (!cli_file_spec_from_path(out_path, true, &out)) {
    cli_fail(options, "the output path '%s' is too long or holds a backslash", out_path.c_str());
    return;
  }

  // The output may be an archive of this very store: write only while holding its lock.
  if (!cli_session_begin(options, _cli_session_create)) return;

  std::map<std::pair<tag, tag>, std::string> sources;
  for (const std::string& folder_path : folder_paths) {
    if (!pack_collect_folder(options, folder_path, &archive, &sources)) return;
  }
  if (archive.tags.size() >= MAXIMUM_TAG_HEADERS) {
    cli_fail(options, "%zu tags found; an archive holds at most %d", archive.tags.size(), MAXIMUM_TAG_HEADERS - 1);
    return;
  }
  if (archive.entry_points.size() > MAXIMUM_TAG_FILE_ENTRY_POINTS) {
    cli_fail(options, "%zu maps found; an archive offers at most %d", archive.entry_points.size(),
             MAXIMUM_TAG_FILE_ENTRY_POINTS);
    return;
  }
  archive.patch_level = arguments.patch_level;
  archive.web_address = arguments.web_address;
  const char* separator = std::strrchr(out_path.c_str(), '/');
  archive.name = arguments.name.empty() ? std::string(separator ? separator + 1 : out_path.c_str()) : arguments.name;
  if (archive.name.size() > MAXIMUM_TAG_NAME_LENGTH) archive.name.resize(MAXIMUM_TAG_NAME_LENGTH);

  if (!archive_writer_write(archive, &out)) {
    cli_fail(options, "couldn't write the archive '%s' (see tarn_log.txt)", out_path.c_str());
    return;
  }
  std::printf("packed %zu tags and %zu maps into '%s'\n", archive.tags.size(), archive.entry_points.size(),
              out_path.c_str());
}

}  // namespace

void cli_add_tags_commands(CLI::App& app, cli_options& options) {
  CLI::App* tags = app.add_subcommand("tags", "list, show and pack the tags of the store");
  tags->require_subcommand(1);

  auto list = std::make_shared<list_arguments>();
  CLI::App* list_command = tags->add_subcommand("list", "every visible tag in slot order");
  CLI::Option* group_option =
      list_command->add_option("--group", list->group, "only this group (four characters or 0x hex)");
  list_command->add_flag("--json", list->as_json, "print JSON");
  list_command->callback([&options, list, group_option] {
    list->group_given = group_option->count() > 0;
    tags_list(options, *list);
  });

  auto info = std::make_shared<tag_arguments>();
  CLI::App* info_command = tags->add_subcommand("info", "the header of one visible tag");
  info_command->add_option("GROUP", info->group, "group tag")->required();
  info_command->add_option("ID", info->id, "tag identifier")->required();
  info_command->add_flag("--json", info->as_json, "print JSON");
  info_command->callback([&options, info] { tags_info(options, *info); });

  auto cat = std::make_shared<tag_arguments>();
  CLI::App* cat_command = tags->add_subcommand("cat", "the raw data of one visible tag to standard output");
  cat_command->add_option("GROUP", cat->group, "group tag")->required();
  cat_command->add_option("ID", cat->id, "tag identifier")->required();
  cat_command->callback([&options, cat] { tags_cat(options, *cat); });

  auto plugins_json = std::make_shared<bool>(false);
  CLI::App* plugins_command = tags->add_subcommand("plugins", "the plugins found in the plugins folder");
  plugins_command->add_flag("--json", *plugins_json, "print JSON");
  plugins_command->callback([&options, plugins_json] { tags_plugins(options, *plugins_json); });

  auto entry_points_json = std::make_shared<bool>(false);
  CLI::App* entry_points_command = tags->add_subcommand("entry-points", "the maps offered to the player");
  entry_points_command->add_flag("--json", *entry_points_json, "print JSON");
  entry_points_command->callback([&options, entry_points_json] { tags_entry_points(options, *entry_points_json); });

  auto pack = std::make_shared<pack_arguments>();
  CLI::App* pack_command =
      tags->add_subcommand("pack", "build an archive from the local tag files in the group folders under each DIR");
  pack_command->add_option("--out", pack->out, "the archive file to write")->required();
  pack_command->add_option("--type", pack->type, "install or plugin")->required();
  pack_command->add_option("--name", pack->name, "the name in the archive header (default: the file's name)");
  pack_command->add_option("--url", pack->web_address, "the web address a plugin comes from");
  pack_command->add_option("--patch-level", pack->patch_level, "plugins: 2 and up are patches");
  pack_command->add_option("DIR", pack->folders, "folders holding group folders of local tag files")->required();
  pack_command->callback([&options, pack] { tags_pack(options, *pack); });
}
