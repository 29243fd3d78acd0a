// The checked fix-up of a collection's data block, without the tag store.
#include "render/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/error_manager.h"
#include "support/collection_fixtures.h"
#include "support/work_folder.h"

namespace {

uint16_t checker(int32_t x, int32_t y) { return static_cast<uint16_t>((x + 3 * y) & 0xFF); }
uint16_t wide(int32_t x, int32_t y) { return static_cast<uint16_t>(0x1200 + x * 16 + y); }

uint32_t get32(const std::vector<uint8_t>& bytes, size_t offset) {
  return read_big_endian_32(bytes.data() + offset);
}

// A fixture and its stored block, fixed up on demand.
struct stored_collection {
  explicit stored_collection(const collection_fixture& fixture) { block = fixture.block(&header); }

  bool fix_up() { return collection_fix_up(header, block, "test"); }
  bitmap_data* bitmap(int32_t index) { return collection_block_get_bitmap(header, block, index); }
  size_t bitmap_offset(int32_t index) const { return get32(block, header.bitmap_references.offset + 128 * index + 64); }
  void put16_in_bitmap(int32_t index, size_t field, uint16_t value) {
    fixture_put16(block, bitmap_offset(index) + field, value);
  }

  collection_header header;
  std::vector<uint8_t> block;
};

collection_fixture mixed_fixture() {
  collection_fixture fixture;
  fixture.colors = {{0, 0, 0, 0}, {65535, 0, 0, 0}, {0, 65535, 0, 0}};
  fixture.hue_changes.push_back({0, 0, {1}});
  fixture.bitmaps.push_back(fixture_raw_bitmap(16, 8, 0, 8, checker));
  fixture.bitmaps.push_back(fixture_raw_bitmap(4, 4, 0x20, 16, wide));
  fixture.bitmaps.push_back(fixture_encoded_bitmap(8, {{{{0, 3}}, {1, 2, 3}}, {{{1, 1}, {4, 2}}, {9, 8, 7, 6, 5}}}, 0x40, 8));
  fixture.instances = {{0, 0}, {0, 2}, {0, -1}};
  fixture.sequences.push_back({"Walk", 0, 65536, 2, {{0, 1}, {1, 2}}});
  fixture.shadow_map_count = 2;
  return fixture;
}

TEST(CollectionFixUp, RawBitmapWithoutRowTable) {
  collection_fixture fixture;
  fixture.bitmaps.push_back(fixture_raw_bitmap(256, 256, 0x20, 8, checker));
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());
  EXPECT_TRUE(collection.header.runtime_flags & COLLECTION_FIXED_UP);
  const bitmap_data* bitmap = collection.bitmap(0);
  const auto* base = reinterpret_cast<const uint8_t*>(bitmap);
  EXPECT_EQ(bitmap_get_row(bitmap, 0), base + 52);
  EXPECT_EQ(bitmap_get_row(bitmap, 1), base + 52 + 256);
  EXPECT_EQ(bitmap_get_row(bitmap, 256), nullptr);
  EXPECT_EQ(bitmap_get_row(bitmap, 5)[7], checker(7, 5));
  EXPECT_EQ(bitmap->first_row, 52u);
  EXPECT_TRUE(bitmap->flags & BITMAP_IS_POWER_OF_TWO);
  EXPECT_EQ(bitmap->log2_width, 8);
  EXPECT_EQ(bitmap->log2_height, 8);
  EXPECT_EQ(bitmap->rounded_width, 256);
}

