// Maps made in code for the tests: a bare grid made current without any tag, and whole `mesh` tags
// with the tag store, collection and media that opening one needs.
#pragma once

#include <array>
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

// The sections of a map in native order; tag_data() lays them out and stores them.
struct map_fixture {
  mesh_definition header{};
  std::vector<mesh_cell> cells;
  std::vector<marker_palette_entry> palette;
  std::vector<marker_data> markers;
  int32_t map_action_count = 0;
  std::vector<uint8_t> map_actions;  // stored bytes
  std::vector<int16_t> media_coverage;
  std::vector<uint16_t> lod;
  std::vector<std::array<int16_t, 32>> connectors;

  // Counts, sizes and contiguous offsets from the sections.
  void lay_out();
  // lay_out(), then the header and the sections in stored order.
  std::vector<uint8_t> tag_data();
};

// A new map: the header defaults, new cells, no other section.
map_fixture map_fixture_new(int16_t width, int16_t height);
// One submesh with something in every section: three palette entries (Unit team 2, Scenery, Sound
// Source), seven markers, one map action, a coverage region with one partly covered row, flat LOD
// data and a connector.
map_fixture map_fixture_full();
marker_data map_fixture_marker(int16_t type, int16_t palette_index, int32_t x, int32_t y);
marker_palette_entry map_fixture_palette_entry(int16_t type, uint32_t definition_tag, int16_t team);

// A stored `obpc` record: the observer constants of the demo data.
std::vector<uint8_t> map_fixture_observer_constants();
// In the current folder: starts the tag store, the definition groups, shapes and the mesh module
// and stores a media definition "water", the observer constants `obpc` and the mesh lighting
// "gras"; false on failure.
bool map_fixture_open_store(tag* media_tag);
// Stores a text tag of the lines, each ended by a newline; its tag index, or NONE.
int32_t map_fixture_store_lines(tag group, const char* name, const std::vector<std::string>& lines);
// Stores the map actions' keyword list `in#2` as the demo data has it; false on failure.
bool map_fixture_store_action_keywords();
// Closes the map, the definition groups and the tag store.
void map_fixture_close_store();
// Stores a one-submesh map collection and the map under one name (so with one identifier), the
// header naming both the collection and the media; the mesh's tag index, or NONE.
int32_t map_fixture_store_map(const char* name, map_fixture& map, int16_t version, tag media_tag);
