#include <gtest/gtest.h>

#include <cstring>

#include "cseries/data.h"
#include "engine/definition_groups.h"
#include "map/mesh_geometry.h"
#include "support/map_fixtures.h"
#include "world/models.h"
#include "world/objects.h"
#include "world/teams.h"
#include "world/world.h"

namespace {

class World : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(world_initialize());
    ASSERT_TRUE(world_start(world_editor_game_description()));
  }
  void TearDown() override { world_dispose(); }

  static marker_data marker_at(int16_t type, int32_t x, int32_t y, int32_t z) {
    marker_data marker = {};
    marker.type = type;
    marker.location = {x, y, z};
    marker.yaw = 0x4000;
    return marker;
  }
};

TEST_F(World, EditorGameHasTwoColouredPlayers) {
  const game_description* description = world_get_game_description();
  ASSERT_NE(description, nullptr);
  ASSERT_EQ(description->player_count, 2);
  EXPECT_STREQ(description->players[0].name, "player 1");
  EXPECT_STREQ(description->players[1].name, "player 2");
  EXPECT_EQ(description->players[0].colors[0].red, 0xFFFF);
  EXPECT_EQ(description->players[0].colors[0].green, 0);
  EXPECT_EQ(description->players[0].colors[1].green, 0xFFFF);
  EXPECT_EQ(description->players[1].colors[0].blue, 0xFFFF);
  EXPECT_EQ(description->players[1].colors[1].green, 0xFFFF);
  EXPECT_EQ(description->players[1].colors[1].blue, 0xFFFF);
  EXPECT_EQ(description->players[1].colors[1].red, 0);
}

TEST_F(World, StartRefusesAGameWithoutPlayers) {
  game_description empty = {};
  EXPECT_FALSE(world_start(empty));
  EXPECT_TRUE(world_is_running());  // the running world is left alone
}

TEST_F(World, ObjectsReportIndexAndIdentifierAndDisappearWhenDeleted) {
  object_placement placement = {};
  placement.kind = _object_scenery;
  placement.location = {100, 200, 300};
  placement.facing = 0x8000;
  placement.team = NONE;
  int32_t first = object_new(placement);
  int32_t second = object_new(placement);
  ASSERT_NE(first, NONE);
  ASSERT_NE(second, NONE);
  EXPECT_NE(first, second);
  int16_t identifier = object_get_identifier(first);
  EXPECT_LT(identifier, 0);  // data-array identifiers have the top bit set
  EXPECT_EQ(object_get(first)->location.y, 200);
  EXPECT_EQ(object_get(first)->facing, 0x8000);
  EXPECT_EQ(object_count(), 2);

  EXPECT_TRUE(object_delete(first));
  EXPECT_FALSE(object_delete(first));
  EXPECT_EQ(object_get(first), nullptr);
  EXPECT_EQ(object_get_identifier(first), NONE);
  EXPECT_EQ(object_count(), 1);

  // A reused slot gets a new identifier, so a stale reference is told apart.
  int32_t third = object_new(placement);
  EXPECT_EQ(third, first);
  EXPECT_NE(object_get_identifier(third), identifier);

  EXPECT_FALSE(object_new(object_placement{.kind = NUMBER_OF_OBJECT_KINDS}) != NONE);
}

TEST_F(World, DrawingStateFollowsEdits) {
  int32_t object = object_new(object_placement{.kind = _object_unit, .team = 1});
  object_set_invisible(object, true);
  EXPECT_EQ(object_get(object)->flags & _object_invisible, _object_invisible);
  object_set_invisible(object, false);
  EXPECT_EQ(object_get(object)->flags & _object_invisible, 0);
  object_set_shading_mode(object, _object_shading_stone);
  EXPECT_EQ(object_get(object)->shading_mode, _object_shading_stone);
  object_move(object, {1, 2, 3}, 10, 20);
  EXPECT_EQ(object_get(object)->location.z, 3);
  EXPECT_EQ(object_get(object)->pitch, 20);
}

TEST_F(World, DeletingAPlaceholderRemovesItsProjectileGroup) {
  int32_t object = object_new(object_placement{.kind = _object_placeholder, .look = _marker_local_projectile_group});
  marker_data marker = marker_at(_marker_local_projectile_group, 5, 6, 7);
  marker.flags = _marker_invisible | _marker_netgame_target;
  ASSERT_TRUE(object_attach_local_projectile_group(object, 3, marker));
  EXPECT_FALSE(object_attach_local_projectile_group(object, 3, marker));  // one per placeholder

  const local_projectile_group* group = object_get_local_projectile_group(object);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->marker.flags, _marker_netgame_target);  // "Invisible" cleared on the copy
  EXPECT_EQ(group->marker.location.x, 5);
  EXPECT_EQ(group->definition_index, 3);
  EXPECT_EQ(local_projectile_group_count(), 1);

  object_delete(object);
  EXPECT_EQ(local_projectile_group_count(), 0);
}

