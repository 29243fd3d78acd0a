#include "tools/edit_journal.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

#include "cseries/error_manager.h"
#include "map/marker_utils.h"
#include "map/mesh_geometry.h"

namespace {

// One noted part of the map: its bytes before the step and after it. A whole section may change
// size; a range never does.
struct change {
  int16_t section;
  bool whole;
  size_t offset;
  size_t old_length, new_length;
  size_t old_at, new_at;  // in the step's byte store
};

struct step_record {
  std::string name;
  std::vector<change> changes;
  std::vector<std::byte> bytes;
  // The cells the step touched, for the derived data (LOD) that is rebuilt rather than kept.
  int32_t cell_x0 = INT32_MAX, cell_y0 = INT32_MAX, cell_x1 = -1, cell_y1 = -1;
  uint64_t serial = 0;  // unique for the life of the process, given when the step is recorded
  size_t cost() const { return bytes.size() + changes.size() * sizeof(change) + name.size() + sizeof(step_record); }
};

struct journal_state {
  std::deque<step_record> steps;  // oldest first
  size_t cursor = 0;              // steps applied (in steps)
  int64_t dropped = 0;            // steps dropped from the front since the history began
  int64_t saved_position = 0;     // dropped + cursor at the save; -1 when no longer reachable
  bool unrecorded_change = false;
  size_t bytes = 0;
  size_t byte_budget = EDIT_JOURNAL_DEFAULT_BYTE_BUDGET;
  int32_t step_limit = EDIT_JOURNAL_DEFAULT_STEP_LIMIT;
  void (*listener)() = nullptr;
  edit_journal_recorder recorder = {};
  uint64_t last_serial = 0;

  // The open step.
  int32_t depth = 0;
  bool cancelled = false;
  step_record open;
  std::unordered_set<uint64_t> noted_ranges;
  std::vector<bool> noted_cells;  // cells already noted in the open step, so each is kept once
  bool section_whole[NUMBER_OF_MESH_SECTIONS] = {};
};
journal_state journal;

edit_journal_buffer buffers[EDIT_JOURNAL_MAXIMUM_BUFFERS] = {};

const edit_journal_buffer* buffer_of(int16_t section) {
  const int index = section - EDIT_JOURNAL_FIRST_BUFFER;
  return index >= 0 && index < EDIT_JOURNAL_MAXIMUM_BUFFERS && buffers[index].bytes ? &buffers[index] : nullptr;
}

bool is_mesh_section(int16_t section) { return section >= 0 && section < NUMBER_OF_MESH_SECTIONS; }

// A mesh section's bytes or a registered buffer's.
std::span<std::byte> section_bytes(int16_t section) {
  if (const edit_journal_buffer* buffer = buffer_of(section)) return buffer->bytes();
  return mesh_section_bytes(section);
}

const char* section_name(int16_t section) {
  if (const edit_journal_buffer* buffer = buffer_of(section)) return buffer->name;
  return mesh_section_name(section);
}

void notify() {
  if (journal.listener) journal.listener();
}

uint64_t range_key(int16_t section, size_t offset, size_t length) {
  return (uint64_t(uint16_t(section)) << 56) ^ (uint64_t(offset) << 16) ^ uint64_t(length & 0xFFFF);
}

size_t store(std::vector<std::byte>& bytes, std::span<const std::byte> data) {
  size_t at = bytes.size();
  bytes.insert(bytes.end(), data.begin(), data.end());
  return at;
}

struct cell_rectangle {
  int32_t x0, y0, x1, y1;
};

// The cells a byte range of the cell grid covers; a range over several rows covers them whole.
// False for an empty range or grid.
bool cells_of_bytes(size_t offset, size_t length, cell_rectangle* cells) {
  const int32_t across = mesh_cells_across();
  if (across <= 0 || length == 0) return false;
  const size_t first = offset / sizeof(mesh_cell), last = (offset + length - 1) / sizeof(mesh_cell);
  cells->y0 = int32_t(first / size_t(across));
  cells->y1 = int32_t(last / size_t(across));
  cells->x0 = cells->y0 == cells->y1 ? int32_t(first % size_t(across)) : 0;
  cells->x1 = cells->y0 == cells->y1 ? int32_t(last % size_t(across)) : across - 1;
  return true;
}

void touch_cells(step_record& step, size_t offset, size_t length) {
  cell_rectangle r;
  if (!cells_of_bytes(offset, length, &r)) return;
  step.cell_x0 = std::min(step.cell_x0, r.x0);
  step.cell_y0 = std::min(step.cell_y0, r.y0);
  step.cell_x1 = std::max(step.cell_x1, r.x1);
  step.cell_y1 = std::max(step.cell_y1, r.y1);
}

// The cells' normals are computed on first use: a copy of cell bytes must hold them computed, so
// that Undo and Redo put back what a full preparation gave.
void settle_cell_bytes(size_t offset, size_t length) {
  cell_rectangle r;
  if (cells_of_bytes(offset, length, &r)) mesh_settle_normals(r.x0, r.y0, r.x1, r.y1);
}

bool touches_markers(const step_record& step) {
  return std::any_of(step.changes.begin(), step.changes.end(), [](const change& c) {
    return c.section == _mesh_section_markers || c.section == _mesh_section_palette;
  });
}

// The markers' world objects hang off run-time fields of the records whose bytes are about to be
// replaced: they go first and are made again from the restored lists.
void remove_marker_objects() {
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i) marker_remove_object(&mesh_edit_markers()[i]);
}

