// The store lock: one holder of the store at a time, and the clean-up only that holder may do.
#include "cseries/error_manager.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files_private.h"

using namespace tag_files_internal;

namespace {

void lock_release() {
  if (!store.lock_held) return;
  file_close(&store.lock_file);
  file_delete(&store.lock_file);
  store.lock_held = false;
}

// Temporaries of whole-tag replacements that a crash or a kill left behind. They are only ever
// written by the program holding the lock, so once we hold it every one left is stale.
void local_temporaries_remove() {
  for (const tag_group_definition& group : tag_groups) {
    file_specification folder;
    if (!group_folder(&group, &folder)) continue;
    for (file_specification& file : folder_files(folder)) {
      if (atomic_file_is_temporary_name(spec_file_name(file).c_str())) file_delete(&file);
    }
  }
}

}  // namespace

bool tag_files_lock_instance() {
  if (store.lock_held) return true;
  file_specification lock;
  folder_spec(&lock, {kLocalFolderName});
  file_spec_set_name(&lock, kLockFileName);
  if (!file_create(&lock) || !file_open(&lock, _file_open_write)) return false;
  store.lock_file = lock;
  store.lock_held = true;
  local_temporaries_remove();
  if (!store.lock_exit_registered) {
    store.lock_exit_registered = true;
    register_exit_procedure("tag_files", __LINE__, lock_release);
  }
  return true;
}
