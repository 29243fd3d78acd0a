// vellgrim-tool map ...: listing, showing, checking and re-saving the maps (`mesh` tags) of a store.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "engine/definition_groups.h"
#include "input/keyboard.h"
#include "input/keyboard_configurations.h"
#include "input/observer.h"
#include "map/map_actions.h"
#include "map/marker_utils.h"
#include "map/mesh_file.h"
#include "map/mesh_geometry.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "tools/edit_recovery.h"
#include "world/world.h"

namespace {

using json = cli_json;

// A tag as its four characters when they are printable, else in hex; none is null.
json tag_json(tag value) {
  if (value == NONE_TAG) return nullptr;
  for (int shift = 24; shift >= 0; shift -= 8) {
    unsigned char c = static_cast<unsigned char>(value >> shift);
    if (c < 0x20 || c > 0x7E) return cli_hex_text(value);
  }
  return std::string(tag_to_text(value).c_str());
}

json color_json(const rgb_color& color) {
  return json{{"red", color.red}, {"green", color.green}, {"blue", color.blue}, {"flags", color.flags}};
}

// The store plus what loading a map needs: the definition groups, collections, the mesh module.
bool map_session_begin(cli_options& options, cli_session_mode mode) {
  if (!cli_session_begin(options, mode)) return false;
  if (!definition_groups_initialize() || !shapes_initialize())
    return cli_fail(options, "couldn't start the definitions (see tarn_log.txt)");
  definition_groups_validate();
  mesh_initialize();
  return true;
}

json header_json(const mesh_definition& h) {
  json o;
  o["landscape_collection_tag"] = tag_json(h.landscape_collection_tag);
  o["media_tag"] = tag_json(h.media_tag);
  o["width"] = h.width;
  o["height"] = h.height;
  o["cells_offset"] = h.cells_offset;
  o["cells_size"] = h.cells_size;
  o["data_offset"] = h.data_offset;
  o["data_size"] = h.data_size;
  o["palette_entry_count"] = h.palette_entry_count;
  o["palette_offset"] = h.palette_offset;
  o["palette_size"] = h.palette_size;
  o["marker_count"] = h.marker_count;
  o["markers_offset"] = h.markers_offset;
  o["markers_size"] = h.markers_size;
  o["mesh_lighting_tag"] = tag_json(h.mesh_lighting_tag);
  o["connector_definitions_tag"] = tag_json(h.connector_definitions_tag);
  o["mesh_flags"] = cli_hex_text(h.mesh_flags);
  o["team_count"] = h.team_count;
  o["dark_blend"] = h.dark_blend;
  o["light_blend"] = h.light_blend;
  o["dark_color"] = color_json(h.dark_color);
  o["light_color"] = color_json(h.light_color);
  o["normal_level_fraction"] = h.normal_level_fraction;
  o["observer_margin_top"] = h.observer_margin_top;
  o["observer_margin_left"] = h.observer_margin_left;
  o["observer_margin_bottom"] = h.observer_margin_bottom;
  o["observer_margin_right"] = h.observer_margin_right;
  o["ambient_sound_tag"] = tag_json(h.ambient_sound_tag);
  o["map_action_count"] = h.map_action_count;
  o["map_actions_offset"] = h.map_actions_offset;
  o["map_actions_size"] = h.map_actions_size;
  o["description_string_list_tag"] = tag_json(h.description_string_list_tag);
  o["extra_collection_tag"] = tag_json(h.extra_collection_tag);
  o["media_coverage_offset"] = h.media_coverage_offset;
  o["media_coverage_size"] = h.media_coverage_size;
  o["lod_offset"] = h.lod_offset;
  o["lod_size"] = h.lod_size;
  o["tint_color"] = color_json(h.tint_color);
  o["tint_amount"] = h.tint_amount;
  o["wind_tag"] = tag_json(h.wind_tag);
  o["connector_count"] = h.connector_count;
  o["connectors_offset"] = h.connectors_offset;
  o["connectors_size"] = h.connectors_size;
  o["second_string_list_tag"] = tag_json(h.second_string_list_tag);
  return o;
}

json sections_json(const mesh_definition& h) {
  auto section = [](int32_t offset, int32_t size, int64_t count) {
    return json{{"offset", offset}, {"size", size}, {"count", count}};
  };
  const int64_t cells = int64_t(h.width) * h.height * CELLS_PER_SUBMESH * CELLS_PER_SUBMESH;
  json o;
  o["cells"] = section(h.cells_offset, h.cells_size, cells);
  o["marker_palette"] = section(h.palette_offset, h.palette_size, h.palette_entry_count);
  o["markers"] = section(h.markers_offset, h.markers_size, h.marker_count);
  o["map_actions"] = section(h.map_actions_offset, h.map_actions_size, h.map_action_count);
  o["media_coverage"] = section(h.media_coverage_offset, h.media_coverage_size, h.media_coverage_size / 2);
  o["lod"] = section(h.lod_offset, h.lod_size, h.lod_size / 2);
  o["connectors"] = section(h.connectors_offset, h.connectors_size, h.connector_count);
  return o;
}

// The tags a map names, with the group each is looked up in and the index it loaded into.
struct map_reference {
  const char* field;
  tag group;
  tag identifier;
  int16_t index;  // NONE when not loaded; unknown (NONE) for references the postprocess does not load
};

std::vector<map_reference> references_of(const mesh_definition& h) {
  // The open map loads its landscape collection on first use: asking for it here loads it.
  return {{"landscape_collection_tag", COLLECTION_DEFINITION_GROUP_TAG, h.landscape_collection_tag,
           &h == mesh_header() ? mesh_landscape_collection() : h.landscape_collection_index},
          {"media_tag", media_definitions.group_tag, h.media_tag, h.media_index},
          {"ambient_sound_tag", ambient_sound_definitions.group_tag, h.ambient_sound_tag, h.ambient_sound_index},
          {"extra_collection_tag", COLLECTION_DEFINITION_GROUP_TAG, h.extra_collection_tag, h.extra_collection_index},
          {"description_string_list_tag", string_list_definitions.group_tag, h.description_string_list_tag,
           h.description_string_list_index},
          {"connector_definitions_tag", connector_definitions.group_tag, h.connector_definitions_tag,
           h.connector_definitions_index},
          {"second_string_list_tag", string_list_definitions.group_tag, h.second_string_list_tag,
           h.second_string_list_index},
          {"mesh_lighting_tag", mesh_lighting_definitions.group_tag, h.mesh_lighting_tag, int16_t(NONE)},
          {"wind_tag", wind_definitions.group_tag, h.wind_tag, int16_t(NONE)}};
}

json map_summary_json(int32_t tag_index) {
  json o;
  tag identifier = tag_file_get_identifier(tag_index);
  o["id"] = tag_json(identifier);
  o["id_hex"] = cli_hex_text(identifier);
  o["name"] = tag_file_get_name(tag_index);
  o["version"] = tag_file_get_version(tag_index);
  o["size"] = tag_file_get_size(tag_index);
  mesh_definition header;
  if (mesh_read_header(tag_index, &header)) {
    o["width"] = header.width;
    o["height"] = header.height;
  } else {
    o["width"] = nullptr;
    o["height"] = nullptr;
  }
  // Unsaved edits a stopped editor left for `map recover`.
  o["recovery"] = std::filesystem::exists(edit_recovery_path(tag_file_get_name(tag_index)));
  return o;
}

// The palette and the markers with their world objects, made as opening the map in the editor makes them.
void markers_json(json& o) {
  if (!world_initialize() || !world_start(world_editor_game_description())) return;
  markers_reset_palette();
  markers_instantiate();
  handle_error();
  json palette = json::array();
  for (int32_t i = 0; i < mesh_palette_count(); ++i) {
    const marker_palette_entry& e = mesh_palette()[i];
    const marker_type_definition* type = marker_type_get(e.type);
    palette.push_back(json{{"type", e.type}, {"type_name", type ? type->name : ""}, {"flags", cli_hex_text(e.flags)},
                           {"tag", tag_json(e.definition_tag)}, {"team", e.team},
                           {"netgame_types", cli_hex_text(e.netgame_types)}, {"instances", e.instance_count},
                           {"definition_loaded", e.definition_index != NONE}});
  }
  json markers = json::array();
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    const marker_data& m = mesh_markers()[i];
    markers.push_back(json{{"type", m.type}, {"palette_index", m.palette_index}, {"identifier", m.identifier},
                           {"difficulty", m.minimum_difficulty},
                           {"location", json{m.location.x, m.location.y, m.location.z}},
                           {"facing", m.yaw}, {"pitch", m.pitch}, {"flags", cli_hex_text(m.flags)},
                           {"object", m.object_index != NONE}});
  }
  o["marker_palette"] = palette;
  o["markers"] = markers;
}

