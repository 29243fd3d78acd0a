#include "input/keyboard.h"

#include <gtest/gtest.h>

#include <set>

#include "input/keyboard_configurations.h"

namespace {

// Tools and typed keys compare key codes; a code read back through its character would turn
// keypad 1..9 into A..I and F1..F11 into P..Z.
TEST(Keyboard, KeypadDigitsAndFunctionKeysKeepTheirOwnCodes) {
  const int16_t keypad_8 = _key_keypad_0 + 8;
  EXPECT_EQ(keyboard_virtual_key(keypad_8), 0x68);
  EXPECT_EQ(keyboard_code_of_virtual_key(0x68), keypad_8);
  EXPECT_NE(keyboard_code_of_virtual_key(0x68), _key_h);
  EXPECT_EQ(keyboard_code_of_virtual_key('H'), _key_h);
  EXPECT_EQ(keyboard_character(keypad_8, false, false), '8');
  EXPECT_EQ(keyboard_character(keypad_8, true, true), '8');
  EXPECT_EQ(keyboard_code_of_virtual_key(0x70), _key_f1);
  EXPECT_EQ(keyboard_code_of_virtual_key('P'), _key_p);
  EXPECT_EQ(keyboard_character(_key_f1, false, false), -1);
  // Every key has one virtual key and is found again from it.
  std::set<uint8_t> seen;
  for (int16_t code = 0; code < NUMBER_OF_KEY_CODES; ++code) {
    const uint8_t virtual_key = keyboard_virtual_key(code);
    if (code == _key_none_83 || code == _key_none_98) {
      EXPECT_EQ(virtual_key, 0) << code;
      continue;
    }
    EXPECT_TRUE(seen.insert(virtual_key).second) << code;
    EXPECT_EQ(keyboard_code_of_virtual_key(virtual_key), code) << code;
  }
  EXPECT_EQ(keyboard_code_of_virtual_key(0), -1);
  EXPECT_EQ(keyboard_virtual_key(NUMBER_OF_KEY_CODES), 0);
}

TEST(Keyboard, ShiftAndCapsLockChooseTheCharacter) {
  EXPECT_EQ(keyboard_character(_key_a, false, false), 'a');
  EXPECT_EQ(keyboard_character(_key_a, true, false), 'A');
  EXPECT_EQ(keyboard_character(_key_a, false, true), 'A');
  EXPECT_EQ(keyboard_character(_key_a, true, true), 'a');
  EXPECT_EQ(keyboard_character(_key_1, false, true), '1');
  EXPECT_EQ(keyboard_character(_key_1, true, false), '!');
  EXPECT_EQ(keyboard_character(_key_space, false, false), ' ');
  EXPECT_EQ(keyboard_character(_key_shift, false, false), -1);
  EXPECT_FALSE(keyboard_key_repeats(_key_shift));
  EXPECT_FALSE(keyboard_key_repeats(_key_caps_lock));
  EXPECT_TRUE(keyboard_key_repeats(_key_w));
}

TEST(Keyboard, RightHandModifiersCountAsTheirKeyUntilFocusIsLost) {
  keyboard_set_key(_key_right_shift, true);
  keyboard_set_key(_key_right_alt, true);
  keyboard_set_key(_key_w, true);
  keyboard_set_mouse_button(_mouse_button_right, true);
  EXPECT_TRUE(keyboard_key_is_down(_key_shift));
  EXPECT_TRUE(keyboard_key_is_down(_key_alt));
  EXPECT_FALSE(keyboard_key_is_down(_key_control));
  EXPECT_FALSE(keyboard_key_is_down(_key_right_shift));  // a slot, not a code
  EXPECT_TRUE(keyboard_mouse_button_is_down(_mouse_button_right));
  keyboard_release_all();
  for (int16_t code = 0; code < NUMBER_OF_KEY_CODES; ++code) EXPECT_FALSE(keyboard_key_is_down(code)) << code;
  EXPECT_FALSE(keyboard_mouse_button_is_down(_mouse_button_right));
  // Slots outside the table are ignored, not written.
  keyboard_set_key(-1, true);
  keyboard_set_key(NUMBER_OF_KEY_SLOTS, true);
  keyboard_set_mouse_button(NUMBER_OF_MOUSE_BUTTON_SLOTS, true);
  EXPECT_FALSE(keyboard_key_is_down(NUMBER_OF_KEY_CODES));
}

TEST(Keyboard, TheCursorIsReadWhole) {
  keyboard_set_cursor(-5, 32767);
  int16_t x = 0, y = 0;
  keyboard_get_cursor(&x, &y);
  EXPECT_EQ(x, -5);
  EXPECT_EQ(y, 32767);
}

bool down_from_set(const key_binding& binding, void* context) {
  return static_cast<std::set<int16_t>*>(context)->count(binding.key_code) != 0;
}

uint64_t actions(const key_binding_set& set, std::set<int16_t> down) {
  uint32_t words[2];
  keyboard_configuration_actions(set, down_from_set, &down, words);
  return uint64_t(words[1]) << 32 | words[0];
}

TEST(Keyboard, RightHandedBindsTheObserverKeys) {
  const key_binding_set* set = keyboard_configuration_get(0);
  ASSERT_NE(set, nullptr);
  EXPECT_STREQ(set->name, "Right Handed");
  EXPECT_STREQ(keyboard_configuration_get(1)->name, "Left Handed");
  EXPECT_EQ(keyboard_configuration_get(2), nullptr);
  const int16_t keys[] = {_key_q, _key_e, _key_w, _key_s, _key_a, _key_d, _key_z, _key_x, _key_c, _key_v};
  for (int16_t bit = 0; bit < 10; ++bit) EXPECT_EQ(actions(*set, {keys[bit]}), uint64_t(1) << bit) << bit;
  EXPECT_EQ(actions(*set, {_key_w, _key_s}), 0b1100u);
  EXPECT_EQ(actions(*set, {_key_keypad_0 + 8, _key_h}), 0u);
}

TEST(Keyboard, NumberedBindingsCarryTheirNumberAboveTheBit) {
  key_binding_set set{};
  set.bindings[0] = {_binding_key, _key_1, 40, KEY_BINDING_NUMBERED_FLAG + 5};
  set.bindings[1] = {_binding_key, int16_t(_key_1 + 1), 40, KEY_BINDING_NUMBERED_FLAG + 2};  // the bit is taken: no number
  set.bindings[2] = {_binding_key, int16_t(_key_1 + 2), 62, KEY_BINDING_NUMBERED_FLAG + 9};  // no room above: the bit alone
  set.bindings[3] = {_binding_key, int16_t(_key_1 + 3), 64, 0};                              // outside the 64 bits
  set.bindings[4] = {_binding_key, int16_t(_key_1 + 4), -1, 0};
  EXPECT_EQ(actions(set, {_key_1}), uint64_t(1) << 40 | uint64_t(5) << 41);
  EXPECT_EQ(actions(set, {_key_1, int16_t(_key_1 + 1)}), uint64_t(1) << 40 | uint64_t(5) << 41);
  EXPECT_EQ(actions(set, {int16_t(_key_1 + 2)}), uint64_t(1) << 62);
  EXPECT_EQ(actions(set, {int16_t(_key_1 + 3), int16_t(_key_1 + 4)}), 0u);
}

}  // namespace
