// Triangle normals are computed per submesh on first read. Whatever the map went through (an open,
// edits, Undo and Redo, a resize, a save), every reader must see what computing every normal from
// the heights as they stand gives, and a save must store exactly that.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "support/normal_reference.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/mesh_commands.h"
#include "tools/vellgrim_mesh_utilities.h"
#include "tools/vertex_selection.h"

namespace {

// Hills with slopes of many directions, so that most normals differ from their neighbours'.
uint8_t hills(int32_t x, int32_t y) { return uint8_t(((x * 37) % 200) * ((y * 53) % 150) / 160 + ((x ^ y) & 15)); }

class LazyNormals : public MapImageTest {
 protected:
  // Asks each cell through the accessor, then reads the settled grid as a copy would; both must
  // be the full computation. The first cell that differs, or "".
  std::string first_difference(const char* when) {
    const std::vector<uint16_t> want = normal_reference_grid();
    const int32_t across = mesh_cells_across();
    for (size_t i = 0; i < want.size(); ++i) {
      const int32_t x = int32_t(i) % across, y = int32_t(i) / across;
      if (mesh_cell_normals(x, y) != want[i]) return std::string(when) + ": asked, cell " + std::to_string(x) + ", " + std::to_string(y);
    }
    EXPECT_EQ(mesh_unsettled_normal_submeshes(), 0) << when;
    for (size_t i = 0; i < want.size(); ++i) {
      if (mesh_cells()[i].normals != want[i]) return std::string(when) + ": in the grid, cell " + std::to_string(i);
    }
    return "";
  }
};

TEST_F(LazyNormals, EveryReaderSeesTheFullComputationAfterOpenEditsUndoResizeAndSave) {
  ASSERT_TRUE(make_map("hills", 512, 512, hills));
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  // An open computes no normal: all four submeshes wait for a reader.
  EXPECT_EQ(mesh_unsettled_normal_submeshes(), 4);
  // One reader settles its own submesh only.
  const std::vector<uint16_t> opened = normal_reference_grid();
  EXPECT_EQ(mesh_cell_normals(40, 3), opened[size_t(40 + 3 * mesh_cells_across())]);
  EXPECT_EQ(mesh_unsettled_normal_submeshes(), 3);
  EXPECT_EQ(first_difference("after the open"), "");

  // Edits on a submesh corner, as the tools make them: the cells before them (another submesh)
  // follow too.
  ASSERT_TRUE(map_reopen());
  ASSERT_TRUE(mesh_set_vertex_height(32, 32, 3000));
  ASSERT_TRUE(mesh_set_vertex_height(10, 50, -700));
  vertex_selection_select_rectangle(20, 20, 44, 40, false);
  ASSERT_TRUE(mesh_command_set_height(1500));
  EXPECT_EQ(first_difference("after the edits"), "");

  // Undo and Redo put heights back; the normals follow them, settled or not when undone.
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(first_difference("after one undo"), "");
  ASSERT_TRUE(edit_journal_undo());
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(first_difference("after every undo"), "");
  ASSERT_TRUE(edit_journal_redo());
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(first_difference("after two redos"), "");

  // A resize (which rewrites the collection and so ends the history) over a grid whose normals
  // nobody has read since the open, then an edit of the new grid and its Undo.
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  ASSERT_TRUE(mesh_resize(96, 64));
  EXPECT_EQ(first_difference("after the resize"), "");
  ASSERT_TRUE(mesh_set_vertex_height(95, 63, 1200));
  EXPECT_EQ(first_difference("after an edit of the resized grid"), "");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(first_difference("after its undo"), "");

  // A save of a map just opened stores the full computation, in big-endian order, whatever the
  // file held.
  ASSERT_TRUE(mesh_set_vertex_height(60, 60, 2500));
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  ASSERT_EQ(mesh_unsettled_normal_submeshes(), mesh_width() * mesh_height());
  // What an unread grid holds in its normals is whatever the file said, made by any program.
  for (int32_t i = 0; i < mesh_cell_count(); ++i) mesh_edit_cells()[i].normals = 0x1234;
  const std::vector<uint16_t> want = normal_reference_grid();
  ASSERT_TRUE(map_save());
  const std::vector<uint8_t> bytes = store.tag_bytes(mesh_tag_index());
  ASSERT_EQ(bytes.size(), size_t(MESH_HEADER_SIZE) + size_t(mesh_header()->data_size));
  for (size_t i = 0; i < want.size(); ++i) {
    const size_t at = MESH_HEADER_SIZE + size_t(mesh_header()->cells_offset) + i * sizeof(mesh_cell) + 2;
    ASSERT_EQ(uint16_t(bytes[at] << 8 | bytes[at + 1]), want[i]) << "stored normals of cell " << i;
  }
}

TEST_F(LazyNormals, TwoThreadsReadingAtOnceSeeTheSameNormals) {
  ASSERT_TRUE(make_map("hills", 512, 512, hills));
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(map_reopen());
  const std::vector<uint16_t> want = normal_reference_grid();
  ASSERT_TRUE(map_reopen());
  ASSERT_EQ(mesh_unsettled_normal_submeshes(), 4);
  // Each thread walks the cells in another order, so both compute and both read settled submeshes.
  const auto seen = normals_read_on_two_threads();
  EXPECT_EQ(seen[0], want);
  EXPECT_EQ(seen[1], want);
}

}  // namespace
