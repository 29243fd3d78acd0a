#include "cseries/byte_swapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cseries/error_manager.h"
#include "support/work_folder.h"

namespace {

// A record with an array of structures inside: int16, 3 × {int32, 2 kept bytes, int16}, 4 kept bytes.
constexpr int16_t nested_codes[] = {
    _byte_swap_begin_group, 1,
    -2,
    _byte_swap_begin_group, 3, -4, 2, -2, _byte_swap_end_group,
    4,
    _byte_swap_end_group};
constexpr byte_swap_description nested_description = {"nested", 30, nested_codes};

std::vector<uint8_t> counting_bytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i + 1);
  return bytes;
}

TEST(ByteSwapping, NestedGroupsSwapEachFieldAndUndo) {
  std::vector<uint8_t> data = counting_bytes(60);
  const std::vector<uint8_t> original = data;
  ASSERT_TRUE(byte_swap_data(nested_description, data.data(), 30, 2));
  for (size_t record = 0; record < 2; ++record) {
    const uint8_t* r = data.data() + record * 30;
    const uint8_t* o = original.data() + record * 30;
    EXPECT_EQ(r[0], o[1]);
    EXPECT_EQ(r[1], o[0]);
    for (size_t element = 0; element < 3; ++element) {
      size_t at = 2 + element * 8;
      EXPECT_EQ(r[at], o[at + 3]);
      EXPECT_EQ(r[at + 1], o[at + 2]);
      EXPECT_EQ(r[at + 3], o[at]);
      EXPECT_EQ(r[at + 4], o[at + 4]);  // kept bytes
      EXPECT_EQ(r[at + 5], o[at + 5]);
      EXPECT_EQ(r[at + 6], o[at + 7]);
      EXPECT_EQ(r[at + 7], o[at + 6]);
    }
    EXPECT_EQ(std::memcmp(r + 26, o + 26, 4), 0);
  }
  ASSERT_TRUE(byte_swap_data(nested_description, data.data(), 30, 2));
  EXPECT_EQ(data, original);
}

TEST(ByteSwapping, DescriptionSizesOfTheArchiveRecords) {
  constexpr int16_t header_codes[] = {-100, 1, -2, -2, 32, 64, -2, -2, -4, -4, -4, -4, 4, -4, -101};
  constexpr int16_t entry_point_codes[] = {-100, 1, -4, 8, -4, 32, 64, -101};
  constexpr int16_t tag_header_codes[] = {-100, 1, -2, 1, 1, 32, -4, -4, -4, -4, -4, -2, 1, 1, -4, -101};
  EXPECT_EQ(byte_swap_description_size({"tag_file_header", 128, header_codes}), 128);
  EXPECT_EQ(byte_swap_description_size({"tag_file_entry_point", 112, entry_point_codes}), 112);
  EXPECT_EQ(byte_swap_description_size({"tag_header", 64, tag_header_codes}), 64);
  EXPECT_EQ(byte_swap_description_size(nested_description), 30);
}

TEST(ByteSwapping, NullDataAndPlainArrays) {
  EXPECT_TRUE(byte_swap_data(nested_description, nullptr, 30, 5));
  uint8_t values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(byte_swap_memory("words", values, 4, _byte_swap_2_bytes));
  EXPECT_EQ(std::vector<uint8_t>(values, values + 8), (std::vector<uint8_t>{2, 1, 4, 3, 6, 5, 8, 7}));
  ASSERT_TRUE(byte_swap_memory("longs", values, 2, _byte_swap_4_bytes));
  EXPECT_EQ(std::vector<uint8_t>(values, values + 8), (std::vector<uint8_t>{3, 4, 1, 2, 7, 8, 5, 6}));
  EXPECT_EQ(error_pending_code(), error_none);
}

