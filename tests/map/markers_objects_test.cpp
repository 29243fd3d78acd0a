// Markers and their world objects, on maps loaded from a tag store holding the definitions they
// name.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "engine/definition_groups.h"
#include "map/marker_utils.h"
#include "map/mesh_file.h"
#include "render/shapes.h"
#include "support/collection_fixtures.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "tag_files/tag_files.h"
#include "world/models.h"
#include "world/objects.h"
#include "world/placeholders.h"
#include "world/world.h"

namespace {

// A definition record with every reference NONE (all bytes 0xFF) stored as a local tag.
tag store_definition(const definition_group& group, const char* name) {
  std::vector<uint8_t> bytes(size_t(group.record_size), 0xFF);
  int32_t tag_index = fixture_store_tag(group.group_tag, name, group.version, bytes);
  return tag_index == NONE ? NONE_TAG : tag_file_get_identifier(tag_index);
}

class MarkerObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(world_initialize());
    ASSERT_TRUE(world_start(world_editor_game_description()));
    unit = store_definition(unit_definitions, "dwarf");
    scenery = store_definition(scenery_definitions, "rock");
    model = store_definition(model_definitions, "hut");
    sound = store_definition(ambient_sound_definitions, "birds");
    group = store_definition(local_projectile_group_definitions, "sparks");
    animation = store_definition(model_animation_definitions, "mill");
    projectile = store_definition(projectile_definitions, "arrow");
    ASSERT_NE(store_definition(object_definitions, "basc"), NONE_TAG);
    ASSERT_NE(fixture_store_tag(COLLECTION_DEFINITION_GROUP_TAG, "plac", COLLECTION_DEFINITION_VERSION,
                                fixture_map_collection(1, 1, 3, 200).tag_data()),
              NONE);
  }
  void TearDown() override { world_dispose(); }

  // Stores and opens the map, then gives its markers their objects as opening a map does.
  void open(map_fixture& map) {
    int32_t tag_index = store.store_map("objects", map);
    ASSERT_NE(tag_index, NONE);
    ASSERT_TRUE(mesh_load(tag_file_get_identifier(tag_index)));
    markers_reset_palette();
    markers_instantiate();
  }

  static marker_data marker(int16_t type, int16_t palette_index, int32_t x, uint32_t flags = 0,
                            int16_t difficulty = 0) {
    marker_data result = map_fixture_marker(type, palette_index, x, 512);
    result.flags = flags;
    result.minimum_difficulty = difficulty;
    result.location.z = 77;
    result.yaw = 0x2000;
    return result;
  }

  map_test_store store;
  tag unit = NONE_TAG, scenery = NONE_TAG, model = NONE_TAG, sound = NONE_TAG, group = NONE_TAG,
      animation = NONE_TAG, projectile = NONE_TAG;
};

