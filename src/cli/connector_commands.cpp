// vellgrim-tool map connectors list / add / remove-marker / clear: the chains of scenery markers a
// map joins into fences and ropes.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "render/shapes.h"
#include "session/engine.h"
#include "tag_files/tag_files.h"
#include "tools/map_session.h"
#include "tools/vellgrim_connectors.h"

namespace {

using json = cli_json;

struct connector_arguments {
  std::string name;
  bool as_json = false;
  std::string markers;     // add: "ID,ID,..."
  int32_t identifier = 0;  // remove-marker
};

// Opens the map NAME as the editor does (markers numbered, objects made, connectors ready); false
// after reporting.
bool open_map(cli_options& options, const std::string& name) { return cli_open_map(options, name); }

bool save(cli_options& options) {
  if (map_is_modified() && !map_save())
    return cli_fail(options, "couldn't save map '%s' (see tarn_log.txt); the tag is as it was", map_name());
  return true;
}

std::string chain_text(const connector_record& record) {
  std::string text;
  for (int16_t at = 0; at < record.chain_length; ++at) {
    if (at) text += ',';
    text += std::to_string(record.marker_identifiers[at]);
  }
  return text;
}

// "ID,ID,...": 1 to 31 whole numbers in 1..32767; false after reporting.
bool parse_identifiers(cli_options& options, const std::string& text, std::vector<int16_t>* identifiers) {
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    char* end = nullptr;
    errno = 0;
    const long value = part.empty() ? 0 : std::strtol(part.c_str(), &end, 10);
    if (part.empty() || *end != '\0' || errno != 0 || value < 1 || value > 32767)
      return cli_fail(options, "bad marker list '%s': give scenery marker identifiers (1..32767) separated by commas",
                      text.c_str());
    identifiers->push_back(int16_t(value));
    at = comma + 1;
  }
  if (identifiers->size() > size_t(MAXIMUM_MARKERS_PER_CONNECTOR))
    return cli_fail(options, "%zu markers given: a connector holds at most %d", identifiers->size(),
                    int(MAXIMUM_MARKERS_PER_CONNECTOR));
  return true;
}

// Loads the map NAME for reading only: no world, no lock of the editor's; false after reporting.
bool load_map(cli_options& options, const std::string& name) {
  if (!cli_load_map(options, name)) return false;
  // Markers stored without an identifier get theirs as the editor gives them.
  markers_reset_palette();
  return true;
}

void connectors_list(cli_options& options, const connector_arguments& arguments) {
  if (!load_map(options, arguments.name)) return;
  const mesh_definition& header = *mesh_header();
  const int32_t count = connector_count();
  if (arguments.as_json) {
    json list = json::array();
    for (int32_t index = 0; index < count; ++index) {
      const connector_record& record = *connector_get(index);
      json markers = json::array(), missing = json::array();
      for (int16_t at = 0; at < record.chain_length; ++at) {
        const int16_t identifier = record.marker_identifiers[at];
        markers.push_back(identifier);
        if (!marker_find_by_identifier(_marker_scenery, identifier)) missing.push_back(identifier);
      }
      list.push_back({{"index", index}, {"markers", markers}, {"missing", missing}});
    }
    json definition = header.connector_definitions_tag == NONE_TAG ? json(nullptr)
                                                                   : json(cli_hex_text(header.connector_definitions_tag));
    cli_print_json({{"map", tag_file_get_name(mesh_tag_index())},
                    {"connector_definitions_tag", definition},
                    {"definitions_loaded", header.connector_definitions_index != NONE},
                    {"count", count},
                    {"connectors", list}});
    return;
  }
  const char* name = tag_file_get_name(mesh_tag_index());
  std::printf("%s: %d connector%s\n", name, count, count == 1 ? "" : "s");
  for (int32_t index = 0; index < count; ++index) {
    const connector_record& record = *connector_get(index);
    std::printf("%d: %s\n", index, chain_text(record).c_str());
  }
}

