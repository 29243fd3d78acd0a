#include "cseries/files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/work_folder.h"

namespace {

file_specification file_in(const std::vector<const char*>& folders, const char* name) {
  file_specification spec;
  file_spec_initialize(&spec, 0);
  for (const char* folder : folders) file_spec_append_folder(&spec, folder);
  if (name) file_spec_set_name(&spec, name);
  return spec;
}

std::string text_of(const file_specification& spec, int parts) {
  char out[MAXIMUM_FILE_PATH_LENGTH + 1];
  EXPECT_TRUE(file_spec_get_text(&spec, parts, out));
  return out;
}

TEST(FileSpecification, PathsAreBuiltAndCut) {
  file_specification spec = file_in({"local", "mesh"}, nullptr);
  EXPECT_STREQ(spec.path, "local\\mesh");
  EXPECT_FALSE(file_spec_is_file(&spec));
  EXPECT_EQ(spec.handle, NONE);

  file_spec_set_name(&spec, "first.map");
  file_spec_set_name(&spec, "second");
  EXPECT_STREQ(spec.path, "local\\mesh\\second");
  EXPECT_TRUE(file_spec_is_file(&spec));

  file_specification longer = file_in({std::string(250, 'f').c_str()}, nullptr);
  EXPECT_TRUE(file_spec_append_folder(&longer, "abcdefghij"));
  EXPECT_EQ(file_last_error(), error_none);
  EXPECT_EQ(std::string(longer.path), std::string(250, 'f') + "\\abcd");

  file_specification uninitialised{};
  EXPECT_FALSE(file_spec_set_name(&uninitialised, "x"));
  EXPECT_FALSE(file_exists(&uninitialised));
}

TEST(FileSpecification, TextParts) {
  file_specification spec = file_in({"tags", "sub"}, "small install.dat");
  EXPECT_EQ(text_of(spec, _file_text_full), "tags\\sub\\small install.dat");
  EXPECT_EQ(text_of(spec, _file_text_name_and_extension), "small install.dat");
  EXPECT_EQ(text_of(spec, _file_text_name), "small install");
  EXPECT_EQ(text_of(spec, _file_text_folder), "tags\\sub");
  EXPECT_EQ(text_of(spec, _file_text_extension), "dat");
  EXPECT_EQ(text_of(spec, _file_text_folder | _file_text_name), "tags\\sub\\small install");

  file_specification bare = file_in({"local"}, "plain");
  EXPECT_EQ(text_of(bare, _file_text_name_and_extension), "plain");
  EXPECT_EQ(text_of(bare, _file_text_full), "local\\plain");

  file_specification top = file_in({}, "tarn_log.txt");
  EXPECT_EQ(text_of(top, _file_text_full), "tarn_log.txt");
  EXPECT_EQ(text_of(file_in({"local", "mesh"}, nullptr), _file_text_full), "local\\mesh");
}

TEST(Files, ReadAndWriteMoveExactlyTheBytesAsked) {
  scoped_work_folder folder;
  file_specification spec = file_in({}, "data.bin");
  EXPECT_FALSE(file_open(&spec, _file_open_read));
  EXPECT_EQ(file_last_error(), error_file_open);
  ASSERT_TRUE(file_create(&spec));
  EXPECT_TRUE(file_exists(&spec));

  ASSERT_TRUE(file_open(&spec, _file_open_read | _file_open_write));
  EXPECT_FALSE(file_open(&spec, _file_open_read));  // already open: the handle is not lost
  EXPECT_EQ(file_last_error(), error_file_open);
  EXPECT_TRUE(file_write(&spec, 10, "0123456789"));
  EXPECT_TRUE(file_write_to_position(&spec, 2, 2, "ab"));
  EXPECT_TRUE(file_flush(&spec));
  char buffer[16] = {};
  EXPECT_TRUE(file_read_from_position(&spec, 1, 4, buffer));
  EXPECT_EQ(std::string(buffer, 4), "1ab4");
  EXPECT_TRUE(file_read(&spec, 2, buffer));  // continues after the positioned read
  EXPECT_EQ(std::string(buffer, 2), "56");
  EXPECT_FALSE(file_read_from_position(&spec, 8, 3, buffer));
  EXPECT_EQ(file_last_error(), error_file_read);
  EXPECT_FALSE(file_read_from_position(&spec, -1, 1, buffer));
  EXPECT_EQ(file_last_error(), error_file_general);
  EXPECT_FALSE(file_read(&spec, -4, buffer));
  EXPECT_EQ(file_last_error(), error_file_read);
  int64_t length = 0;
  EXPECT_TRUE(file_get_length(&spec, &length));
  EXPECT_EQ(length, 10);
  EXPECT_TRUE(file_close(&spec));
  EXPECT_FALSE(file_close(&spec));
  EXPECT_EQ(file_last_error(), error_file_general);
  EXPECT_EQ(folder.read_file("data.bin"), "01ab456789");

  ASSERT_TRUE(file_open(&spec, _file_open_read));
  EXPECT_FALSE(file_write(&spec, 1, "x"));
  EXPECT_EQ(file_last_error(), error_file_write);
  EXPECT_TRUE(file_close(&spec));

  ASSERT_TRUE(file_open(&spec, _file_open_write | _file_open_at_end));
  EXPECT_TRUE(file_write(&spec, 3, "end"));
  EXPECT_TRUE(file_close(&spec));
  EXPECT_EQ(folder.read_file("data.bin"), "01ab456789end");
  EXPECT_FALSE(file_read(&spec, 1, buffer));  // closed
  EXPECT_FALSE(file_flush(&spec));

  ASSERT_TRUE(file_create(&spec));  // replaces with an empty file
  EXPECT_TRUE(file_get_length(&spec, &length));
  EXPECT_EQ(length, 0);
}

TEST(Files, FoldersRenameAndDelete) {
  scoped_work_folder folder;
  file_specification local = file_in({"local"}, nullptr);
  file_specification nested = file_in({"local", "mesh", "deeper"}, nullptr);
  EXPECT_FALSE(file_create(&nested));  // its parent is missing
  EXPECT_EQ(file_last_error(), error_file_create);
  ASSERT_TRUE(file_create(&local));
  EXPECT_TRUE(file_exists(&local));

  file_specification first = file_in({"local"}, "first");
  file_specification other = file_in({"local"}, "other");
  ASSERT_TRUE(folder.write_file("local/first", "one"));
  ASSERT_TRUE(folder.write_file("local/other", "two"));
  EXPECT_FALSE(file_delete(&local));  // not empty

  EXPECT_FALSE(file_rename(&first, "other"));  // never replaces
  EXPECT_EQ(file_last_error(), error_file_general);
  EXPECT_STREQ(first.path, "local\\first");
  EXPECT_FALSE(file_rename(&first, "sub\\name"));
  ASSERT_TRUE(file_rename(&first, "renamed"));
  EXPECT_STREQ(first.path, "local\\renamed");
  EXPECT_EQ(folder.read_file("local/renamed"), "one");
  EXPECT_EQ(folder.read_file("local/other"), "two");

  ASSERT_TRUE(file_rename_over(&first, &other));
  EXPECT_STREQ(first.path, "local\\other");
  EXPECT_EQ(folder.read_file("local/other"), "one");
  file_specification renamed = file_in({"local"}, "renamed");
  EXPECT_FALSE(file_exists(&renamed));
  EXPECT_EQ(file_last_error(), error_file_general);

  EXPECT_TRUE(file_delete(&first));
  EXPECT_FALSE(file_delete(&first));
  EXPECT_TRUE(file_delete(&local));
  EXPECT_FALSE(file_exists(&local));
}

std::vector<std::string> walk(const file_specification& folder, int flags) {
  std::vector<std::string> paths;
  EXPECT_TRUE(file_enumeration_begin(flags, &folder));
  file_specification found;
  while (file_enumeration_next(&found)) {
    EXPECT_TRUE(file_spec_is_file(&found));
    EXPECT_EQ(found.volume, folder.volume);
    paths.push_back(found.path);
  }
  return paths;
}

TEST(Files, EnumerationYieldsFilesOnly) {
  scoped_work_folder folder;
  for (const char* path : {"plugins/b.plugin", "plugins/a.plugin", "plugins/sub/c.plugin",
                           "plugins/sub/deeper/d.plugin", "plugins/empty/.keep"}) {
    ASSERT_TRUE(folder.write_file(path, "x"));
  }
  file_specification plugins = file_in({"plugins"}, nullptr);
  EXPECT_EQ(walk(plugins, 0), (std::vector<std::string>{"plugins\\a.plugin", "plugins\\b.plugin"}));
  EXPECT_EQ(walk(plugins, _file_enumeration_descend),
            (std::vector<std::string>{"plugins\\a.plugin", "plugins\\b.plugin", "plugins\\empty\\.keep",
                                      "plugins\\sub\\c.plugin", "plugins\\sub\\deeper\\d.plugin"}));
  // A found file opens through its specification.
  file_specification found;
  ASSERT_TRUE(file_enumeration_begin(0, &plugins));
  ASSERT_TRUE(file_enumeration_next(&found));
  EXPECT_TRUE(file_open(&found, _file_open_read));
  EXPECT_TRUE(file_close(&found));

  file_specification missing = file_in({"missing"}, nullptr);
  EXPECT_FALSE(file_enumeration_begin(0, &missing));
  EXPECT_FALSE(file_enumeration_next(&found));
}

TEST(Files, EnumerationStopsDescendingBelowEightLevels) {
  scoped_work_folder folder;
  std::string path = "root";
  for (int level = 1; level <= 10; ++level) {
    path += "/l" + std::to_string(level);
    ASSERT_TRUE(folder.write_file(path + "/file", "x"));
  }
  std::vector<std::string> found = walk(file_in({"root"}, nullptr), _file_enumeration_descend);
  EXPECT_EQ(found.size(), size_t(MAXIMUM_ENUMERATION_DEPTH - 1));
}

// The single-instance lock: a write open held by another process refuses ours with error 5 and
// keeps the file from being replaced or deleted; read opens stay possible.
TEST(Files, WriteOpensAreExclusiveAcrossProcesses) {
  scoped_work_folder folder;
  ASSERT_TRUE(folder.write_file("tarn2", "held"));
  file_specification lock = file_in({}, "tarn2");

  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    file_specification held = file_in({}, "tarn2");
    char signal = file_open(&held, _file_open_write) ? 'y' : 'n';
    (void)!write(ready[1], &signal, 1);
    (void)!read(release[0], &signal, 1);
    _exit(0);
  }
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, 'y');

  EXPECT_FALSE(file_open(&lock, _file_open_write));
  EXPECT_EQ(file_last_error(), error_file_open);
  EXPECT_FALSE(file_open(&lock, _file_open_read | _file_open_write));
  EXPECT_FALSE(file_create(&lock));
  EXPECT_EQ(file_last_error(), error_file_create);
  EXPECT_FALSE(file_delete(&lock));
  EXPECT_EQ(folder.read_file("tarn2"), "held");
  ASSERT_TRUE(file_open(&lock, _file_open_read));
  char buffer[4];
  EXPECT_TRUE(file_read(&lock, 4, buffer));
  EXPECT_TRUE(file_close(&lock));

  ASSERT_EQ(write(release[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(file_open(&lock, _file_open_write));
  // A second write open, even from this process, is refused too.
  file_specification again = file_in({}, "tarn2");
  EXPECT_FALSE(file_open(&again, _file_open_write));
  EXPECT_TRUE(file_close(&lock));
  EXPECT_TRUE(file_delete(&lock));
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST(Files, VolumesBeyondTheWorkingFolderAreNeverFound) {
  EXPECT_TRUE(find_volume(0));
  EXPECT_TRUE(file_set_volume_name(1, "tarn2"));
  EXPECT_STREQ(file_get_volume_name(1), "tarn2");
  EXPECT_FALSE(find_volume(1));
  EXPECT_FALSE(file_set_volume_name(MAXIMUM_VOLUMES, "x"));
  EXPECT_STREQ(file_get_volume_name(-1), "");

  scoped_work_folder folder;
  ASSERT_TRUE(folder.write_file("tags/small install", "x"));
  file_specification on_disc;
  file_spec_initialize(&on_disc, 1);
  file_spec_append_folder(&on_disc, "tags");
  file_spec_set_name(&on_disc, "small install");
  EXPECT_FALSE(file_exists(&on_disc));
  EXPECT_FALSE(file_open(&on_disc, _file_open_read));
  EXPECT_EQ(file_last_error(), error_file_open);
}

}  // namespace
