// A fast 64-bit hash of bytes (FNV-1a style, eight bytes at a time): the checksum of recovery
// records on disc and the fingerprint of what a view shows. Not for security.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint64_t HASH_64_START = 14695981039346656037ull;

// Continues `hash` over the bytes; the result depends only on the bytes and the start.
uint64_t hash_bytes_64(uint64_t hash, const void* bytes, size_t size);
