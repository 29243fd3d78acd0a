// vellgrim-tool map paint / vertices / mesh / cells: the height painter's strokes, the vertex
// selection's commands, the whole-mesh commands, and the cells of a rectangle as JSON.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "session/engine.h"
#include "tools/height_painter.h"
#include "tools/map_session.h"
#include "tools/mesh_commands.h"
#include "tools/vertex_selection.h"

namespace {

using json = cli_json;

// A value in cells within [lowest, highest], as the value dialog takes it; false after reporting
// with the dialog's range text.
bool cells_value(cli_options& options, double value, double lowest, double highest, int32_t* world) {
  if (!std::isfinite(value) || value < lowest || value > highest) {
    return cli_fail(options, "Invalid Value: Please enter a value between %.3f and %.3f", lowest, highest);
  }
  *world = int32_t(std::trunc(value * 512.0));
  return true;
}

// ---- map paint ----

struct paint_arguments {
  std::string name, tool = "raise", filter = "elevation", brush = "circle";
  double radius = NAN, feather = NAN, rate = NAN, parameter = NAN;
  bool shift = false, release = false, toggle = false;
  std::vector<std::string> steps;
  uint32_t seed = 1;
};

int16_t choice(const std::string& text, std::initializer_list<const char*> names) {
  int16_t index = 0;
  for (const char* name : names) {
    if (text == name) return index;
    ++index;
  }
  return -1;
}

void map_paint(cli_options& options, const paint_arguments& a) {
  height_painter_preferences p;
  height_painter_set_defaults(&p);
  p.tool = choice(a.tool, {"raise", "flatten", "filter"});
  p.filter = choice(a.filter, {"elevation", "absolute", "smooth", "noise"});
  p.brush = choice(a.brush, {"circle", "square"});
  if (p.tool < 0 || p.filter < 0 || p.brush < 0) {
    cli_fail(options, "bad tool, filter or brush: give raise|flatten|filter, elevation|absolute|smooth|noise, circle|square");
    return;
  }
  if (!std::isnan(a.radius)) p.radius = float(a.radius);
  if (!std::isnan(a.feather)) p.feather = float(a.feather);
  if (!std::isnan(a.rate)) p.tool_rates[p.tool] = float(a.rate);
  if (!std::isnan(a.parameter)) p.filter_parameters[p.filter] = float(a.parameter);
  if (!height_painter_preferences_valid(p)) {
    cli_fail(options, "bad painter settings: values must be finite, the radius above 0, the feather at least 0 "
                      "and the smoothing radius at least 1");
    return;
  }
  std::vector<cli_paint_point> steps;
  if (!cli_parse_paint_points(options, a.steps, 3, "step", &steps)) return;
  if (!cli_open_map(options, a.name, _cli_session_write)) return;
  if (!height_painter_start() || !height_painter_use_preferences(p)) {
    cli_fail(options, "couldn't start the height painter (see tarn_log.txt)");
    return;
  }
  height_painter_seed(a.seed);
  for (const cli_paint_point& s : steps) height_painter_apply(a.shift, s.x, s.y, s.tick);
  if (a.release) height_painter_end_stroke();
  if (a.toggle && !height_painter_toggle()) {
    cli_fail(options, "nothing to toggle: release a stroke first (--release)");
    return;
  }
  height_painter_stop();
  if (!cli_save_map(options)) return;
  std::printf("painted '%s': %d step%s\n", map_name(), int(steps.size()), steps.size() == 1 ? "" : "s");
}

// ---- map vertices ----

struct vertices_arguments {
  std::string name, rect, cell;
  bool alt = false, zero = false;
  double set_height = NAN, set_media = NAN, jitter = NAN;
  int32_t raise = 0;
  bool has_raise = false;
  uint32_t seed = 1;
};

bool parse_rectangle(cli_options& options, const std::string& text, int32_t r[4]) {
  std::vector<int32_t> values;
  if (!cli_parse_numbers(text, &values, 4)) return cli_fail(options, "bad rectangle '%s': give C0,R0,C1,R1", text.c_str());
  for (int i = 0; i < 4; ++i) r[i] = values[size_t(i)];
  return true;
}

void map_vertices(cli_options& options, const vertices_arguments& a) {
  int32_t rectangle[4] = {};
  std::vector<int32_t> cell;
  if (!a.rect.empty() && !parse_rectangle(options, a.rect, rectangle)) return;
  if (!a.cell.empty() && !cli_parse_numbers(a.cell, &cell, 2)) {
    cli_fail(options, "bad cell '%s': give X,Y", a.cell.c_str());
    return;
  }
  int32_t value = 0;
  if (!std::isnan(a.set_height) && !cells_value(options, a.set_height, -MESH_HEIGHT_DIALOG_LIMIT, MESH_HEIGHT_DIALOG_LIMIT, &value)) return;
  if (!std::isnan(a.set_media) && !cells_value(options, a.set_media, -MESH_HEIGHT_DIALOG_LIMIT, MESH_HEIGHT_DIALOG_LIMIT, &value)) return;
  if (!std::isnan(a.jitter) && !cells_value(options, a.jitter, MESH_AMOUNT_LOWEST, MESH_AMOUNT_HIGHEST, &value)) return;
  if (!cli_open_map(options, a.name, _cli_session_write)) return;
  if (!a.rect.empty()) {
    vertex_selection_select_rectangle(rectangle[0], rectangle[1], rectangle[2], rectangle[3], false);
  } else {
    vertex_selection_click_cell(int32_t(std::clamp<int64_t>(int64_t(cell[0]) * 512 + 256, INT32_MIN, INT32_MAX)),
                                int32_t(std::clamp<int64_t>(int64_t(cell[1]) * 512 + 256, INT32_MIN, INT32_MAX)),
                                a.alt ? TOOL_MODIFIER_ALT : 0);
  }
  const int32_t selected = vertex_selection_count();
  if (selected == 0) {
    cli_fail(options, "no vertex of the map is selected");
    return;
  }
  bool changed = false;
  if (!std::isnan(a.set_height)) changed = mesh_command_set_height(value);
  else if (a.zero) changed = mesh_command_set_height_to_zero();
  else if (!std::isnan(a.set_media)) changed = mesh_command_set_media_height(value);
  else if (!std::isnan(a.jitter)) {
    mesh_command_set_jitter_amount(int16_t(value));
    mesh_command_seed(a.seed);
    changed = mesh_command_jitter();
  } else if (a.has_raise) {
    changed = vertex_selection_raise(a.raise, "Raise Vertices");
  }
  if (!changed) {
    cli_fail(options, "couldn't change the selected vertices (see tarn_log.txt)");
    return;
  }
  if (!cli_save_map(options)) return;
  std::printf("changed %d vertex%s of '%s'\n", selected, selected == 1 ? "" : "es", map_name());
}

// ---- map mesh ----

struct mesh_arguments {
  std::string name;
  double set_all_media = NAN, amount = NAN;
  bool raise_edges = false, impassable = false;
};

void map_mesh(cli_options& options, const mesh_arguments& a) {
  int32_t media = 0, amount = 0;
  if (!std::isnan(a.set_all_media) &&
      !cells_value(options, a.set_all_media, -MESH_HEIGHT_DIALOG_LIMIT, MESH_HEIGHT_DIALOG_LIMIT, &media)) return;
  if (!std::isnan(a.amount) && !cells_value(options, a.amount, MESH_AMOUNT_LOWEST, MESH_AMOUNT_HIGHEST, &amount)) return;
  if (!cli_open_map(options, a.name, _cli_session_write)) return;
  bool changed = false;
  const char* what = "";
  if (!std::isnan(a.set_all_media)) {
    changed = mesh_command_set_all_media_heights(media);
    what = "set every media height of";
  } else if (a.raise_edges) {
    if (!std::isnan(a.amount)) mesh_command_set_edge_raise_amount(amount);
    changed = mesh_command_raise_edges();
    what = "raised the edges of";
  } else if (a.impassable) {
    changed = mesh_command_make_edges_impassable();
    what = "made impassable the edges of";
  }
  if (!changed) {
    cli_fail(options, "couldn't change the map (see tarn_log.txt)");
    return;
  }
  if (!cli_save_map(options)) return;
  std::printf("%s '%s'\n", what, map_name());
}

// ---- map cells ----

struct cells_arguments {
  std::string name, rect;
  bool json_output = false;
};

void map_cells(cli_options& options, const cells_arguments& a) {
  int32_t r[4] = {};
  if (!parse_rectangle(options, a.rect, r)) return;
  // Opening a map starts the engine, which holds the store's lock like a writer.
  if (!cli_open_map(options, a.name, _cli_session_write)) return;
  const int32_t x0 = std::max(std::min(r[0], r[2]), 0), x1 = std::min(std::max(r[0], r[2]), mesh_cells_across() - 1);
  const int32_t y0 = std::max(std::min(r[1], r[3]), 0), y1 = std::min(std::max(r[1], r[3]), mesh_cells_down() - 1);
  json cells = json::array();
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      const mesh_cell& c = *mesh_get_cell(x, y);
      cells.push_back(json{{"x", x},
                           {"y", y},
                           {"height", c.ground_height},
                           {"media_height", c.media_height},
                           {"terrain", c.terrain_and_flags & 0xFF},
                           {"flags", cli_hex_text(c.terrain_and_flags & 0xFF00)}});
    }
  }
  if (a.json_output) {
    cli_print_json(cells);
  } else {
    for (const json& c : cells) {
      std::printf("%d,%d height %d media %d terrain %d flags %s\n", c["x"].get<int>(), c["y"].get<int>(),
                  c["height"].get<int>(), c["media_height"].get<int>(), c["terrain"].get<int>(),
                  c["flags"].get<std::string>().c_str());
    }
  }
}

}  // namespace

