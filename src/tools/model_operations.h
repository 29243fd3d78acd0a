// The edits of Place Model and Place Model Animation: placing, moving and turning, deleting. Each is
// one step of the edit journal. A model is its marker (type model or model animation); the marker
// keeps its place in the list through a move, so the tools' current model stays valid.
#pragma once

#include <cstdint>

// Places a marker of the type's palette entry at the world point, facing as given (65536 to a turn;
// a model's record keeps the negated turn), standing on the map. Answers the new marker's index, or
// -1 with the reason posted: the point off the map, no such entry, the marker list full.
int32_t model_operation_place(int16_t marker_type, int16_t palette_index, int32_t world_x, int32_t world_y,
                              uint16_t facing);
// Moves and turns the model or model animation of that marker, re-seated on the map. A point off the
// map is refused (posted) before anything changes: the model stays where it was.
[[nodiscard]] bool model_operation_move(int32_t marker_index, int32_t world_x, int32_t world_y, uint16_t facing);
// Deletes the model or model animation; a model also has the level-of-detail data recomputed.
[[nodiscard]] bool model_operation_delete(int32_t marker_index);
// The facing a model or model animation marker shows (the model record's negation undone).
uint16_t model_operation_facing(int32_t marker_index);
// The facing that turns the model of that marker toward the world point: half a turn from the
// direction of the point to its pivot, kept to quarter turns for a model whose definition turns by
// quarters. 0 for a marker that is no model.
uint16_t model_operation_facing_toward(int32_t marker_index, int32_t world_x, int32_t world_y);
// The variants the model of that marker can show (its definition's count, at least 1); 0 for a
// marker that is no model (model animations have frames, not variants).
int16_t model_operation_variant_count(int32_t marker_index);
// The model's variant, kept in the first word of its marker's user data.
int16_t model_operation_variant(int32_t marker_index);
// Shows another variant of the model; a variant outside 0..count - 1 is refused (posted).
[[nodiscard]] bool model_operation_set_variant(int32_t marker_index, int16_t variant);
