#include "support/file_operation_recorder.h"

#include <cstring>

namespace {

std::vector<recorded_file_operation> recorded;
int writes_seen = 0;
int failing_write = -1;

bool record(posix_operation operation, const std::string& path) {
  recorded.push_back({operation, path});
  if (operation == _posix_operation_write && failing_write >= 0 && writes_seen++ >= failing_write) return false;
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

const char* name_of(posix_operation operation) {
  switch (operation) {
    case _posix_operation_write: return "write";
    case _posix_operation_sync: return "sync";
    case _posix_operation_close: return "close";
    case _posix_operation_rename: return "rename";
    case _posix_operation_folder_sync: return "folder sync";
  }
  return "?";
}

}  // namespace

file_operation_recorder::file_operation_recorder() {
  recorded.clear();
  writes_seen = 0;
  failing_write = -1;
  posix_set_observer(record);
}

file_operation_recorder::~file_operation_recorder() { posix_set_observer(nullptr); }

const std::vector<recorded_file_operation>& file_operation_recorder::operations() const { return recorded; }

void file_operation_recorder::fail_writes_from(int n) {
  failing_write = n;
  writes_seen = 0;
}

std::string file_operation_recorder::replacement_order_faults() const {
  std::string faults;
  for (size_t i = 0; i < recorded.size(); ++i) {
    if (recorded[i].operation != _posix_operation_rename) continue;
    const std::string& target = recorded[i].path;
    // The temporary is whatever was written last in the target's folder before the rename.
    std::string temporary;
    size_t write = i;
    while (write-- > 0) {
      if (recorded[write].operation == _posix_operation_write && folder_of(recorded[write].path) == folder_of(target)) {
        temporary = recorded[write].path;
        break;
      }
    }
    if (temporary.empty()) {
      faults += "nothing was written before the rename to " + target + "\n";
      continue;
    }
    // After the last write of the temporary: its sync, then its close, then the rename.
    int stage = 0;
    for (size_t j = write + 1; j < i; ++j) {
      if (recorded[j].path != temporary) continue;
      if (recorded[j].operation == _posix_operation_write) stage = 0;
      if (stage == 0 && recorded[j].operation == _posix_operation_sync) stage = 1;
      if (stage == 1 && recorded[j].operation == _posix_operation_close) stage = 2;
    }
    if (stage != 2) faults += temporary + " was not synced and closed before its rename to " + target + "\n";
    bool folder_synced = false;
    for (size_t j = i + 1; j < recorded.size() && !folder_synced; ++j) {
      folder_synced = recorded[j].operation == _posix_operation_folder_sync && recorded[j].path == folder_of(target);
    }
    if (!folder_synced) faults += "the folder of " + target + " was not synced after the rename\n";
  }
  if (!faults.empty()) {
    faults += "recorded:\n";
    for (const recorded_file_operation& operation : recorded) {
      faults += std::string("  ") + name_of(operation.operation) + " " + operation.path + "\n";
    }
  }
  return faults;
}
