#include "session/engine.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <algorithm>
#include <string>
#include <vector>

#include "cseries/files.h"
#include "engine/definition_groups.h"
#include "engine/preferences.h"
#include "support/held_child.h"
#include "support/work_folder.h"
#include "tag_files/archive_writer.h"
#include "tag_files/tag_files.h"
#include "world/objects.h"

namespace {

using ::testing::ExitedWithCode;

file_specification working_file(const char* folder, const char* name) {
  file_specification file;
  file_spec_initialize(&file, 0);
  if (folder) file_spec_append_folder(&file, folder);
  file_spec_set_name(&file, name);
  return file;
}

// Empty install archives under "tags", all five or all but one.
void write_install_archives(const char* missing = nullptr) {
  file_specification tags = working_file(nullptr, "tags");
  tags.flags &= ~_file_specification_is_file;
  file_create(&tags);
  for (const char* name : install_archive_names) {
    if (missing && std::string(name) == missing) continue;
    archive_writer_archive archive;
    archive.name = name;
    file_specification file = working_file("tags", name);
    ASSERT_TRUE(archive_writer_write(archive, &file)) << name;
  }
}

TEST(EngineInitialization, RunsEveryStepInOrderAndEndsWithNoLevel) {
  scoped_work_folder folder;
  write_install_archives();
  ASSERT_EQ(game_data_get(), nullptr);
  ASSERT_TRUE(engine_initialize());
  EXPECT_TRUE(engine_is_initialized());
  EXPECT_TRUE(engine_initialize());  // a second call does nothing

  ASSERT_NE(game_data_get(), nullptr);
  EXPECT_EQ(game_data_get()->state, _game_state_none);
  EXPECT_TRUE(foundation_tags_present());
  file_specification lock = working_file("local", "tarn2");
  EXPECT_TRUE(file_exists(&lock));

  // Every group is allocated but not valid: no map is loaded.
  for (int32_t i = 0; i < NUMBER_OF_DEFINITION_GROUPS; ++i) {
    definition_group* group = definition_group_get(i);
    if (group == &mesh_lighting_definitions) continue;  // the editor's own, set up by its start-up
    EXPECT_NE(group->definitions, nullptr) << group->name;
    EXPECT_FALSE(definitions_are_valid(group)) << group->name;
  }
  EXPECT_EQ(object_count(), 0);
  EXPECT_NE(input_preferences_get(), nullptr);

  // The order of the game: tag store after game data, the lock right after it, sound last.
  std::vector<std::string> names;
  for (int32_t step = 0; step < engine_initialization_step_count(); ++step)
    names.push_back(engine_initialization_step_name(step));
  auto position = [&](const char* name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
  EXPECT_EQ(position("shapes"), 0);
  EXPECT_LT(position("game data"), position("tag files"));
  EXPECT_EQ(position("instance lock"), position("tag files") + 1);
  EXPECT_LT(position("models"), position("markers"));
  EXPECT_LT(position("mesh"), position("model animations"));
  EXPECT_EQ(position("sound"), position("observer") + 1);
}

TEST(EngineInitialization, MissingInstallArchiveStopsStartUpAfterTheWarning) {
  scoped_work_folder folder;
  write_install_archives("large install");
  EXPECT_EXIT(engine_start_editor(), ExitedWithCode(255),
              "Could not find all foundation tags\\. Please do a large install\\.");
}

TEST(EngineInitialization, EditorStartsWhenEverythingIsThere) {
  scoped_work_folder folder;
  write_install_archives();
  engine_start_editor();
  EXPECT_TRUE(engine_is_initialized());
  EXPECT_NE(folder.read_file("tarn_log.txt"), "");
  EXPECT_NE(mesh_lighting_definitions.definitions, nullptr);
}

TEST(EngineInitialization, SecondCopyIsRefusedAndLeavesTheFirstLock) {
  scoped_work_folder folder;
  write_install_archives();
  // A child plays the first copy: it holds the store lock until it is released.
  held_child first([] { return tag_files_initialize() && tag_files_lock_instance(); });
  ASSERT_TRUE(first.ready());

  // The first copy's log is its own: the refused copy only adds to it.
  ASSERT_TRUE(folder.write_file("tarn_log.txt", "the first copy's line\n"));
  EXPECT_EXIT(engine_start_editor(), ExitedWithCode(255),
              "Error: Tarn II, Umber, or Vellgrim is already running\\. Please exit the other application and try "
              "again\\.");
  EXPECT_TRUE(std::filesystem::exists("local/tarn2"));
  EXPECT_EQ(folder.read_file("tarn_log.txt").rfind("the first copy's line\n", 0), 0u);
}

TEST(EngineInitialization, AStoreOpenedFirstKeepsTheChangesItIsGathering) {
  scoped_work_folder folder;
  write_install_archives();
  // As the tool does: the store opened and a commit begun before the engine starts.
  ASSERT_TRUE(tag_files_initialize() && tag_files_lock_instance() && tag_files_open(false, {}, -1));
  ASSERT_TRUE(tag_files_commit_begin());
  const int32_t created = tag_file_create(make_tag("pref"), "gathered", 1);
  ASSERT_NE(created, NONE);
  ASSERT_TRUE(engine_initialize());
  EXPECT_TRUE(tag_files_commit_is_open());
  EXPECT_TRUE(tag_file_is_valid(created));
  EXPECT_TRUE(tag_files_commit_end());
  EXPECT_TRUE(std::filesystem::exists("preferences/gathered"));
}

TEST(EngineInitialization, LevelDisposalForgetsLoadedDefinitionsAndObjects) {
  scoped_work_folder folder;
  write_install_archives();
  ASSERT_TRUE(engine_initialize());
  definitions_validate(&unit_definitions);
  unit_definition unit = {};
  ASSERT_NE(definition_add(&unit_definitions, make_tag("unit"), &unit), NONE);
  EXPECT_EQ(unit_definitions.count, 1);

  engine_dispose_level();
  EXPECT_FALSE(definitions_are_valid(&unit_definitions));
  definitions_validate(&unit_definitions);
  EXPECT_EQ(unit_definitions.count, 0);
}

}  // namespace
