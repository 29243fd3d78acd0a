#include "support/map_fixtures.h"

scoped_test_grid::scoped_test_grid(int16_t width, int16_t height) { ready_ = mesh_set_grid(&header, width, height); }

scoped_test_grid::~scoped_test_grid() { mesh_free_sections(); }

void map_fixture_set_height(int32_t x, int32_t y, int16_t height) { mesh_get_cell(x, y)->ground_height = height; }

void map_fixture_set_flags(int32_t x, int32_t y, uint16_t flags) { mesh_get_cell(x, y)->terrain_and_flags |= flags; }
