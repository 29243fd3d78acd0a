// vellgrim-tool map terrain, run as a child process.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

class TerrainCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    store.close();
    const tool_result made = run_tool_new_flat_map(store.folder().path(), "plain");
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }
  // Every cell's two types, row by row, as saved.
  std::vector<int> terrain() {
    json cells = run_tool_json(store.folder().path(), {"map", "cells", "plain", "--rect", "0,0,31,31", "--json"});
    std::vector<int> types;
    for (const json& c : cells) types.push_back(c["terrain"].get<int>());
    return types;
  }

  map_test_store store;
};

TEST_F(TerrainCommandsTest, StrokesTrianglesAndFillsAreSavedWithTheMap) {
  const std::vector<int> before = terrain();
  ASSERT_EQ(before.size(), 1024u);
  const int grass = before[0];
  tool_result painted = tool({"map", "terrain", "plain", "--type", "rocky", "--radius", "1", "--step", "5,5,10",
                              "--release"});
  ASSERT_EQ(painted.exit_code, 0) << painted.err;
  EXPECT_NE(painted.out.find("painted 'plain' with rocky: 1 step"), std::string::npos) << painted.out;
  std::vector<int> after = terrain();
  EXPECT_EQ(after[size_t(5 * 32 + 5)], 0x88);
  EXPECT_EQ(after[size_t(5 * 32 + 6)], 0x88);
  EXPECT_EQ(after[size_t(5 * 32 + 7)], grass);
  EXPECT_EQ(after[size_t(6 * 32 + 5)], 0x88);
  EXPECT_EQ(after[size_t(6 * 32 + 6)], grass);

  // The whole grass region, the 1021 cells round the three rocky ones.
  tool_result filled = tool({"map", "terrain", "plain", "--type", "11", "--fill", "20,20"});
  ASSERT_EQ(filled.exit_code, 0) << filled.err;
  EXPECT_NE(filled.out.find("2042 triangles filled"), std::string::npos) << filled.out;
  after = terrain();
  EXPECT_EQ(after[0], 0xBB);
  EXPECT_EQ(after[1023], 0xBB);
  EXPECT_EQ(after[size_t(5 * 32 + 5)], 0x88);

  // A stroke taken off again leaves the map as it was.
  tool_result toggled = tool({"map", "terrain", "plain", "--type", "desert", "--step", "20,20,1", "--release", "--toggle"});
  ASSERT_EQ(toggled.exit_code, 0) << toggled.err;
  EXPECT_EQ(terrain(), after);
}

TEST_F(TerrainCommandsTest, BadArgumentsAreRefusedBeforeTheMapIsTouched) {
  const std::vector<int> before = terrain();
  tool_result unused = tool({"map", "terrain", "plain", "--type", "12", "--fill", "1,1"});
  EXPECT_EQ(unused.exit_code, 1);
  EXPECT_NE(unused.err.find("bad terrain type '12'"), std::string::npos) << unused.err;
  tool_result radius = tool({"map", "terrain", "plain", "--radius", "0", "--step", "1,1,1"});
  EXPECT_NE(radius.err.find("bad brush radius"), std::string::npos) << radius.err;
  tool_result step = tool({"map", "terrain", "plain", "--step", "1,1"});
  EXPECT_NE(step.err.find("bad step '1,1'"), std::string::npos) << step.err;
  tool_result nothing = tool({"map", "terrain", "plain"});
  EXPECT_NE(nothing.err.find("nothing to paint"), std::string::npos) << nothing.err;
  tool_result off = tool({"map", "terrain", "plain", "--triangle", "40,2"});
  EXPECT_EQ(off.exit_code, 1);
  EXPECT_NE(off.err.find("no triangle at 40,2"), std::string::npos) << off.err;
  tool_result toggle = tool({"map", "terrain", "plain", "--fill", "3,3", "--toggle"});
  EXPECT_NE(toggle.err.find("nothing to toggle"), std::string::npos) << toggle.err;
  EXPECT_EQ(terrain(), before) << "no refused command saved the map";
}

}  // namespace
