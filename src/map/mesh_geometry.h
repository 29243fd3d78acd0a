// The geometric reading of the open map's cell grid: the two triangles of each cell, height,
// terrain and media look-ups for a world point, the table of 256 normals and the per-triangle
// normal indices, the vertex flags derived after loading, the LOD entries, and walking a segment
// cell by cell. Everything works in place on the grid of mesh.h and cannot fail.
#pragma once

#include <cstdint>

#include "map/mesh.h"

enum {
  NUMBER_OF_NORMALS = 256,
  NO_GROUND_HEIGHT = -4096,      // height answered in a cell without ground
  LOD_BEND_THRESHOLD = 128,      // |h1 + h2 - 2 hm| above this splits an edge
};

// Which heights a height query interpolates.
enum mesh_height_mode : int16_t {
  _mesh_height_surface = 0,  // the media surface at vertices whose cell carries media, else ground
  _mesh_height_ground = 1,
  _mesh_height_media = 2,
};

// One entry of the normal table: a unit vector in 2.14 with its direction as angles.
struct mesh_normal {
  int16_t x, y, z;
  uint16_t azimuth, elevation;
  int16_t unused[3];
};
static_assert(sizeof(mesh_normal) == 16);

// The table of 256 normals (built on first use; it never changes).
const mesh_normal* mesh_normal_table();

// The table entry nearest to a 2.14 vector (lowest index on ties). The first answers from a small
// precomputed set of candidates; the second tries every entry and always gives the same answer.
uint8_t mesh_nearest_normal(int32_t x, int32_t y, int32_t z);
uint8_t mesh_nearest_normal_by_search(int32_t x, int32_t y, int32_t z);
// The 2.14 unit vector of a cell triangle (0..3) before it is matched to the table; the map must
// be open and the cell inside the grid.
void mesh_triangle_normal_vector(int32_t cell_x, int32_t cell_y, int16_t triangle, int32_t vector[3]);

// The vertex (x, y) with both indices clamped into the grid. Look-ups past the last row or column
// repeat the edge vertex (heights and normals alike), so the last cells lie flat across the map's
// edge as a texture clamps at its border. The map must be open.
const mesh_cell* mesh_vertex_clamped(int32_t x, int32_t y);
// The normal-table index of a cell's triangle (0..3, of the cell's parity) with its corners taken
// through mesh_vertex_clamped: for an inner cell the index mesh_prepare_cells stores, for the last
// row and column the slope the repeated edge vertex gives rather than that of the next row or of
// height 0.
uint8_t mesh_triangle_normal_index_clamped(int32_t cell_x, int32_t cell_y, int16_t triangle);

// The height of triangle 0..3's plane at (fx, fy) inside its cell (0..511), from its three corner
// heights in the interpolation's order.
int32_t mesh_plane_height(int16_t triangle, const int32_t h[3], int32_t fx, int32_t fy);

// Triangle 0..3 under a world point (the checkerboard diagonal of its cell). Points outside the
// map are clamped to its edge by every query below.
int16_t mesh_triangle_at(int32_t world_x, int32_t world_y);
// The terrain type 0..15 of the triangle under the point.
int16_t mesh_terrain_at(int32_t world_x, int32_t world_y);
// Whether media covers the triangle under the point.
bool mesh_media_at(int32_t world_x, int32_t world_y);
// The height of the triangle's plane under the point; NO_GROUND_HEIGHT in a cell without ground.
int32_t mesh_height_at(int32_t world_x, int32_t world_y, mesh_height_mode mode);
// The heights mesh_height_at answers at the points of one cell spaced step world units apart
// (step divides the cell edge), row by row into heights[(512 / step)^2]; the cell must lie in
// the grid. For whole-map work, cell by cell, without the per-point checks.
void mesh_cell_heights(int32_t cell_x, int32_t cell_y, mesh_height_mode mode, int32_t step, int32_t* heights);
// The normal-table entry of the triangle under the point.
const mesh_normal* mesh_normal_at(int32_t world_x, int32_t world_y);

// Over the cells x0..x1, y0..y1 (inclusive, clipped to the grid): resets the run-time list heads
// and recomputes the vertex flags at once, and both triangles' normals of every submesh the
// rectangle touches when they are first read (below).
void mesh_prepare_cells(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// Triangle normals are computed per submesh on first use, from the heights and media as they are
// then: the answers are exactly those a full preparation gives. A cell's `normals` field read
// straight from the grid is good only inside a rectangle settled by mesh_settle_normals; every
// other reader asks mesh_cell_normals. Both may be called from any thread while the grid is not
// being written.
uint16_t mesh_cell_normals(int32_t cell_x, int32_t cell_y);  // clamped into the grid; 0 without one
void mesh_settle_normals(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// The submeshes whose normals are still to be computed (for tests and measurements).
int32_t mesh_unsettled_normal_submeshes();

// Recomputes the LOD entries of the blocks round the cell rectangle (one block more all round)
// and makes the shared edges of neighbouring blocks agree. Does nothing without LOD data.
void mesh_update_lod(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// The LOD entry of block (i, j) computed from the cells, without propagation.
uint16_t mesh_compute_lod_entry(int32_t block_x, int32_t block_y);

// Reallocates the LOD data for the whole grid and recomputes every entry. On an allocation failure
// the map is left without LOD data and with a LOD size of 0.
bool mesh_recompute_lod();

// Visits the cells the segment from one world point to another crosses, from the start toward the
// end, calling test on each cell inside the grid; true as soon as a test answers true.
typedef bool (*mesh_cell_test)(int32_t cell_x, int32_t cell_y, void* context);
bool mesh_walk_line(int32_t from_x, int32_t from_y, int32_t to_x, int32_t to_y, mesh_cell_test test,
                    void* context);
