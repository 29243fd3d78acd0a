// Whole-file replacement that never leaves a half-written file behind: the new contents go to a
// temporary file in the same folder, which is flushed to the disc and then renamed over the target.
// A failure at any step leaves the target exactly as it was and removes the temporary.
#pragma once

#include <cstdint>
#include <span>

#include "cseries/files.h"

// Temporary files start with this prefix. It is longer than any tag name, so a temporary is never
// mistaken for a local tag, and folder walks skip it explicitly.
inline constexpr const char ATOMIC_FILE_TEMPORARY_PREFIX[] = ".vellgrim-temporary-replacement-";

bool atomic_file_is_temporary_name(const char* file_name);

// Writes the parts one after the other as the new contents of target (which need not exist).
// Failures are reported with post_error; false.
bool atomic_file_write(const file_specification* target, std::span<const std::span<const uint8_t>> parts);

// Tests: called once the temporary is complete, before the rename; answering false makes the write
// fail at that point. None restores normal operation.
void atomic_file_set_test_hook(bool (*hook)(const file_specification* temporary));
