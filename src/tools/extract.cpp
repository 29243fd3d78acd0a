#include "tools/extract.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cseries/error_manager.h"
#include "engine/preferences.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "platform/ui_host.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "tools/reflection_map_utils.h"
#include "tools/tool_messages.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

constexpr map_layer_definition layer_definitions[NUMBER_OF_MAP_LAYERS] = {
    {"color", "Untitled Color Map", "Save color map as:", true},
    {"shadow", "Untitled Shadow Map", "Save shadow map as:", true},
    {"displacement", "Untitled Displacement Map", "Save displacement map as:", true},
    {"water", "Untitled Water Level Map", "Save water level map as:", true},
    {"terrain", "Untitled Terrain Map", "Save terrain map as:", true},
    {"reflection", "Untitled Reflection Map", "Save reflection map as:", false},
};

enum { PIXELS_PER_CELL = TEXELS_PER_CELL, TERRAIN_PIXEL_STEP = 16 };

// The mesh pixels an image covers: the whole map or one submesh.
struct image_frame {
  int32_t left, top, width, height;
  // Image column X shows mesh pixel column left + width - 1 - X.
  int32_t mesh_column(int32_t image_column) const { return left + width - 1 - image_column; }
  int32_t image_column(int32_t mesh_column) const { return left + width - 1 - mesh_column; }
};

bool frame_of(int32_t submesh, image_frame* frame) {
  if (!mesh_is_open()) return false;
  if (submesh == EXTRACT_WHOLE_MESH) {
    *frame = {0, 0, mesh_cells_across() * PIXELS_PER_CELL, mesh_cells_down() * PIXELS_PER_CELL};
    return true;
  }
  const int32_t width = mesh_width();
  if (submesh < 0 || submesh >= width * mesh_height()) return false;
  *frame = {(submesh % width) * TEXELS_PER_SUBMESH, (submesh / width) * TEXELS_PER_SUBMESH, TEXELS_PER_SUBMESH,
            TEXELS_PER_SUBMESH};
  return true;
}

// The submesh's colour (layer 0) or shadow (layer 1) bitmap, when it is the raw 256 x 256 8-bit
// bitmap a map collection holds.
bitmap_data* texture_bitmap(int32_t submesh, int16_t layer) {
  const int16_t collection = mesh_landscape_collection();
  bitmap_data* bitmap = collection_get_bitmap(collection, 2 * submesh + (layer == _map_layer_shadow ? 1 : 0));
  if (!bitmap || bitmap->width != TEXELS_PER_SUBMESH || bitmap->height != TEXELS_PER_SUBMESH ||
      bitmap->bits_per_pixel != 8 || (bitmap->flags & BITMAP_IS_ENCODED)) {
    return nullptr;
  }
  return bitmap;
}

int32_t submesh_at_pixel(int32_t column, int32_t row) {
  return (row / TEXELS_PER_SUBMESH) * mesh_width() + column / TEXELS_PER_SUBMESH;
}

bool allocate_image(bitmap_image* image, int32_t width, int32_t height) {
  try {
    image->pixels.assign(size_t(width) * size_t(height), 0);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %lld bytes for the map image.",
               static_cast<long long>(int64_t(width) * height));
    return false;
  }
  image->width = width;
  image->height = height;
  return true;
}

rgb_color average(const rgb_color& a, const rgb_color& b) {
  return {uint16_t((uint32_t(a.red) + b.red) >> 1), uint16_t((uint32_t(a.green) + b.green) >> 1),
          uint16_t((uint32_t(a.blue) + b.blue) >> 1), 0};
}

// ---- building images ----

bool build_texture_image(int16_t layer, const image_frame& frame, bitmap_image* image) {
  for (int32_t y = 0; y < frame.height; ++y) {
    const int32_t row = frame.top + y;
    for (int32_t left = frame.left; left < frame.left + frame.width; left += TEXELS_PER_SUBMESH) {
      const int32_t submesh = submesh_at_pixel(left, row);
      const bitmap_data* bitmap = texture_bitmap(submesh, layer);
      if (!bitmap) {
        POST_ERROR(error_data_mismatch, "the map's collection has no %s map for submesh #%d.",
                   layer == _map_layer_color ? "color" : "shadow", submesh);
        return false;
      }
      const uint8_t* pixels = bitmap_get_row(bitmap, row % TEXELS_PER_SUBMESH);
      for (int32_t m = 0; m < TEXELS_PER_SUBMESH; ++m) image->row(y)[frame.image_column(left + m)] = pixels[m];
    }
  }
  if (layer == _map_layer_color) {
    const color_table* colors = collection_get_color_table(mesh_landscape_collection());
    for (int i = 0; i < BITMAP_PALETTE_ENTRIES && colors; ++i) {
      const rgb_color& c = colors->colors[i];
      image->palette[i] = {uint8_t(c.blue >> 8), uint8_t(c.green >> 8), uint8_t(c.red >> 8), 0};
    }
  }
  return true;
}

