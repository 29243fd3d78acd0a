// Feeds the key-state table of the input layer from the window system: every key, mouse button
// and cursor move anywhere in the editor, and focus loss, which lets go of every key so that none
// stays held while another program has the keyboard.
#pragma once

#include <cstdint>

class QObject;

// Installs the application-wide filter (owned by parent); it only watches, never consumes.
void InstallInputFilter(QObject* parent);
// The key-table slot of a key event: its key code 0..99, or a right-hand twin of Shift, Ctrl,
// the Windows key or Alt (told apart by the native key); -1 for a key with no code. Keypad keys
// have their own codes: keypad 8 is never H.
int16_t shell_key_slot(int qt_key, bool keypad, uint32_t native_virtual_key);