// ---- map list ----

void map_list(cli_options& options, bool as_json) {
  if (!map_session_begin(options, _cli_session_read)) return;
  json list = json::array();
  const int32_t count = tag_file_count(MESH_DEFINITION_GROUP_TAG);
  for (int32_t n = 0; n < count; ++n) list.push_back(map_summary_json(tag_file_nth(MESH_DEFINITION_GROUP_TAG, n)));
  if (as_json) {
    cli_print_json(list);
    return;
  }
  for (const json& map : list) {
    std::string size = map["width"].is_null() ? std::string("?")
                                              : std::to_string(map["width"].get<int>()) + "x" +
                                                    std::to_string(map["height"].get<int>());
    std::printf("%s %-7s v%-3d %s%s\n", map["id_hex"].get<std::string>().c_str(), size.c_str(),
                map["version"].get<int>(), map["name"].get<std::string>().c_str(),
                map["recovery"].get<bool>() ? "  (unsaved changes to recover)" : "");
  }
}

// ---- map info ----

struct map_arguments {
  std::string name;
  bool as_json = false;
};

// What a person reads: one line a fact, the references by name, markers counted by type and the
// sections with their sizes (the whole record is `map info --json`).
void print_map_summary(const json& o, const mesh_definition& h) {
  auto text_of = [](const json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, json::error_handler_t::replace);
  };
  std::printf("name:      %s\n", text_of(o["name"]).c_str());
  std::printf("id:        %s (%s)\n", text_of(o["id"]).c_str(), text_of(o["id_hex"]).c_str());
  std::printf("version:   %s\n", text_of(o["version"]).c_str());
  std::printf("size:      %dx%d submeshes (%dx%d cells), %s bytes\n", int(h.width), int(h.height),
              int(h.width) * CELLS_PER_SUBMESH, int(h.height) * CELLS_PER_SUBMESH, text_of(o["size"]).c_str());
  std::printf("loaded:    %s\n", o["loaded"].get<bool>() ? "yes" : "no (shown as stored)");
  for (const json& r : o["references"]) {
    std::string field = r["field"].get<std::string>();
    if (field.size() > 4 && field.compare(field.size() - 4, 4, "_tag") == 0) field.resize(field.size() - 4);
    for (char& c : field)
      if (c == '_') c = ' ';
    std::printf("%-30s %s (%s)\n", (field + ":").c_str(), r["name"].is_null() ? "missing" : text_of(r["name"]).c_str(),
                text_of(r["tag"]).c_str());
  }
  if (o.contains("markers")) {
    std::map<std::string, int> by_type;
    for (const json& m : o["markers"]) {
      const marker_type_definition* type = marker_type_get(int16_t(m["type"].get<int>()));
      ++by_type[type ? type->name : "unknown"];
    }
    std::printf("markers:   %zu", o["markers"].size());
    const char* separator = " (";
    for (const auto& [name, count] : by_type) {
      std::printf("%s%d %s", separator, count, name.c_str());
      separator = ", ";
    }
    std::printf("%s\n", by_type.empty() ? "" : ")");
    std::printf("palette:   %zu entries\n", o["marker_palette"].size());
  }
  std::printf("sections:\n");
  for (const auto& [name, section] : o["sections"].items()) {
    std::printf("  %-16s %8d bytes  %7lld records\n", name.c_str(), section["size"].get<int>(),
                static_cast<long long>(section["count"].get<int64_t>()));
  }
  if (o["recovery"].get<bool>()) std::printf("unsaved changes of a stopped editor wait: see `map recover`\n");
}