TEST(CollectionFixUp, RawBitmapWithRowTableAndOddSize) {
  collection_fixture fixture;
  fixture.bitmaps.push_back(fixture_raw_bitmap(100, 60, BITMAP_IS_POWER_OF_TWO, 8, checker));
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());
  const bitmap_data* bitmap = collection.bitmap(0);
  EXPECT_FALSE(bitmap->flags & BITMAP_IS_POWER_OF_TWO);  // a stored flag does not survive
  EXPECT_EQ(bitmap->log2_width, 0);
  EXPECT_EQ(bitmap->log2_height, 0);
  EXPECT_EQ(bitmap->rounded_width, 128);
  EXPECT_EQ(bitmap->rounded_height, 64);
  EXPECT_EQ(bitmap->log2_rounded_width, 7);
  const auto* base = reinterpret_cast<const uint8_t*>(bitmap);
  EXPECT_EQ(bitmap->first_row, 48u + 4 * 60);
  EXPECT_EQ(bitmap_get_row(bitmap, 59), base + 48 + 4 * 60 + 59 * 100);
  EXPECT_EQ(bitmap_get_row(bitmap, 59)[99], checker(99, 59));
}

TEST(CollectionFixUp, SixteenBitPixelsAreConverted) {
  collection_fixture fixture;
  fixture.bitmaps.push_back(fixture_raw_bitmap(4, 3, 0x20, 16, wide, 10));  // rows padded to 10 bytes
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());
  const bitmap_data* bitmap = collection.bitmap(0);
  uint16_t value;
  std::memcpy(&value, bitmap_get_row(bitmap, 2) + 2 * 3, 2);
  EXPECT_EQ(value, wide(3, 2));
}

TEST(CollectionFixUp, EncodedRowsFollowEachOtherWithPadding) {
  collection_fixture fixture;
  // 2 spans and 5 pixels at 8 bits: 4 + 8 + 5 = 17, padded to 18.
  fixture.bitmaps.push_back(
      fixture_encoded_bitmap(10, {{{{0, 2}, {4, 3}}, {1, 2, 3, 4, 5}}, {{{2, 1}}, {6}}}, BITMAP_ROWS_PADDED, 8));
  fixture.bitmaps.push_back(fixture_encoded_bitmap(10, {{{{0, 1}}, {0xABCD}}, {{}, {}}}, 0, 16));
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());

  const bitmap_data* padded = collection.bitmap(0);
  const uint8_t* first = bitmap_get_row(padded, 0);
  EXPECT_EQ(first, reinterpret_cast<const uint8_t*>(padded) + 48 + 4 * 2);
  EXPECT_EQ(bitmap_encoded_row_length(padded, first), 18);
  EXPECT_EQ(bitmap_get_row(padded, 1), first + 18);
  encoded_span_header spans;
  std::memcpy(&spans, first, sizeof(spans));
  EXPECT_EQ(spans.span_count, 2);
  EXPECT_EQ(spans.pixel_count, 5);
  EXPECT_EQ(first[4 + 8 + 4], 5);
  EXPECT_FALSE(padded->flags & BITMAP_IS_POWER_OF_TWO);

  const bitmap_data* wide_pixels = collection.bitmap(1);
  const uint8_t* row = bitmap_get_row(wide_pixels, 0);
  uint16_t pixel;
  std::memcpy(&pixel, row + 8, 2);
  EXPECT_EQ(pixel, 0xABCD);
  EXPECT_EQ(bitmap_encoded_row_length(wide_pixels, row), 10);  // no padding asked for
  EXPECT_EQ(bitmap_get_row(wide_pixels, 1), row + 10);
}

TEST(CollectionFixUp, NamesAreLowerCasedAndEndInsideTheirField) {
  collection_fixture fixture = mixed_fixture();
  fixture.bitmaps[0].name = std::string(70, 'Q');
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());
  EXPECT_EQ(std::string(collection_block_get_bitmap_reference(collection.header, collection.block, 0)->name),
            std::string(63, 'q'));
  EXPECT_STREQ(collection_block_get_sequence_reference(collection.header, collection.block, 0)->name, "walk");
}

