#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "cseries/byte_swapping.h"
#include "support/file_operation_recorder.h"
#include "support/scripted_ui_host.h"
#include "tag_files/atomic_file.h"
#include "tag_store_fixture.h"

using ::testing::HasSubstr;

namespace {

constexpr tag kMap = make_tag("map1");

bool refuse_rename(const file_specification*) { return false; }
bool stop_process(const file_specification*) { _exit(0); }

class TagWriteTest : public TagStoreTest {
 protected:
  static std::vector<std::string> temporaries(const std::string& folder_name) {
    std::vector<std::string> found;
    for (const std::string& name : folder_entries(folder_name)) {
      if (atomic_file_is_temporary_name(name.c_str())) found.push_back(name);
    }
    return found;
  }
};

// ---- whole replacement ----

TEST_F(TagWriteTest, ReplaceContentsRewritesHeaderAndData) {
  write_local(tag_entry(kMesh, kMap, "map", "old data", 77, 3));
  ASSERT_TRUE(open_store());
  int32_t tag_index = tag_file_find(kMesh, kMap);
  ASSERT_EQ(read_all(tag_index), "old data");  // leaves the file open

  const std::string fresh = "brand new, longer contents";
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, fresh.data(), int32_t(fresh.size())));
  EXPECT_EQ(read_all(tag_index), fresh);
  EXPECT_EQ(tag_file_get_size(tag_index), int32_t(fresh.size()));
  EXPECT_EQ(std::filesystem::file_size("local/meshes/map"), 64 + fresh.size());
  EXPECT_TRUE(temporaries("local/meshes").empty());

  // The stored header carries the new size and keeps every other field.
  file_specification file;
  ASSERT_TRUE(tag_file_get_local_file(tag_index, &file));
  archive_writer_tag stored;
  ASSERT_TRUE(archive_writer_read_local_tag(&file, &stored));
  std::string stored_header = folder.read_file("local/meshes/map").substr(48, 4);
  EXPECT_EQ(stored_header, std::string("\0\0\0\x1a", 4));
  EXPECT_EQ(stored.user_data, 77u);
  EXPECT_EQ(stored.version, 3);
  EXPECT_EQ(stored.tag_identifier, kMap);

  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(read_tag(kMesh, kMap), fresh);
}

TEST_F(TagWriteTest, AFailedReplaceLeavesTheOldFileAsItWas) {
  write_local(tag_entry(kMesh, kMap, "map", "old data"));
  ASSERT_TRUE(open_store());
  const std::string before = folder.read_file("local/meshes/map");
  int32_t tag_index = tag_file_find(kMesh, kMap);

  atomic_file_set_test_hook(refuse_rename);
  EXPECT_FALSE(tag_file_replace_contents(&tag_index, "new", 3));
  atomic_file_set_test_hook(nullptr);

  EXPECT_EQ(folder.read_file("local/meshes/map"), before);
  EXPECT_TRUE(temporaries("local/meshes").empty());
  EXPECT_EQ(read_all(tag_index), "old data");
  EXPECT_EQ(error_pending_code(), error_file_write);
  EXPECT_THAT(reports(), HasSubstr("couldn't replace 'local\\meshes\\map' with its new contents"));
}

TEST_F(TagWriteTest, AProcessStoppedMidReplaceLeavesTheOldTagAndAnUnloadedTemporary) {
  write_local(tag_entry(kMesh, kMap, "map", "old data"));
  ASSERT_TRUE(open_store());
  const std::string before = folder.read_file("local/meshes/map");

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Dies once the temporary is complete, before it is renamed.
    atomic_file_set_test_hook(stop_process);
    int32_t tag_index = tag_file_find(kMesh, kMap);
    tag_file_replace_contents(&tag_index, "new data", 8);
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(folder.read_file("local/meshes/map"), before);
  std::vector<std::string> left = temporaries("local/meshes");
  ASSERT_EQ(left.size(), 1u);
  // The temporary is a complete, sound tag file, and still it is never loaded.
  EXPECT_EQ(folder.read_file("local/meshes/" + left[0]).substr(64), "new data");
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(tag_file_count(kMesh), 1);
  EXPECT_EQ(read_tag(kMesh, kMap), "old data");

  // Whoever takes the lock next sweeps the stale temporary away, and nothing else.
  ASSERT_TRUE(tag_files_lock_instance());
  EXPECT_TRUE(temporaries("local/meshes").empty());
  EXPECT_EQ(folder.read_file("local/meshes/map"), before);
  EXPECT_EQ(read_tag(kMesh, kMap), "old data");
}

