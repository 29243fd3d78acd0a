// The edit journal: every operation that changes the open map records, as one named step, the
// bytes it changed (which part of the map, the old bytes, the new bytes). Undo and Redo walk the
// steps in either direction, many levels deep, within a memory budget that drops the oldest steps
// first. The map differs from its saved state exactly when the journal is away from the step at
// which it was saved (or a change the journal could not record was made since).
//
// An operation opens a step, notes each part of the map before it writes it, and commits; a step
// that fails part-way is cancelled, which puts every noted byte back, so no half step is left.
// Steps opened inside an open step join it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "map/mesh_edit.h"

enum : int32_t {
  EDIT_JOURNAL_DEFAULT_STEP_LIMIT = 1000,
};
inline constexpr size_t EDIT_JOURNAL_DEFAULT_BYTE_BUDGET = size_t(256) << 20;

// ---- recording ----

// Opens a step named as the Edit menu shows it ("Raise Mesh Edges"). False without an open map.
[[nodiscard]] bool edit_journal_begin(const char* name);
// Before a write: the bytes [offset, offset + length) of a section, or the whole section (also
// when it is about to change size). Nothing outside an open step.
void edit_journal_note(int16_t section, size_t offset, size_t length);
void edit_journal_note_section(int16_t section);
// Closes the step (the outermost close records it; a step that changed nothing is dropped). False
// when the step was cancelled.
bool edit_journal_end();
// Puts back every byte noted in the open step; the step records nothing, and the enclosing steps
// end without recording either.
void edit_journal_cancel();
bool edit_journal_recording();

// A step for the life of a scope: cancelled unless committed.
class journal_step {
 public:
  explicit journal_step(const char* name) : open_(edit_journal_begin(name)) {}
  ~journal_step() {
    if (open_) {
      edit_journal_cancel();
      edit_journal_end();
    }
  }
  journal_step(const journal_step&) = delete;
  journal_step& operator=(const journal_step&) = delete;
  bool is_open() const { return open_; }
  // Records the step; false when it was cancelled (by an inner step) or never opened.
  bool commit() {
    if (!open_) return false;
    open_ = false;
    return edit_journal_end();
  }

 private:
  bool open_;
};

// Parts of the open map kept outside the mesh (the shadow maps in the loaded collection): a buffer
// registered here answers its bytes through a procedure, so it may move between uses; its ranges
// are noted with edit_journal_note like a section's, never whole. `changed` is called after Undo
// or Redo put bytes of it back. The id (at least EDIT_JOURNAL_FIRST_BUFFER), or -1 when the table
// is full. Registering the same procedures again answers the same id.
enum : int16_t { EDIT_JOURNAL_FIRST_BUFFER = 32, EDIT_JOURNAL_MAXIMUM_BUFFERS = 8 };
struct edit_journal_buffer {
  const char* name;
  std::span<std::byte> (*bytes)();
  void (*changed)();
};
int16_t edit_journal_register_buffer(const edit_journal_buffer& buffer);

// Writable parts of the open map that note themselves first (inside an open step).
mesh_cell* edit_journal_cell(int32_t x, int32_t y);
// Notes the cells of an inclusive rectangle, clamped to the grid.
void edit_journal_note_cells(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
marker_data* edit_journal_marker(int32_t index);
// The header's bytes [offset, offset + length) noted; the header returned.
mesh_definition* edit_journal_header_fields(size_t offset, size_t length);

// ---- walking ----

bool edit_journal_can_undo();
bool edit_journal_can_redo();
// The names of the steps Undo and Redo would walk; "" when none.
const char* edit_journal_undo_name();
const char* edit_journal_redo_name();
// False when there is nothing to walk, or the bytes could not be put back (reported; the journal is
// then cleared, as it no longer matches the map).
[[nodiscard]] bool edit_journal_undo();
[[nodiscard]] bool edit_journal_redo();

// ---- the saved state and the history ----

// Opening, closing and New Map start a new history.
void edit_journal_clear();
// The map now matches what is stored.
void edit_journal_mark_saved();
// A change that the journal cannot take back (it wrote another tag at once): the history ends
// here, and the map differs from the stored one until it is saved.
void edit_journal_mark_unrecorded_change();
bool edit_journal_differs_from_saved();

void edit_journal_set_budget(size_t bytes, int32_t steps);
size_t edit_journal_byte_count();
int32_t edit_journal_step_count();  // steps kept, undoable and redoable

// ---- writing ahead ----

// Told of every recorded step (as bytes edit_journal_replay_step takes back) and of every Undo
// (true) and Redo (false), so that the history can be written ahead to disk.
struct edit_journal_recorder {
  void (*step)(std::span<const std::byte> bytes);
  void (*walked)(bool undo);
};
void edit_journal_set_recorder(const edit_journal_recorder& recorder);
// Applies a recorded step to the open map and records it as a new step. False (nothing changed)
// for bytes that are not a step or do not fit the map.
[[nodiscard]] bool edit_journal_replay_step(std::span<const std::byte> bytes);

// Called after every change of what Undo and Redo offer or of the modified state (menus follow).
void edit_journal_set_listener(void (*listener)());

// ---- steps made of several ----

// The serial numbers of the steps Undo and Redo would walk, 0 when none. Each recorded step gets
// its own, never reused, so a tool can tell whether its step is still where it left it.
uint64_t edit_journal_undo_serial();
uint64_t edit_journal_redo_serial();
// Joins every step recorded after the step after_serial (all applied, none undone above them)
// into one step named `name`, as a drag or a painter's batch is undone at once. The joined step's
// serial; 0 when there was nothing to join.
uint64_t edit_journal_merge_after(uint64_t after_serial, const char* name);
