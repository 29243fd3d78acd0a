#include "tools/bitmap_file.h"

#include <signal.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "cseries/error_manager.h"
#include "platform/posix_files.h"

namespace {

uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
void write16(uint8_t* p, uint16_t value) {
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
}
void write32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

// Field offsets from the start of the file.
enum {
  SIGNATURE_OFFSET = 0,
  FILE_SIZE_OFFSET = 2,
  PIXEL_OFFSET_OFFSET = 10,
  INFO_SIZE_OFFSET = 14,
  WIDTH_OFFSET = 18,
  HEIGHT_OFFSET = 22,
  PLANES_OFFSET = 26,
  DEPTH_OFFSET = 28,
  COMPRESSION_OFFSET = 30,
};

int64_t pixel_bytes(const bitmap_header& header) { return int64_t(header.width) * header.height; }

// Rows are stored bottom-up unless the height is negative; display order puts the top row first.
void to_display_order(const bitmap_header& header, bitmap_image* image) {
  if (header.stored_height < 0) return;
  const size_t width = size_t(header.width);
  for (int32_t top = 0, bottom = header.height - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(image->row(top), image->row(top) + width, image->row(bottom));
  }
}

bool allocate_pixels(const bitmap_header& header, bitmap_image* image) {
  try {
    image->pixels.assign(size_t(pixel_bytes(header)), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  image->width = header.width;
  image->height = header.height;
  std::memcpy(image->palette, header.palette, sizeof(image->palette));
  return true;
}

// A read-only descriptor closed on every path.
struct reading_file {
  int fd = -1;
  explicit reading_file(const std::string& path) {
    bool busy = false;
    fd = posix_file_open(path, _posix_open_read, &busy);
  }
  ~reading_file() {
    if (fd >= 0) posix_file_close(fd);
  }
  reading_file(const reading_file&) = delete;
  reading_file& operator=(const reading_file&) = delete;
};

}  // namespace

bitmap_file_result bitmap_parse_header(std::span<const uint8_t> head, int64_t file_length, bitmap_header* header) {
  *header = bitmap_header{};
  const int64_t available = std::min<int64_t>(int64_t(head.size()), std::max<int64_t>(file_length, 0));
  if (available < BITMAP_FILE_HEADER_SIZE) return _bitmap_file_short_header;
  const uint8_t* p = head.data();
  if (p[SIGNATURE_OFFSET] != 'B' || p[SIGNATURE_OFFSET + 1] != 'M') return _bitmap_file_not_a_bitmap;
  if (available < BITMAP_PALETTE_OFFSET) return _bitmap_file_short_header;
  if (read16(p + PLANES_OFFSET) != 1 || read16(p + DEPTH_OFFSET) != 8 || read32(p + COMPRESSION_OFFSET) != 0) {
    return _bitmap_file_unsupported;
  }
  if (available < BITMAP_HEAD_SIZE) return _bitmap_file_short_palette;
  std::memcpy(header->palette, p + BITMAP_PALETTE_OFFSET, BITMAP_PALETTE_SIZE);

  // The height's sign gives the row order; its magnitude is taken without overflow.
  const int32_t width = int32_t(read32(p + WIDTH_OFFSET));
  const int32_t stored_height = int32_t(read32(p + HEIGHT_OFFSET));
  const int64_t height = stored_height < 0 ? -int64_t(stored_height) : int64_t(stored_height);
  header->width = width;
  header->stored_height = stored_height;
  header->height = int32_t(std::min<int64_t>(height, INT32_MAX));
  header->pixel_offset = read32(p + PIXEL_OFFSET_OFFSET);
  if (width <= 0 || height == 0 || width > BITMAP_MAXIMUM_SIDE || height > BITMAP_MAXIMUM_SIDE) {
    return _bitmap_file_bad_size;
  }
  if (header->pixel_offset < BITMAP_PALETTE_OFFSET ||
      int64_t(header->pixel_offset) + pixel_bytes(*header) > file_length) {
    return _bitmap_file_pixels_outside;
  }
  return _bitmap_file_valid;
}

bitmap_file_result bitmap_parse(std::span<const uint8_t> bytes, bitmap_header* header, bitmap_image* image) {
  const bitmap_file_result result = bitmap_parse_header(bytes, int64_t(bytes.size()), header);
  if (result != _bitmap_file_valid) return result;
  if (!allocate_pixels(*header, image)) return _bitmap_file_unreadable;
  std::memcpy(image->pixels.data(), bytes.data() + header->pixel_offset, image->pixels.size());
  to_display_order(*header, image);
  return _bitmap_file_valid;
}

bitmap_file_result bitmap_read_header(const std::string& path, bitmap_header* header) {
  *header = bitmap_header{};
  reading_file file(path);
  if (file.fd < 0) return _bitmap_file_unreadable;
  const int64_t length = posix_file_length(file.fd);
  if (length < 0) return _bitmap_file_unreadable;
  uint8_t head[BITMAP_HEAD_SIZE] = {};
  const int64_t count = std::min<int64_t>(length, BITMAP_HEAD_SIZE);
  if (!posix_file_seek(file.fd, 0) || !posix_file_read_exact(file.fd, head, count)) return _bitmap_file_unreadable;
  return bitmap_parse_header(std::span<const uint8_t>(head, size_t(count)), length, header);
}

bitmap_file_result bitmap_read_pixels(const std::string& path, const bitmap_header& header, bitmap_image* image) {
  reading_file file(path);
  if (file.fd < 0) return _bitmap_file_unreadable;
  // The file may have changed since its head was read: its extent is checked again.
  const int64_t length = posix_file_length(file.fd);
  if (header.width <= 0 || header.height <= 0 || length < 0 ||
      int64_t(header.pixel_offset) + pixel_bytes(header) > length) {
    return _bitmap_file_pixels_outside;
  }
  if (!allocate_pixels(header, image)) return _bitmap_file_unreadable;
  if (!posix_file_seek(file.fd, header.pixel_offset) ||
      !posix_file_read_exact(file.fd, image->pixels.data(), int64_t(image->pixels.size()))) {
    image->pixels.clear();
    return _bitmap_file_pixels_outside;
  }
  to_display_order(header, image);
  return _bitmap_file_valid;
}

const char* bitmap_file_result_text(bitmap_file_result result) {
  switch (result) {
    case _bitmap_file_valid: return "valid";
    case _bitmap_file_unreadable: return "could not be read";
    case _bitmap_file_short_header: return "is too short for the bitmap headers";
    case _bitmap_file_not_a_bitmap: return "is not a bitmap";
    case _bitmap_file_unsupported: return "is not an 8-bit uncompressed bitmap";
    case _bitmap_file_short_palette: return "is too short for its palette";
    case _bitmap_file_bad_size: return "has a width or height of zero or of more than 16384 pixels";
    case _bitmap_file_pixels_outside: return "has pixel rows outside the file";
  }
  return "is not usable";
}

std::vector<uint8_t> bitmap_encode(const bitmap_image& image) {
  const size_t width = size_t(std::max(image.width, 0)), height = size_t(std::max(image.height, 0));
  const size_t count = std::min(image.pixels.size(), width * height);
  std::vector<uint8_t> bytes(BITMAP_HEAD_SIZE + width * height, 0);
  uint8_t* p = bytes.data();
  p[0] = 'B';
  p[1] = 'M';
  write32(p + FILE_SIZE_OFFSET, uint32_t(bytes.size()));
  write32(p + PIXEL_OFFSET_OFFSET, BITMAP_HEAD_SIZE);
  write32(p + INFO_SIZE_OFFSET, BITMAP_INFO_HEADER_SIZE);
  write32(p + WIDTH_OFFSET, uint32_t(width));
  write32(p + HEIGHT_OFFSET, uint32_t(height));  // positive: bottom-up rows
  write16(p + PLANES_OFFSET, 1);
  write16(p + DEPTH_OFFSET, 8);
  std::memcpy(p + BITMAP_PALETTE_OFFSET, image.palette, BITMAP_PALETTE_SIZE);
  uint8_t* rows = p + BITMAP_HEAD_SIZE;
  for (size_t y = 0; y < height && (y + 1) * width <= count; ++y) {
    std::memcpy(rows + (height - 1 - y) * width, image.pixels.data() + y * width, width);
  }
  return bytes;
}

namespace {

// A writer killed part-way leaves "NAME.partial-PID" beside its output; the next write of that
// output removes every one whose process is gone.
void partials_remove_stale(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".partial-";
  std::vector<posix_directory_entry> entries;
  if (!posix_folder_list(folder.empty() ? "/" : folder, &entries)) return;
  for (const posix_directory_entry& entry : entries) {
    if (entry.kind != _posix_entry_file || entry.name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = entry.name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = pid_t(std::stol(digits));
    if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
      posix_file_remove((folder.empty() ? "" : folder + "/") + entry.name);
    }
  }
}

}  // namespace

bool bitmap_write(const std::string& path, const bitmap_image& image) {
  std::vector<uint8_t> bytes;
  try {
    bytes = bitmap_encode(image);
  } catch (const std::bad_alloc&) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %lld bytes for the bitmap '%s'.",
               static_cast<long long>(BITMAP_HEAD_SIZE + int64_t(image.width) * image.height), path.c_str());
    return false;
  }
  // The new file is completed beside the old one and then takes its place, so a failed write
  // never leaves a torn image where a good one was.
  partials_remove_stale(path);
  const std::string temporary = path + ".partial-" + std::to_string(::getpid());
  bool busy = false;
  bool written = posix_file_create(temporary);
  if (written) {
    const int fd = posix_file_open(temporary, _posix_open_write, &busy);
    written = fd >= 0 && posix_file_write_exact(fd, bytes.data(), int64_t(bytes.size())) && posix_file_sync(fd);
    if (fd >= 0) written = posix_file_close(fd) && written;
    written = written && posix_rename_replace(temporary, path);
  }
  if (!written) {
    const int reason = errno;
    posix_file_remove(temporary);
    POST_ERROR(error_file_write, "couldn't write the bitmap '%s': %s.", path.c_str(), std::strerror(reason));
    return false;
  }
  return true;
}

void bitmap_set_grey_palette(bitmap_image* image) {
  for (int i = 0; i < BITMAP_PALETTE_ENTRIES; ++i) {
    image->palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  }
}
