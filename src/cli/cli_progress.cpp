#include "cli/cli_progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

struct progress_line {
  bool shown = false;
  std::string title;
  int64_t total = 0;
  int last_percent = -1;
  std::chrono::steady_clock::time_point started;
};

progress_line line;

bool terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace

void cli_progress_begin(void*, const char* title, int64_t total, bool) {
  line = {};
  line.title = title ? title : "";
  line.total = total;
  line.started = std::chrono::steady_clock::now();
}

bool cli_progress_step(void*, int64_t done) {
  if (!terminal() || line.total <= 0) return true;
  // Short work stays quiet: the line appears only after half a second.
  if (!line.shown && std::chrono::steady_clock::now() - line.started < std::chrono::milliseconds(500)) return true;
  const int percent = int(done * 100 / line.total);
  if (percent == line.last_percent) return true;
  line.last_percent = percent;
  line.shown = true;
  std::fprintf(stderr, "\r%s: %3d%%", line.title.c_str(), percent < 0 ? 0 : (percent > 100 ? 100 : percent));
  std::fflush(stderr);
  return true;
}

void cli_progress_end(void*) {
  if (line.shown) {
    std::fprintf(stderr, "\r%s: done\n", line.title.c_str());
    std::fflush(stderr);
  }
  line = {};
}
