// vellgrim-tool map shadows / lighting / heights and anim shadows: the shadow maps of a map, its
// lighting as the computation reads it, its pixel heights as an ESRI ASCII grid, and the ground
// shadows of a model animation.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "tag_files/tag_files.h"
#include "tools/map_session.h"
#include "tools/model_animation_shadows.h"
#include "tools/shadow_editor.h"
#include "world/models.h"

namespace {

// The store, the engine and the map NAME open; false after reporting.
bool open_map(cli_options& options, const std::string& name, cli_session_mode mode) {
  return cli_open_map(options, name, mode);
}

// Why an operation failed: the last report, which the log also holds.
bool failed(cli_options& options, const char* what) {
  const char* reason = error_last_message();
  return cli_fail(options, "couldn't %s: %s", what, reason && *reason ? reason : "see tarn_log.txt");
}

// "C,R" inside the open map as a submesh index; false after reporting.
bool parse_submesh(cli_options& options, const std::string& text, int32_t* submesh) {
  int column = 0, row = 0, consumed = 0;
  if (std::sscanf(text.c_str(), "%d,%d%n", &column, &row, &consumed) != 2 || size_t(consumed) != text.size() ||
      column < 0 || row < 0 || column >= mesh_width() || row >= mesh_height()) {
    return cli_fail(options, "bad submesh '%s': give C,R inside the map's %dx%d submeshes", text.c_str(), mesh_width(),
                    mesh_height());
  }
  *submesh = row * mesh_width() + column;
  return true;
}

struct shadows_arguments {
  std::string name, mode, submesh, toggle;
  bool no_blur = false;
  bool unprotect_all = false;
};

void map_shadows(cli_options& options, const shadows_arguments& arguments) {
  static const char* const modes[] = {"none", "basic", "mesh", "model"};
  int16_t mode = NONE;
  for (int16_t k = 0; k < 4; ++k) {
    if (arguments.mode == modes[k]) mode = k;
  }
  if (!arguments.mode.empty() && mode == NONE) {
    cli_fail(options, "bad mode '%s': give none, basic, mesh or model", arguments.mode.c_str());
    return;
  }
  if (arguments.mode.empty() && !arguments.unprotect_all && arguments.toggle.empty()) {
    cli_fail(options, "nothing to do: give --mode, --unprotect-all or --toggle-protected");
    return;
  }
  if (!open_map(options, arguments.name, _cli_session_write)) return;
  int32_t submesh = SHADOW_ALL_SUBMESHES, toggled = NONE;
  if (!arguments.submesh.empty() && !parse_submesh(options, arguments.submesh, &submesh)) return;
  if (!arguments.toggle.empty() && !parse_submesh(options, arguments.toggle, &toggled)) return;
  if (arguments.unprotect_all && !shadow_unprotect_all_submeshes()) {
    failed(options, "unprotect the submeshes");
    return;
  }
  if (toggled != NONE && !shadow_toggle_protected(toggled)) {
    failed(options, "toggle the protected bit");
    return;
  }
  // "none" is the menus' No Shadows: every unprotected map fully lit.
  const bool done = mode == NONE                    ? true
                    : mode == _shadow_mode_none     ? shadow_no_shadows(submesh)
                                                    : shadow_compute(mode, submesh, !arguments.no_blur);
  if (!done) {
    failed(options, "compute the shadows");
    return;
  }
  if (!map_save()) {
    failed(options, "save the map");
    return;
  }
  int32_t protected_count = 0;
  for (int32_t k = 0; k < mesh_width() * mesh_height(); ++k) protected_count += shadow_submesh_is_protected(k) ? 1 : 0;
  std::printf("shadows of '%s' saved (%d of %d submeshes protected)\n", map_name(), protected_count,
              mesh_width() * mesh_height());
}

struct lighting_arguments {
  std::string name;
  bool json = false;
};

cli_json light_json(int32_t x, int32_t y, int32_t z) { return cli_json{{"x", x}, {"y", y}, {"z", z}}; }

void map_lighting(cli_options& options, const lighting_arguments& arguments) {
  if (!open_map(options, arguments.name, _cli_session_write)) return;
  mesh_lighting lighting = {};
  if (!shadow_lighting_load(&lighting)) {
    cli_fail(options, "mesh lighting missing.");
    return;
  }
  const int16_t index = definition_find(&mesh_lighting_definitions, mesh_header()->mesh_lighting_tag);
  mesh_lighting stored = {};
  std::memcpy(&stored, definition_get(&mesh_lighting_definitions, index), sizeof(stored));
  const std::vector<int32_t> factors = shadow_gaussian_factors(lighting.blur_radius, lighting.blur_sigma);
  int64_t sum = 0;
  for (int32_t f : factors) sum += f;
  const double x = lighting.light_x, y = lighting.light_y, z = lighting.light_z;
  const double degrees = 180.0 / std::numbers::pi;
  // The direction the light comes from, as a sun's position: azimuth from +x toward +y, elevation
  // above the ground.
  const double azimuth = std::fmod(std::atan2(-y, -x) * degrees + 360.0, 360.0);
  const double elevation = std::atan2(-z, std::hypot(x, y)) * degrees;
  cli_json kernel = cli_json::array();
  const int32_t side = 2 * lighting.blur_radius + 1;
  for (int32_t r = 0; r < side; ++r) {
    cli_json row = cli_json::array();
    for (int32_t c = 0; c < side; ++c) row.push_back(factors[size_t(r * side + c)]);
    kernel.push_back(row);
  }
  cli_json out = {{"lighting", definition_get_name(&mesh_lighting_definitions, index)},
                  {"stored_light", light_json(stored.light_x, stored.light_y, stored.light_z)},
                  {"normalised_light", light_json(lighting.light_x, lighting.light_y, lighting.light_z)},
                  {"azimuth_degrees", std::round(azimuth * 100.0) / 100.0},
                  {"elevation_degrees", std::round(elevation * 100.0) / 100.0},
                  {"ambient", lighting.ambient},
                  {"intensity", lighting.intensity},
                  {"shadow_value", lighting.shadow_value},
                  {"maximum", lighting.maximum},
                  {"ray_steps", lighting.ray_steps},
                  {"blur_radius", lighting.blur_radius},
                  {"blur_sigma", lighting.blur_sigma},
                  {"kernel", kernel},
                  {"kernel_sum", sum}};
  if (arguments.json) {
    cli_print_json(out);
    return;
  }
  out.erase("kernel");
  cli_print_fields(out);
  for (const auto& row : kernel) {
    std::string line = "  ";
    for (const auto& value : row) line += std::to_string(value.get<int32_t>()) + " ";
    std::printf("%s\n", line.c_str());
  }
}

struct heights_arguments {
  std::string name, out;
};

// ESRI ASCII grid: one value per map pixel (64 world units), rows from the map's top, heights in
// world units; cells without ground are NODATA.
void map_heights(cli_options& options, const heights_arguments& arguments) {
  if (!open_map(options, arguments.name, _cli_session_write)) return;
  shadow_terrain terrain;
  if (!shadow_terrain_take(&terrain)) {
    cli_fail(options, "couldn't allocate the map's heights");
    return;
  }
  const std::string path = cli_absolute_path(arguments.out);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
  if (!file) {
    cli_fail(options, "couldn't create '%s': %s", path.c_str(), std::strerror(errno));
    return;
  }
  const int32_t columns = terrain.cells_across * TEXELS_PER_CELL, rows = terrain.cells_down * TEXELS_PER_CELL;
  std::fprintf(file.get(), "ncols %d\nnrows %d\nxllcorner 0\nyllcorner 0\ncellsize %d\nNODATA_value %d\n", columns,
               rows, int(WORLD_UNITS_PER_TEXEL), int(NO_GROUND_HEIGHT));
  std::string line;
  char number[16];
  for (int32_t y = 0; y < rows; ++y) {
    line.clear();
    for (int32_t x = 0; x < columns; ++x) {
      std::snprintf(number, sizeof(number), x ? " %d" : "%d", shadow_terrain_height(terrain, x, y));
      line += number;
    }
    line += '\n';
    if (std::fputs(line.c_str(), file.get()) < 0) {
      cli_fail(options, "couldn't write '%s'", path.c_str());
      return;
    }
  }
  if (std::fclose(file.release()) != 0) {
    cli_fail(options, "couldn't write '%s'", path.c_str());
    return;
  }
  std::printf("wrote %dx%d heights of '%s' to %s\n", columns, rows, map_name(), arguments.out.c_str());
}

struct anim_arguments {
  std::string name, map;
  int32_t marker = 0;
  bool remove = false;
};

void anim_shadows(cli_options& options, const anim_arguments& arguments) {
  if (!open_map(options, arguments.map, _cli_session_write)) return;
  const int32_t anim_tag = cli_find_named_tag(model_animation_definitions.group_tag, arguments.name);
  if (anim_tag == NONE) {
    cli_fail(options, "no model animation '%s' in the store", arguments.name.c_str());
    return;
  }
  // The model animation marker of that identifier placing that animation.
  int32_t marker_index = NONE;
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    const marker_data& marker = mesh_markers()[i];
    if (marker.type != _marker_model_animation || marker.identifier != arguments.marker) continue;
    const int32_t animation = model_animation_shadows_animation_of(i);
    const world_model_animation* placed = animation >= 0 ? model_animation_get(animation) : nullptr;
    if (placed && definition_get_tag(&model_animation_definitions, placed->definition_index) == anim_tag) marker_index = i;
  }
  if (marker_index == NONE) {
    cli_fail(options, "no model animation marker #%d placing '%s' in map '%s'", arguments.marker, arguments.name.c_str(),
             arguments.map.c_str());
    return;
  }
  if (arguments.remove ? !model_animation_shadows_remove(marker_index) : !model_animation_shadows_calculate(marker_index)) {
    failed(options, arguments.remove ? "remove the shadows" : "calculate the shadows");
    return;
  }
  const auto* definition = static_cast<const model_animation_definition*>(definition_get_if_loaded(
      &model_animation_definitions, model_animation_get(model_animation_shadows_animation_of(marker_index))->definition_index));
  std::printf("'%s': %d frames, shadow %dx%d (stride %d) at %d,%d, %d bytes\n", arguments.name.c_str(),
              definition->frame_count, definition->shadow_width, definition->shadow_height, definition->shadow_stride,
              definition->shadow_origin_x, definition->shadow_origin_y, definition->shadow_data_size);
}

}  // namespace

