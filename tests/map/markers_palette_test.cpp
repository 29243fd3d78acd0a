// Palette and marker-list operations on a bare grid (no tag store, no world objects).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "support/map_fixtures.h"

namespace {

class MarkerLists : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(grid.ready()); }

  // Makes these the open map's lists, as loading would.
  void install(const std::vector<marker_palette_entry>& palette, const std::vector<marker_data>& markers) {
    mesh_state& m = mesh_globals;
    resize_block(m.palette, 0);
    resize_block(m.markers, 0);
    m.palette = static_cast<marker_palette_entry*>(copy_block(palette.data(), palette.size() * sizeof(palette[0])));
    m.markers = static_cast<marker_data*>(copy_block(markers.data(), markers.size() * sizeof(markers[0])));
    m.header->palette_entry_count = int32_t(palette.size());
    m.header->palette_size = int32_t(palette.size() * sizeof(marker_palette_entry));
    m.header->marker_count = int32_t(markers.size());
    m.header->markers_size = int32_t(markers.size() * sizeof(marker_data));
  }

  static void* copy_block(const void* data, size_t size) {
    void* block = size ? resize_block(nullptr, size) : nullptr;
    if (block) std::memcpy(block, data, size);
    return block;
  }

  static marker_data marker(int16_t type, int16_t palette_index, int16_t identifier = 0) {
    marker_data result = map_fixture_marker(type, palette_index, 0, 0);
    result.identifier = identifier;
    return result;
  }

  static std::vector<int16_t> identifiers_of_type(int16_t type) {
    std::vector<int16_t> result;
    for (int32_t i = 0; i < mesh_globals.header->marker_count; ++i)
      if (mesh_globals.markers[i].type == type) result.push_back(mesh_globals.markers[i].identifier);
    return result;
  }

  scoped_test_grid grid{1, 1};
};

TEST_F(MarkerLists, EntriesSharingATagShareThePaletteIndexOfTheFirst) {
  install({map_fixture_palette_entry(_marker_scenery, make_tag("rock"), NONE),
           map_fixture_palette_entry(_marker_unit, make_tag("dwar"), 0),
           map_fixture_palette_entry(_marker_unit, make_tag("dwar"), 1),
           map_fixture_palette_entry(_marker_unit, make_tag("arch"), 0)},
          {});
  marker_palette_entry* second = palette_entry_get(_marker_unit, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->team, 1);
  EXPECT_EQ(palette_entry_index_of(second), 0);
  EXPECT_EQ(palette_entry_index_of(palette_entry_get(_marker_unit, 2)), 2);
  EXPECT_EQ(palette_entry_count_of_type(_marker_unit), 3);
  EXPECT_EQ(palette_entry_get(_marker_unit, 3), nullptr);
  EXPECT_EQ(palette_entry_get(_marker_unit, -1), nullptr);

  palette_iterator_state state;
  palette_iterator(&state, _marker_unit, make_tag("dwar"));
  EXPECT_EQ(palette_next(&state), &mesh_globals.palette[1]);
  EXPECT_EQ(palette_next(&state), &mesh_globals.palette[2]);
  EXPECT_EQ(state.type_count, 2);
  EXPECT_EQ(palette_next(&state), nullptr);
}

TEST_F(MarkerLists, FindOrAddMatchesTypeTagTeamAndFlags) {
  install({map_fixture_palette_entry(_marker_unit, make_tag("dwar"), 0)}, {});
  marker_palette_entry wanted = map_fixture_palette_entry(_marker_unit, make_tag("dwar"), 0);
  EXPECT_EQ(palette_entry_find_or_add(wanted), &mesh_globals.palette[0]);
  EXPECT_EQ(mesh_globals.header->palette_entry_count, 1);

  wanted.flags = _palette_uncontrollable;
  wanted.instance_count = 7;
  wanted.definition_index = 3;
  marker_palette_entry* added = palette_entry_find_or_add(wanted);
  ASSERT_EQ(added, &mesh_globals.palette[1]);
  EXPECT_EQ(added->flags, _palette_uncontrollable);
  EXPECT_EQ(added->instance_count, 0);      // run-time fields start empty
  EXPECT_EQ(added->definition_index, NONE);
  EXPECT_EQ(mesh_globals.header->palette_entry_count, 2);
  EXPECT_EQ(mesh_globals.header->palette_size, 64);
}

