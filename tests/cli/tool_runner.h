// Runs the built vellgrim-tool as a child process and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct tool_result {
  int exit_code = -1;  // -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

tool_result run_tool(const std::vector<std::string>& arguments);
