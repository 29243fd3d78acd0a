#include "render/collection_references.h"

#include "cseries/error_manager.h"
#include "engine/definition_groups.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"

namespace {

using namespace byte_swap_letters;

constexpr int16_t kCodes[] = {B, 1, L, S, S, B, MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS, B,
                              COLLECTION_REFERENCE_COLORS_PER_PERMUTATION, S, S, S, S, E, E,
                              S, S, S, S, 36, 2, 10, E};

// One shading table from one permutation, tinted as the reference asks.
int16_t add_permutation_table(const collection_reference_definition& reference, int32_t permutation,
                              const rgb_color* special_colors) {
  shading_table_request request;
  request.levels = REDUCED_SHADING_TABLE_LEVELS;
  request.replacements = reference.permutations[permutation];
  request.replacement_count = COLLECTION_REFERENCE_COLORS_PER_PERMUTATION;
  if (special_colors) {
    request.special_colors[0] = special_colors[0];
    request.special_colors[1] = special_colors[1];
  }
  if (reference.special_color.flags & COLLECTION_REFERENCE_USES_MAP_TINT) {
    collections_get_map_tint(&request.tint, &request.tint_amount);
  } else {
    request.tint = reference.special_color;
    request.tint_amount = reference.shading_mode;
  }
  return collection_add_shading_table(reference.collection_index, request);
}

bool collection_reference_postprocess(definition_group*, int16_t, int32_t tag_index, void* record) {
  auto& reference = *static_cast<collection_reference_definition*>(record);
  for (int16_t& table : reference.shading_tables) table = -1;
  reference.collection_index = collection_load(static_cast<int32_t>(reference.collection_tag));
  if (reference.collection_index < 0) return false;
  if (reference.permutation_count < 1) {
    POST_ERROR(error_data_corrupted, "collection reference %s has no permutations.", tag_file_get_name(tag_index));
    return false;
  }
  if (reference.permutation_count > MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS) {
    POST_ERROR(error_data_corrupted, "collection reference %s has #%d permutations; at most #%d are allowed.",
               tag_file_get_name(tag_index), reference.permutation_count, MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS);
    return false;
  }
  for (int32_t permutation = 0; permutation < reference.permutation_count; ++permutation) {
    reference.shading_tables[permutation] = add_permutation_table(reference, permutation, nullptr);
    if (reference.shading_tables[permutation] < 0) return false;
  }
  return true;
}

void collection_reference_references(definition_group*, int16_t, void* record, definition_reference_visitor visitor,
                                     void* context) {
  auto& reference = *static_cast<collection_reference_definition*>(record);
  if (reference.collection_tag != NONE_TAG) {
    visitor(make_tag(".256"), reference.collection_tag, &reference.collection_index, 0, context);
  }
}

}  // namespace

const byte_swap_description collection_reference_description = byte_swap_describe(
    "collection reference", sizeof(collection_reference_definition), kCodes);

bool collection_references_initialize() {
  collection_reference_definitions.description = &collection_reference_description;
  collection_reference_definitions.postprocess = collection_reference_postprocess;
  collection_reference_definitions.references = collection_reference_references;
  return definitions_initialize(&collection_reference_definitions);
}

int16_t collection_reference_new_instance(int16_t reference_index, const rgb_color special_colors[2], uint32_t random) {
  const auto* loaded =
      definition_get_as<collection_reference_definition>(&collection_reference_definitions, reference_index);
  if (!loaded || loaded->collection_index < 0 || loaded->permutation_count < 1 ||
      loaded->permutation_count > MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS) {
    return -1;
  }
  collection_reference_definition instance = *loaded;
  const auto permutation = static_cast<int32_t>(random % static_cast<uint32_t>(instance.permutation_count));
  for (int16_t& table : instance.shading_tables) table = -1;
  instance.shading_tables[0] = add_permutation_table(instance, permutation, special_colors);
  if (instance.shading_tables[0] < 0) return -1;
  return definition_add(&collection_reference_definitions, NONE_TAG, &instance);
}
