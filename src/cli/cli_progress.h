// The tool's side of long work: a progress line on standard error, rewritten in place, only when
// standard error is a terminal (a pipe or a log file gets nothing). The tool never cancels.
#pragma once

#include <cstdint>

void cli_progress_begin(void* context, const char* title, int64_t total, bool cancellable);
bool cli_progress_step(void* context, int64_t done);
void cli_progress_end(void* context);
