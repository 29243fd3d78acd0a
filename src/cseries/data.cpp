#include "cseries/data.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cseries/error_manager.h"
#include "cseries/memory.h"

namespace {

declared_data_array* valid_arrays;  // head of the registry

// Records may have odd sizes, so identifiers are read and written bytewise.
uint16_t record_identifier(const std::byte* record) {
  int16_t identifier;
  std::memcpy(&identifier, record, sizeof identifier);
  return static_cast<uint16_t>(identifier);
}

void set_record_identifier(std::byte* record, uint16_t identifier) {
  const int16_t stored = static_cast<int16_t>(identifier);
  std::memcpy(record, &stored, sizeof stored);
}

std::byte* state_record(const data_array_state* state, int32_t slot) {
  return state->records + static_cast<size_t>(slot) * static_cast<size_t>(state->record_size);
}

bool state_is_valid(const data_array_state* state) { return state->records && state->high_water_mark >= 0; }

bool state_geometry_is_sound(const char* name, int16_t capacity, int16_t record_size) {
  if (name && capacity > 0 && record_size >= static_cast<int16_t>(sizeof(data_array_record_header))) return true;
  POST_ERROR(error_unknown, "bad geometry for %s data array (%d records of %d bytes).", name ? name : "<unnamed>",
             capacity, record_size);
  return false;
}

int32_t state_records_size(const data_array_state* state) {
  return static_cast<int32_t>(state->capacity) * static_cast<int32_t>(state->record_size);
}

// Hands out the counter's value and advances it; it runs 0x8000..0xFFFF and starts over, never 0.
uint16_t state_take_identifier(data_array_state* state) {
  if (state->next_identifier < DATA_IDENTIFIER_FIRST) state->next_identifier = DATA_IDENTIFIER_FIRST;
  const uint16_t identifier = state->next_identifier;
  state->next_identifier = identifier == 0xFFFF ? DATA_IDENTIFIER_FIRST : static_cast<uint16_t>(identifier + 1);
  return identifier;
}

void state_empty(data_array_state* state) {
  std::memset(state->records, 0, static_cast<size_t>(state_records_size(state)));
  state->search_start = 0;
  state->high_water_mark = 0;
  state->used_count = 0;
  state->next_identifier = DATA_IDENTIFIER_FIRST;
}

// The record of a used slot below the high-water mark, else none.
std::byte* state_used_record(const data_array_state* state, int32_t slot) {
  if (!state_is_valid(state) || slot < 0 || slot >= state->high_water_mark) return nullptr;
  std::byte* record = state_record(state, slot);
  return record_identifier(record) ? record : nullptr;
}

std::byte* state_checked_record(const data_array_state* state, int32_t slot, int32_t identifier) {
  std::byte* record = state_used_record(state, slot);
  return record && record_identifier(record) == static_cast<uint16_t>(identifier) ? record : nullptr;
}

int32_t state_new_element(data_array_state* state) {
  if (!state_is_valid(state)) return DATA_ARRAY_NONE;
  for (int32_t slot = state->search_start; slot < state->capacity; ++slot) {
    std::byte* record = state_record(state, slot);
    if (record_identifier(record)) continue;
    std::memset(record, 0, static_cast<size_t>(state->record_size));
    set_record_identifier(record, state_take_identifier(state));
    state->used_count++;
    state->search_start = static_cast<int16_t>(slot + 1);
    if (state->high_water_mark < slot + 1) state->high_water_mark = static_cast<int16_t>(slot + 1);
    return slot;
  }
  return DATA_ARRAY_NONE;
}

// Deleting a free slot is refused: it would otherwise count the slot out twice.
bool state_delete_element(data_array_state* state, int32_t slot) {
  std::byte* record = state_used_record(state, slot);
  if (!record) return false;
  set_record_identifier(record, 0);
  if (state->search_start > slot) state->search_start = static_cast<int16_t>(slot);
  if (slot + 1 == state->high_water_mark) {
    int32_t mark = slot;
    while (mark > 0 && !record_identifier(state_record(state, mark - 1))) --mark;
    state->high_water_mark = static_cast<int16_t>(mark);
  }
  state->used_count--;
  return true;
}

void state_compact(data_array_state* state) {
  if (!state_is_valid(state)) return;
  const size_t record_size = static_cast<size_t>(state->record_size);
  int32_t used = 0;
  for (int32_t slot = 0; slot < state->high_water_mark; ++slot) {
    std::byte* record = state_record(state, slot);
    if (!record_identifier(record)) continue;
    if (slot != used) std::memmove(state_record(state, used), record, record_size);
    ++used;
  }
  std::memset(state_record(state, used), 0, static_cast<size_t>(state->capacity - used) * record_size);
  state->search_start = state->high_water_mark = state->used_count = static_cast<int16_t>(used);
}

bool state_identifier_used_elsewhere(const data_array_state* state, int32_t slot, uint16_t identifier) {
  for (int32_t other = 0; other < state->high_water_mark; ++other) {
    if (other != slot && record_identifier(state_record(state, other)) == identifier) return true;
  }
  return false;
}

// Stored identifiers are outside data: one that is 0 or lacks the top bit would make a used slot
// look free, and a duplicate would let two live records answer the same reference, so both get a
// fresh identifier that no other record holds.
int32_t state_restore(data_array_state* state, std::span<const std::byte> records) {
  if (!state_is_valid(state)) return 0;
  const size_t record_size = static_cast<size_t>(state->record_size);
  const size_t count = records.size() / record_size;
  int32_t restored = 0;
  for (size_t index = 0; index < count; ++index) {
    const int32_t slot = state_new_element(state);
    if (slot == DATA_ARRAY_NONE) break;
    std::byte* record = state_record(state, slot);
    std::memcpy(record, records.data() + index * record_size, record_size);
    uint16_t identifier = record_identifier(record);
    if (!(identifier & DATA_IDENTIFIER_FIRST) || state_identifier_used_elsewhere(state, slot, identifier)) {
      do {
        identifier = state_take_identifier(state);
      } while (state_identifier_used_elsewhere(state, slot, identifier));
    } else if (identifier >= state->next_identifier) {
      state->next_identifier = identifier == 0xFFFF ? DATA_IDENTIFIER_FIRST : static_cast<uint16_t>(identifier + 1);
    }
    set_record_identifier(record, identifier);
    ++restored;
  }
  return restored;
}

std::string state_usage_line(const data_array_state* state) {
  char line[96];
  std::snprintf(line, sizeof line, "%ss: %d / %d\n", state->name ? state->name : "", state->used_count,
                state->capacity);
  return line;
}

void registry_remove(declared_data_array* array) {
  if (!array->registered) return;
  for (declared_data_array** link = &valid_arrays; *link; link = &(*link)->next_valid) {
    if (*link == array) {
      *link = array->next_valid;
      break;
    }
  }
  array->next_valid = nullptr;
  array->registered = false;
}

void registry_add(declared_data_array* array) {
  if (array->registered) return;
  array->next_valid = valid_arrays;
  valid_arrays = array;
  array->registered = true;
}

bool created_is_alive(const created_data_array* array) { return array && array->signature == DATA_ARRAY_SIGNATURE; }

data_array_state* created_state(created_data_array* array) {
  return created_is_alive(array) ? &array->state : nullptr;
}

// The records start at the first maximally aligned offset after the header.
constexpr size_t created_records_offset() {
  constexpr size_t alignment = alignof(std::max_align_t);
  return (sizeof(created_data_array) + alignment - 1) / alignment * alignment;
}

}  // namespace

