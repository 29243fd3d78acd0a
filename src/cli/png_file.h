// PNG files of 8-bit red, green and blue pixels, for the images vellgrim-tool draws.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Writes width x height pixels, rows top first, three bytes each, replacing any file at the path.
// False with a one-line reason in *error (when given) for a size that does not match the pixels,
// a file that cannot be written or a failure inside libpng; no partial file is left behind.
bool png_file_write_rgb8(const char* path, int32_t width, int32_t height, std::span<const uint8_t> rgb,
                         std::string* error);
