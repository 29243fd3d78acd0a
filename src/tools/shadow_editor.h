// The shadow maps of the open map: every submesh's second bitmap in the map's collection, 256 x 256
// pixels of 8 bits, computed from the terrain, the map's `meli` lighting and optionally the models.
// The commands of the Maps > Shadow Map menu work on every submesh, those of the "Shadow Tool"
// pop-up on one. A protected map (bit 0x400 of its flags) is never recomputed, cleared or blurred
// over, though its pixels are read as neighbours by the blur.
//
// Each command is one journal step (Undo puts the pixels and flags back) and, when it changed
// anything, sets the modified and shadow-maps-changed flags; Save Map then writes the maps with
// the map. Long commands report progress and can be cancelled, leaving the maps as they were.
#pragma once

#include <cstdint>

#include "tools/shadow_map_utils.h"

enum : int32_t { SHADOW_ALL_SUBMESHES = -1 };

// Whether the open map's collection holds a raw 256 x 256 8-bit shadow map for every submesh (the
// commands' enabling). Quiet.
bool shadow_editor_ready();
// Reports what is wrong with the collection's layout; false then.
bool shadow_editor_check_collection();

// The submesh under a world point, or -1 outside the map.
int32_t shadow_submesh_at(int32_t world_x, int32_t world_y);
bool shadow_submesh_is_protected(int32_t submesh);

// The commands. False when refused (reported), cancelled or not run; true when done, also when
// there was nothing to change (every map protected).
[[nodiscard]] bool shadow_unprotect_all_submeshes();
[[nodiscard]] bool shadow_toggle_protected(int32_t submesh);
// Fills the unprotected maps (one, or SHADOW_ALL_SUBMESHES) with 255.
[[nodiscard]] bool shadow_no_shadows(int32_t submesh);
// Computes the unprotected maps (one, or SHADOW_ALL_SUBMESHES) in a mode, then blurs them unless
// told not to.
[[nodiscard]] bool shadow_compute(int16_t mode, int32_t submesh, bool blur = true);

// Writes every submesh's shadow bitmap (header and pixels) into the collection tag, for Save Map
// (inside its commit). False after reporting the first failure.
[[nodiscard]] bool shadow_write_maps();

// ---- the "Shadow Tool" pop-up of the Submesh tool ----

enum shadow_popup_item : int16_t {
  _shadow_popup_protected,
  _shadow_popup_no_shadows,
  _shadow_popup_basic_lighting,
  _shadow_popup_add_mesh_shading,
  _shadow_popup_add_model_shading,
  NUMBER_OF_SHADOW_POPUP_ITEMS
};

struct shadow_popup_state {
  const char* label;
  bool checked;
  bool enabled;
};

// An item as the pop-up shows it over a submesh: Protected checked while the bit is set, the
// other items greyed then.
shadow_popup_state shadow_popup_item_state(int32_t submesh, int16_t item);
// Runs the item on the submesh (nothing for a greyed item).
bool shadow_popup_choose(int32_t submesh, int16_t item);
