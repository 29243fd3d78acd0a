// vellgrim-tool content ...: building the demo game data.
#include <memory>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "content/content.h"

namespace {

void content_build_command(cli_options& options, const std::string& out) {
  const std::string folder = cli_absolute_path(out);
  std::string failure;
  if (!content_build(folder, &failure)) {
    cli_fail(options, "%s", failure.c_str());
    return;
  }
  std::printf("built the demo data in '%s'\n", folder.c_str());
}

}  // namespace

void cli_add_content_commands(CLI::App& app, cli_options& options) {
  CLI::App* content = app.add_subcommand("content", "the demo game data");
  content->require_subcommand(1);
  auto out = std::make_shared<std::string>();
  CLI::App* build = content->add_subcommand(
      "build", "write the five install archives into DIR/tags, the demo plugin into DIR/plugins and an empty DIR/local");
  build->add_option("--out", *out, "the folder to build into: the editor's working folder")->required();
  build->callback([&options, out] { content_build_command(options, *out); });
}
