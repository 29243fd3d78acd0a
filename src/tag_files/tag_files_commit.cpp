// Commits: every change to local tags is staged in memory and put on disc as one step, so that a
// user action that changes several tags (a map and its collection) leaves either all of them old or
// all of them new, whenever the process is stopped.
//
// Ending a commit: (1) each staged tag is written to a temporary beside its file and synced;
// (2) under the commit lock, the commit record (the list of temporaries and their targets) is
// written and synced: from here on the commit counts as done; (3) each temporary is renamed over
// its target and the folders are synced; (4) the record is removed. The next holder of the store
// lock finds a record of a stopped commit and finishes the renames; temporaries without a record
// belong to a commit that never happened and are removed.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "cseries/error_manager.h"
#include "platform/posix_files.h"
#include "platform/ui_host.h"
#include "tag_files/atomic_file.h"
#include "tag_files/tag_files_private.h"

using namespace tag_files_internal;

namespace {

constexpr std::string_view kRecordFirstLine = "vellgrim commit 1";
constexpr std::string_view kRecordLastLine = "end";
int commit_lock_seconds = 60;  // how long a commit waits for readers to end

void (*commit_hook)(tag_files_commit_step step, int32_t n) = nullptr;

void hook(tag_files_commit_step step, int32_t n) {
  if (commit_hook) commit_hook(step, n);
}

file_specification record_spec() {
  file_specification record;
  folder_spec(&record, {kLocalFolderName});
  file_spec_set_name(&record, kCommitRecordName);
  return record;
}

// The temporary a commit writes for target: same folder, the temporary prefix before its name.
bool temporary_for(const file_specification& target, file_specification* temporary) {
  std::string name = std::string(ATOMIC_FILE_TEMPORARY_PREFIX) + spec_file_name(target);
  *temporary = target;
  temporary->handle = NONE;
  return std::strlen(target.path) - spec_file_name(target).size() + name.size() <= MAXIMUM_FILE_PATH_LENGTH &&
         file_spec_set_name(temporary, name.c_str());
}

bool write_file(file_specification* file, std::span<const std::span<const uint8_t>> parts) {
  if (!file_create(file) || !file_open(file, _file_open_write)) return false;
  bool written = true;
  for (std::span<const uint8_t> part : parts) written = written && file_write(file, int64_t(part.size()), part.data());
  written = written && file_flush(file);
  return file_close(file) && written;
}

std::string folder_of(const std::string& host_path) {
  size_t slash = host_path.find_last_of('/');
  return slash == std::string::npos ? "." : host_path.substr(0, slash);
}

struct planned_rename {
  file_specification temporary;
  file_specification target;
};

// The record's lines: "temporary<TAB>target" with the backslash paths of the working folder.
std::string record_text(const std::vector<planned_rename>& renames) {
  std::string text = std::string(kRecordFirstLine) + "\n";
  for (const planned_rename& rename : renames) {
    text += rename.temporary.path;
    text += '\t';
    text += rename.target.path;
    text += '\n';
  }
  return text + std::string(kRecordLastLine) + "\n";
}

// A record is read back only if each line names a temporary and its own target in one folder
// below the working folder; anything else is a damaged record and is not followed.
bool record_parse(const std::string& text, std::vector<planned_rename>* renames) {
  renames->clear();
  size_t position = 0;
  std::vector<std::string> lines;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string::npos) return false;  // cut short
    lines.push_back(text.substr(position, end - position));
    position = end + 1;
  }
  if (lines.size() < 2 || lines.front() != kRecordFirstLine || lines.back() != kRecordLastLine) return false;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    size_t tab = line.find('\t');
    if (tab == std::string::npos) return false;
    std::string temporary = line.substr(0, tab), target = line.substr(tab + 1);
    if (temporary.empty() || target.empty() || temporary.size() > MAXIMUM_FILE_PATH_LENGTH ||
        target.size() > MAXIMUM_FILE_PATH_LENGTH || target.front() == '\\' || target.find("..") != std::string::npos ||
        target.find('\t') != std::string::npos) {
      return false;
    }
    size_t separator = target.find_last_of('\\');
    std::string folder = separator == std::string::npos ? "" : target.substr(0, separator + 1);
    std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
    if (name.empty() || temporary != folder + ATOMIC_FILE_TEMPORARY_PREFIX + name) return false;
    planned_rename rename;
    file_spec_initialize(&rename.target, 0);
    file_spec_initialize(&rename.temporary, 0);
    rename.target.flags = rename.temporary.flags = _file_specification_is_file;
    std::memcpy(rename.target.path, target.c_str(), target.size() + 1);
    std::memcpy(rename.temporary.path, temporary.c_str(), temporary.size() + 1);
    renames->push_back(rename);
  }
  return true;
}

