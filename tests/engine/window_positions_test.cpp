#include "engine/window_positions.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/file_operation_recorder.h"
#include "support/work_folder.h"

namespace {

class WindowPositions : public ::testing::Test {
 protected:
  void SetUp() override { window_positions_set_file(folder.path() + "/Korvan/WinVellgrim.ini"); }
  void TearDown() override { window_positions_set_file(""); }

  std::string settings() const { return folder.read_file("Korvan/WinVellgrim.ini"); }

  scoped_work_folder folder;
};

TEST_F(WindowPositions, MissingFileGivesTheDefaults) {
  window_positions positions{};
  EXPECT_TRUE(window_positions_read(&positions));
  EXPECT_EQ(positions.windows[_window_screen].x, 0);
  EXPECT_EQ(positions.windows[_window_overhead].x, 640);
  EXPECT_EQ(positions.windows[_window_overhead].y, 50);
  EXPECT_EQ(positions.windows[_window_tools].y, 480);
  EXPECT_EQ(positions.windows[_window_map_actions].y, 320);
  EXPECT_EQ(positions.windows[_window_scenery].x, 640);
  EXPECT_EQ(positions.windows[_window_scenery].y, 0);
  EXPECT_EQ(positions.windows[_window_terrain].y, 50);
}

TEST_F(WindowPositions, OutOfRangeCoordinatesAreReplacedPerWindow) {
  ASSERT_TRUE(folder.write_file("Korvan/WinVellgrim.ini",
                                "[Window%20Positions]\n"
                                "screenWindowX=1300\n"
                                "screenWindowY=-5\n"
                                "toolsWindowX=1023\n"
                                "toolsWindowY=768\n"
                                "sceneryWindowX=-1\n"
                                "sceneryWindowY=767\n"
                                "terrainWindowX=twelve\n"));
  window_positions positions{};
  ASSERT_TRUE(window_positions_read(&positions));
  EXPECT_EQ(positions.windows[_window_screen].x, 640);
  EXPECT_EQ(positions.windows[_window_screen].y, 50);
  EXPECT_EQ(positions.windows[_window_tools].x, 1023);
  EXPECT_EQ(positions.windows[_window_tools].y, 50);
  EXPECT_EQ(positions.windows[_window_scenery].x, 640);
  EXPECT_EQ(positions.windows[_window_scenery].y, 767);
  EXPECT_EQ(positions.windows[_window_terrain].x, 640);  // not a number: the default
}

TEST_F(WindowPositions, WriteThenReadKeepsOtherSectionsAndKeys) {
  ASSERT_TRUE(folder.write_file("Korvan/WinVellgrim.ini",
                                "[General]\nrecent=a map\n\n"
                                "[Window%20Positions]\nscreenWindowX=3\nshellSplitter=77\n\n"
                                "[Other]\nkey=value\n"));
  window_positions positions{};
  window_positions_read(&positions);
  positions.windows[_window_screen].x = 12;
  positions.windows[_window_terrain].y = 700;
  ASSERT_TRUE(window_positions_write(positions));

  std::string text = settings();
  EXPECT_NE(text.find("[General]\nrecent=a map\n"), std::string::npos);
  EXPECT_NE(text.find("shellSplitter=77\n"), std::string::npos);
  EXPECT_NE(text.find("[Other]\nkey=value\n"), std::string::npos);
  EXPECT_EQ(text.find("screenWindowX=3"), std::string::npos);
  // The missing keys join our section, not the one after it.
  EXPECT_LT(text.find("terrainWindowY=700"), text.find("[Other]"));

  window_positions again{};
  ASSERT_TRUE(window_positions_read(&again));
  EXPECT_EQ(again.windows[_window_screen].x, 12);
  EXPECT_EQ(again.windows[_window_terrain].y, 700);
  EXPECT_EQ(again.windows[_window_overhead].x, 640);
}

// The file dialogs' last folder shares the profile: each write keeps the other's lines.
TEST_F(WindowPositions, ProfileTextSharesTheFileWithThePositions) {
  std::string value;
  EXPECT_FALSE(profile_read_text("File Dialogs", "lastFolder", &value));
  window_positions positions;
  window_positions_read(&positions);
  positions.windows[_window_tools] = {300, 200};
  ASSERT_TRUE(window_positions_write(positions));
  ASSERT_TRUE(profile_write_text("File Dialogs", "lastFolder", "/home/someone/maps = old"));
  ASSERT_TRUE(profile_write_text("File Dialogs", "lastFolder", "/home/someone/maps new"));
  ASSERT_TRUE(window_positions_write(positions));
  ASSERT_TRUE(profile_read_text("File Dialogs", "lastFolder", &value));
  EXPECT_EQ(value, "/home/someone/maps new");
  window_positions read_back;
  window_positions_read(&read_back);
  EXPECT_EQ(read_back.windows[_window_tools].x, 300);
  EXPECT_EQ(read_back.windows[_window_tools].y, 200);
  const std::string text = folder.read_file("Korvan/WinVellgrim.ini");
  EXPECT_EQ(text.find("maps = old"), std::string::npos) << text;
  EXPECT_NE(text.find("[File%20Dialogs]\nlastFolder=/home/someone/maps new\n"), std::string::npos) << text;
  // A value that would end its line is refused and changes nothing.
  EXPECT_FALSE(profile_write_text("File Dialogs", "lastFolder", "two\nlines"));
  EXPECT_EQ(folder.read_file("Korvan/WinVellgrim.ini"), text);
}

TEST_F(WindowPositions, FreshFileUsesTheEncodedSectionName) {
  window_positions positions{};
  window_positions_read(&positions);
  ASSERT_TRUE(window_positions_write(positions));
  std::string text = settings();
  EXPECT_EQ(text.rfind("[Window%20Positions]\n", 0), 0u);
  EXPECT_NE(text.find("mapactionsWindowY=320\n"), std::string::npos);
}

TEST(WindowPositionsFile, FollowsTheConfigurationFolder) {
  window_positions_set_file("");
  setenv("XDG_CONFIG_HOME", "/tmp/vellgrim-config", 1);
  EXPECT_EQ(window_positions_file(), "/tmp/vellgrim-config/Korvan/WinVellgrim.ini");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(window_positions_file(), "/home/someone/.config/Korvan/WinVellgrim.ini");
}

}  // namespace

TEST_F(WindowPositions, AreWrittenSyncedClosedAndRenamedWithTheFolderSynced) {
  window_positions positions = {};
  for (int16_t window = 0; window < NUMBER_OF_POSITIONED_WINDOWS; ++window) positions.windows[window] = {window, 7};
  file_operation_recorder recorder;
  ASSERT_TRUE(window_positions_write(positions));
  EXPECT_EQ(recorder.replacement_order_faults(), "");
  int renames = 0;
  for (const recorded_file_operation& operation : recorder.operations()) {
    renames += operation.operation == _posix_operation_rename;
  }
  EXPECT_EQ(renames, 1);
}
