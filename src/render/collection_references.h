// Collection references (`core`): a collection plus up to five colour permutations of it. Each
// permutation gets a reduced shading table when the reference loads; a unit's instance of a
// reference gets one table of a randomly chosen permutation with the unit's own colours.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/text.h"
#include "render/colors.h"

enum {
  MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS = 5,
  COLLECTION_REFERENCE_COLORS_PER_PERMUTATION = 8,  // one per hue change
};

// special_color.flags: use the open map's tint colour and amount instead.
enum : uint16_t { COLLECTION_REFERENCE_USES_MAP_TINT = 2 };

struct collection_reference_definition {
  tag collection_tag;          // `.256`
  int16_t permutation_count;   // 1..5
  int16_t shading_mode;        // tint amount handed to the shading-table builder, in 1/256
  rgb_color permutations[MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS][COLLECTION_REFERENCE_COLORS_PER_PERMUTATION];
  rgb_color special_color;     // tint colour; COLLECTION_REFERENCE_USES_MAP_TINT
  uint8_t reserved[36];
  int16_t collection_index;    // run time
  int16_t shading_tables[MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS];  // run time
};
static_assert(sizeof(collection_reference_definition) == 384);
static_assert(offsetof(collection_reference_definition, special_color) == 328);
static_assert(offsetof(collection_reference_definition, collection_index) == 372);
static_assert(offsetof(collection_reference_definition, shading_tables) == 374);

extern const byte_swap_description collection_reference_description;

// Installs the group's description and procedures (called by shapes_initialize).
bool collection_references_initialize();

// A unit's own copy of a loaded reference (a new slot without identifier): one shading table, at
// shading_tables[0], of permutation random % count with the unit's two special colours. The new
// definition index, or -1.
int16_t collection_reference_new_instance(int16_t reference, const rgb_color special_colors[2], uint32_t random);
