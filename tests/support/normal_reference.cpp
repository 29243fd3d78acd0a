#include "support/normal_reference.h"

#include <thread>

#include "map/mesh.h"
#include "map/mesh_geometry.h"

uint8_t normal_reference::triangle(int32_t cell_x, int32_t cell_y, int16_t triangle) {
  std::array<int32_t, 3> v;
  mesh_triangle_normal_vector(cell_x, cell_y, triangle, v.data());
  auto [it, fresh] = searched_.try_emplace(v, 0);
  if (fresh) it->second = mesh_nearest_normal_by_search(v[0], v[1], v[2]);
  return it->second;
}

uint16_t normal_reference::cell(int32_t cell_x, int32_t cell_y) {
  const int16_t even = ((cell_x + cell_y) & 1) ? 2 : 0;
  return uint16_t(triangle(cell_x, cell_y, even) << 8 | triangle(cell_x, cell_y, int16_t(even + 1)));
}

std::vector<uint16_t> normal_reference_grid() {
  normal_reference reference;
  std::vector<uint16_t> normals;
  for (int32_t y = 0; y < mesh_cells_down(); ++y) {
    for (int32_t x = 0; x < mesh_cells_across(); ++x) normals.push_back(reference.cell(x, y));
  }
  return normals;
}

std::array<std::vector<uint16_t>, 2> normals_read_on_two_threads(const std::function<void()>& meanwhile) {
  const int32_t across = mesh_cells_across(), count = mesh_cell_count();
  std::array<std::vector<uint16_t>, 2> seen = {std::vector<uint16_t>(size_t(count)), std::vector<uint16_t>(size_t(count))};
  auto read = [&](int which) {
    for (int32_t k = 0; k < count; ++k) {
      const int32_t i = which == 0 ? k : count - 1 - k;
      seen[size_t(which)][size_t(i)] = mesh_cell_normals(i % across, i / across);
    }
  };
  std::thread backward(read, 1);
  std::thread third;
  if (meanwhile) third = std::thread(meanwhile);
  read(0);
  backward.join();
  if (third.joinable()) third.join();
  return seen;
}
