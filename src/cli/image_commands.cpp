// vellgrim-tool map new / export / import / resize / shift / set-bounds: New Map from a bitmap, the
// map's layers as 8-bit bitmaps, reshaping the grid, and the displacement bounds.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "engine/definition_groups.h"
#include "session/engine.h"
#include "map/mesh.h"
#include "cli/cli_progress.h"
#include "platform/ui_host.h"
#include "tag_files/tag_files.h"
#include "tools/edit_recovery.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

// The answers a headless run gives: the questions the command line allowed are answered Yes,
// every other question No (or Cancel). Boxes are printed as one line each on standard error.
struct image_answers {
  bool resize = false;   // "Do you want to resize the current mesh?"
  bool replace = false;  // "Are you sure you want to replace '%s'?"
  int32_t refusals = 0;  // boxes that refused or questions answered No
};
image_answers answers;

bool text_has(const char* text, const char* part) { return text && std::strstr(text, part) != nullptr; }

ui_answer image_message_box(void*, const char* title, const char* text, ui_icon, ui_buttons buttons) {
  ui_answer answer = buttons == ui_buttons_ok ? ui_answer_ok : buttons == ui_buttons_yes_no ? ui_answer_no : ui_answer_cancel;
  // The save question comes from reopening the map after a colour import; the command saves anyway.
  if ((answers.resize && text_has(text, "Do you want to resize the current mesh?")) ||
      (answers.replace && text_has(text, "Are you sure you want to replace")) ||
      (buttons == ui_buttons_yes_no_cancel && text_has(text, "before closing?"))) {
    return ui_answer_yes;
  }
  std::string line = text ? text : "";
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "vellgrim-tool: %s: %s\n", title && *title ? title : "Note", line.c_str());
  ++answers.refusals;
  return answer;
}

const ui_host image_ui_host = {nullptr, image_message_box, nullptr, nullptr, nullptr, nullptr, cli_progress_begin, cli_progress_step, cli_progress_end};

// The store, the engine and the host; false after reporting.
bool begin(cli_options& options) {
  if (!cli_session_begin(options, _cli_session_write)) return false;
  ui_host_install(&image_ui_host);
  if (!engine_initialize()) return cli_fail(options, "couldn't start the engine (see tarn_log.txt)");
  return true;
}

// A failed operation: a refusal already printed its box; anything else points at the log.
bool failed(cli_options& options, const char* what) {
  if (answers.refusals > 0) {
    options.exit_code = 1;
    return false;
  }
  // The log's last line says why (a file that can't be created, a full disc, ...).
  const char* reason = error_last_message();
  if (reason && *reason) return cli_fail(options, "couldn't %s: %s", what, reason);
  return cli_fail(options, "couldn't %s (see tarn_log.txt)", what);
}

// Opens the map NAME; false after reporting.
bool open_map(cli_options& options, const std::string& name) {
  const int32_t tag_index = cli_find_map(options, name);
  if (tag_index == NONE) return false;
  if (!map_open(tag_index)) return failed(options, ("open map '" + name + "'").c_str());
  return true;
}

// Writes the open map when the command changed it.
bool save_if_modified(cli_options& options) {
  if (map_is_open() && map_is_modified() && !map_save()) return failed(options, "save the map");
  return true;
}

// "C,R" or "A,B": two whole numbers.
bool parse_pair(const std::string& text, int32_t* first, int32_t* second) {
  int consumed = 0;
  return std::sscanf(text.c_str(), "%d,%d%n", first, second, &consumed) == 2 && size_t(consumed) == text.size();
}

int16_t parse_layer(cli_options& options, const std::string& text) {
  const int16_t layer = map_layer_find(text.c_str());
  if (layer == NONE) {
    cli_fail(options, "bad layer '%s': give color, shadow, displacement, water, terrain or reflection", text.c_str());
  }
  return layer;
}

