// vellgrim-tool render NAME: pictures of a map drawn headless.
#include <memory>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"

namespace {

struct render_arguments {
  std::string name;
  std::string overhead;
  float overhead_zoom = 1.0f;
};

}  // namespace

void cli_add_render_commands(CLI::App& app, cli_options& options) {
  auto arguments = std::make_shared<render_arguments>();
  CLI::App* render = app.add_subcommand("render", "draw a map's views into PNG files");
  render->add_option("name", arguments->name, "the map (tag name or identifier)")->required();
  render->add_option("--overhead", arguments->overhead, "the overhead view, as a PNG file")->required();
  render->add_option("--overhead-zoom", arguments->overhead_zoom,
                     "pixels per 64 world units of the overhead view (1: a submesh is 256 pixels)")
      ->capture_default_str();
  render->callback([&options, arguments] {
    cli_render_overhead(options, arguments->name, arguments->overhead, arguments->overhead_zoom);
  });
}