void rebuild_derived(const step_record& step, bool markers_touched) {
  bool coverage = false;
  for (const change& c : step.changes) coverage |= c.section == _mesh_section_media_coverage;
  if (coverage) mesh_build_media_coverage_rows();
  if (step.cell_x1 >= 0) {
    // The normals follow the restored heights, whatever normals the kept bytes carried.
    mesh_refresh_normals(step.cell_x0, step.cell_y0, step.cell_x1, step.cell_y1);
    mesh_update_lod(step.cell_x0, step.cell_y0, step.cell_x1, step.cell_y1);
  }
  if (markers_touched) {
    markers_reset_palette();
    markers_instantiate();
  }
}

// Puts one side of each change back, in the order given.
bool apply(const step_record& step, bool forward) {
  const bool markers_touched = touches_markers(step);
  if (markers_touched) remove_marker_objects();
  bool applied = true;
  auto put = [&](const change& c) {
    const size_t at = forward ? c.new_at : c.old_at;
    const size_t length = forward ? c.new_length : c.old_length;
    std::span<const std::byte> data(step.bytes.data() + at, length);
    if (c.whole) {
      if (!mesh_section_replace(c.section, data)) applied = false;
      return;
    }
    std::span<std::byte> now = section_bytes(c.section);
    if (c.offset > now.size() || length > now.size() - c.offset) {
      POST_ERROR(error_data_mismatch, "the edit journal's %s bytes %d..%d lie outside the map.",
                 section_name(c.section), int(c.offset), int(c.offset + length));
      applied = false;
      return;
    }
    std::memcpy(now.data() + c.offset, data.data(), length);
  };
  if (forward) {
    for (const change& c : step.changes) put(c);
  } else {
    for (auto c = step.changes.rbegin(); c != step.changes.rend(); ++c) put(*c);
  }
  rebuild_derived(step, markers_touched);
  for (int i = 0; i < EDIT_JOURNAL_MAXIMUM_BUFFERS; ++i) {
    const int16_t id = int16_t(EDIT_JOURNAL_FIRST_BUFFER + i);
    if (buffers[i].changed && std::any_of(step.changes.begin(), step.changes.end(),
                                          [id](const change& c) { return c.section == id; })) {
      buffers[i].changed();
    }
  }
  return applied;
}

void reset_open_step() {
  journal.open = step_record{};
  journal.noted_ranges.clear();
  journal.noted_cells.clear();
  std::fill(std::begin(journal.section_whole), std::end(journal.section_whole), false);
  journal.cancelled = false;
}

void drop_oldest() {
  journal.bytes -= journal.steps.front().cost();
  journal.steps.pop_front();
  ++journal.dropped;
  if (journal.cursor > 0) --journal.cursor;
}

void keep_within_budget() {
  // The newest step stays even when it alone is over the budget: it is the one Undo needs most.
  while (journal.steps.size() > 1 &&
         (journal.bytes > journal.byte_budget || journal.steps.size() > size_t(std::max(journal.step_limit, 1)))) {
    if (journal.cursor == 0) break;  // only steps already applied can go
    drop_oldest();
  }
}

