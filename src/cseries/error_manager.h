// One error manager for the whole program: every failure is reported through post_error, written
// to the log "tarn_log.txt", and the first unhandled code waits until handle_error takes it.
// Every log line is composed in a 256-byte buffer; a longer one is cut to 254 characters plus its
// newline. Before error_manager_initialize (and after log_close) nothing is logged, but reports
// still set the pending code and the fatal codes still end the program.
#pragma once

#include <cstddef>
#include <cstdint>

enum error_code : int16_t {
  error_none = 0,
  error_unknown = 1,
  error_user_cancel = 2,
  error_file_read = 3,
  error_file_write = 4,
  error_file_open = 5,
  error_file_create = 6,
  error_file_general = 7,
  error_out_of_memory = 8,
  error_data_version_mismatch = 9,
  error_data_corrupted = 10,
  error_data_missing = 11,
  error_data_mismatch = 12,
  error_array_full = 13,
  error_fatal_recursion = 14,
  error_array_out_of_bounds = 15,
  error_assertion_failure = 16,
  error_out_of_sync = 17,
  error_warning = 18,
  NUMBER_OF_ERROR_CODES
};

#define VG_PRINTF(f, a) __attribute__((format(printf, f, a)))

enum log_start {
  _log_start_fresh,     // the log is rewritten: the editor once it holds the store lock
  _log_start_appended,  // the lines go after what is there: tool runs, a copy refused at start
};
// Opens the log in the working folder (rewritten or appended to), registers its closing, writes
// the header.
void error_manager_initialize(const char* program_name, log_start start = _log_start_fresh);
// Started appended, the log is made this run's alone: what came before this run's header goes. For
// the editor once the store lock shows no other copy is running.
void log_keep_only_this_run();

// The name of a code as logged ("File system Open"); "Unknown" for codes out of range.
const char* error_code_name(int16_t code);
bool error_code_is_fatal(int16_t code);
// The code waiting for handle_error, 0 when none.
int16_t error_pending_code();
// The message of the last report ("" before any), for a caller that tells the user the reason.
const char* error_last_message();

// Writes the text unchanged, after "YYYY-MM-DD hh:mm:ss  " when time-stamped, and flushes.
void log_write(const char* text, bool time_stamp);
// A progress line, "source, line #n: message" (or the message alone); the pending code is untouched.
void log_note(const char* source, int line, const char* format, ...) VG_PRINTF(3, 4);
void log_close();

// Tests of failure paths: with false, the fatal codes are reported and wait like the others, so an
// operation's own clean-up after a failed allocation can be checked. The programs never turn it off.
void error_manager_set_fatal_codes_halt(bool halt);

// Reports a failure; does not return for the fatal codes (8, 16, 17).
void post_error(int16_t code, const char* source, int line, const char* format, ...) VG_PRINTF(4, 5);
// 1 if an error was pending (and clears it), 0 if none; ends the program for a fatal code.
int handle_error();

// Modal warning through the UI host, with the system's default caption.
void show_warning_box(const char* format, ...) VG_PRINTF(1, 2);

enum { MAXIMUM_EXIT_PROCEDURES = 16 };
// Appends to the exit-procedure table; a full table refuses and reports "Array Full".
void register_exit_procedure(const char* source, int line, void (*procedure)());
// Runs the exit procedures once, last registered first, then exit(status). Reached again from an
// exit procedure it ends at once.
[[noreturn]] void halt_program(int status);

// Fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) write "Crashed!" and end through
// halt_program(-1), on an alternate stack; a second crash during that clean-up takes the
// signal's default action.
void crash_handler_install();

// A module's source name as reports carry it: its file's name without the extension
// ("tag_files.cpp" -> "tag_files"), made once at compile time.
template <size_t N>
struct source_module_name {
  char text[N] = {};
  consteval source_module_name(const char (&file)[N]) {
    size_t end = N - 1;
    for (size_t i = 0; i + 1 < N; ++i) {
      if (file[i] == '.') end = i;
    }
    for (size_t i = 0; i < end; ++i) text[i] = file[i];
  }
};
template <source_module_name name>
inline constexpr const char* source_module_name_text = name.text;
#define SOURCE_MODULE_NAME (source_module_name_text<__FILE_NAME__>)

// Convenience for reports from the current source line.
#define POST_ERROR(code, ...) post_error((code), SOURCE_MODULE_NAME, __LINE__, __VA_ARGS__)
