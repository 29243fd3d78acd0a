// A map's connectors section from untrusted bytes: loading refuses a section that does not fit its
// count or whose chains run past their records; a section it accepts may still name any
// identifiers, and showing those chains and taking markers out of them must keep every chain within
// its record, the table within 32 connectors and the header in step, and Undo must give the
// section back byte for byte.
//
// Input: byte 0 - bit 7 set: the low bits are the connector count the header declares and the rest
// is the section as stored, big-endian, cut to whole 16-bit words (mostly refused by the loader);
// clear: (byte 0 % 33) connectors whose words are drawn from the rest in turn, identifiers near the
// map's posts and chain lengths 0..32, so that an empty corpus reaches the operations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "map/mesh_edit.h"
#include "../tests/support/collection_fixtures.cpp"
#include "../tests/support/map_fixtures.cpp"
#include "cseries/error_manager.h"
#include "fuzz_support.h"
#include "map/mesh_file.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/vellgrim_connectors.h"

namespace {

tag media_tag = NONE_TAG;

// One submesh with scenery posts 2001..2010 and a unit numbered like a post.
map_fixture sample_map() {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_scenery, NONE_TAG, NONE),
                 map_fixture_palette_entry(_marker_unit, NONE_TAG, 0)};
  for (int16_t i = 0; i < 10; ++i) {
    marker_data post = map_fixture_marker(_marker_scenery, 0, 600 + 1500 * i, 3000);
    post.identifier = int16_t(2001 + i);
    map.markers.push_back(post);
  }
  marker_data unit = map_fixture_marker(_marker_unit, 0, 6000, 6000);
  unit.identifier = 2003;
  map.markers.push_back(unit);
  map.header.landscape_collection_tag =
      tag_file_get_identifier(tag_file_find(COLLECTION_DEFINITION_GROUP_TAG, text_to_tag_padded("Fuzz Map")));
  map.header.media_tag = media_tag;
  return map;
}

void put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = uint8_t(value >> (24 - 8 * i));
}

void check(bool holds) {
  if (!holds) std::abort();
}

void check_table() {
  const mesh_definition* header = mesh_header();
  check(connector_count() <= MAXIMUM_CONNECTORS_PER_MAP);
  check(header->connectors_size == connector_count() * CONNECTOR_RECORD_SIZE);
  for (int32_t i = 0; i < connector_count(); ++i) {
    const int16_t length = connector_get(i)->chain_length;
    check(length >= 0 && length <= MAXIMUM_MARKERS_PER_CONNECTOR);
  }
  check(connectors_store());
}

void exercise_connectors() {
  check_table();
  const std::span<const std::byte> section = mesh_section_bytes(_mesh_section_connectors);
  const std::vector<std::byte> loaded(section.begin(), section.end());
  (void)connectors_build_all();
  // Every identifier named anywhere, in order, taken out of the chains (as a scenery marker's).
  std::vector<int16_t> named;
  for (int32_t i = 0; i < connector_count(); ++i) {
    const connector_record& record = *connector_get(i);
    named.insert(named.end(), record.marker_identifiers, record.marker_identifiers + record.chain_length);
  }
  int32_t steps = 0;
  for (int16_t identifier : named) {
    marker_data marker{};
    marker.type = _marker_scenery;
    marker.identifier = identifier;
    if (connector_remove_marker(marker) != _connector_removal_none) ++steps;
    check(connector_find_marker(marker, -1) == NONE);
    check_table();
    (void)connectors_build_all();
  }
  // Only chains that were stored empty are left.
  for (int32_t i = 0; i < connector_count(); ++i) check(connector_get(i)->chain_length == 0);
  for (int32_t i = 0; i < steps; ++i) check(edit_journal_undo());
  const std::span<const std::byte> restored = mesh_section_bytes(_mesh_section_connectors);
  check(restored.size() == loaded.size() && std::equal(restored.begin(), restored.end(), loaded.begin()));
  edit_journal_clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_enter_temporary_folder();
  map_fixture map = map_fixture_new(1, 1);
  if (!map_fixture_open_store(&media_tag) || map_fixture_store_map("Fuzz Map", map, MESH_VERSION, media_tag) == NONE ||
      !connectors_initialize()) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const map_fixture sample = sample_map();
  if (size == 0) return 0;
  map_fixture map = sample;
  std::vector<uint8_t> bytes = map.tag_data();
  // The section goes last, after the LOD data; the header names its count, offset and size.
  std::vector<uint8_t> words;
  uint32_t count = data[0] & 0x7F;
  if (data[0] & 0x80) {
    words.assign(data + 1, data + 1 + ((size - 1) & ~size_t(1)));
  } else {
    count = data[0] % (MAXIMUM_CONNECTORS_PER_MAP + 1);
    size_t next = 1;
    auto draw = [&]() -> uint8_t { return size > 1 ? data[1 + (next++ - 1) % (size - 1)] : 0; };
    for (uint32_t c = 0; c < count; ++c) {
      for (int32_t w = 0; w < CONNECTOR_RECORD_SIZE / 2; ++w) {
        const uint8_t b = draw();
        const int32_t value = w == CONNECTOR_RECORD_SIZE / 2 - 1 ? b % (MAXIMUM_MARKERS_PER_CONNECTOR + 2)
                                                                 : (b < 240 ? 2001 + b % 12 : int8_t(b));
        words.push_back(uint8_t(uint32_t(value) >> 8));
        words.push_back(uint8_t(value));
      }
    }
  }
  const size_t section = words.size();
  const int32_t connectors_offset = int32_t(bytes.size()) - MESH_HEADER_SIZE;
  bytes.insert(bytes.end(), words.begin(), words.end());
  put32(bytes, offsetof(mesh_definition, connector_count), count);
  put32(bytes, offsetof(mesh_definition, connectors_offset), uint32_t(connectors_offset));
  put32(bytes, offsetof(mesh_definition, connectors_size), uint32_t(section));
  put32(bytes, offsetof(mesh_definition, data_size), uint32_t(bytes.size() - MESH_HEADER_SIZE));

  int32_t tag_index = tag_file_create(MESH_DEFINITION_GROUP_TAG, "Fuzz Map", MESH_VERSION);
  if (tag_index == NONE) std::abort();
  if (!tag_file_write(&tag_index, 0, int32_t(bytes.size()), bytes.data())) std::abort();
  if (mesh_load(tag_file_get_identifier(tag_index))) exercise_connectors();
  edit_journal_clear();
  mesh_unload();
  definition_groups_invalidate();
  shapes_dispose();
  definition_groups_validate();
  handle_error();
  fuzz_restart_log_now_and_then("fuzz_connectors");
  return 0;
}
