#include "tools/height_painter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <random>

#include "cseries/error_manager.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

constexpr float WORLD_PER_CELL = 512.0f;  // a cell unit in world units
// Heights a 16-bit world height can hold, in cell units.
constexpr float LOWEST_HEIGHT = float(INT16_MIN) / WORLD_PER_CELL;
constexpr float HIGHEST_HEIGHT = float(INT16_MAX) / WORLD_PER_CELL;
constexpr float RAISE_RATE_STEP = 1.0f / 120.0f;
constexpr float FILTER_RATE_STEP = 1.0f / 30.0f;
constexpr float MINIMUM_SMOOTHING_RADIUS = 2.01f;

struct rectangle {
  int32_t row0 = -1, column0 = 0, row1 = 0, column1 = 0;  // ends exclusive; row0 -1: empty
  bool empty() const { return row0 < 0 || row0 >= row1 || column0 >= column1; }
};

struct painter_state {
  height_painter_preferences preferences{};
  bool preferences_overridden = false;
  height_painter_stroke_state state = _height_painter_idle;
  double last_x = -1, last_y = -1;
  int64_t last_tick = 0;
  rectangle dirty;
  int32_t columns = 0, rows = 0;
  std::vector<float> source, weight, output;
  std::vector<float> kernel;  // Smooth's, prepared per step
  int32_t kernel_side = 0;
  float kernel_sum = 0;
  // The journal as the painter last left it: a change elsewhere shows in these.
  uint64_t batch_serial = 0;  // the batch's step, 0 when it changed nothing
  uint64_t base_serial = 0;   // the step below the batch
  uint64_t known_undo = 0, known_redo = 0;
  uint32_t known_generation = 0;
  int32_t steps_since_join = 0;  // journal steps of the stroke not yet joined into its batch
};

std::unique_ptr<painter_state> painter;
height_painter_preferences own_record;  // when the editor's record is not loaded
bool own_record_ready = false;
std::minstd_rand noise_random(1);

int32_t world_height(float cells) {
  return int32_t(std::clamp(std::trunc(double(cells) * WORLD_PER_CELL), double(INT16_MIN), double(INT16_MAX)));
}

bool media_type(int32_t type) { return type <= _terrain_deep_media; }

// What the height setter lets a vertex be: at most the cell's water where it has water terrain.
float cap_height(int32_t column, int32_t row, float height) {
  const mesh_cell* cell = mesh_get_cell(column, row);
  const uint16_t bits = cell->terrain_and_flags;
  if (media_type(bits & _cell_odd_terrain_mask) || media_type((bits & _cell_even_terrain_mask) >> 4)) {
    height = std::min(height, float(cell->media_height) / WORLD_PER_CELL);
  }
  return std::clamp(height, LOWEST_HEIGHT, HIGHEST_HEIGHT);
}

size_t at(int32_t row, int32_t column) { return size_t(row) * size_t(painter->columns) + size_t(column); }

void remember_journal() {
  painter->known_undo = edit_journal_undo_serial();
  painter->known_redo = edit_journal_redo_serial();
  painter->known_generation = mesh_cells_generation();
}

// Grids sized for the map and filled from it; no batch. False (reported) when they can't be had.
bool refill() {
  painter_state& p = *painter;
  const int32_t columns = mesh_cells_across(), rows = mesh_cells_down();
  const size_t count = size_t(columns) * size_t(rows);
  try {
    if (p.source.size() != count) {
      // Sized anew only when the grid's size changed.
      p.source.assign(count, 0.0f);
      p.weight.assign(count, 0.0f);
      p.output.assign(count, 0.0f);
    }
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_unknown, "couldn't allocate #%d bytes for the height painter.", int(count * 3 * sizeof(float)));
    p.source = {};
    p.weight = {};
    p.output = {};
    return false;
  }
  p.columns = columns;
  p.rows = rows;
  const mesh_cell* cells = mesh_cells();
  for (size_t i = 0; i < count; ++i) p.source[i] = float(cells[i].ground_height) / WORLD_PER_CELL;
  std::fill(p.weight.begin(), p.weight.end(), 0.0f);
  p.output = p.source;
  p.state = _height_painter_idle;
  p.dirty = {};
  p.batch_serial = 0;
  p.steps_since_join = 0;
  remember_journal();
  return true;
}

