#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
  CLI::App app{"vellgrim-tool: headless commands over the Vellgrim engine"};
  std::string root = ".";
  app.add_option("--root", root, "working folder holding tags, plugins and local")->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  return 0;
}