// Renames each temporary that is still there over its target; a missing one was renamed already.
bool renames_apply(std::vector<planned_rename>& renames) {
  bool all = true;
  int32_t n = 0;
  for (planned_rename& rename : renames) {
    if (file_exists(&rename.temporary)) {
      if (!file_rename_over(&rename.temporary, &rename.target)) {
        POST_ERROR(error_file_write, "couldn't put '%s' in place of '%s'", rename.temporary.path, rename.target.path);
        all = false;
        continue;
      }
    }
    hook(_tag_files_commit_renamed, n++);
  }
  return all;
}

bool record_remove() {
  file_specification record = record_spec();
  if (file_exists(&record) && !file_delete(&record)) return false;
  posix_folder_sync(folder_of(posix_path_from_backslashes(record.path)));
  return true;
}

// Temporaries are only ever written by the holder of the store lock: every one found by a new
// holder, after a stopped commit is finished, is stale. They lie in the group folders, in "local"
// (the commit record's own) and in "plugins" (tags pack).
void temporaries_remove() {
  std::vector<file_specification> folders;
  for (const tag_group_definition& group : tag_groups) {
    file_specification folder;
    if (group_folder(&group, &folder)) folders.push_back(folder);
  }
  for (const char* name : {kLocalFolderName, kPluginsFolderName}) {
    file_specification folder;
    folder_spec(&folder, {name});
    folders.push_back(folder);
  }
  for (const file_specification& folder : folders) {
    for (file_specification& file : folder_files(folder)) {
      if (atomic_file_is_temporary_name(spec_file_name(file).c_str())) file_delete(&file);
    }
  }
}

// A new tag's file name may be held by a file the loader refused (a damaged local tag): it is
// never replaced, but kept beside as "NAME.damaged" (numbered when that is taken), and the user is
// told. False when it can't be moved aside.
bool damaged_file_keep(const staged_tag& staged, const planned_rename& rename) {
  file_specification existing = rename.target;
  if (!staged.created || !file_exists(&existing)) return true;
  const std::string name = spec_file_name(rename.target);
  std::string kept;
  for (int n = 1; n < 1000; ++n) {
    kept = name + ".damaged" + (n == 1 ? std::string() : " " + std::to_string(n));
    file_specification candidate = rename.target;
    if (!file_spec_set_name(&candidate, kept.c_str())) return false;
    if (!file_exists(&candidate)) break;
  }
  if (!file_rename(&existing, kept.c_str())) {
    POST_ERROR(error_file_write, "couldn't keep the damaged local tag file '%s' as '%s'", rename.target.path,
               kept.c_str());
    return false;
  }
  posix_folder_sync(folder_of(posix_path_from_backslashes(existing.path)));
  log_note("tag_files", __LINE__, "the local tag file '%s' could not be loaded; it is kept as '%s'",
           rename.target.path, existing.path);
  const std::string text = std::string("The local tag file '") + rename.target.path +
                           "' could not be loaded, so it was not replaced: it is kept as '" + existing.path + "'.";
  ui_message_box("Warning", text.c_str(), ui_icon_warning, ui_buttons_ok);
  return true;
}

void staged_restore() {
  // Created tags go last to first, so that each header removal restores what the previous added.
  for (auto staged = store.commit.staged.rbegin(); staged != store.commit.staged.rend(); ++staged) {
    if (staged->created) {
      header_remove(staged->tag_index);
    } else if (tag_header* header = header_get(staged->tag_index)) {
      const int16_t identifier = header->identifier;
      const uint8_t flags = header->flags;
      *header = staged->original;
      header->identifier = identifier;
      header->flags = flags;
    }
  }
  store.commit.staged.clear();
  store.commit.open = false;
}

}  // namespace

namespace tag_files_internal {

staged_tag* staged_find(int32_t tag_index) {
  if (!store.commit.open) return nullptr;
  for (staged_tag& staged : store.commit.staged) {
    if (staged.tag_index == tag_index) return &staged;
  }
  return nullptr;
}

staged_tag* stage(int32_t tag_index, bool created) {
  if (!store.commit.open) return nullptr;
  if (staged_tag* found = staged_find(tag_index)) return found;
  const tag_header* header = header_get(tag_index);
  if (!header || !header_is_local(header)) return nullptr;
  staged_tag staged;
  staged.tag_index = tag_index;
  staged.original = *header;
  staged.created = created;
  if (!created) {
    staged.data.resize(header->size);
    if (header->size > 0 && !local_read(tag_index, header, 0, int32_t(header->size), staged.data.data(),
                                        "tag_file_write")) {
      return nullptr;
    }
  }
  store.commit.staged.push_back(std::move(staged));
  return &store.commit.staged.back();
}

bool commit_record_exists() {
  file_specification record = record_spec();
  return file_exists(&record);
}

void commit_recover() {
  file_specification record = record_spec();
  if (file_exists(&record)) {
    std::string text;
    int64_t length = 0;
    bool readable = file_open(&record, _file_open_read) && file_get_length(&record, &length) && length >= 0 &&
                    length <= 1 << 20;
    if (readable) {
      text.resize(size_t(length));
      readable = file_read_from_position(&record, 0, length, text.data());
    }
    if (file_spec_is_open(&record)) file_close(&record);
    std::vector<planned_rename> renames;
    if (readable && record_parse(text, &renames)) {
      log_note("tag_files", __LINE__, "finishing a commit of %d tags that was stopped", int(renames.size()));
      if (!renames_apply(renames)) return;  // the record stays for the next attempt
    } else {
      POST_ERROR(error_data_corrupted, "discarded the damaged commit record '%s'", spec_path_text(record).c_str());
    }
    record_remove();
  }
  temporaries_remove();
}

}  // namespace tag_files_internal

