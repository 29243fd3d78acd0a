#include "tools/vellgrim_connectors.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cseries/data.h"
#include "cseries/error_manager.h"
#include "cseries/memory.h"
#include "engine/definition_groups.h"
#include "engine/definitions.h"
#include "map/marker_utils.h"
#include "map/mesh_edit.h"
#include "render/collection_references.h"
#include "tools/connector_selection.h"
#include "tools/edit_journal.h"
#include "tag_files/tag_files.h"
#include "tools/map_session.h"

namespace {

// What is not map state: collecting, and the chain being collected. It never shares storage with
// the committed table, so removals and splits cannot overwrite it.
struct connecting_globals {
  int32_t creating;
  connector_record collected;
};

connecting_globals* globals = nullptr;

declared_data_array display_array =
    data_array_declare("connectors", MAXIMUM_CONNECTORS_PER_MAP, CONNECTOR_DISPLAY_RECORD_SIZE);

using connector_table = std::vector<connector_record>;

connector_table committed_table() {
  connector_table table;
  const mesh_definition* header = mesh_header();
  const int16_t* words = mesh_connectors();
  if (!header || !words) return table;
  const int32_t count = std::clamp<int32_t>(header->connector_count, 0, MAXIMUM_CONNECTORS_PER_MAP);
  table.resize(size_t(count));
  std::memcpy(table.data(), words, table.size() * sizeof(connector_record));
  return table;
}

// The table as one journal step (joining an enclosing one, such as a marker's deletion).
bool write_table(const char* step_name, const connector_table& table) {
  journal_step step(step_name);
  if (!step.is_open()) return false;
  edit_journal_note_section(_mesh_section_connectors);
  if (!mesh_section_replace(_mesh_section_connectors, std::as_bytes(std::span(table)))) return false;
  return step.commit();
}

bool definitions_loaded() {
  const mesh_definition* header = mesh_header();
  return header && header->connector_definitions_index != NONE &&
         definition_get_if_loaded(&connector_definitions, header->connector_definitions_index) != nullptr;
}

void forget_collected() {
  if (!globals) return;
  globals->creating = 0;
  globals->collected.chain_length = 0;
}

// Takes every occurrence of the identifier out of the chain, the rest moving up.
bool erase_identifier(connector_record& record, int16_t identifier) {
  int16_t* begin = record.marker_identifiers;
  int16_t* end = begin + std::clamp<int16_t>(record.chain_length, 0, MAXIMUM_MARKERS_PER_CONNECTOR);
  int16_t* kept = std::remove(begin, end, identifier);
  if (kept == end) return false;
  record.chain_length = int16_t(kept - begin);
  std::fill(kept, end, int16_t(0));
  return true;
}

int16_t position_in(const connector_record& record, int16_t identifier) {
  const int16_t length = std::clamp<int16_t>(record.chain_length, 0, MAXIMUM_MARKERS_PER_CONNECTOR);
  for (int16_t at = 0; at < length; ++at) {
    if (record.marker_identifiers[at] == identifier) return at;
  }
  return NONE;
}

// ---- the map session and the definitions ----

void session_opened() { connectors_open(); }
bool session_saving() { return connectors_store(); }
void session_closing() {
  forget_collected();
  connector_selection_clear();
  if (data_array_is_valid(&display_array)) data_array_reset(&display_array);
}
const map_session_client session_client = {"connectors", session_opened, session_saving, session_closing};

// Every deletion of a marker, whatever its path, first takes it out of the chains (the selection
// goes with the record).
void marker_deleting(const marker_data& marker) { connector_remove_marker(marker); }

// The band's look: the collection reference is loaded with the definition. A reference that
// can't load leaves the band without look, not the map unopened.
bool connector_definition_postprocess(definition_group*, int16_t, int32_t tag_index, void* record) {
  auto& definition = *static_cast<connector_definition*>(record);
  definition.collection_reference_index = NONE;
  if (definition.collection_reference_tag == NONE_TAG) return true;
  definition.collection_reference_index =
      definition_load(&collection_reference_definitions, definition.collection_reference_tag);
  if (definition.collection_reference_index == NONE) {
    log_note("vellgrim_connectors", __LINE__, "connector definition %s: its collection reference did not load.",
             tag_file_get_name(tag_index));
  }
  return true;
}

void connector_definition_references(definition_group*, int16_t, void* record, definition_reference_visitor visitor,
                                     void* context) {
  auto& definition = *static_cast<connector_definition*>(record);
  if (definition.collection_reference_tag != NONE_TAG) {
    visitor(collection_reference_definitions.group_tag, definition.collection_reference_tag,
            &definition.collection_reference_index, 0, context);
  }
}

int16_t color_table_of(int16_t definition_index) {
  auto* definition =
      static_cast<const connector_definition*>(definition_get_if_loaded(&connector_definitions, definition_index));
  if (!definition || definition->collection_reference_index == NONE) return NONE;
  auto* reference = static_cast<const collection_reference_definition*>(
      definition_get_if_loaded(&collection_reference_definitions, definition->collection_reference_index));
  return reference ? reference->shading_tables[0] : int16_t(NONE);
}

// A scenery marker's object by identifier, for every post of every chain in one pass.
struct post_object {
  int16_t identifier, object_index, object_identifier;
  bool operator<(const post_object& other) const { return identifier < other.identifier; }
};

}  // namespace

