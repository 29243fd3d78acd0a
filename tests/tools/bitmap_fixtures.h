// Windows bitmap files made byte by byte for the tests, independently of the engine's writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
