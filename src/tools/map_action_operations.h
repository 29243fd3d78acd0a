// The recorded ways to change the open map's actions: each is one step of the edit journal (joining
// an enclosing step) that keeps the whole "map actions" section, so Undo takes it back. Slots,
// parameter numbers and element numbers are those of map/map_actions.h. Each answers false (or -1)
// and changes nothing when the model refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "map/map_actions.h"

int32_t map_action_operation_new(int32_t source);  // the new slot, or -1
// Deletes the slots (links to them are cleared) and, when compact is set, compacts the array.
bool map_action_operation_delete(std::span<const int32_t> slots, bool compact);
int32_t map_action_operation_move(int32_t slot, bool up, int32_t steps);
bool map_action_operation_indent(int32_t slot, bool deeper);
bool map_action_operation_set_properties(int32_t slot, const map_action_properties& properties);
bool map_action_operation_set_name(int32_t slot, const char* name);
// Sets the type code exactly as given (no lower-casing): a code whose template is missing is kept.
bool map_action_operation_set_type(int32_t slot, tag type);
int32_t map_action_operation_add_parameter(int32_t slot, tag name, int16_t type);
int32_t map_action_operation_add_null_parameter(int32_t slot);
bool map_action_operation_delete_parameter(int32_t slot, int32_t parameter);
bool map_action_operation_set_parameter(int32_t slot, int32_t parameter, tag name, int16_t type);
bool map_action_operation_append_elements(int32_t slot, int32_t parameter, int32_t count,
                                          std::span<const std::byte> data);
bool map_action_operation_set_elements(int32_t slot, int32_t parameter, int32_t count,
                                       std::span<const std::byte> data);
bool map_action_operation_remove_element(int32_t slot, int32_t parameter, int32_t element);
bool map_action_operation_set_element_value(int32_t slot, int32_t parameter, int32_t element, int32_t value,
                                            int32_t component = 0);
bool map_action_operation_element_from_text(int32_t slot, int32_t parameter, int32_t element, const char* text);
bool map_action_operation_choose(int32_t slot, int32_t parameter, int32_t element, int32_t row);
// Gives the action an empty parameter for every required line of its template it lacks; the
// number added, or -1 when the buffer is full (nothing added then).
int32_t map_action_operation_add_required_parameters(int32_t slot);