void cli_add_shadow_commands(CLI::App& app, cli_options& options) {
  CLI::App* map = app.get_subcommand("map");
  const char* name_help = "the map's tag name, or 0x and its identifier";

  auto shadows = std::make_shared<shadows_arguments>();
  CLI::App* shadows_command = map->add_subcommand("shadows", "compute or clear a map's shadow maps and save it");
  shadows_command->add_option("NAME", shadows->name, name_help)->required();
  shadows_command->add_option("--mode", shadows->mode, "none, basic, mesh or model");
  shadows_command->add_option("--submesh", shadows->submesh, "C,R: one submesh instead of every one");
  shadows_command->add_flag("--no-blur", shadows->no_blur, "leave the computed maps unblurred");
  shadows_command->add_flag("--unprotect-all", shadows->unprotect_all, "clear every submesh's protected bit first");
  shadows_command->add_option("--toggle-protected", shadows->toggle, "C,R: toggle that submesh's protected bit first");
  shadows_command->callback([&options, shadows] { map_shadows(options, *shadows); });

  auto lighting = std::make_shared<lighting_arguments>();
  CLI::App* lighting_command = map->add_subcommand("lighting", "show a map's lighting as the shadow computation reads it");
  lighting_command->add_option("NAME", lighting->name, name_help)->required();
  lighting_command->add_flag("--json", lighting->json, "as JSON");
  lighting_command->callback([&options, lighting] { map_lighting(options, *lighting); });

  auto heights = std::make_shared<heights_arguments>();
  CLI::App* heights_command = map->add_subcommand("heights", "write a map's pixel heights as an ESRI ASCII grid");
  heights_command->add_option("NAME", heights->name, name_help)->required();
  heights_command->add_option("--out", heights->out, "the .asc file to write")->required();
  heights_command->callback([&options, heights] { map_heights(options, *heights); });

  CLI::App* anim = app.add_subcommand("anim", "model animations");
  anim->require_subcommand(1);
  auto animated = std::make_shared<anim_arguments>();
  CLI::App* anim_command = anim->add_subcommand("shadows", "calculate or remove a model animation's ground shadows");
  anim_command->add_option("NAME", animated->name, "the model animation's tag name, or 0x and its identifier")->required();
  anim_command->add_option("--map", animated->map, "the map whose lighting casts them")->required();
  anim_command->add_option("--marker", animated->marker, "the identifier of the model animation marker")->required();
  anim_command->add_flag("--remove", animated->remove, "remove them instead");
  anim_command->callback([&options, animated] { anim_shadows(options, *animated); });
}
