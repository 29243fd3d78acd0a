// The whole demo data, maps included, built into a fresh folder and opened the way the editor opens
// it: the store is complete, every map opens with every reference resolved and every marker shown,
// the imports put the generated layers where they belong, and a second build is byte for byte the
// same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "map/mesh_edit.h"
#include "map/mesh_private.h"
#include "content/content.h"
#include "content/content_maps.h"
#include "content/content_terrain.h"
#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "session/engine.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "render/shapes.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/extract.h"
#include "tools/map_session.h"

namespace fs = std::filesystem;

namespace {

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every regular file below the folder, by relative path.
std::map<std::string, std::string> files_below(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = file_bytes(entry.path());
  }
  return files;
}

int32_t find_tag(tag group, const char* name) {
  tag_file_filter filter = tag_file_filter_any();
  std::snprintf(filter.name, sizeof filter.name, "%s", name);
  filter.group_tag = group;
  int32_t found = NONE;
  return tag_file_search(filter, &found, 1) > 0 ? found : NONE;
}

// Builds once into the test's own folder and opens the editor's engine on it.
class ContentBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string failure;
    ASSERT_TRUE(content_build(folder.path(), &failure)) << failure;
    error_manager_initialize("content tests");
    ASSERT_TRUE(definitions_initialize(&mesh_lighting_definitions));
    ASSERT_TRUE(engine_initialize());
  }
  void TearDown() override { map_close(); }

  const content_map_plan& plan_named(const char* name) {
    for (const content_map_plan& plan : content_map_plans()) {
      if (std::string(plan.name) == name) return plan;
    }
    ADD_FAILURE() << name;
    return content_map_plans().front();
  }

  // Opens the map as the editor does and checks every reference of the map and its palette.
  void expect_map_sound(const char* name) {
    SCOPED_TRACE(name);
    const int32_t map = find_tag(MESH_DEFINITION_GROUP_TAG, name);
    ASSERT_NE(map, NONE);
    handle_error();
    ASSERT_TRUE(map_open(map));
    EXPECT_EQ(handle_error(), 0) << folder.read_file("tarn_log.txt");
    const mesh_definition& h = *mesh_globals.header;
    EXPECT_NE(mesh_landscape_collection(), NONE);
    EXPECT_NE(h.media_index, NONE);
    EXPECT_NE(h.ambient_sound_index, NONE);
    EXPECT_NE(h.description_string_list_index, NONE);
    EXPECT_NE(h.connector_definitions_index, NONE);
    EXPECT_NE(definition_load(&mesh_lighting_definitions, h.mesh_lighting_tag), NONE);
    EXPECT_NE(definition_load(&wind_definitions, h.wind_tag), NONE);
    EXPECT_NE(definition_load(&observer_physics_definitions, content_ids::observer_constants), NONE);
    EXPECT_EQ(handle_error(), 0) << folder.read_file("tarn_log.txt");

    bool types[NUMBER_OF_MARKER_TYPES] = {};
    bool team_observers[2] = {}, team_units[2] = {};
    for (int32_t i = 0; i < h.palette_entry_count; ++i) {
      const marker_palette_entry& entry = mesh_globals.palette[i];
      if (entry.definition_tag != NONE_TAG) {
        EXPECT_NE(entry.definition_index, NONE) << i;
      }
      if (entry.team == 0 || entry.team == 1) {
        team_observers[entry.team] |= entry.type == _marker_observer && entry.instance_count == 1;
        team_units[entry.team] |= entry.type == _marker_unit && entry.instance_count > 0;
      }
    }
    for (int32_t i = 0; i < h.marker_count; ++i) {
      const marker_data& marker = mesh_globals.markers[i];
      EXPECT_NE(palette_entry_get(marker.type, marker.palette_index), nullptr) << i;
      EXPECT_NE(marker.object_index, NONE) << i;
      types[marker.type] = true;
    }
    for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) {
      if (marker_type_get(type)->group_tag != NONE_TAG || type == _marker_observer) {
        EXPECT_TRUE(types[type]) << type;
      }
    }
    EXPECT_TRUE(team_observers[0] && team_observers[1]);
    EXPECT_TRUE(team_units[0] && team_units[1]);
    // The fence: one connector whose posts are all there.
    ASSERT_EQ(h.connector_count, 1);
    const int16_t length = mesh_globals.connectors[31];
    EXPECT_EQ(length, 5);
    for (int16_t k = 0; k < length; ++k) {
      EXPECT_NE(marker_find_by_identifier(_marker_scenery, mesh_globals.connectors[k]), nullptr) << k;
    }
  }

  scoped_work_folder folder;
};

