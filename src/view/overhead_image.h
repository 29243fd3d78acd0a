// The overhead image: the whole open map from above, the colour maps scaled to the overhead zoom,
// with the editor's overlays on top (units, the current tool's markers, sound rings, the map-action
// point list, the observer, the rubber band). The editor's overhead window and `vellgrim-tool
// render --overhead` both draw it from here, so they show the same picture.
//
// Geometry. The zoom is pixels per 64 world units (one texel; a cell is 8 x 8 of them). The view is
// mirrored left to right, as the map images are: pixel column px shows texel column
// W x 8 - 1 - floor(px / zoom), W being the map's width in cells. Pixels are 5-5-5, as the screen's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "cseries/value_types.h"

struct vellgrim_preferences;

enum {
  OVERHEAD_TILE_SIZE = 256,      // a submesh's colour map, in texels
  OVERHEAD_MAXIMUM_SIDE = 8192,  // pixels, either side of the image
};

// Colours are 0x00BBGGRR.
inline constexpr uint32_t OVERHEAD_POINT_COLOR = 0xFFB000;
inline constexpr uint32_t OVERHEAD_OBSERVER_COLOR = 0x00FFFF;
inline constexpr uint32_t OVERHEAD_FLAGGED_SCENERY_COLOR = 0x00FFFF;
inline constexpr uint32_t OVERHEAD_TEAM_UNIT_COLOR = 0x0000FF;     // a unit of any team but 0
inline constexpr uint32_t OVERHEAD_NEUTRAL_UNIT_COLOR = 0x00FF00;  // a unit of team 0
inline constexpr uint32_t OVERHEAD_INNER_RADIUS_COLOR = 0xB00000;
inline constexpr uint32_t OVERHEAD_OUTER_RADIUS_COLOR = 0xFFB000;
inline constexpr uint32_t OVERHEAD_BAND_COLOR = 0x00FFFF;
// What a tile without a usable colour map shows (mid grey).
inline constexpr uint16_t OVERHEAD_MISSING_TILE_PIXEL = 0x4210;

// A colour as a 5-5-5 pixel.
uint16_t overhead_pixel_of_color(uint32_t colorref);

// A picture, top row first.
struct overhead_image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint16_t> pixels;

  uint16_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// ---- zoom ----

struct overhead_zoom_limits {
  float fit;
  float minimum;
  float maximum;
};

// The zoom that fits a map of columns x rows submeshes on a desktop (width / (columns x 256) and
// (height - 512) / (rows x 256), the smaller; 0.1 when that is not positive), with its limits
// fit / 8 and fit x 4. The limits also keep a submesh at least one pixel wide and the image within
// OVERHEAD_MAXIMUM_SIDE, and the fit zoom within the limits.
overhead_zoom_limits overhead_fit_zoom(int32_t desktop_width, int32_t desktop_height, int32_t columns, int32_t rows);
// The largest zoom whose image of columns x rows submeshes stays within OVERHEAD_MAXIMUM_SIDE.
float overhead_largest_zoom(int32_t columns, int32_t rows);
// The side of a submesh in pixels: trunc(256 x zoom), at least 1 and small enough that the image
// stays within OVERHEAD_MAXIMUM_SIDE.
int32_t overhead_submesh_side(float zoom, int32_t columns, int32_t rows);

// ---- coordinates (W, H: the map's width and height in cells) ----

struct overhead_pixel {
  int32_t x, y;
};

// Where a world point is drawn: (trunc(zoom x ((W x 512 - x) >> 6)), trunc(zoom x (y >> 6))).
overhead_pixel overhead_world_to_pixel(world_point2d point, float zoom, int32_t cells_across);
// The world point at the centre of a pixel, clamped into the map.
world_point2d overhead_pixel_to_world(int32_t px, int32_t py, float zoom, int32_t cells_across, int32_t cells_down);
// The cell column and row a pixel shows, not clamped (negative or past the map outside it).
int32_t overhead_pixel_column(int32_t px, float zoom, int32_t cells_across);
int32_t overhead_pixel_row(int32_t py, float zoom);

