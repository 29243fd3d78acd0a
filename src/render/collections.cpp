// Loaded collections: the "collection" definition group's postprocess (read the data block and fix
// it up), access by collection index, writing bitmaps back, and shading tables.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cseries/error_manager.h"
#include "cseries/memory.h"
#include "engine/definition_groups.h"
#include "render/collection_references.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"

namespace {

struct shading_table {
  int32_t levels;
  block_ptr<uint16_t[]> pixels;  // levels x 256
};

// What the game kept behind the header's pointer slots.
struct loaded_collection {
  block_ptr<uint8_t[]> data;
  size_t size;
  std::vector<shading_table> shading_tables;
  std::array<uint8_t, COLLECTION_WORK_TABLE_SIZE> work_table;
};

struct shapes_globals {
  std::unique_ptr<loaded_collection> collections[MAXIMUM_COLLECTION_DEFINITIONS];
  block_ptr<uint8_t[]> blend_tables;  // two tables of BLEND_TABLE_SIZE bytes
  rgb_color map_tint{0, 0, 0, RGB_COLOR_UNUSED};
  int16_t map_tint_amount;
};

shapes_globals shapes;

bool slot_in_range(int16_t collection) { return collection >= 0 && collection < MAXIMUM_COLLECTION_DEFINITIONS; }

// A collection whose postprocess ran and whose data block was fixed up.
loaded_collection* get_loaded(int16_t collection, collection_header** header_out = nullptr) {
  if (!slot_in_range(collection)) return nullptr;
  auto* header = static_cast<collection_header*>(definition_get_if_loaded(&collection_definitions, collection));
  loaded_collection* loaded = shapes.collections[collection].get();
  if (!header || !loaded || !(collection_definitions.definition_flags[collection] & DEFINITION_CHECKED) ||
      !(header->runtime_flags & COLLECTION_FIXED_UP)) {
    return nullptr;
  }
  if (header_out) *header_out = header;
  return loaded;
}

std::span<uint8_t> data_of(loaded_collection* loaded) { return {loaded->data.get(), loaded->size}; }

bool collection_postprocess(definition_group* group, int16_t index, int32_t tag_index, void* record) {
  auto& header = *static_cast<collection_header*>(record);
  shapes.collections[index].reset();
  header.runtime_flags = 0;
  header.shading_table_count = 0;
  const char* name = tag_file_get_name(tag_index);

  const int64_t tag_size = tag_file_get_size(tag_index);
  if (int64_t{header.data_offset} + header.data_size > tag_size) {
    POST_ERROR(error_data_corrupted,
               "%s collection is corrupted: its data block (offset #%u, size #%u) lies outside its #%lld bytes.",
               name, header.data_offset, header.data_size, static_cast<long long>(tag_size));
    return false;
  }
  // The record itself has constructors; its allocation is counted with the blocks all the same.
  auto loaded = std::unique_ptr<loaded_collection>(block_permit_allocation() ? new (std::nothrow) loaded_collection{}
                                                                             : nullptr);
  if (loaded) loaded->data = block_new_array<uint8_t>(header.data_size);
  if (!loaded || !loaded->data) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%u bytes for %s collection.", header.data_size, name);
    return false;
  }
  loaded->size = header.data_size;
  if (!tag_file_read(tag_index, static_cast<int32_t>(header.data_offset), static_cast<int32_t>(header.data_size),
                     loaded->data.get())) {
    POST_ERROR(error_file_read, "failed to bootstrap %s collection.", name);
    return false;
  }
  if (!collection_fix_up(header, data_of(loaded.get()), name)) return false;
  shapes.collections[index] = std::move(loaded);
  (void)group;
  return true;
}