bool tag_files_commit_begin() {
  if (!store.initialized || store.commit.open) return false;
  store.commit.open = true;
  store.commit.staged.clear();
  return true;
}

bool tag_files_commit_is_open() { return store.commit.open; }

void tag_files_commit_abandon() {
  if (store.commit.open) staged_restore();
}

bool tag_files_commit_end() {
  if (!store.commit.open) return false;
  if (store.commit.staged.empty()) {
    store.commit.open = false;
    return true;
  }
  local_close();

  // 1: every new file complete and on the disc beside its target.
  std::vector<planned_rename> renames;
  bool written = true;
  for (const staged_tag& staged : store.commit.staged) {
    planned_rename rename;
    const tag_header* header = header_get(staged.tag_index);
    const tag_group_definition* group = header ? tag_group_find(header->group_tag) : nullptr;
    file_specification folder;
    if (!group || !group_folder_ensure(group, &folder) || !local_file_of(staged.tag_index, &rename.target) ||
        !temporary_for(rename.target, &rename.temporary)) {
      POST_ERROR(error_file_create, "couldn't create local tag file '%s'", header ? header->name : "");
      written = false;
      break;
    }
    tag_header stored = *header;
    stored.flags = 0;
    stored.identifier = 0;
    byte_swap_data(tag_header_description, &stored, sizeof stored, 1);
    const std::span<const uint8_t> parts[] = {
        {reinterpret_cast<const uint8_t*>(&stored), sizeof stored},
        {staged.data.data(), staged.data.size()},
    };
    renames.push_back(rename);
    if (!write_file(&renames.back().temporary, parts)) {
      POST_ERROR(error_file_write, "couldn't write the temporary file '%s'", renames.back().temporary.path);
      written = false;
      break;
    }
    hook(_tag_files_commit_temporary_written, int32_t(renames.size()) - 1);
  }
  // A file that would be replaced but was never loaded is kept aside first.
  for (size_t i = 0; written && i < renames.size(); ++i) {
    written = damaged_file_keep(store.commit.staged[i], renames[i]);
  }
  // A new file needs its folder entry on the disc as much as its contents.
  for (const planned_rename& rename : renames) {
    if (written) written = posix_folder_sync(folder_of(posix_path_from_backslashes(rename.temporary.path)));
  }

  // 2: the record, under the commit lock, so that readers never see the renames half done.
  // A reader that never ends (a listing held by a paused pager) must not hang the editor's save.
  bool locked = written && lock_byte_within(LOCK_BYTE_COMMIT, commit_lock_seconds);
  if (written && !locked) {
    POST_ERROR(error_file_open, "the tag store is being read by another program; nothing was changed, try again");
  }
  bool recorded = false;
  if (locked) {
    file_specification record = record_spec();
    std::string text = record_text(renames);
    const std::span<const uint8_t> parts[] = {{reinterpret_cast<const uint8_t*>(text.data()), text.size()}};
    recorded = atomic_file_write(&record, parts);
  }
  if (!recorded) {
    if (locked) unlock_byte(LOCK_BYTE_COMMIT);
    for (planned_rename& rename : renames) {
      if (file_exists(&rename.temporary)) file_delete(&rename.temporary);
    }
    for (const staged_tag& staged : store.commit.staged) {
      file_specification target;
      if (local_file_of(staged.tag_index, &target)) {
        POST_ERROR(error_file_write, "couldn't replace '%s' with its new contents", spec_path_text(target).c_str());
      }
    }
    staged_restore();
    return false;
  }
  hook(_tag_files_commit_record_written, 0);

  // 3 and 4: from here on the commit is done; a failure leaves the record for the next holder.
  const bool renamed = renames_apply(renames);
  if (renamed) {
    record_remove();
    hook(_tag_files_commit_record_removed, 0);
  }
  unlock_byte(LOCK_BYTE_COMMIT);
  store.commit.staged.clear();
  store.commit.open = false;
  return renamed;
}

tag_files_commit_scope::tag_files_commit_scope() : own_(!store.commit.open) {
  if (own_) tag_files_commit_begin();
}

tag_files_commit_scope::~tag_files_commit_scope() {
  if (own_ && store.commit.open) tag_files_commit_abandon();
}

bool tag_files_commit_scope::end() { return !own_ || tag_files_commit_end(); }

void tag_files_set_commit_lock_wait(int seconds) { commit_lock_seconds = seconds; }

void tag_files_set_commit_hook(void (*new_hook)(tag_files_commit_step step, int32_t n)) { commit_hook = new_hook; }
