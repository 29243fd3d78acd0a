// Collections: the stored layout, the checked fix-up of a data block, and bitmap access. The
// definition group and the loaded collections live in collections.cpp.
#include "render/shapes.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cseries/error_manager.h"

namespace {

using namespace byte_swap_letters;

constexpr int16_t kCollectionHeaderCodes[] = {B, 1, L, L, 56, B, 8, L, L, L, 4, E, 56, L, L, L, 4, 40, 16, E};
constexpr int16_t kColorTableCodes[] = {B, 1, L, L, L, 20, B, 256, S, S, S, S, E, E};
constexpr int16_t kHueChangeCodes[] = {B, 1, 64, S, S, 32, S, S, S, 6, 16, E};
constexpr int16_t kBitmapReferenceCodes[] = {B, 1, 64, L, L, 4, S, S, 32, 16, E};
constexpr int16_t kBitmapInstanceCodes[] = {B, 1, L, S, S, S, 2, B, 9, S, E, 18, 16, E};
constexpr int16_t kSequenceReferenceCodes[] = {B, 1, 64, L, L, 4, 36, 16, E};
constexpr int16_t kSequenceDataCodes[] = {B,  1,  L, L, B,  8,  S, E,  L, L, L, S, S,
                                          L, L, L, S, S, S, 6,  E};
constexpr int16_t kSequenceFrameDataCodes[] = {B, 1, S, S, S, S, 38, E};
constexpr int16_t kShadowMapCodes[] = {B, 1, L, L, L, S, 2, 16, E};
constexpr int16_t kBitmapDataCodes[] = {B, 1, B, 9, S, E, 30, 4, E};

uint16_t load_u16(const uint8_t* p) {
  uint16_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

void store_u32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof(value)); }

uint32_t load_u32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

void swap_u16(uint8_t* p) { std::swap(p[0], p[1]); }

void swap_u16_array(uint8_t* p, int64_t count) {
  for (int64_t i = 0; i < count; ++i) swap_u16(p + 2 * i);
}

int16_t log2_of_power_of_two(int32_t value) {
  int16_t log2 = 0;
  while ((int32_t{1} << log2) < value) ++log2;
  return log2;
}

bool is_power_of_two(int32_t value) { return value > 0 && (value & (value - 1)) == 0; }

int16_t clamp_to_int16(int64_t value) {
  return static_cast<int16_t>(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX));
}