// A copy of a fixed-up bitmap converted back to stored order; run-time fields and row entries are
// written as zero (they are rebuilt at every load).
std::vector<uint8_t> stored_bitmap(const bitmap_data* bitmap, int32_t size) {
  std::vector<uint8_t> copy(reinterpret_cast<const uint8_t*>(bitmap), reinterpret_cast<const uint8_t*>(bitmap) + size);
  auto* stored = reinterpret_cast<bitmap_data*>(copy.data());
  const bool wide_pixels = bitmap->pixel_size_shift == 1;
  auto swap_words = [](uint8_t* p, int64_t count) {
    for (int64_t i = 0; i < count; ++i) std::swap(p[2 * i], p[2 * i + 1]);
  };
  for (int32_t row = 0; row < bitmap->height; ++row) {
    const int64_t offset = bitmap_get_row(bitmap, row) - reinterpret_cast<const uint8_t*>(bitmap);
    uint8_t* pixels = copy.data() + offset;
    if (bitmap->flags & BITMAP_IS_ENCODED) {
      encoded_span_header spans;
      std::memcpy(&spans, pixels, sizeof(spans));
      if (wide_pixels) swap_words(pixels + 4 + 4 * int64_t{spans.span_count}, spans.pixel_count);
      swap_words(pixels, 2 + 2 * int64_t{spans.span_count});
    } else if (wide_pixels) {
      swap_words(pixels, bitmap->width);
    }
    if (!(bitmap->flags & BITMAP_HAS_NO_ROW_TABLE)) {
      std::memset(copy.data() + BITMAP_ROW_TABLE_OFFSET + 4 * int64_t{row}, 0, 4);
    }
  }
  stored->rounded_width = stored->rounded_height = 0;
  stored->log2_rounded_width = stored->log2_rounded_height = 0;
  std::memset(stored->runtime, 0, sizeof(stored->runtime));
  stored->first_row = 0;
  byte_swap_data(bitmap_data_description, copy.data(), BITMAP_HEADER_SIZE, 1);
  return copy;
}

void apply_tint(color_table& colors, const rgb_color& tint, int16_t amount) {
  if ((tint.flags & RGB_COLOR_UNUSED) || amount <= 0) return;
  const int32_t weight = std::min<int32_t>(amount, 256);
  const auto count = static_cast<uint32_t>(color_table_color_count(colors));
  auto blend = [weight](uint16_t channel, uint16_t target) {
    return static_cast<uint16_t>((weight * target + (256 - weight) * channel) >> 8);
  };
  for (uint32_t i = 0; i < count; ++i) {
    rgb_color& color = colors.colors[i];
    color.red = blend(color.red, tint.red);
    color.green = blend(color.green, tint.green);
    color.blue = blend(color.blue, tint.blue);
  }
}

}  // namespace

bool shapes_initialize() {
  if (!definitions_initialize(&collection_definitions)) return false;
  collection_definitions.description = &collection_header_description;
  collection_definitions.postprocess = collection_postprocess;
  // No older collection layout is known here: such tags are refused as too old.
  collection_definitions.convert = nullptr;
  if (!shapes.blend_tables) {
    shapes.blend_tables = block_new_array<uint8_t>(2 * BLEND_TABLE_SIZE);
    if (!shapes.blend_tables) {
      POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for transparency tables", 2 * BLEND_TABLE_SIZE);
      return false;
    }
    build_blend_tables(0, shapes.blend_tables.get());
    build_blend_tables(1, shapes.blend_tables.get() + BLEND_TABLE_SIZE);
  }
  return collection_references_initialize();
}

void shapes_dispose() {
  for (auto& loaded : shapes.collections) loaded.reset();
  shapes.map_tint = {0, 0, 0, RGB_COLOR_UNUSED};
  shapes.map_tint_amount = 0;
}

int16_t collection_load(int32_t tag_identifier) {
  const int16_t index = definition_load(&collection_definitions, static_cast<tag>(tag_identifier));
  return index >= 0 && get_loaded(index) ? index : -1;
}