// ---- declared arrays ----

bool data_array_allocate(declared_data_array* array) {
  if (!array) return false;
  data_array_dispose(array);
  data_array_state* state = &array->state;
  if (!state_geometry_is_sound(state->name, state->capacity, state->record_size) || array->globals_size < 0) return false;
  const int32_t records_size = state_records_size(state);
  state->records = static_cast<std::byte*>(block_allocate(static_cast<size_t>(records_size)));
  if (!state->records) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for %s data array.", records_size, state->name);
    return false;
  }
  if (array->globals_size > 0) {
    array->globals = block_allocate(static_cast<size_t>(array->globals_size));
    if (!array->globals) {
      POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for %s globals.", array->globals_size, state->name);
      data_array_dispose(array);
      return false;
    }
  }
  state->high_water_mark = -1;
  return true;
}

void data_array_dispose(declared_data_array* array) {
  if (!array) return;
  registry_remove(array);
  block_free(array->state.records);
  block_free(array->globals);
  array->state.records = nullptr;
  array->globals = nullptr;
  array->state.high_water_mark = -1;
}

bool data_array_validate(declared_data_array* array) {
  if (!array || !array->state.records) return false;
  state_empty(&array->state);
  registry_add(array);
  return true;
}

void data_array_invalidate(declared_data_array* array) {
  if (!array) return;
  array->state.high_water_mark = -1;
  registry_remove(array);
}

bool data_array_reset(declared_data_array* array) {
  data_array_invalidate(array);
  return data_array_validate(array);
}

bool data_array_is_valid(const declared_data_array* array) { return array && state_is_valid(&array->state); }

int32_t data_array_new_element(declared_data_array* array) {
  return array ? state_new_element(&array->state) : DATA_ARRAY_NONE;
}

bool data_array_delete_element(declared_data_array* array, int32_t slot) {
  return array && state_delete_element(&array->state, slot);
}

void* data_array_get(declared_data_array* array, int32_t slot) {
  return array ? state_used_record(&array->state, slot) : nullptr;
}

void* data_array_get_checked(declared_data_array* array, int32_t slot, int32_t identifier) {
  return array ? state_checked_record(&array->state, slot, identifier) : nullptr;
}

