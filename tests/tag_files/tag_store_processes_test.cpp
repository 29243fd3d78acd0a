// The store shared by several processes: one writer at a time, readers never refused, and commits
// of several tags that a killed writer leaves all old or all new.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "support/held_child.h"
#include "tag_files/atomic_file.h"
#include "tag_store_fixture.h"

namespace {

constexpr tag kCollection = make_tag(".256");
constexpr tag kMapId = make_tag("map1");

// Runs body in a child process, another program: it drops its copy of the parent's lock file
// (the parent keeps its locks). Answers the exit status (or 128 + the signal that ended it).
int run_child(const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0) {
    tag_files_unlock();
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class TagStoreProcesses : public TagStoreTest {
 protected:
  static ino_t inode_of(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 ? status.st_ino : 0;
  }

  // Every temporary left anywhere in the store's folders.
  static int temporaries_left() {
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(".")) {
      if (atomic_file_is_temporary_name(entry.path().filename().c_str())) ++count;
    }
    return count;
  }
};

// ---- the store lock ----

TEST_F(TagStoreProcesses, WritersInALoopNeverHoldTheLockTogether) {
  ASSERT_TRUE(tag_files_initialize());
  ASSERT_TRUE(tag_files_lock_instance());
  const ino_t lock_inode = inode_of("local/tarn2");
  tag_files_unlock();
  EXPECT_NE(lock_inode, 0u);

  // Each writer marks its hold with a file only one may create; a second holder finds it there.
  constexpr int kWriters = 4, kHolds = 40, kRounds = 20000;
  pid_t writers[kWriters];
  for (pid_t& writer : writers) {
    writer = fork();
    if (writer == 0) {
      int held = 0;
      for (int round = 0; round < kRounds && held < kHolds; ++round) {
        if (!tag_files_lock_instance()) {
          usleep(50);
          continue;
        }
        ++held;
        int marker = open("holder", O_CREAT | O_EXCL | O_WRONLY, 0666);
        if (marker < 0) _exit(3);  // somebody else holds the lock too
        close(marker);
        usleep(100);
        unlink("holder");
        tag_files_unlock();
      }
      _exit(held == kHolds ? 0 : 4);
    }
  }
  for (pid_t writer : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer ended with " << status;
  }
  // The lock file is the same file throughout: never deleted, never made again.
  EXPECT_EQ(inode_of("local/tarn2"), lock_inode);
}

TEST_F(TagStoreProcesses, ASecondWriterIsRefusedAndTheSweepRunsOnlyUnderTheLock) {
  write_local(tag_entry(kMesh, kMapId, "map", "map data"));
  ASSERT_TRUE(open_store());
  ASSERT_TRUE(tag_files_lock_instance());
  // A half-written temporary of ours while we hold the lock: a refused writer must not sweep it.
  std::filesystem::create_directories("local/meshes");
  const std::string ours = std::string("local/meshes/") + ATOMIC_FILE_TEMPORARY_PREFIX + "map";
  folder.write_file(ours, "half");
  EXPECT_EQ(run_child([] { return tag_files_lock_instance() ? 1 : 0; }), 0);
  EXPECT_TRUE(std::filesystem::exists(ours));
  tag_files_unlock();
  // The next holder sweeps it, and those a killed "tags pack" or commit record left in "plugins"
  // and "local"; other files there stay.
  const std::string packed = std::string("plugins/") + ATOMIC_FILE_TEMPORARY_PREFIX + "extra.plg";
  const std::string record = std::string("local/") + ATOMIC_FILE_TEMPORARY_PREFIX + "tarn2 commit";
  folder.write_file(packed, "half an archive");
  folder.write_file(record, "half a record");
  folder.write_file("plugins/kept.plg", "not ours");
  EXPECT_EQ(run_child([] { return tag_files_lock_instance() ? 0 : 1; }), 0);
  EXPECT_FALSE(std::filesystem::exists(ours));
  EXPECT_FALSE(std::filesystem::exists(packed));
  EXPECT_FALSE(std::filesystem::exists(record));
  EXPECT_TRUE(std::filesystem::exists("plugins/kept.plg"));
  EXPECT_TRUE(std::filesystem::exists("local/tarn2"));
}

// ---- readers ----

TEST_F(TagStoreProcesses, ReadersAreRefusedNeitherByTheWriterNorByEachOther) {
  write_local(tag_entry(kMesh, kMapId, "map", "the map's bytes"));
  // The parent is the editor: it holds the store lock and has the map's file open.
  ASSERT_TRUE(open_store());
  ASSERT_TRUE(tag_files_lock_instance());
  ASSERT_EQ(read_tag(kMesh, kMapId), "the map's bytes");

  auto reader = [] {
    if (!tag_files_lock_for_reading() || !tag_files_open(false, {}, NONE)) return 1;
    return read_tag(kMesh, kMapId) == "the map's bytes" ? 0 : 2;
  };
  // Two readers at once, each holding its share while the other reads.
  pid_t first = fork();
  if (first == 0) {
    tag_files_unlock();
    _exit(reader());
  }
  EXPECT_EQ(run_child(reader), 0);
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // The writer's replacement while a reader has the old file open: the reader keeps reading the
  // old contents whole, and the next reader sees the new.
  int32_t map = tag_file_find(kMesh, kMapId);
  ASSERT_TRUE(tag_file_replace_contents(&map, "replaced", 8));
  EXPECT_EQ(run_child([] {
              if (!tag_files_lock_for_reading() || !tag_files_open(false, {}, NONE)) return 1;
              return read_tag(kMesh, kMapId) == "replaced" ? 0 : 2;
            }),
            0);
}

TEST_F(TagStoreProcesses, AReaderThatNeverEndsFailsTheCommitInsteadOfHangingIt) {
  write_local(tag_entry(kMesh, kMapId, "map", "old map"));
  ASSERT_TRUE(open_store());
  ASSERT_TRUE(tag_files_lock_instance());
  held_child reader([] {
    tag_files_unlock();
    return tag_files_lock_for_reading();
  });
  ASSERT_TRUE(reader.ready());

  tag_files_set_commit_lock_wait(0);
  int32_t map = tag_file_find(kMesh, kMapId);
  EXPECT_FALSE(tag_file_replace_contents(&map, "new map", 7));
  EXPECT_THAT(reports(), testing::HasSubstr("the tag store is being read by another program; nothing was changed"));
  EXPECT_EQ(read_tag(kMesh, kMapId), "old map");
  EXPECT_EQ(temporaries_left(), 0);

  reader.release();
  EXPECT_TRUE(tag_file_replace_contents(&map, "new map", 7));
  EXPECT_EQ(read_tag(kMesh, kMapId), "new map");
}

// ---- commits of several tags ----

struct kill_point {
  tag_files_commit_step step;
  int32_t n;
  bool committed;  // the record was on the disc: the commit counts as done
};

kill_point kill_at;

void kill_here(tag_files_commit_step step, int32_t n) {
  if (step == kill_at.step && n == kill_at.n) raise(SIGKILL);
}

TEST_F(TagStoreProcesses, AWriterKilledAtEachStepOfACommitLeavesAllOldOrAllNew) {
  const kill_point points[] = {
      {_tag_files_commit_temporary_written, 0, false}, {_tag_files_commit_temporary_written, 1, false},
      {_tag_files_commit_record_written, 0, true},     {_tag_files_commit_renamed, 0, true},
      {_tag_files_commit_renamed, 1, true},            {_tag_files_commit_record_removed, 0, true},
  };
  for (bool reader_comes_first : {false, true}) {
    for (const kill_point& point : points) {
      SCOPED_TRACE(testing::Message() << "step " << point.step << " #" << point.n << " reader first "
                                      << reader_comes_first);
      write_local(tag_entry(kMesh, kMapId, "harbour", "old map"));
      write_local(tag_entry(kCollection, kMapId, "harbour", "old textures"));
      kill_at = point;
      const int ended = run_child([] {
        if (!open_store() || !tag_files_lock_instance()) return 1;
        int32_t map = tag_file_find(kMesh, kMapId), textures = tag_file_find(kCollection, kMapId);
        tag_files_set_commit_hook(kill_here);
        tag_files_commit_begin();
        if (!tag_file_replace_contents(&textures, "new textures!", 13) ||
            !tag_file_replace_contents(&map, "new map!", 8)) {
          return 2;
        }
        tag_files_commit_end();
        return 3;  // not killed
      });
      ASSERT_EQ(ended, 128 + SIGKILL);

      const std::string map = point.committed ? "new map!" : "old map";
      const std::string textures = point.committed ? "new textures!" : "old textures";
      if (reader_comes_first) {
        // A reader with no writer about finishes the stopped commit itself before reading.
        const std::string expected = map + "|" + textures;
        EXPECT_EQ(run_child([expected] {
                    if (!tag_files_lock_for_reading() || !tag_files_open(false, {}, NONE)) return 1;
                    return read_tag(kMesh, kMapId) + "|" + read_tag(kCollection, kMapId) == expected ? 0 : 2;
                  }),
                  0);
      }
      // The next writer finds one state or the other, and nothing left over.
      ASSERT_TRUE(tag_files_initialize());
      ASSERT_TRUE(tag_files_lock_instance());
      ASSERT_TRUE(tag_files_open(false, {}, NONE));
      EXPECT_EQ(read_tag(kMesh, kMapId), map);
      EXPECT_EQ(read_tag(kCollection, kMapId), textures);
      EXPECT_EQ(temporaries_left(), 0);
      EXPECT_FALSE(std::filesystem::exists("local/tarn2 commit"));
      tag_files_close();
      tag_files_unlock();
    }
  }
}

TEST_F(TagStoreProcesses, AnAbandonedCommitChangesNothingAndReadsSeeStagedData) {
  write_local(tag_entry(kMesh, kMapId, "harbour", "old map"));
  ASSERT_TRUE(open_store());
  int32_t map = tag_file_find(kMesh, kMapId);
  ASSERT_TRUE(tag_files_commit_begin());
  EXPECT_FALSE(tag_files_commit_begin());
  ASSERT_TRUE(tag_file_write(&map, 4, 4, "MAP!"));
  const int32_t created = tag_file_create(kMesh, "fresh", 1);
  ASSERT_NE(created, NONE);
  // Inside the commit the new contents are what the store answers; nothing is on the disc yet.
  EXPECT_EQ(read_tag(kMesh, kMapId), "old MAP!");
  EXPECT_FALSE(std::filesystem::exists("local/meshes/fresh"));
  tag_files_commit_abandon();
  EXPECT_EQ(read_tag(kMesh, kMapId), "old map");
  EXPECT_EQ(tag_file_get_size(map), 7);
  EXPECT_FALSE(tag_file_is_valid(created));
  EXPECT_EQ(folder.read_file("local/meshes/harbour").substr(64), "old map");
}

}  // namespace
