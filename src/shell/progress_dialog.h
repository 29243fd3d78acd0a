// The editor's side of long work: a Qt progress dialog over the frame, shown only when the work
// lasts longer than half a second, with a Cancel button where the work may stop.
#pragma once

#include <cstdint>

void shell_progress_begin(void* context, const char* title, int64_t total, bool cancellable);
bool shell_progress_step(void* context, int64_t done);  // false once the user pressed Cancel
void shell_progress_end(void* context);