TEST(CollectionFixUp, SequencesPlaceInstancesAndMirrorViews) {
  collection_fixture fixture;
  fixture.bitmaps.push_back(fixture_raw_bitmap(10, 20, 0, 8, checker));
  fixture.bitmaps[0].origin_x = 2;
  fixture.bitmaps[0].origin_y = 20;
  // Eight views, mirrors of views 1..3 in views 7..5; view 4 stored.
  fixture.instances.assign(8, {0, 0});
  fixture.sequences.push_back({"turn", SEQUENCE_MIRRORS_VIEWS | SEQUENCE_NO_ROTATION, 2 * 65536, 8,
                               {{0, 1, 2, 3, 4, 5, 6, 7}}});
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());
  const sequence_data* sequence = collection_block_get_sequence(collection.header, collection.block, 0);
  EXPECT_EQ(sequence->flags, SEQUENCE_MIRRORS_VIEWS);  // no-rotation dropped with mirrors
  const bitmap_instance* stored = collection_block_get_bitmap_instance(collection.header, collection.block, 3);
  EXPECT_EQ(stored->left, -4);  // scale 2: world units per pixel
  EXPECT_EQ(stored->right, 16);
  EXPECT_EQ(stored->top, -40);
  EXPECT_EQ(stored->bottom, 0);
  EXPECT_EQ(stored->flags, 0);
  const bitmap_instance* mirror = collection_block_get_bitmap_instance(collection.header, collection.block, 5);
  EXPECT_EQ(mirror->flags, BITMAP_INSTANCE_MIRRORED);
  EXPECT_EQ(mirror->left, -16);
  EXPECT_EQ(mirror->right, 4);
  EXPECT_EQ(collection_block_get_bitmap_instance(collection.header, collection.block, 4)->flags, 0);
}

TEST(CollectionFixUp, OptionalRawBlocks) {
  stored_collection collection(mixed_fixture());
  collection.header.blend_tables = {1, 4, 16, 0};  // raw bytes may overlap converted records
  collection.header.remapping_tables = {0, 999999, 5, 0};  // absent: not looked at
  ASSERT_TRUE(collection.fix_up());
  const std::span<uint8_t> blend = collection_block_get_bytes(collection.header.blend_tables, collection.block);
  EXPECT_EQ(blend.data(), collection.block.data() + 4);
  EXPECT_EQ(blend.size(), 16u);
  EXPECT_TRUE(collection_block_get_bytes(collection.header.remapping_tables, collection.block).empty());

  collection.header.blend_tables = {1, static_cast<uint32_t>(collection.block.size() - 4), 8, 0};
  stored_collection outside(mixed_fixture());
  outside.header.blend_tables = collection.header.blend_tables;
  EXPECT_FALSE(outside.fix_up());
  handle_error();
}

TEST(CollectionFixUp, SharedBitmapsAreConvertedOnce) {
  collection_fixture fixture;
  fixture.bitmaps.push_back(fixture_raw_bitmap(4, 4, 0x20, 16, wide));
  fixture.bitmaps.push_back(fixture_raw_bitmap(4, 4, 0x20, 16, wide));
  stored_collection collection(fixture);
  // The second reference names the first bitmap.
  const size_t second = collection.header.bitmap_references.offset + 128;
  fixture_put32(collection.block, second + 64, static_cast<uint32_t>(collection.bitmap_offset(0)));
  ASSERT_TRUE(collection.fix_up());
  EXPECT_EQ(collection.bitmap(0), collection.bitmap(1));
  EXPECT_EQ(collection.bitmap(1)->width, 4);
  uint16_t value;
  std::memcpy(&value, bitmap_get_row(collection.bitmap(1), 1) + 2, 2);
  EXPECT_EQ(value, wide(1, 1));
}

class HostileCollections : public ::testing::Test {
 protected:
  void SetUp() override {
    error_manager_initialize("vellgrim");
    read_up_to = folder.read_file("tarn_log.txt").size();  // past the header line
  }

  // The fix-up refuses with one report of code 10, naming the collection and saying, in the given
  // words, which check refused it. Only this refusal's lines of the log are read.
  void expect_refused(stored_collection& collection, const char* words) {
    EXPECT_FALSE(collection.fix_up());
    EXPECT_EQ(error_pending_code(), error_data_corrupted);
    handle_error();
    const std::string log = folder.read_file("tarn_log.txt");
    const std::string added = log.substr(std::min(read_up_to, log.size()));
    read_up_to = log.size();
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
    EXPECT_NE(added.find("test collection is corrupted: "), std::string::npos) << added;
    EXPECT_NE(added.find(words), std::string::npos) << added;
  }

