// Triangle normals are computed per submesh on first read. Whatever the map went through (an open,
// edits, Undo and Redo, a resize, a save), every reader must see what computing every normal from
// the heights as they stand gives, and a save must store exactly that.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
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
  // Every cell's normals computed from the heights now, each triangle by the full table search.
  std::vector<uint16_t> computed_in_full() {
    std::map<std::array<int32_t, 3>, uint8_t> searched;
    auto normal = [&](int32_t x, int32_t y, int16_t triangle) {
      std::array<int32_t, 3> v;
      mesh_triangle_normal_vector(x, y, triangle, v.data());
      auto [it, fresh] = searched.try_emplace(v, 0);
      if (fresh) it->second = mesh_nearest_normal_by_search(v[0], v[1], v[2]);
      return it->second;
    };
    std::vector<uint16_t> normals;
    for (int32_t y = 0; y < mesh_cells_down(); ++y) {
      for (int32_t x = 0; x < mesh_cells_across(); ++x) {
        const int16_t even = ((x + y) & 1) ? 2 : 0;
        normals.push_back(uint16_t(normal(x, y, even) << 8 | normal(x, y, int16_t(even + 1))));
      }
    }
    return normals;
  }

  // Asks each cell through the accessor, then reads the settled grid as a copy would; both must
  // be the full computation. The first cell that differs, or "".
  std::string first_difference(const char* when) {
    const std::vector<uint16_t> want = computed_in_full();
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
  const std::vector<uint16_t> opened = computed_in_full();
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
  const std::vector<uint16_t> want = computed_in_full();
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
  const std::vector<uint16_t> want = computed_in_full();
  ASSERT_TRUE(map_reopen());
  ASSERT_EQ(mesh_unsettled_normal_submeshes(), 4);
  // Each thread walks the cells in another order, so both compute and both read settled submeshes.
  const int32_t across = mesh_cells_across(), count = mesh_cell_count();
  std::vector<uint16_t> seen[2] = {std::vector<uint16_t>(size_t(count)), std::vector<uint16_t>(size_t(count))};
  auto read = [&](int which) {
    for (int32_t k = 0; k < count; ++k) {
      const int32_t i = which == 0 ? k : count - 1 - k;
      seen[which][size_t(i)] = mesh_cell_normals(i % across, i / across);
    }
  };
  std::thread other(read, 1);
  read(0);
  other.join();
  EXPECT_EQ(seen[0], want);
  EXPECT_EQ(seen[1], want);
}

}  // namespace