// The map shows what the painter expects: the source heights while the batch is off, the
// output heights otherwise.
bool map_matches_grids() {
  const painter_state& p = *painter;
  const std::vector<float>& expected = p.state == _height_painter_toggled_off ? p.source : p.output;
  const mesh_cell* cells = mesh_cells();
  for (size_t i = 0; i < expected.size(); ++i) {
    if (cells[i].ground_height != world_height(expected[i])) return false;
  }
  return true;
}

// Catches up with whatever happened to the map since the painter's last call. Undo and Redo of
// the batch's own step turn it off and on; any other change ends the batch and refills the grids.
bool synchronize() {
  if (!painter) return false;
  if (!mesh_is_open()) return false;
  painter_state& p = *painter;
  if (p.columns != mesh_cells_across() || p.rows != mesh_cells_down() || p.source.empty()) return refill();
  const uint64_t undo = edit_journal_undo_serial(), redo = edit_journal_redo_serial();
  if (mesh_cells_generation() == p.known_generation && undo == p.known_undo && redo == p.known_redo) return true;
  bool kept = false;
  const bool batch_step = p.batch_serial != 0;
  switch (p.state) {
    case _height_painter_painted:
    case _height_painter_toggled_off:
      if (batch_step && undo == p.batch_serial) {
        p.state = _height_painter_painted;
        kept = true;
      } else if (batch_step && redo == p.batch_serial) {
        p.state = _height_painter_toggled_off;
        kept = true;
      } else {
        kept = !batch_step && undo == p.known_undo && redo == p.known_redo;
      }
      break;
    case _height_painter_stroking:
      kept = undo == p.known_undo && redo == p.known_redo;
      break;
    default:
      break;
  }
  if (kept && map_matches_grids()) {
    remember_journal();
    return true;
  }
  return refill();
}

// Accepts the batch (state 3) or discards it (state 2), then forgets it.
void commit() {
  painter_state& p = *painter;
  if (!p.dirty.empty()) {
    for (int32_t row = p.dirty.row0; row < p.dirty.row1; ++row) {
      for (int32_t column = p.dirty.column0; column < p.dirty.column1; ++column) {
        const size_t i = at(row, column);
        if (p.state == _height_painter_painted) p.source[i] = p.output[i];
        if (p.state == _height_painter_toggled_off) p.output[i] = p.source[i];
        p.weight[i] = 0.0f;
      }
    }
  }
  p.dirty = {};
  p.batch_serial = 0;
}

float falloff(float distance) {
  const height_painter_preferences& preferences = painter->preferences;
  if (distance <= preferences.radius) return 1.0f;
  const float edge = preferences.radius + preferences.feather;
  if (distance >= edge) return 0.0f;
  const float s = (edge - distance) / preferences.feather;
  return s * s * (3.0f - 2.0f * s);
}

float brush_distance(double x, double y, int32_t row, int32_t column) {
  const double dx = x - column, dy = y - row;
  if (painter->preferences.brush == _height_painter_square) return float(std::max(std::fabs(dx), std::fabs(dy)));
  return float(std::sqrt(dx * dx + dy * dy));
}

// The brush rectangle, kept off the last row and column, which the painter never writes.
rectangle brush_rectangle(double x, double y) {
  const height_painter_preferences& preferences = painter->preferences;
  const double e = double(preferences.radius) + double(preferences.feather);
  const auto bound = [](double value, int32_t limit) {
    return int32_t(std::clamp(std::trunc(value), 0.0, double(std::max(limit, 0))));
  };
  rectangle r;
  r.row0 = bound(y - e + 1, painter->rows - 1);
  r.column0 = bound(x - e + 1, painter->columns - 1);
  r.row1 = bound(y + e + 1, painter->rows - 1);
  r.column1 = bound(x + e + 1, painter->columns - 1);
  return r;
}