  scoped_work_folder folder;
  size_t read_up_to = 0;
};

TEST_F(HostileCollections, BlocksOutsideTheDataBlock) {
  stored_collection offset(mixed_fixture());
  offset.header.hue_changes.offset = static_cast<uint32_t>(offset.block.size() + 4);
  expect_refused(offset, "the hue changes (offset #3524, size #128) lie outside the data block");

  stored_collection count(mixed_fixture());
  count.header.bitmap_references.count = 0x40000000;  // count x 128 wraps in 32 bits
  expect_refused(count, "#1073741824 bitmap references need #137438953472 bytes");

  stored_collection size(mixed_fixture());
  size.header.color_tables.size = 0xFFFFFFF0u;
  expect_refused(size, "the colour tables (offset #0, size #4294967280) lie outside");

  stored_collection overlap(mixed_fixture());
  overlap.header.shadow_maps.offset = overlap.header.bitmap_instances.offset;
  expect_refused(overlap, "a block #0 overlaps other data at offset #2592");
}

TEST_F(HostileCollections, BitmapsThatDoNotFit) {
  stored_collection outside(mixed_fixture());
  fixture_put32(outside.block, outside.header.bitmap_references.offset + 64, 0x7FFFFFF0u);
  expect_refused(outside, "bitmap #0 (offset #2147483632, size #208) does not fit the data block");

  stored_collection small(mixed_fixture());
  fixture_put32(small.block, small.header.bitmap_references.offset + 68, 20);
  expect_refused(small, "bitmap #0 (offset #3140, size #20) does not fit the data block");

  stored_collection overlapping(mixed_fixture());
  fixture_put32(overlapping.block, overlapping.header.bitmap_references.offset + 128 + 64,
                static_cast<uint32_t>(overlapping.bitmap_offset(0) + 8));
  expect_refused(overlapping, "bitmap #1 overlaps other data at offset #3148");

  stored_collection tall(mixed_fixture());
  tall.put16_in_bitmap(0, 2, 30000);
  expect_refused(tall, "bitmap #0 of #30000 rows does not fit its #208 bytes");

  stored_collection negative(mixed_fixture());
  negative.put16_in_bitmap(0, 0, 0xFFFF);
  expect_refused(negative, "bitmap #0 has a negative size (-1 x 8)");

  stored_collection long_rows(mixed_fixture());
  long_rows.put16_in_bitmap(0, 4, 4000);
  expect_refused(long_rows, "the rows of bitmap #0 run past its #208 bytes");

  // Three bytes short: only the last row's end lies outside, less than a row past the size.
  stored_collection last_row(mixed_fixture());
  const uint32_t exact = get32(last_row.block, last_row.header.bitmap_references.offset + 68);
  ASSERT_EQ(exact, 48u + 4 * 8 + 16 * 8);
  fixture_put32(last_row.block, last_row.header.bitmap_references.offset + 68, exact - 3);
  expect_refused(last_row, "the rows of bitmap #0 run past its #205 bytes.");

  stored_collection short_rows(mixed_fixture());
  short_rows.put16_in_bitmap(0, 4, 15);
  expect_refused(short_rows, "bitmap #0 has #15 bytes per row for #16 pixels");

  stored_collection depth(mixed_fixture());
  depth.put16_in_bitmap(1, 8, 12);
  expect_refused(depth, "bitmap #1 has #12 bits per pixel with pixel size shift #1");

  stored_collection no_table(mixed_fixture());
  no_table.put16_in_bitmap(2, 6, BITMAP_IS_ENCODED | BITMAP_HAS_NO_ROW_TABLE);
  expect_refused(no_table, "encoded bitmap #2 has no row table");
}

TEST_F(HostileCollections, EncodedRowsThatRunOff) {
  stored_collection negative(mixed_fixture());
  negative.put16_in_bitmap(2, 48 + 8 + 2, 0x8000);
  expect_refused(negative, "row #0 of encoded bitmap #2 has #1 spans and #-32768 pixels");

  stored_collection long_row(mixed_fixture());
  long_row.put16_in_bitmap(2, 48 + 8, 0x7000);
  expect_refused(long_row, "row #0 of encoded bitmap #2 runs past its end");
}

