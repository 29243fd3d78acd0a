#include "tools/edit_recovery.h"

#include "cseries/hash.h"

#include <sys/uio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cseries/error_manager.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"

namespace {

constexpr char RECOVERY_SIGNATURE[4] = {'v', 'r', 'e', 'c'};
constexpr uint32_t RECOVERY_VERSION = 1;
constexpr auto SYNC_INTERVAL = std::chrono::seconds(2);

enum record_type : uint8_t { _record_step = 1, _record_undo = 2, _record_redo = 3 };

struct recovery_header {
  char signature[4];
  uint32_t version;
  uint32_t map_identifier;
  char map_name[32];
  uint64_t stored_checksum;  // of the map's stored tag when the first unsaved step was made
};
static_assert(sizeof(recovery_header) == 56);

struct record_header {
  uint8_t type;
  uint8_t kept[3];
  uint32_t length;
  uint32_t checksum;  // of the type and the payload
};
static_assert(sizeof(record_header) == 12);

struct recovery_state {
  std::string map_name;
  tag map_identifier = NONE_TAG;
  int32_t tag_index = NONE;
  FILE* file = nullptr;
  std::chrono::steady_clock::time_point last_sync;
  bool exit_procedure_registered = false;
  bool replayed = false;  // the file was read back into the map (by the tool's recover, say)
};
bool recovery_enabled = false;
recovery_state recovery;

// FNV-1a over eight bytes at a time, then the tail byte by byte: enough to tell a torn or changed
// record, and cheap beside the edit.
uint64_t checksum_64(const void* data, size_t size, uint64_t hash = HASH_64_START) {
  return hash_bytes_64(hash, data, size);
}

uint32_t record_checksum(uint8_t type, const std::byte* payload, size_t length) {
  const uint64_t hash = checksum_64(payload, length, checksum_64(&type, 1));
  return uint32_t(hash ^ (hash >> 32));
}

// The checksum of the map's tag as it is stored now; 0 when it can't be read.
uint64_t stored_checksum(int32_t tag_index) {
  const int32_t size = tag_file_get_size(tag_index);
  if (size <= 0) return 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(size), 0);
  if (!tag_file_read(tag_index, 0, size, bytes.data())) return 0;
  return checksum_64(bytes.data(), bytes.size());
}

void close_file() {
  if (!recovery.file) return;
  edit_recovery_flush();
  std::fclose(recovery.file);
  recovery.file = nullptr;
}

// The file is made with the first unsaved step, against the map as stored then.
bool open_file() {
  if (recovery.file) return true;
  if (recovery.map_name.empty()) return false;
  recovery_header header = {};
  std::memcpy(header.signature, RECOVERY_SIGNATURE, 4);
  header.version = RECOVERY_VERSION;
  header.map_identifier = recovery.map_identifier;
  std::snprintf(header.map_name, sizeof(header.map_name), "%s", recovery.map_name.c_str());
  header.stored_checksum = stored_checksum(recovery.tag_index);
  const std::string path = edit_recovery_path(recovery.map_name.c_str());
  recovery.file = std::fopen(path.c_str(), "wb");
  if (!recovery.file) {
    log_note("edit_recovery", __LINE__, "couldn't start the recovery file '%s'; edits go on without it.", path.c_str());
    return false;
  }
  std::fwrite(&header, sizeof(header), 1, recovery.file);
  recovery.last_sync = std::chrono::steady_clock::time_point{};
  return true;
}

// Appends cheaply: flushed to the system at once (a killed process loses nothing), synced to the
// disc at most every few seconds.
void append(uint8_t type, std::span<const std::byte> payload) {
  if (!open_file()) return;
  record_header header = {type, {}, uint32_t(payload.size()), record_checksum(type, payload.data(), payload.size())};
  // One system call a record, straight to the file: a killed process loses nothing written.
  std::fflush(recovery.file);
  iovec parts[2] = {{&header, sizeof(header)}, {const_cast<std::byte*>(payload.data()), payload.size()}};
  size_t left = sizeof(header) + payload.size();
  int count = payload.empty() ? 1 : 2;
  iovec* part = parts;
  while (left > 0) {
    const ssize_t written = ::writev(fileno(recovery.file), part, count);
    if (written <= 0) {
      log_note("edit_recovery", __LINE__, "couldn't write to the recovery file; edits go on without it.");
      std::fclose(recovery.file);
      recovery.file = nullptr;
      return;
    }
    left -= size_t(written);
    // A short write: skip what went and write the rest.
    for (size_t done = size_t(written); done > 0 && count > 0;) {
      if (done >= part->iov_len) {
        done -= part->iov_len;
        ++part;
        --count;
      } else {
        part->iov_base = static_cast<std::byte*>(part->iov_base) + done;
        part->iov_len -= done;
        done = 0;
      }
    }
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - recovery.last_sync >= SYNC_INTERVAL) {
    ::fsync(fileno(recovery.file));
    recovery.last_sync = now;
  }
}