void map_info(cli_options& options, const map_arguments& arguments) {
  if (!map_session_begin(options, _cli_session_read)) return;
  int32_t tag_index = cli_find_map(options, arguments.name);
  if (tag_index == NONE) return;
  mesh_definition header;
  if (!mesh_read_header(tag_index, &header)) {
    cli_fail(options, "couldn't read the header of map '%s' (see tarn_log.txt)", arguments.name.c_str());
    return;
  }
  json o = map_summary_json(tag_index);
  // Loading upgrades the header and resolves its references; a map that won't load is shown as stored.
  const bool loaded = mesh_load(tag_file_get_identifier(tag_index));
  handle_error();
  const mesh_definition& shown = loaded ? *mesh_header() : header;
  o["loaded"] = loaded;
  o["header"] = header_json(shown);
  o["sections"] = sections_json(shown);
  json references = json::array();
  for (const map_reference& r : references_of(shown)) {
    if (r.identifier == NONE_TAG) continue;
    int32_t reference_tag = tag_file_find(r.group, r.identifier);
    references.push_back(json{{"field", r.field},
                              {"group", tag_json(r.group)},
                              {"tag", tag_json(r.identifier)},
                              {"name", reference_tag == NONE ? json(nullptr) : json(tag_file_get_name(reference_tag))},
                              {"index", loaded ? json(r.index) : json(nullptr)}});
  }
  o["references"] = references;
  if (loaded) markers_json(o);
  if (arguments.as_json) {
    cli_print_json(o);
  } else {
    print_map_summary(o, shown);
  }
}