// Names are lower-cased and always end inside their field.
void normalise_name(char (&name)[64]) {
  name[63] = '\0';
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// The length of an encoded row starting at `row` (native order), padding included.
int64_t encoded_row_length(int16_t span_count, int16_t pixel_count, int16_t shift, bool padded) {
  int64_t length = 4 + 4 * int64_t{span_count} + (int64_t{pixel_count} << shift);
  if (padded && (length & 1)) ++length;
  return length;
}

// A byte range of the block that the fix-up converts; no two may overlap, except that references
// may name the very same bitmap or sequence.
enum region_kind { region_block, region_sequence, region_bitmap };
struct region {
  int64_t start;
  int64_t end;
  region_kind kind;
  int32_t index;
};

struct fix_up {
  collection_header& header;
  std::span<uint8_t> block;
  const char* name;
  std::vector<region> regions;
  std::vector<bool> bitmap_is_alias;
  std::vector<bool> sequence_is_alias;

  bool refuse(const char* format, ...) VG_PRINTF(2, 3);

  bool fits(int64_t offset, int64_t size) const {
    return offset >= 0 && size >= 0 && offset <= static_cast<int64_t>(block.size()) &&
           size <= static_cast<int64_t>(block.size()) - offset;
  }
  uint8_t* at(int64_t offset) const { return block.data() + offset; }

  bool check_block(const collection_block& b, const char* what, int32_t record_size);
  bool check_regions();
  bool swap_block(const collection_block& b, const byte_swap_description& description);
  bool fix_bitmap(int32_t index);
  bool fix_sequence(int32_t index);
  void place_sequence_instances(int32_t index);
  bool run();
};

bool fix_up::refuse(const char* format, ...) {
  char what[160];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(what, sizeof(what), format, arguments);
  va_end(arguments);
  POST_ERROR(error_data_corrupted, "%s collection is corrupted: %s.", name, what);
  return false;
}

bool fix_up::check_block(const collection_block& b, const char* what, int32_t record_size) {
  if (!fits(b.offset, b.size)) {
    return refuse("the %s (offset #%u, size #%u) lie outside the data block of #%zu bytes", what, b.offset, b.size,
                  block.size());
  }
  if (record_size > 0) {
    const int64_t needed = int64_t{b.count} * record_size;
    if (needed > b.size) {
      return refuse("#%u %s need #%lld bytes but their block holds #%u", b.count, what,
                    static_cast<long long>(needed), b.size);
    }
    if (needed > 0) regions.push_back({b.offset, b.offset + needed, region_block, 0});
  }
  return true;
}

// Sorted by start; exact duplicates of a bitmap or a sequence are marked as aliases and converted
// once; any other overlap is refused.
bool fix_up::check_regions() {
  std::sort(regions.begin(), regions.end(), [](const region& a, const region& b) {
    return a.start != b.start ? a.start < b.start : (a.end != b.end ? a.end < b.end : a.index < b.index);
  });
  int64_t covered_end = 0;
  const region* previous = nullptr;
  for (const region& r : regions) {
    if (r.start == r.end) continue;
    if (previous && r.kind != region_block && r.kind == previous->kind && r.start == previous->start &&
        r.end == previous->end) {
      (r.kind == region_bitmap ? bitmap_is_alias : sequence_is_alias)[r.index] = true;
      continue;
    }
    if (r.start < covered_end) {
      return refuse("%s #%d overlaps other data at offset #%lld",
                    r.kind == region_bitmap ? "bitmap" : (r.kind == region_sequence ? "sequence" : "a block"),
                    r.index, static_cast<long long>(r.start));
    }
    covered_end = r.end;
    previous = &r;
  }
  return true;
}

bool fix_up::swap_block(const collection_block& b, const byte_swap_description& description) {
  if (b.count == 0) return true;
  return byte_swap_data(description, at(b.offset), description.size, static_cast<int32_t>(b.count));
}

bool fix_up::fix_bitmap(int32_t index) {
  bitmap_reference& reference = reinterpret_cast<bitmap_reference*>(at(header.bitmap_references.offset))[index];
  normalise_name(reference.name);
  if (bitmap_is_alias[index]) return true;

  const int64_t size = reference.size;
  uint8_t* base = at(reference.offset);
  bitmap_data& bitmap = *reinterpret_cast<bitmap_data*>(base);
  if (!byte_swap_data(bitmap_data_description, base, BITMAP_HEADER_SIZE, 1)) return false;

  if (bitmap.width < 0 || bitmap.height < 0) {
    return refuse("bitmap #%d has a negative size (%d x %d)", index, bitmap.width, bitmap.height);
  }
  if (!((bitmap.bits_per_pixel == 8 && bitmap.pixel_size_shift == 0) ||
        (bitmap.bits_per_pixel == 16 && bitmap.pixel_size_shift == 1))) {
    return refuse("bitmap #%d has #%d bits per pixel with pixel size shift #%d", index, bitmap.bits_per_pixel,
                  bitmap.pixel_size_shift);
  }
  const bool encoded = bitmap.flags & BITMAP_IS_ENCODED;
  const bool has_row_table = !(bitmap.flags & BITMAP_HAS_NO_ROW_TABLE);
  if (encoded && !has_row_table) {
    return refuse("encoded bitmap #%d has no row table", index);
  }
  const int16_t shift = bitmap.pixel_size_shift;
  const int64_t height = bitmap.height;
  const int64_t first_row = has_row_table ? BITMAP_ROW_TABLE_OFFSET + 4 * height : int64_t{BITMAP_HEADER_SIZE};
  if (first_row > size) {
    return refuse("bitmap #%d of #%lld rows does not fit its #%lld bytes", index, static_cast<long long>(height),
                  static_cast<long long>(size));
  }

  if (encoded) {
    int64_t position = first_row;
    for (int64_t row = 0; row < height; ++row) {
      if (position + 4 > size) return refuse("row #%lld of encoded bitmap #%d runs past its end", static_cast<long long>(row), index);
      swap_u16_array(base + position, 2);
      const encoded_span_header spans{static_cast<int16_t>(load_u16(base + position)),
                                      static_cast<int16_t>(load_u16(base + position + 2))};
      if (spans.span_count < 0 || spans.pixel_count < 0) {
        return refuse("row #%lld of encoded bitmap #%d has #%d spans and #%d pixels", static_cast<long long>(row), index,
                      spans.span_count, spans.pixel_count);
      }
      const int64_t length =
          encoded_row_length(spans.span_count, spans.pixel_count, shift, bitmap.flags & BITMAP_ROWS_PADDED);
      if (position + length > size) {
        return refuse("row #%lld of encoded bitmap #%d runs past its end", static_cast<long long>(row), index);
      }
      swap_u16_array(base + position + 4, 2 * int64_t{spans.span_count});
      if (shift == 1) swap_u16_array(base + position + 4 + 4 * int64_t{spans.span_count}, spans.pixel_count);
      store_u32(base + BITMAP_ROW_TABLE_OFFSET + 4 * row, static_cast<uint32_t>(position));
      position += length;
    }
  } else {
    const int64_t row_bytes = int64_t{bitmap.width} << shift;
    if (bitmap.bytes_per_row < row_bytes) {
      return refuse("bitmap #%d has #%d bytes per row for #%d pixels", index, bitmap.bytes_per_row, bitmap.width);
    }
    if (height > 0 && first_row + (height - 1) * bitmap.bytes_per_row + row_bytes > size) {
      return refuse("the rows of bitmap #%d run past its #%lld bytes", index, static_cast<long long>(size));
    }
    for (int64_t row = 0; row < height; ++row) {
      const int64_t position = first_row + row * bitmap.bytes_per_row;
      if (has_row_table) store_u32(base + BITMAP_ROW_TABLE_OFFSET + 4 * row, static_cast<uint32_t>(position));
      if (shift == 1) swap_u16_array(base + position, bitmap.width);
    }
  }
  bitmap.first_row = static_cast<uint32_t>(first_row);

  const bool power_of_two = !encoded && is_power_of_two(bitmap.width) && is_power_of_two(bitmap.height);
  bitmap.flags = static_cast<int16_t>(power_of_two ? (bitmap.flags | BITMAP_IS_POWER_OF_TWO)
                                                   : (bitmap.flags & ~BITMAP_IS_POWER_OF_TWO));
  bitmap.log2_width = power_of_two ? log2_of_power_of_two(bitmap.width) : 0;
  bitmap.log2_height = power_of_two ? log2_of_power_of_two(bitmap.height) : 0;
  bitmap.log2_rounded_width = log2_of_power_of_two(bitmap.width);
  bitmap.log2_rounded_height = log2_of_power_of_two(bitmap.height);
  bitmap.rounded_width = clamp_to_int16(int64_t{1} << bitmap.log2_rounded_width);
  bitmap.rounded_height = clamp_to_int16(int64_t{1} << bitmap.log2_rounded_height);
  return true;
}

bool fix_up::fix_sequence(int32_t index) {
  sequence_reference& reference =
      reinterpret_cast<sequence_reference*>(at(header.sequence_references.offset))[index];
  normalise_name(reference.name);
  if (sequence_is_alias[index]) return true;

  uint8_t* base = at(reference.offset);
  sequence_data& sequence = *reinterpret_cast<sequence_data*>(base);
  if (!byte_swap_data(sequence_data_description, base, sizeof(sequence_data), 1)) return false;
  if (sequence.view_count < 0 || sequence.frame_count < 0) {
    return refuse("sequence #%d has #%d views and #%d frames", index, sequence.view_count, sequence.frame_count);
  }
  const int64_t frame_size = int64_t{sizeof(sequence_frame_data)} + 2 * int64_t{sequence.view_count};
  if (int64_t{sizeof(sequence_data)} + sequence.frame_count * frame_size > reference.size) {
    return refuse("the #%d frames of sequence #%d do not fit its #%d bytes", sequence.frame_count, index,
                  reference.size);
  }
  if ((sequence.flags & SEQUENCE_MIRRORS_VIEWS) && (sequence.flags & SEQUENCE_NO_ROTATION)) {
    sequence.flags &= ~SEQUENCE_NO_ROTATION;
  }
  for (int32_t frame = 0; frame < sequence.frame_count; ++frame) {
    uint8_t* frame_data = base + sizeof(sequence_data) + frame * frame_size;
    if (!byte_swap_data(sequence_frame_data_description, frame_data, sizeof(sequence_frame_data), 1)) return false;
    swap_u16_array(frame_data + sizeof(sequence_frame_data), sequence.view_count);
    for (int32_t view = 0; view < sequence.view_count; ++view) {
      const int16_t instance = sequence_get_instance_index(&sequence, frame, view);
      if (instance < -1 || (instance >= 0 && static_cast<uint32_t>(instance) >= header.bitmap_instances.count)) {
        return refuse("frame #%d of sequence #%d names bitmap instance #%d of #%u", frame, index, instance,
                      header.bitmap_instances.count);
      }
    }
  }
  return true;
}

// Extents of every instance the sequence shows, then its mirrored views: a copy of the stored view
// on the other side, flipped, with the mirrored flag toggled.
void fix_up::place_sequence_instances(int32_t index) {
  sequence_data* sequence = collection_block_get_sequence(header, block, index);
  for (int32_t frame = 0; frame < sequence->frame_count; ++frame) {
    for (int32_t view = 0; view < sequence->view_count; ++view) {
      bitmap_instance* instance =
          collection_block_get_bitmap_instance(header, block, sequence_get_instance_index(sequence, frame, view));
      if (!instance) continue;
      const bitmap_data* bitmap = collection_block_get_bitmap(header, block, instance->bitmap_index);
      const bitmap_reference* reference =
          collection_block_get_bitmap_reference(header, block, instance->bitmap_index);
      if (!bitmap) continue;
      const int64_t scale = sequence->scale;
      instance->left = clamp_to_int16((-int64_t{reference->origin_x} * scale) >> 16);
      instance->top = clamp_to_int16((-int64_t{reference->origin_y} * scale) >> 16);
      instance->right = clamp_to_int16(((int64_t{bitmap->width} - reference->origin_x) * scale) >> 16);
      instance->bottom = clamp_to_int16(((int64_t{bitmap->height} - reference->origin_y) * scale) >> 16);
    }
  }
  if (!(sequence->flags & SEQUENCE_MIRRORS_VIEWS) || sequence->view_count < 2) return;
  const int32_t stored_views = sequence->view_count / 2 + 1;
  for (int32_t frame = 0; frame < sequence->frame_count; ++frame) {
    for (int32_t view = stored_views; view < sequence->view_count; ++view) {
      const int16_t target_index = sequence_get_instance_index(sequence, frame, view);
      const int16_t source_index = sequence_get_instance_index(sequence, frame, sequence->view_count - view);
      bitmap_instance* target = collection_block_get_bitmap_instance(header, block, target_index);
      const bitmap_instance* source = collection_block_get_bitmap_instance(header, block, source_index);
      if (!target || !source || target == source) continue;
      *target = *source;
      target->flags ^= BITMAP_INSTANCE_MIRRORED;
      target->left = clamp_to_int16(-int32_t{source->right});
      target->right = clamp_to_int16(-int32_t{source->left});
    }
  }
}

bool fix_up::run() {
  struct {
    const collection_block& block;
    const char* what;
    int32_t record_size;
  } const blocks[] = {
      {header.color_tables, "colour tables", sizeof(color_table)},
      {header.hue_changes, "hue changes", sizeof(hue_change)},
      {header.bitmap_references, "bitmap references", sizeof(bitmap_reference)},
      {header.bitmap_instances, "bitmap instances", sizeof(bitmap_instance)},
      {header.sequence_references, "sequence references", sizeof(sequence_reference)},
      {header.shadow_maps, "shadow maps", sizeof(shadow_map)},
      {header.blend_tables, "blend tables", 0},
      {header.remapping_tables, "remapping tables", 0},
  };
  for (const auto& b : blocks) {
    if (&b.block == &header.blend_tables || &b.block == &header.remapping_tables) {
      if (b.block.count == 0) continue;
    }
    if (!check_block(b.block, b.what, b.record_size)) return false;
  }
  if (!check_regions()) return false;

  if (!swap_block(header.color_tables, color_table_description) ||
      !swap_block(header.hue_changes, hue_change_description) ||
      !swap_block(header.sequence_references, sequence_reference_description) ||
      !swap_block(header.bitmap_instances, bitmap_instance_description) ||
      !swap_block(header.bitmap_references, bitmap_reference_description) ||
      !swap_block(header.shadow_maps, shadow_map_description)) {
    return refuse("its records could not be converted");
  }
  for (uint32_t i = 0; i < header.color_tables.count; ++i) {
    const color_table* table = collection_block_get_color_table(header, block, static_cast<int32_t>(i));
    if (table->count > MAXIMUM_COLORS_PER_TABLE) {
      return refuse("colour table #%u has #%u colours", i, table->count);
    }
  }
  for (uint32_t i = 0; i < header.hue_changes.count; ++i) {
    normalise_name(collection_block_get_hue_change(header, block, static_cast<int32_t>(i))->name);
  }

  // Every bitmap and sequence must lie inside the block and apart from everything else.
  const int32_t bitmap_count = static_cast<int32_t>(header.bitmap_references.count);
  const int32_t sequence_count = static_cast<int32_t>(header.sequence_references.count);
  bitmap_is_alias.assign(bitmap_count, false);
  sequence_is_alias.assign(sequence_count, false);
  for (int32_t i = 0; i < bitmap_count; ++i) {
    const bitmap_reference* reference = collection_block_get_bitmap_reference(header, block, i);
    if (reference->size < BITMAP_HEADER_SIZE || !fits(reference->offset, reference->size)) {
      return refuse("bitmap #%d (offset #%d, size #%d) does not fit the data block of #%zu bytes", i,
                    reference->offset, reference->size, block.size());
    }
    regions.push_back({reference->offset, int64_t{reference->offset} + reference->size, region_bitmap, i});
  }
  for (int32_t i = 0; i < sequence_count; ++i) {
    const sequence_reference* reference = collection_block_get_sequence_reference(header, block, i);
    if (reference->size < static_cast<int32_t>(sizeof(sequence_data)) || !fits(reference->offset, reference->size)) {
      return refuse("sequence #%d (offset #%d, size #%d) does not fit the data block of #%zu bytes", i,
                    reference->offset, reference->size, block.size());
    }
    regions.push_back({reference->offset, int64_t{reference->offset} + reference->size, region_sequence, i});
  }
  if (!check_regions()) return false;

  for (uint32_t i = 0; i < header.bitmap_instances.count; ++i) {
    const bitmap_instance* instance = collection_block_get_bitmap_instance(header, block, static_cast<int32_t>(i));
    if (instance->bitmap_index < -1 || instance->bitmap_index >= bitmap_count) {
      return refuse("bitmap instance #%u names bitmap #%d of #%d", i, instance->bitmap_index, bitmap_count);
    }
  }
  for (int32_t i = 0; i < sequence_count; ++i) {
    if (!fix_sequence(i)) return false;
  }
  for (int32_t i = 0; i < bitmap_count; ++i) {
    if (!fix_bitmap(i)) return false;
  }
  for (int32_t i = 0; i < sequence_count; ++i) {
    if (!sequence_is_alias[i]) place_sequence_instances(i);
  }
  header.shading_table_count = 0;
  header.runtime_flags |= COLLECTION_FIXED_UP;
  return true;
}

template <class T>
T* block_record(const collection_block& b, std::span<uint8_t> block, int32_t index) {
  if (index < 0 || static_cast<uint32_t>(index) >= b.count) return nullptr;
  return reinterpret_cast<T*>(block.data() + b.offset) + index;
}

}  // namespace