void cli_add_sculpt_commands(CLI::App& app, cli_options& options) {
  CLI::App* map = app.get_subcommand("map");
  const char* name_help = "the map (`mesh` tag name or identifier)";

  auto painted = std::make_shared<paint_arguments>();
  CLI::App* paint = map->add_subcommand("paint", "run height painter steps on a map and save it");
  paint->add_option("NAME", painted->name, name_help)->required();
  paint->add_option("--tool", painted->tool, "raise, flatten or filter");
  paint->add_option("--filter", painted->filter, "elevation, absolute, smooth or noise");
  paint->add_option("--brush", painted->brush, "circle or square");
  paint->add_option("--radius", painted->radius, "brush radius in cells");
  paint->add_option("--feather", painted->feather, "brush feather in cells");
  paint->add_option("--rate", painted->rate, "the tool's rate (raise rate, flatten elevation, filter effect rate)");
  paint->add_option("--parameter", painted->parameter, "the filter's parameter");
  paint->add_flag("--shift", painted->shift, "as with Shift held: lower, or take filter coverage back");
  paint->add_option("--step", painted->steps, "X,Y,T: a stroke step at cells X, Y and tick T (1/30 s)")->required();
  paint->add_flag("--release", painted->release, "release the button after the steps");
  paint->add_flag("--toggle", painted->toggle, "then take the batch off again (the painter's Delete key)");
  paint->add_option("--seed", painted->seed, "the Noise filter's random seed");
  paint->callback([&options, painted] { map_paint(options, *painted); });

  auto vertices = std::make_shared<vertices_arguments>();
  CLI::App* vertex = map->add_subcommand("vertices", "select vertices of a map, change them and save it");
  vertex->add_option("NAME", vertices->name, name_help)->required();
  CLI::Option* rect = vertex->add_option("--select-rect", vertices->rect, "C0,R0,C1,R1: vertex columns and rows");
  CLI::Option* cell = vertex->add_option("--select-cell", vertices->cell, "X,Y: the corners of a cell (Select Cell)");
  rect->excludes(cell);
  vertex->add_flag("--alt", vertices->alt, "the cell click with Alt held");
  CLI::Option* set_height = vertex->add_option("--set-height", vertices->set_height, "V: Set Height... in cells (-10..10)");
  CLI::Option* zero = vertex->add_flag("--zero", vertices->zero, "Set Height to Zero");
  CLI::Option* set_media = vertex->add_option("--set-media", vertices->set_media, "V: Set Media Height... in cells");
  CLI::Option* jitter = vertex->add_option("--jitter", vertices->jitter, "A: jitter by an amount in cells");
  CLI::Option* raise = vertex->add_option("--raise", vertices->raise, "N: raise by N world units (negative lowers)");
  vertex->add_option("--seed", vertices->seed, "the jitter's random seed");
  set_height->excludes(zero)->excludes(set_media)->excludes(jitter)->excludes(raise);
  zero->excludes(set_media)->excludes(jitter)->excludes(raise);
  set_media->excludes(jitter)->excludes(raise);
  jitter->excludes(raise);
  vertex->callback([&options, vertices, rect, cell, set_height, zero, set_media, jitter, raise] {
    if (rect->count() + cell->count() == 0 ||
        set_height->count() + zero->count() + set_media->count() + jitter->count() + raise->count() == 0) {
      cli_fail(options, "give --select-rect or --select-cell, and one of --set-height, --zero, --set-media, "
                        "--jitter, --raise");
      return;
    }
    vertices->has_raise = raise->count() > 0;
    map_vertices(options, *vertices);
  });

  auto meshed = std::make_shared<mesh_arguments>();
  CLI::App* mesh = map->add_subcommand("mesh", "the Mesh menu's whole-map commands; saves the map");
  mesh->add_option("NAME", meshed->name, name_help)->required();
  CLI::Option* all_media = mesh->add_option("--set-all-media", meshed->set_all_media, "V: every media height, cells");
  CLI::Option* edges = mesh->add_flag("--raise-edges", meshed->raise_edges, "Raise Mesh Edges");
  mesh->add_option("--amount", meshed->amount, "A: the edge raise amount in cells (default 3)");
  CLI::Option* impassable = mesh->add_flag("--edges-impassable", meshed->impassable, "Make Mesh Edges Impassable");
  all_media->excludes(edges)->excludes(impassable);
  edges->excludes(impassable);
  mesh->callback([&options, meshed, all_media, edges, impassable] {
    if (all_media->count() + edges->count() + impassable->count() == 0) {
      cli_fail(options, "give one of --set-all-media, --raise-edges, --edges-impassable");
      return;
    }
    map_mesh(options, *meshed);
  });

  auto celled = std::make_shared<cells_arguments>();
  CLI::App* cells = map->add_subcommand("cells", "each vertex of a rectangle: height, media height and flags");
  cells->add_option("NAME", celled->name, name_help)->required();
  cells->add_option("--rect", celled->rect, "C0,R0,C1,R1: vertex columns and rows")->required();
  cells->add_flag("--json", celled->json_output, "as JSON");
  cells->callback([&options, celled] { map_cells(options, *celled); });
}