// ---- map resave ----

void map_resave(cli_options& options, const map_arguments& arguments) {
  if (!map_session_begin(options, _cli_session_write)) return;
  int32_t tag_index = cli_find_map(options, arguments.name);
  if (tag_index == NONE) return;
  if (!mesh_load(tag_file_get_identifier(tag_index))) {
    cli_fail(options, "couldn't load map '%s' (see tarn_log.txt)", arguments.name.c_str());
    return;
  }
  if (!mesh_recompute_lod() || !mesh_save()) {
    cli_fail(options, "couldn't save map '%s' (see tarn_log.txt); the tag is as it was", arguments.name.c_str());
    return;
  }
  std::printf("resaved '%s' (%d bytes)\n", tag_file_get_name(mesh_tag_index()),
              tag_file_get_size(mesh_tag_index()));
}

// ---- map check ----

// Every problem of the map, one line each.
std::vector<std::string> check_map(int32_t tag_index) {
  std::vector<std::string> problems;
  mesh_definition header;
  if (tag_file_get_size(tag_index) < MESH_HEADER_SIZE) return {"the map is shorter than its 1024-byte header"};
  // A file that can't be read now is not a damaged map: say so, not "corrupt".
  if (!mesh_read_header(tag_index, &header)) return {"busy: the map can't be read just now; try again"};
  const int16_t version = int16_t(tag_file_get_version(tag_index));
  if (version > MESH_VERSION) {
    problems.push_back("version " + std::to_string(version) + " is newer than " + std::to_string(MESH_VERSION));
  } else if (version < MESH_OLDEST_UPGRADABLE_VERSION) {
    problems.push_back("version " + std::to_string(version) + " is older than " +
                       std::to_string(MESH_OLDEST_UPGRADABLE_VERSION) + " and can't be upgraded");
  }
  if (!problems.empty()) return problems;

  const bool layout_sound = mesh_check_layout(header, tag_file_get_size(tag_index), &problems);
  std::vector<std::string> load_faults;
  const bool loaded = layout_sound && mesh_load(tag_file_get_identifier(tag_index), &load_faults);
  problems.insert(problems.end(), load_faults.begin(), load_faults.end());
  const bool errors_reported = handle_error() != 0;

  const mesh_definition& h = loaded ? *mesh_header() : header;
  for (const map_reference& r : references_of(h)) {
    if (r.identifier == NONE_TAG || tag_file_find(r.group, r.identifier) != NONE) continue;
    problems.push_back(std::string(r.field) + " names '" + tag_to_text(r.identifier).c_str() + "' (" +
                       cli_hex_text(r.identifier) + "), which is not in group '" + tag_to_text(r.group).c_str() +
                       "' of the store");
  }
  if (loaded) {
    for (const std::string& fault : map_actions_check()) problems.push_back(fault);
    // The textures must be the grid's: two 256 x 256 bitmaps per submesh.
    const int16_t collection = mesh_landscape_collection();
    const int32_t expected = 2 * int32_t(mesh_width()) * mesh_height();
    const int32_t bitmaps = collection_get_bitmap_count(collection);
    if (bitmaps != expected) {
      problems.push_back("the collection holds " + std::to_string(bitmaps) + " bitmaps where the map's " +
                         std::to_string(mesh_width()) + "x" + std::to_string(mesh_height()) +
                         " submeshes need " + std::to_string(expected));
    } else {
      for (int32_t i = 0; i < bitmaps; ++i) {
        const bitmap_data* bitmap = collection_get_bitmap(collection, i);
        if (bitmap && (bitmap->width != TEXELS_PER_SUBMESH || bitmap->height != TEXELS_PER_SUBMESH)) {
          problems.push_back("bitmap #" + std::to_string(i) + " of the collection is " + std::to_string(bitmap->width) +
                             "x" + std::to_string(bitmap->height) + ", not " + std::to_string(TEXELS_PER_SUBMESH) +
                             "x" + std::to_string(TEXELS_PER_SUBMESH));
          break;
        }
      }
    }
    if (mesh_lod() == nullptr) {
      problems.push_back("there is no LOD data (map resave computes it)");
    } else {
      int32_t stale = 0, count = mesh_lod_entry_count();
      std::vector<uint16_t> stored(mesh_lod(), mesh_lod() + count);
      mesh_update_lod(0, 0, mesh_cells_across() - 1, mesh_cells_down() - 1);
      for (int32_t i = 0; i < count; ++i) stale += stored[size_t(i)] != mesh_lod()[i];
      if (stale > 0) {
        problems.push_back(std::to_string(stale) + " of " + std::to_string(count) +
                           " LOD entries disagree with the cells (map resave recomputes them)");
      }
    }
  }
  if (problems.empty() && (errors_reported || !loaded)) {
    problems.push_back(loaded ? "loading reported errors (see tarn_log.txt)"
                              : "the map could not be loaded (see tarn_log.txt)");
  }
  return problems;
}

