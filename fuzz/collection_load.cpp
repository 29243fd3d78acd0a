// Collections from untrusted bytes, loaded as the editor loads them: the bytes become a local
// `.256` tag and go through collection_load, which must refuse them or accept them without
// reading or writing outside what it allocated; everything it accepts must be safe to walk, remap,
// shade and write back.
//
// Input: first byte - bit 0 clear: edits (two position bytes, one value) applied to a well-formed
// sample collection, so that an empty corpus reaches deep; set: the rest is the tag's data as it
// stands. Bits 1..3 all set store the tag as version 3, which must be refused as too old.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/support/collection_fixtures.cpp"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "fuzz_support.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"

namespace {

uint16_t pattern(int32_t x, int32_t y) { return static_cast<uint16_t>(x * 7 + y * 13); }

std::vector<uint8_t> sample_collection() {
  collection_fixture fixture;
  fixture.flags = COLLECTION_HOLDS_SUBMESH_TEXTURES;
  fixture.colors = {{0, 0, 0, 0}, {65535, 0, 0, 0}, {0, 65535, 0, 0}, {9000, 9000, 65535, 0}};
  fixture.hue_changes.push_back({1, 0, {1, 2}});
  fixture.bitmaps.push_back(fixture_raw_bitmap(8, 8, 0x20, 8, pattern));
  fixture.bitmaps.push_back(fixture_raw_bitmap(5, 3, 0, 16, pattern));
  fixture.bitmaps.push_back(fixture_encoded_bitmap(9, {{{{0, 2}, {4, 3}}, {1, 2, 3, 1, 2}}, {{}, {}}}, 0x40, 8));
  fixture.bitmaps.push_back(fixture_encoded_bitmap(4, {{{{1, 1}}, {0x7C00}}}, 0, 16));
  fixture.instances = {{0, 0}, {0, 1}, {0, 2}, {1, 3}, {0, -1}};
  fixture.sequences.push_back({"walk", 1, 65536, 4, {{0, 1, 2, 3}, {1, 2, 3, 4}}});
  fixture.sequences.push_back({"idle", 4, 32768, 1, {{4}}});
  fixture.shadow_map_count = 1;
  return fixture.tag_data();
}

// Everything a loaded collection offers.
void exercise_collection(int16_t collection) {
  collection_header* header = collection_get_header(collection);
  if (!header) std::abort();  // loaded means fixed up
  uint32_t sum = fixture_touch_collection(*header, collection_get_data(collection), true);
  for (int32_t i = 0; i < collection_get_bitmap_count(collection); ++i) {
    const uint8_t* texture = collection_get_submesh_texture(collection, i, false);
    if (texture) sum += texture[SUBMESH_TEXTURE_SIZE * SUBMESH_TEXTURE_SIZE - 1];
    collection_write_bitmap(collection, i);
  }
  const rgb_color replacements[8] = {{0, 0, 65535, 0}, {65535, 0, 0, 1}};
  shading_table_request request;
  request.levels = REDUCED_SHADING_TABLE_LEVELS;
  request.replacements = replacements;
  request.replacement_count = 8;
  collection_add_shading_table(collection, request);
  collection_check_sequence(collection, 1);
  sum += collection_get_blend_tables(collection).size() + collection_get_remapping_tables(collection).size();
  if (sum == 0x7FFFFFFF) std::abort();  // keeps the reads from being optimised away
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_enter_temporary_folder();
  error_manager_initialize("fuzz_collection_load");
  if (!tag_files_initialize() || !tag_files_open(false, {}, -1) || !definition_groups_initialize() ||
      !shapes_initialize()) {
    std::abort();
  }
  definition_groups_validate();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_collection();
  if (size == 0) return 0;
  const std::vector<uint8_t> bytes = fuzz_edited_sample_or_bytes(sample, data, size);
  const int16_t version = ((data[0] >> 1) & 7) == 7 ? COLLECTION_DEFINITION_VERSION - 1 : COLLECTION_DEFINITION_VERSION;

  // A fresh tag each time (creating it again replaces the local file), with exactly these bytes.
  const int32_t tag_index = fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, "Fuzz Collection", version, bytes);
  if (tag_index == NONE) std::abort();
  const int16_t collection = collection_load(static_cast<int32_t>(tag_file_get_identifier(tag_index)));
  if (collection >= 0) exercise_collection(collection);
  // Loaded afresh each time, so that definitions and shading tables never pile up.
  definition_groups_invalidate();
  shapes_dispose();
  definition_groups_validate();
  handle_error();
  fuzz_restart_log_now_and_then("fuzz_collection_load");
  return 0;
}
