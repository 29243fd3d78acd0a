// Collections made in code for the tests: a description of the parts, written out in stored
// (big-endian) order byte by byte, independently of the engine's byte-swap descriptions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "render/colors.h"

struct collection_header;

struct fixture_bitmap {
  std::string name = "bitmap";
  int16_t width = 0;
  int16_t height = 0;
  int16_t bytes_per_row = 0;
  int16_t flags = 0;
  int16_t bits_per_pixel = 8;
  int16_t pixel_size_shift = 0;
  int16_t origin_x = 0;
  int16_t origin_y = 0;
  // Everything after the first 48 bytes of the header (row table and pixels), stored order.
  std::vector<uint8_t> tail;
};

// A raw bitmap whose pixel (x, y) is pixel(x, y); 16-bit pixels are stored big-endian.
// bytes_per_row 0 = exactly the row's pixels.
fixture_bitmap fixture_raw_bitmap(int16_t width, int16_t height, int16_t flags, int16_t bits_per_pixel,
                                  uint16_t (*pixel)(int32_t x, int32_t y), int16_t bytes_per_row = 0);

struct fixture_encoded_row {
  std::vector<std::pair<int16_t, int16_t>> spans;
  std::vector<uint16_t> pixels;
};
// An encoded bitmap (flag 4 added; padding after odd rows when flags hold 0x40).
fixture_bitmap fixture_encoded_bitmap(int16_t width, const std::vector<fixture_encoded_row>& rows, int16_t flags,
                                      int16_t bits_per_pixel);

struct fixture_hue_change {
  int16_t flags = 0;
  uint16_t reference_hue = 0;
  std::vector<int> colors;  // the mask
};

struct fixture_instance {
  int32_t flags = 0;
  int16_t bitmap_index = -1;
};

struct fixture_sequence {
  std::string name = "sequence";
  int32_t flags = 0;
  int32_t scale = 65536;
  int16_t view_count = 1;
  std::vector<std::vector<int16_t>> frames;  // per frame, view_count instance indexes
};

struct collection_fixture {
  uint32_t flags = 0;
  std::vector<rgb_color> colors;
  std::vector<fixture_hue_change> hue_changes;
  std::vector<fixture_bitmap> bitmaps;
  std::vector<fixture_instance> instances;
  std::vector<fixture_sequence> sequences;
  int32_t shadow_map_count = 0;

  // The data block in stored order; fills header (native order) with the blocks, data offset 320
  // and the block's size.
  std::vector<uint8_t> block(collection_header* header) const;
  // The whole tag data: the header in stored order, then the block.
  std::vector<uint8_t> tag_data() const;
};

// A map collection of width x height submeshes: two raw 256 x 256 bitmaps each (colour map with
// flags 0xA1, shadow map with flags 0x21), filled with the given values.
collection_fixture fixture_map_collection(int16_t width, int16_t height, uint8_t color_value, uint8_t shadow_value);

// Reads every byte a fixed-up collection exposes, as the renderer would (and remaps every bitmap
// onto its own colours when asked, to write as well); answers a checksum.
uint32_t fixture_touch_collection(collection_header& header, std::span<uint8_t> block, bool remap);

// Stores bytes as a new local tag of a group; its tag index, NONE on failure.
int32_t fixture_store_tag(uint32_t group, const char* name, int16_t version, const std::vector<uint8_t>& bytes);

// Big-endian writers for building stored records.
void fixture_put16(std::vector<uint8_t>& out, size_t offset, uint16_t value);
void fixture_put32(std::vector<uint8_t>& out, size_t offset, uint32_t value);