TEST_F(ContentBuild, TheStoreIsCompleteAndLocalIsEmpty) {
  EXPECT_TRUE(foundation_tags_present());
  for (const char* archive : install_archive_names) EXPECT_TRUE(fs::exists(fs::path(folder.path()) / "tags" / archive));
  EXPECT_TRUE(fs::exists(fs::path(folder.path()) / "plugins" / CONTENT_PLUGIN_FILE_NAME));
  // Nothing but the editor's own lock file lies in local.
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(folder.path()) / "local")) {
    EXPECT_EQ(entry.path().filename(), "tarn2") << entry.path();
  }
  // The install archives offer their maps, with the first line of each description.
  bool valley = false;
  for (int32_t n = 0; n < tag_file_entry_point_count(); ++n) {
    const tag_file_entry_point_record* entry = tag_file_entry_point_nth(n);
    if (std::string(entry->name) == "Demo Valley" && !entry->from_tag_table) {
      valley = true;
      EXPECT_EQ(std::string(entry->description).substr(0, 20), "A river valley betwe");
    }
  }
  EXPECT_TRUE(valley);
  // The plugin is a level-0 plugin with an entry point for the map it carries.
  ASSERT_EQ(tag_file_plugin_count(), 1);
  const tag_file_plugin* plugin = tag_file_plugin_get(0);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->patch_level, 0);
  EXPECT_TRUE(plugin->has_entry_points);
  EXPECT_EQ(find_tag(MESH_DEFINITION_GROUP_TAG, "Demo Islet"), NONE);  // not until a level names it
}

TEST_F(ContentBuild, DemoValleyOpensWithEveryReferenceResolved) { expect_map_sound("Demo Valley"); }

TEST_F(ContentBuild, DemoHighlandsOpensWithEveryReferenceResolved) {
  expect_map_sound("Demo Highlands");
  EXPECT_EQ(mesh_globals.width, 8);
  EXPECT_EQ(mesh_globals.height, 8);
}

TEST_F(ContentBuild, ThePluginMapOpensWithItsPlugin) {
  const int16_t plugins[] = {0};
  ASSERT_TRUE(tag_files_open(false, plugins, -1));
  expect_map_sound("Demo Islet");
}

// The imports put every generated layer where it belongs: the picture's mirroring and row order
// come out right, so heights, water, terrain types and colours agree with the generated landscape.
TEST_F(ContentBuild, TheMapHoldsTheGeneratedLandscape) {
  const content_map_plan& plan = plan_named("Demo Valley");
  content_terrain terrain;
  ASSERT_TRUE(content_generate_terrain(plan.terrain, &terrain));
  ASSERT_TRUE(map_open(find_tag(MESH_DEFINITION_GROUP_TAG, plan.name)));
  ASSERT_EQ(mesh_globals.cells_across, terrain.cells_across);
  int32_t water_cells = 0, matching_types = 0, dry_triangles = 0;
  for (int32_t y = 0; y < mesh_globals.cells_down; ++y) {
    for (int32_t x = 0; x < mesh_globals.cells_across; ++x) {
      const mesh_cell* cell = mesh_get_cell(x, y);
      ASSERT_EQ(cell->ground_height, terrain.vertex_height(x, y)) << x << "," << y;
      if (cell->terrain_and_flags & _cell_media_flags) {
        ++water_cells;
        EXPECT_TRUE(cell->terrain_and_flags & _cell_reflective_media);
        EXPECT_EQ(cell->media_height, terrain.water_level);
      }
      // The triangle under the middle of the cell's upper-right quarter shows its ground's type.
      const int32_t px = x * 8 + 6, py = y * 8 + 2;
      if (terrain.water_at(px, py) || mesh_media_at(px * 64 + 32, py * 64 + 32)) continue;
      ++dry_triangles;
      matching_types += mesh_terrain_at(px * 64 + 32, py * 64 + 32) ==
                        content_ground_terrain_type(content_ground(terrain.ground_at(px, py)));
    }
  }
  EXPECT_GT(water_cells, 100);
  EXPECT_GT(matching_types, dry_triangles * 95 / 100);
  // Colour map k of submesh (column, row): texel (i, j) of the submesh at pixel (i, j).
  const int16_t collection = mesh_landscape_collection();
  for (int32_t submesh = 0; submesh < 4; ++submesh) {
    const uint8_t* pixels = collection_get_submesh_texture(collection, 2 * submesh, true);
    ASSERT_NE(pixels, nullptr);
    const int32_t column = submesh % 2, row = submesh / 2;
    for (int32_t j = 0; j < 256; j += 17) {
      for (int32_t i = 0; i < 256; i += 13) {
        EXPECT_EQ(pixels[j * 256 + i], terrain.colors[size_t(row * 256 + j) * 512 + size_t(column * 256 + i)])
            << submesh << ": " << i << "," << j;
      }
    }
  }
}

