// A fresh temporary folder made the working folder for the life of the object, removed afterwards.
// The engine resolves every path against the working folder, as the program does.
#pragma once

#include <string>

class scoped_work_folder {
 public:
  scoped_work_folder();
  ~scoped_work_folder();
  scoped_work_folder(const scoped_work_folder&) = delete;
  scoped_work_folder& operator=(const scoped_work_folder&) = delete;

  const std::string& path() const { return path_; }
  // Writes a whole file below the folder (creating parent folders); true on success.
  bool write_file(const std::string& relative, const std::string& bytes) const;
  // Reads a whole file below the folder; empty when missing.
  std::string read_file(const std::string& relative) const;

 private:
  std::string path_;
  std::string previous_;
};