// ---- life ----

bool connectors_initialize() {
  if (globals) return true;
  globals = static_cast<connecting_globals*>(block_allocate(sizeof(connecting_globals)));
  if (!globals) {
    POST_ERROR(error_out_of_memory, "couldn't allocate #%d bytes for connecting globals.",
               int(sizeof(connecting_globals)));
    handle_error();
    return false;
  }
  if (!data_array_allocate(&display_array)) {
    block_free(globals);
    globals = nullptr;
    return false;
  }
  connector_definitions.postprocess = connector_definition_postprocess;
  connector_definitions.references = connector_definition_references;
  markers_set_delete_listener(marker_deleting);
  return map_session_register(&session_client);
}

void connectors_open() {
  forget_collected();
  connector_selection_clear();
  connectors_build_all();
}

bool connectors_store() {
  const mesh_definition* header = mesh_header();
  if (!header) return true;
  const bool consistent = header->connector_count >= 0 && header->connector_count <= MAXIMUM_CONNECTORS_PER_MAP &&
                          header->connectors_size == header->connector_count * CONNECTOR_RECORD_SIZE &&
                          (header->connector_count == 0 || mesh_connectors() != nullptr);
  if (!consistent) {
    POST_ERROR(error_data_mismatch, "the connectors of %s (%d, #%d bytes) don't match their section; not saved.",
               map_name(), header->connector_count, header->connectors_size);
    return false;
  }
  return true;
}

// ---- the committed chains ----

int32_t connector_count() {
  const mesh_definition* header = mesh_header();
  if (!header || !mesh_connectors()) return 0;
  return std::clamp<int32_t>(header->connector_count, 0, MAXIMUM_CONNECTORS_PER_MAP);
}

const connector_record* connector_get(int32_t index) {
  if (index < 0 || index >= connector_count()) return nullptr;
  return reinterpret_cast<const connector_record*>(mesh_connectors()) + index;
}

int32_t connector_find_marker(const marker_data& marker, int32_t after, int16_t* position) {
  if (marker.type != _marker_scenery) return NONE;
  for (int32_t index = std::max(after + 1, 0), count = connector_count(); index < count; ++index) {
    const int16_t at = position_in(*connector_get(index), marker.identifier);
    if (at == NONE) continue;
    if (position) *position = at;
    return index;
  }
  return NONE;
}

// ---- collecting ----

bool connector_begin() {
  if (!globals || !mesh_is_open() || connector_count() >= MAXIMUM_CONNECTORS_PER_MAP) return false;
  globals->collected = {};
  globals->creating = 1;
  return true;
}