// Whole-map images are built cell by cell (a cell is 8 x 8 pixels): the corner heights and the
// triangle pattern are looked up once per cell, not once per pixel.
bool build_height_image(int16_t layer, const image_frame& frame, int32_t lower, int32_t upper, bitmap_image* image) {
  const int32_t first_x = frame.left / PIXELS_PER_CELL, first_y = frame.top / PIXELS_PER_CELL;
  const int32_t cells_across = frame.width / PIXELS_PER_CELL, cells_down = frame.height / PIXELS_PER_CELL;
  const bool displacement = layer == _map_layer_displacement;
  int64_t clipped = 0;
  {
    ui_progress_scope progress(displacement ? "Exporting the displacement map" : "Exporting the water level map",
                               cells_down, true);
    // Every height lies between corner heights (or is the height of a cell without ground): one
    // table lookup a pixel instead of a division, the table only as long as the map's heights run,
    // so it stays in the cache.
    int32_t lowest = INT16_MAX, highest = INT16_MIN;
    auto include = [&](int32_t h) {
      lowest = std::min(lowest, h);
      highest = std::max(highest, h);
    };
    for (int32_t i = 0; i < mesh_cell_count(); ++i) {
      const mesh_cell& cell = mesh_cells()[i];
      include(displacement ? cell.ground_height : cell.media_height);
      if (displacement && (cell.terrain_and_flags & _cell_no_ground)) include(NO_GROUND_HEIGHT);
    }
    std::vector<uint8_t> pixel_of(size_t(std::max(highest - lowest + 1, 1)));
    for (int32_t h = lowest; h <= highest; ++h) pixel_of[size_t(h - lowest)] = extract_height_to_pixel(h, lower, upper);
    int32_t heights[PIXELS_PER_CELL * PIXELS_PER_CELL];
    for (int32_t cy = 0; cy < cells_down; ++cy) {
      if (!progress.step(cy)) return false;
      for (int32_t cx = 0; cx < cells_across; ++cx) {
        const int32_t cell_x = first_x + cx, cell_y = first_y + cy;
        const mesh_cell* cell = mesh_get_cell(cell_x, cell_y);
        if (displacement) {
          mesh_cell_heights(cell_x, cell_y, _mesh_height_ground, WORLD_UNITS_PER_TEXEL, heights);
        } else {
          std::fill(std::begin(heights), std::end(heights), int32_t(cell->media_height));
        }
        const int32_t vertex = displacement ? cell->ground_height : cell->media_height;
        if (vertex < lower || vertex > upper) ++clipped;
        // The image runs right to left: the cell's first pixel is the rightmost of its eight.
        const int32_t rightmost = frame.image_column(cell_x * PIXELS_PER_CELL);
        for (int32_t j = 0; j < PIXELS_PER_CELL; ++j) {
          uint8_t* pixels = image->row(cy * PIXELS_PER_CELL + j) + rightmost;
          const int32_t* from = heights + j * PIXELS_PER_CELL;
          for (int32_t i = 0; i < PIXELS_PER_CELL; ++i) {
            pixels[-i] = pixel_of[size_t(std::clamp(from[i], lowest, highest) - lowest)];
          }
        }
      }
    }
  }  // the progress ends before any box
  // Clipped heights come back flat at the bound on import: say so while the map is still intact.
  if (clipped > 0) {
    tool_show_warning("%lld of %lld %s lay outside the displacement bounds %.2f to %.2f; the image shows them at the bound.",
                      static_cast<long long>(clipped), static_cast<long long>(int64_t(cells_across) * cells_down),
                      displacement ? "vertices" : "water levels", lower / double(WORLD_ONE),
                      upper / double(WORLD_ONE));
  }
  return true;
}