void prepare_smooth(float radius) {
  painter_state& p = *painter;
  // A kernel wider than the grid adds only positions outside it.
  const int32_t n = int32_t(std::clamp(std::trunc(double(radius)), 1.0, double(std::max(p.rows, p.columns) + 1)));
  const int32_t side = 2 * n - 1, centre = n - 1;
  p.kernel.assign(size_t(side) * size_t(side), 0.0f);
  p.kernel_side = side;
  p.kernel_sum = 0;
  for (int32_t i = 0; i < side; ++i) {
    for (int32_t j = 0; j < side; ++j) {
      const float d = float(std::sqrt(double((i - centre) * (i - centre) + (j - centre) * (j - centre))));
      if (d >= radius) continue;
      const float s = (radius - d) / radius;
      const float w = s * s * (3.0f - 2.0f * s);
      p.kernel[size_t(i) * size_t(side) + size_t(j)] = w;
      p.kernel_sum += w;
    }
  }
}

float smooth_sample(int32_t row, int32_t column) {
  const painter_state& p = *painter;
  const int32_t centre = (p.kernel_side - 1) / 2;
  float sum = 0, weights = 0;
  for (int32_t i = 0; i < p.kernel_side; ++i) {
    const int32_t r = row - centre + i;
    if (r < 0 || r >= p.rows) continue;
    const float* kernel_row = &p.kernel[size_t(i) * size_t(p.kernel_side)];
    const float* source_row = &p.source[size_t(r) * size_t(p.columns)];
    for (int32_t j = 0; j < p.kernel_side; ++j) {
      const int32_t c = column - centre + j;
      if (c < 0 || c >= p.columns) continue;
      sum += kernel_row[j] * source_row[c];
      weights += kernel_row[j];
    }
  }
  // The sum less the weights outside the grid, as the stored weight sum minus those positions.
  return weights > 0 ? sum / weights : p.source[at(row, column)];
}

float filter_sample(int16_t filter, float parameter, int32_t row, int32_t column) {
  const float h = painter->source[at(row, column)];
  switch (filter) {
    case _height_painter_elevation_adjustment: return h + parameter;
    case _height_painter_absolute_elevation: return parameter;
    case _height_painter_smooth: return smooth_sample(row, column);
    case _height_painter_noise: return h + parameter * float(noise_random() % 32768u) / 32767.0f;
    default: return h;
  }
}

void paint_tool(const rectangle& r, bool shift, double x, double y, int64_t dt) {
  painter_state& p = *painter;
  const height_painter_preferences& preferences = p.preferences;
  // Flatten moves at the raise rate; its own slot holds the target.
  const float step = float(dt) * preferences.tool_rates[_height_painter_raise] * (shift ? -1.0f : 1.0f);
  const float target = preferences.tool_rates[_height_painter_flatten];
  for (int32_t row = r.row0; row < r.row1; ++row) {
    for (int32_t column = r.column0; column < r.column1; ++column) {
      const float c = falloff(brush_distance(x, y, row, column));
      float& out = p.output[at(row, column)];
      const float d = out;
      if (preferences.tool == _height_painter_raise) {
        out = d + step * c;
      } else if (target > d) {
        out = std::min(d + step * c, target);
      } else if (target < d) {
        out = std::max(d - step * c, target);
      }
    }
  }
}

