// Tags (four characters in a 32-bit value) and the small text and memory helpers the engine shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cseries/memory.h"

#include "cseries/error_manager.h"  // VG_PRINTF

// The "none" value of indices and tags.
inline constexpr int32_t NONE = -1;

// Four characters, most significant byte first: make_tag("mesh").
typedef uint32_t tag;
inline constexpr tag NONE_TAG = 0xFFFFFFFFu;

constexpr tag make_tag(const char (&text)[5]) {
  return (tag(uint8_t(text[0])) << 24) | (tag(uint8_t(text[1])) << 16) | (tag(uint8_t(text[2])) << 8) |
         tag(uint8_t(text[3]));
}

enum {
  MAXIMUM_TAG_WORD_TEXT = 31,    // characters of a text that text_to_tag looks at
  BOUNDED_TEXT_LENGTH = 255,     // characters written by format_bounded (plus NUL)
  COMPARE_TEXT_LENGTH = 63,      // characters compared by compare_text_case_insensitive
};

// The four characters of a tag ("% 4.4s"), stopping at a zero byte; "" for NONE. By value: it is
// safe from any thread and as long as the caller keeps it.
std::string tag_to_text(tag value);

// A tag built from the words of a text: one word gives its first four characters, two words the
// first two of each, three or more the first two of the first word and the first of the next two.
// Unused positions hold 0xFF (text_to_tag) or blanks (text_to_tag_padded).
tag text_to_tag(const char* text);
tag text_to_tag_padded(const char* text);

// 0 when equal; else -1 or 1 by the first differing byte of the lower-cased first 63 characters.
int compare_text_case_insensitive(const char* a, const char* b);

// printf into out (BOUNDED_TEXT_LENGTH characters plus NUL); when the expansion does not fit, out
// holds "string too long" and the result is false.
bool format_bounded(char (&out)[BOUNDED_TEXT_LENGTH + 1], const char* format, ...) VG_PRINTF(2, 3);

// In-place heap sort of count records of record_size bytes with a three-way comparison.
typedef int (*heap_sort_compare)(const void* a, const void* b);
void heap_sort(void* base, size_t count, size_t record_size, heap_sort_compare compare);

