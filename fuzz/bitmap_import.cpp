// Map images from untrusted bytes: the bitmap reader must refuse or accept without reading outside
// the file, and whatever it accepts as a whole-map image must apply to a map safely; the reflection
// map read back must show exactly the coverage the picture gave.
//
// Input: first byte even - edits (two position bytes, one value) applied to a well-formed 256 x 256
// bitmap, so that an empty corpus reaches the import; odd - the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "map/mesh.h"
#include "tools/bitmap_file.h"
#include "tools/extract.h"
#include "tools/reflection_map_utils.h"

namespace {

std::vector<uint8_t> sample_bitmap() {
  bitmap_image image;
  image.width = image.height = 256;
  image.pixels.resize(256 * 256);
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x) image.row(y)[x] = uint8_t((x / 8 + y / 8) % 3 == 0 ? 0 : x ^ y);
  bitmap_set_grey_palette(&image);
  return bitmap_encode(image);
}

// One map of one submesh for the whole run.
mesh_definition header;

void apply_to_map(const bitmap_image& image) {
  if (!mesh_is_open() && !mesh_set_grid(&header, 1, 1)) std::abort();
  (void)extract_apply_image(_map_layer_terrain, EXTRACT_WHOLE_MESH, image);  // refusing is as good as applying
  if (!reflection_map_apply_image(image)) return;
  bitmap_image shown;
  shown.width = shown.height = 256;
  shown.pixels.assign(256 * 256, 0);
  reflection_map_build_image(&shown);
  for (int32_t y = 0; y < 256; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      const bitmap_palette_entry& entry = image.palette[image.at(x, y)];
      const bool covered = (entry.blue | entry.green | entry.red | entry.reserved) != 0;
      if ((shown.at(x, y) != 0) != covered) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_bitmap();
  if (size == 0) return 0;
  const std::vector<uint8_t> file = fuzz_edited_sample_or_bytes(sample, data, size);

  // As a file is read: its head first, checked against the file's length, then all of it.
  bitmap_header header_only;
  const size_t head = std::min<size_t>(file.size(), BITMAP_HEAD_SIZE);
  const bitmap_file_result head_result =
      bitmap_parse_header(std::span<const uint8_t>(file.data(), head), int64_t(file.size()), &header_only);
  bitmap_header parsed;
  bitmap_image image;
  const bitmap_file_result result = bitmap_parse(file, &parsed, &image);
  if (result != head_result && result != _bitmap_file_unreadable) std::abort();
  if (result == _bitmap_file_valid) {
    if (image.pixels.size() != size_t(image.width) * size_t(image.height)) std::abort();
    if (image.width == 256 && image.height == 256) apply_to_map(image);
  }
  handle_error();
  return 0;
}
