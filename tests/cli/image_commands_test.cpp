// vellgrim-tool map new / export / import / resize / shift / set-bounds, run as a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/map_test_store.h"
#include "support/work_folder.h"
#include "tool_runner.h"
#include "tools/bitmap_file.h"

namespace {

using json = nlohmann::json;

uint8_t stripes(int32_t x, int32_t y) { return uint8_t((x / 16 + y / 32) % 7 + 1); }

class ImageCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    store.close();
  }
  std::string path(const std::string& name) const { return store.folder().path() + "/" + name; }
  std::string write_bitmap(const std::string& name, int32_t width, int32_t height,
                           uint8_t (*pixel)(int32_t, int32_t) = stripes) {
    // The engine's own writer: its output is checked byte by byte in the tools tests.
    bitmap_image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) image.row(y)[x] = pixel(x, y);
    bitmap_set_grey_palette(&image);
    const std::vector<uint8_t> bytes = bitmap_encode(image);
    EXPECT_TRUE(store.folder().write_file(name, std::string(bytes.begin(), bytes.end())));
    return path(name);
  }
  tool_result tool(const std::vector<std::string>& arguments) { return run_tool_in(store.folder().path(), arguments); }
  json info(const std::string& name) { return run_tool_json(store.folder().path(), {"map", "info", name, "--json"}); }
  void make(const std::string& name, int32_t width, int32_t height) {
    tool_result made = tool({"map", "new", "--name", name, "--media", "water", "--bitmap",
                             write_bitmap(name + ".bmp", width, height)});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }

  map_test_store store;
};

TEST_F(ImageCommandsTest, NewMapThenExportGivesThePictureBack) {
  make("valley", 512, 256);
  json map = info("valley");
  EXPECT_EQ(map["header"]["width"], 2);
  EXPECT_EQ(map["header"]["height"], 1);
  EXPECT_EQ(map["header"]["lod_size"], 2 * 32 * 16);
  tool_result exported = tool({"map", "export", "color", "valley", path("out.bmp")});
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  const std::string original = store.folder().read_file("valley.bmp");
  const std::string written = store.folder().read_file("out.bmp");
  ASSERT_EQ(written.size(), 1078u + 131072u);
  EXPECT_EQ(written.substr(1078), original.substr(1078));

  tool_result one = tool({"map", "export", "shadow", "--submesh", "1,0", "valley", path("shadow.bmp")});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_EQ(store.folder().read_file("shadow.bmp").size(), 1078u + 65536u);
  // The map found by its identifier, as the other map commands find it.
  tool_result by_identifier = tool({"map", "export", "color", map["id_hex"].get<std::string>(), path("again.bmp")});
  ASSERT_EQ(by_identifier.exit_code, 0) << by_identifier.err;
  EXPECT_EQ(store.folder().read_file("again.bmp"), written);
  tool_result outside = tool({"map", "export", "shadow", "--submesh", "2,0", "valley", path("none.bmp")});
  EXPECT_NE(outside.exit_code, 0);
  EXPECT_NE(outside.err.find("bad submesh '2,0'"), std::string::npos) << outside.err;
  EXPECT_NE(tool({"map", "export", "sky", "valley", path("none.bmp")}).exit_code, 0);
  for (const char* command : {"export", "import"}) {
    tool_result reflection = tool({"map", command, "reflection", "--submesh", "0,0", "valley", path("out.bmp")});
    EXPECT_NE(reflection.exit_code, 0);
    EXPECT_NE(reflection.err.find("the reflection map exists for the whole map only"), std::string::npos)
        << reflection.err;
  }
}

