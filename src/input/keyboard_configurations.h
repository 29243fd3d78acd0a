// Key binding sets: which key or mouse button sets which action bit of an input tick. Two sets are
// built in, "Right Handed" and "Left Handed"; the input preferences choose one. The observer reads
// action bits 0..9.
#pragma once

#include <cstddef>
#include <cstdint>

enum key_binding_device : int16_t {
  _binding_empty = 0,
  _binding_key = 1,
  _binding_mouse_button = 2,
};

enum {
  KEY_BINDINGS_PER_SET = 54,
  KEY_BINDING_SET_HEAD_SIZE = 96,
  KEY_BINDING_NUMBERED_FLAG = 0x20,  // 0x20 + n: the number n (0..9) travels with the action bit
  NUMBER_OF_ACTION_BITS = 64,
};

// The observer's action bits.
enum observer_action_bit : int16_t {
  _action_orbit_negative = 0,   // Q
  _action_orbit_positive = 1,   // E
  _action_forward = 2,          // W
  _action_backward = 3,         // S
  _action_turn_positive = 4,    // A
  _action_turn_negative = 5,    // D
  _action_sideways_positive = 6,  // Z
  _action_sideways_negative = 7,  // X
  _action_zoom_positive = 8,    // C
  _action_zoom_negative = 9,    // V
  _action_first_of_batch = 15,  // set by the drain on the first tick it takes
};

struct key_binding {
  int16_t device;      // key_binding_device
  int16_t key_code;    // a key code, or a mouse button 3..5
  int16_t action_bit;  // 0..63
  uint16_t flags;      // KEY_BINDING_NUMBERED_FLAG + n, or 0
};
static_assert(sizeof(key_binding) == 8);

// The input definition.
struct key_binding_set {
  char name[KEY_BINDING_SET_HEAD_SIZE];  // NUL-padded
  key_binding bindings[KEY_BINDINGS_PER_SET];
};
static_assert(sizeof(key_binding_set) == 528);
static_assert(offsetof(key_binding_set, bindings) == 96);

// A built-in set: 0 "Right Handed", 1 "Left Handed"; none otherwise.
const key_binding_set* keyboard_configuration_get(int16_t set);
// The set the input preferences choose ("Right Handed" when they are not loaded or name none).
const key_binding_set* keyboard_configuration_current();

// Whether a binding's key or button is down, asked of the caller's source.
typedef bool (*key_binding_down_procedure)(const key_binding& binding, void* context);
// The two action words of the bindings that are down: each sets its bit, and a numbered binding
// puts its number in the four bits above the bit when the bit was not yet set (when those bits fit
// in the 64). Bindings with an action bit outside 0..63 set nothing.
void keyboard_configuration_actions(const key_binding_set& set, key_binding_down_procedure down, void* context,
                                    uint32_t action_words[2]);

inline bool action_bit_is_set(const uint32_t action_words[2], int16_t bit) {
  return bit >= 0 && bit < NUMBER_OF_ACTION_BITS && (action_words[bit / 32] >> (bit % 32) & 1) != 0;
}