void paint_filter(const rectangle& r, bool shift, double x, double y, int64_t dt) {
  painter_state& p = *painter;
  const height_painter_preferences& preferences = p.preferences;
  const float rate = preferences.tool_rates[_height_painter_filter];
  for (int32_t row = r.row0; row < r.row1; ++row) {
    for (int32_t column = r.column0; column < r.column1; ++column) {
      const float c = falloff(brush_distance(x, y, row, column));
      if (c == 0.0f) continue;
      float& w = p.weight[at(row, column)];
      if (!shift) {
        if (w < 1.0f) w = std::max(std::min(w + c * float(dt) * rate, c), w);
      } else if (w > 0.0f) {
        w = std::min(std::max(w - c * float(dt) * rate, 0.0f), w);
      }
    }
  }
  const int16_t filter = preferences.filter;
  const float parameter = preferences.filter_parameters[filter];
  if (filter == _height_painter_smooth) prepare_smooth(parameter);
  for (int32_t row = r.row0; row < r.row1; ++row) {
    for (int32_t column = r.column0; column < r.column1; ++column) {
      const size_t i = at(row, column);
      const float h = p.source[i], w = p.weight[i];
      p.output[i] = w == 0.0f ? h : filter_sample(filter, parameter, row, column) * w + (1.0f - w) * h;
    }
  }
  if (filter == _height_painter_smooth) p.kernel = {};
}

// The rectangle's output heights, capped as the setter caps them, into the map: one journal step,
// with the neighbourhood brought up to date once for the whole rectangle.
void write_rectangle(const rectangle& r) {
  painter_state& p = *painter;
  journal_step step(HEIGHT_PAINTER_STEP_NAME);
  bool changed = false;
  for (int32_t row = r.row0; row < r.row1; ++row) {
    for (int32_t column = r.column0; column < r.column1; ++column) {
      float& out = p.output[at(row, column)];
      out = cap_height(column, row, out);
      const int32_t height = world_height(out);
      if (mesh_get_cell(column, row)->ground_height == height) continue;
      changed |= mesh_store_vertex_height(column, row, height);
    }
  }
  if (changed) mesh_update_cells(r.column0, r.row0, r.column1 - 1, r.row1 - 1);
  step.commit();
}

void grow_dirty(const rectangle& r) {
  rectangle& d = painter->dirty;
  if (d.empty()) {
    d = r;
    return;
  }
  d.row0 = std::min(d.row0, r.row0);
  d.column0 = std::min(d.column0, r.column0);
  d.row1 = std::max(d.row1, r.row1);
  d.column1 = std::max(d.column1, r.column1);
}

void load_preferences(const height_painter_preferences& preferences) {
  if (height_painter_preferences_valid(preferences)) {
    painter->preferences = preferences;
  } else {
    height_painter_set_defaults(&painter->preferences);
  }
}

}  // namespace

// ---- preferences ----

void height_painter_set_defaults(height_painter_preferences* preferences) {
  vellgrim_preferences defaults;
  vellgrim_preferences_set_defaults(&defaults);
  *preferences = defaults.height_painter;
}

bool height_painter_preferences_valid(const height_painter_preferences& p) {
  const float values[] = {p.radius, p.feather, p.tool_rates[0], p.tool_rates[1], p.tool_rates[2],
                          p.filter_parameters[0], p.filter_parameters[1], p.filter_parameters[2], p.filter_parameters[3]};
  for (float value : values) {
    if (!std::isfinite(value)) return false;
  }
  return (p.brush == 0 || p.brush == 1) && p.tool >= 0 && p.tool <= 2 && p.filter >= 0 &&
         p.filter < NUMBER_OF_HEIGHT_PAINTER_FILTERS && p.radius > 0 && p.feather >= 0 &&
         p.filter_parameters[_height_painter_smooth] >= 1.0f;
}

height_painter_preferences* height_painter_stored_preferences() {
  if (vellgrim_preferences* record = vellgrim_preferences_get()) return &record->height_painter;
  if (!own_record_ready) {
    height_painter_set_defaults(&own_record);
    own_record_ready = true;
  }
  return &own_record;
}

// ---- life ----