void record_step(std::span<const std::byte> bytes) { append(_record_step, bytes); }
void record_walk(bool undo) { append(undo ? _record_undo : _record_redo, {}); }

bool read_header(const std::vector<std::byte>& bytes, recovery_header* header) {
  if (bytes.size() < sizeof(recovery_header)) return false;
  std::memcpy(header, bytes.data(), sizeof(recovery_header));
  return std::memcmp(header->signature, RECOVERY_SIGNATURE, 4) == 0 && header->version == RECOVERY_VERSION;
}

std::vector<std::byte> read_file(const std::string& path) {
  std::vector<std::byte> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return bytes;
  std::byte buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(file);
  return bytes;
}

}  // namespace

void edit_recovery_enable(bool enabled) { recovery_enabled = enabled; }
bool edit_recovery_enabled() { return recovery_enabled; }

std::string edit_recovery_path(const char* map_name) { return std::string("local/") + map_name + ".recovery"; }

void edit_recovery_map_opened(const char* map_name, tag identifier, int32_t tag_index) {
  close_file();
  recovery.map_name = map_name ? map_name : "";
  recovery.map_identifier = identifier;
  recovery.tag_index = tag_index;
  if (!recovery_enabled) return;
  edit_journal_set_recorder({record_step, record_walk});
  if (!recovery.exit_procedure_registered) {
    recovery.exit_procedure_registered = true;
    register_exit_procedure("edit_recovery", __LINE__, edit_recovery_flush);
  }
}

void edit_recovery_map_saved() {
  // The stored map now holds every step: nothing is left to recover.
  close_file();
  if (!recovery.map_name.empty() && (recovery_enabled || recovery.replayed)) std::remove(edit_recovery_path(recovery.map_name.c_str()).c_str());
}

void edit_recovery_map_closed() {
  edit_recovery_map_saved();
  edit_journal_set_recorder({});
  const bool registered = recovery.exit_procedure_registered;
  recovery = recovery_state{};
  recovery.exit_procedure_registered = registered;
}

recovery_file_state edit_recovery_check(const char* map_name, int32_t tag_index) {
  const std::vector<std::byte> bytes = read_file(edit_recovery_path(map_name));
  if (bytes.empty()) return _recovery_none;
  recovery_header header;
  if (!read_header(bytes, &header) || header.map_identifier != tag_file_get_identifier(tag_index) ||
      header.stored_checksum != stored_checksum(tag_index)) {
    return _recovery_stale;
  }
  return _recovery_matching;
}

int32_t edit_recovery_replay() {
  if (recovery.map_name.empty()) return -1;
  const std::string path = edit_recovery_path(recovery.map_name.c_str());
  close_file();
  const std::vector<std::byte> bytes = read_file(path);
  recovery_header header;
  if (!read_header(bytes, &header)) return -1;
  // The old file stays aside until every record is back in the new one.
  const std::string aside = path + "-old";
  std::rename(path.c_str(), aside.c_str());
  int32_t replayed = 0;
  size_t at = sizeof(recovery_header);
  while (bytes.size() - at >= sizeof(record_header)) {
    record_header record;
    std::memcpy(&record, bytes.data() + at, sizeof(record));
    at += sizeof(record);
    // A record the crash cut short, or one that does not add up, ends the replay.
    if (record.length > bytes.size() - at ||
        record.checksum != record_checksum(record.type, bytes.data() + at, record.length)) {
      log_note("edit_recovery", __LINE__, "the recovery of '%s' stops at a damaged record after %d.",
               recovery.map_name.c_str(), replayed);
      break;
    }
    const std::span<const std::byte> payload(bytes.data() + at, record.length);
    at += record.length;
    bool applied = false;
    switch (record.type) {
      case _record_step:
        applied = edit_journal_replay_step(payload);
        break;
      case _record_undo:
        applied = edit_journal_undo();
        break;
      case _record_redo:
        applied = edit_journal_redo();
        break;
    }
    if (!applied) {
      log_note("edit_recovery", __LINE__, "the recovery of '%s' stops at record %d, which does not fit the map.",
               recovery.map_name.c_str(), replayed + 1);
      break;
    }
    ++replayed;
  }
  std::remove(aside.c_str());
  recovery.replayed = true;
  return replayed;
}

void edit_recovery_set_aside(const char* map_name) {
  if (map_name && recovery.map_name == map_name) close_file();
  const std::string path = edit_recovery_path(map_name);
  if (std::rename(path.c_str(), (path + "-old").c_str()) == 0) {
    log_note("edit_recovery", __LINE__, "the recovery file of '%s' is kept aside as '%s-old'.", map_name, path.c_str());
  }
}

void edit_recovery_flush() {
  if (!recovery.file) return;
  std::fflush(recovery.file);
  ::fsync(fileno(recovery.file));
}
