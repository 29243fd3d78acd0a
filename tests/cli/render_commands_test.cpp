// vellgrim-tool render, run as a child process on the demo data.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "content/content.h"
#include "support/work_folder.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::json;

class RenderCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string failure;
    ASSERT_TRUE(content_build(folder.path(), &failure)) << failure;
  }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(folder.path(), arguments); }
  scoped_work_folder folder;
};

uint32_t big_endian(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
         uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
}

TEST_F(RenderCommandsTest, WritesTheFrameAsA640By416Png) {
  const tool_result result = tool({"render", "Demo Valley", "--out", folder.path() + "/frame.png", "--wireframe",
                                   "cells", "--media", "off"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("rendered 'Demo Valley' to "), std::string::npos) << result.out;
  const std::string png = folder.read_file("frame.png");
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(big_endian(png, 16), 640u);
  EXPECT_EQ(big_endian(png, 20), 416u);
  // With the overhead view in the same run, both pictures are written.
  const tool_result both = tool({"render", "Demo Valley", "--out", folder.path() + "/again.png", "--overhead",
                                 folder.path() + "/over.png", "--overhead-zoom", "0.5"});
  ASSERT_EQ(both.exit_code, 0) << both.err;
  EXPECT_EQ(folder.read_file("again.png").substr(1, 3), "PNG");
  const std::string over = folder.read_file("over.png");
  ASSERT_GT(over.size(), 24u);
  EXPECT_EQ(big_endian(over, 16), 256u);  // 2 submeshes of 128 pixels
}

TEST_F(RenderCommandsTest, PicksAndFrameTimesComeOutAsJson) {
  // Twenty cells above cell (40, 30), looking straight down: the centre of the frame is that cell.
  const json report = run_tool_json(folder.path(), {"render", "Demo Valley", "--observer", "40.5,30.5,20",
                                                   "--pitch", "-90", "--pick", "320,208", "--pick-rect",
                                                   "400,300,240,100", "--frames", "3"});
  ASSERT_TRUE(report.contains("pick")) << report.dump();
  bool ground = false;
  for (const json& hit : report["pick"]) {
    if (hit["kind"] != "ground") continue;
    ground = true;
    EXPECT_NEAR(hit["x"].get<int>(), 40 * 512 + 256, 512);
    EXPECT_NEAR(hit["y"].get<int>(), 30 * 512 + 256, 512);
  }
  EXPECT_TRUE(ground) << report["pick"].dump();
  ASSERT_TRUE(report["pick_rect"].is_array());
  EXPECT_GT(report["pick_rect"].size(), 10u);
  for (size_t i = 1; i < report["pick_rect"].size(); ++i)
    EXPECT_LE(report["pick_rect"][i - 1]["depth"].get<int>(), report["pick_rect"][i]["depth"].get<int>());
  EXPECT_EQ(report["frames"]["count"], 3);
  EXPECT_GT(report["frames"]["pool_high_water"].get<int64_t>(), 0);
  EXPECT_LT(report["frames"]["pool_high_water"].get<int64_t>(), report["frames"]["pool_size"].get<int64_t>());
  EXPECT_TRUE(report["frames"].contains("median_ms"));
  EXPECT_TRUE(report["frames"].contains("p95_ms"));
}

TEST_F(RenderCommandsTest, RefusalsSayWhichArgumentIsWrong) {
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"render", "Demo Valley", "--out", "x.png", "--wireframe", "dots"}, "bad wireframe 'dots'"},
      {{"render", "Demo Valley", "--out", "x.png", "--media", "maybe"}, "bad --media 'maybe': give on or off"},
      {{"render", "Demo Valley", "--out", "x.png", "--observer", "1,2"}, "bad observer '1,2'"},
      {{"render", "Demo Valley", "--pick", "5"}, "bad pick '5'"},
      {{"render", "Demo Valley", "--pick-rect", "1,2,3"}, "bad pick rectangle '1,2,3'"},
      {{"render", "Demo Valley", "--out", "x.png", "--pitch", "-120"}, "bad pitch"},
      {{"render", "Demo Valley"}, "nothing to do"},
      {{"render", "Nowhere", "--out", "x.png"}, "no map 'Nowhere'"},
      {{"render", "Demo Valley", "--out", "/no/such/folder/x.png"}, "couldn't create '/no/such/folder/x.png'"},
  };
  for (const auto& c : cases) {
    const tool_result result = tool(c.arguments);
    EXPECT_NE(result.exit_code, 0) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

}  // namespace