bool build_terrain_image(const image_frame& frame, bitmap_image* image) {
  // Each pixel shows the triangle under its centre; which triangle that is depends only on the
  // cell's parity, so the pattern is taken once from the first two cells.
  const int32_t centre = WORLD_UNITS_PER_TEXEL / 2;
  bool odd_triangle[2][PIXELS_PER_CELL * PIXELS_PER_CELL];
  for (int32_t parity = 0; parity < 2; ++parity) {
    for (int32_t j = 0; j < PIXELS_PER_CELL; ++j) {
      for (int32_t i = 0; i < PIXELS_PER_CELL; ++i) {
        odd_triangle[parity][i + j * PIXELS_PER_CELL] =
            (mesh_triangle_at(parity * WORLD_ONE + i * WORLD_UNITS_PER_TEXEL + centre, j * WORLD_UNITS_PER_TEXEL + centre) & 1) != 0;
      }
    }
  }
  const int32_t first_x = frame.left / PIXELS_PER_CELL, first_y = frame.top / PIXELS_PER_CELL;
  const int32_t cells_across = frame.width / PIXELS_PER_CELL, cells_down = frame.height / PIXELS_PER_CELL;
  ui_progress_scope progress("Exporting the terrain map", cells_down, true);
  for (int32_t cy = 0; cy < cells_down; ++cy) {
    if (!progress.step(cy)) return false;
    for (int32_t cx = 0; cx < cells_across; ++cx) {
      const int32_t cell_x = first_x + cx, cell_y = first_y + cy;
      const uint16_t bits = mesh_get_cell(cell_x, cell_y)->terrain_and_flags;
      const uint8_t pixel[2] = {uint8_t(TERRAIN_PIXEL_STEP * ((bits >> 4) & 0x0F)), uint8_t(TERRAIN_PIXEL_STEP * (bits & 0x0F))};
      const bool* pattern = odd_triangle[(cell_x + cell_y) & 1];
      for (int32_t j = 0; j < PIXELS_PER_CELL; ++j) {
        uint8_t* row = image->row(cy * PIXELS_PER_CELL + j);
        for (int32_t i = 0; i < PIXELS_PER_CELL; ++i) {
          row[frame.image_column(cell_x * PIXELS_PER_CELL + i)] = pixel[pattern[i + j * PIXELS_PER_CELL] ? 1 : 0];
        }
      }
    }
  }
  return true;
}

// ---- applying images ----

// The image pixel at a mesh pixel inside the frame.
uint8_t pixel_at(const bitmap_image& image, const image_frame& frame, int32_t column, int32_t row) {
  return image.at(frame.image_column(column), row - frame.top);
}

bool apply_texture_image(int16_t layer, const image_frame& frame, const bitmap_image& image) {
  const int16_t collection = mesh_landscape_collection();
  // Each bitmap is written as it is filled, so the import goes to its end once begun.
  const int32_t across = frame.width / TEXELS_PER_SUBMESH;
  ui_progress_scope progress(layer == _map_layer_color ? "Importing the color map" : "Importing the shadow map",
                             int64_t(across) * (frame.height / TEXELS_PER_SUBMESH), false);
  for (int32_t top = frame.top; top < frame.top + frame.height; top += TEXELS_PER_SUBMESH) {
    for (int32_t left = frame.left; left < frame.left + frame.width; left += TEXELS_PER_SUBMESH) {
      progress.step(int64_t((top - frame.top) / TEXELS_PER_SUBMESH) * across + (left - frame.left) / TEXELS_PER_SUBMESH);
      const int32_t submesh = submesh_at_pixel(left, top);
      bitmap_data* bitmap = texture_bitmap(submesh, layer);
      if (!bitmap) {
        POST_ERROR(error_data_mismatch, "the map's collection has no %s map for submesh #%d.",
                   layer == _map_layer_color ? "color" : "shadow", submesh);
        return false;
      }
      for (int32_t r = 0; r < TEXELS_PER_SUBMESH; ++r) {
        uint8_t* pixels = bitmap_get_row(bitmap, r);
        for (int32_t m = 0; m < TEXELS_PER_SUBMESH; ++m) pixels[m] = pixel_at(image, frame, left + m, top + r);
      }
      // For a shadow map this is the protected bit: the shadow computation leaves it alone.
      bitmap->flags = int16_t(bitmap->flags | BITMAP_IS_PROTECTED);
      const int32_t index = 2 * submesh + (layer == _map_layer_shadow ? 1 : 0);
      if (!collection_write_bitmap(collection, index)) {
        POST_ERROR(error_file_write, "couldn't write bitmap #%d to the map's collection.", index);
        return false;
      }
    }
  }
  return true;
}

