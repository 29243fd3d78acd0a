#include "tools/edit_recovery.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "map/mesh.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/height_painter.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

namespace fs = std::filesystem;

std::vector<char> file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const fs::path& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class EditRecovery : public MapImageTest {
 protected:
  void SetUp() override {
    MapImageTest::SetUp();
    edit_recovery_enable(true);
    ASSERT_TRUE(make_map("ridge", 512, 256));
    ASSERT_TRUE(map_save());
    map_tag = mesh_tag_index();
    ASSERT_TRUE(map_reopen());
    recovery_file = fs::path(store.folder().path()) / edit_recovery_path("ridge");
  }

  // Edit number i, one step of one of several kinds; false when it failed.
  static bool edit_step(int i) {
    switch (i % 4) {
      case 0:
        return mesh_set_vertex_height(3 + i % 50, 5 + i % 20, 200 + 10 * i);
      case 1:
        return mesh_shift(i % 8 == 1 ? 1 : -1, 0);
      case 2:
        return marker_operation_add(map_fixture_marker(_marker_observer, 0, 900 + 37 * i, 800)) != nullptr;
      default:
        return mesh_set_parameters(int16_t(i % 30), 2, 3, 4);
    }
  }
  void edit(int steps) {
    for (int i = 0; i < steps; ++i) ASSERT_TRUE(edit_step(i)) << i;
  }

  std::vector<uint8_t> saved_bytes() {
    EXPECT_TRUE(map_save());
    return store.tag_bytes(mesh_tag_index());
  }

  // What a crash leaves: the recovery file as it stands, and the map never closed. The map is then
  // closed without saving (which removes the file) and the file put back.
  std::vector<char> crash() {
    std::vector<char> left = file_bytes(recovery_file);
    ui.default_answer = ui_answer_no;
    EXPECT_TRUE(map_close());
    EXPECT_FALSE(fs::exists(recovery_file)) << "closing without saving keeps the file";
    write_bytes(recovery_file, left);
    ui.boxes.clear();
    return left;
  }

  void TearDown() override {
    MapImageTest::TearDown();
    edit_recovery_enable(false);
  }

  bool reopen(ui_answer answer) {
    ui.default_answer = answer;
    return map_open(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(map_tag)));
  }

  int32_t map_tag = NONE;
  fs::path recovery_file;
};

TEST_F(EditRecovery, YesReplaysTheStepsAndTheUndosAndLeavesTheMapModified) {
  edit(7);
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_redo());
  const int32_t steps = edit_journal_step_count();
  const std::string undo_name = edit_journal_undo_name();
  crash();

  ASSERT_TRUE(reopen(ui_answer_yes));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "'ridge' was not saved when Vellgrim last stopped. Recover the unsaved changes?");
  EXPECT_TRUE(map_is_modified());
  EXPECT_EQ(edit_journal_step_count(), steps);
  EXPECT_TRUE(edit_journal_can_redo());
  EXPECT_EQ(edit_journal_undo_name(), undo_name);
  // Closing without saving ends it; nothing is offered again.
  ui.default_answer = ui_answer_no;
  ASSERT_TRUE(map_close());
  EXPECT_FALSE(fs::exists(recovery_file));
}

TEST_F(EditRecovery, RecoveredBytesEqualTheEditsMadeWithoutACrash) {
  const std::vector<uint8_t> before = store.tag_bytes(map_tag);
  edit(6);
  const std::vector<char> left = file_bytes(recovery_file);
  const std::vector<uint8_t> edited = saved_bytes();
  // Put the stored map back as it was before the edits, and the file the crash would have left.
  int32_t tag_index = mesh_tag_index();
  ui.default_answer = ui_answer_no;
  ASSERT_TRUE(map_close());
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, before.data(), int32_t(before.size())));
  write_bytes(recovery_file, left);

  ASSERT_TRUE(reopen(ui_answer_yes));
  EXPECT_EQ(edit_journal_step_count(), 6);
  EXPECT_TRUE(saved_bytes() == edited);
  EXPECT_FALSE(fs::exists(recovery_file));
  EXPECT_FALSE(fs::exists(recovery_file.string() + "-old"));
}

// A painter batch is joined from many steps; what comes back is the one joined step.
TEST_F(EditRecovery, APaintedBatchComesBackAsOneStep) {
  ASSERT_TRUE(height_painter_start());
  for (int32_t k = 0; k < 5; ++k) height_painter_apply(false, 10 + k, 10, 100 + k);
  height_painter_end_stroke();
  for (int32_t k = 0; k < 3; ++k) height_painter_apply(false, 30, 12, 110 + k);
  height_painter_end_stroke();
  height_painter_stop();
  ASSERT_EQ(edit_journal_step_count(), 1);
  const std::vector<uint8_t> cells(reinterpret_cast<const uint8_t*>(mesh_cells()),
                                   reinterpret_cast<const uint8_t*>(mesh_cells() + mesh_cell_count()));
  crash();
  ASSERT_TRUE(reopen(ui_answer_yes));
  EXPECT_EQ(edit_journal_step_count(), 1);
  EXPECT_STREQ(edit_journal_undo_name(), HEIGHT_PAINTER_STEP_NAME);
  EXPECT_TRUE(std::equal(cells.begin(), cells.end(), reinterpret_cast<const uint8_t*>(mesh_cells())));
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(mesh_get_cell(12, 10)->ground_height, 0);
}

