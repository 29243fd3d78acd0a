// Maps made in code for the tests: a bare grid made current without any tag, and the stored bytes
// of whole `mesh` tags with the local tag files, collections and media that loading one needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/mesh.h"

// A grid of width x height submeshes of new cells (grass, height 0) with its own header, current
// for the life of the object.
class scoped_test_grid {
 public:
  scoped_test_grid(int16_t width, int16_t height);
  ~scoped_test_grid();
  scoped_test_grid(const scoped_test_grid&) = delete;
  scoped_test_grid& operator=(const scoped_test_grid&) = delete;

  bool ready() const { return ready_; }
  mesh_definition header{};

 private:
  bool ready_ = false;
};

// Sets the ground height of the vertex at cell (x, y) of the current grid.
void map_fixture_set_height(int32_t x, int32_t y, int16_t height);
// ORs flags into the cell's terrain_and_flags.
void map_fixture_set_flags(int32_t x, int32_t y, uint16_t flags);
