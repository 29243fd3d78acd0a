// Fixed-capacity arrays of records. Nothing is allocated per element: every record starts with a
// 16-bit identifier (0 = free slot, otherwise a value with the top bit set taken from the array's
// counter), so a stale reference to a reused slot can be told from a live one.
//
// Two forms share one set of counters and one implementation:
// - declared arrays: a static descriptor in the owning module, allocated once at initialisation,
//   validated when a level loads and invalidated when it is disposed; they speak in bare slots.
// - created arrays: made at run time (header and records in one block); they speak in handles,
//   slot in the low 16 bits and identifier in the high 16 bits. Identifiers have their top bit set,
//   so a live handle is a negative int32: compare handles with DATA_ARRAY_NONE, never with < 0.
//   A handle whose high half is 0 is a bare slot and its identifier is not checked.
//
// Not thread-safe: every user runs on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

enum : int32_t { DATA_ARRAY_NONE = -1 };

constexpr uint32_t DATA_ARRAY_SIGNATURE = 0x64407440;
constexpr uint16_t DATA_IDENTIFIER_FIRST = 0x8000;
constexpr int MAXIMUM_DATA_ARRAY_NAME_LENGTH = 17;  // declared names
constexpr int CREATED_DATA_ARRAY_NAME_SIZE = 32;   // created names are copied, NUL included

// The head of every record.
struct data_array_record_header {
  int16_t identifier;
};
static_assert(sizeof(data_array_record_header) == 2);

// The counters both forms keep; high_water_mark is -1 while the array is not valid.
struct data_array_state {
  const char* name;
  int16_t capacity;
  int16_t record_size;  // identifier included
  int16_t search_start;
  int16_t high_water_mark;
  int16_t used_count;
  uint16_t next_identifier;
  std::byte* records;  // capacity * record_size bytes
};

struct declared_data_array {
  data_array_state state;
  int16_t globals_size;  // 0 = no globals block
  void* globals;
  declared_data_array* next_valid;  // registry link
  bool registered;
};

struct created_data_array {
  uint32_t signature;  // DATA_ARRAY_SIGNATURE while alive
  uint8_t valid;       // set by the first validate
  data_array_state state;
  char name[CREATED_DATA_ARRAY_NAME_SIZE];
  // the records follow in the same allocation
};

// A static descriptor for the owning module:
//   static declared_data_array fire_cells = data_array_declare("fire cell", 64, sizeof(fire_cell));
constexpr declared_data_array data_array_declare(const char* name, int16_t capacity, int16_t record_size,
                                                 int16_t globals_size = 0) {
  return declared_data_array{{name, capacity, record_size, 0, -1, 0, DATA_IDENTIFIER_FIRST, nullptr},
                             globals_size, nullptr, nullptr, false};
}

// ---- declared arrays (bare slots) ----

// Allocates zero-filled records (and globals); the array is left not valid. Failures are reported
// with code 8; false.
bool data_array_allocate(declared_data_array* array);
// Frees the storage and takes the array out of the registry (tests and shutdown).
void data_array_dispose(declared_data_array* array);
// Empties it (every slot free, identifier counter 0x8000) and adds it to the registry.
bool data_array_validate(declared_data_array* array);
void data_array_invalidate(declared_data_array* array);
bool data_array_reset(declared_data_array* array);
bool data_array_is_valid(const declared_data_array* array);

// The slot of a fresh zero-filled record, or DATA_ARRAY_NONE when full (not reported).
int32_t data_array_new_element(declared_data_array* array);
// False (and nothing changes) when the slot is out of range or already free.
bool data_array_delete_element(declared_data_array* array, int32_t slot);
// The record, or none when the slot is free, out of range or the array not valid.
void* data_array_get(declared_data_array* array, int32_t slot);
// As data_array_get, and none when the slot's identifier differs (compared on its 16 bits).
void* data_array_get_checked(declared_data_array* array, int32_t slot, int32_t identifier);
void data_array_compact(declared_data_array* array);
// Adds stored records (records.size() / record size of them) keeping their identifiers where they
// are unique; a duplicate or malformed identifier is replaced by a fresh one. Records that do not
// fit are skipped. Answers how many were added.
int32_t data_array_restore(declared_data_array* array, std::span<const std::byte> records);
// "%ss: %d / %d\n" with the name, the used count and the capacity.
std::string data_array_usage_line(const declared_data_array* array);