TEST_F(EditRecovery, ATornLastRecordIsDroppedAndTheRestReplayed) {
  const std::vector<uint8_t> before = store.tag_bytes(map_tag);
  edit(5);
  std::vector<char> left = file_bytes(recovery_file);
  ASSERT_TRUE(edit_journal_undo());
  const std::vector<uint8_t> after_four = saved_bytes();
  int32_t tag_index = mesh_tag_index();
  ASSERT_TRUE(map_close());
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, before.data(), int32_t(before.size())));
  left.resize(left.size() - 7);  // the crash hit in the middle of the fifth step's record
  write_bytes(recovery_file, left);

  ASSERT_TRUE(reopen(ui_answer_yes));
  EXPECT_EQ(edit_journal_step_count(), 4);
  EXPECT_TRUE(saved_bytes() == after_four);
}

TEST_F(EditRecovery, NoKeepsTheFileAsideAndAChangedMapIsNeverReplayed) {
  edit(3);
  const std::vector<char> left = crash();
  ASSERT_TRUE(reopen(ui_answer_no));
  EXPECT_FALSE(map_is_modified());
  EXPECT_FALSE(fs::exists(recovery_file));
  EXPECT_EQ(file_bytes(recovery_file.string() + "-old"), left);

  // Written against the map as it was; the map was saved since by something else.
  ASSERT_TRUE(mesh_set_vertex_height(1, 1, 77));
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_close());
  write_bytes(recovery_file, left);
  ui.boxes.clear();
  ASSERT_TRUE(reopen(ui_answer_yes));
  EXPECT_TRUE(ui.boxes.empty()) << "a file for another version of the map was offered";
  EXPECT_FALSE(map_is_modified());
  EXPECT_FALSE(fs::exists(recovery_file));
  EXPECT_TRUE(fs::exists(recovery_file.string() + "-old"));
}

// A child edits the map and is killed at some moment; the recovered map is the map after the last
// step the child completed, byte for byte the same as those steps made without a crash.
TEST_F(EditRecovery, AKilledEditorsStepsComeBackUpToTheLastCompleteOne) {
  const std::vector<uint8_t> before = store.tag_bytes(map_tag);
  ASSERT_TRUE(map_close());
  for (int delay_ms : {3, 17, 41}) {
    SCOPED_TRACE("killed after " + std::to_string(delay_ms) + " ms");
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(done[0]);
      if (!map_open(tag_file_find(MESH_DEFINITION_GROUP_TAG, tag_file_get_identifier(map_tag)))) _exit(2);
      for (int32_t i = 0;; ++i) {
        if (!edit_step(i)) _exit(3);
        if (write(done[1], &i, sizeof(i)) != sizeof(i)) _exit(4);
      }
    }
    close(done[1]);
    usleep(useconds_t(delay_ms) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << WEXITSTATUS(status);
    int32_t last = -1, reported = 0;
    while (read(done[0], &reported, sizeof(reported)) == sizeof(reported)) last = reported;
    close(done[0]);

    ASSERT_TRUE(reopen(ui_answer_yes));
    const int32_t recovered_steps = edit_journal_step_count();
    // The step under way may have reached the file before it could be reported.
    EXPECT_GE(recovered_steps, last + 1);
    EXPECT_LE(recovered_steps, last + 2);
    const std::vector<uint8_t> recovered = saved_bytes();

    // The same steps without a crash.
    int32_t tag_index = mesh_tag_index();
    ASSERT_TRUE(map_close());
    ASSERT_TRUE(tag_file_replace_contents(&tag_index, before.data(), int32_t(before.size())));
    ASSERT_TRUE(reopen(ui_answer_no));
    for (int32_t i = 0; i < recovered_steps; ++i) ASSERT_TRUE(edit_step(i));
    EXPECT_TRUE(saved_bytes() == recovered);
    tag_index = mesh_tag_index();
    ASSERT_TRUE(map_close());
    ASSERT_TRUE(tag_file_replace_contents(&tag_index, before.data(), int32_t(before.size())));
  }
}

TEST_F(EditRecovery, CancelKeepsTheFileAndSaveRemovesIt) {
  edit(2);
  ASSERT_TRUE(fs::exists(recovery_file));
  ui.default_answer = ui_answer_cancel;
  EXPECT_FALSE(map_close());
  EXPECT_TRUE(fs::exists(recovery_file));
  ASSERT_TRUE(map_save());
  EXPECT_FALSE(fs::exists(recovery_file));
  edit(1);
  EXPECT_TRUE(fs::exists(recovery_file));  // a new file against the map as saved
}

}  // namespace
