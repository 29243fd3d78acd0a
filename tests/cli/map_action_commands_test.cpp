// vellgrim-tool map actions list / export / import on the demo maps, run as a child process.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "support/work_folder.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class MapActionCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = std::make_unique<scoped_work_folder>();
    root = folder->path() + "/demo";
    tool_result build = run_tool({"content", "build", "--out", root});
    ASSERT_EQ(build.exit_code, 0) << build.err;
  }
  static void TearDownTestSuite() { folder.reset(); }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(root, arguments); }
  json list(const std::string& map) { return run_tool_json(root, {"map", "actions", "list", map, "--json"}); }

  static std::unique_ptr<scoped_work_folder> folder;
  static std::string root;
};
std::unique_ptr<scoped_work_folder> MapActionCommands::folder;
std::string MapActionCommands::root;

TEST_F(MapActionCommands, EveryDemoMapExportsImportsAndExportsTheSameText) {
  for (const std::string map : {"Demo Valley", "Demo Highlands"}) {
    const json before = list(map);
    ASSERT_TRUE(before.is_array());
    EXPECT_GE(before.size(), 15u) << map;
    // Every value type appears in the demo script.
    std::set<int> types;
    for (const json& action : before) {
      for (const json& parameter : action["parameters"]) types.insert(parameter["type_code"].get<int>());
    }
    EXPECT_EQ(types.size(), 21u) << map;
    const std::string first = folder->path() + "/" + map + " 1.txt", second = folder->path() + "/" + map + " 2.txt";
    tool_result exported = tool({"map", "actions", "export", map, first});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    tool_result imported = tool({"map", "actions", "import", map, first});
    ASSERT_EQ(imported.exit_code, 0) << imported.err;
    ASSERT_EQ(tool({"map", "actions", "export", map, second}).exit_code, 0);
    EXPECT_EQ(read(first), read(second)) << map;
    EXPECT_EQ(list(map), before) << map;
    tool_result check = tool({"map", "check", map});
    EXPECT_EQ(check.exit_code, 0) << check.out;
  }
}

TEST_F(MapActionCommands, AFaultyTextChangesNothingAndSaysWhichLine) {
  const json before = list("Demo Valley");
  const std::string path = folder->path() + "/broken.txt";
  ASSERT_TRUE(folder->write_file("broken.txt", "first\n}\nsecond\n{\n(dest, world_point2d)\n1.0\n}\n"));
  tool_result imported = tool({"map", "actions", "import", "Demo Valley", path});
  EXPECT_EQ(imported.exit_code, 1);
  EXPECT_NE(imported.err.find("Line 2: Unexpected end brace.\n"), std::string::npos) << imported.err;
  EXPECT_NE(imported.err.find("Line 6: Missing y component of world_point2d.\n"), std::string::npos) << imported.err;
  EXPECT_EQ(list("Demo Valley"), before);

  ASSERT_TRUE(folder->write_file("fine.txt", "only one\n{\n}\n"));
  tool_result dry = tool({"map", "actions", "import", "Demo Valley", folder->path() + "/fine.txt", "--dry-run"});
  EXPECT_EQ(dry.exit_code, 0) << dry.err;
  EXPECT_NE(dry.out.find("reads cleanly"), std::string::npos) << dry.out;
  EXPECT_EQ(list("Demo Valley"), before);
  tool_result missing = tool({"map", "actions", "import", "Demo Valley", folder->path() + "/no such file.txt"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(list("Demo Valley"), before);
}

TEST_F(MapActionCommands, ListShowsEachActionsFieldsAndValues) {
  const json actions = list("Demo Valley");
  ASSERT_FALSE(actions.empty());
  const json& opening = actions[0];
  EXPECT_EQ(opening["name"], "Opening");
  EXPECT_EQ(opening["type"], "wait");
  EXPECT_EQ(opening["flags"], "0x00000005");
  EXPECT_EQ(opening["expiration"], 1);
  const json& link = opening["parameters"][2];
  EXPECT_EQ(link["name"], "link");
  EXPECT_EQ(link["values"][0], actions[1]["identifier"]);
  tool_result text = tool({"map", "actions", "list", "Demo Valley"});
  ASSERT_EQ(text.exit_code, 0);
  EXPECT_NE(text.out.find("WAIT.Opening"), std::string::npos) << text.out;
}

}  // namespace
