// vellgrim-tool map terrain: the terrain painter's brush strokes, right-button triangles and flood
// fills on a map, then the map saved.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "map/mesh.h"
#include "tools/map_session.h"
#include "tools/terrain_painter.h"

namespace {

struct terrain_arguments {
  std::string name, type = "grass", brush = "circle";
  double radius = NAN;
  bool merge = true, release = false, toggle = false;
  std::vector<std::string> steps, triangles, fills;
};

// A cell coordinate as a world coordinate, kept within what the painter can take.
int32_t world(double cells) { return int32_t(std::clamp(std::trunc(cells * 512.0), -1.0e9, 1.0e9)); }

// A type by number or by name; -1 for one that can't be painted.
int32_t parse_type(const std::string& text) {
  char* stop = nullptr;
  const long number = std::strtol(text.c_str(), &stop, 10);
  if (!text.empty() && stop == text.c_str() + text.size()) return terrain_type_paintable(int32_t(number)) ? int32_t(number) : -1;
  for (int16_t type = 0; type < TERRAIN_TYPE_COUNT; ++type)
    if (text == terrain_type_name(type) && terrain_type_paintable(type)) return type;
  return -1;
}

void map_terrain(cli_options& options, const terrain_arguments& a) {
  const int32_t type = parse_type(a.type);
  if (type < 0) {
    cli_fail(options, "bad terrain type '%s': give 0..11, 14, 15 or a type's name", a.type.c_str());
    return;
  }
  terrain_painter_preferences preferences;
  terrain_painter_set_defaults(&preferences);
  if (a.brush == "square") {
    preferences.brush_shape = _terrain_painter_square;
  } else if (a.brush != "circle") {
    cli_fail(options, "bad brush '%s': give circle or square", a.brush.c_str());
    return;
  }
  if (!std::isnan(a.radius)) preferences.radius = float(a.radius);
  preferences.merge_strokes = a.merge ? 1 : 0;
  if (!terrain_painter_preferences_valid(preferences)) {
    cli_fail(options, "bad brush radius: give a finite radius above 0");
    return;
  }
  std::vector<cli_paint_point> steps, triangles, fills;
  if (!cli_parse_paint_points(options, a.steps, 3, "step", &steps) || !cli_parse_paint_points(options, a.triangles, 2, "triangle", &triangles) ||
      !cli_parse_paint_points(options, a.fills, 2, "fill", &fills))
    return;
  if (steps.empty() && triangles.empty() && fills.empty()) {
    cli_fail(options, "nothing to paint: give --step, --triangle or --fill");
    return;
  }
  if (!cli_open_map(options, a.name, _cli_session_write)) return;
  if (!terrain_painter_start() || !terrain_painter_use_preferences(preferences)) {
    cli_fail(options, "couldn't start the terrain painter (see tarn_log.txt)");
    return;
  }
  (void)terrain_painter_set_current_type(type);
  for (const cli_paint_point& p : steps) terrain_painter_paint(false, world(p.x), world(p.y), p.tick);
  if (a.release) terrain_painter_end_stroke();
  for (const cli_paint_point& p : triangles) {
    if (!terrain_painter_paint(true, world(p.x), world(p.y), 0)) {
      terrain_painter_stop();
      cli_fail(options, "no triangle at %g,%g: the point lies off the map", p.x, p.y);
      return;
    }
  }
  int32_t filled = 0;
  for (const cli_paint_point& p : fills) {
    const terrain_fill_result result = terrain_painter_flood_fill_at(world(p.x), world(p.y));
    if (!result.filled) {
      terrain_painter_stop();
      cli_fail(options, "couldn't fill from %g,%g: off the map, or see tarn_log.txt", p.x, p.y);
      return;
    }
    filled += result.triangles_set;
  }
  if (a.toggle && !terrain_painter_toggle()) {
    terrain_painter_stop();
    cli_fail(options, "nothing to toggle: release a stroke first (--release), with no triangle or fill after it");
    return;
  }
  terrain_painter_stop();
  if (!cli_save_map(options)) return;
  std::printf("painted '%s' with %s: %d step%s, %d triangle%s, %d triangle%s filled\n", map_name(),
              terrain_type_name(int16_t(type)), int(steps.size()), steps.size() == 1 ? "" : "s", int(triangles.size()),
              triangles.size() == 1 ? "" : "s", int(filled), filled == 1 ? "" : "s");
}

}  // namespace

void cli_add_terrain_commands(CLI::App& app, cli_options& options) {
  CLI::App* map = app.get_subcommand("map");
  auto arguments = std::make_shared<terrain_arguments>();
  CLI::App* terrain = map->add_subcommand("terrain", "paint terrain types on a map (strokes, triangles, flood fills) and save it");
  terrain->add_option("NAME", arguments->name, "the map (`mesh` tag name or identifier)")->required();
  terrain->add_option("--type", arguments->type, "the type painted: 0..11, 14, 15 or its name (\"rocky\")");
  terrain->add_option("--brush", arguments->brush, "circle or square");
  terrain->add_option("--radius", arguments->radius, "brush radius in cells");
  terrain->add_flag("--merge,!--no-merge", arguments->merge, "strokes within a second form one undo step (default)");
  terrain->add_option("--step", arguments->steps, "X,Y,T: a brush step at cells X, Y and tick T (1/30 s)");
  terrain->add_flag("--release", arguments->release, "release the button after the steps");
  terrain->add_option("--triangle", arguments->triangles, "X,Y: the triangle under the point (the right button)");
  terrain->add_option("--fill", arguments->fills, "X,Y: flood-fill the region of the type under the point (Shift)");
  terrain->add_flag("--toggle", arguments->toggle, "then take the last batch off again (the painter's Delete key)");
  terrain->callback([&options, arguments] { map_terrain(options, *arguments); });
}
