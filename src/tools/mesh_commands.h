// The Mesh menu's commands on vertices and cells, Rotate Selection and Set Model Location. Each
// is one step of the edit journal, named as the Edit menu shows it; many vertices are stored
// first and their neighbourhoods brought up to date once. Heights are world units, saturated at
// the 16-bit limits.
#pragma once

#include <cstdint>
#include <span>

#include "cseries/value_types.h"

enum : int32_t {
  JITTER_AMOUNT_DEFAULT = 10,          // world units
  MESH_EDGE_RAISE_AMOUNT_DEFAULT = 1536,
};

// The ranges the dialogs accept, in cells: heights +-10; the two amounts are kept in 16 bits.
inline constexpr double MESH_HEIGHT_DIALOG_LIMIT = 10.0;
inline constexpr double MESH_AMOUNT_LOWEST = double(INT16_MIN) / 512.0;
inline constexpr double MESH_AMOUNT_HIGHEST = double(INT16_MAX) / 512.0;
inline constexpr double ROTATE_SELECTION_LIMIT = 360.0;

// The amounts the commands keep while the editor runs.
int16_t mesh_command_jitter_amount();
void mesh_command_set_jitter_amount(int16_t amount);
int32_t mesh_command_edge_raise_amount();
void mesh_command_set_edge_raise_amount(int32_t amount);
void mesh_command_seed(uint32_t seed);  // the jitter's random numbers

// The value the height dialogs start from: the current vertex (else the first selected one).
bool mesh_command_selection_height(int32_t* ground, int32_t* media);

// Each answers whether the map changed.
bool mesh_command_set_height(int32_t height);  // every selected vertex
bool mesh_command_set_height_to_zero();
bool mesh_command_set_media_height(int32_t height);
bool mesh_command_set_all_media_heights(int32_t height);
// Every selected vertex to h - a + r, r = (a x u) >> 15 for a random 16-bit u (0 when a <= 0).
bool mesh_command_jitter();
// The raise amount, as a height, on rows 0, R-2, R-1 and columns 0, C-2, C-1.
bool mesh_command_raise_edges();
// Terrain 0xFF (flying impassable) two cells deep at the low edges, four at the high ones.
bool mesh_command_make_edges_impassable();

// Turns the markers about their centre by angle (1/65536 turns, clockwise as the bearing
// decreases); positions are kept in the map and put on the ground, facings turn with them.
bool markers_rotate(std::span<const int32_t> marker_indices, int32_t angle);
// Rotate Selection's angle for a value in degrees.
int32_t rotate_selection_angle(double degrees);
// Moves a model marker (and its model) to the point, kept inside the map.
bool model_set_location(int32_t marker_index, const world_point3d& location);
