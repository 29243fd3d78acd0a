#include "cseries/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// Blocks carry their size in front, so that the same size can be recognised and growth can be
// zero-filled.
struct alignas(std::max_align_t) block_header {
  size_t size;
};

std::atomic<int64_t> live_blocks = 0;
std::atomic<int64_t> allocations = 0;
std::atomic<int64_t> fail_at = 0;  // allocation count at which to fail; 0 = never
std::atomic<bool> failure_happened = false;

// Counts an allocation; false when it is the one armed to fail.
bool allocation_permitted() {
  const int64_t count = ++allocations;
  const int64_t target = fail_at.load();
  if (target != 0 && count == target) {
    fail_at = 0;
    failure_happened = true;
    return false;
  }
  return true;
}

}  // namespace

void* block_allocate(size_t size) { return resize_block(nullptr, size == 0 ? 1 : size); }

void block_free(void* block) { resize_block(block, 0); }

void* resize_block(void* block, size_t size) {
  block_header* header = block ? static_cast<block_header*>(block) - 1 : nullptr;
  if (size == 0) {
    if (header) --live_blocks;
    std::free(header);
    return nullptr;
  }
  if (size > SIZE_MAX - sizeof(block_header)) return nullptr;
  if (!header) {
    if (!allocation_permitted()) return nullptr;
    header = static_cast<block_header*>(std::calloc(1, sizeof(block_header) + size));
    if (!header) return nullptr;
    ++live_blocks;
    header->size = size;
    return header + 1;
  }
  size_t old_size = header->size;
  if (old_size == size) return block;
  if (size > old_size && !allocation_permitted()) return nullptr;
  auto* grown = static_cast<block_header*>(std::realloc(header, sizeof(block_header) + size));
  if (!grown) return nullptr;
  if (size > old_size) std::memset(reinterpret_cast<uint8_t*>(grown + 1) + old_size, 0, size - old_size);
  grown->size = size;
  return grown + 1;
}

bool block_permit_allocation() { return allocation_permitted(); }

int64_t block_live_count() { return live_blocks.load(); }
int64_t block_allocation_count() { return allocations.load(); }

void block_fail_allocation(int64_t n) {
  failure_happened = false;
  fail_at = n > 0 ? allocations.load() + n : 0;
}

bool block_failure_happened() { return failure_happened.load(); }