void connectors_add(cli_options& options, const connector_arguments& arguments) {
  std::vector<int16_t> identifiers;
  if (!parse_identifiers(options, arguments.markers, &identifiers)) return;
  if (!open_map(options, arguments.name)) return;
  for (int16_t identifier : identifiers) {
    if (!marker_find_by_identifier(_marker_scenery, identifier)) {
      cli_fail(options, "'%s' has no scenery marker %d", map_name(), identifier);
      return;
    }
  }
  if (mesh_header()->connector_definitions_index == NONE) {
    cli_fail(options, "'%s' names no connector definitions that load, so it can't hold connectors", map_name());
    return;
  }
  if (!connector_begin()) {
    cli_fail(options, "'%s' has %d connectors already", map_name(), int(MAXIMUM_CONNECTORS_PER_MAP));
    return;
  }
  for (int16_t identifier : identifiers) connector_add_marker(*marker_find_by_identifier(_marker_scenery, identifier));
  if (!connector_end()) {
    cli_fail(options, "couldn't add the connector to '%s' (see tarn_log.txt)", map_name());
    return;
  }
  if (!save(options)) return;
  std::printf("added connector %d to '%s': %s\n", connector_count() - 1, map_name(),
              chain_text(*connector_get(connector_count() - 1)).c_str());
}

void connectors_remove_marker(cli_options& options, const connector_arguments& arguments) {
  if (arguments.identifier < 1 || arguments.identifier > 32767) {
    cli_fail(options, "bad marker identifier %d: give 1..32767", arguments.identifier);
    return;
  }
  if (!open_map(options, arguments.name)) return;
  // The chains name scenery markers; one that is gone may still be named, so it is taken out by
  // its identifier alone.
  marker_data marker{};
  marker.type = _marker_scenery;
  marker.identifier = int16_t(arguments.identifier);
  if (connector_find_marker(marker, -1) == NONE) {
    cli_fail(options, "scenery marker %d is in no connector of '%s'", arguments.identifier, map_name());
    return;
  }
  const connector_removal removal = connector_remove_marker(marker);
  if (removal == _connector_removal_none) {
    cli_fail(options, "couldn't take scenery marker %d out of its connectors (see tarn_log.txt)", arguments.identifier);
    return;
  }
  if (!save(options)) return;
  if (removal == _connector_removal_joined) {
    std::fprintf(stderr, "vellgrim-tool: %s\n", error_last_message());
  }
  std::printf("took scenery marker %d out of the connectors of '%s'; %d connector%s left\n", arguments.identifier,
              map_name(), connector_count(), connector_count() == 1 ? "" : "s");
}

void connectors_clear(cli_options& options, const connector_arguments& arguments) {
  if (!open_map(options, arguments.name)) return;
  const int32_t count = connector_count();
  if (count > 0 && !connectors_remove_all()) {
    cli_fail(options, "couldn't remove the connectors of '%s' (see tarn_log.txt)", map_name());
    return;
  }
  if (!save(options)) return;
  std::printf("removed %d connector%s from '%s'\n", count, count == 1 ? "" : "s", map_name());
}

CLI::Option* add_name(CLI::App* command, connector_arguments& arguments) {
  return command->add_option("NAME", arguments.name, "the map's tag name, or 0x and its identifier")->required();
}

}  // namespace

void cli_add_connector_commands(CLI::App& map, cli_options& options) {
  CLI::App* connectors = map.add_subcommand("connectors", "the chains of scenery markers drawn as fences and ropes");
  connectors->require_subcommand(1);

  auto list = std::make_shared<connector_arguments>();
  CLI::App* list_command = connectors->add_subcommand("list", "every connector of a map, its markers in chain order");
  add_name(list_command, *list);
  list_command->add_flag("--json", list->as_json, "print JSON");
  list_command->callback([&options, list] { connectors_list(options, *list); });

  auto add = std::make_shared<connector_arguments>();
  CLI::App* add_command = connectors->add_subcommand("add", "join scenery markers into a new connector and save");
  add_name(add_command, *add);
  add_command->add_option("--markers", add->markers, "scenery marker identifiers in chain order: ID,ID,...")->required();
  add_command->callback([&options, add] { connectors_add(options, *add); });

  auto remove = std::make_shared<connector_arguments>();
  CLI::App* remove_command =
      connectors->add_subcommand("remove-marker", "take a scenery marker out of its connectors (splitting them) and save");
  add_name(remove_command, *remove);
  remove_command->add_option("ID", remove->identifier, "the scenery marker's identifier")->required();
  remove_command->callback([&options, remove] { connectors_remove_marker(options, *remove); });

  auto clear = std::make_shared<connector_arguments>();
  CLI::App* clear_command = connectors->add_subcommand("clear", "remove every connector of a map and save");
  add_name(clear_command, *clear);
  clear_command->callback([&options, clear] { connectors_clear(options, *clear); });
}
