#include "platform/ui_host.h"

#include <cstdio>

namespace {
const ui_host* current_host = nullptr;

ui_answer default_answer(ui_buttons buttons) {
  switch (buttons) {
    case ui_buttons_ok: return ui_answer_ok;
    case ui_buttons_yes_no: return ui_answer_no;
    default: return ui_answer_cancel;
  }
}
}  // namespace

void ui_host_install(const ui_host* host) { current_host = host; }
const ui_host* ui_host_current() { return current_host; }

ui_answer ui_message_box(const char* title, const char* text, ui_icon icon, ui_buttons buttons) {
  if (current_host && current_host->message_box)
    return current_host->message_box(current_host->context, title ? title : "", text ? text : "",
                                     icon, buttons);
  std::fprintf(stderr, "%s%s%s\n", title && *title ? title : "", title && *title ? ": " : "",
               text ? text : "");
  return default_answer(buttons);
}

bool ui_choose_open_file(const char* title, const char* filter, std::string& path) {
  if (current_host && current_host->choose_open_file)
    return current_host->choose_open_file(current_host->context, title, filter, path);
  return false;
}

bool ui_choose_save_file(const char* title, const char* filter, std::string& path) {
  if (current_host && current_host->choose_save_file)
    return current_host->choose_save_file(current_host->context, title, filter, path);
  return false;
}

bool ui_choose_tag(const char* title, uint32_t group, int32_t& tag_index) {
  if (current_host && current_host->choose_tag)
    return current_host->choose_tag(current_host->context, title, group, tag_index);
  return false;
}

bool ui_enter_value(const char* title, const char* label, double minimum, double maximum,
                    double& value) {
  if (current_host && current_host->enter_value)
    return current_host->enter_value(current_host->context, title, label, minimum, maximum, value);
  return false;
}

void ui_progress_begin(const char* title, int64_t total, bool cancellable) {
  if (current_host && current_host->progress_begin)
    current_host->progress_begin(current_host->context, title ? title : "", total, cancellable);
}

bool ui_progress_step(int64_t done) {
  if (current_host && current_host->progress_step)
    return current_host->progress_step(current_host->context, done);
  return true;
}

void ui_progress_end() {
  if (current_host && current_host->progress_end) current_host->progress_end(current_host->context);
}