void collection_unload(int16_t collection) {
  if (!slot_in_range(collection) || !definition_get(&collection_definitions, collection)) return;
  definition_remove(&collection_definitions, collection);
  shapes.collections[collection].reset();
}

collection_header* collection_get_header(int16_t collection) {
  collection_header* header = nullptr;
  return get_loaded(collection, &header) ? header : nullptr;
}

std::span<uint8_t> collection_get_data(int16_t collection) {
  loaded_collection* loaded = get_loaded(collection);
  return loaded ? data_of(loaded) : std::span<uint8_t>{};
}

const char* collection_get_name(int16_t collection) {
  return definition_get_name(&collection_definitions, collection);
}

bitmap_data* collection_get_bitmap(int16_t collection, int32_t bitmap_index) {
  collection_header* header = nullptr;
  loaded_collection* loaded = get_loaded(collection, &header);
  return loaded ? collection_block_get_bitmap(*header, data_of(loaded), bitmap_index) : nullptr;
}

int32_t collection_get_bitmap_count(int16_t collection) {
  const collection_header* header = collection_get_header(collection);
  return header ? static_cast<int32_t>(header->bitmap_references.count) : 0;
}

uint8_t* collection_get_submesh_texture(int16_t collection, int32_t bitmap_index, bool keep) {
  (void)keep;
  const collection_header* header = collection_get_header(collection);
  if (!header || !(header->flags & COLLECTION_HOLDS_SUBMESH_TEXTURES)) return nullptr;
  bitmap_data* bitmap = collection_get_bitmap(collection, bitmap_index);
  if (!bitmap || bitmap->width != SUBMESH_TEXTURE_SIZE || bitmap->height != SUBMESH_TEXTURE_SIZE ||
      bitmap->bits_per_pixel != 8 || (bitmap->flags & BITMAP_IS_ENCODED) ||
      bitmap_get_row(bitmap, 1) - bitmap_get_row(bitmap, 0) != SUBMESH_TEXTURE_SIZE) {
    return nullptr;
  }
  return bitmap_get_row(bitmap, 0);
}

color_table* collection_get_color_table(int16_t collection) {
  collection_header* header = nullptr;
  loaded_collection* loaded = get_loaded(collection, &header);
  return loaded ? collection_block_get_color_table(*header, data_of(loaded), 0) : nullptr;
}

std::span<uint8_t> collection_get_blend_tables(int16_t collection) {
  collection_header* header = nullptr;
  loaded_collection* loaded = get_loaded(collection, &header);
  return loaded ? collection_block_get_bytes(header->blend_tables, data_of(loaded)) : std::span<uint8_t>{};
}

std::span<uint8_t> collection_get_remapping_tables(int16_t collection) {
  collection_header* header = nullptr;
  loaded_collection* loaded = get_loaded(collection, &header);
  return loaded ? collection_block_get_bytes(header->remapping_tables, data_of(loaded)) : std::span<uint8_t>{};
}

bool collection_write_bitmap(int16_t collection, int32_t bitmap_index) {
  collection_header* header = nullptr;
  loaded_collection* loaded = get_loaded(collection, &header);
  const bitmap_reference* reference =
      loaded ? collection_block_get_bitmap_reference(*header, data_of(loaded), bitmap_index) : nullptr;
  if (!reference) return false;
  const std::vector<uint8_t> stored =
      stored_bitmap(collection_block_get_bitmap(*header, data_of(loaded), bitmap_index), reference->size);
  int32_t tag_index = definition_get_tag(&collection_definitions, collection);
  return tag_index != NONE &&
         tag_file_write(&tag_index, static_cast<int32_t>(header->data_offset + static_cast<uint32_t>(reference->offset)),
                        reference->size, stored.data());
}