TEST_F(TagWriteTest, ReplacingAnArchiveTagMakesALocalTagWithItsFields) {
  write_install(0, {tag_entry(kMesh, kMap, "map", "archived", 5, 2)});
  ASSERT_TRUE(open_store());
  int32_t archived = tag_file_find(kMesh, kMap);
  int32_t tag_index = archived;
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, "replaced", 8));
  EXPECT_NE(tag_index, archived);
  EXPECT_TRUE(tag_file_is_local(tag_index));
  EXPECT_TRUE(tag_file_is_hidden(archived));
  EXPECT_EQ(tag_file_find(kMesh, kMap), tag_index);
  EXPECT_EQ(tag_file_get_user_data(tag_index), 5u);
  EXPECT_EQ(tag_file_get_version(tag_index), 2);

  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  int32_t reloaded = tag_file_find(kMesh, kMap);
  EXPECT_EQ(read_all(reloaded), "replaced");
  EXPECT_EQ(tag_file_get_user_data(reloaded), 5u);
}

TEST_F(TagWriteTest, ReplaceContentsCanChangeTheVersionInTheSameStep) {
  write_local(tag_entry(kMesh, kMap, "map", "old data", 0, 7));
  write_install(0, {tag_entry(kMesh, make_tag("arch"), "archived", "archived", 0, 9)});
  ASSERT_TRUE(open_store());
  int32_t tag_index = tag_file_find(kMesh, kMap);
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, "new", 3, 11));
  EXPECT_EQ(tag_file_get_version(tag_index), 11);
  int32_t archived = tag_file_find(kMesh, make_tag("arch"));
  ASSERT_TRUE(tag_file_replace_contents(&archived, "local now", 9, 12));
  EXPECT_EQ(tag_file_get_version(archived), 12);
  // -1 keeps the version; values past the stored field's range are refused.
  ASSERT_TRUE(tag_file_replace_contents(&tag_index, "newer", 5));
  EXPECT_EQ(tag_file_get_version(tag_index), 11);
  EXPECT_FALSE(tag_file_replace_contents(&tag_index, "x", 1, 40000));
  EXPECT_EQ(read_all(tag_index), "newer");

  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(tag_file_get_version(tag_file_find(kMesh, kMap)), 11);
  EXPECT_EQ(tag_file_get_version(tag_file_find(kMesh, make_tag("arch"))), 12);
}

// ---- writing in place ----

TEST_F(TagWriteTest, WritingAnArchiveTagCopiesItToLocalFirst) {
  write_install(0, {tag_entry(kMesh, kMap, "map", "0123456789", 0xABCD, 6)});
  ASSERT_TRUE(open_store());
  int32_t archived = tag_file_find(kMesh, kMap);
  int32_t tag_index = archived;
  ASSERT_TRUE(tag_file_write(&tag_index, 8, 4, "WXYZ"));
  EXPECT_NE(tag_index, archived);
  EXPECT_EQ(read_all(tag_index), "01234567WXYZ");
  EXPECT_EQ(tag_file_get_size(tag_index), 12);

  // The copy keeps the archive tag's identifier, user data and version across a reload.
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  int32_t reloaded = tag_file_find(kMesh, kMap);
  ASSERT_TRUE(tag_file_is_local(reloaded));
  EXPECT_EQ(read_all(reloaded), "01234567WXYZ");
  EXPECT_EQ(tag_file_get_user_data(reloaded), 0xABCDu);
  EXPECT_EQ(tag_file_get_version(reloaded), 6);
}

TEST_F(TagWriteTest, ByteSwappedWritesStoreBigEndianAndRestoreTheBuffer) {
  ASSERT_TRUE(open_store());
  int32_t tag_index = tag_file_create(kMesh, "records", 1);
  struct record {
    int16_t a;
    int32_t b;
  };
  static constexpr int16_t codes[] = {_byte_swap_begin_group, 1, -2, 2, -4, _byte_swap_end_group};
  static constexpr byte_swap_description description = {"record", sizeof(record), codes};
  record records[2] = {{0x0102, 0x03040506}, {-1, 7}};
  ASSERT_TRUE(tag_file_write_byte_swapped(&tag_index, 0, sizeof(record), 2, records, &description));
  EXPECT_EQ(records[0].a, 0x0102);
  EXPECT_EQ(records[1].b, 7);
  std::string data = read_all(tag_index);
  ASSERT_EQ(data.size(), 16u);
  EXPECT_EQ(data.substr(0, 2), "\x01\x02");
  EXPECT_EQ(data.substr(4, 4), "\x03\x04\x05\x06");
  EXPECT_EQ(data.substr(12, 4), std::string("\0\0\0\x07", 4));
  EXPECT_FALSE(tag_file_write_byte_swapped(&tag_index, 0, 7, 1, records, &description));  // wrong record size
}

