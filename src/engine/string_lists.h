// String-list tags (groups `stli` and `temp`): the data is the strings in order, each ended by a
// line feed (a carriage return before it is dropped). Tag data is outside data: the size is
// bounded, reading stops at a zero byte, and a last string without its line feed still counts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cseries/text.h"

enum : int32_t { STRING_LIST_MAXIMUM_SIZE = 1 << 20 };

// The strings of raw string-list data.
std::vector<std::string> string_list_parse(std::span<const uint8_t> data);
// The strings of the visible tag (group, identifier); false (reported) when it is missing,
// larger than STRING_LIST_MAXIMUM_SIZE or can't be read.
bool string_list_read(tag group, tag identifier, std::vector<std::string>* strings);
bool string_list_read_index(int32_t tag_index, std::vector<std::string>* strings);
