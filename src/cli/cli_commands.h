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
void cli_add_map_action_commands(CLI::App& app, cli_options& options);  // after the map commands
