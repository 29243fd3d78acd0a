// What the open map's triangle normals must be, for the tests that hold the quick and lazy
// computations to it, and the readers that ask for them from several threads.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// Each triangle's vector matched by the full search over the normal table, every distinct vector
// searched once.
class normal_reference {
 public:
  // The cell's two triangle normal indices, packed as the grid stores them.
  uint16_t cell(int32_t cell_x, int32_t cell_y);

 private:
  uint8_t triangle(int32_t cell_x, int32_t cell_y, int16_t triangle);
  std::map<std::array<int32_t, 3>, uint8_t> searched_;
};

// Every cell's normals by the full search, in reading order.
std::vector<uint16_t> normal_reference_grid();

// Every cell's normals asked through mesh_cell_normals by two threads at once, walking the grid in
// opposite orders, while `meanwhile` (if any) runs on a third.
std::array<std::vector<uint16_t>, 2> normals_read_on_two_threads(const std::function<void()>& meanwhile = {});
