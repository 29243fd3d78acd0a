#include "engine/definitions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cseries/error_manager.h"
#include "cseries/memory.h"
#include "tag_files/tag_files.h"

namespace {

constexpr const char* kUnknownName = "<unknown>";

struct free_deleter {
  void operator()(void* block) const { block_free(block); }
};
using scratch_buffer = std::unique_ptr<uint8_t, free_deleter>;

bool slot_in_use(const definition_group* group, int16_t index) {
  return group && index >= 0 && index < group->count;
}

uint8_t* record_of(const definition_group* group, int16_t index) {
  return group->definitions + static_cast<size_t>(index) * static_cast<size_t>(group->record_size);
}

// Allocation failures are fatal: post_error does not return for code 8.
void* allocate_zeroed(size_t size, const char* what, const char* group_name) {
  void* block = block_allocate(size);
  if (!block) {
    POST_ERROR(error_out_of_memory, "couldn't allocate %d bytes for %s for %s definitions.", static_cast<int>(size),
               what, group_name);
  }
  return block;
}

const char* name_of_identifier(const definition_group* group, tag identifier) {
  if (identifier == NONE_TAG) return kUnknownName;
  return tag_file_get_name(tag_file_find(group->group_tag, identifier));
}

// Reads, swaps and appends the record of a tag that is not loaded yet.
int16_t read_definition(definition_group* group, tag identifier) {
  const int32_t tag_index = tag_file_find(group->group_tag, identifier);
  if (tag_index == NONE) {
    POST_ERROR(error_file_open, "couldn't read header for %s definition '%s'.", group->name, tag_to_text(identifier).c_str());
    return -1;
  }
  scratch_buffer record(static_cast<uint8_t*>(block_allocate(static_cast<size_t>(group->record_size))));
  if (!record) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for new %s definition '%s'.", group->record_size,
               group->name, tag_file_get_name(tag_index));
    return -1;
  }
  if (!tag_file_read(tag_index, 0, group->record_size, record.get())) {
    POST_ERROR(error_file_read, "couldn't read %s definition for '%s' (%s).", group->name,
               tag_file_get_name(tag_index), tag_to_text(identifier).c_str());
    return -1;
  }
  if (group->description && !byte_swap_data(*group->description, record.get(), group->record_size, 1)) return -1;
  return definition_add(group, identifier, record.get());
}

// False when the record can't be used in the current layout (reported).
bool check_version(definition_group* group, int16_t index, int32_t tag_index) {
  const auto stored_version = static_cast<int16_t>(tag_file_get_version(tag_index));
  const char* tag_name = tag_file_get_name(tag_index);
  if (stored_version > group->version) {
    POST_ERROR(error_data_version_mismatch, "%s definition for '%s' is too new (#%d>#%d).", group->name, tag_name,
               stored_version, group->version);
    return false;
  }
  if (stored_version == group->version) return true;

  scratch_buffer copy(static_cast<uint8_t*>(block_allocate(static_cast<size_t>(group->record_size))));
  if (!copy) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes to convert '%s' definition '%s'.",
               group->record_size, group->name, tag_name);
    return false;
  }
  uint8_t* record = record_of(group, index);
  std::memcpy(copy.get(), record, static_cast<size_t>(group->record_size));
  if (!group->convert || !group->convert(group, tag_index, stored_version, copy.get(), record)) {
    POST_ERROR(error_data_version_mismatch, "%s definition for '%s' is too old (#%d<#%d).", group->name, tag_name,
               stored_version, group->version);
    return false;
  }
  return true;
}

}  // namespace

bool definitions_initialize(definition_group* group) {
  if (group->definitions) return true;
  const auto capacity = static_cast<size_t>(group->capacity);
  group->subgroup_tags = static_cast<tag*>(allocate_zeroed(capacity * sizeof(tag), "subgroup_tags", group->name));
  group->definitions = static_cast<uint8_t*>(
      allocate_zeroed(capacity * static_cast<size_t>(group->record_size), "definitions", group->name));
  group->definition_flags =
      static_cast<uint16_t*>(allocate_zeroed(capacity * sizeof(uint16_t), "definition flags", group->name));
  group->count = -1;
  if (!group->subgroup_tags || !group->definitions || !group->definition_flags) {
    definitions_dispose(group);
    return false;
  }
  return true;
}

void definitions_dispose(definition_group* group) {
  block_free(group->subgroup_tags);
  block_free(group->definitions);
  block_free(group->definition_flags);
  group->subgroup_tags = nullptr;
  group->definitions = nullptr;
  group->definition_flags = nullptr;
  group->count = -1;
}

void definitions_validate(definition_group* group) {
  if (group->count >= 0 || !group->definitions) return;
  group->count = 0;
  std::memset(group->definition_flags, 0, static_cast<size_t>(group->capacity) * sizeof(uint16_t));
}