const byte_swap_description collection_header_description = byte_swap_describe(
    "collection header", sizeof(collection_header), kCollectionHeaderCodes);
const byte_swap_description color_table_description = byte_swap_describe(
    "color table", sizeof(color_table), kColorTableCodes);
const byte_swap_description hue_change_description = byte_swap_describe(
    "hue change", sizeof(hue_change), kHueChangeCodes);
const byte_swap_description bitmap_reference_description = byte_swap_describe(
    "bitmap reference", sizeof(bitmap_reference), kBitmapReferenceCodes);
const byte_swap_description bitmap_instance_description = byte_swap_describe(
    "bitmap instance", sizeof(bitmap_instance), kBitmapInstanceCodes);
const byte_swap_description sequence_reference_description = byte_swap_describe(
    "sequence reference", sizeof(sequence_reference), kSequenceReferenceCodes);
const byte_swap_description sequence_data_description = byte_swap_describe(
    "sequence data", sizeof(sequence_data), kSequenceDataCodes);
const byte_swap_description sequence_frame_data_description = byte_swap_describe(
    "sequence frame data", sizeof(sequence_frame_data), kSequenceFrameDataCodes);
const byte_swap_description shadow_map_description = byte_swap_describe(
    "shadow map", sizeof(shadow_map), kShadowMapCodes);