// One sample per vertex: the vertex of cell (x, y) takes the pixel at mesh pixel (8x, 8y).
void apply_height_image(int16_t layer, const image_frame& frame, const bitmap_image& image, int32_t lower,
                        int32_t upper) {
  const int32_t x0 = frame.left / PIXELS_PER_CELL, y0 = frame.top / PIXELS_PER_CELL;
  const int32_t x1 = x0 + frame.width / PIXELS_PER_CELL - 1, y1 = y0 + frame.height / PIXELS_PER_CELL - 1;
  // Every cell the heights and their neighbourhood update touch, noted once for the journal.
  edit_journal_note_cells(x0 - 1, y0 - 1, x1 + 1, y1 + 1);
  ui_progress_scope progress(layer == _map_layer_displacement ? "Importing the displacement map"
                                                              : "Importing the water level map",
                             y1 - y0 + 2, false);
  for (int32_t y = y0; y <= y1; ++y) {
    progress.step(y - y0);
    for (int32_t x = x0; x <= x1; ++x) {
      const int32_t height =
          extract_pixel_to_height(pixel_at(image, frame, x * PIXELS_PER_CELL, y * PIXELS_PER_CELL), lower, upper);
      // Inside the grid by the frame: the setters can't refuse.
      if (layer == _map_layer_displacement) {
        (void)mesh_store_vertex_height(x, y, height);
      } else {
        (void)mesh_store_media_height(x, y, height);
      }
    }
  }
  mesh_update_cells(x0, y0, x1, y1);
  progress.step(y1 - y0 + 1);
}

// One sample per triangle, inside the triangle away from the diagonal; water types are kept.
void apply_terrain_image(const image_frame& frame, const bitmap_image& image) {
  struct sample {
    int32_t column, row;
    int shift;  // 0: the odd triangle's nibble, 4: the even one's
  };
  static constexpr sample even_parity[2] = {{6, 2, 0}, {2, 6, 4}};
  static constexpr sample odd_parity[2] = {{2, 2, 4}, {6, 6, 0}};
  const int32_t x0 = frame.left / PIXELS_PER_CELL, y0 = frame.top / PIXELS_PER_CELL;
  edit_journal_note_cells(x0, y0, x0 + frame.width / PIXELS_PER_CELL - 1, y0 + frame.height / PIXELS_PER_CELL - 1);
  for (int32_t y = y0; y < y0 + frame.height / PIXELS_PER_CELL; ++y) {
    for (int32_t x = x0; x < x0 + frame.width / PIXELS_PER_CELL; ++x) {
      mesh_cell* cell = mesh_edit_cell(x, y);
      for (const sample& s : ((x + y) & 1) ? odd_parity : even_parity) {
        const int32_t current = (cell->terrain_and_flags >> s.shift) & 0x0F;
        if (current <= _terrain_deep_media) continue;
        const uint8_t v = pixel_at(image, frame, x * PIXELS_PER_CELL + s.column, y * PIXELS_PER_CELL + s.row);
        cell->terrain_and_flags =
            uint16_t((cell->terrain_and_flags & ~(0x0F << s.shift)) | ((v >> 4) << s.shift));
      }
    }
  }
}

// ---- reading files ----

enum size_rule { _size_whole_map, _size_submesh, _size_exact_map };