TEST_F(TagWriteTest, SetInfoRenamesAndKeepsFieldsAcrossAReload) {
  write_install(0, {tag_entry(kMesh, kMap, "map", "data", 1, 1), tag_entry(kMesh, make_tag("othr"), "other", "x")});
  ASSERT_TRUE(open_store());
  int32_t tag_index = tag_file_find(kMesh, kMap);

  ASSERT_TRUE(tag_file_set_user_data(&tag_index, 99));
  EXPECT_TRUE(tag_file_is_local(tag_index));
  tag_file_info info;
  ASSERT_TRUE(tag_file_get_info(tag_index, &info));
  std::strcpy(info.name, "renamed:map");
  info.version = 4;
  ASSERT_TRUE(tag_file_set_info(&tag_index, info));
  EXPECT_STREQ(tag_file_get_name(tag_index), "renamed_map");
  EXPECT_FALSE(std::filesystem::exists("local/meshes/map"));
  EXPECT_EQ(read_all(tag_index), "data");

  std::strcpy(info.name, "OTHER");
  EXPECT_FALSE(tag_file_set_info(&tag_index, info));
  EXPECT_STREQ(tag_file_get_name(tag_index), "renamed_map");

  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  int32_t reloaded = tag_file_find(kMesh, kMap);
  ASSERT_TRUE(tag_file_get_info(reloaded, &info));
  EXPECT_STREQ(info.name, "renamed_map");
  EXPECT_EQ(info.user_data, 99u);
  EXPECT_EQ(info.version, 4);
}

TEST_F(TagWriteTest, OnlyLocalTagsAreDeletedAndCopiesNeverClobberALocalName) {
  write_install(0, {tag_entry(kMesh, kMap, "map", "archived")});
  write_local(tag_entry(kMesh, make_tag("diff"), "MAP", "local with another identifier"));
  ASSERT_TRUE(open_store());
  int32_t archived = tag_file_find(kMesh, kMap);
  EXPECT_FALSE(tag_file_delete(archived));
  EXPECT_THAT(reports(), HasSubstr("can't delete 'map' because it is not a local tag."));

  int32_t tag_index = archived;
  EXPECT_FALSE(tag_file_copy_to_local(&tag_index));
  EXPECT_EQ(tag_index, archived);
  EXPECT_FALSE(tag_file_replace_contents(&tag_index, "x", 1));
  EXPECT_THAT(reports(), HasSubstr("can't copy monolithic tag 'map' to local folder because a local tag already "
                                   "has the same name."));
  EXPECT_EQ(read_tag(kMesh, make_tag("diff")), "local with another identifier");
}

TEST_F(TagWriteTest, ALocalFileRemovedBehindTheStoreFailsToReadWithAReport) {
  write_local(tag_entry(kMesh, kMap, "map", "data"));
  ASSERT_TRUE(open_store());
  std::filesystem::remove("local/meshes/map");
  char buffer[4];
  EXPECT_FALSE(tag_file_read(tag_file_find(kMesh, kMap), 0, 4, buffer));
  EXPECT_THAT(reports(), HasSubstr("couldn't open local tag file 'map'."));
  // Deleting it still drops the header.
  EXPECT_TRUE(tag_file_delete(tag_file_find(kMesh, kMap)));
  EXPECT_EQ(tag_file_find(kMesh, kMap), NONE);
}

}  // namespace

// ---- durability ----

