#include "cseries/byte_swapping.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "cseries/error_manager.h"

namespace {

enum { MAXIMUM_GROUP_DEPTH = 16 };

// Walks a description without touching data: the byte count it covers, or a reason why it is
// malformed. Every code is checked, so the swapping walk below never meets a surprise.
struct description_check {
  std::span<const int16_t> codes;
  size_t index = 0;
  char problem[128] = "";

  bool fail(const char* format, ...) VG_PRINTF(2, 3) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(problem, sizeof(problem), format, arguments);
    va_end(arguments);
    return false;
  }

  // index is at a group's begin code; on success it moves past the group's end code.
  bool group(int depth, int64_t* size) {
    if (depth > MAXIMUM_GROUP_DEPTH) return fail("groups nested deeper than %d", MAXIMUM_GROUP_DEPTH);
    size_t begin = index;
    if (index + 1 >= codes.size()) return fail("group at code %zu has no repetition count", begin);
    int16_t count = codes[index + 1];
    if (count < 1) return fail("group at code %zu repeats %d times", begin, int(count));
    index += 2;
    int64_t item_size = 0;
    for (;;) {
      if (index >= codes.size()) return fail("group at code %zu is never closed", begin);
      int16_t code = codes[index];
      if (code == _byte_swap_end_group) {
        ++index;
        break;
      }
      if (code == _byte_swap_begin_group) {
        int64_t inner = 0;
        if (!group(depth + 1, &inner)) return false;
        item_size += inner;
      } else if (code == _byte_swap_4_bytes) {
        item_size += 4, ++index;
      } else if (code == _byte_swap_2_bytes) {
        item_size += 2, ++index;
      } else if (code > 0) {
        item_size += code, ++index;
      } else {
        return fail("unknown code %d at code %zu", int(code), index);
      }
      if (item_size > INT32_MAX) return fail("group at code %zu is too large", begin);
    }
    *size = item_size * count;
    if (*size > INT32_MAX) return fail("group at code %zu is too large", begin);
    return true;
  }

  bool whole(int64_t* size) {
    if (codes.empty() || codes[0] != _byte_swap_begin_group) return fail("does not begin with a group");
    if (!group(1, size)) return false;
    if (index != codes.size()) return fail("has codes after its closing group at code %zu", index);
    return true;
  }
};

// Reports a malformed description; the name is all the caller may know of it.
void report_malformed(const byte_swap_description& description, const char* problem) {
  POST_ERROR(error_data_corrupted, "byte-swap description '%s' is malformed: %s",
             description.name ? description.name : "<unnamed>", problem);
}

// Converts one field in place and returns the byte after it.
uint8_t* swap_field(uint8_t* data, int16_t code) {
  if (code == _byte_swap_4_bytes) {
    std::swap(data[0], data[3]);
    std::swap(data[1], data[2]);
    return data + 4;
  }
  if (code == _byte_swap_2_bytes) {
    std::swap(data[0], data[1]);
    return data + 2;
  }
  return data + code;
}

// Swaps the data of the group whose begin code is at index; returns the index past its end code.
// Only called for checked descriptions.
size_t swap_group(std::span<const int16_t> codes, size_t index, uint8_t*& data) {
  int16_t count = codes[index + 1];
  size_t end = index + 2;
  for (int16_t repetition = 0; repetition < count; ++repetition) {
    size_t i = index + 2;
    while (codes[i] != _byte_swap_end_group) {
      int16_t code = codes[i];
      if (code == _byte_swap_begin_group) {
        i = swap_group(codes, i, data);
        continue;
      }
      data = swap_field(data, code);
      ++i;
    }
    end = i + 1;
  }
  return end;
}

}  // namespace

int32_t byte_swap_description_size(const byte_swap_description& description) {
  description_check check{description.codes};
  int64_t size = 0;
  if (!check.whole(&size)) {
    report_malformed(description, check.problem);
    return -1;
  }
  return int32_t(size);
}

bool byte_swap_data(const byte_swap_description& description, void* data, int32_t record_size, int32_t count) {
  int32_t size = byte_swap_description_size(description);
  if (size < 0) return false;
  if (size != description.size || size != record_size) {
    char problem[128];
    std::snprintf(problem, sizeof(problem), "its codes cover %d bytes, its size is %d and the record has %d",
                  int(size), int(description.size), int(record_size));
    report_malformed(description, problem);
    return false;
  }
  if (count < 0) {
    POST_ERROR(error_data_corrupted, "byte-swap of '%s' asked for %d records",
               description.name ? description.name : "<unnamed>", int(count));
    return false;
  }
  if (!data) return true;
  auto* bytes = static_cast<uint8_t*>(data);
  for (int32_t record = 0; record < count; ++record) swap_group(description.codes, 0, bytes);
  return true;
}

bool byte_swap_memory(const char* name, void* data, int32_t count, int16_t code) {
  if (code != _byte_swap_2_bytes && code != _byte_swap_4_bytes) {
    POST_ERROR(error_data_corrupted, "byte-swap of '%s' given the code %d (only -2 and -4 swap plain arrays)",
               name ? name : "<unnamed>", int(code));
    return false;
  }
  if (count < 0) {
    POST_ERROR(error_data_corrupted, "byte-swap of '%s' asked for %d values", name ? name : "<unnamed>",
               int(count));
    return false;
  }
  if (!data) return true;
  if (code == _byte_swap_2_bytes) {
    byte_swap_16_bit_values(data, size_t(count));
  } else {
    byte_swap_32_bit_values(data, size_t(count));
  }
  return true;
}

namespace {

// Sixteen bytes at a time through the compiler's portable vectors (plain SSE2 on x86-64), the
// rest one value at a time: a map's cells are millions of values, swapped on every open and save.
template <typename Value, typename SwapLanes>
void swap_values(void* data, size_t count, SwapLanes swap_lanes) {
  typedef Value lanes __attribute__((vector_size(16)));
  auto* bytes = static_cast<uint8_t*>(data);
  const size_t size = count * sizeof(Value);
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    lanes v;
    std::memcpy(&v, bytes + i, 16);
    v = swap_lanes(v);
    std::memcpy(bytes + i, &v, 16);
  }
  for (; i < size; i += sizeof(Value)) std::reverse(bytes + i, bytes + i + sizeof(Value));
}

}  // namespace

void byte_swap_16_bit_values(void* data, size_t count) {
  swap_values<uint16_t>(data, count, [](auto v) { return (v << 8) | (v >> 8); });
}

void byte_swap_32_bit_values(void* data, size_t count) {
  swap_values<uint32_t>(data, count, [](auto v) {
    return (v << 24) | ((v << 8) & 0x00FF0000u) | ((v >> 8) & 0x0000FF00u) | (v >> 24);
  });
}
