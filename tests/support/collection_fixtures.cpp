#include "collection_fixtures.h"

#include <cstring>

#include "render/shapes.h"
#include "tag_files/tag_files.h"

namespace {

size_t align4(size_t value) { return (value + 3) & ~size_t{3}; }

void put_block(collection_block& block, size_t count, size_t offset, size_t size) {
  block = {static_cast<uint32_t>(count), static_cast<uint32_t>(offset), static_cast<uint32_t>(size), 0};
}

void put_name(std::vector<uint8_t>& out, size_t offset, const std::string& name) {
  std::memcpy(out.data() + offset, name.data(), std::min<size_t>(name.size(), 63));
}

}  // namespace

void fixture_put16(std::vector<uint8_t>& out, size_t offset, uint16_t value) {
  out[offset] = static_cast<uint8_t>(value >> 8);
  out[offset + 1] = static_cast<uint8_t>(value);
}

void fixture_put32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  fixture_put16(out, offset, static_cast<uint16_t>(value >> 16));
  fixture_put16(out, offset + 2, static_cast<uint16_t>(value));
}

fixture_bitmap fixture_raw_bitmap(int16_t width, int16_t height, int16_t flags, int16_t bits_per_pixel,
                                  uint16_t (*pixel)(int32_t x, int32_t y), int16_t bytes_per_row) {
  fixture_bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.flags = flags;
  bitmap.bits_per_pixel = bits_per_pixel;
  bitmap.pixel_size_shift = bits_per_pixel == 16 ? 1 : 0;
  bitmap.bytes_per_row = bytes_per_row ? bytes_per_row : static_cast<int16_t>(width << bitmap.pixel_size_shift);
  const bool row_table = !(flags & 0x20);
  const size_t first = row_table ? 4 * static_cast<size_t>(height) : 4;  // relative to offset 48
  bitmap.tail.assign(first + static_cast<size_t>(height) * bitmap.bytes_per_row, 0);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const size_t at = first + static_cast<size_t>(y) * bitmap.bytes_per_row + (static_cast<size_t>(x) << bitmap.pixel_size_shift);
      if (bits_per_pixel == 16) {
        fixture_put16(bitmap.tail, at, pixel(x, y));
      } else {
        bitmap.tail[at] = static_cast<uint8_t>(pixel(x, y));
      }
    }
  }
  return bitmap;
}

fixture_bitmap fixture_encoded_bitmap(int16_t width, const std::vector<fixture_encoded_row>& rows, int16_t flags,
                                      int16_t bits_per_pixel) {
  fixture_bitmap bitmap;
  bitmap.width = width;
  bitmap.height = static_cast<int16_t>(rows.size());
  bitmap.flags = static_cast<int16_t>(flags | 0x04);
  bitmap.bits_per_pixel = bits_per_pixel;
  bitmap.pixel_size_shift = bits_per_pixel == 16 ? 1 : 0;
  bitmap.tail.assign(4 * rows.size(), 0);
  for (const fixture_encoded_row& row : rows) {
    const size_t start = bitmap.tail.size();
    bitmap.tail.resize(start + 4 + 4 * row.spans.size() + (row.pixels.size() << bitmap.pixel_size_shift));
    fixture_put16(bitmap.tail, start, static_cast<uint16_t>(row.spans.size()));
    fixture_put16(bitmap.tail, start + 2, static_cast<uint16_t>(row.pixels.size()));
    size_t at = start + 4;
    for (const auto& [first, second] : row.spans) {
      fixture_put16(bitmap.tail, at, static_cast<uint16_t>(first));
      fixture_put16(bitmap.tail, at + 2, static_cast<uint16_t>(second));
      at += 4;
    }
    for (uint16_t value : row.pixels) {
      if (bits_per_pixel == 16) {
        fixture_put16(bitmap.tail, at, value);
        at += 2;
      } else {
        bitmap.tail[at++] = static_cast<uint8_t>(value);
      }
    }
    if ((flags & 0x40) && ((bitmap.tail.size() - start) & 1)) bitmap.tail.push_back(0xEE);
  }
  return bitmap;
}

