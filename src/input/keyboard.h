// The keyboard and mouse as the input sampling thread sees them: abstract key codes 0..99 naming
// physical keys, their Windows virtual keys and typed characters, and the key-state table. The
// frame's window-system events write the table (key down/up, mouse buttons, the cursor, focus
// loss); the sampling thread reads it. Every entry is an atomic, so the two threads never race.
#pragma once

#include <cstdint>

enum key_code : int16_t {
  _key_escape = 0,
  _key_f1 = 1,  // .. _key_f1 + 14 = F15
  _key_backquote = 16,
  _key_1 = 17,  // .. _key_9 = 25
  _key_0 = 26,
  _key_minus = 27,
  _key_equals = 28,
  _key_backspace = 29,
  _key_tab = 30,
  _key_q = 31, _key_w, _key_e, _key_r, _key_t, _key_y, _key_u, _key_i, _key_o, _key_p,  // 31..40
  _key_left_bracket = 41,
  _key_right_bracket = 42,
  _key_backslash = 43,
  _key_caps_lock = 44,
  _key_a = 45, _key_s, _key_d, _key_f, _key_g, _key_h, _key_j, _key_k, _key_l,  // 45..53
  _key_semicolon = 54,
  _key_quote = 55,
  _key_enter = 56,
  _key_shift = 57,
  _key_z = 58, _key_x, _key_c, _key_v, _key_b, _key_n, _key_m,  // 58..64
  _key_comma = 65,
  _key_period = 66,
  _key_slash = 67,
  _key_control = 68,
  _key_left_windows = 69,
  _key_alt = 70,
  _key_space = 71,
  _key_up = 72,
  _key_down = 73,
  _key_left = 74,
  _key_right = 75,
  _key_insert = 76,
  _key_home = 77,
  _key_page_up = 78,
  _key_delete = 79,
  _key_end = 80,
  _key_page_down = 81,
  _key_num_lock = 82,
  _key_none_83 = 83,
  _key_keypad_divide = 84,
  _key_keypad_multiply = 85,
  _key_keypad_0 = 86,  // .. _key_keypad_9 = 95
  _key_keypad_minus = 96,
  _key_keypad_plus = 97,
  _key_none_98 = 98,
  _key_keypad_period = 99,
  NUMBER_OF_KEY_CODES = 100,
  // The right-hand twins of Shift, Ctrl, the Windows key and Alt: slots of the table only, read
  // as part of their left-hand key.
  _key_right_shift = 100,
  _key_right_control,
  _key_right_windows,
  _key_right_alt,
  NUMBER_OF_KEY_SLOTS
};

// Mouse buttons: device 2 of a binding.
enum mouse_button_code : int16_t {
  _mouse_button_left = 3,
  _mouse_button_right = 4,
  _mouse_button_middle = 5,
  NUMBER_OF_MOUSE_BUTTON_SLOTS = 8,
};

// The Windows virtual key of a code (0 for the codes that name no key, and outside 0..99).
uint8_t keyboard_virtual_key(int16_t code);
// The code of a virtual key, -1 for none. Keypad keys keep their own codes: keypad 8 is never H.
int16_t keyboard_code_of_virtual_key(uint8_t virtual_key);
// The character a key types, -1 for none; shifted is Shift or Caps Lock (for letters, one undoes
// the other as on a typewriter).
int16_t keyboard_character(int16_t code, bool shift, bool caps_lock);
// Keys that never repeat while held: the modifiers and the locks.
bool keyboard_key_repeats(int16_t code);

// ---- the key-state table (any thread) ----

// A slot 0..103 (codes and right-hand twins) goes down or up; others are ignored.
void keyboard_set_key(int16_t slot, bool down);
// Down, counting a modifier's right-hand twin as the key itself. False outside 0..99.
bool keyboard_key_is_down(int16_t code);
void keyboard_set_mouse_button(int16_t button, bool down);
bool keyboard_mouse_button_is_down(int16_t button);
// The cursor, in screen coordinates, read and written whole.
void keyboard_set_cursor(int16_t x, int16_t y);
void keyboard_get_cursor(int16_t* x, int16_t* y);
// Every key and button up: the editor lost the keyboard, and no key may stay held.
void keyboard_release_all();