// The step as it ends: each change gets its new bytes, unchanged ranges go, the store is packed.
bool finish(step_record& step) {
  step_record done;
  done.name = step.name;
  done.cell_x0 = step.cell_x0;
  done.cell_y0 = step.cell_y0;
  done.cell_x1 = step.cell_x1;
  done.cell_y1 = step.cell_y1;
  for (const change& c : step.changes) {
    if (c.section == _mesh_section_cells) {
      if (c.whole) {
        settle_cell_bytes(0, size_t(mesh_cell_count()) * sizeof(mesh_cell));
      } else {
        settle_cell_bytes(c.offset, c.old_length);
      }
    }
    std::span<const std::byte> now = section_bytes(c.section);
    std::span<const std::byte> old(step.bytes.data() + c.old_at, c.old_length);
    std::span<const std::byte> after = c.whole ? now : now.subspan(std::min(c.offset, now.size()),
                                                                  std::min(c.old_length, now.size() - std::min(c.offset, now.size())));
    if (old.size() == after.size() && std::equal(old.begin(), old.end(), after.begin())) continue;
    change kept = c;
    kept.old_at = store(done.bytes, old);
    kept.new_at = store(done.bytes, after);
    kept.new_length = after.size();
    done.changes.push_back(kept);
  }
  if (done.changes.empty()) return false;
  done.bytes.shrink_to_fit();
  step = std::move(done);
  return true;
}

// Cells are noted once per step each, in runs of cells not noted before: a stroke or an import
// touches the same cells many times.
void note_cells(step_record& step, std::span<const std::byte> cells, size_t offset, size_t length) {
  const size_t count = cells.size() / sizeof(mesh_cell);
  if (journal.noted_cells.size() != count) journal.noted_cells.assign(count, false);
  const size_t first = offset / sizeof(mesh_cell), end = (offset + length + sizeof(mesh_cell) - 1) / sizeof(mesh_cell);
  size_t i = first;
  while (i < end) {
    while (i < end && journal.noted_cells[i]) ++i;
    const size_t run = i;
    while (i < end && !journal.noted_cells[i]) journal.noted_cells[i++] = true;
    if (i == run) continue;
    const size_t at = run * sizeof(mesh_cell), bytes = (i - run) * sizeof(mesh_cell);
    touch_cells(step, at, bytes);
    step.changes.push_back({_mesh_section_cells, false, at, bytes, 0, store(step.bytes, cells.subspan(at, bytes)), 0});
  }
}

void note(int16_t section, size_t offset, size_t length, bool whole) {
  if (journal.depth == 0 || journal.cancelled) return;
  if (!is_mesh_section(section) && (whole || !buffer_of(section))) return;
  if (is_mesh_section(section) && journal.section_whole[section]) return;
  step_record& step = journal.open;
  if (section == _mesh_section_cells) {
    if (whole) {
      settle_cell_bytes(0, size_t(mesh_cell_count()) * sizeof(mesh_cell));
    } else {
      settle_cell_bytes(offset, length);
    }
  }
  std::span<const std::byte> now = section_bytes(section);
  if (whole) {
    // The section as it was when the step began: its ranges noted so far are put back on a copy.
    std::vector<std::byte> before(now.begin(), now.end());
    for (auto c = step.changes.rbegin(); c != step.changes.rend(); ++c) {
      if (c->section != section) continue;
      std::memcpy(before.data() + c->offset, step.bytes.data() + c->old_at, c->old_length);
    }
    std::erase_if(step.changes, [section](const change& c) { return c.section == section; });
    if (section == _mesh_section_cells) touch_cells(step, 0, before.size());
    step.changes.push_back({section, true, 0, before.size(), 0, store(step.bytes, before), 0});
    journal.section_whole[section] = true;
    return;
  }
  if (offset > now.size() || length > now.size() - offset || length == 0) return;
  if (section == _mesh_section_cells) {
    note_cells(step, now, offset, length);
    return;
  }
  if (!journal.noted_ranges.insert(range_key(section, offset, length)).second) return;
  step.changes.push_back({section, false, offset, length, 0, store(step.bytes, now.subspan(offset, length)), 0});
}

// A new history: no steps, the saved state at saved_position (-1: out of reach).
void forget_history(int64_t saved_position, bool unrecorded_change) {
  journal.steps.clear();
  journal.cursor = 0;
  journal.dropped = 0;
  journal.saved_position = saved_position;
  journal.unrecorded_change = unrecorded_change;
  journal.bytes = 0;
  notify();
}

