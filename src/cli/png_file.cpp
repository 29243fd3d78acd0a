#include "cli/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

struct png_failure {
  char text[200];
};

void on_error(png_structp png, png_const_charp message) {
  auto* failure = static_cast<png_failure*>(png_get_error_ptr(png));
  std::snprintf(failure->text, sizeof(failure->text), "%s", message ? message : "libpng failed");
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// The libpng part alone: no C++ object with a destructor may live across its longjmp.
bool write_rows(FILE* file, int32_t width, int32_t height, png_bytep* rows, png_failure* failure) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, on_error, on_warning);
  if (!png) {
    std::snprintf(failure->text, sizeof(failure->text), "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!failure->text[0]) std::snprintf(failure->text, sizeof(failure->text), "out of memory");
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool png_file_write_rgb8(const char* path, int32_t width, int32_t height, std::span<const uint8_t> rgb,
                         std::string* error) {
  if (!path || !*path) return fail(error, "no file name");
  if (width <= 0 || height <= 0 || width > 65536 || height > 65536) return fail(error, "bad picture size");
  if (rgb.size() != size_t(width) * size_t(height) * 3) return fail(error, "the pixels do not fill the picture");
  FILE* file = std::fopen(path, "wb");
  if (!file) return fail(error, std::string("couldn't create ") + path + ": " + std::strerror(errno));
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y) rows[size_t(y)] = const_cast<png_bytep>(rgb.data() + size_t(y) * width * 3);
  png_failure failure{};
  bool written = write_rows(file, width, height, rows.data(), &failure);
  if (std::fclose(file) != 0 && written) {
    written = false;
    std::snprintf(failure.text, sizeof(failure.text), "%s", std::strerror(errno));
  }
  if (!written) {
    std::remove(path);
    return fail(error, std::string("couldn't write ") + path + ": " + failure.text);
  }
  return true;
}