// Reads the whole bitmap, showing each refusal; nothing is read past a refusal.
bool read_bitmap(const std::string& path, size_rule rule, bitmap_image* image) {
  bitmap_header header;
  const bitmap_file_result result = bitmap_read_header(path, &header);
  const char* name = path.c_str();
  switch (result) {
    case _bitmap_file_valid:
    case _bitmap_file_bad_size:
    case _bitmap_file_pixels_outside:
      break;  // the dimensions are checked first, as for a file that is whole
    case _bitmap_file_unreadable:
      tool_show_error("%s could not be opened.", name);
      return false;
    case _bitmap_file_not_a_bitmap:
      tool_show_error("%s is not a valid bitmap file!", name);
      return false;
    case _bitmap_file_unsupported:
      tool_show_error("Vellgrim only supports 8-bit uncompressed Windows bitmaps");
      return false;
    case _bitmap_file_short_header:
    case _bitmap_file_short_palette:
      tool_show_error("%s is too short to be a bitmap file.", name);
      return false;
  }
  const int32_t w = header.width, h = header.height;
  switch (rule) {
    case _size_submesh:
      if (w != TEXELS_PER_SUBMESH || h != TEXELS_PER_SUBMESH) {
        tool_show_error("This bitmap has dimensions %dx%d.\nA submesh must have dimensions %dx%d.", w, h,
                        int(TEXELS_PER_SUBMESH), int(TEXELS_PER_SUBMESH));
        return false;
      }
      break;
    case _size_whole_map:
      if (w <= 0 || h <= 0 || w % TEXELS_PER_SUBMESH != 0 || h % TEXELS_PER_SUBMESH != 0) {
        tool_show_error("This bitmap has dimensions %dx%d.\nBitmap dimensions must be an even multiple of %d.", w, h,
                        int(TEXELS_PER_SUBMESH));
        return false;
      }
      if (result == _bitmap_file_bad_size) {
        tool_show_error("This bitmap has dimensions %dx%d.\nA map may be at most %d pixels wide and high.", w, h,
                        int(BITMAP_MAXIMUM_SIDE));
        return false;
      }
      break;
    case _size_exact_map: {
      const int32_t mesh_w = mesh_cells_across() * PIXELS_PER_CELL, mesh_h = mesh_cells_down() * PIXELS_PER_CELL;
      if (w != mesh_w || h != mesh_h) {
        tool_show_error("This bitmap has dimensions %dx%d. The current mesh has dimensions %dx%d.", w, h, mesh_w,
                        mesh_h);
        return false;
      }
      break;
    }
  }
  if (result == _bitmap_file_pixels_outside && header.pixel_offset < BITMAP_PALETTE_OFFSET) {
    // Not a short file: the header points its rows at its own headers.
    tool_show_error("%s is damaged: its pixels are said to start at byte %u, inside its headers.", name,
                    unsigned(header.pixel_offset));
    return false;
  }
  if (result == _bitmap_file_pixels_outside) {
    tool_show_error("%s is cut short: its %dx%d pixels are not all in the file.", name, w, h);
    return false;
  }
  const bitmap_file_result pixels = bitmap_read_pixels(path, header, image);
  if (pixels != _bitmap_file_valid) {
    tool_show_error("%s %s.", name, bitmap_file_result_text(pixels));
    return false;
  }
  return true;
}

// ---- colour tables ----

bool read_collection_header(int32_t tag_index, collection_header* header) {
  if (tag_file_get_size(tag_index) < int32_t(sizeof(collection_header)) ||
      !tag_file_read(tag_index, 0, sizeof(collection_header), header) ||
      !byte_swap_data(collection_header_description, header, sizeof(collection_header), 1)) {
    return false;
  }
  return int64_t(header->data_offset) + header->data_size <= tag_file_get_size(tag_index);
}

// A block of the data area with room for size bytes.
bool block_holds(const collection_header& header, const collection_block& block, int64_t size) {
  return block.count > 0 && block.size >= size && int64_t(block.offset) + size <= header.data_size;
}