TEST_F(World, DisposalEmptiesEverything) {
  object_new(object_placement{.kind = _object_projectile});
  marker_palette_entry entries[2] = {};
  entries[0].type = _marker_unit;
  entries[0].team = 2;
  teams_build_from_palette(entries, 2);
  world_advance(5);
  EXPECT_EQ(world_time(), 5);
  world_dispose();
  EXPECT_FALSE(world_is_running());
  EXPECT_EQ(world_get_game_description(), nullptr);
  EXPECT_EQ(object_count(), 0);
  EXPECT_EQ(team_count(), 0);
  EXPECT_EQ(object_new(object_placement{.kind = _object_projectile}), NONE);
  world_advance(5);
  EXPECT_EQ(world_time(), 0);
}

TEST(Teams, CountIsOneMoreThanTheHighestUnitTeam) {
  marker_palette_entry entries[4] = {};
  entries[0].type = _marker_unit;
  entries[0].team = 0;
  entries[1].type = _marker_scenery;  // not a unit: its team does not count
  entries[1].team = 9;
  entries[2].type = _marker_unit;
  entries[2].team = 3;
  entries[3].type = _marker_unit;
  entries[3].team = NONE;
  EXPECT_EQ(teams_build_from_palette(entries, 4), 4);
  EXPECT_EQ(team_count(), 4);
  EXPECT_EQ(teams_build_from_palette(entries + 3, 1), 0);
  EXPECT_EQ(teams_build_from_palette(nullptr, 0), 0);
}

class Models : public World {
 protected:
  void SetUp() override {
    World::SetUp();
    for (definition_group* group : {&geometry_definitions, &model_definitions, &model_animation_definitions}) {
      ASSERT_TRUE(definitions_initialize(group));
      definitions_validate(group);
    }
    geometry_definition box = {};
    box.minimum_x = -100, box.maximum_x = 300;
    box.minimum_y = -50, box.maximum_y = 50;
    box.minimum_z = 0, box.maximum_z = 1024;
    box.collection_reference_index = NONE;
    geometry = definition_add(&geometry_definitions, make_tag("box1"), &box);
    ASSERT_NE(geometry, NONE);

    model_definition model = {};
    model.geometry_tag = make_tag("box1");
    model.geometry_index = geometry;
    model_definition_index = definition_add(&model_definitions, make_tag("hut1"), &model);
    ASSERT_NE(model_definition_index, NONE);

    model_animation_definition animation = {};
    animation.frame_count = 2;
    animation.frame_geometry_indexes[0] = geometry;
    animation.frame_geometry_indexes[1] = NONE;
    animation_definition_index = definition_add(&model_animation_definitions, make_tag("mill"), &animation);
    ASSERT_NE(animation_definition_index, NONE);
  }

  int16_t geometry = NONE, model_definition_index = NONE, animation_definition_index = NONE;
};

TEST_F(Models, BoundingBoxTurnsWithTheFacing) {
  int32_t model = model_new(model_definition_index, {1000, 2000, 64}, 0, 2);
  ASSERT_NE(model, NONE);
  EXPECT_EQ(model_get(model)->variant, 2);
  world_box box;
  ASSERT_TRUE(model_get_bounding_box(model, &box));
  EXPECT_EQ(box.minimum.x, 900);
  EXPECT_EQ(box.maximum.x, 1300);
  EXPECT_EQ(box.minimum.y, 1950);
  EXPECT_EQ(box.maximum.y, 2050);
  EXPECT_EQ(box.minimum.z, 64);
  EXPECT_EQ(box.maximum.z, 1088);

  // A quarter turn: forward becomes +y.
  int32_t turned = model_new(model_definition_index, {1000, 2000, 0}, 0x4000, 0);
  ASSERT_TRUE(model_get_bounding_box(turned, &box));
  EXPECT_EQ(box.minimum.x, 950);
  EXPECT_EQ(box.maximum.x, 1050);
  EXPECT_EQ(box.minimum.y, 1900);
  EXPECT_EQ(box.maximum.y, 2300);

  EXPECT_EQ(model_count(), 2);
  EXPECT_TRUE(model_delete(model));
  EXPECT_FALSE(model_get_bounding_box(model, &box));
  EXPECT_EQ(model_new(NONE, {0, 0, 0}, 0, 0), NONE);  // no definition, no model
}