const byte_swap_description bitmap_data_description = byte_swap_describe(
    "bitmap data", BITMAP_HEADER_SIZE, kBitmapDataCodes);

bool collection_fix_up(collection_header& header, std::span<uint8_t> block, const char* name) {
  fix_up context{header, block, name ? name : "<unknown>", {}, {}, {}};
  return context.run();
}

color_table* collection_block_get_color_table(const collection_header& header, std::span<uint8_t> block,
                                              int32_t index) {
  return block_record<color_table>(header.color_tables, block, index);
}

hue_change* collection_block_get_hue_change(const collection_header& header, std::span<uint8_t> block,
                                            int32_t index) {
  return block_record<hue_change>(header.hue_changes, block, index);
}

bitmap_reference* collection_block_get_bitmap_reference(const collection_header& header,
                                                        std::span<uint8_t> block, int32_t index) {
  return block_record<bitmap_reference>(header.bitmap_references, block, index);
}

bitmap_data* collection_block_get_bitmap(const collection_header& header, std::span<uint8_t> block,
                                         int32_t index) {
  const bitmap_reference* reference = collection_block_get_bitmap_reference(header, block, index);
  return reference ? reinterpret_cast<bitmap_data*>(block.data() + reference->offset) : nullptr;
}

bitmap_instance* collection_block_get_bitmap_instance(const collection_header& header,
                                                      std::span<uint8_t> block, int32_t index) {
  return block_record<bitmap_instance>(header.bitmap_instances, block, index);
}