bool connector_creating() { return globals && globals->creating; }

bool connector_add_marker(const marker_data& marker) {
  if (!connector_creating() || marker.type != _marker_scenery) return false;
  connector_record& record = globals->collected;
  if (record.chain_length >= MAXIMUM_MARKERS_PER_CONNECTOR) return false;
  record.marker_identifiers[record.chain_length++] = marker.identifier;
  return true;
}

std::span<const int16_t> connector_collected() {
  if (!connector_creating()) return {};
  return {globals->collected.marker_identifiers, size_t(globals->collected.chain_length)};
}

bool connector_end() {
  if (!connector_creating()) return false;
  const connector_record record = globals->collected;
  forget_collected();
  if (record.chain_length <= 0 || !mesh_is_open()) return false;
  if (!definitions_loaded()) {
    log_note("vellgrim_connectors", __LINE__, "%s names no loaded connector definition: the new connector is discarded.",
             map_name());
    return false;
  }
  connector_table table = committed_table();
  // Another way may have filled the table while this chain was collected (Undo of a removal).
  if (table.size() >= MAXIMUM_CONNECTORS_PER_MAP) {
    POST_ERROR(error_array_full, "%s has #%d connectors already: the new connector is discarded.", map_name(),
               int(MAXIMUM_CONNECTORS_PER_MAP));
    return false;
  }
  table.push_back(record);
  return write_table("Create New Connector", table);
}

// ---- removing ----

connector_removal connector_remove_marker(const marker_data& marker) {
  if (marker.type != _marker_scenery || !globals) return _connector_removal_none;
  const int16_t identifier = marker.identifier;
  bool changed_collected = false;
  if (globals->creating) changed_collected = erase_identifier(globals->collected, identifier);

  connector_table table = committed_table();
  bool changed = false, joined = false;
  for (size_t index = 0; index < table.size();) {
    connector_record& record = table[index];
    const int16_t c = position_in(record, identifier);
    if (c == NONE) {
      ++index;
      continue;
    }
    changed = true;
    const int16_t n = record.chain_length;
    if (n == 1) {
      table.erase(table.begin() + std::ptrdiff_t(index));
      continue;  // the next record moved into index
    }
    if (c > 0 && c < n - 1 && table.size() < MAXIMUM_CONNECTORS_PER_MAP) {
      connector_record tail = {};
      tail.chain_length = int16_t(n - c - 1);
      std::copy(record.marker_identifiers + c + 1, record.marker_identifiers + n, tail.marker_identifiers);
      std::fill(record.marker_identifiers + c, record.marker_identifiers + n, int16_t(0));
      record.chain_length = c;
      table.push_back(tail);
      continue;  // the same record may hold the identifier again
    }
    // An end of the chain, or a middle with the table full: the entry goes and its neighbours join.
    if (c > 0 && c < n - 1) joined = true;
    std::copy(record.marker_identifiers + c + 1, record.marker_identifiers + n, record.marker_identifiers + c);
    record.marker_identifiers[n - 1] = 0;
    record.chain_length = int16_t(n - 1);
  }
  if (changed && !write_table("Remove Connector from Selection", table)) changed = false;
  if (joined) {
    POST_ERROR(error_warning,
               "scenery marker %d was taken out of its connector without splitting it: the map has #%d connectors "
               "already, so its neighbours are joined.",
               identifier, int(MAXIMUM_CONNECTORS_PER_MAP));
  }
  if (!changed && !changed_collected) return _connector_removal_none;
  return joined ? _connector_removal_joined : _connector_removal_done;
}

bool connectors_remove_all() {
  forget_collected();
  if (connector_count() == 0) return false;
  const bool removed = write_table("Remove All Connectors", {});
  if (removed && data_array_is_valid(&display_array)) data_array_reset(&display_array);
  return removed;
}

