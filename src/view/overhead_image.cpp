#include "view/overhead_image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "engine/preferences.h"
#include "input/observer.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "world/trigonometry.h"

namespace {

constexpr int32_t TEXELS_PER_CELL_SHIFT = 3;
constexpr int32_t WORLD_UNITS_PER_CELL = 512;
constexpr int32_t WORLD_UNITS_PER_TEXEL_SHIFT = 6;

// The tools whose markers the overhead view draws (the tool table's indexes).
enum : int32_t {
  TOOL_PLACE_SCENERY = 5,
  TOOL_PLACE_MODEL = 6,
  TOOL_PLACE_OBSERVER = 8,
  TOOL_PLACE_PROJECTILE = 10,
  TOOL_PLACE_SOUND_SOURCE = 11,
  TOOL_MAP_ACTIONS = 12,
  TOOL_PLACE_LOCAL_PROJECTILE_GROUP = 13,
  TOOL_PLACE_MODEL_ANIMATION = 14,
};

// The tool preference flag bits.
enum : uint16_t { SHOW_ALL = 0x0001, SHOW_INNER_RADII = 0x0002, SHOW_OUTER_RADII = 0x0004 };

// A scaled coordinate as a whole pixel, truncated; far-off values (a zoom the callers should not
// give, or NaN) are held where converting them is defined.
int32_t whole_pixels(double value) {
  constexpr double limit = double(1 << 30);
  if (!(value == value)) return 0;
  return int32_t(std::clamp(value, -limit, limit));
}

int32_t floor_division(int32_t value, float zoom) {
  return zoom > 0.0f ? whole_pixels(std::floor(double(value) / double(zoom))) : 0;
}

void put_pixel(overhead_image* image, int32_t x, int32_t y, uint16_t pixel) {
  if (x < 0 || y < 0 || x >= image->width || y >= image->height) return;
  image->pixels[size_t(y) * size_t(image->width) + size_t(x)] = pixel;
}

// The stretch of one 256 x 256 tile into S x S pixels at (left, top): a copy at S = 256, the
// nearest texel when enlarging, and the average of the texels each pixel covers when shrinking
// (as a halftone stretch does).
void stretch_tile(const uint16_t* tile, int32_t side, int32_t left, int32_t top, overhead_image* image) {
  for (int32_t y = 0; y < side; ++y) {
    uint16_t* row = image->pixels.data() + size_t(top + y) * size_t(image->width) + size_t(left);
    const int32_t k0 = y * OVERHEAD_TILE_SIZE / side;
    const int32_t k1 = std::max(k0 + 1, (y + 1) * OVERHEAD_TILE_SIZE / side);
    for (int32_t x = 0; x < side; ++x) {
      const int32_t l0 = x * OVERHEAD_TILE_SIZE / side;
      if (side >= OVERHEAD_TILE_SIZE) {
        row[x] = tile[k0 * OVERHEAD_TILE_SIZE + l0];
        continue;
      }
      const int32_t l1 = std::max(l0 + 1, (x + 1) * OVERHEAD_TILE_SIZE / side);
      uint32_t red = 0, green = 0, blue = 0, count = 0;
      for (int32_t k = k0; k < k1; ++k) {
        for (int32_t l = l0; l < l1; ++l) {
          const uint16_t p = tile[k * OVERHEAD_TILE_SIZE + l];
          red += (p >> 10) & 0x1F;
          green += (p >> 5) & 0x1F;
          blue += p & 0x1F;
          ++count;
        }
      }
      row[x] = uint16_t(((red / count) << 10) | ((green / count) << 5) | (blue / count));
    }
  }
}

// Whether a marker of the type is drawn: its entry, or every entry.
bool marker_is_shown(const marker_data& marker, int16_t type, int16_t palette_index) {
  if (marker.type != type) return false;
  return palette_index == OVERHEAD_ALL_ENTRIES || marker.palette_index == palette_index;
}

const marker_palette_entry* marker_entry(const marker_data& marker) {
  return palette_entry_get(marker.type, marker.palette_index);
}

template <typename Record>
const Record* entry_definition(definition_group& group, const marker_palette_entry* entry) {
  if (!entry || entry->definition_index == NONE) return nullptr;
  return static_cast<const Record*>(definition_get_if_loaded(&group, entry->definition_index));
}

// A disc of radius r around a point: the GDI ellipse from (px - r, py - r) to (px + r, py + r).
void point_disc(overhead_image* image, overhead_pixel p, int32_t r, uint16_t pixel) {
  overhead_fill_ellipse(image, p.x - r, p.y - r, p.x + r, p.y + r, pixel);
}

void draw_units(overhead_image* image, const overhead_overlays& overlays, int32_t cells_across) {
  const marker_data* markers = mesh_markers();
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    if (!marker_is_shown(markers[i], _marker_unit, overlays.unit_palette_index)) continue;
    const marker_palette_entry* entry = marker_entry(markers[i]);
    const uint32_t color = entry && entry->team != 0 ? OVERHEAD_TEAM_UNIT_COLOR : OVERHEAD_NEUTRAL_UNIT_COLOR;
    const overhead_pixel p =
        overhead_world_to_pixel({markers[i].location.x, markers[i].location.y}, overlays.zoom, cells_across);
    overhead_fill_rectangle(image, p.x - 1, p.y - 1, p.x + 1, p.y + 1, overhead_pixel_of_color(color));
  }
}

