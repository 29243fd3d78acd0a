#include "tools/bitmap_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/work_folder.h"
#include "tools/bitmap_fixtures.h"

namespace {

uint8_t diagonal(int32_t x, int32_t y) { return uint8_t(x + 3 * y); }

bitmap_file_result parse(const std::vector<uint8_t>& bytes, bitmap_image* image = nullptr) {
  bitmap_header header;
  bitmap_image scratch;
  return bitmap_parse(bytes, &header, image ? image : &scratch);
}

TEST(BitmapRead, BottomUpAndTopDownRowsComeOutInDisplayOrder) {
  for (int32_t stored_height : {5, -5}) {
    bmp_fixture file;
    file.height = stored_height;
    file.pixel = diagonal;
    file.palette.assign(256, 0);
    file.palette[7] = 0x00112233;
    bitmap_header header;
    bitmap_image image;
    ASSERT_EQ(bitmap_parse(file.bytes(), &header, &image), _bitmap_file_valid) << stored_height;
    EXPECT_EQ(header.stored_height, stored_height);
    EXPECT_EQ(image.width, 256);
    EXPECT_EQ(image.height, 5);
    for (int32_t y = 0; y < 5; ++y) {
      for (int32_t x = 0; x < 256; x += 51) EXPECT_EQ(image.at(x, y), diagonal(x, y)) << x << "," << y;
    }
    EXPECT_EQ(image.palette[7].blue, 0x33);
    EXPECT_EQ(image.palette[7].green, 0x22);
    EXPECT_EQ(image.palette[7].red, 0x11);
  }
}

TEST(BitmapRead, RefusesEveryMalformedHeadInCheckOrder) {
  struct refusal {
    const char* what;
    void (*change)(bmp_fixture&, std::vector<uint8_t>&);
    bitmap_file_result expected;
  };
  const refusal cases[] = {
      {"too short for the file header", [](bmp_fixture&, std::vector<uint8_t>& b) { b.resize(10); },
       _bitmap_file_short_header},
      {"bad signature", [](bmp_fixture&, std::vector<uint8_t>& b) { b[1] = 'A'; }, _bitmap_file_not_a_bitmap},
      {"too short for the information header", [](bmp_fixture&, std::vector<uint8_t>& b) { b.resize(40); },
       _bitmap_file_short_header},
      {"24-bit", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.bits_per_pixel = 24; b = f.bytes(); },
       _bitmap_file_unsupported},
      {"RLE", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.compression = 1; b = f.bytes(); },
       _bitmap_file_unsupported},
      {"two planes", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.planes = 2; b = f.bytes(); },
       _bitmap_file_unsupported},
      {"short palette", [](bmp_fixture&, std::vector<uint8_t>& b) { b.resize(600); }, _bitmap_file_short_palette},
      {"zero width", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.width = 0; b = f.bytes(); },
       _bitmap_file_bad_size},
      {"negative width", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.width = -256; b = f.bytes(); },
       _bitmap_file_bad_size},
      {"zero height", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.height = 0; b = f.bytes(); },
       _bitmap_file_bad_size},
      {"huge height", [](bmp_fixture& f, std::vector<uint8_t>& b) { f.height = 1; b = f.bytes(); b[25] = 0x80; },
       _bitmap_file_bad_size},
      {"rows cut short", [](bmp_fixture&, std::vector<uint8_t>& b) { b.pop_back(); }, _bitmap_file_pixels_outside},
      {"pixel offset past the end", [](bmp_fixture&, std::vector<uint8_t>& b) { b[13] = 0x7F; },
       _bitmap_file_pixels_outside},
      {"pixel offset inside the headers", [](bmp_fixture&, std::vector<uint8_t>& b) { b[10] = 20; b[11] = 0; },
       _bitmap_file_pixels_outside},
  };
  for (const refusal& c : cases) {
    bmp_fixture file;
    file.height = 4;
    std::vector<uint8_t> bytes = file.bytes();
    c.change(file, bytes);
    EXPECT_EQ(parse(bytes), c.expected) << c.what;
  }
  EXPECT_EQ(parse({}), _bitmap_file_short_header);
}

// The largest side is 16384 pixels; the file's length is faked, so no pixel rows are needed.
TEST(BitmapRead, SidesUpTo16384PixelsAreAcceptedAndNoLonger) {
  bmp_fixture file;
  file.height = 1;
  const std::vector<uint8_t> bytes = file.bytes();
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + BITMAP_HEAD_SIZE);
  auto check = [&](int32_t width, int32_t stored_height, int64_t pixel_bytes) {
    std::vector<uint8_t> changed = head;
    for (int i = 0; i < 4; ++i) {
      changed[18 + size_t(i)] = uint8_t(uint32_t(width) >> (8 * i));
      changed[22 + size_t(i)] = uint8_t(uint32_t(stored_height) >> (8 * i));
    }
    bitmap_header header;
    return bitmap_parse_header(changed, BITMAP_HEAD_SIZE + pixel_bytes, &header);
  };
  EXPECT_EQ(check(16384, 16384, int64_t(16384) * 16384), _bitmap_file_valid);
  EXPECT_EQ(check(16384, -16384, int64_t(16384) * 16384), _bitmap_file_valid);
  EXPECT_EQ(check(16384, 16384, int64_t(16384) * 16384 - 1), _bitmap_file_pixels_outside);
  EXPECT_EQ(check(16385, 256, int64_t(16385) * 256), _bitmap_file_bad_size);
  EXPECT_EQ(check(256, 16385, int64_t(16385) * 256), _bitmap_file_bad_size);
  EXPECT_EQ(check(256, -16385, int64_t(16385) * 256), _bitmap_file_bad_size);
}

