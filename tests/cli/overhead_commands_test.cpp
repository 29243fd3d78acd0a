// vellgrim-tool render NAME --overhead FILE, run as a child process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tool_runner.h"
#include "tools/bitmap_file.h"

namespace {

uint32_t big_endian32(const std::string& bytes, size_t offset) {
  return uint32_t(uint8_t(bytes[offset])) << 24 | uint32_t(uint8_t(bytes[offset + 1])) << 16 |
         uint32_t(uint8_t(bytes[offset + 2])) << 8 | uint32_t(uint8_t(bytes[offset + 3]));
}

class OverheadCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    store.close();
    bitmap_image image;
    image.width = 512;
    image.height = 256;
    image.pixels.assign(size_t(image.width) * size_t(image.height), 7);
    bitmap_set_grey_palette(&image);
    const std::vector<uint8_t> bytes = bitmap_encode(image);
    ASSERT_TRUE(store.folder().write_file("valley.bmp", std::string(bytes.begin(), bytes.end())));
    const tool_result made = tool({"map", "new", "--name", "valley", "--media", "water", "--bitmap", path("valley.bmp")});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  std::string path(const std::string& name) const { return store.folder().path() + "/" + name; }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }

  map_test_store store;
};

TEST_F(OverheadCommandsTest, WritesThePictureAtTheZoomAsked) {
  tool_result drawn = tool({"render", "valley", "--overhead", path("over.png")});
  ASSERT_EQ(drawn.exit_code, 0) << drawn.err;
  EXPECT_NE(drawn.out.find("512x256 pixels at zoom 1"), std::string::npos) << drawn.out;
  std::string png = store.folder().read_file("over.png");
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(big_endian32(png, 16), 512u);
  EXPECT_EQ(big_endian32(png, 20), 256u);

  drawn = tool({"render", "valley", "--overhead", path("small.png"), "--overhead-zoom", "0.25"});
  ASSERT_EQ(drawn.exit_code, 0) << drawn.err;
  png = store.folder().read_file("small.png");
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(big_endian32(png, 16), 128u);
  EXPECT_EQ(big_endian32(png, 20), 64u);
}

TEST_F(OverheadCommandsTest, RefusesZoomsOutsideTheImageLimitsAndUnwritableFiles) {
  // Two submeshes across: at most 8192 / 2 / 256 = 16; at least one pixel a submesh.
  for (const char* zoom : {"0", "-1", "0.001", "16.5", "nan"}) {
    const tool_result refused = tool({"render", "valley", "--overhead", path("z.png"), "--overhead-zoom", zoom});
    EXPECT_NE(refused.exit_code, 0) << zoom;
    EXPECT_NE(refused.err.find("bad --overhead-zoom"), std::string::npos) << zoom << ": " << refused.err;
  }
  EXPECT_TRUE(store.folder().read_file("z.png").empty());
  const tool_result largest = tool({"render", "valley", "--overhead", path("big.png"), "--overhead-zoom", "16"});
  EXPECT_EQ(largest.exit_code, 0) << largest.err;

  const tool_result missing = tool({"render", "nowhere", "--overhead", path("n.png")});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_TRUE(store.folder().read_file("n.png").empty());
  const tool_result unwritable = tool({"render", "valley", "--overhead", path("no/such/folder/o.png")});
  EXPECT_NE(unwritable.exit_code, 0);
  EXPECT_NE(unwritable.err.find("couldn't create"), std::string::npos) << unwritable.err;
}

}  // namespace