void definitions_invalidate(definition_group* group) { group->count = -1; }

bool definitions_are_valid(const definition_group* group) { return group->count >= 0; }

int16_t definition_load(definition_group* group, tag identifier) {
  if (identifier == NONE_TAG) {
    POST_ERROR(error_data_corrupted, "tried to read non-existant (i.e., NONE) %s definition", group->name);
    return -1;
  }
  int16_t index = definition_find(group, identifier);
  if (index < 0) {
    if (group->added_only) {
      // Their module fills these records; until it has, a tag that exists counts as loaded (with a
      // zeroed record), so that a map naming its description string list still opens.
      if (tag_file_find(group->group_tag, identifier) == NONE) {
        POST_ERROR(error_data_missing, "%s definition '%s' has not been added.", group->name, tag_to_text(identifier).c_str());
        return -1;
      }
      std::vector<uint8_t> blank(static_cast<size_t>(group->record_size), 0);
      return definition_add(group, identifier, blank.data());
    }
    index = read_definition(group, identifier);
    if (index < 0) return -1;
  }
  if (group->added_only || (group->definition_flags[index] & DEFINITION_CHECKED)) return index;

  const int32_t tag_index = tag_file_find(group->group_tag, identifier);
  if (tag_index == NONE) {
    POST_ERROR(error_file_open, "couldn't read header for %s definition '%s'.", group->name, tag_to_text(identifier).c_str());
    return index;
  }
  if (!check_version(group, index, tag_index)) return index;

  group->definition_flags[index] |= DEFINITION_CHECKED;
  if (group->postprocess && !group->postprocess(group, index, tag_index, record_of(group, index))) {
    POST_ERROR(error_unknown, "%s definition postprocess failed on '%s'.", group->name, tag_file_get_name(tag_index));
  }
  return index;
}

int16_t definition_add(definition_group* group, tag identifier, const void* record) {
  if (group->count < 0 || !group->definitions) {
    POST_ERROR(error_unknown, "%s definitions are not valid; '%s' was not added.", group->name,
               name_of_identifier(group, identifier));
    return -1;
  }
  if (group->count >= group->capacity) {
    POST_ERROR(error_array_full, "there are no more free %s definitions for '%s'.", group->name,
               name_of_identifier(group, identifier));
    return -1;
  }
  const int16_t index = group->count++;
  std::memcpy(record_of(group, index), record, static_cast<size_t>(group->record_size));
  group->subgroup_tags[index] = identifier;
  group->definition_flags[index] = 0;
  return index;
}

int16_t definition_find(const definition_group* group, tag identifier) {
  for (int16_t index = static_cast<int16_t>(group->count - 1); index >= 0; --index) {
    if (group->subgroup_tags[index] == identifier) return index;
  }
  return -1;
}

void* definition_get(definition_group* group, int16_t index) {
  return slot_in_use(group, index) ? record_of(group, index) : nullptr;
}

void* definition_get_if_loaded(definition_group* group, int16_t index) {
  if (!slot_in_use(group, index) || group->subgroup_tags[index] == NONE_TAG) return nullptr;
  return record_of(group, index);
}

int32_t definition_get_tag(const definition_group* group, int16_t index) {
  if (!slot_in_use(group, index) || group->subgroup_tags[index] == NONE_TAG) return NONE;
  return tag_file_find(group->group_tag, group->subgroup_tags[index]);
}

const char* definition_get_name(const definition_group* group, int16_t index) {
  const int32_t tag_index = definition_get_tag(group, index);
  return tag_index == NONE ? kUnknownName : tag_file_get_name(tag_index);
}

bool definition_remove(definition_group* group, int16_t index) {
  if (!slot_in_use(group, index)) return false;
  group->subgroup_tags[index] = NONE_TAG;
  group->definition_flags[index] = 0;
  if (index != group->count - 1) return false;
  --group->count;
  return true;
}

void definition_mark_stale(definition_group* group, int16_t index) {
  if (slot_in_use(group, index)) group->subgroup_tags[index] = DEFINITION_STALE_IDENTIFIER;
}

void definition_enumerate_references(definition_group* group, int16_t index, definition_reference_visitor visitor,
                                     void* context) {
  if (group->references && slot_in_use(group, index)) {
    group->references(group, index, record_of(group, index), visitor, context);
  }
}

std::string definitions_usage_line(const definition_group* group) {
  const char* word = std::strstr(group->name, "definitions") ? "" : "definitions";
  char line[128];
  std::snprintf(line, sizeof(line), "%s %s: %d / %d\n", group->name, word, group->count < 0 ? 0 : group->count,
                group->capacity);
  return line;
}
