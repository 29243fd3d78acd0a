// vellgrim-tool map actions list / export / import: a map's scripting model as JSON, and the map
// action text format to and from files.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "engine/definition_groups.h"
#include "map/map_actions.h"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "render/shapes.h"
#include "session/engine.h"
#include "tag_files/tag_files.h"
#include "tools/map_action_text.h"
#include "tools/map_session.h"

namespace {

using json = cli_json;

struct action_arguments {
  std::string name;
  std::string file;
  bool as_json = false;
  bool dry_run = false;
};

// Four characters when printable, else hex; none is null.
json tag_value(uint32_t value) {
  if (value == NONE_TAG) return nullptr;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned char c = static_cast<unsigned char>(value >> shift);
    if (c < 0x20 || c > 0x7E) return cli_hex_text(value);
  }
  return tag_to_text(value);
}

json element_json(int32_t slot, int32_t parameter, int16_t type, int32_t element) {
  int32_t v[4] = {};
  for (int32_t c = 0; c < 4; ++c) map_action_element_value(slot, parameter, element, &v[c], c);
  switch (type) {
    case _parameter_field_name:
    case _parameter_projectile_group:
    case _parameter_string_list:
    case _parameter_sound:
    case _parameter_projectile:
      return tag_value(uint32_t(v[0]));
    case _parameter_world_point2d:
      return json{v[0], v[1]};
    case _parameter_world_point3d:
      return json{v[0], v[1], v[2]};
    case _parameter_world_rectangle2d:
      return json{v[0], v[1], v[2], v[3]};
    case _parameter_action_identifier:
      return v[0] == -1 ? json(nullptr) : json(v[0] & 0xFFFF);
    default:
      return v[0];
  }
}

json actions_json() {
  json list = json::array();
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    const map_action* a = map_action_get(slot);
    json parameters = json::array();
    for (int32_t p = 0; p < a->parameter_count; ++p) {
      const map_action_parameter_header* h = map_action_parameter(slot, p);
      if (h == nullptr) break;
      json values = json::array();
      if (h->parameter_type == _parameter_string) {
        values.push_back(map_action_element_text(slot, p, 0));
      } else {
        for (int32_t e = 0; e < h->element_count; ++e) values.push_back(element_json(slot, p, h->parameter_type, e));
      }
      parameters.push_back(json{{"name", tag_value(h->parameter_name)},
                                {"type", map_action_type_get(h->parameter_type)->name},
                                {"type_code", h->parameter_type},
                                {"elements", h->element_count},
                                {"values", values}});
    }
    list.push_back(json{{"slot", slot},
                        {"identifier", a->identifier & 0xFFFF},
                        {"indent", a->indent},
                        {"type", tag_value(a->action_type)},
                        {"name", map_action_name(slot)},
                        {"flags", cli_hex_text(a->action_flags)},
                        {"expiration", a->expiration_mode},
                        {"trigger_time_lower", a->trigger_time_lower},
                        {"trigger_time_upper", int64_t(a->trigger_time_lower) + a->trigger_time_range},
                        {"parameters", parameters}});
  }
  return list;
}

bool load_map(cli_options& options, const std::string& name) { return cli_load_map(options, name); }

void actions_list(cli_options& options, const action_arguments& arguments) {
  if (!load_map(options, arguments.name)) return;
  if (arguments.as_json) {
    cli_print_json(actions_json());
    return;
  }
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    const map_action* a = map_action_get(slot);
    std::printf("%4d 0x%04x %s\n", slot, a->identifier & 0xFFFF, map_action_list_line(slot).c_str());
    for (int32_t p = 0; p < a->parameter_count; ++p) {
      const map_action_parameter_header* h = map_action_parameter(slot, p);
      if (h == nullptr) break;
      std::printf("       %s (%s):", tag_to_text(h->parameter_name).c_str(), map_action_type_get(h->parameter_type)->name);
      const int32_t shown = h->parameter_type == _parameter_string ? std::min<int32_t>(1, h->element_count) : h->element_count;
      for (int32_t e = 0; e < shown; ++e) std::printf(" %s", map_action_element_text(slot, p, e).c_str());
      std::printf("\n");
    }
  }
}

void actions_export(cli_options& options, const action_arguments& arguments) {
  if (!load_map(options, arguments.name)) return;
  const std::string path = cli_absolute_path(arguments.file);
  if (!map_action_text_export_file(path)) {
    cli_fail(options, "couldn't write '%s' (see tarn_log.txt)", path.c_str());
    return;
  }
  std::printf("exported %d map actions of '%s' to %s\n", map_actions_count(), tag_file_get_name(mesh_tag_index()),
              path.c_str());
}

void actions_import(cli_options& options, const action_arguments& arguments) {
  if (!cli_open_map(options, arguments.name)) return;  // the engine takes the store lock
  const std::string path = cli_absolute_path(arguments.file);
  std::vector<std::string> errors;
  if (!map_action_text_import_file(path, &errors, arguments.dry_run)) {
    for (const std::string& error : errors) std::fprintf(stderr, "%s\n", error.c_str());
    std::fprintf(stderr, "vellgrim-tool: nothing imported into '%s'\n", map_name());
    options.exit_code = 1;
    return;
  }
  if (arguments.dry_run) {
    std::printf("'%s' reads cleanly; nothing changed\n", path.c_str());
    return;
  }
  if (!map_save()) {
    cli_fail(options, "couldn't save map '%s' (see tarn_log.txt); the tag is as it was", map_name());
    return;
  }
  std::printf("imported %d map actions into '%s'\n", map_actions_count(), map_name());
}

}  // namespace

void cli_add_map_action_commands(CLI::App& app, cli_options& options) {
  CLI::App* map = app.get_subcommand("map");
  CLI::App* actions = map->add_subcommand("actions", "a map's actions: list them, export and import them as text");
  actions->require_subcommand(1);
  const char* name_help = "the map's tag name, or 0x and its identifier";

  auto listed = std::make_shared<action_arguments>();
  CLI::App* list_command = actions->add_subcommand("list", "every action with its parameters and values");
  list_command->add_option("NAME", listed->name, name_help)->required();
  list_command->add_flag("--json", listed->as_json, "print JSON");
  list_command->callback([&options, listed] { actions_list(options, *listed); });

  auto exported = std::make_shared<action_arguments>();
  CLI::App* export_command = actions->add_subcommand("export", "write the actions as a map action text");
  export_command->add_option("NAME", exported->name, name_help)->required();
  export_command->add_option("FILE", exported->file, "the text file to write")->required();
  export_command->callback([&options, exported] { actions_export(options, *exported); });

  auto imported = std::make_shared<action_arguments>();
  CLI::App* import_command =
      actions->add_subcommand("import", "replace the actions by those of a map action text, only if all of it reads");
  import_command->add_option("NAME", imported->name, name_help)->required();
  import_command->add_option("FILE", imported->file, "the text file to read")->required();
  import_command->add_flag("--dry-run", imported->dry_run, "read the text and report, change nothing");
  import_command->callback([&options, imported] { actions_import(options, *imported); });
}