bool write_color_tables(map_color_tables& tables) {
  const mesh_definition& map = *mesh_header();
  int32_t tag_index = tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, map.landscape_collection_tag);
  if (tag_index == NONE) {
    POST_ERROR(error_file_read, "couldn't read mesh file collection tag");
    return false;
  }
  collection_header header;
  if (!read_collection_header(tag_index, &header) || !block_holds(header, header.color_tables, sizeof(color_table))) {
    POST_ERROR(error_file_read, "couldn't read collection header");
    return false;
  }
  if (!tag_file_write_byte_swapped(&tag_index, int32_t(header.data_offset + header.color_tables.offset),
                                   sizeof(color_table), 1, &tables.colors, &color_table_description)) {
    POST_ERROR(error_file_write, "couldn't write color table");
    return false;
  }
  // A collection made elsewhere may lack the optional tables; the ones it has are rewritten.
  if (block_holds(header, header.blend_tables, MAP_BLEND_TABLE_SIZE) &&
      !tag_file_write(&tag_index, int32_t(header.data_offset + header.blend_tables.offset), MAP_BLEND_TABLE_SIZE,
                      tables.blend)) {
    POST_ERROR(error_file_write, "couldn't write blend table");
    return false;
  }
  if (block_holds(header, header.remapping_tables, MAP_REMAPPING_TABLE_SIZE) &&
      !tag_file_write(&tag_index, int32_t(header.data_offset + header.remapping_tables.offset),
                      MAP_REMAPPING_TABLE_SIZE, tables.remapping)) {
    POST_ERROR(error_file_write, "couldn't write remapping table");
    return false;
  }
  // The loaded collection shows the new tables at once.
  const int16_t collection = mesh_landscape_collection();
  if (color_table* colors = collection_get_color_table(collection)) *colors = tables.colors;
  const std::span<uint8_t> blend = collection_get_blend_tables(collection);
  std::memcpy(blend.data(), tables.blend, std::min<size_t>(blend.size(), MAP_BLEND_TABLE_SIZE));
  const std::span<uint8_t> remapping = collection_get_remapping_tables(collection);
  std::memcpy(remapping.data(), tables.remapping, std::min<size_t>(remapping.size(), MAP_REMAPPING_TABLE_SIZE));
  return true;
}

}  // namespace

bool extract_read_whole_map_bitmap(const std::string& path, bitmap_image* image) {
  return read_bitmap(path, _size_whole_map, image);
}

const map_layer_definition* map_layer_get(int16_t layer) {
  return layer >= 0 && layer < NUMBER_OF_MAP_LAYERS ? &layer_definitions[layer] : nullptr;
}

int16_t map_layer_find(const char* name) {
  for (int16_t layer = 0; layer < NUMBER_OF_MAP_LAYERS && name; ++layer) {
    if (std::strcmp(layer_definitions[layer].name, name) == 0) return layer;
  }
  return NONE;
}

// ---- displacement bounds ----

bool extract_get_displacement_bounds(int32_t* lower, int32_t* upper) {
  const vellgrim_preferences* preferences = vellgrim_preferences_get();
  if (!preferences) preferences = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  *lower = preferences->displacement_lower_bound;
  *upper = preferences->displacement_upper_bound;
  if (*upper > *lower) return true;
  // Equal bounds would divide by zero, inverted ones turn the map upside down.
  tool_show_error("The displacement bounds %.2f to %.2f are empty: the upper bound must be above the lower bound.",
                  *lower / double(WORLD_ONE), *upper / double(WORLD_ONE));
  return false;
}

bool extract_set_displacement_bounds(int32_t lower, int32_t upper) {
  if (upper <= lower) {
    tool_show_error("The displacement bounds %.2f to %.2f are empty: the upper bound must be above the lower bound.",
                    lower / double(WORLD_ONE), upper / double(WORLD_ONE));
    return false;
  }
  vellgrim_preferences* preferences = vellgrim_preferences_get();
  if (!preferences) preferences = static_cast<vellgrim_preferences*>(preferences_load(&vellgrim_preferences_descriptor));
  preferences->displacement_lower_bound = lower;
  preferences->displacement_upper_bound = upper;
  return preferences_save(&vellgrim_preferences_descriptor);
}

uint8_t extract_height_to_pixel(int32_t height, int32_t lower, int32_t upper) {
  const int64_t range = int64_t(upper) - lower;
  if (range <= 0) return 0;
  const int64_t offset = int64_t(std::clamp(height, lower, upper)) - lower;
  return uint8_t(std::min<int64_t>(offset * 256 / range, 255));
}

int32_t extract_pixel_to_height(uint8_t pixel, int32_t lower, int32_t upper) {
  return int32_t(lower + (int64_t(upper) - lower) * pixel / 256);
}

// ---- export ----

bool extract_build_image(int16_t layer, int32_t submesh, bitmap_image* image) {
  image_frame frame;
  if (!map_layer_get(layer) || !frame_of(submesh, &frame)) {
    POST_ERROR(error_data_mismatch, "there is no layer #%d of submesh #%d to export.", layer, submesh);
    return false;
  }
  if (layer == _map_layer_reflection && submesh != EXTRACT_WHOLE_MESH) {
    POST_ERROR(error_data_mismatch, "the reflection map exists for the whole mesh only.");
    return false;
  }
  int32_t lower = 0, upper = 0;
  if ((layer == _map_layer_displacement || layer == _map_layer_water_level) &&
      !extract_get_displacement_bounds(&lower, &upper)) {
    return false;
  }
  if (!allocate_image(image, frame.width, frame.height)) return false;
  bitmap_set_grey_palette(image);
  switch (layer) {
    case _map_layer_color:
    case _map_layer_shadow:
      return build_texture_image(layer, frame, image);
    case _map_layer_displacement:
    case _map_layer_water_level:
      return build_height_image(layer, frame, lower, upper, image);
    case _map_layer_terrain:
      return build_terrain_image(frame, image);
    case _map_layer_reflection:
      reflection_map_build_image(image);
      return true;
  }
  return false;
}