void data_array_compact(declared_data_array* array) {
  if (array) state_compact(&array->state);
}

int32_t data_array_restore(declared_data_array* array, std::span<const std::byte> records) {
  return array ? state_restore(&array->state, records) : 0;
}

std::string data_array_usage_line(const declared_data_array* array) {
  return array ? state_usage_line(&array->state) : std::string();
}

declared_data_array* data_array_registry_next(const declared_data_array* previous) {
  return previous ? previous->next_valid : valid_arrays;
}

// ---- created arrays ----

created_data_array* data_array_new(const char* name, int16_t capacity, int16_t record_size) {
  if (!state_geometry_is_sound(name, capacity, record_size)) return nullptr;
  const int32_t records_size = static_cast<int32_t>(capacity) * record_size;
  const size_t block_size = created_records_offset() + static_cast<size_t>(records_size);
  void* block = block_allocate(block_size);
  if (!block) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for %s data array.", static_cast<int>(block_size), name);
    return nullptr;
  }
  auto* array = new (block) created_data_array{};
  array->signature = DATA_ARRAY_SIGNATURE;
  std::snprintf(array->name, sizeof array->name, "%s", name);
  array->state = {array->name, capacity, record_size, 0, -1, 0, DATA_IDENTIFIER_FIRST,
                  static_cast<std::byte*>(block) + created_records_offset()};
  data_array_validate(array);
  return array;
}

void data_array_dispose(created_data_array*& array) {
  if (created_is_alive(array)) {
    array->signature = 0;  // a dangling pointer to it no longer passes for an array
    array->~created_data_array();
    block_free(array);
  }
  array = nullptr;
}

bool data_array_validate(created_data_array* array) {
  data_array_state* state = created_state(array);
  if (!state) return false;
  state_empty(state);
  array->valid = 1;
  return true;
}

void data_array_invalidate(created_data_array* array) {
  if (data_array_state* state = created_state(array)) {
    state->high_water_mark = -1;
    array->valid = 0;
  }
}

bool data_array_reset(created_data_array* array) {
  data_array_invalidate(array);
  return data_array_validate(array);
}

bool data_array_is_valid(const created_data_array* array) {
  return created_is_alive(array) && array->valid && state_is_valid(&array->state);
}

int32_t data_array_handle(const created_data_array* array, int32_t slot) {
  if (!created_is_alive(array)) return DATA_ARRAY_NONE;
  const std::byte* record = state_used_record(&array->state, slot);
  if (!record) return DATA_ARRAY_NONE;
  return static_cast<int32_t>(static_cast<uint32_t>(record_identifier(record)) << 16 | static_cast<uint32_t>(slot));
}

int32_t data_array_new_element(created_data_array* array) {
  data_array_state* state = created_state(array);
  if (!state) return DATA_ARRAY_NONE;
  const int32_t slot = state_new_element(state);
  return slot == DATA_ARRAY_NONE ? DATA_ARRAY_NONE : data_array_handle(array, slot);
}

void* data_array_get(created_data_array* array, int32_t handle) {
  data_array_state* state = created_state(array);
  return state ? state_used_record(state, data_array_handle_slot(handle)) : nullptr;
}

void* data_array_get_checked(created_data_array* array, int32_t slot, int32_t identifier) {
  data_array_state* state = created_state(array);
  return state ? state_checked_record(state, slot, identifier) : nullptr;
}

void* data_array_get_checked(created_data_array* array, int32_t handle) {
  const uint16_t identifier = data_array_handle_identifier(handle);
  if (!identifier) return data_array_get(array, handle);
  return data_array_get_checked(array, data_array_handle_slot(handle), identifier);
}

bool data_array_delete_element(created_data_array* array, int32_t handle) {
  if (!data_array_get_checked(array, handle)) return false;
  return state_delete_element(&array->state, data_array_handle_slot(handle));
}

void data_array_compact(created_data_array* array) {
  if (data_array_state* state = created_state(array)) state_compact(state);
}

int32_t data_array_restore(created_data_array* array, std::span<const std::byte> records) {
  data_array_state* state = created_state(array);
  return state ? state_restore(state, records) : 0;
}

std::string data_array_usage_line(const created_data_array* array) {
  return created_is_alive(array) ? state_usage_line(&array->state) : std::string();
}

// ---- iteration ----

const data_array_state* data_array_state_of(const declared_data_array* array) {
  return array ? &array->state : nullptr;
}

const data_array_state* data_array_state_of(const created_data_array* array) {
  return created_is_alive(array) ? &array->state : nullptr;
}

int32_t data_array_next_used(const data_array_state* state, int32_t slot) {
  if (!state || !state_is_valid(state)) return DATA_ARRAY_NONE;
  for (int32_t next = slot < 0 ? 0 : slot + 1; next < state->high_water_mark; ++next) {
    if (record_identifier(state_record(state, next))) return next;
  }
  return DATA_ARRAY_NONE;
}
