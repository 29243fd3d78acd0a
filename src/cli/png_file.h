// A small PNG writer for the tool's pictures: 8-bit RGB rows, top row first.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Writes width x height pixels of three bytes each (rgb.size() must be width * height * 3). False
// with a reason in *error (when given) on a bad size or a failed write; a partly written file is
// removed.
bool png_file_write_rgb8(const char* path, int32_t width, int32_t height, std::span<const uint8_t> rgb,
                         std::string* error);