// A radius in world units as pixels: trunc(zoom x (radius >> 6)).
int32_t radius_pixels(int32_t radius, float zoom) {
  return whole_pixels(double(zoom) * double(radius >> WORLD_UNITS_PER_TEXEL_SHIFT));
}

void draw_tool_markers(overhead_image* image, const overhead_overlays& overlays, int32_t cells_across) {
  const marker_data* markers = mesh_markers();
  const uint16_t point = overhead_pixel_of_color(overlays.point_color);
  for (int32_t i = 0; i < mesh_marker_count(); ++i) {
    const marker_data& marker = markers[i];
    if (!marker_is_shown(marker, overlays.tool_marker_type, overlays.tool_palette_index)) continue;
    const overhead_pixel p = overhead_world_to_pixel({marker.location.x, marker.location.y}, overlays.zoom, cells_across);
    const marker_palette_entry* entry = marker_entry(marker);
    if (overlays.tool_drawing == _overhead_draw_sound_sources) {
      point_disc(image, p, overlays.tool_radius, point);
      const auto* sound = entry_definition<ambient_sound_definition>(ambient_sound_definitions, entry);
      if (!sound) continue;
      if (overlays.show_inner_radii) {
        overhead_draw_circle(image, p.x, p.y, radius_pixels(sound->inner_radius, overlays.zoom),
                             overhead_pixel_of_color(OVERHEAD_INNER_RADIUS_COLOR));
      }
      if (overlays.show_outer_radii) {
        overhead_draw_circle(image, p.x, p.y, radius_pixels(sound->outer_radius, overlays.zoom),
                             overhead_pixel_of_color(OVERHEAD_OUTER_RADIUS_COLOR));
      }
      continue;
    }
    uint32_t color = OVERHEAD_POINT_COLOR;
    if (marker.type == _marker_scenery) {
      const auto* scenery = entry_definition<scenery_definition>(scenery_definitions, entry);
      if (scenery && (scenery->flags & SCENERY_FLAG_8)) color = OVERHEAD_FLAGGED_SCENERY_COLOR;
    }
    point_disc(image, p, overlays.tool_radius, overhead_pixel_of_color(color));
  }
}

void draw_point_list(overhead_image* image, const overhead_overlays& overlays, int32_t cells_across) {
  const uint16_t point = overhead_pixel_of_color(overlays.point_color);
  for (size_t i = 0; i < overlays.points.size(); ++i) {
    const overhead_pixel p = overhead_world_to_pixel(overlays.points[i], overlays.zoom, cells_across);
    point_disc(image, p, 2, point);
    if (overlays.points_connected && i + 1 < overlays.points.size()) {
      const overhead_pixel next = overhead_world_to_pixel(overlays.points[i + 1], overlays.zoom, cells_across);
      overhead_draw_line(image, p.x, p.y, next.x, next.y, point);
    }
  }
}