TEST_F(MarkerLists, AddedMarkersAreNumberedFrom10000) {
  install({}, {marker(_marker_scenery, 0, 1000), marker(_marker_unit, 0, 1001)});
  marker_data* first = marker_add(marker(_marker_unit, 0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->identifier, 10000);
  EXPECT_EQ(first->object_index, NONE);
  EXPECT_EQ(marker_add(marker(_marker_unit, 0))->identifier, 10001);
  EXPECT_EQ(marker_add(marker(_marker_scenery, 0))->identifier, 10000);  // per type
  EXPECT_EQ(mesh_globals.header->marker_count, 5);
  EXPECT_EQ(mesh_globals.header->markers_size, 5 * 64);

  install({}, {marker(_marker_unit, 0, 12345), marker(_marker_unit, 0, 10002)});
  EXPECT_EQ(marker_add(marker(_marker_unit, 0))->identifier, 12346);
  EXPECT_NE(marker_find_by_identifier(_marker_unit, 12346), nullptr);
  EXPECT_EQ(marker_find_by_identifier(_marker_scenery, 12346), nullptr);
}

TEST_F(MarkerLists, AddingPastTheLargestIdentifierReusesAFreeOne) {
  install({}, {marker(_marker_unit, 0, 32767), marker(_marker_unit, 0, 10000)});
  marker_data* added = marker_add(marker(_marker_unit, 0));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->identifier, 10001);
}

TEST_F(MarkerLists, ReadMarkersAreNumberedFrom1000PerType) {
  install({}, {marker(_marker_unit, 0), marker(_marker_scenery, 0), marker(_marker_unit, 0, 10000),
               marker(_marker_unit, 0), marker(_marker_scenery, 0), marker(_marker_unit, 0, 1001),
               marker(_marker_unit, 0)});
  markers_number();
  EXPECT_EQ(identifiers_of_type(_marker_unit), (std::vector<int16_t>{1000, 10000, 1002, 1001, 1003}));
  EXPECT_EQ(identifiers_of_type(_marker_scenery), (std::vector<int16_t>{1000, 1001}));
}

TEST_F(MarkerLists, DeletingAPaletteEntryDeletesItsMarkersAndShiftsLaterIndices) {
  install({map_fixture_palette_entry(_marker_unit, make_tag("uni0"), 0),
           map_fixture_palette_entry(_marker_scenery, make_tag("sce0"), NONE),
           map_fixture_palette_entry(_marker_unit, make_tag("uni1"), 0),
           map_fixture_palette_entry(_marker_scenery, make_tag("sce1"), NONE),
           map_fixture_palette_entry(_marker_unit, make_tag("uni2"), 0)},
          {marker(_marker_unit, 2, 1), marker(_marker_unit, 1, 2), marker(_marker_scenery, 2, 3),
           marker(_marker_unit, 0, 4), marker(_marker_unit, 1, 5), marker(_marker_scenery, 1, 6)});

  marker_palette_entry* entry = palette_entry_get(_marker_unit, 1);
  EXPECT_FALSE(palette_entry_delete(entry, 2));  // not that entry's index
  ASSERT_TRUE(palette_entry_delete(entry, 1));

  ASSERT_EQ(mesh_globals.header->palette_entry_count, 4);
  EXPECT_EQ(mesh_globals.header->palette_size, 4 * 32);
  EXPECT_EQ(palette_entry_get(_marker_unit, 1)->definition_tag, make_tag("uni2"));
  ASSERT_EQ(mesh_globals.header->marker_count, 4);
  EXPECT_EQ(mesh_globals.header->markers_size, 4 * 64);
  const marker_data* m = mesh_globals.markers;
  EXPECT_EQ(m[0].identifier, 1);
  EXPECT_EQ(m[0].palette_index, 1);  // was 2
  EXPECT_EQ(m[1].identifier, 3);
  EXPECT_EQ(m[1].palette_index, 2);  // another type keeps its index
  EXPECT_EQ(m[2].identifier, 4);
  EXPECT_EQ(m[2].palette_index, 0);
  EXPECT_EQ(m[3].identifier, 6);
  EXPECT_EQ(m[3].palette_index, 1);
}

TEST_F(MarkerLists, DeletingTheLastMarkerAndEntryLeavesEmptyLists) {
  install({map_fixture_palette_entry(_marker_observer, NONE_TAG, 0)}, {marker(_marker_observer, 0, 1000)});
  ASSERT_TRUE(palette_entry_delete(&mesh_globals.palette[0], 0));
  EXPECT_EQ(mesh_globals.header->marker_count, 0);
  EXPECT_EQ(mesh_globals.header->markers_size, 0);
  EXPECT_EQ(mesh_globals.header->palette_entry_count, 0);
  EXPECT_EQ(mesh_globals.header->palette_size, 0);
  EXPECT_FALSE(marker_delete(&mesh_globals.markers[0]));  // nothing left to delete
  EXPECT_NE(marker_add(marker(_marker_observer, 0)), nullptr);
}