std::vector<uint8_t> collection_fixture::block(collection_header* header) const {
  std::memset(header, 0, sizeof(*header));
  header->flags = flags;
  size_t at = 0;
  const size_t table_count = colors.empty() ? 0 : 1;
  put_block(header->color_tables, table_count, at, table_count * 2080);
  at += table_count * 2080;
  put_block(header->hue_changes, hue_changes.size(), at, hue_changes.size() * 128);
  at += hue_changes.size() * 128;
  put_block(header->bitmap_references, bitmaps.size(), at, bitmaps.size() * 128);
  at += bitmaps.size() * 128;
  put_block(header->bitmap_instances, instances.size(), at, instances.size() * 64);
  at += instances.size() * 64;
  put_block(header->sequence_references, sequences.size(), at, sequences.size() * 128);
  at += sequences.size() * 128;
  put_block(header->shadow_maps, static_cast<size_t>(shadow_map_count), at, static_cast<size_t>(shadow_map_count) * 32);
  at += static_cast<size_t>(shadow_map_count) * 32;

  std::vector<size_t> sequence_offsets, sequence_sizes, bitmap_offsets;
  for (const fixture_sequence& sequence : sequences) {
    sequence_offsets.push_back(at);
    sequence_sizes.push_back(64 + sequence.frames.size() * (46 + 2 * static_cast<size_t>(sequence.view_count)));
    at = align4(at + sequence_sizes.back());
  }
  for (const fixture_bitmap& bitmap : bitmaps) {
    bitmap_offsets.push_back(at);
    at = align4(at + 48 + bitmap.tail.size());
  }

  std::vector<uint8_t> out(at, 0);
  if (table_count) {
    const size_t base = header->color_tables.offset;
    fixture_put32(out, base, static_cast<uint32_t>(colors.size()));
    for (size_t i = 0; i < colors.size() && i < 256; ++i) {
      fixture_put16(out, base + 32 + 8 * i, colors[i].red);
      fixture_put16(out, base + 32 + 8 * i + 2, colors[i].green);
      fixture_put16(out, base + 32 + 8 * i + 4, colors[i].blue);
      fixture_put16(out, base + 32 + 8 * i + 6, colors[i].flags);
    }
  }
  for (size_t i = 0; i < hue_changes.size(); ++i) {
    const size_t base = header->hue_changes.offset + 128 * i;
    put_name(out, base, "hue change");
    fixture_put16(out, base + 64, static_cast<uint16_t>(hue_changes[i].flags));
    for (int color : hue_changes[i].colors) out[base + 68 + color / 8] |= static_cast<uint8_t>(1 << (color % 8));
    fixture_put16(out, base + 102, hue_changes[i].reference_hue);
  }
  for (size_t i = 0; i < bitmaps.size(); ++i) {
    const fixture_bitmap& bitmap = bitmaps[i];
    const size_t base = header->bitmap_references.offset + 128 * i;
    put_name(out, base, bitmap.name);
    fixture_put32(out, base + 64, static_cast<uint32_t>(bitmap_offsets[i]));
    fixture_put32(out, base + 68, static_cast<uint32_t>(48 + bitmap.tail.size()));
    fixture_put16(out, base + 76, static_cast<uint16_t>(bitmap.origin_x));
    fixture_put16(out, base + 78, static_cast<uint16_t>(bitmap.origin_y));
    const size_t b = bitmap_offsets[i];
    fixture_put16(out, b, static_cast<uint16_t>(bitmap.width));
    fixture_put16(out, b + 2, static_cast<uint16_t>(bitmap.height));
    fixture_put16(out, b + 4, static_cast<uint16_t>(bitmap.bytes_per_row));
    fixture_put16(out, b + 6, static_cast<uint16_t>(bitmap.flags));
    fixture_put16(out, b + 8, static_cast<uint16_t>(bitmap.bits_per_pixel));
    fixture_put16(out, b + 14, static_cast<uint16_t>(bitmap.pixel_size_shift));
    std::memcpy(out.data() + b + 48, bitmap.tail.data(), bitmap.tail.size());
  }
  for (size_t i = 0; i < instances.size(); ++i) {
    const size_t base = header->bitmap_instances.offset + 64 * i;
    fixture_put32(out, base, static_cast<uint32_t>(instances[i].flags));
    fixture_put16(out, base + 28, static_cast<uint16_t>(instances[i].bitmap_index));
  }
  for (size_t i = 0; i < sequences.size(); ++i) {
    const fixture_sequence& sequence = sequences[i];
    const size_t base = header->sequence_references.offset + 128 * i;
    put_name(out, base, sequence.name);
    fixture_put32(out, base + 64, static_cast<uint32_t>(sequence_offsets[i]));
    fixture_put32(out, base + 68, static_cast<uint32_t>(sequence_sizes[i]));
    const size_t s = sequence_offsets[i];
    fixture_put32(out, s, static_cast<uint32_t>(sequence.flags));
    fixture_put32(out, s + 4, static_cast<uint32_t>(sequence.scale));
    fixture_put16(out, s + 8, static_cast<uint16_t>(sequence.view_count));
    fixture_put16(out, s + 10, static_cast<uint16_t>(sequence.frames.size()));
    for (size_t frame = 0; frame < sequence.frames.size(); ++frame) {
      const size_t f = s + 64 + frame * (46 + 2 * static_cast<size_t>(sequence.view_count)) + 46;
      for (size_t view = 0; view < sequence.frames[frame].size(); ++view) {
        fixture_put16(out, f + 2 * view, static_cast<uint16_t>(sequence.frames[frame][view]));
      }
    }
  }
  header->data_offset = sizeof(collection_header);
  header->data_size = static_cast<uint32_t>(out.size());
  return out;
}

