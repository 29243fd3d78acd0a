#include "tools/bitmap_fixtures.h"

#include <cstdlib>

#include "session/engine.h"
#include "support/work_folder.h"
#include "tools/map_session.h"
#include "tools/new_map.h"

namespace {
void put16(std::vector<uint8_t>& out, size_t offset, uint16_t value) {
  out[offset] = uint8_t(value);
  out[offset + 1] = uint8_t(value >> 8);
}
void put32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[offset + i] = uint8_t(value >> (8 * i));
}
}  // namespace

std::vector<uint8_t> bmp_fixture::bytes() const {
  const size_t rows = size_t(std::abs(height)), columns = size_t(width > 0 ? width : 0);
  std::vector<uint8_t> out(size_t(pixel_offset) + rows * columns, 0);
  if (out.size() < 1078) out.resize(1078, 0);
  out[0] = 'B';
  out[1] = 'M';
  put32(out, 2, uint32_t(out.size()));
  put32(out, 10, pixel_offset);
  put32(out, 14, 40);
  put32(out, 18, uint32_t(width));
  put32(out, 22, uint32_t(height));
  put16(out, 26, planes);
  put16(out, 28, bits_per_pixel);
  put32(out, 30, compression);
  for (size_t i = 0; i < 256; ++i) {
    put32(out, 54 + 4 * i, palette.empty() ? uint32_t(i * 0x010101u) : palette[i]);
  }
  for (size_t y = 0; y < rows; ++y) {
    // Bottom-up files hold the display's last row first.
    const size_t stored_row = height < 0 ? y : rows - 1 - y;
    for (size_t x = 0; x < columns; ++x) {
      out[pixel_offset + stored_row * columns + x] = pixel ? pixel(int32_t(x), int32_t(y)) : fill;
    }
  }
  return out;
}

uint32_t bmp_read32(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
         uint32_t(bytes[offset + 3]) << 24;
}

uint16_t bmp_read16(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint16_t(bytes[offset] | bytes[offset + 1] << 8);
}

void MapImageTest::SetUp() {
  ASSERT_TRUE(store.ready());
  ASSERT_TRUE(engine_initialize());
}

void MapImageTest::TearDown() {
  ui.default_answer = ui_answer_no;
  map_close();
}

std::string MapImageTest::write_bitmap(const std::string& name, const bmp_fixture& file) {
  EXPECT_TRUE(store.folder().write_file(name, file.text()));
  return store.folder().path() + "/" + name;
}

bool MapImageTest::make_map(const char* name, int32_t width, int32_t height, uint8_t (*pixel)(int32_t, int32_t)) {
  bmp_fixture file;
  file.width = width;
  file.height = height;
  file.pixel = pixel;
  return new_map_create(name, store.media_tag(), write_bitmap(std::string(name) + ".bmp", file));
}

std::vector<uint8_t> MapImageTest::read_file(const std::string& path) const {
  const std::string relative = path.substr(store.folder().path().size() + 1);
  const std::string text = store.folder().read_file(relative);
  return std::vector<uint8_t>(text.begin(), text.end());
}
