#include "tools/map_action_operations.h"

#include <algorithm>
#include <vector>

#include "map/map_action_templates.h"
#include "map/map_actions_edit.h"
#include "tools/edit_journal.h"

namespace {

// Runs one change of the actions as a journal step; the step is cancelled when it fails.
template <class Change>
auto recorded(const char* name, Change change) -> decltype(change()) {
  using result_type = decltype(change());
  constexpr bool is_flag = std::is_same_v<result_type, bool>;
  const result_type failed = is_flag ? result_type(false) : result_type(-1);
  journal_step step(name);
  if (!step.is_open() || !map_actions_are_valid()) return failed;
  edit_journal_note_section(_mesh_section_map_actions);
  const result_type result = change();
  if (result == failed) return failed;
  return step.commit() ? result : failed;
}

}  // namespace

int32_t map_action_operation_new(int32_t source) {
  return recorded(source == -1 ? "Add Map Action" : "Duplicate Map Action", [&] { return map_action_new(source); });
}

bool map_action_operation_delete(std::span<const int32_t> slots, bool compact) {
  return recorded("Delete Map Actions", [&] {
    std::vector<int32_t> ordered(slots.begin(), slots.end());
    std::sort(ordered.rbegin(), ordered.rend());
    for (int32_t slot : ordered) {
      if (!map_action_delete(slot)) return false;
    }
    if (compact) map_action_compact();
    return true;
  });
}

int32_t map_action_operation_move(int32_t slot, bool up, int32_t steps) {
  if (map_action_get(slot) == nullptr) return -1;
  return recorded("Move Map Action", [&] { return map_action_move(slot, up, steps); });
}

bool map_action_operation_indent(int32_t slot, bool deeper) {
  return recorded("Indent Map Action", [&] { return map_action_indent(slot, deeper); });
}

bool map_action_operation_set_properties(int32_t slot, const map_action_properties& properties) {
  return recorded("Edit Map Action", [&] { return map_action_set_properties(slot, properties); });
}

bool map_action_operation_set_name(int32_t slot, const char* name) {
  return recorded("Rename Map Action", [&] { return map_action_set_name(slot, name); });
}

bool map_action_operation_set_type(int32_t slot, tag type) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return false;
  const map_action kept = *action;
  return recorded("Edit Map Action", [&] {
    return map_action_set_record_fields(slot, kept.expiration_mode, kept.action_flags, type, kept.trigger_time_lower,
                                        kept.trigger_time_range);
  });
}

int32_t map_action_operation_add_parameter(int32_t slot, tag name, int16_t type) {
  return recorded("Add Parameter", [&] { return map_action_add_parameter(slot, name, type); });
}

int32_t map_action_operation_add_null_parameter(int32_t slot) {
  return recorded("Add Parameter", [&] { return map_action_add_null_parameter(slot); });
}

bool map_action_operation_delete_parameter(int32_t slot, int32_t parameter) {
  return recorded("Delete Parameter", [&] { return map_action_resize_parameter(slot, parameter, -1); });
}

bool map_action_operation_set_parameter(int32_t slot, int32_t parameter, tag name, int16_t type) {
  return recorded("Edit Parameter", [&] {
    return map_action_set_parameter_type(slot, parameter, type) && map_action_set_parameter_name(slot, parameter, name);
  });
}

bool map_action_operation_append_elements(int32_t slot, int32_t parameter, int32_t count,
                                          std::span<const std::byte> data) {
  return recorded("Add Value", [&] { return map_action_append_elements(slot, parameter, count, data); });
}

bool map_action_operation_set_elements(int32_t slot, int32_t parameter, int32_t count, std::span<const std::byte> data) {
  return recorded("Edit Values", [&] { return map_action_set_elements(slot, parameter, count, data); });
}

bool map_action_operation_remove_element(int32_t slot, int32_t parameter, int32_t element) {
  return recorded("Delete Value", [&] { return map_action_remove_element(slot, parameter, element); });
}

bool map_action_operation_set_element_value(int32_t slot, int32_t parameter, int32_t element, int32_t value,
                                            int32_t component) {
  return recorded("Edit Value", [&] { return map_action_set_element_value(slot, parameter, element, value, component); });
}

bool map_action_operation_element_from_text(int32_t slot, int32_t parameter, int32_t element, const char* text) {
  return recorded("Edit Value", [&] { return map_action_element_from_text(slot, parameter, element, text); });
}

bool map_action_operation_choose(int32_t slot, int32_t parameter, int32_t element, int32_t row) {
  return recorded("Edit Value", [&] { return map_action_choose(slot, parameter, element, row); });
}

int32_t map_action_operation_add_required_parameters(int32_t slot) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return -1;
  const map_action_template* t = map_action_template_find(action->action_type);
  if (t == nullptr) return 0;
  return recorded("Add Required Parameters", [&] {
    int32_t added = 0;
    for (const map_action_template_line& line : t->lines) {
      if (!line.required || line.type < 0 || map_action_find_parameter(slot, line.name, line.type) != -1) continue;
      if (map_action_add_parameter(slot, line.name, line.type) < 0) return int32_t(-1);
      ++added;
    }
    return added;
  });
}
