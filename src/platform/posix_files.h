// The POSIX seam under the file layer. Paths here are host paths ('/'-separated); the file layer
// turns its backslash paths into them. Calls answer true on success; errno tells the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum posix_open_mode {
  _posix_open_read = 1,
  _posix_open_write = 2,
};

enum posix_entry_kind {
  _posix_entry_other = 0,
  _posix_entry_file,
  _posix_entry_folder,
};

struct posix_directory_entry {
  std::string name;
  posix_entry_kind kind;
};

// Turns a backslash-separated relative path into a host path ("" becomes ".").
std::string posix_path_from_backslashes(const char* path);

// Opens an existing file; write access takes a non-blocking exclusive lock held until close.
// Returns the descriptor, or -1 with *busy set when another holder of the lock refused it.
int posix_file_open(const std::string& path, int mode, bool* busy);
bool posix_file_close(int fd);
bool posix_file_seek(int fd, int64_t offset);
bool posix_file_seek_end(int fd);
bool posix_file_read_exact(int fd, void* buffer, int64_t count);
bool posix_file_write_exact(int fd, const void* buffer, int64_t count);
bool posix_file_sync(int fd);
int64_t posix_file_length(int fd);           // -1 on failure
int64_t posix_path_length(const std::string& path);  // -1 on failure or when not a regular file

posix_entry_kind posix_path_kind(const std::string& path, bool* exists);
// Creates or truncates a file, refusing while another holds its write lock.
bool posix_file_create(const std::string& path);
bool posix_file_remove(const std::string& path);  // refuses while another holds its write lock
bool posix_folder_create(const std::string& path);
bool posix_folder_remove(const std::string& path);
bool posix_rename_no_replace(const std::string& from, const std::string& to);
bool posix_rename_replace(const std::string& from, const std::string& to);

// Locks on single bytes of a lock file, owned by the open file (not the process), so two opens in
// one process exclude each other as two processes do. The file is created when missing and never
// truncated or deleted, so every process always locks the same file.
int posix_lock_file_open(const std::string& path);  // -1 on failure
// Takes (or converts) the lock of one byte: shared or exclusive, waiting for it or not. False with
// *busy when another holder refused it without waiting.
bool posix_lock_byte(int fd, int64_t byte, bool exclusive, bool wait, bool* busy);
bool posix_unlock_byte(int fd, int64_t byte);
// Whether the lock file fd still is the file at path (not replaced or deleted behind our back).
bool posix_lock_file_is_current(int fd, const std::string& path);

// Makes a finished rename or a new file in the folder survive a crash.
bool posix_folder_sync(const std::string& folder);

// Tests: every write, sync, close, rename and folder sync is announced first with the path it works
// on (a descriptor's path is the one it was opened or created with). Answering false makes the
// operation fail as a full disc would (ENOSPC) without doing it. None ends the observation.
enum posix_operation {
  _posix_operation_write,
  _posix_operation_sync,
  _posix_operation_close,
  _posix_operation_rename,
  _posix_operation_folder_sync,
};
using posix_observer = bool (*)(posix_operation operation, const std::string& path);
void posix_set_observer(posix_observer observer);

// The entries of a folder without "." and "..", sorted by name; false when it cannot be read.
bool posix_folder_list(const std::string& path, std::vector<posix_directory_entry>* entries);
