#include "tools/terrain_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "cseries/bit_vector.h"
#include "cseries/error_manager.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/painter_batch.h"
#include "tools/painter_outline.h"
#include "tools/painter_preferences.h"

namespace {

constexpr double WORLD_PER_CELL = 512.0;
constexpr uint16_t NOT_PAINTED = 0xFFFF;  // a working-grid entry the batch has not touched
constexpr uint16_t TYPE_BITS = _cell_odd_terrain_mask | _cell_even_terrain_mask;

static_assert(int(_terrain_painter_idle) == int(_painter_batch_idle) &&
              int(_terrain_painter_painting) == int(_painter_batch_stroking) &&
              int(_terrain_painter_undone) == int(_painter_batch_off) &&
              int(_terrain_painter_finished) == int(_painter_batch_on));

struct painter_state {
  terrain_painter_preferences preferences{};
  bool preferences_overridden = false;
  painter_batch batch;
  // The two types of a cell as its flag word's low byte; the working grid holds what the batch
  // painted there, or NOT_PAINTED.
  painter_grids<uint8_t, uint16_t> grids;
};

std::unique_ptr<painter_state> painter;
constexpr painter_record_kind<terrain_painter_preferences> record_kind{&vellgrim_preferences::terrain_painter,
                                                         terrain_painter_preferences_valid};
painter_own_record<terrain_painter_preferences> own_record;  // when the editor's record is not loaded
int16_t current_type = TERRAIN_PAINTER_DEFAULT_TYPE;

size_t at(int32_t row, int32_t column) { return painter->grids.at(row, column); }

uint8_t both_halves(int32_t type) { return uint8_t((type << 4) | type); }

// Grids sized for the map and filled from it; no batch. False (reported) when they can't be had.
bool refill() {
  painter_state& p = *painter;
  const auto types = [](const mesh_cell& cell) { return uint8_t(cell.terrain_and_flags & TYPE_BITS); };
  if (!painter_grids_refill(&p.grids, NOT_PAINTED, types)) {
    const size_t count = size_t(mesh_cells_across()) * size_t(mesh_cells_down());
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for the terrain painter.", int(count * 4));
    return false;
  }
  painter_batch_forget(&p.batch);
  return true;
}

// The map shows what the painter expects over the batch's rectangle: the before grid while the
// batch is off, the after grid otherwise. Outside it both grids agree with the map, or a change
// would have shown in the journal. The cells may have been written without a step (their
// run-time lists): the types are what counts.
bool map_matches_grids() {
  const painter_state& p = *painter;
  const painter_rectangle& dirty = p.batch.dirty;
  if (dirty.empty()) return true;
  const std::vector<uint8_t>& expected = p.batch.state == _painter_batch_off ? p.grids.before : p.grids.after;
  for (int32_t row = dirty.row0; row <= dirty.row1; ++row) {
    for (int32_t column = dirty.column0; column <= dirty.column1; ++column) {
      if ((mesh_get_cell(column, row)->terrain_and_flags & TYPE_BITS) != expected[at(row, column)]) return false;
    }
  }
  return true;
}

// Catches up with whatever happened to the map since the painter's last call.
bool synchronize() {
  if (!painter || !mesh_is_open()) return false;
  return painter_synchronize(&painter->batch, painter->grids, refill, map_matches_grids);
}

// Accepts the batch (finished) or discards it (undone), then forgets it.
void commit() { painter_grids_commit(&painter->grids, &painter->batch, NOT_PAINTED); }

bool inside_brush(double x, double y, int32_t row, int32_t column) {
  const double dx = std::fabs(x - column), dy = std::fabs(y - row);
  const double r = painter->preferences.radius;
  if (painter->preferences.brush_shape == _terrain_painter_square) return std::max(dx, dy) <= r;
  return dx * dx + dy * dy <= r * r;
}

// One brush step: the cells inside the brush, and only those, get the current type in both
// halves, in the after grid and on the map, as one journal step.
void paint_brush(double x, double y) {
  painter_state& p = *painter;
  const double r = p.preferences.radius;
  const auto bound = [](double value, int32_t count) {
    return int32_t(std::clamp(std::trunc(value), 0.0, double(std::max(count - 1, 0))));
  };
  const int32_t row0 = bound(y - r + 1, p.grids.rows), row1 = bound(y + r + 1, p.grids.rows);
  const int32_t column0 = bound(x - r + 1, p.grids.columns), column1 = bound(x + r + 1, p.grids.columns);
  const uint8_t types = both_halves(current_type);
  journal_step step(TERRAIN_PAINTER_STEP_NAME);
  if (!step.is_open()) return;
  for (int32_t row = row0; row <= row1; ++row) {
    for (int32_t column = column0; column <= column1; ++column) {
      if (!inside_brush(x, y, row, column)) continue;
      const size_t i = at(row, column);
      p.grids.after[i] = types;
      p.grids.working[i] = types;
      p.batch.dirty.grow(row, column);
      if ((mesh_get_cell(column, row)->terrain_and_flags & TYPE_BITS) == types) continue;
      mesh_cell* cell = edit_journal_cell(column, row);
      cell->terrain_and_flags = uint16_t((cell->terrain_and_flags & ~TYPE_BITS) | types);
    }
  }
  step.commit();
}

// Before a change that is not part of a stroke: the batch is closed, so that its step stays
// whole and the change is a step of its own.
void close_batch() {
  painter_state& p = *painter;
  if (p.batch.state == _painter_batch_stroking) {
    p.batch.batch_serial = edit_journal_merge_after(p.batch.base_serial, TERRAIN_PAINTER_STEP_NAME);
  }
  commit();
}

bool paint_triangle(int32_t world_x, int32_t world_y) {
  const int32_t column = world_x >> WORLD_FRACTIONAL_BITS, row = world_y >> WORLD_FRACTIONAL_BITS;
  if (world_x < 0 || world_y < 0 || column >= mesh_cells_across() || row >= mesh_cells_down()) return false;
  if (!terrain_type_paintable(current_type)) return false;
  const bool odd = (mesh_triangle_at(world_x, world_y) & 1) != 0;
  const uint16_t mask = odd ? uint16_t(_cell_odd_terrain_mask) : uint16_t(_cell_even_terrain_mask);
  const uint16_t bits = uint16_t(odd ? current_type : current_type << 4);
  if ((mesh_get_cell(column, row)->terrain_and_flags & mask) == bits) return true;
  close_batch();
  journal_step step(TERRAIN_PAINTER_TRIANGLE_STEP_NAME);
  if (!step.is_open()) return false;
  mesh_cell* cell = edit_journal_cell(column, row);
  cell->terrain_and_flags = uint16_t((cell->terrain_and_flags & ~mask) | bits);
  const bool recorded = step.commit();
  // The triangle is now part of what lies under the next batch.
  const size_t i = at(row, column);
  painter->grids.before[i] = painter->grids.after[i] =
      uint8_t(mesh_get_cell(column, row)->terrain_and_flags & TYPE_BITS);
  painter_batch_remember_journal(&painter->batch);
  return recorded;
}

}  // namespace

