// Records the file layer's writes, syncs, closes, renames and folder syncs (through the POSIX
// seam) so that a test can check the order that makes a replacement survive a crash; can also
// refuse writes from the Nth on, as a full disc would.
#pragma once

#include <string>
#include <vector>

#include "platform/posix_files.h"

struct recorded_file_operation {
  posix_operation operation;
  std::string path;
};

class file_operation_recorder {
 public:
  file_operation_recorder();   // starts recording
  ~file_operation_recorder();  // stops
  const std::vector<recorded_file_operation>& operations() const;
  // Writes from the nth (0 = the first) on fail with ENOSPC; -1 lets every write through.
  void fail_writes_from(int n);
  // Checks every rename of the recording: before it the renamed temporary was written, synced and
  // closed, in that order, and after it the target's folder was synced. Empty when all is well,
  // else what was wrong.
  std::string replacement_order_faults() const;
};
