#include "render/screen_messages.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct {
  char text[SCREEN_MESSAGE_SIZE];
  int64_t shown_at;
  uint32_t number;
  bool present;
} message;

}  // namespace

int64_t screen_message_clock() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void screen_message_show(const char* format, ...) {
  if (!format) return;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message.text, sizeof(message.text), format, arguments);
  va_end(arguments);
  size_t length = std::strlen(message.text);
  while (length > 0 && (message.text[length - 1] == '\n' || message.text[length - 1] == '\r'))
    message.text[--length] = 0;
  message.shown_at = screen_message_clock();
  message.present = true;
  ++message.number;
}

const char* screen_message_current(int64_t now, uint32_t* number) {
  const bool showing = message.present && now >= message.shown_at &&
                       now - message.shown_at < SCREEN_MESSAGE_DURATION_MILLISECONDS;
  if (number) *number = showing ? message.number : 0;
  return showing ? message.text : nullptr;
}

void screen_message_clear() { message.present = false; }