void draw_observer(overhead_image* image, const overhead_overlays& overlays, int32_t cells_across) {
  const uint16_t pixel = overhead_pixel_of_color(overlays.observer_color);
  const overhead_pixel p = overhead_world_to_pixel(overlays.observer_target, overlays.zoom, cells_across);
  point_disc(image, p, 2, pixel);
  // Mirrored left to right, so the heading's x goes the other way.
  const int32_t dx = 7 * world_cosine(overlays.observer_facing) / TRIG_ONE;
  const int32_t dy = 7 * world_sine(overlays.observer_facing) / TRIG_ONE;
  overhead_draw_line(image, p.x, p.y, p.x - dx, p.y + dy, pixel);
}

}  // namespace

uint16_t overhead_pixel_of_color(uint32_t colorref) {
  const uint32_t red = colorref & 0xFF, green = (colorref >> 8) & 0xFF, blue = (colorref >> 16) & 0xFF;
  return uint16_t(((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3));
}

// ---- zoom ----

float overhead_largest_zoom(int32_t columns, int32_t rows) {
  const int32_t most = std::max({columns, rows, int32_t(1)});
  return float(OVERHEAD_MAXIMUM_SIDE / most) / float(OVERHEAD_TILE_SIZE);
}

overhead_zoom_limits overhead_fit_zoom(int32_t desktop_width, int32_t desktop_height, int32_t columns, int32_t rows) {
  float fit = 0.0f;
  if (columns > 0 && rows > 0) {
    const float fx = float(desktop_width) / float(columns * OVERHEAD_TILE_SIZE);
    const float fy = float(std::max(0, desktop_height - 512)) / float(rows * OVERHEAD_TILE_SIZE);
    fit = std::min(fx, fy);
  }
  if (!(fit > 0.0f)) fit = 0.1f;
  overhead_zoom_limits limits;
  // A submesh keeps at least one pixel, and the image at most OVERHEAD_MAXIMUM_SIDE.
  const float largest = overhead_largest_zoom(columns, rows);
  limits.minimum = std::clamp(fit * 0.125f, 1.0f / float(OVERHEAD_TILE_SIZE), largest);
  limits.maximum = std::clamp(fit * 4.0f, limits.minimum, largest);
  limits.fit = std::clamp(fit, limits.minimum, limits.maximum);
  return limits;
}

int32_t overhead_submesh_side(float zoom, int32_t columns, int32_t rows) {
  const int32_t most = std::max({columns, rows, int32_t(1)});
  const float side = std::isfinite(zoom) ? float(OVERHEAD_TILE_SIZE) * zoom : 1.0f;
  return std::clamp(side >= float(OVERHEAD_MAXIMUM_SIDE) ? OVERHEAD_MAXIMUM_SIDE : int32_t(side), int32_t(1),
                    OVERHEAD_MAXIMUM_SIDE / most);
}

// ---- coordinates ----

overhead_pixel overhead_world_to_pixel(world_point2d point, float zoom, int32_t cells_across) {
  // Points come from the map's data (map-action points are any 32-bit values): kept within a map's
  // reach of it, so that the arithmetic cannot overflow and a line to one stays short.
  constexpr int32_t reach = 1 << 21;
  const int32_t x = std::clamp(point.x, -reach, reach), y = std::clamp(point.y, -reach, reach);
  const int32_t from_right = (cells_across * WORLD_UNITS_PER_CELL - x) >> WORLD_UNITS_PER_TEXEL_SHIFT;
  return {whole_pixels(double(zoom) * double(from_right)),
          whole_pixels(double(zoom) * double(y >> WORLD_UNITS_PER_TEXEL_SHIFT))};
}

world_point2d overhead_pixel_to_world(int32_t px, int32_t py, float zoom, int32_t cells_across, int32_t cells_down) {
  if (!(zoom > 0.0f)) zoom = 1.0f;
  // The pixel's centre: half a pixel in from its left and top edges.
  const float texels_from_right = (float(px) + 0.5f) / zoom;
  const float texels_down = (float(py) + 0.5f) / zoom;
  const int32_t right = cells_across * WORLD_UNITS_PER_CELL;
  const int32_t bottom = cells_down * WORLD_UNITS_PER_CELL;
  const float x = float(right) - texels_from_right * 64.0f;
  const float y = texels_down * 64.0f;
  auto clamp_into = [](float value, int32_t limit) {
    if (!(value > 0.0f)) return int32_t(0);
    return value >= float(limit - 1) ? limit - 1 : int32_t(value);
  };
  return {clamp_into(x, right), clamp_into(y, bottom)};
}

int32_t overhead_pixel_column(int32_t px, float zoom, int32_t cells_across) {
  return cells_across - 1 - (floor_division(px, zoom) >> TEXELS_PER_CELL_SHIFT);
}

int32_t overhead_pixel_row(int32_t py, float zoom) { return floor_division(py, zoom) >> TEXELS_PER_CELL_SHIFT; }

overhead_cell_rectangle overhead_band_cells(overhead_pixel a, overhead_pixel b, float zoom, int32_t cells_across,
                                            int32_t cells_down) {
  const int32_t last_column = std::max(cells_across - 1, 0), last_row = std::max(cells_down - 1, 0);
  overhead_cell_rectangle cells;
  // The rightmost pixel shows the lowest column.
  cells.x0 = std::clamp(overhead_pixel_column(std::max(a.x, b.x), zoom, cells_across), 0, last_column);
  cells.x1 = std::clamp(overhead_pixel_column(std::min(a.x, b.x), zoom, cells_across), 0, last_column);
  cells.y0 = std::clamp(overhead_pixel_row(std::min(a.y, b.y), zoom), 0, last_row);
  cells.y1 = std::clamp(overhead_pixel_row(std::max(a.y, b.y), zoom), 0, last_row);
  return cells;
}

// ---- the background ----

bool overhead_build_background(float zoom, overhead_image* background) {
  *background = overhead_image{};
  const mesh_definition* header = mesh_header();
  if (!header) return false;
  const int32_t columns = mesh_width(), rows = mesh_height();
  if (columns <= 0 || rows <= 0) return false;
  const int32_t side = overhead_submesh_side(zoom, columns, rows);
  try {
    background->pixels.assign(size_t(side) * size_t(columns) * size_t(side) * size_t(rows),
                              OVERHEAD_MISSING_TILE_PIXEL);
  } catch (const std::bad_alloc&) {
    return false;
  }
  background->width = side * columns;
  background->height = side * rows;

  const int16_t collection = mesh_landscape_collection();
  const color_table* colors = collection_get_color_table(collection);
  uint16_t table[MAXIMUM_COLORS_PER_TABLE];
  for (int32_t i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
    table[i] = colors ? screen_pixel(colors->colors[i].red, colors->colors[i].green, colors->colors[i].blue)
                      : OVERHEAD_MISSING_TILE_PIXEL;
  }
  std::vector<uint16_t> tile(size_t(OVERHEAD_TILE_SIZE) * OVERHEAD_TILE_SIZE);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < columns; ++c) {
      const int32_t submesh = r * columns + (columns - 1 - c);
      const uint8_t* texture = collection_get_submesh_texture(collection, 2 * submesh, true);
      for (int32_t k = 0; k < OVERHEAD_TILE_SIZE; ++k) {
        uint16_t* out = tile.data() + size_t(k) * OVERHEAD_TILE_SIZE;
        const uint8_t* in = texture ? texture + size_t(k) * OVERHEAD_TILE_SIZE : nullptr;
        for (int32_t l = 0; l < OVERHEAD_TILE_SIZE; ++l)
          out[l] = in ? table[in[OVERHEAD_TILE_SIZE - 1 - l]] : OVERHEAD_MISSING_TILE_PIXEL;
      }
      stretch_tile(tile.data(), side, c * side, r * side, background);
    }
  }
  return true;
}