template <class T>
void put_value(std::vector<std::byte>& out, T value) {
  const auto* bytes = reinterpret_cast<const std::byte*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <class T>
bool take_value(std::span<const std::byte>& in, T* value) {
  if (in.size() < sizeof(T)) return false;
  std::memcpy(value, in.data(), sizeof(T));
  in = in.subspan(sizeof(T));
  return true;
}

// A step as bytes: its name, then each change with both sides.
std::vector<std::byte> serialize(const step_record& step) {
  std::vector<std::byte> out;
  out.reserve(8 + step.name.size() + step.changes.size() * 32 + step.bytes.size());
  put_value(out, uint16_t(std::min<size_t>(step.name.size(), 255)));
  out.insert(out.end(), reinterpret_cast<const std::byte*>(step.name.data()),
             reinterpret_cast<const std::byte*>(step.name.data()) + std::min<size_t>(step.name.size(), 255));
  put_value(out, uint32_t(step.changes.size()));
  for (const change& c : step.changes) {
    put_value(out, c.section);
    put_value(out, uint8_t(c.whole));
    put_value(out, uint64_t(c.offset));
    put_value(out, uint64_t(c.old_length));
    put_value(out, uint64_t(c.new_length));
    out.insert(out.end(), step.bytes.begin() + ptrdiff_t(c.old_at), step.bytes.begin() + ptrdiff_t(c.old_at + c.old_length));
    out.insert(out.end(), step.bytes.begin() + ptrdiff_t(c.new_at), step.bytes.begin() + ptrdiff_t(c.new_at + c.new_length));
  }
  return out;
}

// The step back from its bytes; false for bytes that are not a whole step of sections that exist.
bool deserialize(std::span<const std::byte> in, step_record* step) {
  uint16_t name_length = 0;
  uint32_t count = 0;
  if (!take_value(in, &name_length) || in.size() < name_length) return false;
  step->name.assign(reinterpret_cast<const char*>(in.data()), name_length);
  in = in.subspan(name_length);
  if (!take_value(in, &count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    change c = {};
    uint8_t whole = 0;
    uint64_t offset = 0, old_length = 0, new_length = 0;
    if (!take_value(in, &c.section) || !take_value(in, &whole) || !take_value(in, &offset) ||
        !take_value(in, &old_length) || !take_value(in, &new_length)) {
      return false;
    }
    if ((!is_mesh_section(c.section) && (whole || !buffer_of(c.section))) || whole > 1 || old_length > in.size() ||
        new_length > in.size() - old_length || (!whole && old_length != new_length)) {
      return false;
    }
    c.whole = whole != 0;
    c.offset = size_t(offset);
    c.old_length = size_t(old_length);
    c.new_length = size_t(new_length);
    c.old_at = store(step->bytes, in.subspan(0, c.old_length));
    c.new_at = store(step->bytes, in.subspan(c.old_length, c.new_length));
    in = in.subspan(c.old_length + c.new_length);
    step->changes.push_back(c);
  }
  return in.empty();
}

void push_step(step_record&& step) {
  // A new step ends the steps that were undone; a saved state among them is out of reach.
  while (journal.steps.size() > journal.cursor) {
    journal.bytes -= journal.steps.back().cost();
    journal.steps.pop_back();
  }
  if (journal.saved_position > journal.dropped + int64_t(journal.cursor)) journal.saved_position = -1;
  journal.bytes += step.cost();
  step.serial = ++journal.last_serial;
  journal.steps.push_back(std::move(step));
  ++journal.cursor;
  keep_within_budget();
}

}  // namespace

// ---- recording ----

int16_t edit_journal_register_buffer(const edit_journal_buffer& buffer) {
  for (int i = 0; i < EDIT_JOURNAL_MAXIMUM_BUFFERS; ++i) {
    if (buffers[i].bytes == buffer.bytes) return int16_t(EDIT_JOURNAL_FIRST_BUFFER + i);
  }
  for (int i = 0; i < EDIT_JOURNAL_MAXIMUM_BUFFERS; ++i) {
    if (!buffers[i].bytes) {
      buffers[i] = buffer;
      return int16_t(EDIT_JOURNAL_FIRST_BUFFER + i);
    }
  }
  return -1;
}

bool edit_journal_begin(const char* name) {
  if (!mesh_is_open() || !mesh_header()) return false;
  if (journal.depth++ == 0) {
    reset_open_step();
    journal.open.name = name ? name : "";
  }
  return true;
}

void edit_journal_note(int16_t section, size_t offset, size_t length) { note(section, offset, length, false); }
void edit_journal_note_section(int16_t section) { note(section, 0, 0, true); }

void edit_journal_cancel() {
  if (journal.depth == 0 || journal.cancelled) return;
  step_record& step = journal.open;
  for (change& c : step.changes) c.new_at = c.old_at, c.new_length = c.old_length;
  if (!step.changes.empty() && !apply(step, false)) {
    POST_ERROR(error_unknown, "couldn't take back the failed edit '%s'.", step.name.c_str());
  }
  journal.cancelled = true;
}

bool edit_journal_end() {
  if (journal.depth == 0) return false;
  if (--journal.depth > 0) return !journal.cancelled;
  const bool cancelled = journal.cancelled;
  step_record step = std::move(journal.open);
  reset_open_step();
  if (cancelled) return false;
  if (!finish(step)) return true;  // nothing changed: nothing to undo
  if (journal.recorder.step) journal.recorder.step(serialize(step));
  push_step(std::move(step));
  notify();
  return true;
}

bool edit_journal_recording() { return journal.depth > 0 && !journal.cancelled; }

mesh_cell* edit_journal_cell(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= mesh_cells_across() || y >= mesh_cells_down()) return nullptr;
  edit_journal_note(_mesh_section_cells, (size_t(y) * size_t(mesh_cells_across()) + size_t(x)) * sizeof(mesh_cell),
                    sizeof(mesh_cell));
  return mesh_edit_cell(x, y);
}

