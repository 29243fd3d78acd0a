#include "cseries/bit_vector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

namespace {

// Owns a vector for one test.
struct scoped_bits {
  bit_vector* vector;
  explicit scoped_bits(int32_t bit_count) : vector(bit_vector_new(bit_count)) {}
  ~scoped_bits() { bit_vector_dispose(vector); }
};

TEST(BitVector, LayoutIsMostSignificantBitFirst) {
  scoped_bits bits(70);
  ASSERT_NE(bits.vector, nullptr);
  ASSERT_EQ(bit_vector_words(bits.vector).size(), 3u);
  for (uint32_t word : bit_vector_words(bits.vector)) EXPECT_EQ(word, 0u);

  bit_vector_set(bits.vector, 0);
  bit_vector_set(bits.vector, 33);
  bit_vector_set(bits.vector, 69);
  const auto words = bit_vector_words(bits.vector);
  EXPECT_EQ(words[0], 0x80000000u);
  EXPECT_EQ(words[1], 0x40000000u);
  EXPECT_EQ(words[2], 0x04000000u);
  EXPECT_TRUE(bit_vector_test(bits.vector, 33));
  bit_vector_clear(bits.vector, 33);
  EXPECT_FALSE(bit_vector_test(bits.vector, 33));
  EXPECT_EQ(words[1], 0u);

  EXPECT_EQ(bit_vector_words(scoped_bits(64).vector).size(), 2u);
  EXPECT_EQ(bit_vector_words(scoped_bits(0).vector).size(), 0u);
}

TEST(BitVector, DisposeClearsTheReference) {
  bit_vector* vector = bit_vector_new(10);
  ASSERT_NE(vector, nullptr);
  bit_vector_dispose(vector);
  EXPECT_EQ(vector, nullptr);
  bit_vector_dispose(vector);  // harmless on none
  EXPECT_EQ(bit_vector_new(-1), nullptr);
}

TEST(BitVector, RangesAreInclusiveAndSingleBitRangesTestOneBit) {
  scoped_bits bits(96);
  bit_vector_set(bits.vector, 5);
  EXPECT_TRUE(bit_vector_test_range(bits.vector, 5, 5));
  EXPECT_FALSE(bit_vector_test_range(bits.vector, 4, 4));
  EXPECT_FALSE(bit_vector_test_range(bits.vector, 6, 6));
  EXPECT_FALSE(bit_vector_test_range(bits.vector, 6, 95));
  EXPECT_EQ(bit_vector_find_first(bits.vector, 0, 95), 5);
  EXPECT_EQ(bit_vector_find_first(bits.vector, 6, 95), -1);

  // A whole middle word, and a range ending on a word's last bit.
  bit_vector_set_range(bits.vector, 32, 63);
  EXPECT_EQ(bit_vector_words(bits.vector)[1], 0xFFFFFFFFu);
  EXPECT_EQ(bit_vector_words(bits.vector)[2], 0u);
  bit_vector_clear_range(bits.vector, 31, 62);
  EXPECT_EQ(bit_vector_words(bits.vector)[1], 0x00000001u);
  EXPECT_EQ(bit_vector_find_first(bits.vector, 6, 95), 63);
}

TEST(BitVector, RangesStayInsideTheVector) {
  scoped_bits bits(40);
  bit_vector_set_range(bits.vector, -10, 1000);
  EXPECT_EQ(bit_vector_words(bits.vector)[0], 0xFFFFFFFFu);
  // Only the 8 bits that exist are set in the last word.
  EXPECT_EQ(bit_vector_words(bits.vector)[1], 0xFF000000u);
  EXPECT_FALSE(bit_vector_test(bits.vector, 40));
  EXPECT_EQ(bit_vector_find_first(bits.vector, 40, 1000), -1);
  EXPECT_EQ(bit_vector_find_first(bits.vector, -5, 3), 0);
  // An empty or reversed range does nothing.
  bit_vector_clear_range(bits.vector, 10, 9);
  EXPECT_TRUE(bit_vector_test(bits.vector, 10));
  EXPECT_FALSE(bit_vector_test_range(bits.vector, 39, 0));
  bit_vector_set(bits.vector, -1);
  bit_vector_clear(bits.vector, 40);
  EXPECT_FALSE(bit_vector_test(bits.vector, -1));

  scoped_bits empty(0);
  bit_vector_set_range(empty.vector, 0, 31);
  EXPECT_EQ(bit_vector_find_first(empty.vector, 0, 31), -1);
}

// Word-at-a-time ranges must agree with a bit-by-bit model, within one word and across several.
TEST(BitVector, RandomRangesMatchABitByBitModel) {
  std::mt19937 random(20260107);
  for (int32_t bit_count : {1, 31, 32, 33, 95, 96, 200}) {
    scoped_bits bits(bit_count);
    std::vector<bool> model(static_cast<size_t>(bit_count));
    std::uniform_int_distribution<int32_t> index(0, bit_count - 1);
    std::uniform_int_distribution<int> operation(0, 4);
    for (int step = 0; step < 3000; ++step) {
      int32_t first = index(random);
      int32_t last = index(random);
      if (first > last) std::swap(first, last);
      // Keep many ranges short so single-word cases are common.
      if (step % 2) last = std::min(last, first + static_cast<int32_t>(random() % 5));
      switch (operation(random)) {
        case 0:
          bit_vector_set_range(bits.vector, first, last);
          for (int32_t i = first; i <= last; ++i) model[static_cast<size_t>(i)] = true;
          break;
        case 1:
          bit_vector_clear_range(bits.vector, first, last);
          for (int32_t i = first; i <= last; ++i) model[static_cast<size_t>(i)] = false;
          break;
        case 2:
          bit_vector_set(bits.vector, first);
          model[static_cast<size_t>(first)] = true;
          break;
        default: {
          int32_t expected = -1;
          for (int32_t i = first; i <= last && expected == -1; ++i) {
            if (model[static_cast<size_t>(i)]) expected = i;
          }
          ASSERT_EQ(bit_vector_find_first(bits.vector, first, last), expected)
              << bit_count << " bits, " << first << ".." << last;
          ASSERT_EQ(bit_vector_test_range(bits.vector, first, last), expected != -1);
          break;
        }
      }
    }
    for (int32_t i = 0; i < bit_count; ++i) ASSERT_EQ(bit_vector_test(bits.vector, i), model[static_cast<size_t>(i)]);
    // Bits past the end of the last word stay clear.
    if (bit_count % 32) {
      const uint32_t spare = 0xFFFFFFFFu >> (bit_count % 32);
      EXPECT_EQ(bit_vector_words(bits.vector).back() & spare, 0u);
    }
  }
}

}  // namespace
