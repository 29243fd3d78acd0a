#include "tools/height_painter.h"

#include <algorithm>
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
#include "tools/painter_batch.h"
#include "tools/painter_outline.h"
#include "tools/painter_preferences.h"
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

static_assert(int(_height_painter_idle) == int(_painter_batch_idle) &&
              int(_height_painter_stroking) == int(_painter_batch_stroking) &&
              int(_height_painter_toggled_off) == int(_painter_batch_off) &&
              int(_height_painter_painted) == int(_painter_batch_on));

struct painter_state {
  height_painter_preferences preferences{};
  bool preferences_overridden = false;
  double last_x = -1, last_y = -1;
  painter_batch batch;
  // Before: the source heights; after: the output heights; working: the filter's coverage.
  painter_grids<float, float> grids;
  std::vector<float> kernel;  // Smooth's, prepared per step
  int32_t kernel_side = 0;
  float kernel_sum = 0;
};

std::unique_ptr<painter_state> painter;
constexpr painter_record_kind<height_painter_preferences> record_kind{&vellgrim_preferences::height_painter,
                                                         height_painter_preferences_valid};
painter_own_record<height_painter_preferences> own_record;  // when the editor's record is not loaded
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

size_t at(int32_t row, int32_t column) { return size_t(row) * size_t(painter->grids.columns) + size_t(column); }

// Grids sized for the map and filled from it; no batch. False (reported) when they can't be had.
bool refill() {
  painter_state& p = *painter;
  const auto height = [](const mesh_cell& cell) { return float(cell.ground_height) / WORLD_PER_CELL; };
  if (!painter_grids_refill(&p.grids, 0.0f, height)) {
    const size_t count = size_t(mesh_cells_across()) * size_t(mesh_cells_down());
    POST_ERROR(error_unknown, "couldn't allocate #%d bytes for the height painter.", int(count * 3 * sizeof(float)));
    return false;
  }
  painter_batch_forget(&p.batch);
  return true;
}

// The map shows what the painter expects: the source heights while the batch is off, the
// output heights otherwise.
bool map_matches_grids() {
  const painter_state& p = *painter;
  const std::vector<float>& expected = p.batch.state == _painter_batch_off ? p.grids.before : p.grids.after;
  const mesh_cell* cells = mesh_cells();
  for (size_t i = 0; i < expected.size(); ++i) {
    if (cells[i].ground_height != world_height(expected[i])) return false;
  }
  return true;
}

// Catches up with whatever happened to the map since the painter's last call.
bool synchronize() {
  if (!painter || !mesh_is_open()) return false;
  return painter_synchronize(&painter->batch, painter->grids, refill, map_matches_grids);
}

// Accepts the batch (painted) or discards it (taken off), then forgets it.
void commit() { painter_grids_commit(&painter->grids, &painter->batch, 0.0f); }

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
  r.row0 = bound(y - e + 1, painter->grids.rows - 1);
  r.column0 = bound(x - e + 1, painter->grids.columns - 1);
  r.row1 = bound(y + e + 1, painter->grids.rows - 1);
  r.column1 = bound(x + e + 1, painter->grids.columns - 1);
  return r;
}

void prepare_smooth(float radius) {
  painter_state& p = *painter;
  // A kernel wider than the grid adds only positions outside it.
  const int32_t n = int32_t(std::clamp(std::trunc(double(radius)), 1.0, double(std::max(p.grids.rows, p.grids.columns) + 1)));
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
    if (r < 0 || r >= p.grids.rows) continue;
    const float* kernel_row = &p.kernel[size_t(i) * size_t(p.kernel_side)];
    const float* source_row = &p.grids.before[size_t(r) * size_t(p.grids.columns)];
    for (int32_t j = 0; j < p.kernel_side; ++j) {
      const int32_t c = column - centre + j;
      if (c < 0 || c >= p.grids.columns) continue;
      sum += kernel_row[j] * source_row[c];
      weights += kernel_row[j];
    }
  }
  // The sum less the weights outside the grid, as the stored weight sum minus those positions.
  return weights > 0 ? sum / weights : p.grids.before[at(row, column)];
}

