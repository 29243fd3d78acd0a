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

// Comma-separated finite numbers, exactly `count` of them; false for anything else.
bool parse_numbers(const std::string& text, size_t count, std::vector<double>* values) {
  values->clear();
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string field = text.substr(at, comma - at);
    char* stop = nullptr;
    const double value = std::strtod(field.c_str(), &stop);
    if (field.empty() || stop != field.c_str() + field.size() || !std::isfinite(value)) return false;
    values->push_back(value);
    at = comma + 1;
  }
  return values->size() == count;
}

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

struct point {
  double x, y;
  int64_t tick;
};

bool parse_points(cli_options& options, const std::vector<std::string>& texts, size_t count, const char* what,
                  std::vector<point>* points) {
  for (const std::string& text : texts) {
    std::vector<double> values;
    if (!parse_numbers(text, count, &values) || (count == 3 && (values[2] != std::trunc(values[2]) || std::fabs(values[2]) > 1e15)))
      return cli_fail(options, "bad %s '%s': give %s", what, text.c_str(), count == 3 ? "X,Y,T (cells, cells, thirtieths of a second)" : "X,Y (cells)");
    points->push_back({values[0], values[1], count == 3 ? int64_t(values[2]) : 0});
  }
  return true;
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
  std::vector<point> steps, triangles, fills;
  if (!parse_points(options, a.steps, 3, "step", &steps) || !parse_points(options, a.triangles, 2, "triangle", &triangles) ||
      !parse_points(options, a.fills, 2, "fill", &fills))
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
  for (const point& p : steps) terrain_painter_paint(false, world(p.x), world(p.y), p.tick);
  if (a.release) terrain_painter_end_stroke();
  for (const point& p : triangles) {
    if (!terrain_painter_paint(true, world(p.x), world(p.y), 0)) {
      terrain_painter_stop();
      cli_fail(options, "no triangle at %g,%g: the point lies off the map", p.x, p.y);
      return;
    }
  }
  int32_t filled = 0;
  for (const point& p : fills) {
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
  if (map_is_modified() && !map_save()) {
    cli_fail(options, "couldn't save '%s' (see tarn_log.txt)", map_name());
    return;
  }
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
