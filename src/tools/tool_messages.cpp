#include "tools/tool_messages.h"

#include <cstdarg>
#include <cstdio>

#include "platform/ui_host.h"

namespace {

// Paths in the messages can be long; the boxes take whatever fits in 1 KB.
enum { MESSAGE_SIZE = 1024 };

ui_answer show_box(const char* title, ui_icon icon, ui_buttons buttons, const char* format, va_list arguments) {
  char text[MESSAGE_SIZE];
  std::vsnprintf(text, sizeof(text), format, arguments);
  return ui_message_box(title, text, icon, buttons);
}

}  // namespace

void tool_show_error(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  show_box("Error", ui_icon_error, ui_buttons_ok, format, arguments);
  va_end(arguments);
}

bool tool_ask_warning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const ui_answer answer = show_box("Warning", ui_icon_warning, ui_buttons_yes_no, format, arguments);
  va_end(arguments);
  return answer == ui_answer_yes;
}

void tool_show_warning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  show_box("Warning", ui_icon_warning, ui_buttons_ok, format, arguments);
  va_end(arguments);
}