std::vector<uint8_t> collection_fixture::tag_data() const {
  collection_header header;
  const std::vector<uint8_t> data = block(&header);
  std::vector<uint8_t> out(sizeof(collection_header), 0);
  fixture_put32(out, 4, header.flags);
  const collection_block* blocks[] = {&header.color_tables,        &header.hue_changes, &header.bitmap_references,
                                      &header.bitmap_instances,    &header.sequence_references,
                                      &header.shadow_maps,         &header.blend_tables, &header.remapping_tables};
  for (size_t i = 0; i < std::size(blocks); ++i) {
    fixture_put32(out, 64 + 16 * i, blocks[i]->count);
    fixture_put32(out, 64 + 16 * i + 4, blocks[i]->offset);
    fixture_put32(out, 64 + 16 * i + 8, blocks[i]->size);
  }
  fixture_put32(out, 248, header.data_offset);
  fixture_put32(out, 252, header.data_size);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

collection_fixture fixture_map_collection(int16_t width, int16_t height, uint8_t color_value, uint8_t shadow_value) {
  static uint8_t color_fill, shadow_fill;
  color_fill = color_value;
  shadow_fill = shadow_value;
  collection_fixture fixture;
  fixture.flags = COLLECTION_HOLDS_SUBMESH_TEXTURES;
  for (int i = 0; i < 32; ++i) {
    const auto level = static_cast<uint16_t>(i * 65535 / 31);
    fixture.colors.push_back({level, level, level, 0});
  }
  for (int32_t i = 0; i < int32_t{width} * height; ++i) {
    fixture.bitmaps.push_back(fixture_raw_bitmap(256, 256, 0xA1, 8, [](int32_t, int32_t) -> uint16_t { return color_fill; }));
    fixture.bitmaps.push_back(fixture_raw_bitmap(256, 256, 0x21, 8, [](int32_t, int32_t) -> uint16_t { return shadow_fill; }));
  }
  return fixture;
}

uint32_t fixture_touch_collection(collection_header& header, std::span<uint8_t> block, bool remap) {
  uint32_t sum = 0;
  const color_table* colors = collection_block_get_color_table(header, block, 0);
  for (int32_t i = 0; i < static_cast<int32_t>(header.bitmap_references.count); ++i) {
    bitmap_data* bitmap = collection_block_get_bitmap(header, block, i);
    for (int32_t row = 0; row < bitmap->height; ++row) {
      const uint8_t* pixels = bitmap_get_row(bitmap, row);
      const int32_t length = (bitmap->flags & BITMAP_IS_ENCODED) ? bitmap_encoded_row_length(bitmap, pixels)
                                                                 : bitmap->width << bitmap->pixel_size_shift;
      for (int32_t x = 0; x < length; ++x) sum += pixels[x];
    }
    if (remap && colors) remap_bitmap(bitmap, *colors, *colors);
  }
  for (int32_t i = 0; i < static_cast<int32_t>(header.sequence_references.count); ++i) {
    const sequence_data* sequence = collection_block_get_sequence(header, block, i);
    for (int32_t frame = 0; frame < sequence->frame_count; ++frame) {
      for (int32_t view = 0; view < sequence->view_count; ++view) {
        const bitmap_instance* instance =
            collection_block_get_bitmap_instance(header, block, sequence_get_instance_index(sequence, frame, view));
        if (instance && collection_block_get_bitmap(header, block, instance->bitmap_index)) {
          sum += static_cast<uint32_t>(instance->right);
        }
      }
    }
  }
  return sum;
}

int32_t fixture_store_tag(uint32_t group, const char* name, int16_t version, const std::vector<uint8_t>& bytes) {
  int32_t tag_index = tag_file_create(group, name, version);
  if (tag_index == NONE) return NONE;
  if (!bytes.empty() && !tag_file_write(&tag_index, 0, static_cast<int32_t>(bytes.size()), bytes.data())) return NONE;
  return tag_index;
}