namespace {

TEST_F(TagWriteTest, EveryReplacementIsWrittenSyncedClosedRenamedAndItsFolderSynced) {
  write_local(tag_entry(kMesh, kMap, "map", "old map"));
  write_local(tag_entry(make_tag(".256"), kMap, "map", "old textures"));
  ASSERT_TRUE(open_store());
  int32_t map = tag_file_find(kMesh, kMap), textures = tag_file_find(make_tag(".256"), kMap);

  file_operation_recorder recorder;
  ASSERT_TRUE(tag_file_replace_contents(&map, "whole", 5));
  ASSERT_TRUE(tag_file_write(&map, 5, 4, "more"));
  ASSERT_NE(tag_file_create(kMesh, "created", 1), NONE);
  ASSERT_TRUE(tag_files_commit_begin());
  ASSERT_TRUE(tag_file_replace_contents(&map, "both", 4));
  ASSERT_TRUE(tag_file_replace_contents(&textures, "both textures", 13));
  ASSERT_TRUE(tag_files_commit_end());

  EXPECT_EQ(recorder.replacement_order_faults(), "");
  int tag_renames = 0;
  for (const recorded_file_operation& operation : recorder.operations()) {
    tag_renames += operation.operation == _posix_operation_rename && operation.path.rfind("local/", 0) == 0 &&
                   operation.path != "local/tarn2 commit";
  }
  EXPECT_EQ(tag_renames, 5);  // three single commits, then two tags at once
  EXPECT_EQ(read_tag(kMesh, kMap), "both");
}

TEST_F(TagWriteTest, AFullDiscFailsTheCommitWhereverItStrikesAndChangesNothing) {
  write_local(tag_entry(kMesh, kMap, "map", "old map"));
  write_local(tag_entry(make_tag(".256"), kMap, "map", "old textures"));
  ASSERT_TRUE(open_store());
  // The first temporary, the second, the commit record (each file is a header and a data write):
  // each refused in turn.
  const std::string refused[] = {"the temporary file 'local\\meshes\\", "the temporary file 'local\\collections\\",
                                 "the temporary file 'local"};
  for (int failing : {0, 2, 4}) {
    SCOPED_TRACE(failing);
    int32_t map = tag_file_find(kMesh, kMap), textures = tag_file_find(make_tag(".256"), kMap);
    const size_t reported_before = reports().size();
    {
      file_operation_recorder recorder;
      recorder.fail_writes_from(failing);
      ASSERT_TRUE(tag_files_commit_begin());
      ASSERT_TRUE(tag_file_replace_contents(&map, "new map", 7));
      ASSERT_TRUE(tag_file_replace_contents(&textures, "new textures", 12));
      EXPECT_FALSE(tag_files_commit_end());
    }
    const std::string module = failing < 4 ? "File system Write in tag_files" : "File system Write in atomic_file";
    const std::string fresh = reports().substr(reported_before);
    EXPECT_THAT(fresh, HasSubstr(module));
    EXPECT_THAT(fresh, HasSubstr("couldn't write " + refused[failing / 2]));
    EXPECT_THAT(fresh, HasSubstr("couldn't replace 'local\\meshes\\map' with its new contents"));
    EXPECT_EQ(read_tag(kMesh, kMap), "old map");
    EXPECT_EQ(read_tag(make_tag(".256"), kMap), "old textures");
    EXPECT_EQ(folder.read_file("local/meshes/map").substr(64), "old map");
    EXPECT_EQ(folder.read_file("local/collections/map").substr(64), "old textures");
    EXPECT_TRUE(temporaries("local/meshes").empty());
    EXPECT_TRUE(temporaries("local/collections").empty());
    EXPECT_TRUE(temporaries("local").empty());
  }
}

}  // namespace

// ---- damaged local tags ----

namespace {

TEST_F(TagWriteTest, ALocalFileTheLoaderRefusedIsKeptAsDamagedNeverReplaced) {
  scripted_ui_host ui;
  write_install(0, {tag_entry(kMesh, kMap, "map", "archived map")});
  // A file kept from an earlier time, and the author's local edits with one reserved byte flipped:
  // the loader refuses the file.
  ASSERT_TRUE(folder.write_file("local/meshes/map.damaged", "kept earlier"));
  write_local(tag_entry(kMesh, kMap, "map", "the author's local edits"));
  std::string damaged = folder.read_file("local/meshes/map");
  damaged[3] = 1;  // the reserved byte of the stored header
  ASSERT_TRUE(folder.write_file("local/meshes/map", damaged));
  ASSERT_TRUE(open_store());
  int32_t map = tag_file_find(kMesh, kMap);
  ASSERT_FALSE(tag_file_is_local(map));

  // Saving the archive map makes a local copy: the damaged file goes aside, numbered past the
  // "map.damaged" already there, and the user is told.
  ASSERT_TRUE(tag_file_write(&map, 0, 3, "MAP"));
  EXPECT_EQ(folder.read_file("local/meshes/map").substr(64), "MAPhived map");
  EXPECT_EQ(folder.read_file("local/meshes/map.damaged 2"), damaged);
  EXPECT_EQ(folder.read_file("local/meshes/map.damaged"), "kept earlier");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Warning");
  EXPECT_EQ(ui.boxes[0].text,
            "The local tag file 'local\\meshes\\map' could not be loaded, so it was not replaced: it is kept as "
            "'local\\meshes\\map.damaged 2'.");
  EXPECT_THAT(log(), HasSubstr("the local tag file 'local\\meshes\\map' could not be loaded; it is kept as "
                               "'local\\meshes\\map.damaged 2'"));
  // Neither kept file is taken for a tag.
  ASSERT_TRUE(tag_files_open(false, {}, NONE));
  EXPECT_EQ(read_tag(kMesh, kMap), "MAPhived map");
  EXPECT_EQ(tag_file_count(kMesh), 1);
}

}  // namespace
