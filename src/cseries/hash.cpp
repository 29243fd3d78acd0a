#include "cseries/hash.h"

#include <cstring>

uint64_t hash_bytes_64(uint64_t hash, const void* bytes, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    hash = (hash ^ word) * 1099511628211ull;
    hash ^= hash >> 29;
  }
  for (; i < size; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
  return hash;
}