// The preferences the data carries hold every demo map inside the displacement bounds: exporting
// and importing the heights changes none by more than one step, and the export clips nothing.
TEST_F(ContentBuild, DemoHeightsRoundTripThroughTheDisplacementMap) {
  scripted_ui_host ui;
  ASSERT_TRUE(map_open(find_tag(MESH_DEFINITION_GROUP_TAG, "Demo Valley")));
  int32_t lower = 0, upper = 0;
  ASSERT_TRUE(extract_get_displacement_bounds(&lower, &upper));
  for (const content_map_plan& plan : content_map_plans()) {
    EXPECT_LE(lower, plan.terrain.lower) << plan.name;
    EXPECT_GE(upper, plan.terrain.upper) << plan.name;
  }
  std::vector<int16_t> before;
  for (int32_t i = 0; i < mesh_cell_count(); ++i) before.push_back(mesh_globals.cells[i].ground_height);
  const std::string path = folder.path() + "/valley heights.bmp";
  ASSERT_TRUE(extract_export_layer(_map_layer_displacement, EXTRACT_WHOLE_MESH, path));
  ASSERT_TRUE(extract_import_layer(_map_layer_displacement, EXTRACT_WHOLE_MESH, path));
  EXPECT_TRUE(ui.boxes.empty()) << (ui.boxes.empty() ? "" : ui.boxes[0].text);
  const int32_t step = (upper - lower) / 256;
  int32_t capped = 0;
  for (int32_t i = 0; i < mesh_cell_count(); ++i) {
    const mesh_cell& cell = mesh_globals.cells[i];
    // The import caps ground at the water of a cell with water terrain, as the height setter does.
    const bool water_terrain = (cell.terrain_and_flags & 0x0F) <= 3 || ((cell.terrain_and_flags >> 4) & 0x0F) <= 3;
    if (water_terrain && before[size_t(i)] > cell.media_height) {
      EXPECT_EQ(cell.ground_height, cell.media_height) << i;
      ++capped;
      continue;
    }
    ASSERT_LE(std::abs(before[size_t(i)] - cell.ground_height), step) << i;
  }
  EXPECT_LT(capped, mesh_cell_count() / 20);
  map_set_modified(false);
}

// Outside the fixture: two builds in two folders, without starting the engine here.
TEST(ContentBuildTwice, TwoBuildsAreByteIdentical) {
  scoped_work_folder folder;
  std::string failure;
  ASSERT_TRUE(content_build(folder.path() + "/first", &failure)) << failure;
  ASSERT_TRUE(content_build(folder.path() + "/second", &failure)) << failure;
  const auto first = files_below(fs::path(folder.path()) / "first");
  const auto second = files_below(fs::path(folder.path()) / "second");
  EXPECT_EQ(first.size(), 6u);  // five install archives and the plugin
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [path, bytes] : first) {
    ASSERT_TRUE(second.count(path)) << path;
    EXPECT_TRUE(bytes == second.at(path)) << path;
  }
}

TEST(ContentBuildTwice, RefusesOnceTheEngineHasStarted) {
  scoped_work_folder folder;
  ASSERT_TRUE(folder.write_file("tags/.keep", ""));
  error_manager_initialize("content tests");
  ASSERT_TRUE(engine_initialize());
  std::string failure;
  EXPECT_FALSE(content_build(folder.path() + "/out", &failure));
  EXPECT_NE(failure.find("before the engine starts"), std::string::npos) << failure;
}

}  // namespace