TEST_F(Models, AnimationFramesAreKeptInRange) {
  int32_t animation = model_animation_new(animation_definition_index, {0, 0, 0}, 0);
  ASSERT_NE(animation, NONE);
  EXPECT_EQ(model_animation_frame_count(animation), 2);
  world_box box;
  EXPECT_TRUE(model_animation_get_bounding_box(animation, &box));
  EXPECT_EQ(box.maximum.x, 300);
  ASSERT_TRUE(model_animation_set_frame(animation, 7));
  EXPECT_EQ(model_animation_get(animation)->frame, 1);
  EXPECT_FALSE(model_animation_get_bounding_box(animation, &box));  // frame 1 has no geometry
  model_animation_set_frame(animation, -3);
  EXPECT_EQ(model_animation_get(animation)->frame, 0);
  EXPECT_TRUE(model_animation_delete(animation));
  EXPECT_EQ(model_animation_count(), 0);
}

TEST_F(Models, PlacedModelsStandOnTheAverageHeightUnderTheirFootprint) {
  scoped_test_grid grid(1, 1);
  ASSERT_TRUE(grid.ready());
  // Ground at 1024 on the cells from x = 4 on; 0 west of it.
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 4; x < 32; ++x) map_fixture_set_height(x, y, 1024);

  model_definition* model = static_cast<model_definition*>(definition_get(&model_definitions, model_definition_index));
  // Two cells wide along x (model space), one cell deep.
  model->footprint_left = 0, model->footprint_right = 1024;
  model->footprint_top = 0, model->footprint_bottom = 512;
  EXPECT_EQ(model_placement_height(model_definition_index, 10 * 512, 10 * 512, 0), 1024);

  // Straddling the step: one cell centre on the plateau, the other on the slope below it.
  int32_t straddling = model_placement_height(model_definition_index, 3 * 512, 10 * 512, 0);
  EXPECT_GT(straddling, 0);
  EXPECT_LT(straddling, 1024);

  // Facing west (a half turn) the footprint reaches back over the low ground.
  EXPECT_EQ(model_placement_height(model_definition_index, 3 * 512, 10 * 512, 0x8000), 0);

  // An empty footprint takes the ground height under the origin.
  model->footprint_right = model->footprint_left;
  EXPECT_EQ(model_placement_height(model_definition_index, 20 * 512, 10 * 512, 0), 1024);

  int32_t placed = model_place(model_definition_index, 20 * 512, 10 * 512, 0x2000, 1);
  ASSERT_NE(placed, NONE);
  EXPECT_EQ(model_get(placed)->location.z, 1024);
  EXPECT_EQ(model_get(placed)->facing, 0x2000);
}

}  // namespace

// Segments meet the turned box itself, not only its axis-aligned bounds.
TEST_F(Models, SegmentsHitTheTurnedBoxOnly) {
  const int32_t model = model_new(model_definition_index, {0, 0, 0}, 0x2000, 0);  // an eighth of a turn
  ASSERT_NE(model, NONE);
  world_box bounds;
  ASSERT_TRUE(model_get_bounding_box(model, &bounds));
  EXPECT_TRUE(model_segment_hits(model, {0, 0, -10}, {0, 0, 2000}));
  EXPECT_TRUE(model_segment_hits(model, {-1000, -1000, 500}, {1000, 1000, 500}));  // along the turned forward axis
  // (200, -50) lies inside the bounds but outside the turned box.
  ASSERT_TRUE(200 < bounds.maximum.x && -50 > bounds.minimum.y);
  EXPECT_FALSE(model_segment_hits(model, {200, -50, -10}, {200, -50, 2000}));
  EXPECT_FALSE(model_segment_hits(model, {0, 0, 1100}, {0, 0, 3000}));  // above it
  EXPECT_FALSE(model_segment_hits(model, {0, 0, -500}, {0, 0, -1}));    // ends below it
  EXPECT_FALSE(model_segment_hits(NONE, {0, 0, -10}, {0, 0, 2000}));

  const int32_t animation = model_animation_new(animation_definition_index, {0, 0, 0}, 0);
  EXPECT_TRUE(model_animation_segment_hits(animation, {250, 0, -10}, {250, 0, 10}));
  ASSERT_TRUE(model_animation_set_frame(animation, 1));  // no geometry
  EXPECT_FALSE(model_animation_segment_hits(animation, {250, 0, -10}, {250, 0, 10}));
}
