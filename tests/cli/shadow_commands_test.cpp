// vellgrim-tool map shadows / lighting / heights and anim shadows on the demo data, run as a child
// process.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "support/work_folder.h"
#include "tool_runner.h"

namespace {

class ShadowCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = folder.path() + "/demo";
    tool_result build = run_tool({"content", "build", "--out", root});
    ASSERT_EQ(build.exit_code, 0) << build.err;
  }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(root, arguments); }

  scoped_work_folder folder;
  std::string root;
};

TEST_F(ShadowCommandsTest, LightingShowsTheNormalisedLightAndTheKernel) {
  const nlohmann::json lighting = run_tool_json(root, {"map", "lighting", "Demo Valley", "--json"});
  EXPECT_EQ(lighting["lighting"], "grassland day");
  const nlohmann::json& light = lighting["normalised_light"];
  const double x = light["x"], y = light["y"], z = light["z"];
  EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), 65536.0, 300.0);
  EXPECT_LT(z, 0);
  EXPECT_EQ(lighting["kernel"].size(), 5u);
  int64_t sum = 0;
  for (const auto& row : lighting["kernel"]) {
    for (const auto& value : row) sum += value.get<int64_t>();
  }
  EXPECT_EQ(lighting["kernel_sum"], sum);
  EXPECT_GT(double(lighting["elevation_degrees"]), 0.0);
}

TEST_F(ShadowCommandsTest, ShadowsComputeProtectAndRefuseBadArguments) {
  tool_result done = tool({"map", "shadows", "Demo Valley", "--mode", "mesh", "--toggle-protected", "1,0"});
  ASSERT_EQ(done.exit_code, 0) << done.err;
  EXPECT_NE(done.out.find("(1 of 4 submeshes protected)"), std::string::npos) << done.out;
  // The bit was saved with the shadow maps.
  done = tool({"map", "shadows", "Demo Valley", "--mode", "basic", "--no-blur"});
  ASSERT_EQ(done.exit_code, 0) << done.err;
  EXPECT_NE(done.out.find("(1 of 4 submeshes protected)"), std::string::npos) << done.out;
  done = tool({"map", "shadows", "Demo Valley", "--unprotect-all", "--mode", "none", "--submesh", "0,1"});
  ASSERT_EQ(done.exit_code, 0) << done.err;
  EXPECT_NE(done.out.find("(0 of 4 submeshes protected)"), std::string::npos) << done.out;

  tool_result bad = tool({"map", "shadows", "Demo Valley", "--mode", "bright"});
  EXPECT_NE(bad.exit_code, 0);
  EXPECT_NE(bad.err.find("bad mode 'bright': give none, basic, mesh or model"), std::string::npos) << bad.err;
  bad = tool({"map", "shadows", "Demo Valley", "--mode", "basic", "--submesh", "2,0"});
  EXPECT_NE(bad.exit_code, 0);
  EXPECT_NE(bad.err.find("bad submesh '2,0'"), std::string::npos) << bad.err;
  bad = tool({"map", "shadows", "Demo Valley"});
  EXPECT_NE(bad.err.find("nothing to do"), std::string::npos) << bad.err;
}

TEST_F(ShadowCommandsTest, AnimationShadowsAreCalculatedAndRemoved) {
  tool_result calculated = tool({"anim", "shadows", "windmill", "--map", "Demo Valley", "--marker", "10000"});
  ASSERT_EQ(calculated.exit_code, 0) << calculated.err;
  int frames = 0, width = 0, height = 0, stride = 0, x = 0, y = 0, bytes = 0;
  ASSERT_EQ(std::sscanf(calculated.out.c_str(), "'windmill': %d frames, shadow %dx%d (stride %d) at %d,%d, %d bytes", &frames,
                        &width, &height, &stride, &x, &y, &bytes),
            7)
      << calculated.out;
  EXPECT_EQ(frames, 4);
  EXPECT_GT(width, 0);
  EXPECT_EQ(stride % 4, 0);
  EXPECT_LT(stride - width, 4);
  EXPECT_EQ(bytes, frames * height * stride);
  const nlohmann::json tags = run_tool_json(root, {"tags", "list", "--group", "anim", "--json"});
  ASSERT_FALSE(tags.empty());
  EXPECT_EQ(tags[0]["size"], 1024 + bytes) << tags.dump();

  tool_result removed = tool({"anim", "shadows", "windmill", "--map", "Demo Valley", "--marker", "10000", "--remove"});
  ASSERT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_NE(removed.out.find("shadow 0x0 (stride 0) at 0,0, 0 bytes"), std::string::npos) << removed.out;

  tool_result missing = tool({"anim", "shadows", "windmill", "--map", "Demo Valley", "--marker", "4"});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.err.find("no model animation marker #4 placing 'windmill'"), std::string::npos) << missing.err;
}

TEST_F(ShadowCommandsTest, HeightsAreAnEsriGrid) {
  const std::string out = folder.path() + "/valley.asc";
  tool_result written = tool({"map", "heights", "Demo Valley", "--out", out});
  ASSERT_EQ(written.exit_code, 0) << written.err;
  FILE* file = std::fopen(out.c_str(), "r");
  ASSERT_NE(file, nullptr);
  int columns = 0, rows = 0, size = 0, nodata = 0;
  EXPECT_EQ(std::fscanf(file, "ncols %d nrows %d xllcorner 0 yllcorner 0 cellsize %d NODATA_value %d", &columns, &rows,
                        &size, &nodata),
            4);
  int values = 0, value = 0;
  while (std::fscanf(file, "%d", &value) == 1) ++values;
  std::fclose(file);
  EXPECT_EQ(columns, 512);
  EXPECT_EQ(rows, 512);
  EXPECT_EQ(size, 64);
  EXPECT_EQ(nodata, -4096);
  EXPECT_EQ(values, columns * rows);
}

}  // namespace