bool height_painter_start() {
  height_painter_stop();
  if (!mesh_is_open()) return false;
  try {
    painter = std::make_unique<painter_state>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  load_preferences(*height_painter_stored_preferences());
  if (!refill()) {
    painter.reset();
    return false;
  }
  return true;
}

void height_painter_stop() { painter.reset(); }
bool height_painter_active() { return painter != nullptr; }

void height_painter_reload_preferences() {
  if (!painter || painter->state == _height_painter_stroking || painter->preferences_overridden) return;
  load_preferences(*height_painter_stored_preferences());
  // A filter's coverage belongs to its batch: the next stroke starts a new one.
  if (painter->preferences.tool == _height_painter_filter) painter->last_tick -= HEIGHT_PAINTER_MERGE_TICKS;
}

bool height_painter_use_preferences(const height_painter_preferences& preferences) {
  if (!painter || !height_painter_preferences_valid(preferences)) return false;
  painter->preferences = preferences;
  painter->preferences_overridden = true;
  return true;
}

const height_painter_preferences* height_painter_preferences_in_use() {
  return painter ? &painter->preferences : nullptr;
}

void height_painter_seed(uint32_t seed) { noise_random.seed(seed ? seed : 1); }

int64_t height_painter_tick_now() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() * 60 / 1000 / 2;
}

// ---- strokes ----

void height_painter_apply(bool shift, double x, double y, int64_t tick) {
  if (!synchronize() || !std::isfinite(x) || !std::isfinite(y)) return;
  painter_state& p = *painter;
  if (p.state != _height_painter_stroking) {
    // A batch that was taken off is discarded whenever a stroke starts: joining it would bring
    // its strokes back with the next toggle.
    const bool joins = p.state == _height_painter_painted && p.preferences.batch_merge != 0 &&
                       tick - p.last_tick <= HEIGHT_PAINTER_MERGE_TICKS;
    if (!joins) {
      commit();
      p.base_serial = edit_journal_undo_serial();
    }
    p.state = _height_painter_stroking;
    p.last_x = p.last_y = -1;
    p.last_tick = tick - 1;
  }
  const int64_t dt = std::clamp<int64_t>(tick - p.last_tick, 0, HEIGHT_PAINTER_MAXIMUM_TICK_STEP);
  if (dt > 0) {
    const rectangle r = brush_rectangle(x, y);
    if (!r.empty()) {
      if (p.preferences.tool == _height_painter_filter) {
        paint_filter(r, shift, x, y, dt);
      } else {
        paint_tool(r, shift, x, y, dt);
      }
      write_rectangle(r);
      grow_dirty(r);
      // A long stroke joins its steps as it goes, so that the journal's step limit never drops
      // the first of them.
      if (++p.steps_since_join >= HEIGHT_PAINTER_JOIN_STEPS) {
        edit_journal_merge_after(p.base_serial, HEIGHT_PAINTER_STEP_NAME);
        p.steps_since_join = 0;
      }
    }
  }
  p.last_x = x;
  p.last_y = y;
  p.last_tick = tick;
  remember_journal();
}

void height_painter_end_stroke() {
  if (!synchronize()) return;
  painter_state& p = *painter;
  if (p.state != _height_painter_stroking) return;
  p.state = _height_painter_painted;
  p.batch_serial = edit_journal_merge_after(p.base_serial, HEIGHT_PAINTER_STEP_NAME);
  p.steps_since_join = 0;
  remember_journal();
  // Keys pressed during the stroke changed the record; the painter takes them up now.
  if (std::memcmp(height_painter_stored_preferences(), &p.preferences, sizeof(p.preferences)) != 0) {
    height_painter_reload_preferences();
  }
}

bool height_painter_toggle() {
  if (!synchronize()) return false;
  painter_state& p = *painter;
  bool toggled = false;
  if (p.state == _height_painter_painted) {
    toggled = p.batch_serial == 0 || edit_journal_undo();
    if (toggled) p.state = _height_painter_toggled_off;
  } else if (p.state == _height_painter_toggled_off) {
    toggled = p.batch_serial == 0 || edit_journal_redo();
    if (toggled) p.state = _height_painter_painted;
  }
  remember_journal();
  return toggled;
}

