// Runs the built vellgrim-tool as a child process and captures what it prints.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct tool_result {
  int exit_code = -1;  // -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

tool_result run_tool(const std::vector<std::string>& arguments);
// run_tool started in another working folder (empty: the test's own).
tool_result run_tool_from(const std::string& working_folder, const std::vector<std::string>& arguments);

// run_tool against the store in root ("--root root" in front of the arguments).
tool_result run_tool_in(const std::string& root, std::vector<std::string> arguments);
// run_tool_in expecting success (a test failure otherwise); standard output parsed as JSON, a
// discarded value when it is not JSON.
nlohmann::json run_tool_json(const std::string& root, const std::vector<std::string>& arguments);

// `map new` of a flat 256 x 256 map NAME with water media in the store at root, from a grey
// bitmap written beside it as flat.bmp; the tool's result.
tool_result run_tool_new_flat_map(const std::string& root, const std::string& name);
