#include "cli/cli_commands.h"

void cli_add_tags_commands(CLI::App&, cli_options&) {}
