// The writing side of the map actions, for the map layer and the tools layer's operations only (a
// test refuses any other includer): every change made through these must be noted in the edit
// journal first (the whole "map actions" section). Parameters are named by (slot, parameter
// number) and elements by their number, never by address, since a resize moves blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "map/map_actions.h"

// The model as one block of native-order bytes (the journal's "map actions" section): a small
// header, every slot up to the last used one, then the used parameter bytes.
std::span<std::byte> map_actions_image();
// Puts an image back; checked like a load. False (reported, nothing changed) for bytes that are
// not an image of a sound model.
bool map_actions_restore_image(std::span<const std::byte> bytes);

// Empties the array and the buffer.
void map_actions_clear();

// A new action (with source -1: no parameters, type none, named "new action"; with a source slot:
// a copy of it and of its parameters). -1 when the array or the buffer is full.
int32_t map_action_new(int32_t source);
// A new empty action with no name, for readers that fill it in themselves. -1 when full.
int32_t map_action_new_empty();
bool map_action_delete(int32_t slot);  // frees its block; links to it are cleared to -1
void map_action_compact();             // renumbers slots, keeps identifiers
int32_t map_action_move(int32_t slot, bool up, int32_t steps = 1);  // answers the final slot
bool map_action_indent(int32_t slot, bool deeper);
bool map_action_set_indent(int32_t slot, int16_t indent);

// Sets the expiration mode (clamped to 0..5), the four flags (others kept), the name, the type
// (lower-cased, "" for none) and the trigger times (seconds, rounded to ticks). False, with
// nothing changed, for a time that is not a number of seconds in range or a full buffer.
bool map_action_set_properties(int32_t slot, const map_action_properties& properties);
bool map_action_set_record_fields(int32_t slot, int16_t expiration_mode, uint32_t flags, tag type,
                                  int32_t trigger_lower, int32_t trigger_range);
bool map_action_set_name(int32_t slot, const char* name);

// Resizes the action's block in place (the blocks behind it move). False when the net growth
// does not fit the buffer; nothing changes then.
bool map_action_resize_block(int32_t slot, int32_t new_size);

// Appends an empty parameter; its number, or -1 when the buffer is full.
int32_t map_action_add_parameter(int32_t slot, tag name, int16_t type);
int32_t map_action_add_null_parameter(int32_t slot);
// Removes every parameter with that name and type, then adds one holding count elements of data
// (zero-filled when data is empty). Its number, or -1.
int32_t map_action_replace_parameter(int32_t slot, tag name, int16_t type, int32_t count,
                                     std::span<const std::byte> data);
// New element count (-1 deletes the parameter); false when it does not fit.
bool map_action_resize_parameter(int32_t slot, int32_t parameter, int32_t count);
// Element operations; data holds native-order elements, or is empty for default values.
bool map_action_set_elements(int32_t slot, int32_t parameter, int32_t count, std::span<const std::byte> data);
bool map_action_append_elements(int32_t slot, int32_t parameter, int32_t count, std::span<const std::byte> data);
bool map_action_remove_element(int32_t slot, int32_t parameter, int32_t element);
bool map_action_set_parameter_type(int32_t slot, int32_t parameter, int16_t type);
bool map_action_set_parameter_name(int32_t slot, int32_t parameter, tag name);
// One element's value (one component of a point or rectangle).
bool map_action_set_element_value(int32_t slot, int32_t parameter, int32_t element, int32_t value,
                                  int32_t component = 0);
// Reads an element from text by its type's rule; false (nothing changed) for text that does not
// give a value in range.
bool map_action_element_from_text(int32_t slot, int32_t parameter, int32_t element, const char* text);
bool map_action_choose(int32_t slot, int32_t parameter, int32_t element, int32_t row);

// Moves every point and rectangle of every action by (dx, dy) world units.
void map_actions_shift_points(int32_t dx, int32_t dy);