// File arguments are relative to the folder the tool was started in, not to --root; failures name
// the file.
TEST_F(ImageCommandsTest, FileArgumentsAreRelativeToTheStartingFolder) {
  make("valley", 256, 256);
  const std::string elsewhere = path("elsewhere");
  ASSERT_TRUE(std::filesystem::create_directories(elsewhere));
  tool_result exported = run_tool_from(elsewhere, {"--root", "..", "map", "export", "terrain", "valley", "out.bmp"});
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_TRUE(std::filesystem::exists(elsewhere + "/out.bmp"));
  EXPECT_FALSE(std::filesystem::exists(path("out.bmp")));
  tool_result imported = run_tool_from(elsewhere, {"--root", "..", "map", "import", "terrain", "valley", "out.bmp"});
  EXPECT_EQ(imported.exit_code, 0) << imported.err;
  tool_result nowhere = run_tool_from(elsewhere, {"--root", "..", "map", "export", "terrain", "valley", "no/such/x.bmp"});
  EXPECT_EQ(nowhere.exit_code, 1);
  EXPECT_NE(nowhere.err.find("couldn't export the terrain map to '" + elsewhere + "/no/such/x.bmp'"), std::string::npos)
      << nowhere.err;
}

// Outside a store the tool says so and leaves nothing behind: no log, no store folders.
TEST_F(ImageCommandsTest, OutsideAStoreTheToolSaysSoAndWritesNothing) {
  const std::string empty = path("not a store");
  ASSERT_TRUE(std::filesystem::create_directories(empty));
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"map", "list"}, std::vector<std::string>{"map", "export", "color", "x", "x.bmp"},
        std::vector<std::string>{"tags", "list"}}) {
    tool_result result = run_tool_from(empty, command);
    EXPECT_EQ(result.exit_code, 1) << command[0] << " " << command[1];
    EXPECT_EQ(result.err, "vellgrim-tool: no tag store in '" + empty + "'\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(empty));
}

TEST_F(ImageCommandsTest, RefusalsExitWithTheMessage) {
  tool_result wide = tool({"map", "new", "--name", "wide", "--media", "water", "--bitmap", write_bitmap("w.bmp", 300, 256)});
  EXPECT_NE(wide.exit_code, 0);
  EXPECT_NE(wide.err.find("Error: This bitmap has dimensions 300x256. Bitmap dimensions must be an even multiple of 256."),
            std::string::npos)
      << wide.err;
  tool_result list = tool({"map", "list", "--json"});
  EXPECT_EQ(json::parse(list.out, nullptr, false).size(), 0u);

  make("taken", 256, 256);
  tool_result again = tool({"map", "new", "--name", "taken", "--media", "water", "--bitmap", path("taken.bmp")});
  EXPECT_NE(again.exit_code, 0);
  EXPECT_NE(again.err.find("Are you sure you want to replace 'taken'?"), std::string::npos) << again.err;
  EXPECT_EQ(tool({"map", "new", "--name", "taken", "--media", "water", "--bitmap", path("taken.bmp"), "--replace"})
                .exit_code,
            0);
  EXPECT_NE(tool({"map", "new", "--name", "x", "--media", "lava", "--bitmap", path("taken.bmp")}).exit_code, 0);
}

TEST_F(ImageCommandsTest, ImportsResizeOnlyWhenAllowed) {
  make("plain", 256, 256);
  write_bitmap("big.bmp", 512, 512, [](int32_t, int32_t) -> uint8_t { return 8 * 16; });
  tool_result asked = tool({"map", "import", "terrain", "plain", path("big.bmp")});
  EXPECT_NE(asked.exit_code, 0);
  EXPECT_NE(asked.err.find("Do you want to resize the current mesh?"), std::string::npos) << asked.err;
  EXPECT_EQ(info("plain")["header"]["width"], 1);

  tool_result resized = tool({"map", "import", "terrain", "--resize", "plain", path("big.bmp")});
  ASSERT_EQ(resized.exit_code, 0) << resized.err;
  EXPECT_EQ(info("plain")["header"]["width"], 2);
  tool_result exported = tool({"map", "export", "terrain", "plain", path("terrain.bmp")});
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_EQ(uint8_t(store.folder().read_file("terrain.bmp")[1078 + 5]), 8 * 16);

  // A colour map reopens the map and is kept in its collection.
  write_bitmap("paint.bmp", 256, 256, [](int32_t, int32_t) -> uint8_t { return 42; });
  tool_result painted = tool({"map", "import", "color", "--submesh", "1,1", "plain", path("paint.bmp")});
  ASSERT_EQ(painted.exit_code, 0) << painted.err;
  ASSERT_EQ(tool({"map", "export", "color", "--submesh", "1,1", "plain", path("back.bmp")}).exit_code, 0);
  EXPECT_EQ(uint8_t(store.folder().read_file("back.bmp")[2000]), 42);
}

TEST_F(ImageCommandsTest, DisplacementUsesTheStoredBounds) {
  make("relief", 256, 256);
  EXPECT_NE(tool({"map", "set-bounds", "relief", "--lower", "2", "--upper", "2"}).exit_code, 0);
  tool_result bounds = tool({"map", "set-bounds", "--lower", "0", "--upper", "10"});
  ASSERT_EQ(bounds.exit_code, 0) << bounds.err;
  EXPECT_NE(bounds.out.find("0.00 to 10.00"), std::string::npos);
  write_bitmap("heights.bmp", 256, 256, [](int32_t x, int32_t) -> uint8_t { return uint8_t(255 - x); });
  ASSERT_EQ(tool({"map", "import", "displacement", "relief", path("heights.bmp")}).exit_code, 0);
  ASSERT_EQ(tool({"map", "export", "displacement", "relief", path("out.bmp")}).exit_code, 0);
  const std::string written = store.folder().read_file("out.bmp");
  const std::string original = store.folder().read_file("heights.bmp");
  // Every vertex sample comes back (rows 8y, columns 8x of the mesh).
  for (int32_t x = 0; x < 256; x += 8) {
    const size_t top_row = 1078 + 255 * 256, column = size_t(255 - x);  // rows are stored bottom-up
    EXPECT_EQ(written[top_row + column], original[top_row + column]) << x;
  }
}

TEST_F(ImageCommandsTest, ResizeAndShiftReshapeTheGrid) {
  make("grid", 256, 256);
  tool_result resized = tool({"map", "resize", "grid", "--cells", "64,32"});
  ASSERT_EQ(resized.exit_code, 0) << resized.err;
  EXPECT_EQ(info("grid")["header"]["width"], 2);
  EXPECT_NE(tool({"map", "resize", "grid", "--cells", "50,32"}).exit_code, 0);
  tool_result shifted = tool({"map", "shift", "grid", "--dx", "3", "--dy", "-2"});
  ASSERT_EQ(shifted.exit_code, 0) << shifted.err;
  EXPECT_NE(shifted.out.find("by 3,-2"), std::string::npos);
  EXPECT_NE(tool({"map", "shift", "nowhere", "--dx", "1", "--dy", "1"}).exit_code, 0);
}

}  // namespace

namespace {

// What a crashed editor leaves beside the local tags is marked in the list; recover refuses a file
// made against another version of the map (keeping it aside) and a map without one.
TEST_F(ImageCommandsTest, RecoverRefusesWhatDoesNotFitAndListMarksWhatWaits) {
  make("valley", 256, 256);
  ASSERT_TRUE(store.folder().write_file("local/valley.recovery", "vrec, but not for this map"));
  tool_result listed = tool({"map", "list"});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find("valley  (unsaved changes to recover)"), std::string::npos) << listed.out;

  tool_result stale = tool({"map", "recover", "valley"});
  EXPECT_EQ(stale.exit_code, 1);
  EXPECT_NE(stale.err.find("were made to another version of it"), std::string::npos) << stale.err;
  EXPECT_EQ(store.folder().read_file("local/valley.recovery-old"), "vrec, but not for this map");

  tool_result none = tool({"map", "recover", "valley", "--discard"});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err.find("'valley' has no unsaved changes to recover"), std::string::npos) << none.err;
  listed = tool({"map", "list"});
  EXPECT_EQ(listed.out.find("unsaved changes"), std::string::npos) << listed.out;
}

}  // namespace