void edit_journal_note_cells(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, mesh_cells_across() - 1);
  y1 = std::min(y1, mesh_cells_down() - 1);
  if (x0 > x1 || y0 > y1) return;
  if (x0 == 0 && y0 == 0 && x1 == mesh_cells_across() - 1 && y1 == mesh_cells_down() - 1) {
    edit_journal_note_section(_mesh_section_cells);
    return;
  }
  for (int32_t y = y0; y <= y1; ++y) {
    edit_journal_note(_mesh_section_cells, (size_t(y) * size_t(mesh_cells_across()) + size_t(x0)) * sizeof(mesh_cell),
                      size_t(x1 - x0 + 1) * sizeof(mesh_cell));
  }
}

marker_data* edit_journal_marker(int32_t index) {
  if (index < 0 || index >= mesh_marker_count()) return nullptr;
  edit_journal_note(_mesh_section_markers, size_t(index) * sizeof(marker_data), sizeof(marker_data));
  return &mesh_edit_markers()[index];
}

mesh_definition* edit_journal_header_fields(size_t offset, size_t length) {
  edit_journal_note(_mesh_section_header, offset, length);
  return mesh_edit_header();
}

// ---- walking ----

bool edit_journal_can_undo() { return journal.depth == 0 && journal.cursor > 0; }
bool edit_journal_can_redo() { return journal.depth == 0 && journal.cursor < journal.steps.size(); }
const char* edit_journal_undo_name() {
  return edit_journal_can_undo() ? journal.steps[journal.cursor - 1].name.c_str() : "";
}
const char* edit_journal_redo_name() {
  return edit_journal_can_redo() ? journal.steps[journal.cursor].name.c_str() : "";
}

bool edit_journal_undo() {
  if (!edit_journal_can_undo() || !mesh_is_open()) return false;
  if (!apply(journal.steps[journal.cursor - 1], false)) {
    edit_journal_mark_unrecorded_change();
    return false;
  }
  --journal.cursor;
  if (journal.recorder.walked) journal.recorder.walked(true);
  notify();
  return true;
}

bool edit_journal_redo() {
  if (!edit_journal_can_redo() || !mesh_is_open()) return false;
  if (!apply(journal.steps[journal.cursor], true)) {
    edit_journal_mark_unrecorded_change();
    return false;
  }
  ++journal.cursor;
  if (journal.recorder.walked) journal.recorder.walked(false);
  notify();
  return true;
}

bool edit_journal_replay_step(std::span<const std::byte> bytes) {
  if (!mesh_is_open() || journal.depth != 0) return false;
  step_record step;
  if (!deserialize(bytes, &step)) return false;
  // The recorded bytes must fit the map as it is now: each range inside its section.
  for (const change& c : step.changes) {
    if (c.whole) {
      if (c.section == _mesh_section_cells) touch_cells(step, 0, c.new_length);
      continue;
    }
    const std::span<std::byte> now = section_bytes(c.section);
    if (c.offset > now.size() || c.old_length > now.size() - c.offset) return false;
    if (c.section == _mesh_section_cells) touch_cells(step, c.offset, c.old_length);
  }
  if (!apply(step, true)) return false;
  if (journal.recorder.step) journal.recorder.step(bytes);
  push_step(std::move(step));
  notify();
  return true;
}