TEST_F(MarkerObjects, EveryTypeGetsItsObjectWithTheMarkersState) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_observer, NONE_TAG, 0),
                 map_fixture_palette_entry(_marker_scenery, scenery, NONE),
                 map_fixture_palette_entry(_marker_unit, unit, 1),
                 map_fixture_palette_entry(_marker_sound_source, sound, NONE),
                 map_fixture_palette_entry(_marker_model, model, NONE),
                 map_fixture_palette_entry(_marker_projectile, projectile, NONE),
                 map_fixture_palette_entry(_marker_local_projectile_group, group, NONE),
                 map_fixture_palette_entry(_marker_model_animation, animation, NONE)};
  map.markers = {marker(_marker_observer, 0, 100, _marker_invisible),
                 marker(_marker_scenery, 0, 200, 0, _difficulty_heroic),
                 marker(_marker_unit, 0, 300, _marker_stone | _marker_detonates_immediately),
                 marker(_marker_unit, 0, 400, _marker_detonates_immediately),
                 marker(_marker_unit, 0, 500, 0, _difficulty_heroic),
                 marker(_marker_sound_source, 0, 600),
                 marker(_marker_model, 0, 700),
                 marker(_marker_projectile, 0, 800),
                 marker(_marker_local_projectile_group, 0, 900, _marker_invisible | _marker_respawns),
                 marker(_marker_model_animation, 0, 1000)};
  int16_t variant = 3;
  std::memcpy(map.markers[6].user_data, &variant, sizeof variant);
  open(map);

  ASSERT_EQ(mesh_globals.header->marker_count, 10);
  const marker_data* m = mesh_globals.markers;
  for (int i = 0; i < 10; ++i) EXPECT_NE(m[i].object_index, NONE) << "marker " << i;
  EXPECT_EQ(object_count(), 8);
  EXPECT_EQ(model_count(), 1);
  EXPECT_EQ(model_animation_count(), 1);

  const world_object* observer = object_get(m[0].object_index);
  ASSERT_NE(observer, nullptr);
  EXPECT_EQ(m[0].object_identifier, observer->identifier);
  EXPECT_EQ(observer->kind, _object_placeholder);
  EXPECT_EQ(observer->look, _marker_observer);
  EXPECT_EQ(observer->flags & _object_invisible, _object_invisible);
  EXPECT_EQ(observer->location.x, 100);
  EXPECT_EQ(observer->location.z, 77);
  EXPECT_EQ(observer->facing, 0x2000);
  EXPECT_NE(observer->definition_index, NONE);  // `basc`
  EXPECT_EQ(observer->collection_index, placeholder_collection());
  EXPECT_NE(placeholder_collection(), NONE);      // `plac`

  EXPECT_EQ(object_get(m[1].object_index)->shading_mode, _object_shading_heroic);
  EXPECT_EQ(object_get(m[2].object_index)->shading_mode, _object_shading_stone);
  EXPECT_EQ(object_get(m[3].object_index)->shading_mode, _object_shading_legendary);
  EXPECT_EQ(object_get(m[4].object_index)->shading_mode, _object_shading_heroic);
  EXPECT_EQ(object_get(m[4].object_index)->team, 1);
  EXPECT_EQ(object_get(m[5].object_index)->look, _marker_sound_source);
  EXPECT_EQ(model_get(m[6].object_index)->variant, 3);
  EXPECT_EQ(model_get(m[6].object_index)->location.x, 700);
  EXPECT_EQ(object_get(m[7].object_index)->kind, _object_projectile);

  const local_projectile_group* sparks = object_get_local_projectile_group(m[8].object_index);
  ASSERT_NE(sparks, nullptr);
  EXPECT_EQ(sparks->marker.flags, _marker_respawns);
  EXPECT_EQ(sparks->marker.location.x, 900);
  EXPECT_EQ(model_animation_get(m[9].object_index)->location.x, 1000);

  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->instance_count, 3);
  EXPECT_NE(palette_entry_get(_marker_unit, 0)->definition_index, NONE);
  EXPECT_EQ(palette_entry_get(_marker_observer, 0)->instance_count, 1);
  EXPECT_EQ(marker_find_by_object(_marker_unit, m[3].object_index), &m[3]);
}

TEST_F(MarkerObjects, MissingEntriesAndDefinitionsLeaveMarkersWithoutObjects) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_unit, unit, 0),
                 map_fixture_palette_entry(_marker_scenery, NONE_TAG, NONE),
                 map_fixture_palette_entry(_marker_scenery, make_tag("gone"), NONE)};
  map.markers = {marker(_marker_unit, 5, 1),      // no such unit entry: deleted
                 marker(_marker_scenery, 0, 2),   // "No Tag"
                 marker(_marker_scenery, 1, 3),   // a tag that isn't there
                 marker(_marker_scenery, 4, 4),   // no such scenery entry: kept, without object
                 marker(_marker_unit, 0, 5)};
  open(map);
  ASSERT_EQ(mesh_globals.header->marker_count, 4);
  const marker_data* m = mesh_globals.markers;
  EXPECT_EQ(m[0].location.x, 2);
  EXPECT_EQ(m[0].object_index, NONE);
  EXPECT_EQ(m[1].object_index, NONE);
  EXPECT_EQ(m[2].object_index, NONE);
  EXPECT_NE(m[3].object_index, NONE);
  EXPECT_EQ(object_count(), 1);
  EXPECT_EQ(palette_entry_get(_marker_scenery, 1)->instance_count, 0);
}

