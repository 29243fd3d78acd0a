// Stored data is big-endian; records are converted in place through declarative descriptions.
// Swapping is its own inverse: the same call converts stored to native order and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

enum byte_swap_code : int16_t {
  _byte_swap_begin_group = -100,  // followed by the group's repetition count
  _byte_swap_end_group = -101,
  _byte_swap_4_bytes = -4,
  _byte_swap_2_bytes = -2,
  // a positive n keeps n bytes as they are
};

// A record layout: one group (-100, 1, items..., -101) that may hold nested groups. Declare them as
// static tables:
//   static constexpr int16_t header_codes[] = {_byte_swap_begin_group, 1, -2, -2, 32, _byte_swap_end_group};
//   static constexpr byte_swap_description header_description = {"header", 36, header_codes};
struct byte_swap_description {
  const char* name;                // used only in messages
  int32_t size;                    // the record size the codes must cover
  std::span<const int16_t> codes;
};

// Converts count records laid end to end, record_size bytes apart. A null data pointer does
// nothing. A malformed description, or one whose size differs from record_size, is reported with
// error 10 and the data is left untouched (false).
bool byte_swap_data(const byte_swap_description& description, void* data, int32_t record_size, int32_t count);

// Swaps a plain array of count 16-bit (_byte_swap_2_bytes) or 32-bit (_byte_swap_4_bytes) values.
bool byte_swap_memory(const char* name, void* data, int32_t count, int16_t code);

// The number of bytes the codes cover; -1 (reported with error 10) for a malformed description.
int32_t byte_swap_description_size(const byte_swap_description& description);

// One value read from stored (big-endian) bytes; the caller checks that they are there.
constexpr uint16_t read_big_endian_16(const uint8_t* bytes) { return uint16_t((bytes[0] << 8) | bytes[1]); }
constexpr uint32_t read_big_endian_32(const uint8_t* bytes) {
  return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}
