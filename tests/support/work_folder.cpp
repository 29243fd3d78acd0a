#include "support/work_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

scoped_work_folder::scoped_work_folder() {
  previous_ = fs::current_path().string();
  std::string templ = (fs::temp_directory_path() / "vellgrim-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
  fs::current_path(path_);
}

scoped_work_folder::~scoped_work_folder() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(path_, ec);
}

bool scoped_work_folder::write_file(const std::string& relative, const std::string& bytes) const {
  fs::path p = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string scoped_work_folder::read_file(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