// The registry of valid declared arrays: pass none to get the first, then the previous one.
declared_data_array* data_array_registry_next(const declared_data_array* previous);

// ---- created arrays (handles) ----

// Header plus zero-filled records in one block, already valid; none on failure.
created_data_array* data_array_new(const char* name, int16_t capacity, int16_t record_size);
// Frees it and sets the caller's reference to none.
void data_array_dispose(created_data_array*& array);
bool data_array_validate(created_data_array* array);
void data_array_invalidate(created_data_array* array);
bool data_array_reset(created_data_array* array);
bool data_array_is_valid(const created_data_array* array);

// A handle, or DATA_ARRAY_NONE when full.
int32_t data_array_new_element(created_data_array* array);
// False (and nothing changes) for a free slot or a stale handle.
bool data_array_delete_element(created_data_array* array, int32_t handle);
// Uses only the slot half of the handle.
void* data_array_get(created_data_array* array, int32_t handle);
// Checks the handle's identifier unless the high half is 0.
void* data_array_get_checked(created_data_array* array, int32_t handle);
void* data_array_get_checked(created_data_array* array, int32_t slot, int32_t identifier);
void data_array_compact(created_data_array* array);
int32_t data_array_restore(created_data_array* array, std::span<const std::byte> records);
std::string data_array_usage_line(const created_data_array* array);

// The handle of a used slot, DATA_ARRAY_NONE for a free one.
int32_t data_array_handle(const created_data_array* array, int32_t slot);

constexpr int32_t data_array_handle_slot(int32_t handle) { return handle & 0xFFFF; }
constexpr uint16_t data_array_handle_identifier(int32_t handle) {
  return static_cast<uint16_t>(static_cast<uint32_t>(handle) >> 16);
}

// ---- iteration: slots 0 up to the high-water mark, skipping free ones ----

const data_array_state* data_array_state_of(const declared_data_array* array);
const data_array_state* data_array_state_of(const created_data_array* array);

// The next used slot after `slot` (pass -1 to start), or DATA_ARRAY_NONE.
int32_t data_array_next_used(const data_array_state* state, int32_t slot);

struct data_array_slot_range {
  const data_array_state* state;
  struct iterator {
    const data_array_state* state;
    int32_t slot;
    int32_t operator*() const { return slot; }
    iterator& operator++() {
      slot = data_array_next_used(state, slot);
      return *this;
    }
    bool operator==(const iterator& other) const { return slot == other.slot; }
  };
  iterator begin() const { return {state, data_array_next_used(state, -1)}; }
  iterator end() const { return {state, DATA_ARRAY_NONE}; }
};

// for (int32_t slot : data_array_used_slots(&objects)) ...
// Deleting the current slot while walking is fine; adding elements may or may not be visited.
template <class Array>
data_array_slot_range data_array_used_slots(const Array* array) {
  return {data_array_state_of(array)};
}

// ---- typed access ----

// True when a T (which starts with the identifier) fits in one of the array's records.
template <class T, class Array>
bool data_array_record_fits(const Array* array) {
  static_assert(std::is_standard_layout_v<T> && sizeof(T) >= sizeof(int16_t));
  const data_array_state* state = data_array_state_of(array);
  return state && sizeof(T) <= static_cast<size_t>(state->record_size);
}

// The record as T, or none (also when T is larger than the record size).
template <class T, class Array>
T* data_array_get_as(Array* array, int32_t slot_or_handle) {
  return data_array_record_fits<T>(array) ? static_cast<T*>(data_array_get(array, slot_or_handle)) : nullptr;
}

template <class T>
T* data_array_get_checked_as(created_data_array* array, int32_t handle) {
  return data_array_record_fits<T>(array) ? static_cast<T*>(data_array_get_checked(array, handle)) : nullptr;
}

template <class T>
T* data_array_get_checked_as(declared_data_array* array, int32_t slot, int32_t identifier) {
  return data_array_record_fits<T>(array) ? static_cast<T*>(data_array_get_checked(array, slot, identifier))
                                          : nullptr;
}