height_painter_stroke_state height_painter_state() {
  synchronize();
  return painter ? painter->state : _height_painter_idle;
}

bool height_painter_has_undo() { return height_painter_state() != _height_painter_idle; }

// ---- keys ----

namespace {

enum : uint8_t {
  KEY_DELETE = 0x2E,
  KEY_F1 = 0x70,
  KEY_F4 = 0x73,
  KEY_F7 = 0x76,
  KEY_F8,
  KEY_F9,
  KEY_F10,
  KEY_F11,
  KEY_F12,
  KEY_EQUALS = 0xBB,
  KEY_MINUS = 0xBD,
  KEY_LEFT_BRACKET = 0xDB,
  KEY_RIGHT_BRACKET = 0xDD,
};

const char* const filter_messages[NUMBER_OF_HEIGHT_PAINTER_FILTERS] = {
    "Filter Tool: Elevation Adjustment", "Filter Tool: Absolute Elevation", "Filter Tool: Smooth",
    "Filter Tool: Noise"};

std::string format(const char* text, float value) {
  char message[96];
  std::snprintf(message, sizeof(message), text, double(value));
  return message;
}

// Steps a value that must not land on zero: within 0.0001 of it, one step more.
float step_past_zero(float value, float step) {
  value += step;
  if (std::fabs(value) < 0.0001f) value += step;
  return value;
}

// The message of a changed record; "" for a refused change.
std::string change_preferences(height_painter_preferences& p, uint8_t key) {
  if (key >= KEY_F1 && key <= KEY_F4) {
    const int16_t filter = int16_t(key - KEY_F1);
    if (p.tool == _height_painter_filter && p.filter == filter) return "";
    p.tool = _height_painter_filter;
    p.filter = filter;
    return filter_messages[filter];
  }
  const bool down = key == KEY_MINUS || key == KEY_LEFT_BRACKET;
  switch (key) {
    case KEY_F7:
      p.tool = int16_t((p.tool + 1) % 3);
      if (p.tool == _height_painter_raise) return "Raise Tool";
      if (p.tool == _height_painter_flatten) return "Flatten Tool";
      return filter_messages[std::clamp<int16_t>(p.filter, 0, 3)];
    case KEY_F8:
      p.brush = p.brush == _height_painter_square ? _height_painter_circle : _height_painter_square;
      return p.brush == _height_painter_square ? "Square Brush" : "Circle Brush";
    case KEY_F9:
      if (!(p.radius > 0.25f)) return "";
      p.radius = std::max(p.radius - 0.25f, 0.25f);
      return format("Decreased brush radius to %.3f", p.radius);
    case KEY_F10:
      p.radius += 0.25f;
      return format("Increased brush radius to %.3f", p.radius);
    case KEY_F11:
      if (!(p.feather > 0.0f)) return "";
      p.feather = std::max(p.feather - 0.25f, 0.0f);
      return format("Decreased brush feather to %.3f", p.feather);
    case KEY_F12:
      p.feather += 0.25f;
      return format("Increased brush feather to %.3f", p.feather);
    case KEY_MINUS:
    case KEY_EQUALS: {
      float& rate = p.tool_rates[std::clamp<int16_t>(p.tool, 0, 2)];
      switch (p.tool) {
        case _height_painter_raise:
          rate = step_past_zero(rate, down ? -RAISE_RATE_STEP : RAISE_RATE_STEP);
          return format(down ? "Decreased raise rate to %.3f" : "Increased raise rate to %.3f", rate);
        case _height_painter_flatten:
          rate += down ? -0.25f : 0.25f;
          return format(down ? "Decreased elevation to %.3f" : "Increased elevation to %.3f", rate);
        default:
          if (down && !(rate > FILTER_RATE_STEP)) return "";
          rate = down ? std::max(rate - FILTER_RATE_STEP, FILTER_RATE_STEP) : rate + FILTER_RATE_STEP;
          return format(down ? "Decreased filter effect rate to %.3f" : "Increased filter effect rate to %.3f", rate);
      }
    }
    case KEY_LEFT_BRACKET:
    case KEY_RIGHT_BRACKET: {
      float& parameter = p.filter_parameters[std::clamp<int16_t>(p.filter, 0, 3)];
      switch (p.filter) {
        case _height_painter_elevation_adjustment:
          parameter = step_past_zero(parameter, down ? -0.25f : 0.25f);
          return format(down ? "Decreased elevation adjustment to %.3f" : "Increased elevation adjustment to %.3f",
                        parameter);
        case _height_painter_absolute_elevation:
          parameter += down ? -0.25f : 0.25f;
          return format(down ? "Decreased absolute elevation to %.3f" : "Increased absolute elevation to %.3f",
                        parameter);
        case _height_painter_smooth:
          if (down && !(parameter > MINIMUM_SMOOTHING_RADIUS)) return "";
          parameter = down ? std::max(parameter - 0.25f, MINIMUM_SMOOTHING_RADIUS) : parameter + 0.25f;
          return format(down ? "Decreased smoothing radius to %.3f" : "Increased smoothing radius to %.3f", parameter);
        default:
          if (down && !(parameter > 0.2f)) return "";
          parameter = down ? std::max(parameter - 0.2f, 0.2f) : parameter + 0.2f;
          return format(down ? "Decreased noise to %.3f" : "Increased noise to %.3f", parameter);
      }
    }
    default:
      return "";
  }
}

}  // namespace