void map_check(cli_options& options, const map_arguments& arguments) {
  if (!map_session_begin(options, _cli_session_read)) return;
  int32_t tag_index = cli_find_map(options, arguments.name);
  if (tag_index == NONE) return;
  std::vector<std::string> problems = check_map(tag_index);
  const char* name = tag_file_get_name(tag_index);
  for (const std::string& problem : problems) std::printf("%s: %s\n", name, problem.c_str());
  if (problems.empty()) {
    std::printf("%s: no problems\n", name);
  } else {
    std::printf("%s: %zu problem%s\n", name, problems.size(), problems.size() == 1 ? "" : "s");
    options.exit_code = 1;
  }
}

// ---- map observer ----

struct observer_path_arguments {
  std::string name;
  std::string keys;  // held for the whole path, as "Right Handed" binds them
  int32_t ticks = 30;
  bool unbounded = false;
};

// The key code of a letter or digit key, -1 for any other character.
int16_t key_of_character(char c) {
  if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? keyboard_code_of_virtual_key(uint8_t(c)) : -1;
}

bool held_key(const key_binding& binding, void* context) {
  const auto* held = static_cast<const std::vector<int16_t>*>(context);
  return binding.device == _binding_key && std::find(held->begin(), held->end(), binding.key_code) != held->end();
}

