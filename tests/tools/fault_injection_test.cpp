// Each allocation of opening, saving, making and importing into a map made to fail in turn: the
// operation says it failed, gives back every block it took and leaves the map and the files as
// they were.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cseries/error_manager.h"
#include "cseries/memory.h"
#include "map/mesh.h"
#include "platform/posix_files.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "support/work_folder.h"
#include "tools/bitmap_fixtures.h"
#include "tools/edit_journal.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

namespace fs = std::filesystem;

// The nth write to a file from now fails as on a full disc.
int64_t writes_until_failure = 0;
bool write_failed = false;
bool fail_nth_write(posix_operation operation, const std::string&) {
  if (operation != _posix_operation_write || writes_until_failure <= 0) return true;
  if (--writes_until_failure > 0) return true;
  write_failed = true;
  return false;
}

class FaultInjection : public MapImageTest {
 protected:
  void SetUp() override {
    MapImageTest::SetUp();
    error_manager_set_fatal_codes_halt(false);
  }
  void TearDown() override {
    posix_set_observer(nullptr);
    block_fail_allocation(0);
    error_manager_set_fatal_codes_halt(true);
    MapImageTest::TearDown();
  }

  // Every file of the store's local folder with its bytes.
  std::map<std::string, std::vector<uint8_t>> local_files() const {
    std::map<std::string, std::vector<uint8_t>> files;
    const fs::path local = fs::path(store.folder().path()) / "local";
    for (const auto& entry : fs::recursive_directory_iterator(local)) {
      if (!entry.is_regular_file() || entry.path().filename() == "tarn2") continue;
      files[fs::relative(entry.path(), local).string()] = read_file(entry.path().string());
    }
    return files;
  }

  // Runs the operation with its nth allocation failing, n = 1, 2, ... until it runs without
  // reaching its nth allocation; after each failure, check() looks at what is left. The number of
  // allocations the operation made.
  template <class Operation, class Check>
  int64_t fail_each_allocation(Operation operation, Check check) {
    for (int64_t n = 1; n < 100000; ++n) {
      handle_error();
      block_fail_allocation(n);
      const bool succeeded = operation();
      const bool failed_allocation = block_failure_happened();
      block_fail_allocation(0);
      if (!failed_allocation) {
        EXPECT_TRUE(succeeded) << "with every allocation granted, after " << n - 1 << "\n" << store.log();
        return n - 1;
      }
      SCOPED_TRACE("allocation #" + std::to_string(n));
      check(succeeded);
      if (testing::Test::HasFailure()) return n;
    }
    ADD_FAILURE() << "the operation never ran to its end";
    return 0;
  }

  // The same with the nth write failing.
  template <class Operation, class Check>
  int64_t fail_each_write(Operation operation, Check check) {
    posix_set_observer(fail_nth_write);
    for (int64_t n = 1; n < 10000; ++n) {
      handle_error();
      writes_until_failure = n;
      write_failed = false;
      const bool succeeded = operation();
      writes_until_failure = 0;
      if (!write_failed) {
        EXPECT_TRUE(succeeded) << "with every write done";
        posix_set_observer(nullptr);
        return n - 1;
      }
      SCOPED_TRACE("write #" + std::to_string(n));
      EXPECT_FALSE(succeeded) << "a failed write was reported as success";
      check();
      if (testing::Test::HasFailure()) break;
    }
    posix_set_observer(nullptr);
    return 0;
  }
};

TEST_F(FaultInjection, EachWriteOfASaveOrANewMapFailsWithoutChangingTheStore) {
  ASSERT_TRUE(make_map("quarry", 512, 256));
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(mesh_set_vertex_height(3, 3, 900));
  const auto files = local_files();
  EXPECT_GT(fail_each_write([] { return map_save(); },
                            [&] {
                              EXPECT_TRUE(map_is_modified());
                              EXPECT_EQ(local_files(), files);
                            }),
            0);
  ASSERT_TRUE(map_close());

  bmp_fixture file;
  const std::string bitmap = write_bitmap("new.bmp", file);
  const auto before = local_files();
  EXPECT_GT(fail_each_write([&] { return new_map_create("fresh", store.media_tag(), bitmap); },
                            [&] {
                              EXPECT_FALSE(map_is_open());
                              EXPECT_EQ(local_files(), before);
                            }),
            0);
  EXPECT_TRUE(map_is_open());
}

