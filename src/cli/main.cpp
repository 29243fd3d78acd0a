#include "cli/cli_commands.h"
#include "cli/cli_session.h"

int main(int argc, char** argv) {
  CLI::App app{"vellgrim-tool: headless commands over the Vellgrim engine"};
  app.require_subcommand(1);
  // Every error of the tool is one line on standard error, usage mistakes included.
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return std::string("vellgrim-tool: ") + error.what() + " (see --help)\n";
  });
  cli_options options;
  app.add_option("--root", options.root, "working folder holding tags, plugins and local")
      ->capture_default_str();
  cli_add_tags_commands(app, options);
  cli_add_map_commands(app, options);
  cli_add_prefs_commands(app, options);
  cli_add_content_commands(app, options);
  cli_add_image_commands(app, options);
  cli_add_sculpt_commands(app, options);
  cli_add_render_commands(app, options);
  cli_add_shadow_commands(app, options);
  cli_add_map_action_commands(app, options);
  cli_add_terrain_commands(app, options);
  CLI11_PARSE(app, argc, argv);
  // A command that opened the store ends through the exit procedures: lock released, log closed.
  cli_session_end(options);
  return options.exit_code;
}
