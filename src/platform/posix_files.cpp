#include "platform/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {

posix_observer observer = nullptr;
// The paths of open descriptors, kept only while an observer listens.
std::mutex observed_mutex;
std::map<int, std::string> observed_paths;

void observe_open(int fd, const std::string& path) {
  if (!observer || fd < 0) return;
  std::lock_guard<std::mutex> guard(observed_mutex);
  observed_paths[fd] = path;
}

std::string observed_path(int fd) {
  std::lock_guard<std::mutex> guard(observed_mutex);
  auto found = observed_paths.find(fd);
  return found == observed_paths.end() ? std::string() : found->second;
}

// False (errno ENOSPC) when the observer refuses the operation.
bool announce(posix_operation operation, const std::string& path) {
  if (!observer || observer(operation, path)) return true;
  errno = ENOSPC;
  return false;
}

bool announce_fd(posix_operation operation, int fd) {
  return !observer || announce(operation, observed_path(fd));
}

// A descriptor closed when it goes out of scope unless released.
class scoped_fd {
 public:
  explicit scoped_fd(int fd) : fd_(fd) {}
  ~scoped_fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  scoped_fd(const scoped_fd&) = delete;
  scoped_fd& operator=(const scoped_fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Opens without blocking (a FIFO would otherwise wait for a writer) and keeps only regular files.
int open_regular(const std::string& path, int flags, mode_t create_mode = 0) {
  scoped_fd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, create_mode));
  if (fd.get() < 0) return -1;
  struct stat status;
  if (::fstat(fd.get(), &status) != 0) return -1;
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  int file_flags = ::fcntl(fd.get(), F_GETFL);
  if (file_flags < 0 || ::fcntl(fd.get(), F_SETFL, file_flags & ~O_NONBLOCK) != 0) return -1;
  return fd.release();
}

// The exclusive lock every writer holds; false with *busy when another open file holds it.
bool lock_exclusive(int fd, bool* busy) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (busy) *busy = (errno == EWOULDBLOCK);
    return false;
  }
}

std::string parent_folder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a finished rename survive a crash; failures only cost durability.
void sync_parent_folder(const std::string& path) { posix_folder_sync(parent_folder(path)); }

bool lock_range(int fd, int64_t byte, short type, bool wait, bool* busy) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = off_t(byte);
  range.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range) == 0) return true;
    if (errno == EINTR) continue;
    if (busy) *busy = errno == EAGAIN || errno == EACCES;
    return false;
  }
}

// Moves exactly count bytes through read or write, resuming after interruptions and partial moves;
// an early end of file is a failure.
template <typename byte, typename transfer>
bool transfer_exact(byte* bytes, int64_t count, transfer move) {
  while (count > 0) {
    ssize_t moved = move(bytes, size_t(std::min<int64_t>(count, INT_MAX)));
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) return false;
    bytes += moved;
    count -= moved;
  }
  return true;
}

}  // namespace

std::string posix_path_from_backslashes(const char* path) {
  if (!path || !*path) return ".";
  std::string result = path;
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

int posix_file_open(const std::string& path, int mode, bool* busy) {
  if (busy) *busy = false;
  bool reading = (mode & _posix_open_read) != 0;
  bool writing = (mode & _posix_open_write) != 0;
  if (!reading && !writing) {
    errno = EINVAL;
    return -1;
  }
  scoped_fd fd(open_regular(path, reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY));
  if (fd.get() < 0) return -1;
  if (writing && !lock_exclusive(fd.get(), busy)) return -1;
  observe_open(fd.get(), path);
  return fd.release();
}

bool posix_file_close(int fd) {
  if (fd < 0) return false;
  if (observer) {
    announce_fd(_posix_operation_close, fd);  // a close always happens
    std::lock_guard<std::mutex> guard(observed_mutex);
    observed_paths.erase(fd);
  }
  return ::close(fd) == 0;
}

bool posix_file_seek(int fd, int64_t offset) { return offset >= 0 && ::lseek(fd, off_t(offset), SEEK_SET) == off_t(offset); }

bool posix_file_seek_end(int fd) { return ::lseek(fd, 0, SEEK_END) >= 0; }

bool posix_file_read_exact(int fd, void* buffer, int64_t count) {
  return transfer_exact(static_cast<uint8_t*>(buffer), count,
                        [fd](uint8_t* bytes, size_t chunk) { return ::read(fd, bytes, chunk); });
}

bool posix_file_write_exact(int fd, const void* buffer, int64_t count) {
  if (!announce_fd(_posix_operation_write, fd)) return false;
  return transfer_exact(static_cast<const uint8_t*>(buffer), count,
                        [fd](const uint8_t* bytes, size_t chunk) { return ::write(fd, bytes, chunk); });
}

bool posix_file_sync(int fd) { return announce_fd(_posix_operation_sync, fd) && ::fsync(fd) == 0; }

int64_t posix_file_length(int fd) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return -1;
  return int64_t(status.st_size);
}