TEST_F(FaultInjection, OpeningAMapFailsWholeAtEachAllocation) {
  ASSERT_TRUE(make_map("quarry", 512, 256));
  ASSERT_TRUE(map_save());
  const int32_t tag_index = mesh_tag_index();
  ASSERT_TRUE(map_close());
  const auto files = local_files();
  const int64_t live = block_live_count();
  const int64_t allocations = fail_each_allocation(
      [&] { return map_open(tag_index); },
      [&](bool opened) {
        if (opened) {
          // A failure the map can live without (a shading table, say) is reported, and the map opens.
          EXPECT_TRUE(mesh_is_open());
          ASSERT_TRUE(map_close());
        }
        EXPECT_EQ(handle_error(), 1) << "the failure was not reported";
        EXPECT_FALSE(map_is_open());
        EXPECT_EQ(block_live_count(), live) << "blocks were leaked";
        EXPECT_EQ(local_files(), files);
      });
  EXPECT_GT(allocations, 5);
  EXPECT_TRUE(map_is_open());
}

TEST_F(FaultInjection, SavingAMapFailsWithoutTouchingTheStoredOne) {
  ASSERT_TRUE(make_map("quarry", 512, 256));
  ASSERT_TRUE(map_save());
  ASSERT_TRUE(mesh_set_vertex_height(3, 3, 900));
  auto files = local_files();
  fail_each_allocation([] { return map_save(); },
                       [&](bool saved) {
                         if (saved) {
                           // What failed was not needed for the stored bytes: they are now these.
                           files = local_files();
                           return;
                         }
                         EXPECT_EQ(handle_error(), 1) << "the failure was not reported";
                         EXPECT_TRUE(map_is_modified());
                         EXPECT_EQ(local_files(), files);
                         EXPECT_EQ(mesh_get_cell(3, 3)->ground_height, 900);
                       });
  EXPECT_FALSE(map_is_modified());
}

TEST_F(FaultInjection, NewMapFailsWithoutLeavingAnyTag) {
  ASSERT_TRUE(make_map("quarry", 256, 256));
  ASSERT_TRUE(map_close());
  bmp_fixture file;
  file.width = 512;
  file.height = 256;
  const std::string bitmap = write_bitmap("new.bmp", file);
  const auto files = local_files();
  const int64_t live = block_live_count();
  fail_each_allocation([&] { return new_map_create("fresh", store.media_tag(), bitmap); },
                       [&](bool made) {
                         if (made || map_is_open()) {
                           // The failure was one the map can do without (a shading table, its LOD
                           // data, which the next save computes): it is made and open. Start again.
                           ASSERT_TRUE(map_close());
                           for (tag group : {MESH_DEFINITION_GROUP_TAG, COLLECTION_DEFINITION_GROUP_TAG}) {
                             tag_file_filter filter = tag_file_filter_any();
                             std::snprintf(filter.name, sizeof(filter.name), "fresh");
                             filter.group_tag = group;
                             int32_t found = NONE;
                             if (tag_file_search(filter, &found, 1) > 0) {
                               ASSERT_TRUE(tag_file_delete(found));
                             }
                           }
                           handle_error();
                           return;
                         }
                         EXPECT_EQ(handle_error(), 1) << "the failure was not reported";
                         EXPECT_FALSE(map_is_open());
                         EXPECT_EQ(block_live_count(), live) << "blocks were leaked";
                         EXPECT_EQ(local_files(), files);
                       });
  EXPECT_TRUE(map_is_open());
}

TEST_F(FaultInjection, AnImportFailsWithoutChangingTheMap) {
  ASSERT_TRUE(make_map("quarry", 512, 256));
  ASSERT_TRUE(map_save());
  bitmap_image image;
  ASSERT_TRUE(extract_build_image(_map_layer_displacement, EXTRACT_WHOLE_MESH, &image));
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = uint8_t(i * 7);
  const std::string path = store.folder().path() + "/heights.bmp";
  ASSERT_TRUE(bitmap_write(path, image));
  ASSERT_TRUE(extract_build_image(_map_layer_reflection, EXTRACT_WHOLE_MESH, &image));
  for (int32_t y = 10; y < 100; ++y)
    for (int32_t x = 10; x < 100; ++x) image.row(y)[x] = 0;
  const std::string water = store.folder().path() + "/water.bmp";
  ASSERT_TRUE(bitmap_write(water, image));
  const auto files = local_files();

  for (const auto& [layer, file] : {std::pair{_map_layer_displacement, path}, std::pair{_map_layer_reflection, water}}) {
    SCOPED_TRACE(map_layer_get(layer)->name);
    const int64_t live = block_live_count();
    fail_each_allocation([&, layer = layer, file = file] { return extract_import_layer(layer, EXTRACT_WHOLE_MESH, file); },
                         [&](bool imported) {
                           if (imported) {
                             ASSERT_TRUE(edit_journal_undo());
                             return;
                           }
                           EXPECT_EQ(handle_error(), 1) << "the failure was not reported";
                           EXPECT_FALSE(map_is_modified());
                           EXPECT_EQ(block_live_count(), live) << "blocks were leaked";
                           ASSERT_TRUE(map_save());
                           EXPECT_EQ(local_files(), files);
                         });
    ASSERT_TRUE(map_is_modified());
    ASSERT_TRUE(edit_journal_undo());
  }
}

}  // namespace
