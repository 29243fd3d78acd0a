#include "cli/cli_commands.h"

void cli_add_map_commands(CLI::App&, cli_options&) {}
