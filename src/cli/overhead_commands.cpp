// vellgrim-tool render NAME --overhead FILE: the overhead view of a map as a PNG file, drawn by the
// same code as the editor's overhead window.
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "cli/png_file.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "tools/map_session.h"
#include "view/overhead_image.h"

int cli_render_overhead(cli_options& options, const std::string& name, const std::string& file, float zoom) {
  // Starting the engine takes the single-instance lock, as every command that opens a map does.
  if (!cli_open_map(options, name)) return options.exit_code;
  return cli_render_overhead_of_open_map(options, file, zoom);
}

int cli_render_overhead_of_open_map(cli_options& options, const std::string& file, float zoom) {
  const std::string name = map_name();
  // A submesh of at least one pixel, an image of at most OVERHEAD_MAXIMUM_SIDE pixels a side.
  const float smallest = 1.0f / float(OVERHEAD_TILE_SIZE);
  const float largest = overhead_largest_zoom(mesh_width(), mesh_height());
  if (!std::isfinite(zoom) || zoom < smallest || zoom > largest) {
    cli_fail(options, "bad --overhead-zoom %g: give a zoom from %g to %g for this map of %dx%d submeshes", double(zoom),
             double(smallest), double(largest), mesh_width(), mesh_height());
    return options.exit_code;
  }
  overhead_image background, composed;
  if (!overhead_build_background(zoom, &background)) {
    cli_fail(options, "couldn't draw the overhead view of '%s' (out of memory?)", name.c_str());
    return options.exit_code;
  }
  // Headless there is no current tool: every unit shows, with the observer where the map puts it.
  overhead_overlays overlays;
  overlays.zoom = zoom;
  overhead_overlays_set_tool(&overlays, 0, -1, -1, nullptr);
  overlays.unit_palette_index = OVERHEAD_ALL_ENTRIES;
  overhead_overlays_set_observer(&overlays);
  overhead_compose(background, overlays, &composed);
  const std::string path = cli_absolute_path(file);
  std::string error;
  if (!png_file_write_rgb8(path.c_str(), composed.width, composed.height, overhead_image_rgb8(composed), &error)) {
    cli_fail(options, "%s", error.c_str());
    return options.exit_code;
  }
  std::printf("wrote the overhead view of '%s' (%dx%d pixels at zoom %g) to %s\n", map_name(), composed.width,
              composed.height, double(zoom), path.c_str());
  return options.exit_code;
}