std::string height_painter_key(uint8_t virtual_key) {
  if (virtual_key == KEY_DELETE) {
    height_painter_toggle();
    return "";
  }
  height_painter_preferences* record = height_painter_stored_preferences();
  // The keys step what the painter uses now; a record the painter refused starts from the defaults.
  if (!height_painter_preferences_valid(*record)) height_painter_set_defaults(record);
  const std::string message = change_preferences(*record, virtual_key);
  if (!message.empty()) height_painter_reload_preferences();
  return message;
}

// ---- outline ----

bool height_painter_get_outline(double x, double y, height_painter_outline* outline) {
  if (!painter || !mesh_is_open() || !std::isfinite(x) || !std::isfinite(y)) return false;
  const height_painter_preferences& preferences = painter->preferences;
  const auto ground = [](double cx, double cy) {
    const auto world = [](double cells) {
      return int32_t(std::clamp(std::round(cells * WORLD_PER_CELL), double(INT32_MIN / 2), double(INT32_MAX / 2)));
    };
    const int32_t wx = world(cx), wy = world(cy);
    return world_point3d{wx, wy, mesh_height_at(wx, wy, _mesh_height_ground)};
  };
  const auto trace = [&](double radius, std::vector<world_point3d>* line) {
    line->clear();
    const int32_t segments = int32_t(std::clamp(std::max(16.0, std::trunc(6.0 * radius)), 16.0,
                                                double(HEIGHT_PAINTER_MAXIMUM_OUTLINE_SEGMENTS)));
    if (preferences.brush == _height_painter_square) {
      // Each side in a quarter of the segments, so the square lies on the ground too.
      const int32_t per_side = std::max(segments / 4, 1);
      const double corners[5][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
      for (int side = 0; side < 4; ++side) {
        for (int32_t k = 0; k < per_side; ++k) {
          const double f = double(k) / per_side;
          const double cx = corners[side][0] + (corners[side + 1][0] - corners[side][0]) * f;
          const double cy = corners[side][1] + (corners[side + 1][1] - corners[side][1]) * f;
          line->push_back(ground(x + cx * radius, y + cy * radius));
        }
      }
    } else {
      for (int32_t k = 0; k < segments; ++k) {
        const double angle = 2.0 * M_PI * k / segments;
        line->push_back(ground(x + radius * std::cos(angle), y + radius * std::sin(angle)));
      }
    }
    line->push_back(line->front());
  };
  trace(preferences.radius, &outline->inner);
  trace(double(preferences.radius) + preferences.feather, &outline->outer);
  return true;
}
