// What the fuzz targets share: a temporary store folder, a log that does not grow without end, and
// inputs that either edit a well-formed sample or stand as the bytes themselves. Header-only, since
// each target is its own program.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cseries/error_manager.h"

namespace fuzz_support {

inline std::filesystem::path& temporary_folder() {
  static std::filesystem::path folder;
  return folder;
}

inline void remove_temporary_folder() {
  std::error_code error;
  if (!temporary_folder().empty()) std::filesystem::remove_all(temporary_folder(), error);
}

}  // namespace fuzz_support

// Makes a fresh temporary folder the working folder; it is removed when the run ends.
inline void fuzz_enter_temporary_folder() {
  std::string folder = (std::filesystem::temp_directory_path() / "vellgrim-fuzz-XXXXXX").string();
  if (!mkdtemp(folder.data())) std::abort();
  fuzz_support::temporary_folder() = folder;
  std::atexit(fuzz_support::remove_temporary_folder);
  std::filesystem::current_path(folder);
}

// Call once a run: every 10000 runs the log is started afresh, so that long runs do not fill the disc.
inline void fuzz_restart_log_now_and_then(const char* program_name) {
  static int runs_since_log_start = 0;
  if (++runs_since_log_start >= 10000) {
    runs_since_log_start = 0;
    error_manager_initialize(program_name);
  }
}

// Input of at least one byte whose first byte chooses: even - the rest is edits (two position bytes,
// one value) applied to the sample, so that an empty corpus reaches deep; odd - the rest as it stands.
inline std::vector<uint8_t> fuzz_edited_sample_or_bytes(const std::vector<uint8_t>& sample, const uint8_t* data,
                                                        size_t size) {
  if ((data[0] & 1) != 0 || sample.empty()) return std::vector<uint8_t>(data + 1, data + size);
  std::vector<uint8_t> bytes = sample;
  for (size_t i = 1; i + 2 < size; i += 3) bytes[((size_t{data[i]} << 8) | data[i + 1]) % bytes.size()] = data[i + 2];
  return bytes;
}