void edit_journal_set_recorder(const edit_journal_recorder& recorder) { journal.recorder = recorder; }

// ---- the saved state and the history ----

void edit_journal_clear() {
  journal.depth = 0;
  reset_open_step();
  forget_history(0, false);
}

void edit_journal_mark_saved() {
  journal.saved_position = journal.dropped + int64_t(journal.cursor);
  journal.unrecorded_change = false;
  notify();
}

void edit_journal_mark_unrecorded_change() { forget_history(-1, true); }

bool edit_journal_differs_from_saved() {
  return journal.unrecorded_change || journal.saved_position != journal.dropped + int64_t(journal.cursor);
}

void edit_journal_set_budget(size_t bytes, int32_t steps) {
  journal.byte_budget = bytes;
  journal.step_limit = steps;
  keep_within_budget();
  notify();
}

size_t edit_journal_byte_count() { return journal.bytes; }
int32_t edit_journal_step_count() { return int32_t(journal.steps.size()); }

void edit_journal_set_listener(void (*listener)()) { journal.listener = listener; }

// ---- steps made of several ----

uint64_t edit_journal_undo_serial() { return edit_journal_can_undo() ? journal.steps[journal.cursor - 1].serial : 0; }
uint64_t edit_journal_redo_serial() { return edit_journal_can_redo() ? journal.steps[journal.cursor].serial : 0; }

namespace {

// One side of a change written back as raw bytes: the map passes through states it already had,
// so nothing derived from it needs rebuilding.
bool put_raw(const step_record& step, const change& c, bool forward) {
  std::span<const std::byte> data(step.bytes.data() + (forward ? c.new_at : c.old_at),
                                  forward ? c.new_length : c.old_length);
  if (c.whole) return mesh_section_replace(c.section, data);
  std::span<std::byte> now = mesh_section_bytes(c.section);
  if (c.offset > now.size() || data.size() > now.size() - c.offset) return false;
  std::memcpy(now.data() + c.offset, data.data(), data.size());
  return true;
}

}  // namespace

uint64_t edit_journal_merge_after(uint64_t after_serial, const char* name) {
  if (journal.depth != 0 || journal.cursor != journal.steps.size() || !mesh_is_open()) return 0;
  size_t first = journal.cursor;
  while (first > 0 && journal.steps[first - 1].serial > after_serial) --first;
  if (first == journal.cursor) return 0;
  if (first + 1 == journal.cursor) {
    journal.steps.back().name = name ? name : "";
    notify();
    return journal.steps.back().serial;
  }
  // Back to the state before the first of them, then forward again inside one new step, which
  // notes each part once, as it was before the first.
  bool intact = true;
  for (size_t k = journal.cursor; k-- > first;) {
    const step_record& step = journal.steps[k];
    for (auto c = step.changes.rbegin(); c != step.changes.rend(); ++c) intact &= put_raw(step, *c, false);
  }
  journal.depth = 1;
  reset_open_step();
  journal.open.name = name ? name : "";
  for (size_t k = first; k < journal.cursor; ++k) {
    for (const change& c : journal.steps[k].changes) note(c.section, c.offset, c.old_length, c.whole);
  }
  for (size_t k = first; k < journal.cursor; ++k) {
    const step_record& step = journal.steps[k];
    for (const change& c : step.changes) intact &= put_raw(step, c, true);
  }
  journal.depth = 0;
  step_record merged = std::move(journal.open);
  reset_open_step();
  if (!intact) {
    POST_ERROR(error_unknown, "couldn't join the steps of '%s'.", name ? name : "");
    edit_journal_mark_unrecorded_change();
    return 0;
  }
  const bool saved_after = journal.saved_position == journal.dropped + int64_t(journal.cursor);
  while (journal.steps.size() > first) {
    journal.bytes -= journal.steps.back().cost();
    journal.steps.pop_back();
    --journal.cursor;
    if (journal.recorder.walked) journal.recorder.walked(true);
  }
  if (!finish(merged)) {  // they changed nothing together: the map is as before the first
    if (saved_after) journal.saved_position = journal.dropped + int64_t(journal.cursor);
    else if (journal.saved_position > journal.dropped + int64_t(journal.cursor)) journal.saved_position = -1;
    notify();
    return 0;
  }
  if (journal.recorder.step) journal.recorder.step(serialize(merged));
  push_step(std::move(merged));
  if (saved_after) journal.saved_position = journal.dropped + int64_t(journal.cursor);
  notify();
  return journal.steps.back().serial;
}
