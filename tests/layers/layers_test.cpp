// Each folder of src/ is one layer and may include only its own headers and those of the layers
// below it; a circle between layers starts with one upward include, so every include is checked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

// Headers that give write access to the open map: the map layer's own files, and (the writable
// view only) the operations of the tools layer, which record every change for Undo.
const std::map<std::string, std::vector<std::string>> restricted_headers = {
    {"map/mesh_private.h", {"map"}},
    {"map/mesh_edit.h", {"map", "tools"}},
    {"map/map_actions_edit.h", {"map", "tools"}},
};

struct upward_include {
  std::string file;
  std::string included;
};

// Every include of a layer's header that the including file's layer may not use.
std::vector<upward_include> upward_includes(const fs::path& source_root) {
  static const std::regex include_line(R"re(^\s*#\s*include\s*"(([a-z_]+)/[^"]+)")re");
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
      std::string header = match[1], used = match[2];
      auto restricted = restricted_headers.find(header);
      if (restricted != restricted_headers.end()) {
        const std::vector<std::string>& allowed = restricted->second;
        if (std::find(allowed.begin(), allowed.end(), layer) == allowed.end()) found.push_back({relative.string(), line});
        continue;
      }
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
    if (!entry.is_directory()) continue;
    EXPECT_TRUE(layer_rank.count(entry.path().filename().string())) << entry.path();
  }
}

TEST(Layers, NoFileIncludesAHeaderOfAHigherOrEqualLayer) {
  for (const upward_include& include : upward_includes(fs::path(VELLGRIM_SOURCE_DIR) / "src"))
    ADD_FAILURE() << include.file << ": " << include.included;
}

TEST(Layers, TheCheckFindsUpwardSidewaysAndWritableMapIncludes) {
  fs::path root = fs::temp_directory_path() / ("layers_test_" + std::to_string(::getpid()));
  fs::create_directories(root / "map");
  fs::create_directories(root / "cli");
  std::ofstream(root / "map" / "mesh.cpp") << "#include \"map/mesh.h\"\n#include \"render/screen.h\"\n"
                                              "  #include \"world/world.h\"\n";
  std::ofstream(root / "cli" / "main.cpp") << "#include \"shell/frame.h\"\n#include <vector>\n"
                                              "#include \"map/mesh_edit.h\"\n";
  fs::create_directories(root / "tools");
  std::ofstream(root / "tools" / "painter.cpp") << "#include \"map/mesh_edit.h\"\n#include \"map/mesh_private.h\"\n";
  std::vector<upward_include> found = upward_includes(root);
  fs::remove_all(root);
  ASSERT_EQ(found.size(), 4u);
  std::multimap<std::string, std::string> by_file;
  for (const upward_include& include : found) by_file.emplace(include.file, include.included);
  auto refused = [&](const std::string& file, const std::string& header) {
    auto [first, last] = by_file.equal_range(file);
    return std::any_of(first, last, [&](const auto& entry) { return entry.second.find(header) != std::string::npos; });
  };
  EXPECT_TRUE(refused("map/mesh.cpp", "world/world.h"));
  EXPECT_TRUE(refused("cli/main.cpp", "shell/frame.h"));
  EXPECT_TRUE(refused("cli/main.cpp", "map/mesh_edit.h"));  // a program writing the map itself
  EXPECT_TRUE(refused("tools/painter.cpp", "map/mesh_private.h"));
  EXPECT_FALSE(refused("tools/painter.cpp", "map/mesh_edit.h"));
}

}  // namespace