// ---- terrain types ----

bool terrain_type_paintable(int32_t type) {
  return type >= 0 && type < TERRAIN_TYPE_COUNT && type != _terrain_unused_12 && type != _terrain_unused_13;
}

int16_t terrain_painter_current_type() { return current_type; }

bool terrain_painter_set_current_type(int32_t type) {
  if (!terrain_type_paintable(type)) return false;
  current_type = int16_t(type);
  return true;
}

// ---- preferences ----

void terrain_painter_set_defaults(terrain_painter_preferences* preferences) {
  painter_record_set_defaults(record_kind, preferences);
}

bool terrain_painter_preferences_valid(const terrain_painter_preferences& p) {
  return (p.brush_shape == _terrain_painter_circle || p.brush_shape == _terrain_painter_square) &&
         std::isfinite(p.radius) && p.radius > 0;
}

terrain_painter_preferences* terrain_painter_stored_preferences() { return painter_record_stored(record_kind, &own_record); }

// ---- life ----

bool terrain_painter_start() { return painter_start(&painter, record_kind, &own_record, refill); }

void terrain_painter_stop() { painter.reset(); }
bool terrain_painter_active() { return painter != nullptr; }

void terrain_painter_reload_preferences() {
  (void)painter_reload_preferences(painter.get(), record_kind, &own_record);
}

bool terrain_painter_use_preferences(const terrain_painter_preferences& preferences) {
  return painter_use_preferences(painter.get(), record_kind, preferences);
}

const terrain_painter_preferences* terrain_painter_preferences_in_use() {
  return painter ? &painter->preferences : nullptr;
}

int64_t terrain_painter_tick_now() { return painter_tick_now(); }

// ---- painting ----

