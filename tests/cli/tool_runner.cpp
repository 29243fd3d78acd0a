#include "tool_runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/bitmap_file.h"

namespace {

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

tool_result run_tool(const std::vector<std::string>& arguments) { return run_tool_from("", arguments); }

tool_result run_tool_from(const std::string& working_folder, const std::vector<std::string>& arguments) {
  tool_result result;
  // Files rather than pipes: nothing can block however much the tool prints.
  std::string folder_template = (std::filesystem::temp_directory_path() / "vellgrim-tool-run-XXXXXX").string();
  if (!mkdtemp(folder_template.data())) return result;
  const std::string out_path = folder_template + "/out", err_path = folder_template + "/err";

  std::vector<char*> argv;
  std::string program = VELLGRIM_TOOL_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies(arguments);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t child = fork();
  if (child == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    if (!working_folder.empty() && chdir(working_folder.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = read_whole(out_path);
  result.err = read_whole(err_path);
  std::error_code error;
  std::filesystem::remove_all(folder_template, error);
  return result;
}

tool_result run_tool_in(const std::string& root, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--root", root});
  return run_tool(arguments);
}

nlohmann::json run_tool_json(const std::string& root, const std::vector<std::string>& arguments) {
  tool_result result = run_tool_in(root, arguments);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  return nlohmann::json::parse(result.out, nullptr, false);
}

tool_result run_tool_new_flat_map(const std::string& root, const std::string& name) {
  bitmap_image image;
  image.width = image.height = 256;
  image.pixels.assign(size_t(256) * 256, 3);
  bitmap_set_grey_palette(&image);
  const std::vector<uint8_t> bytes = bitmap_encode(image);
  const std::string path = root + "/flat.bmp";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  if (!out) return {};
  return run_tool_in(root, {"map", "new", "--name", name, "--media", "water", "--bitmap", path});
}
