// vellgrim-tool: each group of commands lives in its own file and adds its subcommands here.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

struct cli_options {
  std::string root = ".";  // the working folder holding "tags", "plugins" and "local"
  int exit_code = 0;        // set by the command that ran
};

void cli_add_tags_commands(CLI::App& app, cli_options& options);
void cli_add_map_commands(CLI::App& app, cli_options& options);
void cli_add_prefs_commands(CLI::App& app, cli_options& options);
void cli_add_content_commands(CLI::App& app, cli_options& options);
void cli_add_image_commands(CLI::App& app, cli_options& options);  // after the map commands
// `map connectors ...`, under the `map` command it is given.
void cli_add_connector_commands(CLI::App& map, cli_options& options);
void cli_add_sculpt_commands(CLI::App& app, cli_options& options);  // after the map commands
void cli_add_render_commands(CLI::App& app, cli_options& options);

// render NAME --overhead FILE [--overhead-zoom Z]: the overhead view as a PNG file; the exit code.
int cli_render_overhead(cli_options& options, const std::string& name, const std::string& file, float zoom);
// The same for the map a render command has opened already.
int cli_render_overhead_of_open_map(cli_options& options, const std::string& file, float zoom);
void cli_add_shadow_commands(CLI::App& app, cli_options& options);  // after the map commands
void cli_add_map_action_commands(CLI::App& app, cli_options& options);  // after the map commands
void cli_add_terrain_commands(CLI::App& app, cli_options& options);  // after the map commands
