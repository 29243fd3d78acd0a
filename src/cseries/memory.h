// Every block the engine allocates comes through here: zero-filled, counted, and (for tests) made to
// fail on request, so that each allocation failure of an operation can be tried in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

// A zero-filled block; none on failure. Freed with block_free.
void* block_allocate(size_t size);
void block_free(void* block);

// size 0 frees the block and returns nullptr; a null block is allocated zero-filled; the same size
// returns the block; else the block is reallocated (growth zero-filled). On failure nullptr is
// returned and the old block stays valid. Blocks are freed with resize_block(block, 0).
void* resize_block(void* block, size_t size);

// Counts an allocation made outside the blocks (a record with constructors) as one of them: false
// when it is the one armed to fail.
bool block_permit_allocation();

// Blocks allocated and not yet freed, and allocations asked for since the start.
int64_t block_live_count();
int64_t block_allocation_count();
// Tests: the nth allocation from now (1 = the next) fails as if memory ran out; 0 disarms. A
// block that would not grow (the same size, or shrinking) never counts.
void block_fail_allocation(int64_t n);
// Whether the armed failure has happened.
bool block_failure_happened();

// Owning pointers to blocks of records that need no construction.
struct block_deleter {
  void operator()(void* block) const { block_free(block); }
};
template <class T>
using block_ptr = std::unique_ptr<T, block_deleter>;

template <class T>
block_ptr<T> block_new() {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
  return block_ptr<T>(static_cast<T*>(block_allocate(sizeof(T))));
}

template <class T>
block_ptr<T[]> block_new_array(size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return block_ptr<T[]>(static_cast<T*>(block_allocate(count * sizeof(T))));
}
