#include "input/keyboard_configurations.h"

#include "engine/preferences.h"
#include "input/keyboard.h"

namespace {

constexpr key_binding key(int16_t code, int16_t bit) { return {_binding_key, code, bit, 0}; }

// Only the observer's bits are bound: the game's own controls (bits 10 and above) have nothing to
// act on in the editor.
constexpr key_binding_set built_in_sets[NUMBER_OF_BUILT_IN_KEY_BINDING_SETS] = {
    {"Right Handed",
     {key(_key_q, _action_orbit_negative), key(_key_e, _action_orbit_positive), key(_key_w, _action_forward),
      key(_key_s, _action_backward), key(_key_a, _action_turn_positive), key(_key_d, _action_turn_negative),
      key(_key_z, _action_sideways_positive), key(_key_x, _action_sideways_negative),
      key(_key_c, _action_zoom_positive), key(_key_v, _action_zoom_negative)}},
    // The same shape under the right hand, for a mouse in the left.
    {"Left Handed",
     {key(_key_u, _action_orbit_negative), key(_key_o, _action_orbit_positive), key(_key_i, _action_forward),
      key(_key_k, _action_backward), key(_key_j, _action_turn_positive), key(_key_l, _action_turn_negative),
      key(_key_m, _action_sideways_positive), key(_key_comma, _action_sideways_negative),
      key(_key_period, _action_zoom_positive), key(_key_slash, _action_zoom_negative)}},
};

}  // namespace

const key_binding_set* keyboard_configuration_get(int16_t set) {
  return set >= 0 && set < NUMBER_OF_BUILT_IN_KEY_BINDING_SETS ? &built_in_sets[set] : nullptr;
}

const key_binding_set* keyboard_configuration_current() {
  const input_preferences* preferences = input_preferences_get();
  const key_binding_set* set = preferences ? keyboard_configuration_get(preferences->key_binding_set) : nullptr;
  return set ? set : &built_in_sets[0];
}

void keyboard_configuration_actions(const key_binding_set& set, key_binding_down_procedure down, void* context,
                                    uint32_t action_words[2]) {
  action_words[0] = action_words[1] = 0;
  for (const key_binding& binding : set.bindings) {
    if (binding.device == _binding_empty) continue;
    const int16_t bit = binding.action_bit;
    if (bit < 0 || bit >= NUMBER_OF_ACTION_BITS || !down(binding, context)) continue;
    const bool numbered = binding.flags >= KEY_BINDING_NUMBERED_FLAG && binding.flags <= KEY_BINDING_NUMBERED_FLAG + 9;
    if (numbered && bit + 4 < NUMBER_OF_ACTION_BITS && !action_bit_is_set(action_words, bit)) {
      const uint32_t number = binding.flags - KEY_BINDING_NUMBERED_FLAG;
      for (int16_t n = 0; n < 4; ++n) {
        const int16_t b = int16_t(bit + 1 + n);
        if (number >> n & 1) action_words[b / 32] |= uint32_t(1) << (b % 32);
      }
    }
    action_words[bit / 32] |= uint32_t(1) << (bit % 32);
  }
}
