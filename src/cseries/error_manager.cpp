#include "cseries/error_manager.h"

#include <atomic>

#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/ui_host.h"

namespace {

constexpr const char* kSourceName = "error_manager";
constexpr const char* kLogFileName = "tarn_log.txt";
constexpr const char* kOperatingSystemName = "Linux";

// Every composed text (message, log line, warning) lives in a buffer of this size.
constexpr size_t kLineSize = 256;

constexpr const char* kErrorCodeNames[NUMBER_OF_ERROR_CODES] = {
    "None",
    "Unknown",
    "User Quit or Cancel",
    "File system Read",
    "File system Write",
    "File system Open",
    "File system Create",
    "File system General",
    "Out of Memory",
    "Data Version Mismatch",
    "Data Corrupted",
    "Data Missing",
    "Data Mismatch",
    "Array Full",
    "Fatal Recursion",
    "Array Out of Bounds",
    "Assertion Failure",
    "Out of Sync",
    "Warning",
};

struct exit_procedure_entry {
  const char* source;
  int16_t line;
  void (*procedure)();
};

// Process-wide state. It lives in static storage so that a report made before initialisation
// (or after the log is closed) still only records the pending code instead of crashing.
struct error_manager_state {
  bool log_close_registered;
  // Set from the input thread as well as the interface thread: the first unhandled code wins,
  // a fatal one always.
  std::atomic<int16_t> pending_code;
  bool fatal_codes_halt = true;
  int32_t handling;
  FILE* log;
  long run_start;  // offset of this run's header line in the log
  char last_message[kLineSize];  // the message of the last report, for a caller to show
};

struct exit_procedure_table {
  exit_procedure_entry entries[MAXIMUM_EXIT_PROCEDURES];
  int16_t count;
  int32_t exiting;
  int32_t runtime_exit_started;
};

error_manager_state state;
exit_procedure_table exit_procedures;

volatile sig_atomic_t crashed = 0;

// printf into a fixed buffer; an over-long result is cut, an encoding failure leaves it empty.
size_t format_bounded(char* buffer, size_t size, const char* format, va_list arguments) {
  int length = std::vsnprintf(buffer, size, format, arguments);
  if (length < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
}

size_t format_bounded(char* buffer, size_t size, const char* format, ...) VG_PRINTF(3, 4);
size_t format_bounded(char* buffer, size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  size_t length = format_bounded(buffer, size, format, arguments);
  va_end(arguments);
  return length;
}

// Writes one composed line (already cut to leave room for it) followed by its newline.
void log_write_line(char (&line)[kLineSize], size_t length, bool time_stamp = false) {
  line[length] = '\n';
  line[length + 1] = '\0';
  log_write(line, time_stamp);
}

bool source_given(const char* source) { return source && *source; }

// The one shape of report and note lines: "<prefix><source>, line #<line>: <message>", or the
// message alone without a source.
void log_source_line(const char* prefix, const char* source, int line, const char* format,
                     va_list arguments) {
  char message[kLineSize];
  format_bounded(message, sizeof message, format, arguments);
  char text[kLineSize];
  size_t length = source_given(source)
                      ? format_bounded(text, sizeof text - 1, "%s%s, line #%d: %s", prefix,
                                       source, line, message)
                      : format_bounded(text, sizeof text - 1, "%s", message);
  log_write_line(text, length);
}

}  // namespace

const char* error_code_name(int16_t code) {
  if (code < 0 || code >= NUMBER_OF_ERROR_CODES) return kErrorCodeNames[error_unknown];
  return kErrorCodeNames[code];
}

bool error_code_is_fatal(int16_t code) {
  return code == error_out_of_memory || code == error_assertion_failure ||
         code == error_out_of_sync;
}

int16_t error_pending_code() { return state.pending_code; }

void error_manager_set_fatal_codes_halt(bool halt) { state.fatal_codes_halt = halt; }

const char* error_last_message() { return state.last_message; }

void error_manager_initialize(const char* program_name, log_start start) {
  // A second initialisation starts the log again rather than leaking the first stream.
  if (state.log) std::fclose(state.log);
  // Appending keeps what another running program (the editor) wrote; every line is written whole
  // at the end, so runs at once interleave by lines.
  state.log = std::fopen(kLogFileName, start == _log_start_fresh ? "w" : "a");  // no log if this fails
  if (state.log) std::fseek(state.log, 0, SEEK_END);
  state.run_start = state.log ? std::ftell(state.log) : 0;  // where this run's lines begin
  if (!state.log_close_registered) {
    state.log_close_registered = true;
    register_exit_procedure(kSourceName, __LINE__, log_close);
  }

  char header[kLineSize];
  size_t length = format_bounded(header, sizeof header - 1,
                 "%s running under %s ------------------------------------------------------------",
                 program_name ? program_name : "", kOperatingSystemName);
  log_write_line(header, length, true);
  state.pending_code = error_none;
}

void log_keep_only_this_run() {
  if (!state.log || state.run_start <= 0) return;
  std::fflush(state.log);
  std::FILE* reader = std::fopen(kLogFileName, "r");
  if (!reader) return;
  std::string this_run;
  if (std::fseek(reader, state.run_start, SEEK_SET) == 0) {
    char chunk[4096];
    size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof chunk, reader)) > 0) this_run.append(chunk, read);
  }
  std::fclose(reader);
  if (std::FILE* fresh = std::freopen(kLogFileName, "w", state.log)) {
    state.log = fresh;
    std::fwrite(this_run.data(), 1, this_run.size(), state.log);
    std::fflush(state.log);
    state.run_start = 0;
  } else {
    state.log = std::fopen(kLogFileName, "a");
  }
}

