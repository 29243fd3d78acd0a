#include "cseries/text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cseries/byte_swapping.h"

namespace {

bool is_tag_word_separator(char c) {
  return std::strchr(" \t\n()[]{}?!:;-", c) != nullptr && c != '\0';
}

tag text_to_tag_filled(const char* text, uint8_t fill) {
  uint8_t bytes[4] = {fill, fill, fill, fill};
  if (text) {
    char lowered[MAXIMUM_TAG_WORD_TEXT + 1];
    size_t length = strnlen(text, MAXIMUM_TAG_WORD_TEXT);
    for (size_t i = 0; i < length; ++i) lowered[i] = char(std::tolower(uint8_t(text[i])));
    lowered[length] = '\0';

    size_t position = 0;
    size_t i = 0;
    while (position < 4) {
      while (i < length && is_tag_word_separator(lowered[i])) ++i;
      if (i >= length) break;
      size_t word_start = i;
      while (i < length && !is_tag_word_separator(lowered[i])) ++i;
      size_t word_length = i - word_start;
      size_t room = 4 - position;
      std::memcpy(bytes + position, lowered + word_start, word_length < room ? word_length : room);
      position = position + 1 > 2 ? position + 1 : 2;
    }
  }
  return read_big_endian_32(bytes);
}


}  // namespace

std::string tag_to_text(tag value) {
  if (value == NONE_TAG) return {};
  // "% 4.4s": the characters up to a zero byte, right-aligned in four places.
  const char characters[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
  size_t length = 0;
  while (length < 4 && characters[length] != '\0') ++length;
  return std::string(4 - length, ' ') + std::string(characters, length);
}

tag text_to_tag(const char* text) { return text_to_tag_filled(text, 0xFF); }

tag text_to_tag_padded(const char* text) { return text_to_tag_filled(text, ' '); }

int compare_text_case_insensitive(const char* a, const char* b) {
  if (!a) a = "";
  if (!b) b = "";
  for (int i = 0; i < COMPARE_TEXT_LENGTH; ++i) {
    int ca = std::tolower(uint8_t(a[i]));
    int cb = std::tolower(uint8_t(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) break;
  }
  return 0;
}

bool format_bounded(char (&out)[BOUNDED_TEXT_LENGTH + 1], const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(out, sizeof(out), format, arguments);
  va_end(arguments);
  if (length < 0 || length > BOUNDED_TEXT_LENGTH) {
    std::strcpy(out, "string too long");
    return false;
  }
  return true;
}

namespace {

struct record_heap {
  uint8_t* base;
  size_t size;
  heap_sort_compare compare;

  uint8_t* at(size_t i) const { return base + i * size; }
  void swap(size_t i, size_t j) const {
    uint8_t* a = at(i);
    uint8_t* b = at(j);
    for (size_t k = 0; k < size; ++k) {
      uint8_t t = a[k];
      a[k] = b[k];
      b[k] = t;
    }
  }
  // Moves the record at root down until the heap below end is ordered again.
  void sift_down(size_t root, size_t end) const {
    for (;;) {
      size_t child = 2 * root + 1;
      if (child >= end) return;
      if (child + 1 < end && compare(at(child), at(child + 1)) < 0) ++child;
      if (compare(at(root), at(child)) >= 0) return;
      swap(root, child);
      root = child;
    }
  }
};

}  // namespace

void heap_sort(void* base, size_t count, size_t record_size, heap_sort_compare compare) {
  if (!base || count < 2 || record_size == 0 || !compare) return;
  record_heap heap{static_cast<uint8_t*>(base), record_size, compare};
  for (size_t i = count / 2; i-- > 0;) heap.sift_down(i, count);
  for (size_t end = count - 1; end > 0; --end) {
    heap.swap(0, end);
    heap.sift_down(0, end);
  }
}

