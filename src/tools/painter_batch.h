// What the brush painters share: a batch of strokes kept against the edit journal. A painter
// keeps a before grid (the map under its batch), an after grid (the batch applied) and a working
// grid (what the batch did, per cell), and notices at each call whatever else changed the map.
// Undo and Redo of the batch's own step take it off and put it back; any other change ends it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "map/mesh.h"

// The painters' stroke states share these values.
enum painter_batch_state : int16_t {
  _painter_batch_idle = 0,      // no batch
  _painter_batch_stroking = 1,  // a stroke is in progress
  _painter_batch_off = 2,       // the batch is taken off: the map shows the before grid
  _painter_batch_on = 3,        // the batch is on: the map shows the after grid
};

// Cells of the grid; ends inclusive, row0 -1: empty.
struct painter_rectangle {
  int32_t row0 = -1, column0 = 0, row1 = 0, column1 = 0;
  bool empty() const { return row0 < 0; }
  void grow(int32_t row, int32_t column) {
    if (empty()) {
      row0 = row1 = row;
      column0 = column1 = column;
      return;
    }
    row0 = std::min(row0, row);
    row1 = std::max(row1, row);
    column0 = std::min(column0, column);
    column1 = std::max(column1, column);
  }
};

struct painter_batch {
  painter_batch_state state = _painter_batch_idle;
  int64_t last_tick = 0;
  painter_rectangle dirty;  // the cells the batch touched
  // The journal as the painter last left it: a change elsewhere shows in these.
  uint64_t batch_serial = 0;  // the batch's step, 0 when it changed nothing
  uint64_t base_serial = 0;   // the step below the batch
  uint64_t known_undo = 0, known_redo = 0;
  uint32_t known_generation = 0;
  int32_t steps_since_join = 0;  // journal steps of the stroke not yet joined into its batch
};

void painter_batch_remember_journal(painter_batch* batch);
// No batch, and the journal as it is now.
void painter_batch_forget(painter_batch* batch);

enum painter_batch_news : int16_t {
  _painter_batch_unchanged = 0,  // nothing happened to the map since the painter's last call
  _painter_batch_kept,           // the journal moved, but the batch may stand: check the map's cells
  _painter_batch_lost,           // something else changed the map: the grids must be filled again
};
// Undo or Redo of the batch's own step turns it on or off here.
painter_batch_news painter_batch_follow_journal(painter_batch* batch);

// Whether a stroke starting at tick joins the batch (only one that is on joins: joining one that
// was taken off would bring its strokes back with the next toggle).
bool painter_batch_joins(const painter_batch& batch, bool merging, int64_t tick, int64_t merge_ticks);
// After the caller settled the previous batch when the stroke does not join it.
void painter_batch_begin_stroke(painter_batch* batch, bool joins, int64_t tick);
// After each journal step of a stroke: a long stroke joins its steps as it goes, so that the
// journal's step limit never drops the first of them.
void painter_batch_step_written(painter_batch* batch, const char* step_name, int32_t join_steps);
// Mouse-up: the stroke's steps become the batch's one step. False when no stroke was in progress.
bool painter_batch_end_stroke(painter_batch* batch, const char* step_name);
// Takes the batch off, or puts it back. False when there is none.
bool painter_batch_toggle(painter_batch* batch);

// Ticks of 1/30 second of a steady clock.
int64_t painter_tick_now();

// ---- the grids ----

template <class Value, class Work>
struct painter_grids {
  int32_t columns = 0, rows = 0;
  std::vector<Value> before, after;
  std::vector<Work> working;
  size_t at(int32_t row, int32_t column) const { return size_t(row) * size_t(columns) + size_t(column); }
};

// Grids sized for the open map (anew only when its size changed) and filled from its cells with
// read(const mesh_cell&); the working grid blank. False when they can't be had (the caller
// reports it), with the grids emptied.
template <class Value, class Work, class Read>
bool painter_grids_refill(painter_grids<Value, Work>* grids, Work blank, Read read) {
  const int32_t columns = mesh_cells_across(), rows = mesh_cells_down();
  const size_t count = size_t(columns) * size_t(rows);
  try {
    if (grids->before.size() != count) {
      grids->before.assign(count, Value{});
      grids->after.assign(count, Value{});
      grids->working.assign(count, blank);
    }
  } catch (const std::bad_alloc&) {
    grids->before = {};
    grids->after = {};
    grids->working = {};
    return false;
  }
  grids->columns = columns;
  grids->rows = rows;
  const mesh_cell* cells = mesh_cells();
  for (size_t i = 0; i < count; ++i) grids->before[i] = read(cells[i]);
  grids->after = grids->before;
  std::fill(grids->working.begin(), grids->working.end(), blank);
  return true;
}

// The grids no longer fit the open map: they must be filled again.
template <class Value, class Work>
bool painter_grids_stale(const painter_grids<Value, Work>& grids) {
  return grids.columns != mesh_cells_across() || grids.rows != mesh_cells_down() || grids.before.empty();
}

// Accepts the batch (on) or discards it (off) over its rectangle, then forgets it.
template <class Value, class Work>
void painter_grids_commit(painter_grids<Value, Work>* grids, painter_batch* batch, Work blank) {
  const painter_rectangle& d = batch->dirty;
  if (!d.empty()) {
    for (int32_t row = d.row0; row <= d.row1; ++row) {
      for (int32_t column = d.column0; column <= d.column1; ++column) {
        const size_t i = grids->at(row, column);
        if (batch->state == _painter_batch_off) {
          grids->after[i] = grids->before[i];
        } else {
          grids->before[i] = grids->after[i];
        }
        grids->working[i] = blank;
      }
    }
  }
  batch->dirty = {};
  batch->batch_serial = 0;
  batch->state = _painter_batch_idle;
}

// Catches up with whatever happened to the map since the painter's last call: keeps the batch
// when the journal only moved over its own step and map_matches() finds the cells as the grids
// say, else refill() (the painter's: it reports its own failure) fills the grids again.
template <class Value, class Work>
bool painter_synchronize(painter_batch* batch, const painter_grids<Value, Work>& grids, bool (*refill)(),
                         bool (*map_matches)()) {
  if (painter_grids_stale(grids)) return refill();
  switch (painter_batch_follow_journal(batch)) {
    case _painter_batch_unchanged: return true;
    case _painter_batch_kept:
      if (!map_matches()) return refill();
      painter_batch_remember_journal(batch);
      return true;
    default: return refill();
  }
}
