// The message boxes the editing tools show through the UI host: refusals in a box titled "Error"
// with the error icon, questions in a box titled "Warning" with Yes and No.
#pragma once

#include "cseries/error_manager.h"  // VG_PRINTF

void tool_show_error(const char* format, ...) VG_PRINTF(1, 2);
// True when the answer is Yes.
bool tool_ask_warning(const char* format, ...) VG_PRINTF(1, 2);
// A notice the user should see although the work went on: "Warning" with the warning icon and OK.
void tool_show_warning(const char* format, ...) VG_PRINTF(1, 2);
