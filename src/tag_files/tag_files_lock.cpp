// The store lock: one writer of the store at a time, readers who never see a commit half done, and
// the clean-up only the writer may do.
//
// Both locks are single bytes of the file "tarn2" in "local", locked per open file: byte 0 is held
// exclusively by the one writer (the editor, or a tool that writes) for as long as it runs; byte 1
// is shared by readers while they read and taken exclusively by a writer only while it puts a
// commit into place. The file is never deleted, so every process locks the same file; a lock file
// that is deleted and created again would let two writers hold "the" lock at once.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

#include "cseries/error_manager.h"
#include "platform/posix_files.h"
#include "tag_files/tag_files_private.h"

using namespace tag_files_internal;

namespace {

// How long a reader waits for a stopped writer's commit to be finished by somebody before it gives
// up and reports the store busy.
constexpr int kReaderAttempts = 500;
constexpr auto kReaderPause = std::chrono::milliseconds(20);

std::string lock_path() {
  file_specification lock;
  folder_spec(&lock, {kLocalFolderName});
  file_spec_set_name(&lock, kLockFileName);
  return posix_path_from_backslashes(lock.path);
}

// The stress test's witness (VELLGRIM_LOCK_WITNESS names a folder outside the store): each holder of
// the store lock leaves its process id in "holder" while it holds the lock and reports in
// "violations" a holder it finds there still alive. The lock itself never reads it.
const char* witness_folder() { return std::getenv("VELLGRIM_LOCK_WITNESS"); }

// Whether the process still has the lock file open: a holder must. A killed process lets go of its
// files (and locks) before it is a zombie, so being alive is not enough.
bool process_has_lock_file_open(long pid) {
  char folder[64];
  std::snprintf(folder, sizeof folder, "/proc/%ld/fd", pid);
  std::vector<posix_directory_entry> entries;
  if (!posix_folder_list(folder, &entries)) return false;
  for (const posix_directory_entry& entry : entries) {
    char target[4096];
    const std::string link = std::string(folder) + "/" + entry.name;
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (std::strstr(target, "/local/tarn2") && !std::strstr(target, "/local/tarn2 commit")) return true;
  }
  return false;
}

bool process_is_alive(long pid) {
  if (pid <= 0 || kill(pid_t(pid), 0) != 0) return false;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  FILE* stat = std::fopen(path, "r");
  if (!stat) return false;
  char state = '?';
  const int scanned = std::fscanf(stat, "%*d (%*[^)]) %c", &state);
  std::fclose(stat);
  return scanned == 1 && state != 'Z' && state != 'X' && process_has_lock_file_open(pid);
}

void witness_take() {
  const char* folder = witness_folder();
  if (!folder) return;
  const std::string holder = std::string(folder) + "/holder";
  if (FILE* previous = std::fopen(holder.c_str(), "r")) {
    long pid = 0;
    if (std::fscanf(previous, "%ld", &pid) == 1 && pid != long(getpid()) && process_is_alive(pid)) {
      if (FILE* violations = std::fopen((std::string(folder) + "/violations").c_str(), "a")) {
        std::fprintf(violations, "%ld took the store lock while %ld held it\n", long(getpid()), pid);
        std::fclose(violations);
      }
    }
    std::fclose(previous);
  }
  if (FILE* mine = std::fopen(holder.c_str(), "w")) {
    std::fprintf(mine, "%ld\n", long(getpid()));
    std::fclose(mine);
  }
}

// Before the lock goes: the next holder must not find us there.
void witness_drop() {
  const char* folder = witness_folder();
  if (!folder || !store.lock_held) return;
  const std::string holder = std::string(folder) + "/holder";
  long pid = 0;
  if (FILE* current = std::fopen(holder.c_str(), "r")) {
    if (std::fscanf(current, "%ld", &pid) != 1) pid = 0;
    std::fclose(current);
  }
  if (pid == long(getpid())) unlink(holder.c_str());
}

void lock_release() {
  witness_drop();
  if (store.lock_fd >= 0) posix_file_close(store.lock_fd);  // closing drops both byte locks
  store.lock_fd = -1;
  store.lock_held = false;
  store.reading_share_held = false;
}

void lock_exit_register() {
  if (store.lock_exit_registered) return;
  store.lock_exit_registered = true;
  register_exit_procedure("tag_files", __LINE__, lock_release);
}

// Byte 0, without waiting, on the lock file that is really at the path now.
bool store_lock_take() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!lock_file_open()) return false;
    if (!lock_byte(LOCK_BYTE_STORE, true, false)) return false;
    if (posix_lock_file_is_current(store.lock_fd, lock_path())) return true;
    // Somebody replaced the file under us: a lock on the old one excludes nobody.
    lock_release();
  }
  return false;
}

}  // namespace

namespace tag_files_internal {

bool lock_file_open() {
  if (store.lock_fd >= 0) return true;
  file_specification local;
  folder_spec(&local, {kLocalFolderName});
  if (!folder_ensure(local)) return false;
  store.lock_fd = posix_lock_file_open(lock_path());
  return store.lock_fd >= 0;
}

bool lock_byte(int64_t byte, bool exclusive, bool wait) {
  bool busy = false;
  return lock_file_open() && posix_lock_byte(store.lock_fd, byte, exclusive, wait, &busy);
}

bool lock_byte_within(int64_t byte, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    if (lock_byte(byte, true, false)) return true;
    if (store.lock_fd < 0 || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void unlock_byte(int64_t byte) {
  if (store.lock_fd >= 0) posix_unlock_byte(store.lock_fd, byte);
}

}  // namespace tag_files_internal

bool tag_files_lock_instance() {
  if (store.lock_held) return true;
  if (!store.initialized || store.reading_share_held) return false;
  if (!store_lock_take()) {
    if (store.lock_fd >= 0) lock_release();
    return false;
  }
  store.lock_held = true;
  witness_take();
  lock_exit_register();
  // The commit lock is taken while the stopped writer's renames are finished, so that no reader
  // sees them half done; readers only hold it for a moment.
  if (lock_byte(LOCK_BYTE_COMMIT, true, true)) {
    commit_recover();
    unlock_byte(LOCK_BYTE_COMMIT);
  }
  return true;
}

bool tag_files_lock_for_reading() {
  if (store.lock_held || store.reading_share_held) return true;
  if (!store.initialized) return false;
  for (int attempt = 0; attempt < kReaderAttempts; ++attempt) {
    if (!lock_byte(LOCK_BYTE_COMMIT, false, true)) break;
    // Holding the share, no writer is between its commit record and its last rename: a record
    // found now is a stopped writer's.
    if (!commit_record_exists()) {
      store.reading_share_held = true;
      lock_exit_register();
      return true;
    }
    unlock_byte(LOCK_BYTE_COMMIT);
    // Nobody finished it yet: finish it ourselves when no writer is there to do it.
    if (lock_byte(LOCK_BYTE_STORE, true, false)) {
      if (lock_byte(LOCK_BYTE_COMMIT, true, true)) {
        commit_recover();
        unlock_byte(LOCK_BYTE_COMMIT);
      }
      unlock_byte(LOCK_BYTE_STORE);
      continue;
    }
    std::this_thread::sleep_for(kReaderPause);
  }
  lock_release();
  return false;
}

void tag_files_unlock() { lock_release(); }

bool tag_files_lock_is_held() { return store.lock_held; }