// ---- the overlays ----

void overhead_overlays_set_tool(overhead_overlays* overlays, int32_t tool, int16_t tool_entry, int16_t unit_entry,
                                const vellgrim_preferences* preferences) {
  auto flags = [preferences](uint16_t vellgrim_preferences::*field) -> uint16_t {
    return preferences ? preferences->*field : uint16_t(0);
  };
  // A 1-based current entry, or all of them.
  auto entries = [](int16_t entry, bool show_all) -> int16_t {
    if (show_all) return OVERHEAD_ALL_ENTRIES;
    return entry > 0 ? int16_t(entry - 1) : int16_t(OVERHEAD_NO_ENTRY);
  };
  overlays->unit_palette_index = entries(unit_entry, flags(&vellgrim_preferences::place_unit_flags) & SHOW_ALL);
  overlays->tool_drawing = _overhead_draw_point_discs;
  overlays->show_inner_radii = overlays->show_outer_radii = false;
  bool show_all = true;
  switch (tool) {
    case TOOL_PLACE_SCENERY:
      overlays->tool_marker_type = _marker_scenery;
      overlays->tool_radius = 1;
      show_all = flags(&vellgrim_preferences::place_scenery_flags) & SHOW_ALL;
      break;
    case TOOL_PLACE_MODEL:
    case TOOL_PLACE_MODEL_ANIMATION:
      overlays->tool_marker_type = tool == TOOL_PLACE_MODEL ? _marker_model : _marker_model_animation;
      overlays->tool_radius = 2;
      show_all = flags(&vellgrim_preferences::place_model_flags) & SHOW_ALL;
      break;
    case TOOL_PLACE_OBSERVER:
      overlays->tool_marker_type = _marker_observer;
      overlays->tool_radius = 2;
      break;
    case TOOL_PLACE_PROJECTILE:
    case TOOL_PLACE_LOCAL_PROJECTILE_GROUP:
      overlays->tool_marker_type = tool == TOOL_PLACE_PROJECTILE ? _marker_projectile : _marker_local_projectile_group;
      overlays->tool_radius = 1;
      break;
    case TOOL_PLACE_SOUND_SOURCE: {
      const uint16_t sound = flags(&vellgrim_preferences::place_sound_source_flags);
      overlays->tool_drawing = _overhead_draw_sound_sources;
      overlays->tool_marker_type = _marker_sound_source;
      overlays->tool_radius = 2;
      overlays->show_inner_radii = sound & SHOW_INNER_RADII;
      overlays->show_outer_radii = sound & SHOW_OUTER_RADII;
      show_all = sound & SHOW_ALL;
      break;
    }
    case TOOL_MAP_ACTIONS:
      overlays->tool_drawing = _overhead_draw_point_list;
      overlays->tool_marker_type = -1;
      overlays->tool_radius = 2;
      break;
    default:
      overlays->tool_drawing = _overhead_draw_nothing;
      overlays->tool_marker_type = -1;
      overlays->tool_radius = 0;
      break;
  }
  overlays->tool_palette_index = entries(tool_entry, show_all);
}

