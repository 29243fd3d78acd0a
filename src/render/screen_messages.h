// On-screen messages: short texts the editor shows at the top left of the visual view ("Wireframe
// mode: Cells", "Vertex height 2.50"). The latest one shows for three seconds.
#pragma once

#include <cstdint>

#include "cseries/error_manager.h"  // VG_PRINTF

enum {
  SCREEN_MESSAGE_SIZE = 128,
  SCREEN_MESSAGE_DURATION_MILLISECONDS = 3000,
};

// Formats the message (a trailing newline is dropped) and shows it from now on.
void screen_message_show(const char* format, ...) VG_PRINTF(1, 2);
// The message shown at `now` (milliseconds of the steady clock, as screen_message_clock gives),
// none when none is, and the number of the message (changes with every message).
const char* screen_message_current(int64_t now, uint32_t* number = nullptr);
int64_t screen_message_clock();
// Forgets the message (tests, map close).
void screen_message_clear();
