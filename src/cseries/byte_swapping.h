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

// The letters every description is written with.
namespace byte_swap_letters {
inline constexpr int16_t B = _byte_swap_begin_group;
inline constexpr int16_t E = _byte_swap_end_group;
inline constexpr int16_t S = _byte_swap_2_bytes;  // a short
inline constexpr int16_t L = _byte_swap_4_bytes;  // a long
}  // namespace byte_swap_letters

// A record layout: one group (B, 1, items..., E) that may hold nested groups. Declare them as
// static tables, made with byte_swap_describe so that the build checks them against the record:
//   constexpr int16_t header_codes[] = {B, 1, S, S, 32, E};
//   const byte_swap_description header_description = byte_swap_describe("header", sizeof(header), header_codes);
struct byte_swap_description {
  const char* name;                // used only in messages
  int32_t size;                    // the record size the codes must cover
  std::span<const int16_t> codes;
};

// The bytes a group of codes covers from index on, moving index past its end; -1 when malformed.
constexpr int64_t byte_swap_group_size(std::span<const int16_t> codes, size_t& index, int depth) {
  if (depth > 16 || index + 1 >= codes.size() || codes[index] != _byte_swap_begin_group || codes[index + 1] < 1)
    return -1;
  const int64_t count = codes[index + 1];
  int64_t item = 0;
  index += 2;
  for (;;) {
    if (index >= codes.size()) return -1;
    const int16_t code = codes[index];
    if (code == _byte_swap_end_group) {
      ++index;
      return item * count;
    }
    if (code == _byte_swap_begin_group) {
      const int64_t inner = byte_swap_group_size(codes, index, depth + 1);
      if (inner < 0) return -1;
      item += inner;
      continue;
    }
    if (code == _byte_swap_4_bytes) {
      item += 4;
    } else if (code == _byte_swap_2_bytes) {
      item += 2;
    } else if (code > 0) {
      item += code;
    } else {
      return -1;
    }
    ++index;
  }
}

// The bytes a whole description's codes cover; -1 when malformed.
constexpr int64_t byte_swap_codes_size(std::span<const int16_t> codes) {
  size_t index = 0;
  const int64_t size = byte_swap_group_size(codes, index, 1);
  return index == codes.size() ? size : -1;
}

// A description whose codes the build has checked against the record size: a mismatch does not
// compile.
template <size_t N>
consteval byte_swap_description byte_swap_describe(const char* name, size_t size, const int16_t (&codes)[N]) {
  if (byte_swap_codes_size(codes) != int64_t(size)) throw "the byte-swap codes do not cover the record";
  return {name, int32_t(size), codes};
}

// Converts count records laid end to end, record_size bytes apart. A null data pointer does
// nothing. A malformed description, or one whose size differs from record_size, is reported with
// error 10 and the data is left untouched (false).
bool byte_swap_data(const byte_swap_description& description, void* data, int32_t record_size, int32_t count);

// Swaps a plain array of count 16-bit (_byte_swap_2_bytes) or 32-bit (_byte_swap_4_bytes) values.
bool byte_swap_memory(const char* name, void* data, int32_t count, int16_t code);

// The same without checks, for callers that know their count: count values laid end to end, in
// place, at any alignment.
void byte_swap_16_bit_values(void* data, size_t count);
void byte_swap_32_bit_values(void* data, size_t count);

// The number of bytes the codes cover; -1 (reported with error 10) for a malformed description.
int32_t byte_swap_description_size(const byte_swap_description& description);

// One value read from stored (big-endian) bytes; the caller checks that they are there.
constexpr uint16_t read_big_endian_16(const uint8_t* bytes) { return uint16_t((bytes[0] << 8) | bytes[1]); }
constexpr uint32_t read_big_endian_32(const uint8_t* bytes) {
  return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}