TEST_F(HostileCollections, SequencesAndInstancesNamingTooMuch) {
  stored_collection frames(mixed_fixture());
  const size_t sequence = get32(frames.block, frames.header.sequence_references.offset + 64);
  fixture_put16(frames.block, sequence + 10, 200);
  expect_refused(frames, "the #200 frames of sequence #0 do not fit its #164 bytes");

  stored_collection views(mixed_fixture());
  fixture_put16(views.block, sequence + 64 + 46 + 2, 3);  // instance 3 of 3
  expect_refused(views, "frame #0 of sequence #0 names bitmap instance #3 of #3");

  stored_collection instance(mixed_fixture());
  fixture_put16(instance.block, instance.header.bitmap_instances.offset + 64 + 28, 3);
  expect_refused(instance, "bitmap instance #1 names bitmap #3 of #3");

  stored_collection colors(mixed_fixture());
  fixture_put32(colors.block, colors.header.color_tables.offset, 300);
  expect_refused(colors, "colour table #0 has #300 colours");
}

// Random damage never makes the fix-up read or write outside the block; whatever it accepts can
// be walked end to end.
TEST(HostileCollectionsFuzz, RandomDamageIsRefusedOrSafe) {
  const collection_fixture fixture = mixed_fixture();
  collection_header pristine_header;
  const std::vector<uint8_t> pristine = fixture.block(&pristine_header);
  std::mt19937 random(1234);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    collection_header header = pristine_header;
    std::vector<uint8_t> block = pristine;
    const int damage = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < damage; ++i) {
      switch (random() % 4) {
        case 0: block[random() % block.size()] = static_cast<uint8_t>(random()); break;
        case 1:
          if (block.size() >= 2) fixture_put16(block, random() % (block.size() - 1), static_cast<uint16_t>(random()));
          break;
        case 2: reinterpret_cast<uint32_t*>(&header)[16 + random() % 32] = static_cast<uint32_t>(random() % 4096); break;
        default: block.resize(block.empty() ? 0 : random() % block.size()); break;
      }
    }
    std::vector<uint8_t> exact(block);  // exactly sized so the sanitizer sees every overrun
    if (collection_fix_up(header, exact, "fuzz")) {
      ++accepted;
      fixture_touch_collection(header, exact, true);
    }
    handle_error();
  }
  EXPECT_GT(accepted, 0);
}

TEST(RemapBitmap, RawEightBitBitmapsOnly) {
  collection_fixture fixture;
  fixture.bitmaps.push_back(fixture_raw_bitmap(3, 2, 0, 8, [](int32_t x, int32_t) -> uint16_t { return x; }));
  fixture.bitmaps.push_back(fixture_raw_bitmap(3, 2, BITMAP_FLAG_80, 8, [](int32_t x, int32_t) -> uint16_t { return x; }));
  stored_collection collection(fixture);
  ASSERT_TRUE(collection.fix_up());

  color_table source{}, destination{};
  source.count = 3;
  source.colors[1] = {65535, 0, 0, 0};
  source.colors[2] = {0, 0, 65535, 0};
  destination.count = 4;
  destination.colors[1] = {0, 0, 60000, 0};
  destination.colors[3] = {60000, 0, 0, 0};
  remap_bitmap(collection.bitmap(0), source, destination);
  remap_bitmap(collection.bitmap(1), source, destination);
  const uint8_t* remapped = bitmap_get_row(collection.bitmap(0), 1);
  EXPECT_EQ(remapped[0], 0);  // entry 0 always maps to 0
  EXPECT_EQ(remapped[1], 3);
  EXPECT_EQ(remapped[2], 1);
  const uint8_t* kept = bitmap_get_row(collection.bitmap(1), 1);
  EXPECT_EQ(kept[1], 1);
  EXPECT_EQ(kept[2], 2);
}

}  // namespace
