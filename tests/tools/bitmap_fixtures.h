// Windows bitmap files made byte by byte for the tests, independently of the engine's writer, and
// a fixture for the tests that make maps from them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"

struct bmp_fixture {
  int32_t width = 256;
  int32_t height = 256;  // negative: rows stored top-down
  uint16_t planes = 1;
  uint16_t bits_per_pixel = 8;
  uint32_t compression = 0;
  uint32_t pixel_offset = 1078;
  // Palette entry i as blue, green, red, reserved; none: entry i = (i, i, i, 0).
  std::vector<uint32_t> palette;
  // Pixel (x, y) in display order (row 0 at the top).
  uint8_t (*pixel)(int32_t x, int32_t y) = nullptr;
  uint8_t fill = 0;

  std::vector<uint8_t> bytes() const;
  std::string text() const { auto b = bytes(); return std::string(b.begin(), b.end()); }
};

// Little-endian reads of a file's bytes.
uint32_t bmp_read32(const std::vector<uint8_t>& bytes, size_t offset);
uint16_t bmp_read16(const std::vector<uint8_t>& bytes, size_t offset);

// ---- maps made from bitmaps ----

// A tag store with the engine started, a scripted UI host and bitmaps written into the folder.
class MapImageTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the bitmap into the working folder; its absolute path.
  std::string write_bitmap(const std::string& name, const bmp_fixture& file);
  // New Map from a width x height bitmap of the given pixels (uniform 0 when none); true when the
  // map is open.
  bool make_map(const char* name, int32_t width, int32_t height, uint8_t (*pixel)(int32_t, int32_t) = nullptr);
  std::vector<uint8_t> read_file(const std::string& path) const;

  map_test_store store;
  scripted_ui_host ui;
};