bool terrain_painter_paint(bool right_button, int32_t world_x, int32_t world_y, int64_t tick) {
  if (!synchronize()) return false;
  if (right_button) return paint_triangle(world_x, world_y);
  painter_batch& batch = painter->batch;
  if (batch.state != _painter_batch_stroking) {
    const bool joins =
        painter_batch_joins(batch, painter->preferences.merge_strokes != 0, tick, TERRAIN_PAINTER_MERGE_TICKS);
    if (!joins) commit();
    painter_batch_begin_stroke(&batch, joins, tick);
  }
  if (tick == batch.last_tick) return true;
  paint_brush(world_x / WORLD_PER_CELL, world_y / WORLD_PER_CELL);
  painter_batch_step_written(&batch, TERRAIN_PAINTER_STEP_NAME, TERRAIN_PAINTER_JOIN_STEPS);
  batch.last_tick = tick;
  painter_batch_remember_journal(&batch);
  return true;
}

void terrain_painter_end_stroke() {
  if (!synchronize()) return;
  painter_state& p = *painter;
  if (!painter_batch_end_stroke(&p.batch, TERRAIN_PAINTER_STEP_NAME)) return;
  // Keys pressed during the stroke changed the record; the painter takes them up now.
  if (std::memcmp(terrain_painter_stored_preferences(), &p.preferences, sizeof(p.preferences)) != 0) {
    terrain_painter_reload_preferences();
  }
}

terrain_fill_result terrain_painter_flood_fill(int32_t column, int32_t row, uint16_t kept_types) {
  terrain_fill_result result;
  if (!mesh_is_open()) return result;
  const int32_t columns = mesh_cells_across(), rows = mesh_cells_down();
  if (column < 0 || row < 0 || column >= columns || row >= rows) return result;
  const int32_t count = columns * rows;
  // The region is listed whole: each cell at most once (the visited bits), so the list never
  // holds more than the grid. Beside each listed cell, its new flag word.
  bit_vector* visited = bit_vector_new(count);
  std::vector<int32_t> list;
  std::vector<uint16_t> words;
  std::vector<int32_t> first_changed, last_changed;  // per row, the columns to note
  try {
    list.reserve(size_t(count));
    words.reserve(size_t(count));
    first_changed.assign(size_t(rows), columns);
    last_changed.assign(size_t(rows), -1);
  } catch (const std::bad_alloc&) {
    bit_vector_dispose(visited);
  }
  if (!visited) {
    POST_ERROR(error_out_of_memory, "the flood fill stopped: couldn't allocate #%d bytes for its cell list.",
               count * 6);
    return result;
  }
  if (painter && synchronize()) close_batch();

  enum : uint8_t { DOWN = 1, RIGHT = 2, UP = 4, LEFT = 8, ALL = DOWN | RIGHT | UP | LEFT };
  // By (upper kept ? 2 : 0) + (lower kept ? 1 : 0) + 4 x (column and row of the same parity).
  static constexpr uint8_t directions[8] = {ALL, UP | LEFT, DOWN | RIGHT, 0, ALL, RIGHT | UP, DOWN | LEFT, 0};
  const uint16_t type = uint16_t(current_type & 0x0F);
  const auto kept = [kept_types](uint32_t t) { return (kept_types >> t) & 1u; };
  const auto append = [&](int32_t c, int32_t r) {
    if (c < 0 || r < 0 || c >= columns || r >= rows) return;
    const int32_t i = r * columns + c;
    if (bit_vector_test(visited, i)) return;
    bit_vector_set(visited, i);
    list.push_back(i);
  };
  // Each cell is read once, when it is processed, so its new word can wait: the writes are made
  // afterwards, each row's changed span noted once rather than cell by cell.
  append(column, row);
  for (size_t next = 0; next < list.size(); ++next) {
    const int32_t c = list[next] % columns, r = list[next] / columns;
    const uint16_t bits = mesh_get_cell(c, r)->terrain_and_flags;
    const uint32_t upper = (bits >> 4) & 0x0F, lower = bits & 0x0F;
    const bool upper_kept = kept(upper), lower_kept = kept(lower);
    const uint8_t ways = directions[(upper_kept ? 2 : 0) + (lower_kept ? 1 : 0) + ((c & 1) == (r & 1) ? 4 : 0)];
    uint16_t changed = bits;
    if (!upper_kept) changed = uint16_t((changed & ~_cell_even_terrain_mask) | (type << 4));
    if (!lower_kept) changed = uint16_t((changed & ~_cell_odd_terrain_mask) | type);
    words.push_back(changed);
    if (changed != bits) {
      result.triangles_set += int32_t(((changed ^ bits) & _cell_even_terrain_mask) != 0) +
                              int32_t(((changed ^ bits) & _cell_odd_terrain_mask) != 0);
      first_changed[size_t(r)] = std::min(first_changed[size_t(r)], c);
      last_changed[size_t(r)] = std::max(last_changed[size_t(r)], c);
    }
    if (ways & DOWN) append(c, r + 1);
    if (ways & RIGHT) append(c + 1, r);
    if (ways & UP) append(c, r - 1);
    if (ways & LEFT) append(c - 1, r);
  }
  bit_vector_dispose(visited);
  result.cells_visited = int32_t(list.size());
  if (result.triangles_set == 0) {
    result.filled = true;
    return result;
  }
  journal_step step(TERRAIN_PAINTER_FILL_STEP_NAME);
  if (!step.is_open()) return result;
  for (int32_t r = 0; r < rows; ++r) {
    if (last_changed[size_t(r)] >= 0) edit_journal_note_cells(first_changed[size_t(r)], r, last_changed[size_t(r)], r);
  }
  mesh_cell* cells = mesh_edit_cells();
  for (size_t k = 0; k < list.size(); ++k) cells[list[k]].terrain_and_flags = words[k];
  result.filled = step.commit();
  if (painter) refill();
  return result;
}

