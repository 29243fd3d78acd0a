// vellgrim-tool prefs ...: the editor's preference record as the editor would load it.
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "engine/preferences.h"

namespace {

using json = cli_json;

json vellgrim_preferences_json(const vellgrim_preferences& p) {
  const height_painter_preferences& painter = p.height_painter;
  const terrain_painter_preferences& terrain = p.terrain_painter;
  json o;
  o["place_sound_source_flags"] = p.place_sound_source_flags;
  o["place_unit_flags"] = p.place_unit_flags;
  o["place_scenery_flags"] = p.place_scenery_flags;
  o["place_model_flags"] = p.place_model_flags;
  o["place_model_animation_flags"] = p.place_model_animation_flags;
  o["painter_batch_merge"] = painter.batch_merge;
  o["painter_brush"] = painter.brush;
  o["painter_tool"] = painter.tool;
  o["painter_filter"] = painter.filter;
  o["painter_radius"] = painter.radius;
  o["painter_feather"] = painter.feather;
  o["painter_raise_rate"] = painter.tool_rates[0];
  o["painter_flatten_elevation"] = painter.tool_rates[1];
  o["painter_filter_effect_rate"] = painter.tool_rates[2];
  o["painter_elevation_adjustment"] = painter.filter_parameters[0];
  o["painter_absolute_elevation"] = painter.filter_parameters[1];
  o["painter_smoothing_radius"] = painter.filter_parameters[2];
  o["painter_noise_amplitude"] = painter.filter_parameters[3];
  o["terrain_merge_strokes"] = terrain.merge_strokes;
  o["terrain_brush_shape"] = terrain.brush_shape;
  o["terrain_radius"] = terrain.radius;
  o["displacement_lower_bound"] = p.displacement_lower_bound;
  o["displacement_upper_bound"] = p.displacement_upper_bound;
  return o;
}

void prefs_show(cli_options& options, bool as_json) {
  if (!cli_session_begin(options, _cli_session_read)) return;
  auto* record = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  if (!record) {
    cli_fail(options, "couldn't load the \"vellgrim\" preferences (see tarn_log.txt)");
    return;
  }
  json o = vellgrim_preferences_json(*record);
  preferences_dispose(&vellgrim_preferences_descriptor);
  if (as_json) {
    cli_print_json(o);
  } else {
    cli_print_fields(o);
  }
}

}  // namespace

void cli_add_prefs_commands(CLI::App& app, cli_options& options) {
  CLI::App* prefs = app.add_subcommand("prefs", "the editor's preference records");
  prefs->require_subcommand(1);
  auto as_json = std::make_shared<bool>(false);
  CLI::App* show = prefs->add_subcommand("show", "the \"vellgrim\" record's fields, stored or default");
  show->add_flag("--json", *as_json, "print JSON");
  show->callback([&options, as_json] { prefs_show(options, *as_json); });
}