// The submesh index of "C,R" in the open map, EXTRACT_WHOLE_MESH for none; false after reporting.
bool parse_submesh(cli_options& options, int16_t layer, const std::string& text, int32_t* submesh) {
  *submesh = EXTRACT_WHOLE_MESH;
  if (text.empty()) return true;
  if (!map_layer_get(layer)->per_submesh) {
    return cli_fail(options, "the %s map exists for the whole map only: give no --submesh", map_layer_get(layer)->name);
  }
  int32_t column = 0, row = 0;
  if (!parse_pair(text, &column, &row) || column < 0 || row < 0 || column >= mesh_width() ||
      row >= mesh_height()) {
    return cli_fail(options, "bad submesh '%s': give C,R inside the map's %dx%d submeshes", text.c_str(),
                    mesh_width(), mesh_height());
  }
  *submesh = row * mesh_width() + column;
  return true;
}

// ---- commands ----

struct new_arguments {
  std::string name, media, bitmap;
  bool replace = false;
};

void map_new(cli_options& options, const new_arguments& arguments) {
  if (!begin(options)) return;
  answers.replace = arguments.replace;
  const int32_t media = cli_find_named_tag(media_definitions.group_tag, arguments.media);
  if (media == NONE) {
    cli_fail(options, "no media '%s' in the store", arguments.media.c_str());
    return;
  }
  if (!new_map_create(arguments.name.c_str(), tag_file_get_identifier(media), cli_absolute_path(arguments.bitmap))) {
    failed(options, "make the map");
    return;
  }
  // The map is complete only with its LOD data stored.
  if (!map_save()) {
    failed(options, "save the new map");
    return;
  }
  std::printf("made map '%s' of %dx%d submeshes\n", map_name(), mesh_width(), mesh_height());
}

struct layer_arguments {
  std::string layer, submesh, name, file;
  bool resize = false;
};

void map_export(cli_options& options, const layer_arguments& arguments) {
  if (!begin(options)) return;
  const int16_t layer = parse_layer(options, arguments.layer);
  if (layer == NONE || !open_map(options, arguments.name)) return;
  int32_t submesh = EXTRACT_WHOLE_MESH;
  if (!parse_submesh(options, layer, arguments.submesh, &submesh)) return;
  const std::string path = cli_absolute_path(arguments.file);
  if (!extract_export_layer(layer, submesh, path)) {
    failed(options, ("export the " + arguments.layer + " map to '" + path + "'").c_str());
    return;
  }
  std::printf("exported the %s map of '%s' to %s\n", arguments.layer.c_str(), map_name(), path.c_str());
}

void map_import(cli_options& options, const layer_arguments& arguments) {
  if (!begin(options)) return;
  answers.resize = arguments.resize;
  const int16_t layer = parse_layer(options, arguments.layer);
  if (layer == NONE || !open_map(options, arguments.name)) return;
  int32_t submesh = EXTRACT_WHOLE_MESH;
  if (!parse_submesh(options, layer, arguments.submesh, &submesh)) return;
  const std::string path = cli_absolute_path(arguments.file);
  if (!extract_import_layer(layer, submesh, path)) {
    failed(options, ("import the " + arguments.layer + " map from '" + path + "'").c_str());
    return;
  }
  if (!save_if_modified(options)) return;
  std::printf("imported the %s map of '%s' (%dx%d submeshes)\n", arguments.layer.c_str(), map_name(),
              mesh_width(), mesh_height());
}

// ---- map recover ----

struct recover_arguments {
  std::string name;
  bool discard = false;
};