void overhead_overlays_set_observer(overhead_overlays* overlays) {
  const observer_data* observer = observer_get();
  overlays->draw_observer = observer != nullptr;
  if (!observer) return;
  overlays->observer_target = {observer->target.x, observer->target.y};
  overlays->observer_facing = observer->facing;
}

void overhead_compose(const overhead_image& background, const overhead_overlays& overlays, overhead_image* composed) {
  composed->width = background.width;
  composed->height = background.height;
  composed->pixels = background.pixels;
  if (!mesh_is_open() || !(overlays.zoom > 0.0f)) return;
  const int32_t cells_across = mesh_cells_across();
  draw_units(composed, overlays, cells_across);
  switch (overlays.tool_drawing) {
    case _overhead_draw_point_discs:
    case _overhead_draw_sound_sources:
      draw_tool_markers(composed, overlays, cells_across);
      break;
    case _overhead_draw_point_list:
      draw_point_list(composed, overlays, cells_across);
      break;
    default:
      break;
  }
  if (overlays.draw_observer) draw_observer(composed, overlays, cells_across);
  if (overlays.draw_band) {
    const overhead_pixel a = overlays.band_start, b = overlays.band_end;
    overhead_frame_rectangle(composed, std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y),
                             overhead_pixel_of_color(OVERHEAD_BAND_COLOR));
  }
}

