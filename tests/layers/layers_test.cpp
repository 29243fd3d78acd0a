// Each folder of src/ is one layer and may include only its own headers and those of the layers
// below it; a circle between layers starts with one upward include, so every include is checked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Bottom first. Layers of equal rank (the programs at the top) may not include each other.
const std::map<std::string, int> layer_rank = {
    {"platform", 0}, {"cseries", 1}, {"tag_files", 2}, {"engine", 3}, {"render", 4},
    {"map", 5},      {"world", 6},   {"input", 7},     {"tools", 8},  {"view", 9},
    {"session", 10}, {"content", 11}, {"cli", 12},     {"shell", 12}, {"app", 13},
};

struct upward_include {
  std::string file;
  std::string included;
};

// Every include of a layer's header that the including file's layer may not use.
std::vector<upward_include> upward_includes(const fs::path& source_root) {
  static const std::regex include_line(R"re(^\s*#\s*include\s*"([a-z_]+)/[^"]+")re");
  std::vector<upward_include> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source_root)) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), source_root);
    std::string layer = relative.begin()->string();
    auto own = layer_rank.find(layer);
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      std::smatch match;
      if (!std::regex_search(line, match, include_line)) continue;
      std::string used = match[1];
      if (used == layer) continue;
      auto other = layer_rank.find(used);
      if (own == layer_rank.end() || other == layer_rank.end() || other->second >= own->second)
        found.push_back({relative.string(), line});
    }
  }
  return found;
}

TEST(Layers, EveryFolderOfTheSourceIsAKnownLayer) {
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(VELLGRIM_SOURCE_DIR) / "src")) {
    if (entry.is_directory()) EXPECT_TRUE(layer_rank.count(entry.path().filename().string())) << entry.path();
  }
}

TEST(Layers, NoFileIncludesAHeaderOfAHigherOrEqualLayer) {
  for (const upward_include& include : upward_includes(fs::path(VELLGRIM_SOURCE_DIR) / "src"))
    ADD_FAILURE() << include.file << ": " << include.included;
}

TEST(Layers, TheCheckFindsAnUpwardIncludeAndASidewaysOne) {
  fs::path root = fs::temp_directory_path() / ("layers_test_" + std::to_string(::getpid()));
  fs::create_directories(root / "map");
  fs::create_directories(root / "cli");
  std::ofstream(root / "map" / "mesh.cpp") << "#include \"map/mesh.h\"\n#include \"render/screen.h\"\n"
                                              "  #include \"world/world.h\"\n";
  std::ofstream(root / "cli" / "main.cpp") << "#include \"shell/frame.h\"\n#include <vector>\n";
  std::vector<upward_include> found = upward_includes(root);
  fs::remove_all(root);
  ASSERT_EQ(found.size(), 2u);
  std::map<std::string, std::string> by_file;
  for (const upward_include& include : found) by_file[include.file] = include.included;
  EXPECT_NE(by_file["map/mesh.cpp"].find("world/world.h"), std::string::npos);
  EXPECT_NE(by_file["cli/main.cpp"].find("shell/frame.h"), std::string::npos);
}

}  // namespace