float filter_sample(int16_t filter, float parameter, int32_t row, int32_t column) {
  const float h = painter->grids.before[at(row, column)];
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
      float& out = p.grids.after[at(row, column)];
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
      float& w = p.grids.working[at(row, column)];
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
      const float h = p.grids.before[i], w = p.grids.working[i];
      p.grids.after[i] = w == 0.0f ? h : filter_sample(filter, parameter, row, column) * w + (1.0f - w) * h;
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
      float& out = p.grids.after[at(row, column)];
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
  painter->batch.dirty.grow(r.row0, r.column0);
  painter->batch.dirty.grow(r.row1 - 1, r.column1 - 1);
}

}  // namespace

// ---- preferences ----

void height_painter_set_defaults(height_painter_preferences* preferences) {
  painter_record_set_defaults(record_kind, preferences);
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

height_painter_preferences* height_painter_stored_preferences() { return painter_record_stored(record_kind, &own_record); }

// ---- life ----

bool height_painter_start() { return painter_start(&painter, record_kind, &own_record, refill); }

void height_painter_stop() { painter.reset(); }
bool height_painter_active() { return painter != nullptr; }

void height_painter_reload_preferences() {
  if (!painter_reload_preferences(painter.get(), record_kind, &own_record)) return;
  // A filter's coverage belongs to its batch: the next stroke starts a new one.
  if (painter->preferences.tool == _height_painter_filter) painter->batch.last_tick -= HEIGHT_PAINTER_MERGE_TICKS;
}

bool height_painter_use_preferences(const height_painter_preferences& preferences) {
  return painter_use_preferences(painter.get(), record_kind, preferences);
}

const height_painter_preferences* height_painter_preferences_in_use() {
  return painter ? &painter->preferences : nullptr;
}

void height_painter_seed(uint32_t seed) { noise_random.seed(seed ? seed : 1); }

int64_t height_painter_tick_now() { return painter_tick_now(); }

// ---- strokes ----

void height_painter_apply(bool shift, double x, double y, int64_t tick) {
  if (!synchronize() || !std::isfinite(x) || !std::isfinite(y)) return;
  painter_state& p = *painter;
  painter_batch& batch = p.batch;
  if (batch.state != _painter_batch_stroking) {
    const bool joins = painter_batch_joins(batch, p.preferences.batch_merge != 0, tick, HEIGHT_PAINTER_MERGE_TICKS);
    if (!joins) commit();
    painter_batch_begin_stroke(&batch, joins, tick);
    p.last_x = p.last_y = -1;
  }
  const int64_t dt = std::clamp<int64_t>(tick - batch.last_tick, 0, HEIGHT_PAINTER_MAXIMUM_TICK_STEP);
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
      painter_batch_step_written(&batch, HEIGHT_PAINTER_STEP_NAME, HEIGHT_PAINTER_JOIN_STEPS);
    }
  }
  p.last_x = x;
  p.last_y = y;
  batch.last_tick = tick;
  painter_batch_remember_journal(&batch);
}

void height_painter_end_stroke() {
  if (!synchronize()) return;
  painter_state& p = *painter;
  if (!painter_batch_end_stroke(&p.batch, HEIGHT_PAINTER_STEP_NAME)) return;
  // Keys pressed during the stroke changed the record; the painter takes them up now.
  if (std::memcmp(height_painter_stored_preferences(), &p.preferences, sizeof(p.preferences)) != 0) {
    height_painter_reload_preferences();
  }
}

bool height_painter_toggle() {
  if (!synchronize()) return false;
  return painter_batch_toggle(&painter->batch);
}

height_painter_stroke_state height_painter_state() {
  synchronize();
  return painter ? height_painter_stroke_state(painter->batch.state) : _height_painter_idle;
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
    const auto point = [&](double ux, double uy) { return ground(x + ux * radius, y + uy * radius); };
    painter_trace_outline(preferences.brush == _height_painter_square,
                          painter_outline_segments(radius, HEIGHT_PAINTER_MAXIMUM_OUTLINE_SEGMENTS), point, line);
  };
  trace(preferences.radius, &outline->inner);
  trace(double(preferences.radius) + preferences.feather, &outline->outer);
  return true;
}
