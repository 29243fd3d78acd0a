#include "cseries/error_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "support/scripted_ui_host.h"
#include "support/work_folder.h"

using ::testing::EndsWith;
using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::KilledBySignal;
using ::testing::MatchesRegex;

namespace {

// The error manager keeps process-wide state; CTest runs every test in its own process.
class ErrorManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { error_manager_initialize("vellgrim"); }

  std::string log() const { return folder.read_file("tarn_log.txt"); }
  // The log without its header line.
  std::string reports() const {
    std::string text = log();
    size_t end = text.find('\n');
    return end == std::string::npos ? std::string() : text.substr(end + 1);
  }

  scoped_work_folder folder;
};

// Exit procedures leave their mark in a file, so the parent of a death test can see the order.
void mark(const char* text) {
  if (FILE* out = std::fopen("exit_order.txt", "a")) {
    std::fputs(text, out);
    std::fclose(out);
  }
}
void exit_a() { mark("a"); }
void exit_b() { mark("b"); }
void exit_c() { mark("c"); }
void exit_halting_again() {
  mark("h");
  halt_program(3);
}
void exit_reporting_pause() {
  post_error(error_file_read, "tag_files", 7, "read after the halt");
}
void exit_reporting_assertion() {
  mark("A");
  post_error(error_assertion_failure, "screen", 4, "during the halt");
}
void exit_crashing() {
  mark("x");
  std::raise(SIGSEGV);
}

}  // namespace

TEST_F(ErrorManagerTest, HeaderNamesProgramAndSystemWithTimeStamp) {
  EXPECT_THAT(log(), MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  "
                                  "vellgrim running under Linux -{60}\n"));
}

TEST_F(ErrorManagerTest, AppendedRunsKeepTheLogUntilTheEditorMakesItItsOwn) {
  post_error(error_file_open, "editor", 1, "the running editor's line");
  // A tool run (or a copy refused at start) adds its lines after the editor's.
  error_manager_initialize("vellgrim-tool", _log_start_appended);
  post_error(error_file_read, "tool", 2, "the tool's line");
  EXPECT_THAT(log(), HasSubstr("the running editor's line\n"));
  EXPECT_THAT(log(), HasSubstr("vellgrim-tool running under"));
  EXPECT_THAT(log(), HasSubstr("the tool's line\n"));

  // An editor that got the lock keeps only its own run, from its header on.
  error_manager_initialize("vellgrim", _log_start_appended);
  post_error(error_file_read, "editor", 3, "the new editor's line");
  log_keep_only_this_run();
  post_error(error_file_read, "editor", 4, "after");
  EXPECT_THAT(log(), MatchesRegex("[0-9: -]+  vellgrim running under Linux -{60}\n"
                                  "Error: File system Read in editor, line #3: the new editor's line\n"
                                  "Error: File system Read in editor, line #4: after\n"));
}

TEST_F(ErrorManagerTest, ReportLinesNameThePendingCode) {
  post_error(error_file_open, "tag_files", 120, "could not open '%s'", "small install");
  post_error(error_file_read, "tag_files", 130, "short read of %d bytes", 64);
  post_error(error_data_corrupted, nullptr, 0, "no source here");
  EXPECT_EQ(reports(),
            "Error: File system Open in tag_files, line #120: could not open 'small install'\n"
            "Error: File system Open in tag_files, line #130: short read of 64 bytes\n"
            "no source here\n");
  EXPECT_EQ(error_pending_code(), error_file_open);
  EXPECT_EQ(handle_error(), 1);
  EXPECT_EQ(error_pending_code(), error_none);
  EXPECT_EQ(handle_error(), 0);
}

// Reports made through the macro carry the module's source name, not its file's name.
TEST_F(ErrorManagerTest, MacroReportsNameTheModuleWithoutItsExtension) {
  static_assert(std::string_view(source_module_name_text<"tag_files.cpp">) == "tag_files");
  static_assert(std::string_view(source_module_name_text<"marker_utils.h">) == "marker_utils");
  static_assert(std::string_view(source_module_name_text<"no_extension">) == "no_extension");
  const int line = __LINE__ + 1;
  POST_ERROR(error_file_read, "short read of %d bytes", 8);
  EXPECT_EQ(reports(), "Error: File system Read in error_manager_test, line #" + std::to_string(line) +
                           ": short read of 8 bytes\n");
}