sequence_reference* collection_block_get_sequence_reference(const collection_header& header,
                                                            std::span<uint8_t> block, int32_t index) {
  return block_record<sequence_reference>(header.sequence_references, block, index);
}

sequence_data* collection_block_get_sequence(const collection_header& header, std::span<uint8_t> block,
                                             int32_t index) {
  const sequence_reference* reference = collection_block_get_sequence_reference(header, block, index);
  return reference ? reinterpret_cast<sequence_data*>(block.data() + reference->offset) : nullptr;
}

std::span<uint8_t> collection_block_get_bytes(const collection_block& raw, std::span<uint8_t> block) {
  if (raw.count == 0) return {};
  return block.subspan(raw.offset, raw.size);
}

const uint8_t* bitmap_get_row(const bitmap_data* bitmap, int32_t row) {
  if (!bitmap || row < 0 || row >= bitmap->height) return nullptr;
  const auto* base = reinterpret_cast<const uint8_t*>(bitmap);
  if (bitmap->flags & BITMAP_HAS_NO_ROW_TABLE) return base + BITMAP_HEADER_SIZE + row * int64_t{bitmap->bytes_per_row};
  return base + load_u32(base + BITMAP_ROW_TABLE_OFFSET + 4 * int64_t{row});
}

uint8_t* bitmap_get_row(bitmap_data* bitmap, int32_t row) {
  return const_cast<uint8_t*>(bitmap_get_row(static_cast<const bitmap_data*>(bitmap), row));
}