// Malformed descriptions are reported with code 10 and never touch (or run past) the data. The
// buffers are exactly one record long so that the sanitizer build catches any stray access.
TEST(ByteSwapping, MalformedDescriptionsAreReportedAndLeaveDataAlone) {
  scoped_work_folder folder;
  constexpr int16_t unclosed[] = {-100, 1, -4, -4};
  constexpr int16_t after_close[] = {-100, 1, -4, -101, -4};
  constexpr int16_t unknown[] = {-100, 1, -4, -3, -101};
  constexpr int16_t zero_count[] = {-100, 0, -4, -101};
  constexpr int16_t no_group[] = {-4, -4};
  constexpr int16_t inner_unclosed[] = {-100, 1, -100, 2, -4, -101};
  constexpr int16_t well_formed[] = {-100, 1, -4, -4, -101};
  const byte_swap_description bad[] = {
      {"unclosed", 8, unclosed},          {"after close", 4, after_close},
      {"unknown", 8, unknown},            {"zero count", 4, zero_count},
      {"no group", 8, no_group},          {"inner unclosed", 8, inner_unclosed},
      {"empty", 0, {}},
      {"size differs from codes", 4, well_formed},  // the codes cover 8 bytes
  };
  for (const auto& description : bad) {
    SCOPED_TRACE(description.name);
    std::vector<uint8_t> data = counting_bytes(size_t(description.size));
    const std::vector<uint8_t> original = data;
    EXPECT_FALSE(byte_swap_data(description, data.data(), description.size, 1));
    EXPECT_EQ(data, original);
    EXPECT_EQ(error_pending_code(), error_data_corrupted);
    EXPECT_EQ(handle_error(), 1);
  }

  // A well-formed description used on a record of another size.
  std::vector<uint8_t> small = counting_bytes(4);
  EXPECT_FALSE(byte_swap_data({"longs", 8, well_formed}, small.data(), 4, 1));
  EXPECT_EQ(small, counting_bytes(4));
  EXPECT_EQ(handle_error(), 1);

  EXPECT_EQ(byte_swap_description_size({"unknown", 8, unknown}), -1);
  EXPECT_EQ(handle_error(), 1);
  EXPECT_FALSE(byte_swap_memory("bytes", small.data(), 4, 1));
  EXPECT_EQ(small, counting_bytes(4));
  EXPECT_EQ(handle_error(), 1);
}

}  // namespace

// The build refuses a description whose codes miss its record (byte_swap_describe); the count it
// relies on is checked here on good and malformed codes.
TEST(ByteSwapCodes, TheCoveredSizeIsCountedWhenTheProgramIsBuilt) {
  using namespace byte_swap_letters;
  static constexpr int16_t nested[] = {B, 1, S, B, 3, L, S, E, 10, E};
  static_assert(byte_swap_codes_size(nested) == 2 + 3 * 6 + 10);
  static constexpr int16_t unclosed[] = {B, 1, S, L};
  static_assert(byte_swap_codes_size(unclosed) == -1);
  static constexpr int16_t trailing[] = {B, 1, S, E, S};
  static_assert(byte_swap_codes_size(trailing) == -1);
  static constexpr int16_t no_count[] = {B, 0, S, E};
  static_assert(byte_swap_codes_size(no_count) == -1);
  static constexpr byte_swap_description described = byte_swap_describe("nested", 30, nested);
  EXPECT_EQ(byte_swap_description_size(described), 30);
}

// The plain arrays are swapped sixteen bytes at a time with a tail: every length around a vector's
// width and every alignment gives the value-by-value answer, and no byte outside is touched.
TEST(ByteSwapping, PlainArraysOfAnyLengthAndAlignmentSwapEveryValueAndNothingElse) {
  for (size_t offset = 0; offset < 4; ++offset) {
    for (size_t count = 0; count <= 21; ++count) {
      for (int width : {2, 4}) {
        std::vector<uint8_t> bytes(count * size_t(width) + 8);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37 + 11);
        std::vector<uint8_t> want = bytes;
        for (size_t v = 0; v < count; ++v) {
          std::reverse(want.begin() + std::ptrdiff_t(offset + v * size_t(width)),
                       want.begin() + std::ptrdiff_t(offset + (v + 1) * size_t(width)));
        }
        if (width == 2) {
          byte_swap_16_bit_values(bytes.data() + offset, count);
        } else {
          byte_swap_32_bit_values(bytes.data() + offset, count);
        }
        EXPECT_EQ(bytes, want) << "width " << width << ", count " << count << ", offset " << offset;
      }
    }
  }
}
