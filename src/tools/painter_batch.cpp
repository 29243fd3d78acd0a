#include "tools/painter_batch.h"

#include <chrono>

#include "tools/edit_journal.h"

void painter_batch_remember_journal(painter_batch* batch) {
  batch->known_undo = edit_journal_undo_serial();
  batch->known_redo = edit_journal_redo_serial();
  batch->known_generation = mesh_cells_generation();
}

void painter_batch_forget(painter_batch* batch) {
  batch->state = _painter_batch_idle;
  batch->dirty = {};
  batch->batch_serial = 0;
  batch->steps_since_join = 0;
  painter_batch_remember_journal(batch);
}

painter_batch_news painter_batch_follow_journal(painter_batch* batch) {
  const uint64_t undo = edit_journal_undo_serial(), redo = edit_journal_redo_serial();
  if (mesh_cells_generation() == batch->known_generation && undo == batch->known_undo && redo == batch->known_redo) {
    return _painter_batch_unchanged;
  }
  bool kept = false;
  const bool batch_step = batch->batch_serial != 0;
  switch (batch->state) {
    case _painter_batch_on:
    case _painter_batch_off:
      if (batch_step && undo == batch->batch_serial) {
        batch->state = _painter_batch_on;
        kept = true;
      } else if (batch_step && redo == batch->batch_serial) {
        batch->state = _painter_batch_off;
        kept = true;
      } else {
        kept = !batch_step && undo == batch->known_undo && redo == batch->known_redo;
      }
      break;
    case _painter_batch_stroking: kept = undo == batch->known_undo && redo == batch->known_redo; break;
    default: break;
  }
  return kept ? _painter_batch_kept : _painter_batch_lost;
}

bool painter_batch_joins(const painter_batch& batch, bool merging, int64_t tick, int64_t merge_ticks) {
  return batch.state == _painter_batch_on && merging && tick - batch.last_tick <= merge_ticks;
}

void painter_batch_begin_stroke(painter_batch* batch, bool joins, int64_t tick) {
  if (!joins) batch->base_serial = edit_journal_undo_serial();
  batch->state = _painter_batch_stroking;
  batch->last_tick = tick - 1;  // the press always paints
}

void painter_batch_step_written(painter_batch* batch, const char* step_name, int32_t join_steps) {
  if (++batch->steps_since_join >= join_steps) {
    edit_journal_merge_after(batch->base_serial, step_name);
    batch->steps_since_join = 0;
  }
}

bool painter_batch_end_stroke(painter_batch* batch, const char* step_name) {
  if (batch->state != _painter_batch_stroking) return false;
  batch->state = _painter_batch_on;
  batch->batch_serial = edit_journal_merge_after(batch->base_serial, step_name);
  batch->steps_since_join = 0;
  painter_batch_remember_journal(batch);
  return true;
}

bool painter_batch_toggle(painter_batch* batch) {
  bool toggled = false;
  if (batch->state == _painter_batch_on) {
    toggled = batch->batch_serial == 0 || edit_journal_undo();
    if (toggled) batch->state = _painter_batch_off;
  } else if (batch->state == _painter_batch_off) {
    toggled = batch->batch_serial == 0 || edit_journal_redo();
    if (toggled) batch->state = _painter_batch_on;
  }
  painter_batch_remember_journal(batch);
  return toggled;
}

int64_t painter_tick_now() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() * 30 / 1000;
}