int32_t bitmap_encoded_row_length(const bitmap_data* bitmap, const uint8_t* row) {
  const auto span_count = static_cast<int16_t>(load_u16(row));
  const auto pixel_count = static_cast<int16_t>(load_u16(row + 2));
  return static_cast<int32_t>(
      encoded_row_length(span_count, pixel_count, bitmap->pixel_size_shift, bitmap->flags & BITMAP_ROWS_PADDED));
}

int16_t sequence_get_instance_index(const sequence_data* sequence, int32_t frame, int32_t view) {
  if (!sequence || frame < 0 || frame >= sequence->frame_count || view < 0 || view >= sequence->view_count) {
    return -1;
  }
  const auto* base = reinterpret_cast<const uint8_t*>(sequence);
  const int64_t frame_size = int64_t{sizeof(sequence_frame_data)} + 2 * int64_t{sequence->view_count};
  return static_cast<int16_t>(
      load_u16(base + sizeof(sequence_data) + frame * frame_size + sizeof(sequence_frame_data) + 2 * int64_t{view}));
}

void remap_bitmap(bitmap_data* bitmap, const color_table& source, const color_table& destination) {
  constexpr int16_t kNotRemapped = BITMAP_IS_ENCODED | BITMAP_FLAG_8 | BITMAP_FLAG_10 | BITMAP_FLAG_80;
  if (!bitmap || bitmap->bits_per_pixel != 8 || (bitmap->flags & kNotRemapped)) return;
  uint8_t map[MAXIMUM_COLORS_PER_TABLE] = {};
  const int32_t source_count = color_table_color_count(source);
  for (int32_t i = 1; i < source_count; ++i) {
    map[i] = static_cast<uint8_t>(std::max<int16_t>(find_nearest_color(destination, source.colors[i]), 0));
  }
  for (int32_t row = 0; row < bitmap->height; ++row) {
    uint8_t* pixels = bitmap_get_row(bitmap, row);
    for (int32_t x = 0; x < bitmap->width; ++x) pixels[x] = map[pixels[x]];
  }
}
