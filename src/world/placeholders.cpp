#include "world/placeholders.h"

#include "engine/definition_groups.h"
#include "render/shapes.h"
#include "world/objects.h"

namespace {

struct placeholder_state {
  bool loaded;
  int16_t object_definition;
  int16_t collection;
};
placeholder_state placeholders = {false, NONE, NONE};

void placeholders_load() {
  if (placeholders.loaded) return;
  placeholders.loaded = true;
  placeholders.object_definition = definition_load(&object_definitions, PLACEHOLDER_OBJECT_TAG);
  placeholders.collection = collection_load(PLACEHOLDER_COLLECTION_TAG);
}

}  // namespace

int32_t placeholder_new(const marker_data& marker) {
  placeholders_load();
  object_placement placement =
      object_placement_from_marker(marker, _object_placeholder, placeholders.object_definition);
  placement.look = marker.type;
  placement.collection_index = placeholders.collection;
  return object_new(placement);
}

int16_t placeholder_object_definition() { return placeholders.object_definition; }
int16_t placeholder_collection() { return placeholders.collection; }

void placeholders_dispose_level() { placeholders = {false, NONE, NONE}; }
