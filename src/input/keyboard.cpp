#include "input/keyboard.h"

#include <atomic>

namespace {

// Windows virtual keys by code.
constexpr uint8_t virtual_keys[NUMBER_OF_KEY_CODES] = {
    0x1B,                                                                    // Esc
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E,  // F1..F15
    0xC0,                                                                    // `
    '1', '2', '3', '4', '5', '6', '7', '8', '9', '0',
    0xBD, 0xBB, 0x08, 0x09,                                                  // - = Backspace Tab
    'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P',
    0xDB, 0xDD, 0xDC, 0x14,                                                  // [ ] \ Caps Lock
    'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L',
    0xBA, 0xDE, 0x0D, 0x10,                                                  // ; ' Enter Shift
    'Z', 'X', 'C', 'V', 'B', 'N', 'M',
    0xBC, 0xBE, 0xBF, 0x11, 0x5B, 0x12, 0x20,                                // , . / Ctrl LWin Alt Space
    0x26, 0x28, 0x25, 0x27,                                                  // Up Down Left Right
    0x2D, 0x24, 0x21, 0x2E, 0x23, 0x22, 0x90,                                // Ins Home PgUp Del End PgDn NumLock
    0,                                                                       // none
    0x6F, 0x6A,                                                              // keypad / *
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,              // keypad 0..9
    0x6D, 0x6B, 0, 0x6E,                                                     // keypad - + (none) .
};
static_assert(virtual_keys[_key_keypad_period] == 0x6E && virtual_keys[_key_m] == 'M');
static_assert(virtual_keys[_key_num_lock] == 0x90 && virtual_keys[_key_keypad_0 + 8] == 0x68);
static_assert(virtual_keys[_key_space] == 0x20 && virtual_keys[_key_l] == 'L' && virtual_keys[_key_p] == 'P');

// Characters by code, unshifted then shifted (US layout); 0 for none.
struct key_characters {
  char plain, shifted;
};
constexpr key_characters characters[NUMBER_OF_KEY_CODES] = {
    {27, 27},
    {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {},  // F1..F15
    {'`', '~'},
    {'1', '!'}, {'2', '@'}, {'3', '#'}, {'4', '$'}, {'5', '%'}, {'6', '^'}, {'7', '&'}, {'8', '*'}, {'9', '('},
    {'0', ')'}, {'-', '_'}, {'=', '+'}, {8, 8}, {9, 9},
    {'q', 'Q'}, {'w', 'W'}, {'e', 'E'}, {'r', 'R'}, {'t', 'T'}, {'y', 'Y'}, {'u', 'U'}, {'i', 'I'}, {'o', 'O'},
    {'p', 'P'}, {'[', '{'}, {']', '}'}, {'\\', '|'}, {},
    {'a', 'A'}, {'s', 'S'}, {'d', 'D'}, {'f', 'F'}, {'g', 'G'}, {'h', 'H'}, {'j', 'J'}, {'k', 'K'}, {'l', 'L'},
    {';', ':'}, {'\'', '"'}, {13, 13}, {},
    {'z', 'Z'}, {'x', 'X'}, {'c', 'C'}, {'v', 'V'}, {'b', 'B'}, {'n', 'N'}, {'m', 'M'},
    {',', '<'}, {'.', '>'}, {'/', '?'}, {}, {}, {}, {' ', ' '},
    {}, {}, {}, {}, {}, {}, {}, {127, 127}, {}, {}, {},  // arrows .. Num Lock (Delete types DEL)
    {},
    {'/', '/'}, {'*', '*'},
    {'0', '0'}, {'1', '1'}, {'2', '2'}, {'3', '3'}, {'4', '4'}, {'5', '5'}, {'6', '6'}, {'7', '7'}, {'8', '8'},
    {'9', '9'}, {'-', '-'}, {'+', '+'}, {}, {'.', '.'},
};
static_assert(characters[_key_keypad_0 + 8].plain == '8' && characters[_key_h].shifted == 'H');
static_assert(characters[_key_enter].plain == 13 && characters[_key_comma].plain == ',');
static_assert(characters[_key_delete].plain == 127 && characters[_key_keypad_period].plain == '.');
static_assert(characters[_key_keypad_divide].plain == '/' && characters[_key_backspace].plain == 8);
static_assert(characters[_key_space].plain == ' ' && characters[_key_slash].shifted == '?');

constexpr bool code_valid(int16_t code) { return code >= 0 && code < NUMBER_OF_KEY_CODES; }

// Each key's state is its own atomic: the frame writes, the sampler reads, with no other order
// needed between them. The cursor's two halves travel in one word so that a reader never sees x
// of one move with y of another.
std::atomic<bool> key_slots[NUMBER_OF_KEY_SLOTS];
std::atomic<bool> mouse_buttons[NUMBER_OF_MOUSE_BUTTON_SLOTS];
std::atomic<uint32_t> cursor_word{0};

int16_t right_twin_of(int16_t code) {
  switch (code) {
    case _key_shift: return _key_right_shift;
    case _key_control: return _key_right_control;
    case _key_left_windows: return _key_right_windows;
    case _key_alt: return _key_right_alt;
    default: return -1;
  }
}

}  // namespace

uint8_t keyboard_virtual_key(int16_t code) { return code_valid(code) ? virtual_keys[code] : 0; }

int16_t keyboard_code_of_virtual_key(uint8_t virtual_key) {
  if (virtual_key == 0) return -1;
  for (int16_t code = 0; code < NUMBER_OF_KEY_CODES; ++code) {
    if (virtual_keys[code] == virtual_key) return code;
  }
  return -1;
}

int16_t keyboard_character(int16_t code, bool shift, bool caps_lock) {
  if (!code_valid(code)) return -1;
  const key_characters& c = characters[code];
  if (c.plain == 0) return -1;
  const bool letter = c.plain >= 'a' && c.plain <= 'z';
  const bool shifted = letter ? shift != caps_lock : shift;
  return int16_t(static_cast<unsigned char>(shifted ? c.shifted : c.plain));
}

bool keyboard_key_repeats(int16_t code) {
  switch (code) {
    case _key_shift:
    case _key_control:
    case _key_left_windows:
    case _key_alt:
    case _key_caps_lock:
    case _key_num_lock:
      return false;
    default:
      return code_valid(code);
  }
}

void keyboard_set_key(int16_t slot, bool down) {
  if (slot >= 0 && slot < NUMBER_OF_KEY_SLOTS) key_slots[slot].store(down, std::memory_order_relaxed);
}

bool keyboard_key_is_down(int16_t code) {
  if (!code_valid(code)) return false;
  if (key_slots[code].load(std::memory_order_relaxed)) return true;
  const int16_t twin = right_twin_of(code);
  return twin >= 0 && key_slots[twin].load(std::memory_order_relaxed);
}

void keyboard_set_mouse_button(int16_t button, bool down) {
  if (button >= 0 && button < NUMBER_OF_MOUSE_BUTTON_SLOTS) mouse_buttons[button].store(down, std::memory_order_relaxed);
}

bool keyboard_mouse_button_is_down(int16_t button) {
  return button >= 0 && button < NUMBER_OF_MOUSE_BUTTON_SLOTS && mouse_buttons[button].load(std::memory_order_relaxed);
}

void keyboard_set_cursor(int16_t x, int16_t y) {
  cursor_word.store(uint32_t(uint16_t(x)) | uint32_t(uint16_t(y)) << 16, std::memory_order_relaxed);
}

void keyboard_get_cursor(int16_t* x, int16_t* y) {
  const uint32_t word = cursor_word.load(std::memory_order_relaxed);
  *x = int16_t(uint16_t(word & 0xFFFF));
  *y = int16_t(uint16_t(word >> 16));
}

void keyboard_release_all() {
  for (auto& slot : key_slots) slot.store(false, std::memory_order_relaxed);
  for (auto& button : mouse_buttons) button.store(false, std::memory_order_relaxed);
}