void map_recover(cli_options& options, const recover_arguments& arguments) {
  if (!begin(options)) return;
  const int32_t tag_index = cli_find_map(options, arguments.name);
  if (tag_index == NONE) return;
  const char* name = tag_file_get_name(tag_index);
  const std::string path = edit_recovery_path(name);
  switch (edit_recovery_check(name, tag_index)) {
    case _recovery_none:
      cli_fail(options, "'%s' has no unsaved changes to recover", name);
      return;
    case _recovery_stale:
      edit_recovery_set_aside(name);
      cli_fail(options, "the unsaved changes of '%s' were made to another version of it; kept aside as '%s-old'",
               name, path.c_str());
      return;
    case _recovery_matching:
      break;
  }
  if (arguments.discard) {
    edit_recovery_set_aside(name);
    std::printf("discarded the unsaved changes of '%s' (kept aside as '%s-old')\n", name, path.c_str());
    return;
  }
  if (!open_map(options, arguments.name)) return;
  const int32_t replayed = edit_recovery_replay();
  if (replayed < 0) {
    cli_fail(options, "couldn't read '%s'", path.c_str());
    return;
  }
  if (!save_if_modified(options)) return;
  std::printf("recovered %d step%s into '%s' and saved it\n", replayed, replayed == 1 ? "" : "s", map_name());
}

struct reshape_arguments {
  std::string name, cells;
  int32_t dx = 0, dy = 0;
};

void map_resize(cli_options& options, const reshape_arguments& arguments) {
  if (!begin(options)) return;
  int32_t across = 0, down = 0;
  if (!parse_pair(arguments.cells, &across, &down) || across <= 0 || down <= 0 || across % CELLS_PER_SUBMESH ||
      down % CELLS_PER_SUBMESH || across / CELLS_PER_SUBMESH > MAXIMUM_MESH_SUBMESHES ||
      down / CELLS_PER_SUBMESH > MAXIMUM_MESH_SUBMESHES) {
    cli_fail(options, "bad size '%s': give A,B cells, multiples of %d up to %d", arguments.cells.c_str(),
             int(CELLS_PER_SUBMESH), int(CELLS_PER_SUBMESH * MAXIMUM_MESH_SUBMESHES));
    return;
  }
  if (!open_map(options, arguments.name)) return;
  if (!mesh_resize(across, down)) {
    failed(options, "resize the map");
    return;
  }
  const int32_t deleted = mesh_delete_markers_outside();
  map_set_modified(true);
  if (!save_if_modified(options)) return;
  std::printf("resized '%s' to %dx%d cells; %d marker%s outside deleted\n", map_name(), across, down, deleted,
              deleted == 1 ? "" : "s");
}

void map_shift(cli_options& options, const reshape_arguments& arguments) {
  if (!begin(options) || !open_map(options, arguments.name)) return;
  if (!mesh_shift(arguments.dx, arguments.dy)) {
    failed(options, "shift the map");
    return;
  }
  map_set_modified(true);
  if (!save_if_modified(options)) return;
  std::printf("shifted '%s' by %d,%d cells\n", map_name(), arguments.dx, arguments.dy);
}

struct bounds_arguments {
  std::string name;
  double lower = 0, upper = 0;
};

void map_set_bounds(cli_options& options, const bounds_arguments& arguments) {
  if (!begin(options)) return;
  if (!arguments.name.empty() && cli_find_map(options, arguments.name) == NONE) return;
  // Typed cell units are stored as trunc(value x 512) world units.
  const double lower = std::trunc(arguments.lower * double(WORLD_ONE));
  const double upper = std::trunc(arguments.upper * double(WORLD_ONE));
  if (!std::isfinite(lower) || !std::isfinite(upper) || std::fabs(lower) > INT32_MAX || std::fabs(upper) > INT32_MAX) {
    cli_fail(options, "bad bounds: give cell units between %d and %d", -(INT32_MAX / WORLD_ONE), INT32_MAX / WORLD_ONE);
    return;
  }
  if (!extract_set_displacement_bounds(int32_t(lower), int32_t(upper))) {
    failed(options, "store the displacement bounds");
    return;
  }
  std::printf("displacement bounds %.2f to %.2f\n", int32_t(lower) / double(WORLD_ONE), int32_t(upper) / double(WORLD_ONE));
}

}  // namespace

