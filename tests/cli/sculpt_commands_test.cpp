// vellgrim-tool map paint / vertices / mesh / cells, run as a child process.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

class SculptCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    store.close();
    const tool_result made = run_tool_new_flat_map(store.folder().path(), "hill");
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }
  // Vertex (x, y)'s field from `map cells`.
  json cell(int32_t x, int32_t y) {
    const std::string at = std::to_string(x) + "," + std::to_string(y);
    json cells = run_tool_json(store.folder().path(), {"map", "cells", "hill", "--rect", at + "," + at, "--json"});
    return cells.is_array() && cells.size() == 1 ? cells[0] : json();
  }

  map_test_store store;
};

TEST_F(SculptCommandsTest, PaintRaisesAndTheToggleTakesItBack) {
  const int32_t before = cell(10, 10)["height"];
  tool_result painted = tool({"map", "paint", "hill", "--tool", "raise", "--step", "10,10,100", "--step", "10,10,103",
                              "--release"});
  ASSERT_EQ(painted.exit_code, 0) << painted.err;
  EXPECT_EQ(cell(10, 10)["height"].get<int32_t>() - before, 170);  // 4 ticks of 1/12
  tool_result toggled = tool({"map", "paint", "hill", "--radius", "1", "--feather", "0", "--step", "20,20,5",
                              "--release", "--toggle"});
  ASSERT_EQ(toggled.exit_code, 0) << toggled.err;
  EXPECT_EQ(cell(20, 20)["height"], 0);
  // Refusals name what they refuse.
  tool_result bad = tool({"map", "paint", "hill", "--radius", "0", "--step", "1,1,1"});
  EXPECT_NE(bad.exit_code, 0);
  EXPECT_NE(bad.err.find("the radius above 0"), std::string::npos) << bad.err;
  tool_result bad_step = tool({"map", "paint", "hill", "--step", "1,nan,1"});
  EXPECT_NE(bad_step.err.find("bad step '1,nan,1'"), std::string::npos) << bad_step.err;
  tool_result nothing = tool({"map", "paint", "hill", "--step", "1,1,1", "--toggle"});
  EXPECT_NE(nothing.err.find("nothing to toggle"), std::string::npos) << nothing.err;
}

TEST_F(SculptCommandsTest, VerticesAndMeshCommandsChangeTheStoredMap) {
  tool_result set = tool({"map", "vertices", "hill", "--select-rect", "2,2,3,3", "--set-height", "1.5"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(cell(3, 3)["height"], 768);
  EXPECT_EQ(cell(4, 3)["height"], 0);
  // The cell click in the last column keeps inside the grid.
  tool_result corner = tool({"map", "vertices", "hill", "--select-cell", "31,31", "--raise", "40000"});
  ASSERT_EQ(corner.exit_code, 0) << corner.err;
  EXPECT_NE(corner.out.find("changed 1 vertex"), std::string::npos) << corner.out;
  EXPECT_EQ(cell(31, 31)["height"], 32767);
  tool_result outside = tool({"map", "vertices", "hill", "--select-rect", "2,2,3,3", "--set-height", "12"});
  EXPECT_NE(outside.exit_code, 0);
  EXPECT_NE(outside.err.find("Please enter a value between -10.000 and 10.000"), std::string::npos) << outside.err;
  tool_result infinite = tool({"map", "vertices", "hill", "--select-rect", "2,2,3,3", "--jitter", "inf"});
  EXPECT_NE(infinite.exit_code, 0);

  tool_result edges = tool({"map", "mesh", "hill", "--raise-edges", "--amount", "2"});
  ASSERT_EQ(edges.exit_code, 0) << edges.err;
  EXPECT_EQ(cell(0, 15)["height"], 1024);
  EXPECT_EQ(cell(15, 30)["height"], 1024);
  EXPECT_EQ(cell(15, 15)["height"], 0);
  tool_result walls = tool({"map", "mesh", "hill", "--edges-impassable"});
  ASSERT_EQ(walls.exit_code, 0) << walls.err;
  EXPECT_EQ(cell(1, 15)["terrain"], 255);
  EXPECT_NE(cell(2, 15)["terrain"], 255);
  tool_result media = tool({"map", "mesh", "hill", "--set-all-media", "-0.5"});
  ASSERT_EQ(media.exit_code, 0) << media.err;
  EXPECT_EQ(cell(7, 7)["media_height"], -256);
}

}  // namespace