TEST(BitmapRead, ToleratesSmallerPalettesAndExtraBytes) {
  // Rows may start anywhere after the headers; the palette is still read whole at 54.
  bmp_fixture file;
  file.height = 2;
  file.pixel_offset = 2000;
  file.fill = 9;
  std::vector<uint8_t> bytes = file.bytes();
  bytes.resize(bytes.size() + 100, 0xEE);
  bitmap_image image;
  ASSERT_EQ(parse(bytes, &image), _bitmap_file_valid);
  EXPECT_EQ(image.at(255, 1), 9);
}

TEST(BitmapWrite, WritesABottomUpFileWithTheFixedHead) {
  bitmap_image image;
  image.width = 512;
  image.height = 256;
  image.pixels.resize(size_t(512) * 256);
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 512; ++x) image.row(y)[x] = diagonal(x, y);
  bitmap_set_grey_palette(&image);
  const std::vector<uint8_t> bytes = bitmap_encode(image);
  ASSERT_EQ(bytes.size(), 1078u + 131072u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(bmp_read32(bytes, 2), 1078u + 131072u);
  EXPECT_EQ(bmp_read32(bytes, 6), 0u);
  EXPECT_EQ(bmp_read32(bytes, 10), 1078u);
  EXPECT_EQ(bmp_read32(bytes, 14), 40u);
  EXPECT_EQ(bmp_read32(bytes, 18), 512u);
  EXPECT_EQ(bmp_read32(bytes, 22), 256u);
  EXPECT_EQ(bmp_read16(bytes, 26), 1);
  EXPECT_EQ(bmp_read16(bytes, 28), 8);
  for (size_t offset = 30; offset < 54; offset += 4) EXPECT_EQ(bmp_read32(bytes, offset), 0u) << offset;
  EXPECT_EQ(bmp_read32(bytes, 54 + 4 * 200), 0x00C8C8C8u);
  // The first stored row is the bottom one.
  EXPECT_EQ(bytes[1078 + 5], diagonal(5, 255));
  EXPECT_EQ(bytes[1078 + 255 * 512 + 5], diagonal(5, 0));
}

TEST(BitmapFile, WritesAndReadsBackThroughTheFileSystem) {
  scoped_work_folder folder;
  bitmap_image image;
  image.width = 256;
  image.height = 3;
  image.pixels.assign(768, 0);
  image.row(2)[10] = 77;
  bitmap_set_grey_palette(&image);
  const std::string path = folder.path() + "/layer.bmp";
  ASSERT_TRUE(folder.write_file("layer.bmp", "an older file"));
  ASSERT_TRUE(bitmap_write(path, image));

  bitmap_header header;
  ASSERT_EQ(bitmap_read_header(path, &header), _bitmap_file_valid);
  EXPECT_EQ(header.width, 256);
  EXPECT_EQ(header.height, 3);
  bitmap_image read;
  ASSERT_EQ(bitmap_read_pixels(path, header, &read), _bitmap_file_valid);
  EXPECT_EQ(read.pixels, image.pixels);
  // Nothing but the image is left in the folder.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) entries += entry.is_regular_file();
  EXPECT_EQ(entries, 1);

  // A file cut short after its head was read is caught when the rows are read.
  std::filesystem::resize_file(path, 1078 + 500);
  EXPECT_EQ(bitmap_read_pixels(path, header, &read), _bitmap_file_pixels_outside);
  EXPECT_EQ(bitmap_read_header(folder.path() + "/missing.bmp", &header), _bitmap_file_unreadable);
}

TEST(BitmapFile, AWriteRemovesWhatAKilledWriterOfTheSameFileLeft) {
  scoped_work_folder folder;
  // The partial of a process that is gone, one of a process still running, and another file's.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string stale = "layer.bmp.partial-" + std::to_string(gone);
  const std::string running = "layer.bmp.partial-" + std::to_string(getppid());
  ASSERT_TRUE(folder.write_file(stale, "half"));
  ASSERT_TRUE(folder.write_file(running, "half"));
  ASSERT_TRUE(folder.write_file("other.bmp.partial-" + std::to_string(gone), "half"));
  bitmap_image image;
  image.width = 256;
  image.height = 1;
  image.pixels.assign(256, 1);
  ASSERT_TRUE(bitmap_write(folder.path() + "/layer.bmp", image));
  EXPECT_FALSE(std::filesystem::exists(folder.path() + "/" + stale));
  EXPECT_TRUE(std::filesystem::exists(folder.path() + "/" + running));
  EXPECT_TRUE(std::filesystem::exists(folder.path() + "/other.bmp.partial-" + std::to_string(gone)));
}

TEST(BitmapFile, AFailedWriteLeavesNothingBehind) {
  scoped_work_folder folder;
  bitmap_image image;
  image.width = 256;
  image.height = 1;
  image.pixels.assign(256, 1);
  EXPECT_FALSE(bitmap_write(folder.path() + "/no such folder/layer.bmp", image));
  EXPECT_FALSE(std::filesystem::exists(folder.path() + "/no such folder"));
}

}  // namespace