void cli_add_image_commands(CLI::App& app, cli_options& options) {
  CLI::App* map = app.get_subcommand("map");
  const char* name_help = "the map's tag name, or 0x and its identifier";

  auto made = std::make_shared<new_arguments>();
  CLI::App* new_command = map->add_subcommand("new", "make a map from an 8-bit bitmap (sides multiples of 256)");
  new_command->add_option("--name", made->name, "the new map's name")->required();
  new_command->add_option("--media", made->media, "the media (`medi` tag name or identifier)")->required();
  new_command->add_option("--bitmap", made->bitmap, "the 8-bit uncompressed Windows bitmap")->required();
  new_command->add_flag("--replace", made->replace, "replace a map of that name");
  new_command->callback([&options, made] { map_new(options, *made); });

  // Export and import take the same arguments; import may also resize.
  auto layer_command = [map, name_help](const char* name, const char* help, const char* file_help,
                                        layer_arguments& arguments) {
    CLI::App* command = map->add_subcommand(name, help);
    command->add_option("LAYER", arguments.layer, "color, shadow, displacement, water, terrain or reflection")
        ->required();
    command->add_option("--submesh", arguments.submesh, "C,R: one submesh instead of the whole map");
    command->add_option("NAME", arguments.name, name_help)->required();
    command->add_option("FILE", arguments.file, file_help)->required();
    return command;
  };
  auto exported = std::make_shared<layer_arguments>();
  layer_command("export", "write a layer of a map as an 8-bit bitmap", "the bitmap to write", *exported)
      ->callback([&options, exported] { map_export(options, *exported); });
  auto imported = std::make_shared<layer_arguments>();
  CLI::App* import_command =
      layer_command("import", "read a layer of a map from an 8-bit bitmap", "the bitmap to read", *imported);
  import_command->add_flag("--resize", imported->resize, "resize the map to a whole-map bitmap of another size");
  import_command->callback([&options, imported] { map_import(options, *imported); });

  auto recovered = std::make_shared<recover_arguments>();
  CLI::App* recover_command =
      map->add_subcommand("recover", "put the unsaved changes a stopped editor left back into a map and save it");
  recover_command->add_option("NAME", recovered->name, name_help)->required();
  recover_command->add_flag("--discard", recovered->discard, "keep them aside instead (as NAME.recovery-old)");
  recover_command->callback([&options, recovered] { map_recover(options, *recovered); });

  auto resized = std::make_shared<reshape_arguments>();
  CLI::App* resize_command = map->add_subcommand("resize", "resize a map's grid, keeping the cells both sizes share");
  resize_command->add_option("NAME", resized->name, name_help)->required();
  resize_command->add_option("--cells", resized->cells, "A,B: cells across and down, multiples of 32")->required();
  resize_command->callback([&options, resized] { map_resize(options, *resized); });

  auto shifted = std::make_shared<reshape_arguments>();
  CLI::App* shift_command = map->add_subcommand("shift", "move a map's cells and markers by whole cells");
  shift_command->add_option("NAME", shifted->name, name_help)->required();
  shift_command->add_option("--dx", shifted->dx, "cells to the right (negative: left)")->required();
  shift_command->add_option("--dy", shifted->dy, "cells down (negative: up)")->required();
  shift_command->callback([&options, shifted] { map_shift(options, *shifted); });

  auto bounds = std::make_shared<bounds_arguments>();
  CLI::App* bounds_command =
      map->add_subcommand("set-bounds", "set the displacement bounds (cell units) of the displacement and water maps");
  bounds_command->add_option("NAME", bounds->name, name_help);
  bounds_command->add_option("--lower", bounds->lower, "lower bound, cell units")->required();
  bounds_command->add_option("--upper", bounds->upper, "upper bound, cell units")->required();
  bounds_command->callback([&options, bounds] { map_set_bounds(options, *bounds); });
}
