#include "tools/tool_messages.h"

#include <cstdarg>
#include <cstdio>

#include "platform/ui_host.h"

namespace {

// Paths in the messages can be long; the boxes take whatever fits in 1 KB.
enum { MESSAGE_SIZE = 1024 };

}  // namespace

void tool_show_error(const char* format, ...) {
  char text[MESSAGE_SIZE];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  ui_message_box("Error", text, ui_icon_error, ui_buttons_ok);
}

bool tool_ask_warning(const char* format, ...) {
  char text[MESSAGE_SIZE];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  return ui_message_box("Warning", text, ui_icon_warning, ui_buttons_yes_no) == ui_answer_yes;
}