bool extract_export_layer(int16_t layer, int32_t submesh, const std::string& path) {
  bitmap_image image;
  return extract_build_image(layer, submesh, &image) && bitmap_write(path, image);
}

// ---- import ----

bool extract_import_layer(int16_t layer, int32_t submesh, const std::string& path) {
  image_frame frame;
  if (!map_layer_get(layer) || !frame_of(submesh, &frame) ||
      (layer == _map_layer_reflection && submesh != EXTRACT_WHOLE_MESH)) {
    POST_ERROR(error_data_mismatch, "there is no layer #%d of submesh #%d to import.", layer, submesh);
    return false;
  }
  const size_rule rule = layer == _map_layer_reflection   ? _size_exact_map
                         : submesh == EXTRACT_WHOLE_MESH ? _size_whole_map
                                                         : _size_submesh;
  int32_t lower = 0, upper = 0;
  if ((layer == _map_layer_displacement || layer == _map_layer_water_level) &&
      !extract_get_displacement_bounds(&lower, &upper)) {
    return false;
  }
  bitmap_image image;
  if (!read_bitmap(path, rule, &image)) return false;
  // Every tag the import changes (bitmaps, colour tables, a resized map and its collection) is
  // written in one commit, or none is when the import fails part-way.
  tag_files_commit_scope commit;
  bool resized = false;
  if (rule == _size_whole_map && (image.width != frame.width || image.height != frame.height)) {
    if (!tool_ask_warning("This bitmap has dimensions %dx%d. The current mesh has dimensions %dx%d.\n"
                          "Do you want to resize the current mesh?",
                          image.width, image.height, frame.width, frame.height)) {
      return false;
    }
    if (!mesh_resize(image.width / PIXELS_PER_CELL, image.height / PIXELS_PER_CELL)) return false;
    mesh_delete_markers_outside();
    map_set_modified(true);
    resized = true;
  }
  if (!extract_apply_image(layer, submesh, image)) return false;
  // A resize rebuilt the collection for the new grid: the map goes with it, or the store would
  // hold a map and a collection that disagree.
  if (resized && map_is_open() && map_is_modified() && !map_save()) return false;
  return commit.end();
}

bool extract_apply_image(int16_t layer, int32_t submesh, const bitmap_image& image) {
  image_frame frame;
  if (!map_layer_get(layer) || !frame_of(submesh, &frame) || image.width != frame.width ||
      image.height != frame.height || image.pixels.size() != size_t(frame.width) * size_t(frame.height)) {
    POST_ERROR(error_data_mismatch, "a %dx%d image does not fit layer #%d of submesh #%d.", image.width, image.height,
               layer, submesh);
    return false;
  }
  int32_t lower = 0, upper = 0;
  static const char* const step_names[NUMBER_OF_MAP_LAYERS] = {
      "Import Color Map",     "Import Shadow Map",  "Import Displacement Map",
      "Import Water Level",   "Import Terrain Map", "Import Reflection Map"};
  switch (layer) {
    case _map_layer_color:
    case _map_layer_shadow: {
      // The bitmaps go straight into the collection tag, not into the map: the map and its
      // journal are as they were.
      if (!apply_texture_image(layer, frame, image)) return false;
      if (layer == _map_layer_shadow) return true;
      // The shading tables are built from the colour table when the map opens.
      return extract_rebuild_color_tables(image.palette) && map_reopen();
    }
    default:
      break;
  }
  journal_step step(step_names[layer]);
  switch (layer) {
    case _map_layer_displacement:
    case _map_layer_water_level:
      if (!extract_get_displacement_bounds(&lower, &upper)) return false;
      apply_height_image(layer, frame, image, lower, upper);
      break;
    case _map_layer_terrain:
      apply_terrain_image(frame, image);
      break;
    case _map_layer_reflection:
      if (submesh != EXTRACT_WHOLE_MESH || !reflection_map_apply_image(image)) return false;
      break;
  }
  return step.commit();
}

