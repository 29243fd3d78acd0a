#include "tools/painter_batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/painter_outline.h"

namespace {

constexpr char STEP[] = "Test stroke";

// One journal step that sets a cell's terrain word; its serial.
uint64_t write_cell(int32_t column, int32_t row, uint16_t word) {
  journal_step step(STEP);
  EXPECT_TRUE(step.is_open());
  edit_journal_cell(column, row)->terrain_and_flags = word;
  EXPECT_TRUE(step.commit());
  return edit_journal_undo_serial();
}

class PainterBatch : public MapImageTest {};

TEST_F(PainterBatch, UndoAndRedoOfTheBatchStepTurnItOffAndOnAndAnyOtherStepLosesIt) {
  ASSERT_TRUE(make_map("batch", 256, 256));
  painter_batch batch;
  painter_batch_forget(&batch);
  EXPECT_EQ(painter_batch_follow_journal(&batch), _painter_batch_unchanged);

  // Two steps of one stroke become the batch's one step.
  painter_batch_begin_stroke(&batch, false, 100);
  EXPECT_EQ(batch.last_tick, 99) << "the press always paints";
  write_cell(3, 3, 0x88);
  painter_batch_step_written(&batch, STEP, 64);
  write_cell(4, 3, 0x88);
  painter_batch_step_written(&batch, STEP, 64);
  painter_batch_remember_journal(&batch);
  ASSERT_TRUE(painter_batch_end_stroke(&batch, STEP));
  EXPECT_FALSE(painter_batch_end_stroke(&batch, STEP)) << "no stroke in progress";
  EXPECT_EQ(batch.state, _painter_batch_on);
  EXPECT_NE(batch.batch_serial, 0u);
  EXPECT_EQ(batch.batch_serial, edit_journal_undo_serial());

  // A stroke soon after joins only a batch that is on, with merging asked for.
  EXPECT_TRUE(painter_batch_joins(batch, true, 110, 30));
  EXPECT_FALSE(painter_batch_joins(batch, false, 110, 30));
  EXPECT_FALSE(painter_batch_joins(batch, true, 200, 30));

  // Edit > Undo of the batch's step, seen at the next call: the batch is off, not lost.
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(painter_batch_follow_journal(&batch), _painter_batch_kept);
  EXPECT_EQ(batch.state, _painter_batch_off);
  EXPECT_FALSE(painter_batch_joins(batch, true, 110, 30)) << "a batch taken off never joins";
  painter_batch_remember_journal(&batch);
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(painter_batch_follow_journal(&batch), _painter_batch_kept);
  EXPECT_EQ(batch.state, _painter_batch_on);
  painter_batch_remember_journal(&batch);

  // The toggle goes through the journal both ways.
  ASSERT_TRUE(painter_batch_toggle(&batch));
  EXPECT_EQ(batch.state, _painter_batch_off);
  EXPECT_EQ(mesh_get_cell(3, 3)->terrain_and_flags & 0xFF, mesh_get_cell(5, 5)->terrain_and_flags & 0xFF);
  ASSERT_TRUE(painter_batch_toggle(&batch));
  EXPECT_EQ(batch.state, _painter_batch_on);
  EXPECT_EQ(mesh_get_cell(3, 3)->terrain_and_flags, 0x88);
  EXPECT_EQ(painter_batch_follow_journal(&batch), _painter_batch_unchanged);

  // Someone else's step ends the batch.
  write_cell(20, 20, 0x77);
  EXPECT_EQ(painter_batch_follow_journal(&batch), _painter_batch_lost);
  painter_batch_forget(&batch);
  EXPECT_EQ(batch.state, _painter_batch_idle);
  EXPECT_FALSE(painter_batch_toggle(&batch)) << "no batch to toggle";
}

TEST_F(PainterBatch, ALongStrokeJoinsItsStepsAsItGoes) {
  ASSERT_TRUE(make_map("long", 256, 256));
  painter_batch batch;
  painter_batch_forget(&batch);
  const uint64_t below = edit_journal_undo_serial();
  painter_batch_begin_stroke(&batch, false, 1);
  for (int32_t k = 0; k < 7; ++k) {
    write_cell(k, 0, uint16_t(k & 1 ? 0x88 : 0x77));
    painter_batch_step_written(&batch, STEP, 3);
  }
  EXPECT_EQ(batch.steps_since_join, 1) << "joined after the third and the sixth step";
  painter_batch_remember_journal(&batch);
  ASSERT_TRUE(painter_batch_end_stroke(&batch, STEP));
  // One Undo takes the whole stroke off.
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(edit_journal_undo_serial(), below);
}

TEST(PainterGrids, CommitAcceptsOrDiscardsOnlyTheBatchRectangle) {
  for (const painter_batch_state state : {_painter_batch_on, _painter_batch_off}) {
    painter_grids<uint8_t, uint16_t> grids;
    grids.columns = 4;
    grids.rows = 3;
    grids.before.assign(12, 1);
    grids.after.assign(12, 2);
    grids.working.assign(12, 7);
    painter_batch batch;
    batch.state = state;
    batch.batch_serial = 5;
    batch.dirty.grow(1, 1);
    batch.dirty.grow(2, 2);
    painter_grids_commit(&grids, &batch, uint16_t(0xFFFF));
    for (int32_t row = 0; row < 3; ++row) {
      for (int32_t column = 0; column < 4; ++column) {
        const size_t i = grids.at(row, column);
        const bool inside = row >= 1 && column >= 1 && column <= 2;
        const uint8_t settled = state == _painter_batch_on ? 2 : 1;
        EXPECT_EQ(grids.before[i], inside ? settled : 1) << row << ", " << column;
        EXPECT_EQ(grids.after[i], inside ? settled : 2) << row << ", " << column;
        EXPECT_EQ(grids.working[i], inside ? 0xFFFF : 7) << row << ", " << column;
      }
    }
    EXPECT_TRUE(batch.dirty.empty());
    EXPECT_EQ(batch.batch_serial, 0u);
    EXPECT_EQ(batch.state, _painter_batch_idle);
  }
}

TEST(PainterOutline, SegmentsGrowWithTheRadiusWithinTheirBoundsAndTheRingCloses) {
  EXPECT_EQ(painter_outline_segments(2.5, 1024), 16);
  EXPECT_EQ(painter_outline_segments(10.2, 1024), 61);
  EXPECT_EQ(painter_outline_segments(1e9, 1024), 1024);

  std::vector<world_point3d> line;
  const auto point = [](double ux, double uy) { return world_point3d{int32_t(ux * 100), int32_t(uy * 100), 0}; };
  painter_trace_outline(true, 20, point, &line);
  ASSERT_EQ(line.size(), 21u);  // five a side, closed
  EXPECT_EQ(line[0].x, -100);
  EXPECT_EQ(line[0].y, -100);
  EXPECT_EQ(line[5].x, 100);
  EXPECT_EQ(line[5].y, -100);
  EXPECT_EQ(line.back().x, line.front().x);
  EXPECT_EQ(line.back().y, line.front().y);

  painter_trace_outline(false, 16, point, &line);
  ASSERT_EQ(line.size(), 17u) << "the ring is traced anew";
  EXPECT_EQ(line[0].x, 100);
  EXPECT_EQ(line[4].y, 100);
  EXPECT_EQ(line.back().x, 100);
}

}  // namespace
