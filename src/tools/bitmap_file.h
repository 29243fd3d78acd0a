// 8-bit Windows bitmaps, the exchange format of the map's image layers: a 14-byte file header, a
// 40-byte information header, a 256-entry palette and rows of one byte per pixel, all
// little-endian. Only uncompressed 8-bit images are read; rows may be stored bottom-up (positive
// height) or top-down (negative height), and rows are never padded (every width used is a multiple
// of 256, so this is exact). Every header value is checked against the file before it is used.
// Images are written bottom-up with a 1078-byte head.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum {
  BITMAP_FILE_HEADER_SIZE = 14,
  BITMAP_INFO_HEADER_SIZE = 40,
  BITMAP_PALETTE_ENTRIES = 256,
  BITMAP_PALETTE_SIZE = BITMAP_PALETTE_ENTRIES * 4,
  BITMAP_PALETTE_OFFSET = BITMAP_FILE_HEADER_SIZE + BITMAP_INFO_HEADER_SIZE,  // 54: always read here
  BITMAP_HEAD_SIZE = BITMAP_PALETTE_OFFSET + BITMAP_PALETTE_SIZE,           // 1078
  // No map is wider or taller than this (64 submeshes of 256 pixels); larger images are refused
  // before any pixel is read.
  BITMAP_MAXIMUM_SIDE = 16384,
};

// A palette entry as stored: blue, green, red, reserved.
struct bitmap_palette_entry {
  uint8_t blue, green, red, reserved;
};
static_assert(sizeof(bitmap_palette_entry) == 4);

// What the head of a file says, once checked.
struct bitmap_header {
  int32_t width = 0;
  int32_t height = 0;         // rows, always positive
  int32_t stored_height = 0;  // as stored: negative for top-down rows
  uint32_t pixel_offset = 0;  // where the pixel rows start
  bitmap_palette_entry palette[BITMAP_PALETTE_ENTRIES] = {};
};

// A whole image in display order: row 0 is the top row, each row `width` bytes.
struct bitmap_image {
  int32_t width = 0;
  int32_t height = 0;
  bitmap_palette_entry palette[BITMAP_PALETTE_ENTRIES] = {};
  std::vector<uint8_t> pixels;

  uint8_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  uint8_t* row(int32_t y) { return pixels.data() + size_t(y) * size_t(width); }
  const uint8_t* row(int32_t y) const { return pixels.data() + size_t(y) * size_t(width); }
};

// Why a file was refused, in the order the checks run.
enum bitmap_file_result : int16_t {
  _bitmap_file_valid = 0,
  _bitmap_file_unreadable,       // could not be opened or read
  _bitmap_file_short_header,     // shorter than its two headers
  _bitmap_file_not_a_bitmap,     // the signature is not "BM"
  _bitmap_file_unsupported,      // planes, depth or compression other than 1, 8 and 0
  _bitmap_file_short_palette,    // shorter than its palette
  _bitmap_file_bad_size,         // a width or height of zero, or larger than BITMAP_MAXIMUM_SIDE
  _bitmap_file_pixels_outside,   // the pixel rows start inside the headers or run past the end
};

// Checks the head of a file (its first bytes, at least BITMAP_HEAD_SIZE when it has them) against
// the file's whole length. Everything but the pixel rows is checked, the pixel rows' extent too.
bitmap_file_result bitmap_parse_header(std::span<const uint8_t> head, int64_t file_length, bitmap_header* header);

// The whole check and read from bytes in memory (a file's whole contents).
bitmap_file_result bitmap_parse(std::span<const uint8_t> bytes, bitmap_header* header, bitmap_image* image);

// From a host path: the head only, then the pixels (the callers check dimensions in between).
bitmap_file_result bitmap_read_header(const std::string& path, bitmap_header* header);
// Reads the rows the header describes into image (display order); the header comes from
// bitmap_read_header on the same path. Fails with _bitmap_file_pixels_outside when the file
// changed in between, _bitmap_file_unreadable when there is no memory for the rows.
bitmap_file_result bitmap_read_pixels(const std::string& path, const bitmap_header& header, bitmap_image* image);

// A short English description of a refusal, for logs and the command line.
const char* bitmap_file_result_text(bitmap_file_result result);

// The whole file contents of an image (bottom-up, 1078-byte head); the image's pixel count must be
// width x height.
std::vector<uint8_t> bitmap_encode(const bitmap_image& image);
// Creates (replacing) the file and writes the image; false (logged) on failure.
bool bitmap_write(const std::string& path, const bitmap_image& image);

// The grey ramp written with every layer but the colour map: entry i = (i, i, i, 0).
void bitmap_set_grey_palette(bitmap_image* image);