TEST_F(MarkerLists, IteratorsFilterByEveryField) {
  std::vector<marker_data> markers = {marker(_marker_unit, 0, 1), marker(_marker_unit, 1, 2),
                                      marker(_marker_scenery, 1, 3), marker(_marker_unit, 1, 4)};
  markers[3].object_index = 9;
  install({}, markers);
  marker_iterator_state state;
  marker_iterator(&state, _marker_unit, 1, NONE);
  EXPECT_EQ(marker_next(&state)->identifier, 2);
  EXPECT_EQ(state.last_index, 1);
  EXPECT_EQ(marker_next(&state)->identifier, 4);
  EXPECT_EQ(marker_next(&state), nullptr);
  marker_iterator(&state, NONE, 1, NONE);
  int found = 0;
  while (marker_next(&state)) ++found;
  EXPECT_EQ(found, 3);
  EXPECT_EQ(marker_find_by_object(_marker_unit, 9)->identifier, 4);
  EXPECT_EQ(marker_find_by_object(_marker_scenery, 9), nullptr);
}

TEST_F(MarkerLists, Version4MarkersGetPaletteEntriesForTheirTags) {
  // An old marker kept its 32-bit definition tag at offset 8. Loading converts that place as the
  // current layout's two int16 fields, which leaves the tag's high half in `identifier` and its
  // low half in `minimum_difficulty` on any host.
  auto old_marker = [](int16_t type, tag definition_tag, int32_t x) {
    marker_data loaded = map_fixture_marker(type, 7, x, 0);
    loaded.identifier = int16_t(definition_tag >> 16);
    loaded.minimum_difficulty = int16_t(definition_tag & 0xFFFF);
    std::memset(loaded.user_data, 0x5A, sizeof(loaded.user_data));
    std::memset(loaded.kept_52, 0x5A, sizeof(loaded.kept_52));
    loaded.yaw = 0x1234;
    return loaded;
  };
  std::vector<marker_data> on_disc = {old_marker(_marker_unit, make_tag("dwar"), 1),
                                      old_marker(_marker_unit, make_tag("arch"), 2),
                                      old_marker(_marker_scenery, make_tag("rock"), 3),
                                      old_marker(_marker_unit, make_tag("dwar"), 4)};
  install({map_fixture_palette_entry(_marker_unit, make_tag("arch"), 2)}, on_disc);
  markers_convert_from_version_4();

  ASSERT_EQ(mesh_globals.header->palette_entry_count, 3);
  EXPECT_EQ(mesh_globals.palette[1].definition_tag, make_tag("dwar"));
  EXPECT_EQ(mesh_globals.palette[1].team, NONE);
  EXPECT_EQ(mesh_globals.palette[2].type, _marker_scenery);
  EXPECT_EQ(mesh_globals.palette[2].definition_tag, make_tag("rock"));
  const marker_data* m = mesh_globals.markers;
  EXPECT_EQ(m[0].palette_index, 1);  // after the existing "arch" entry
  EXPECT_EQ(m[1].palette_index, 0);
  EXPECT_EQ(m[2].palette_index, 0);
  EXPECT_EQ(m[3].palette_index, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m[i].identifier, 0);
    EXPECT_EQ(m[i].minimum_difficulty, 0);
    EXPECT_EQ(m[i].location.x, i + 1);
    EXPECT_EQ(m[i].yaw, 0x1234);
    EXPECT_EQ(m[i].user_data[0], 0);
    EXPECT_EQ(m[i].user_data[15], 0);
    EXPECT_EQ(m[i].kept_52[0], 0);
  }
  markers_number();
  EXPECT_EQ(m[3].identifier, 1002);
}

TEST_F(MarkerLists, Version4MarkerWithoutATagTakesTheEntryWithoutATag) {
  marker_data old = map_fixture_marker(_marker_observer, 0, 5, 0);
  old.identifier = int16_t(NONE_TAG >> 16);
  old.minimum_difficulty = int16_t(NONE_TAG & 0xFFFF);
  install({map_fixture_palette_entry(_marker_observer, make_tag("eyes"), 0),
           map_fixture_palette_entry(_marker_observer, NONE_TAG, 0)},
          {old});
  markers_convert_from_version_4();
  EXPECT_EQ(mesh_globals.header->palette_entry_count, 2);
  EXPECT_EQ(mesh_globals.markers[0].palette_index, 1);  // not the first observer entry
}

}  // namespace
