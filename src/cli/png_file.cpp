#include "cli/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// libpng reports through longjmp; the message is kept for the caller.
void png_error_handler(png_structp png, png_const_charp message) {
  auto* text = static_cast<std::string*>(png_get_error_ptr(png));
  if (text) *text = message ? message : "libpng error";
  png_longjmp(png, 1);
}

void png_warning_handler(png_structp, png_const_charp) {}

// Everything libpng touches after setjmp lives here, so no local changes between setjmp and longjmp.
bool write_rows(FILE* file, int32_t width, int32_t height, const uint8_t* rgb, std::string* message) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, png_error_handler, png_warning_handler);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < height; ++y) png_write_row(png, rgb + size_t(y) * size_t(width) * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool png_file_write_rgb8(const char* path, int32_t width, int32_t height, std::span<const uint8_t> rgb,
                         std::string* error) {
  if (!path || !*path) return fail(error, "no file name");
  // PNG's own limit is 2^31 - 1 a side; ours are far smaller.
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
    return fail(error, "bad image size " + std::to_string(width) + "x" + std::to_string(height));
  if (rgb.size() != size_t(width) * size_t(height) * 3) return fail(error, "the pixels do not fill the image");
  // Written beside the destination and renamed over it, so a failure leaves no partial file.
  const std::string temporary = std::string(path) + ".part";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return fail(error, "couldn't create '" + std::string(path) + "': " + std::strerror(errno));
  std::string message = "libpng error";
  const bool written = write_rows(file, width, height, rgb.data(), &message);
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(temporary.c_str());
    return fail(error, "couldn't write '" + std::string(path) + "': " + (written ? std::strerror(errno) : message));
  }
  if (std::rename(temporary.c_str(), path) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    return fail(error, "couldn't write '" + std::string(path) + "': " + reason);
  }
  return true;
}
