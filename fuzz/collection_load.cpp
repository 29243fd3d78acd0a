// Collections from untrusted bytes: the fix-up must refuse or accept without reading or writing
// outside the data block, and everything it accepts must be safe to walk.
//
// Input: first byte even - edits (two position bytes, one value) applied to a well-formed sample
// collection, so that an empty corpus reaches deep; odd - a stored 320-byte header, then the data
// block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../tests/support/collection_fixtures.cpp"
#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "render/shapes.h"

namespace {

uint16_t pattern(int32_t x, int32_t y) { return static_cast<uint16_t>(x * 7 + y * 13); }

std::vector<uint8_t> sample_collection() {
  collection_fixture fixture;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_collection();
  if (size == 0) return 0;
  const std::vector<uint8_t> tag = fuzz_edited_sample_or_bytes(sample, data, size);
  if (tag.size() < sizeof(collection_header)) return 0;

  collection_header header;
  std::memcpy(&header, tag.data(), sizeof(header));
  byte_swap_data(collection_header_description, &header, sizeof(header), 1);
  // The block is copied to its exact size so that any overrun is caught.
  std::vector<uint8_t> block(tag.begin() + sizeof(collection_header), tag.end());
  if (collection_fix_up(header, block, "fuzz")) fixture_touch_collection(header, block, true);
  handle_error();
  return 0;
}
