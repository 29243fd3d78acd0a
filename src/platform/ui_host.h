// The seam through which engine code asks the user something or shows a refusal, without knowing
// about any window system. The editor installs a host backed by Qt dialogs; tests and the
// command-line tool install scripted hosts. With no host installed, questions get their default
// answer (Cancel, or No where there is no Cancel) and texts go to standard error.
#pragma once

#include <cstdint>
#include <string>

enum ui_icon : int16_t {
  ui_icon_none,
  ui_icon_information,
  ui_icon_warning,
  ui_icon_error,
  ui_icon_question,
};

enum ui_buttons : int16_t {
  ui_buttons_ok,
  ui_buttons_ok_cancel,
  ui_buttons_yes_no,
  ui_buttons_yes_no_cancel,
};

enum ui_answer : int16_t {
  ui_answer_ok,
  ui_answer_cancel,
  ui_answer_yes,
  ui_answer_no,
};

// A table of procedures; any entry may be null, and then the default behaviour applies.
struct ui_host {
  void* context;
  // Modal message box; an empty title means the system's default caption.
  ui_answer (*message_box)(void* context, const char* title, const char* text, ui_icon icon,
                           ui_buttons buttons);
  // File choice; `path` holds the suggested path on entry and the chosen one on success.
  bool (*choose_open_file)(void* context, const char* title, const char* filter, std::string& path);
  bool (*choose_save_file)(void* context, const char* title, const char* filter, std::string& path);
  // Tag choice among the visible tags of a group; `tag_index` holds the initial choice on entry.
  bool (*choose_tag)(void* context, const char* title, uint32_t group, int32_t& tag_index);
  // Numeric entry within [minimum, maximum]; `value` holds the initial value on entry.
  bool (*enter_value)(void* context, const char* title, const char* label, double minimum,
                      double maximum, double& value);
  // Long work: begin with a title and the number of steps, report steps done (answering false when
  // the user asked to stop; only asked where the work can stop without harm), end once.
  void (*progress_begin)(void* context, const char* title, int64_t total, bool cancellable);
  bool (*progress_step)(void* context, int64_t done);
  void (*progress_end)(void* context);
};

// Installs a host (null restores the default); the table must outlive its use.
void ui_host_install(const ui_host* host);
const ui_host* ui_host_current();

ui_answer ui_message_box(const char* title, const char* text, ui_icon icon, ui_buttons buttons);
bool ui_choose_open_file(const char* title, const char* filter, std::string& path);
bool ui_choose_save_file(const char* title, const char* filter, std::string& path);
bool ui_choose_tag(const char* title, uint32_t group, int32_t& tag_index);
bool ui_enter_value(const char* title, const char* label, double minimum, double maximum,
                    double& value);

// Progress of long work; with no host the calls do nothing and the work is never cancelled.
void ui_progress_begin(const char* title, int64_t total, bool cancellable);
bool ui_progress_step(int64_t done);  // false: the user cancelled
void ui_progress_end();

// Begins on construction and ends on every way out of the scope.
class ui_progress_scope {
 public:
  ui_progress_scope(const char* title, int64_t total, bool cancellable) {
    ui_progress_begin(title, total, cancellable);
  }
  ~ui_progress_scope() { ui_progress_end(); }
  ui_progress_scope(const ui_progress_scope&) = delete;
  ui_progress_scope& operator=(const ui_progress_scope&) = delete;
  bool step(int64_t done) { return ui_progress_step(done); }
};
