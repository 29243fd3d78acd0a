// Bit vectors for selections and painting masks: ceil(n / 32) words, bit i being
// 0x80000000 >> (i % 32) of word i / 32 (the first bit is the most significant bit of the first word).
// Ranges are inclusive at both ends and are clipped to the vector, so no call reads or writes a word
// outside it; indices outside the vector read as clear and are ignored on writes.
#pragma once

#include <cstdint>
#include <span>

struct bit_vector {
  int32_t bit_count;
  int32_t word_count;
  // the words follow in the same allocation
};

// All bits clear; none on failure (reported with code 8, or as a bad count when n < 0).
bit_vector* bit_vector_new(int32_t bit_count);
// Frees it and sets the caller's reference to none.
void bit_vector_dispose(bit_vector*& vector);

int32_t bit_vector_size(const bit_vector* vector);
std::span<uint32_t> bit_vector_words(bit_vector* vector);
std::span<const uint32_t> bit_vector_words(const bit_vector* vector);

bool bit_vector_test(const bit_vector* vector, int32_t index);
void bit_vector_set(bit_vector* vector, int32_t index);
void bit_vector_clear(bit_vector* vector, int32_t index);

// True if any bit from first to last is set.
bool bit_vector_test_range(const bit_vector* vector, int32_t first, int32_t last);
void bit_vector_set_range(bit_vector* vector, int32_t first, int32_t last);
void bit_vector_clear_range(bit_vector* vector, int32_t first, int32_t last);
// The lowest set bit from first to last, or -1.
int32_t bit_vector_find_first(const bit_vector* vector, int32_t first, int32_t last);
