// Typed definitions: the fixed-size record at the start of a tag's data, loaded once per level and
// shared by a small index. Each kind is a definition group: a static descriptor with the group tag,
// version, capacity, record size, byte-swap description and the owning module's procedures. The
// 28 groups are declared in engine/definition_groups.h.
#pragma once

#include <cstdint>
#include <string>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"

struct definition_group;

// Called once per tag a record names: the group and identifier, the int16 in the record that
// receives the loaded definition's index, and a 0/1 kind flag.
typedef void (*definition_reference_visitor)(tag group_tag, tag identifier, int16_t* definition_index, int16_t kind,
                                             void* context);
typedef void (*definition_references_procedure)(definition_group* group, int16_t index, void* record,
                                                definition_reference_visitor visitor, void* context);
// Resolves references and loads further data once the record is in the table.
typedef bool (*definition_postprocess_procedure)(definition_group* group, int16_t index, int32_t tag_index,
                                                 void* record);
// Rewrites a record of an older stored version in place into the current layout.
typedef bool (*definition_convert_procedure)(definition_group* group, int32_t tag_index, int16_t stored_version,
                                             const void* stored_copy, void* record);

enum : uint16_t { DEFINITION_CHECKED = 1 };  // version checked and postprocessed

// A stale slot's identifier: no tag has it, so no later load finds the slot.
inline constexpr tag DEFINITION_STALE_IDENTIFIER = 0x3F3F3F3F;

struct definition_group {
  const char* name;  // singular, as in messages: "ambient sound"
  tag group_tag;
  int16_t version;
  int16_t capacity;
  int16_t record_size;
  // Installed by the owning module (none = not used).
  definition_references_procedure references;
  definition_postprocess_procedure postprocess;
  definition_convert_procedure convert;
  const byte_swap_description* description;  // none: the record is used as read
  // Groups whose records are only added by their module, never read from tags.
  bool added_only;

  // State, set by definitions_initialize.
  uint8_t* definitions;     // capacity * record_size bytes
  tag* subgroup_tags;       // the identifier loaded into each slot
  uint16_t* definition_flags;
  int16_t count;            // slots in use; -1 while not valid
};

// A descriptor before initialisation, constant-initialised so that its procedures are in place
// whoever initialises it.
constexpr definition_group definition_group_declare(const char* name, tag group_tag, int16_t version, int16_t capacity,
                                                    int16_t record_size,
                                                    const byte_swap_description* description = nullptr,
                                                    definition_references_procedure references = nullptr,
                                                    definition_postprocess_procedure postprocess = nullptr,
                                                    bool added_only = false) {
  return definition_group{name,       group_tag,  version, capacity, record_size, references, postprocess,
                          nullptr,    description, added_only, nullptr, nullptr,   nullptr,   -1};
}

// Allocates the slot arrays and the records (failures are fatal, code 8); the group starts not
// valid. Idempotent.
bool definitions_initialize(definition_group* group);
// Frees them again (tests and shutdown).
void definitions_dispose(definition_group* group);
// Not valid: count 0 and every slot's flags cleared. Valid: left as it is.
void definitions_validate(definition_group* group);
// count -1; the records stay allocated.
void definitions_invalidate(definition_group* group);
bool definitions_are_valid(const definition_group* group);

// Loads by tag identifier (or finds it loaded), checks the version, converts and postprocesses
// once. The index, or -1 when the tag can't be found or read or the table is full. A definition
// whose version check or postprocess failed still answers its index (the failure is reported).
int16_t definition_load(definition_group* group, tag identifier);
// Appends a copy of a record; -1 when full ("there are no more free %s definitions for '%s'.").
int16_t definition_add(definition_group* group, tag identifier, const void* record);
// Searches the used slots from the last to the first; -1 when absent.
int16_t definition_find(const definition_group* group, tag identifier);
// The record of a used slot; none out of range.
void* definition_get(definition_group* group, int16_t index);
// None also when the slot's identifier is NONE.
void* definition_get_if_loaded(definition_group* group, int16_t index);
// The visible tag of the slot's identifier, or NONE.
int32_t definition_get_tag(const definition_group* group, int16_t index);
// The tag's name, or "<unknown>".
const char* definition_get_name(const definition_group* group, int16_t index);
// Removing the last slot shrinks the count (true); any other slot only loses its identifier.
bool definition_remove(definition_group* group, int16_t index);
void definition_mark_stale(definition_group* group, int16_t index);
// Calls the group's references procedure for a loaded record (nothing when it has none).
void definition_enumerate_references(definition_group* group, int16_t index, definition_reference_visitor visitor,
                                     void* context);

// "%s %s: %d / %d\n": name, "definitions" unless the name holds that word, count, capacity.
std::string definitions_usage_line(const definition_group* group);

template <class T>
T* definition_get_as(definition_group* group, int16_t index) {
  return sizeof(T) <= static_cast<size_t>(group->record_size) ? static_cast<T*>(definition_get(group, index))
                                                              : nullptr;
}