// ---- colour tables ----

rgb_color extract_remap_color(const mesh_definition& header) {
  rgb_color color = {uint16_t(header.kept_244[0]), uint16_t(header.kept_244[1]), uint16_t(header.kept_244[2]), 0};
  if (color.red == 0 && color.green == 0 && color.blue == 0) color.red = 0xFFFF;
  return color;
}

void extract_build_color_tables(const bitmap_palette_entry (&palette)[BITMAP_PALETTE_ENTRIES],
                                const uint32_t (&counts)[256], const rgb_color& remap_color,
                                map_color_tables* tables) {
  color_table& table = tables->colors;
  table = {};
  table.count = MAXIMUM_COLORS_PER_TABLE;
  for (int i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
    table.colors[i] = {uint16_t(palette[i].red << 8), uint16_t(palette[i].green << 8), uint16_t(palette[i].blue << 8),
                       0};
  }

  // Indices no colour map uses receive colours between the most used ones and the remap colour.
  std::vector<int> unused;
  for (int i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
    if (counts[i] == 0) unused.push_back(i);
  }
  std::array<std::pair<uint32_t, int>, MAXIMUM_COLORS_PER_TABLE> sorted;
  uint64_t total = 0;
  for (int i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
    sorted[i] = {i == 0 ? 0 : counts[i], i};
    total += sorted[i].first;
  }
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  const uint64_t share = total / (unused.size() + 1);
  color_table blended = {};
  blended.count = uint32_t(unused.size());
  size_t cursor = 0;
  int64_t running = 0;
  for (size_t slot = 0; slot < unused.size(); ++slot) {
    const rgb_color source = table.colors[sorted[cursor].second];
    // Each slot stands for one share of all the pixels, taken from the most used colours down. No
    // colour is passed while the running total still covers a share, so a dominant colour's
    // surplus goes to the colours after it rather than skipping them.
    while (running < int64_t(share) && cursor + 1 < sorted.size()) {
      running += sorted[cursor].first;
      ++cursor;
    }
    running -= int64_t(share);
    blended.colors[slot] = average(source, remap_color);
  }
  for (size_t slot = 0; slot < unused.size(); ++slot) table.colors[unused[slot]] = blended.colors[slot];

  for (int i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
    const rgb_color target = average(table.colors[i], remap_color);
    // Without an unused index the remapping falls back on the nearest colour of the whole table.
    tables->remapping[i] = unused.empty() ? uint8_t(find_nearest_color(table, target))
                                          : uint8_t(unused[size_t(find_nearest_color(blended, target))]);
  }

  for (int j = 0; j < MAXIMUM_COLORS_PER_TABLE; ++j) {
    tables->blend[j * 256] = uint8_t(j);
    tables->blend[j] = uint8_t(j);
  }
  for (int j = 1; j < MAXIMUM_COLORS_PER_TABLE; ++j) {
    for (int i = j; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
      const uint8_t nearest = uint8_t(find_nearest_color(table, average(table.colors[i], table.colors[j])));
      tables->blend[i + 256 * j] = nearest;
      tables->blend[j + 256 * i] = nearest;
    }
  }
}

bool extract_rebuild_color_tables(const bitmap_palette_entry (&palette)[BITMAP_PALETTE_ENTRIES]) {
  if (!mesh_is_open() || mesh_header() == nullptr) return false;
  uint32_t counts[256] = {};
  for (int32_t submesh = 0; submesh < int32_t(mesh_width()) * mesh_height(); ++submesh) {
    const bitmap_data* bitmap = texture_bitmap(submesh, _map_layer_color);
    for (int32_t row = 0; bitmap && row < TEXELS_PER_SUBMESH; ++row) {
      const uint8_t* pixels = bitmap_get_row(bitmap, row);
      for (int32_t m = 0; m < TEXELS_PER_SUBMESH; ++m) ++counts[pixels[m]];
    }
  }
  block_ptr<map_color_tables> tables = block_new<map_color_tables>();
  if (!tables) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %d bytes for blend table", int(sizeof(map_color_tables)));
    return false;
  }
  extract_build_color_tables(palette, counts, extract_remap_color(*mesh_header()), tables.get());
  return write_color_tables(*tables);
}