terrain_fill_result terrain_painter_flood_fill_at(int32_t world_x, int32_t world_y) {
  if (!mesh_is_open() || world_x < 0 || world_y < 0) return {};
  const int32_t column = world_x >> WORLD_FRACTIONAL_BITS, row = world_y >> WORLD_FRACTIONAL_BITS;
  if (column >= mesh_cells_across() || row >= mesh_cells_down()) return {};
  const int16_t under = mesh_terrain_at(world_x, world_y);
  return terrain_painter_flood_fill(column, row, uint16_t(~(1u << under)));
}

bool terrain_painter_toggle() {
  if (!synchronize()) return false;
  return painter_batch_toggle(&painter->batch);
}

terrain_painter_stroke_state terrain_painter_state() {
  synchronize();
  return painter ? terrain_painter_stroke_state(painter->batch.state) : _terrain_painter_idle;
}

bool terrain_painter_has_undo() { return terrain_painter_state() != _terrain_painter_idle; }

// ---- keys ----

namespace {

enum : uint8_t { KEY_DELETE = 0x2E, KEY_F8 = 0x77, KEY_F9 = 0x78, KEY_F10 = 0x79 };

std::string format(const char* text, float value) {
  char message[96];
  std::snprintf(message, sizeof(message), text, double(value));
  return message;
}

}  // namespace

std::string terrain_painter_key(uint8_t virtual_key) {
  if (virtual_key == KEY_DELETE) {
    terrain_painter_toggle();
    return "";
  }
  if (virtual_key != KEY_F8 && virtual_key != KEY_F9 && virtual_key != KEY_F10) return "";
  terrain_painter_preferences* record = terrain_painter_stored_preferences();
  // The keys step what the painter uses now; a record the painter refused starts from the defaults.
  if (!terrain_painter_preferences_valid(*record)) terrain_painter_set_defaults(record);
  std::string message;
  switch (virtual_key) {
    case KEY_F8:
      record->brush_shape = record->brush_shape == _terrain_painter_square ? _terrain_painter_circle
                                                                             : _terrain_painter_square;
      message = record->brush_shape == _terrain_painter_square ? "Square Brush" : "Circle Brush";
      break;
    case KEY_F9:
      if (!(record->radius > 0.25f)) return "";
      record->radius = std::max(record->radius - 0.25f, 0.25f);
      message = format("Decreased brush radius to %.3f", record->radius);
      break;
    default:
      record->radius += 0.25f;
      message = format("Increased brush radius to %.3f", record->radius);
      break;
  }
  terrain_painter_reload_preferences();
  return message;
}

// ---- outline ----

bool terrain_painter_get_outline(int32_t world_x, int32_t world_y, std::vector<world_point3d>* outline) {
  outline->clear();
  if (!painter || !mesh_is_open()) return false;
  const terrain_painter_preferences& preferences = painter->preferences;
  const double x = world_x, y = world_y, radius = double(preferences.radius) * WORLD_PER_CELL;
  const auto ground = [](double wx, double wy) {
    const int32_t ix = int32_t(std::clamp(std::round(wx), double(INT32_MIN / 2), double(INT32_MAX / 2)));
    const int32_t iy = int32_t(std::clamp(std::round(wy), double(INT32_MIN / 2), double(INT32_MAX / 2)));
    return world_point3d{ix, iy, mesh_height_at(ix, iy, _mesh_height_ground)};
  };
  const int32_t segments =
      painter_outline_segments(double(preferences.radius), TERRAIN_PAINTER_MAXIMUM_OUTLINE_SEGMENTS);
  const auto point = [&](double ux, double uy) { return ground(x + ux * radius, y + uy * radius); };
  painter_trace_outline(preferences.brush_shape == _terrain_painter_square, segments, point, outline);
  return true;
}