// ---- drawing ----

void overhead_fill_rectangle(overhead_image* image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                             uint16_t pixel) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, image->width);
  bottom = std::min(bottom, image->height);
  for (int32_t y = top; y < bottom; ++y)
    for (int32_t x = left; x < right; ++x) image->pixels[size_t(y) * size_t(image->width) + size_t(x)] = pixel;
}

void overhead_fill_ellipse(overhead_image* image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                           uint16_t pixel) {
  if (right <= left || bottom <= top) return;
  // Pixel centres inside the ellipse the rectangle bounds.
  const double cx = (left + right) / 2.0, cy = (top + bottom) / 2.0;
  const double rx = (right - left) / 2.0, ry = (bottom - top) / 2.0;
  for (int32_t y = std::max(top, 0); y < std::min(bottom, image->height); ++y) {
    const double dy = (y + 0.5 - cy) / ry;
    for (int32_t x = std::max(left, 0); x < std::min(right, image->width); ++x) {
      const double dx = (x + 0.5 - cx) / rx;
      if (dx * dx + dy * dy <= 1.0) image->pixels[size_t(y) * size_t(image->width) + size_t(x)] = pixel;
    }
  }
}

void overhead_draw_circle(overhead_image* image, int32_t cx, int32_t cy, int32_t radius, uint16_t pixel) {
  if (radius <= 0) return;
  // Whole circles far outside the image cost nothing.
  if (cx + radius < 0 || cy + radius < 0 || cx - radius >= image->width || cy - radius >= image->height) return;
  int32_t x = radius, y = 0, error = 1 - radius;
  while (x >= y) {
    for (const auto& [dx, dy] : {std::pair{x, y}, std::pair{y, x}}) {
      put_pixel(image, cx + dx, cy + dy, pixel);
      put_pixel(image, cx - dx, cy + dy, pixel);
      put_pixel(image, cx + dx, cy - dy, pixel);
      put_pixel(image, cx - dx, cy - dy, pixel);
    }
    ++y;
    if (error < 0) {
      error += 2 * y + 1;
    } else {
      --x;
      error += 2 * (y - x) + 1;
    }
  }
}

void overhead_draw_line(overhead_image* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t pixel) {
  const int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int32_t error = dx + dy;
  while (x0 != x1 || y0 != y1) {
    put_pixel(image, x0, y0, pixel);
    const int32_t twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x0 += sx;
    }
    if (twice <= dx) {
      error += dx;
      y0 += sy;
    }
  }
}

void overhead_frame_rectangle(overhead_image* image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                              uint16_t pixel) {
  if (right <= left || bottom <= top) return;
  overhead_fill_rectangle(image, left, top, right, top + 1, pixel);
  overhead_fill_rectangle(image, left, bottom - 1, right, bottom, pixel);
  overhead_fill_rectangle(image, left, top, left + 1, bottom, pixel);
  overhead_fill_rectangle(image, right - 1, top, right, bottom, pixel);
}

std::vector<uint8_t> overhead_image_rgb8(const overhead_image& image) {
  std::vector<uint8_t> rgb(image.pixels.size() * 3);
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    const uint16_t p = image.pixels[i];
    const uint8_t channels[3] = {uint8_t((p >> 10) & 0x1F), uint8_t((p >> 5) & 0x1F), uint8_t(p & 0x1F)};
    for (int c = 0; c < 3; ++c) rgb[i * 3 + size_t(c)] = uint8_t((channels[c] << 3) | (channels[c] >> 2));
  }
  return rgb;
}