bool connectors_replace_all(std::span<const int16_t> records) {
  constexpr size_t words = CONNECTOR_RECORD_SIZE / 2;
  if (records.size() % words != 0 || records.size() / words > MAXIMUM_CONNECTORS_PER_MAP) {
    POST_ERROR(error_data_mismatch, "%d words are not whole connectors (at most %d).", int(records.size()),
               int(MAXIMUM_CONNECTORS_PER_MAP));
    return false;
  }
  for (size_t at = 0; at < records.size(); at += words) {
    const int16_t chain_length = records[at + words - 1];
    if (chain_length < 0 || chain_length > int16_t(words - 1)) {
      POST_ERROR(error_data_mismatch, "connector #%d has a chain of %d markers (at most %d).", int(at / words),
                 chain_length, int(words - 1));
      return false;
    }
  }
  journal_step step("Set Connectors");
  if (!step.is_open()) return false;
  edit_journal_note_section(_mesh_section_connectors);
  if (!mesh_section_replace(_mesh_section_connectors, std::as_bytes(records))) return false;
  return step.commit();
}

// ---- display ----

int32_t connectors_build_all() {
  if (!globals) return 0;
  if (!data_array_is_valid(&display_array) ? !data_array_validate(&display_array) : !data_array_reset(&display_array))
    return 0;
  if (!definitions_loaded()) return 0;
  const int16_t definition_index = mesh_header()->connector_definitions_index;
  const int16_t color_table_index = color_table_of(definition_index);

  std::vector<post_object> posts;
  for (int32_t i = 0, count = mesh_marker_count(); i < count; ++i) {
    const marker_data& marker = mesh_markers()[i];
    if (marker.type == _marker_scenery) posts.push_back({marker.identifier, marker.object_index, marker.object_identifier});
  }
  std::stable_sort(posts.begin(), posts.end());
  auto object_of = [&posts](int16_t identifier) -> const post_object* {
    auto found = std::lower_bound(posts.begin(), posts.end(), post_object{identifier, 0, 0});
    if (found == posts.end() || found->identifier != identifier || found->object_index == NONE) return nullptr;
    return &*found;
  };

  int32_t built = 0;
  for (int32_t index = 0, count = connector_count(); index < count; ++index) {
    const connector_record& record = *connector_get(index);
    const int16_t length = std::clamp<int16_t>(record.chain_length, 0, MAXIMUM_MARKERS_PER_CONNECTOR);
    const post_object* objects[MAXIMUM_MARKERS_PER_CONNECTOR] = {};
    bool any = false;
    for (int16_t at = 0; at < length; ++at) {
      objects[at] = object_of(record.marker_identifiers[at]);
      any |= objects[at] != nullptr;
    }
    if (!any) continue;
    const int32_t slot = data_array_new_element(&display_array);
    auto* display = static_cast<connector_display*>(data_array_get(&display_array, slot));
    if (!display) break;
    display->connector_index = int16_t(index);
    display->definition_index = definition_index;
    display->color_table_index = color_table_index;
    for (int16_t at = 0; at < length; ++at) {
      if (!objects[at]) continue;
      connector_link& link = display->links[display->link_count++];
      link.object_index = objects[at]->object_index;
      link.object_identifier = objects[at]->object_identifier;
      link.marker_identifier = record.marker_identifiers[at];
      const post_object* next = at + 1 < length ? objects[at + 1] : nullptr;
      link.flags = next ? _connector_link_joined : 0;
      link.next_object_index = next ? next->object_index : int16_t(NONE);
      link.next_object_identifier = next ? next->object_identifier : int16_t(NONE);
    }
    ++built;
  }
  return built;
}

std::span<const connector_display> connectors_display_records() {
  if (!mesh_is_open()) return {};
  const int32_t built = connectors_build_all();
  if (built <= 0) return {};
  // Built into an emptied array, the elements fill the first slots in order.
  return {static_cast<const connector_display*>(data_array_get(&display_array, 0)), size_t(built)};
}