// The cells under a band between two pixels (either order), clamped into the map; inclusive.
struct overhead_cell_rectangle {
  int32_t x0, y0, x1, y1;
};
overhead_cell_rectangle overhead_band_cells(overhead_pixel a, overhead_pixel b, float zoom, int32_t cells_across,
                                            int32_t cells_down);

// ---- the background ----

// The open map's colour maps at the zoom: S x columns by S x rows pixels (S from
// overhead_submesh_side). The submesh in view column c of row r is the map's submesh
// (columns - 1 - c, r), each tile mirrored; colours through the map collection's colour table. A
// tile whose colour map is missing or not a raw 256 x 256 8-bit bitmap is grey. False, leaving the
// image empty, without an open map or without memory for the image.
bool overhead_build_background(float zoom, overhead_image* background);

// ---- the overlays ----

enum overhead_tool_drawing : int16_t {
  _overhead_draw_nothing = 0,
  _overhead_draw_point_discs,  // each marker of the type a disc of the tool's radius
  _overhead_draw_sound_sources,  // discs, and the inner and outer radii when asked
  _overhead_draw_point_list,  // the map-action point list
};

// Which markers of a type: those of one palette entry (0-based, among the type's entries), or all.
enum : int16_t { OVERHEAD_ALL_ENTRIES = -2, OVERHEAD_NO_ENTRY = -1 };

// Everything the overlays are drawn from besides the open map's markers and definitions.
struct overhead_overlays {
  float zoom = 1.0f;
  // Units, whatever the tool: the Place Unit tool's entry, OVERHEAD_ALL_ENTRIES when it shows all.
  int16_t unit_palette_index = OVERHEAD_ALL_ENTRIES;
  // The current tool's markers.
  int16_t tool_drawing = _overhead_draw_nothing;
  int16_t tool_marker_type = -1;
  int16_t tool_palette_index = OVERHEAD_ALL_ENTRIES;
  int16_t tool_radius = 0;
  bool show_inner_radii = false;
  bool show_outer_radii = false;
  // Sound sources and the point list are drawn in the point colour; the placement tools' markers
  // always in OVERHEAD_POINT_COLOR (yellow for flagged scenery).
  uint32_t point_color = OVERHEAD_POINT_COLOR;
  uint32_t observer_color = OVERHEAD_OBSERVER_COLOR;
  std::span<const world_point2d> points;
  bool points_connected = false;
  // The observer's target and facing.
  bool draw_observer = false;
  world_point2d observer_target = {0, 0};
  uint16_t observer_facing = 0;
  // The rubber band, between two pixels.
  bool draw_band = false;
  overhead_pixel band_start = {0, 0};
  overhead_pixel band_end = {0, 0};
};

// The current tool's part of the overlays: what the tool draws, its marker type and radius, and
// which entries (a 1-based current palette entry, -1 or 0 for none, unless the tool's "Show All"
// preference is set). unit_entry is the Place Unit tool's current entry. Preferences may be none
// (nothing shows all, no radii).
void overhead_overlays_set_tool(overhead_overlays* overlays, int32_t tool, int16_t tool_entry, int16_t unit_entry,
                                const vellgrim_preferences* preferences);
// The observer's target and facing as they stand.
void overhead_overlays_set_observer(overhead_overlays* overlays);

// The background with the overlays on it, into `composed` (resized to the background's size).
void overhead_compose(const overhead_image& background, const overhead_overlays& overlays, overhead_image* composed);

// ---- drawing on an image (GDI's conventions: right and bottom edges excluded) ----

void overhead_fill_rectangle(overhead_image* image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                             uint16_t pixel);
void overhead_fill_ellipse(overhead_image* image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                           uint16_t pixel);
void overhead_draw_circle(overhead_image* image, int32_t cx, int32_t cy, int32_t radius, uint16_t pixel);
// From (x0, y0) to (x1, y1), the last pixel left out.
void overhead_draw_line(overhead_image* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t pixel);
void overhead_frame_rectangle(overhead_image* image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                              uint16_t pixel);

// 8-bit red, green, blue triples of an image (for PNG files).
std::vector<uint8_t> overhead_image_rgb8(const overhead_image& image);
