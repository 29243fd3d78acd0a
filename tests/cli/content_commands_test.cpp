// vellgrim-tool content build: the demo data built by the tool, then checked by the tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/work_folder.h"
#include "tool_runner.h"

namespace {

TEST(ContentCommands, BuildMakesDataWhoseMapsCheckClean) {
  scoped_work_folder folder;
  const std::string out = folder.path() + "/demo";
  tool_result build = run_tool({"content", "build", "--out", out});
  ASSERT_EQ(build.exit_code, 0) << build.err;
  EXPECT_NE(build.out.find("built the demo data"), std::string::npos) << build.out;
  EXPECT_TRUE(std::filesystem::is_directory(out + "/local"));

  tool_result list = run_tool({"--root", out, "map", "list"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  for (const char* map : {"Demo Valley", "Demo Highlands"}) {
    EXPECT_NE(list.out.find(map), std::string::npos) << list.out;
    tool_result check = run_tool({"--root", out, "map", "check", map});
    EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("no problems"), std::string::npos) << check.out;
  }
}

TEST(ContentCommands, BuildNeedsAWritableFolder) {
  tool_result missing = run_tool({"content", "build"});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.err.find("--out"), std::string::npos) << missing.err;

  scoped_work_folder folder;
  ASSERT_TRUE(folder.write_file("blocked", "a file where the folder should be"));
  tool_result blocked = run_tool({"content", "build", "--out", folder.path() + "/blocked"});
  EXPECT_NE(blocked.exit_code, 0);
  EXPECT_NE(blocked.err.find("vellgrim-tool: "), std::string::npos) << blocked.err;
}

}  // namespace