TEST_F(MarkerObjects, DeletingMarkersAndEntriesRemovesTheirObjects) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_unit, unit, 0), map_fixture_palette_entry(_marker_unit, unit, 1),
                 map_fixture_palette_entry(_marker_model, model, NONE)};
  map.markers = {marker(_marker_unit, 0, 1), marker(_marker_unit, 1, 2), marker(_marker_unit, 0, 3),
                 marker(_marker_model, 0, 4)};
  open(map);
  ASSERT_EQ(object_count(), 3);

  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->instance_count, 2);
  EXPECT_EQ(palette_entry_get(_marker_unit, 1)->instance_count, 1);
  int16_t removed = mesh_globals.markers[0].object_index;
  ASSERT_TRUE(marker_delete(&mesh_globals.markers[0]));
  EXPECT_EQ(object_get(removed), nullptr);
  EXPECT_EQ(object_count(), 2);
  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->instance_count, 1);

  ASSERT_TRUE(palette_entry_delete(palette_entry_get(_marker_model, 0), 0));
  EXPECT_EQ(model_count(), 0);
  EXPECT_EQ(mesh_globals.header->marker_count, 2);

  // Removing an object twice, or one whose slot was reused, touches nothing else.
  marker_data& unit_marker = mesh_globals.markers[0];
  int16_t slot = unit_marker.object_index;
  marker_data stale = unit_marker;
  marker_remove_object(&unit_marker);
  EXPECT_EQ(unit_marker.object_index, NONE);
  int32_t reused = NONE;
  for (int i = 0; i < MAXIMUM_OBJECTS_PER_MAP && reused != slot; ++i) reused = object_new(object_placement{});
  ASSERT_EQ(reused, slot);
  marker_remove_object(&stale);
  EXPECT_NE(object_get(reused), nullptr);
}

TEST_F(MarkerObjects, EditedMarkersUpdateTheirObjects) {
  map_fixture map = map_fixture_new(1, 1);
  map.palette = {map_fixture_palette_entry(_marker_unit, unit, 0), map_fixture_palette_entry(_marker_model, model, NONE)};
  map.markers = {marker(_marker_unit, 0, 1), marker(_marker_model, 0, 2)};
  open(map);

  marker_data& edited = mesh_globals.markers[0];
  edited.flags |= _marker_invisible | _marker_stone;
  edited.location = {5000, 6000, 100};
  edited.pitch = 99;
  marker_refresh_object(&edited);
  const world_object* object = object_get(edited.object_index);
  EXPECT_EQ(object->flags & _object_invisible, _object_invisible);
  EXPECT_EQ(object->shading_mode, _object_shading_stone);
  EXPECT_EQ(object->location.y, 6000);
  EXPECT_EQ(object->pitch, 99);

  marker_data& hut = mesh_globals.markers[1];
  hut.location.x = 4096;
  hut.yaw = 0x4000;
  marker_refresh_object(&hut);
  EXPECT_EQ(model_get(hut.object_index)->location.x, 4096);
  EXPECT_EQ(model_get(hut.object_index)->facing, 0x4000);

  // A marker added in the editor gets its object on request.
  marker_data* added = marker_add(marker(_marker_unit, 0, 7));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->object_index, NONE);
  ASSERT_TRUE(marker_create_object(added));
  EXPECT_FALSE(marker_create_object(added));  // it has one already
  EXPECT_EQ(palette_entry_get(_marker_unit, 0)->instance_count, 2);
}

}  // namespace
