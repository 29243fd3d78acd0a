// What the painters share about their preferences and their life: the record the keys change
// (the editor's preference record's block, or one of the painter's own while that is not
// loaded), the copy a painter uses, and its start over the open map.
#pragma once

#include <memory>
#include <new>

#include "engine/preferences.h"
#include "map/mesh.h"
#include "tools/painter_batch.h"

// A painter's kind of record: its block in the editor's record and its check.
template <class Record>
struct painter_record_kind {
  Record vellgrim_preferences::*block;
  bool (*valid)(const Record&);
};

// A painter's own record, for when the editor's is not loaded.
template <class Record>
struct painter_own_record {
  Record record{};
  bool ready = false;
};

template <class Record>
void painter_record_set_defaults(const painter_record_kind<Record>& kind, Record* record) {
  vellgrim_preferences defaults;
  vellgrim_preferences_set_defaults(&defaults);
  *record = defaults.*kind.block;
}

template <class Record>
Record* painter_record_stored(const painter_record_kind<Record>& kind, painter_own_record<Record>* own) {
  if (vellgrim_preferences* record = vellgrim_preferences_get()) return &(record->*kind.block);
  if (!own->ready) {
    painter_record_set_defaults(kind, &own->record);
    own->ready = true;
  }
  return &own->record;
}

// The painter's state has `preferences`, `preferences_overridden` and `batch`.

// Copies the record in, or the defaults when it is invalid.
template <class State, class Record>
void painter_load_preferences(State* painter, const painter_record_kind<Record>& kind, const Record& record) {
  if (kind.valid(record)) {
    painter->preferences = record;
  } else {
    painter_record_set_defaults(kind, &painter->preferences);
  }
}

// A painter for the open map with the stored record, its grids filled by refill() (which reports
// its own failure); false, and no painter, when it can't be had.
template <class State, class Record>
bool painter_start(std::unique_ptr<State>* painter, const painter_record_kind<Record>& kind,
                   painter_own_record<Record>* own, bool (*refill)()) {
  painter->reset();
  if (!mesh_is_open()) return false;
  try {
    *painter = std::make_unique<State>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  painter_load_preferences(painter->get(), kind, *painter_record_stored(kind, own));
  if (!refill()) {
    painter->reset();
    return false;
  }
  return true;
}

// Takes the stored record up, except during a stroke or over one the command-line tool set.
// False when it was left alone.
template <class State, class Record>
bool painter_reload_preferences(State* painter, const painter_record_kind<Record>& kind,
                                painter_own_record<Record>* own) {
  if (!painter || painter->batch.state == _painter_batch_stroking || painter->preferences_overridden) return false;
  painter_load_preferences(painter, kind, *painter_record_stored(kind, own));
  return true;
}

// The command-line tool's record in place of the stored one; invalid ones are refused.
template <class State, class Record>
bool painter_use_preferences(State* painter, const painter_record_kind<Record>& kind, const Record& record) {
  if (!painter || !kind.valid(record)) return false;
  painter->preferences = record;
  painter->preferences_overridden = true;
  return true;
}