bool collection_check_sequence(int16_t collection, int32_t sequence) {
  if (sequence == -1) return true;
  const collection_header* header = collection_get_header(collection);
  const int32_t count = header ? static_cast<int32_t>(header->sequence_references.count) : 0;
  if (sequence >= 0 && sequence < count) return true;
  POST_ERROR(error_array_out_of_bounds, "sequence #%d not in [#0,#%d) for \"%s\" collection", sequence, count,
             collection_get_name(collection));
  return false;
}

void build_light_ramp(const color_table& colors, int32_t levels, uint16_t* pixels, const void*) {
  const auto count = static_cast<uint32_t>(color_table_color_count(colors));
  for (int32_t level = 0; level < levels; ++level) {
    uint16_t* row = pixels + level * MAXIMUM_COLORS_PER_TABLE;
    for (uint32_t i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) {
      if (i >= count) {
        row[i] = 0;
        continue;
      }
      const rgb_color& color = colors.colors[i];
      auto scale = [&](uint16_t channel) { return static_cast<uint16_t>(channel * (level + 1) / levels); };
      row[i] = screen_pixel(scale(color.red), scale(color.green), scale(color.blue));
    }
  }
}

int16_t collection_add_shading_table(int16_t collection, const shading_table_request& request) {
  collection_header* header = nullptr;
  loaded_collection* loaded = get_loaded(collection, &header);
  if (!loaded) return -1;
  const char* name = collection_get_name(collection);
  const auto number = static_cast<int32_t>(loaded->shading_tables.size());
  if (number >= MAXIMUM_SHADING_TABLES_PER_COLLECTION) {
    POST_ERROR(error_array_full, "can't add more than #%d color tables (%s collection).",
               MAXIMUM_SHADING_TABLES_PER_COLLECTION, name);
    return -1;
  }
  const color_table* colors = collection_block_get_color_table(*header, data_of(loaded), 0);
  if (!colors) {
    POST_ERROR(error_data_missing, "%s collection has no colour table for shading table #%d.", name, number);
    return -1;
  }
  const int32_t levels = std::clamp<int32_t>(request.levels, 1, SHADING_TABLE_LEVELS);
  const int32_t size = levels * MAXIMUM_COLORS_PER_TABLE * static_cast<int32_t>(sizeof(uint16_t));
  shading_table table{levels, block_new_array<uint16_t>(size_t(levels) * MAXIMUM_COLORS_PER_TABLE)};
  if (!table.pixels) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for shading table #%d of %s collection.", size,
               number, name);
    return -1;
  }
  color_table recoloured = *colors;
  color_table_apply_hue_changes(recoloured, collection_block_get_hue_change(*header, data_of(loaded), 0),
                                static_cast<int>(header->hue_changes.count), request.replacements,
                                request.replacement_count, request.special_colors);
  apply_tint(recoloured, request.tint, request.tint_amount);
  (request.builder ? request.builder : build_light_ramp)(recoloured, levels, table.pixels.get(),
                                                         request.builder_context);
  loaded->shading_tables.push_back(std::move(table));
  header->shading_table_count = number + 1;
  return static_cast<int16_t>(number);
}

const uint16_t* collection_get_shading_table(int16_t collection, int16_t table, int32_t* levels) {
  loaded_collection* loaded = get_loaded(collection);
  if (!loaded || table < 0 || table >= static_cast<int32_t>(loaded->shading_tables.size())) return nullptr;
  if (levels) *levels = loaded->shading_tables[table].levels;
  return loaded->shading_tables[table].pixels.get();
}

void collections_set_map_tint(const rgb_color& tint, int16_t amount) {
  shapes.map_tint = tint;
  shapes.map_tint_amount = amount;
}

void collections_get_map_tint(rgb_color* tint, int16_t* amount) {
  if (tint) *tint = shapes.map_tint;
  if (amount) *amount = shapes.map_tint_amount;
}

const uint8_t* shapes_get_blend_table(int which) {
  if (!shapes.blend_tables || (which != 0 && which != 1)) return nullptr;
  return shapes.blend_tables.get() + which * BLEND_TABLE_SIZE;
}
