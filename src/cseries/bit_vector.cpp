#include "cseries/bit_vector.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

#include "cseries/error_manager.h"
#include "cseries/memory.h"

namespace {

constexpr int32_t BITS_PER_WORD = 32;

uint32_t* vector_words(const bit_vector* vector) {
  return reinterpret_cast<uint32_t*>(const_cast<bit_vector*>(vector) + 1);
}

// Bits from `first` to `last` of one word, counted from its most significant bit.
uint32_t word_mask(int32_t first, int32_t last) {
  return (0xFFFFFFFFu >> first) & (0xFFFFFFFFu << (BITS_PER_WORD - 1 - last));
}

// Clips [first, last] to the vector; false when nothing is left.
bool clip_range(const bit_vector* vector, int32_t& first, int32_t& last) {
  if (!vector) return false;
  first = std::max(first, 0);
  last = std::min(last, vector->bit_count - 1);
  return first <= last;
}

// Calls visit(word, mask) for every word the clipped range touches, in order, until visit answers
// true; answers the index of that word or -1.
template <class Visit>
int32_t range_walk(const bit_vector* vector, int32_t first, int32_t last, Visit visit) {
  if (!clip_range(vector, first, last)) return -1;
  const int32_t first_word = first / BITS_PER_WORD;
  const int32_t last_word = last / BITS_PER_WORD;
  uint32_t* words = vector_words(vector);
  for (int32_t word = first_word; word <= last_word; ++word) {
    const int32_t low = word == first_word ? first % BITS_PER_WORD : 0;
    const int32_t high = word == last_word ? last % BITS_PER_WORD : BITS_PER_WORD - 1;
    if (visit(words[word], word_mask(low, high))) return word;
  }
  return -1;
}

bool index_is_inside(const bit_vector* vector, int32_t index) {
  return vector && index >= 0 && index < vector->bit_count;
}

uint32_t bit_mask(int32_t index) { return 0x80000000u >> (index % BITS_PER_WORD); }

}  // namespace

bit_vector* bit_vector_new(int32_t bit_count) {
  if (bit_count < 0) {
    POST_ERROR(error_unknown, "can't make a bit vector of %d bits.", bit_count);
    return nullptr;
  }
  const int32_t word_count = bit_count / BITS_PER_WORD + (bit_count % BITS_PER_WORD != 0);
  const size_t bytes = sizeof(bit_vector) + static_cast<size_t>(word_count) * sizeof(uint32_t);
  static_assert(sizeof(bit_vector) % alignof(uint32_t) == 0);
  void* block = block_allocate(bytes);
  if (!block) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for bit vector.", static_cast<int>(bytes));
    return nullptr;
  }
  return new (block) bit_vector{bit_count, word_count};
}

void bit_vector_dispose(bit_vector*& vector) {
  block_free(vector);
  vector = nullptr;
}

int32_t bit_vector_size(const bit_vector* vector) { return vector ? vector->bit_count : 0; }

std::span<uint32_t> bit_vector_words(bit_vector* vector) {
  if (!vector) return {};
  return {vector_words(vector), static_cast<size_t>(vector->word_count)};
}

std::span<const uint32_t> bit_vector_words(const bit_vector* vector) {
  if (!vector) return {};
  return {vector_words(vector), static_cast<size_t>(vector->word_count)};
}

bool bit_vector_test(const bit_vector* vector, int32_t index) {
  return index_is_inside(vector, index) && (vector_words(vector)[index / BITS_PER_WORD] & bit_mask(index));
}

void bit_vector_set(bit_vector* vector, int32_t index) {
  if (index_is_inside(vector, index)) vector_words(vector)[index / BITS_PER_WORD] |= bit_mask(index);
}

void bit_vector_clear(bit_vector* vector, int32_t index) {
  if (index_is_inside(vector, index)) vector_words(vector)[index / BITS_PER_WORD] &= ~bit_mask(index);
}

bool bit_vector_test_range(const bit_vector* vector, int32_t first, int32_t last) {
  return bit_vector_find_first(vector, first, last) != -1;
}

void bit_vector_set_range(bit_vector* vector, int32_t first, int32_t last) {
  range_walk(vector, first, last, [](uint32_t& word, uint32_t mask) {
    word |= mask;
    return false;
  });
}

void bit_vector_clear_range(bit_vector* vector, int32_t first, int32_t last) {
  range_walk(vector, first, last, [](uint32_t& word, uint32_t mask) {
    word &= ~mask;
    return false;
  });
}

int32_t bit_vector_find_first(const bit_vector* vector, int32_t first, int32_t last) {
  uint32_t found = 0;
  const int32_t word = range_walk(vector, first, last, [&found](const uint32_t& word, uint32_t mask) {
    found = word & mask;
    return found != 0;
  });
  return word == -1 ? -1 : word * BITS_PER_WORD + std::countl_zero(found);
}