// The camera path while the keys are held: the observer placed as the map opening places it, then
// moved one tick at a time, one line per tick.
void map_observer_path(cli_options& options, const observer_path_arguments& arguments) {
  if (!map_session_begin(options, _cli_session_read)) return;
  int32_t tag_index = cli_find_map(options, arguments.name);
  if (tag_index == NONE) return;
  std::vector<int16_t> held;
  for (char c : arguments.keys) {
    const int16_t code = key_of_character(c);
    if (code < 0) {
      cli_fail(options, "'%c' is not a letter or digit key", c);
      return;
    }
    held.push_back(code);
  }
  if (!mesh_load(tag_file_get_identifier(tag_index))) {
    cli_fail(options, "couldn't load map '%s' (see tarn_log.txt)", arguments.name.c_str());
    return;
  }
  observer_initialize();
  if (!observer_place(-1)) {
    cli_fail(options, "couldn't place the observer in '%s' (see tarn_log.txt)", arguments.name.c_str());
    return;
  }
  observer_set_bounded(!arguments.unbounded);
  uint32_t words[2];
  keyboard_configuration_actions(*keyboard_configuration_get(0), held_key, &held, words);
  std::printf("tick target_x target_y target_z facing camera_x camera_y camera_z at_rest\n");
  for (int32_t tick = 0; tick <= arguments.ticks; ++tick) {
    if (tick > 0) observer_update_from_actions(words);
    observer_advance_camera(tick > 0 ? 1 : 0);
    const observer_data& o = *observer_get();
    std::printf("%d %d %d %d %u %d %d %d %d\n", tick, o.target.x, o.target.y, o.target.z, unsigned(o.facing),
                o.camera.position.x, o.camera.position.y, o.camera.position.z, (o.flags & _observer_at_rest) ? 1 : 0);
  }
}

}  // namespace

void cli_add_map_commands(CLI::App& app, cli_options& options) {
  CLI::App* map = app.add_subcommand("map", "list, show, check and re-save the maps of the store");
  map->require_subcommand(1);

  auto list_json = std::make_shared<bool>(false);
  CLI::App* list_command = map->add_subcommand("list", "every visible map with its size");
  list_command->add_flag("--json", *list_json, "print JSON");
  list_command->callback([&options, list_json] { map_list(options, *list_json); });

  auto info = std::make_shared<map_arguments>();
  CLI::App* info_command = map->add_subcommand("info", "a map's header, sections and references");
  info_command->add_option("NAME", info->name, "the map's tag name, or 0x and its identifier")->required();
  info_command->add_flag("--json", info->as_json, "print JSON");
  info_command->callback([&options, info] { map_info(options, *info); });

  auto resave = std::make_shared<map_arguments>();
  CLI::App* resave_command = map->add_subcommand("resave", "load a map, recompute its LOD data and save it");
  resave_command->add_option("NAME", resave->name, "the map's tag name, or 0x and its identifier")->required();
  resave_command->callback([&options, resave] { map_resave(options, *resave); });

  auto check = std::make_shared<map_arguments>();
  CLI::App* check_command = map->add_subcommand("check", "load a map and report every problem found");
  check_command->add_option("NAME", check->name, "the map's tag name, or 0x and its identifier")->required();
  check_command->callback([&options, check] { map_check(options, *check); });

  auto path = std::make_shared<observer_path_arguments>();
  CLI::App* observer_command =
      map->add_subcommand("observer", "the observer's camera path while keys are held (Right Handed: W S A D Q E Z X C V)");
  observer_command->add_option("NAME", path->name, "the map's tag name, or 0x and its identifier")->required();
  observer_command->add_option("--keys", path->keys, "the keys held, e.g. wa");
  observer_command->add_option("--ticks", path->ticks, "ticks of 1/30 s")->check(CLI::Range(0, 100000));
  observer_command->add_flag("--unbounded", path->unbounded, "leave the observer margins out");
  observer_command->callback([&options, path] { map_observer_path(options, *path); });

  cli_add_connector_commands(*map, options);
}