TEST_F(ErrorManagerTest, WarningCountsAsPendingFailure) {
  post_error(error_warning, "mesh", 5, "odd but harmless");
  EXPECT_EQ(reports(), "Error: Warning in mesh, line #5: odd but harmless\n");
  EXPECT_EQ(handle_error(), 1);
  EXPECT_EQ(handle_error(), 0);
}

TEST_F(ErrorManagerTest, ReportWithoutFormatOnlySetsPendingCode) {
  post_error(error_data_missing, "definitions", 9, nullptr);
  EXPECT_EQ(reports(), "");
  EXPECT_EQ(error_pending_code(), error_data_missing);
  EXPECT_EQ(handle_error(), 1);
}

TEST_F(ErrorManagerTest, NotesLeaveThePendingCodeAlone) {
  log_note("tag_files", 44, "Loading Patch Files...");
  log_note(nullptr, 0, "plain %d", 2);
  log_note("tag_files", 45, nullptr);
  EXPECT_EQ(reports(), "tag_files, line #44: Loading Patch Files...\nplain 2\n");
  EXPECT_EQ(error_pending_code(), error_none);
  EXPECT_EQ(handle_error(), 0);
}

TEST_F(ErrorManagerTest, OverlongLinesAreCutAt255Characters) {
  std::string source(200, 's');
  std::string message(300, 'm');
  post_error(error_unknown, source.c_str(), 1, "%s", message.c_str());
  log_note(source.c_str(), 2, "%s", message.c_str());
  log_note(nullptr, 0, "%s", message.c_str());
  std::string text = reports();
  std::string expected_report = ("Error: Unknown in " + source + ", line #1: " + message).substr(0, 254);
  std::string expected_note = (source + ", line #2: " + message).substr(0, 254);
  EXPECT_EQ(text, expected_report + "\n" + expected_note + "\n" + message.substr(0, 254) + "\n");
}

TEST_F(ErrorManagerTest, CodesOutsideTheTableAreUnknown) {
  EXPECT_STREQ(error_code_name(-1), "Unknown");
  EXPECT_STREQ(error_code_name(NUMBER_OF_ERROR_CODES), "Unknown");
  EXPECT_STREQ(error_code_name(error_array_out_of_bounds), "Array Out of Bounds");
}

TEST_F(ErrorManagerTest, WarningBoxUsesDefaultCaptionAndWarningIcon) {
  scripted_ui_host ui;
  show_warning_box("Could not find all %s tags. Please do a large install.", "foundation");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "");
  EXPECT_EQ(ui.boxes[0].text, "Could not find all foundation tags. Please do a large install.");
  EXPECT_EQ(ui.boxes[0].icon, ui_icon_warning);
  EXPECT_EQ(ui.boxes[0].buttons, ui_buttons_ok);
}

TEST_F(ErrorManagerTest, FullExitTableRefusesAndReports) {
  // log_close already holds one entry.
  for (int i = 1; i < MAXIMUM_EXIT_PROCEDURES; ++i) register_exit_procedure("test", i, exit_a);
  EXPECT_EQ(handle_error(), 0);
  register_exit_procedure("test", 99, exit_b);
  EXPECT_EQ(error_pending_code(), error_array_full);
  EXPECT_THAT(reports(), HasSubstr("Error: Array Full in error_manager"));
}

TEST(ErrorManagerBeforeInitialisation, ReportsOnlyTrackThePendingCode) {
  scoped_work_folder folder;
  log_write("text", true);
  log_note("mesh", 1, "note");
  post_error(error_file_open, "mesh", 2, "early");
  EXPECT_EQ(error_pending_code(), error_file_open);
  EXPECT_EQ(handle_error(), 1);
  EXPECT_EQ(folder.read_file("tarn_log.txt"), "");
}

// Death tests: the process ends through the exit procedures.