int64_t posix_path_length(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  return int64_t(status.st_size);
}

posix_entry_kind posix_path_kind(const std::string& path, bool* exists) {
  struct stat status;
  bool found = ::stat(path.c_str(), &status) == 0;
  if (exists) *exists = found;
  if (!found) return _posix_entry_other;
  if (S_ISREG(status.st_mode)) return _posix_entry_file;
  if (S_ISDIR(status.st_mode)) return _posix_entry_folder;
  return _posix_entry_other;
}

bool posix_file_create(const std::string& path) {
  // Never truncate a file that another process is writing: take its lock first.
  scoped_fd fd(open_regular(path, O_WRONLY | O_CREAT, 0666));
  if (fd.get() < 0 || !lock_exclusive(fd.get(), nullptr)) return false;
  return ::ftruncate(fd.get(), 0) == 0;
}

bool posix_file_remove(const std::string& path) {
  // A file another process holds open for writing stays, as an open file cannot be deleted where
  // this program comes from; the single-instance lock file relies on it.
  scoped_fd fd(open_regular(path, O_RDONLY));
  if (fd.get() < 0) {
    if (errno != EACCES) return false;
  } else if (!lock_exclusive(fd.get(), nullptr)) {
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

bool posix_folder_create(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool posix_folder_remove(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool posix_rename_no_replace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: check, then rename.
  if (::access(to.c_str(), F_OK) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool posix_rename_replace(const std::string& from, const std::string& to) {
  if (!announce(_posix_operation_rename, to) || ::rename(from.c_str(), to.c_str()) != 0) return false;
  sync_parent_folder(to);
  return true;
}

bool posix_folder_sync(const std::string& folder) {
  if (!announce(_posix_operation_folder_sync, folder)) return false;
  scoped_fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

int posix_lock_file_open(const std::string& path) {
  return open_regular(path, O_RDWR | O_CREAT, 0666);
}

bool posix_lock_byte(int fd, int64_t byte, bool exclusive, bool wait, bool* busy) {
  if (busy) *busy = false;
  return fd >= 0 && lock_range(fd, byte, exclusive ? F_WRLCK : F_RDLCK, wait, busy);
}

bool posix_unlock_byte(int fd, int64_t byte) { return fd >= 0 && lock_range(fd, byte, F_UNLCK, false, nullptr); }

bool posix_lock_file_is_current(int fd, const std::string& path) {
  struct stat open_status, path_status;
  return ::fstat(fd, &open_status) == 0 && ::stat(path.c_str(), &path_status) == 0 &&
         open_status.st_dev == path_status.st_dev && open_status.st_ino == path_status.st_ino;
}

void posix_set_observer(posix_observer new_observer) {
  std::lock_guard<std::mutex> guard(observed_mutex);
  observer = new_observer;
  observed_paths.clear();
}

bool posix_folder_list(const std::string& path, std::vector<posix_directory_entry>* entries) {
  entries->clear();
  std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
  if (!folder) return false;
  while (struct dirent* entry = ::readdir(folder.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    posix_entry_kind kind = _posix_entry_other;
    if (entry->d_type == DT_REG) {
      kind = _posix_entry_file;
    } else if (entry->d_type == DT_DIR) {
      kind = _posix_entry_folder;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat status;
      if (::fstatat(::dirfd(folder.get()), entry->d_name, &status, 0) == 0) {
        kind = S_ISREG(status.st_mode) ? _posix_entry_file : S_ISDIR(status.st_mode) ? _posix_entry_folder : _posix_entry_other;
      }
    }
    entries->push_back({entry->d_name, kind});
  }
  std::sort(entries->begin(), entries->end(),
            [](const posix_directory_entry& a, const posix_directory_entry& b) { return a.name < b.name; });
  return true;
}
