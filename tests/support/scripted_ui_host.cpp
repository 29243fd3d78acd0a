#include "support/scripted_ui_host.h"

namespace {

scripted_ui_host& self(void* context) { return *static_cast<scripted_ui_host*>(context); }

std::string text_or_empty(const char* text) { return text ? text : ""; }

// Takes the next scripted answer; false (cancelled) when none is queued or it is std::nullopt.
template <typename T, typename U>
bool take(std::deque<std::optional<T>>& queue, U& out) {
  if (queue.empty()) return false;
  std::optional<T> next = std::move(queue.front());
  queue.pop_front();
  if (!next) return false;
  out = std::move(*next);
  return true;
}

ui_answer message_box(void* context, const char* title, const char* text, ui_icon icon,
                      ui_buttons buttons) {
  scripted_ui_host& ui = self(context);
  ui.boxes.push_back({text_or_empty(title), text_or_empty(text), icon, buttons});
  if (!ui.answers.empty()) {
    ui_answer answer = ui.answers.front();
    ui.answers.pop_front();
    return answer;
  }
  if (ui.default_answer) return *ui.default_answer;
  switch (buttons) {
    case ui_buttons_ok: return ui_answer_ok;
    case ui_buttons_yes_no: return ui_answer_no;
    default: return ui_answer_cancel;
  }
}

bool choose_open_file(void* context, const char* title, const char* filter, std::string& path) {
  scripted_ui_host& ui = self(context);
  ui.open_requests.push_back({text_or_empty(title), text_or_empty(filter), path});
  return take(ui.open_files, path);
}

bool choose_save_file(void* context, const char* title, const char* filter, std::string& path) {
  scripted_ui_host& ui = self(context);
  ui.save_requests.push_back({text_or_empty(title), text_or_empty(filter), path});
  return take(ui.save_files, path);
}

bool choose_tag(void* context, const char* title, uint32_t group, int32_t& tag_index) {
  scripted_ui_host& ui = self(context);
  ui.tag_requests.push_back({text_or_empty(title), group, tag_index});
  return take(ui.tags, tag_index);
}

bool enter_value(void* context, const char* title, const char* label, double minimum,
                 double maximum, double& value) {
  scripted_ui_host& ui = self(context);
  ui.value_requests.push_back({text_or_empty(title), text_or_empty(label), minimum, maximum, value});
  return take(ui.values, value);
}

void progress_begin(void* context, const char* title, int64_t total, bool cancellable) {
  self(context).progress.push_back({title, total, cancellable});
}

bool progress_step(void* context, int64_t done) {
  scripted_ui_host& ui = self(context);
  if (ui.progress.empty()) return true;
  scripted_ui_host::progress_request& p = ui.progress.back();
  p.last_step = done;
  ++p.steps;
  return !(p.cancellable && ui.cancel_at_step && done >= *ui.cancel_at_step);
}

void progress_end(void* context) { ++self(context).progress_ends; }

}  // namespace

scripted_ui_host::scripted_ui_host()
    : host_{this,           message_box,    choose_open_file, choose_save_file, choose_tag,
            enter_value,    progress_begin, progress_step,    progress_end},
      previous_(ui_host_current()) {
  ui_host_install(&host_);
}

scripted_ui_host::~scripted_ui_host() { ui_host_install(previous_); }

std::vector<std::string> scripted_ui_host::box_texts() const {
  std::vector<std::string> texts;
  texts.reserve(boxes.size());
  for (const box& b : boxes) texts.push_back(b.text);
  return texts;
}