TEST_F(ErrorManagerTest, FatalCodeEndsWithItsCodeAfterExitProceduresInReverse) {
  register_exit_procedure("test", 1, exit_a);
  register_exit_procedure("test", 2, exit_b);
  register_exit_procedure("test", 3, exit_c);
  EXPECT_EXIT(post_error(error_out_of_memory, "data_arrays", 31, "could not allocate %d bytes", 4096),
              ExitedWithCode(8), "");
  EXPECT_EQ(folder.read_file("exit_order.txt"), "cba");
  EXPECT_EQ(reports(), "Error: Out of Memory in data_arrays, line #31: could not allocate 4096 bytes\n");
}

TEST_F(ErrorManagerTest, OutOfSyncIsFatal) {
  EXPECT_EXIT(post_error(error_out_of_sync, "world", 1, "drift"), ExitedWithCode(17), "");
}

TEST_F(ErrorManagerTest, AssertionHaltsAndLaterReportsPause) {
  register_exit_procedure("test", 1, exit_reporting_pause);
  post_error(error_file_open, "tag_files", 1, "first");
  EXPECT_EXIT(post_error(error_assertion_failure, "mesh", 88, "bad cell %d", 3), ExitedWithCode(16),
              "");
  EXPECT_EQ(reports(),
            "Error: File system Open in tag_files, line #1: first\n"
            "halt in mesh, line #88: bad cell 3\n"
            "pause in tag_files, line #7: read after the halt\n");
}

TEST_F(ErrorManagerTest, FatalReportDuringTheHaltDoesNotRecurse) {
  register_exit_procedure("test", 1, exit_a);
  register_exit_procedure("test", 2, exit_reporting_assertion);
  EXPECT_EXIT(post_error(error_out_of_memory, "shapes", 2, "no room"), ExitedWithCode(8), "");
  EXPECT_EQ(folder.read_file("exit_order.txt"), "Aa");
  EXPECT_EQ(reports(),
            "Error: Out of Memory in shapes, line #2: no room\n"
            "halt in screen, line #4: during the halt\n");
}

TEST_F(ErrorManagerTest, HaltFromAnExitProcedureEndsAtOnce) {
  register_exit_procedure("test", 1, exit_a);
  register_exit_procedure("test", 2, exit_halting_again);
  register_exit_procedure("test", 3, exit_c);
  EXPECT_EXIT(halt_program(0), ExitedWithCode(3), "");
  EXPECT_EQ(folder.read_file("exit_order.txt"), "ch");
}

TEST_F(ErrorManagerTest, CrashWritesCrashedAndRunsExitProcedures) {
  crash_handler_install();
  register_exit_procedure("test", 1, exit_a);
  register_exit_procedure("test", 2, exit_b);
  EXPECT_EXIT(std::raise(SIGSEGV), ExitedWithCode(255), "");
  EXPECT_EQ(reports(), "Crashed!\n");
  EXPECT_EQ(folder.read_file("exit_order.txt"), "ba");
}

TEST_F(ErrorManagerTest, AbortIsACrashToo) {
  crash_handler_install();
  EXPECT_EXIT(std::abort(), ExitedWithCode(255), "");
  EXPECT_EQ(reports(), "Crashed!\n");
}

TEST_F(ErrorManagerTest, CrashDuringCleanUpTakesTheDefaultAction) {
  crash_handler_install();
  register_exit_procedure("test", 1, exit_a);
  register_exit_procedure("test", 2, exit_crashing);
  EXPECT_EXIT(std::raise(SIGBUS), KilledBySignal(SIGSEGV), "");
  EXPECT_EQ(reports(), "Crashed!\n");
  EXPECT_EQ(folder.read_file("exit_order.txt"), "x");
}

namespace {
struct crashes_on_destruction {
  ~crashes_on_destruction() { std::raise(SIGSEGV); }
};
}  // namespace

TEST_F(ErrorManagerTest, CrashDuringRuntimeExitStillEnds) {
  crash_handler_install();
  EXPECT_EXIT(
      {
        static crashes_on_destruction object;
        halt_program(5);
      },
      ExitedWithCode(255), "");
  EXPECT_EQ(reports(), "");  // the log was already closed by its exit procedure
}
