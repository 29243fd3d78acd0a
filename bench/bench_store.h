// The benchmarks' tag store lives in a fresh temporary folder, removed when the run ends; the
// working folder moves there, as the editor works in its own.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline std::filesystem::path& bench_store_root() {
  static std::filesystem::path root;
  return root;
}

// False when the folder can't be made.
inline bool bench_make_store_folder() {
  std::string folder = (std::filesystem::temp_directory_path() / "vellgrim-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) return false;
  bench_store_root() = folder;
  std::atexit([] {
    std::error_code error;
    std::filesystem::remove_all(bench_store_root(), error);
  });
  std::filesystem::current_path(bench_store_root());
  return true;
}