void log_write(const char* text, bool time_stamp) {
  if (!state.log || !text) return;
  if (time_stamp) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) {
      std::fprintf(state.log, "%04d-%02d-%02d %02d:%02d:%02d  ", local.tm_year + 1900,
                   local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    }
  }
  std::fputs(text, state.log);
  std::fflush(state.log);
}

void log_note(const char* source, int line, const char* format, ...) {
  if (!format || !state.log) return;
  va_list arguments;
  va_start(arguments, format);
  log_source_line("", source, line, format, arguments);
  va_end(arguments);
}

void log_close() {
  if (state.log) std::fclose(state.log);
  state.log = nullptr;
}

void post_error(int16_t code, const char* source, int line, const char* format, ...) {
  bool fatal = error_code_is_fatal(code);
  if (fatal) {
    state.pending_code = code;
  } else {
    int16_t none = error_none;
    state.pending_code.compare_exchange_strong(none, code);
  }

  if (format) {
    va_list arguments;
    va_start(arguments, format);
    format_bounded(state.last_message, sizeof state.last_message, format, arguments);
    va_end(arguments);
  }
  if (format && state.log) {
    char prefix[64];
    if (state.pending_code == error_assertion_failure) {
      format_bounded(prefix, sizeof prefix, "%s in ", fatal ? "halt" : "pause");
    } else {
      // The name is the pending code's, which may be an earlier report's.
      format_bounded(prefix, sizeof prefix, "Error: %s in ", error_code_name(state.pending_code));
    }
    va_list arguments;
    va_start(arguments, format);
    log_source_line(prefix, source, line, format, arguments);
    va_end(arguments);
  }

  if (fatal && state.fatal_codes_halt) handle_error();
}

int handle_error() {
  if (state.pending_code == error_none) return 0;
  if (!state.fatal_codes_halt) {
    state.pending_code = error_none;
    return 1;
  }
  // Reached again from an exit procedure or a nested report: leave it to the outer call.
  if (state.handling) return 0;

  state.handling = 1;
  if (error_code_is_fatal(state.pending_code)) halt_program(state.pending_code);
  state.pending_code = error_none;
  state.handling = 0;
  return 1;
}

void show_warning_box(const char* format, ...) {
  if (!format) return;
  char text[kLineSize];
  va_list arguments;
  va_start(arguments, format);
  format_bounded(text, sizeof text, format, arguments);
  va_end(arguments);
  ui_message_box("", text, ui_icon_warning, ui_buttons_ok);
}

void register_exit_procedure(const char* source, int line, void (*procedure)()) {
  if (!procedure) return;
  if (exit_procedures.count >= MAXIMUM_EXIT_PROCEDURES) {
    post_error(error_array_full, kSourceName, __LINE__,
               "no room for the exit procedure of %s, line #%d (%d in use)",
               source ? source : "(none)", line, static_cast<int>(exit_procedures.count));
    return;
  }
  exit_procedures.entries[exit_procedures.count++] = {source, static_cast<int16_t>(line), procedure};
}

void halt_program(int status) {
  // An exit procedure that ends up here again must not run the table a second time.
  if (!exit_procedures.exiting) {
    exit_procedures.exiting = 1;
    for (int i = exit_procedures.count - 1; i >= 0; --i) exit_procedures.entries[i].procedure();
  }
  // Reached again from the runtime's own clean-up (a crash in a static destructor, say): calling
  // exit a second time is undefined, so end without it.
  if (exit_procedures.runtime_exit_started) _exit(status);
  exit_procedures.runtime_exit_started = 1;
  std::exit(status);
}

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Its own stack, so that a stack overflow can still be reported.
alignas(16) char crash_stack[64 * 1024];

void crash_handler(int signal_number) {
  if (crashed) {
    // A crash while cleaning up after the first: let the system take its default action.
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
    raise(signal_number);
    return;
  }
  crashed = 1;
  log_note(nullptr, 0, "Crashed!");
  halt_program(-1);
}

}  // namespace

void crash_handler_install() {
  stack_t stack{};
  stack.ss_sp = crash_stack;
  stack.ss_size = sizeof crash_stack;
  stack.ss_flags = 0;
  sigaltstack(&stack, nullptr);

  struct sigaction action{};
  action.sa_handler = crash_handler;
  sigemptyset(&action.sa_mask);
  // SA_NODEFER lets a second crash of the same kind reach the handler, which then hands it to
  // the default action instead of the kernel killing the process with the signal blocked.
  action.sa_flags = SA_ONSTACK | SA_NODEFER;
  for (int signal_number : kFatalSignals) sigaction(signal_number, &action, nullptr);
}
