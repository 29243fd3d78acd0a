#include "tools/mesh_commands.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "tools/edit_journal.h"
#include "tools/vellgrim_mesh_utilities.h"
#include "tools/vertex_selection.h"

namespace {

int16_t jitter_amount = JITTER_AMOUNT_DEFAULT;
int32_t edge_raise_amount = MESH_EDGE_RAISE_AMOUNT_DEFAULT;
std::mt19937 jitter_random(1);

int32_t saturate16(int64_t value) { return int32_t(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX)); }

// World coordinates stay inside the map up to cells x 512 - 513.
int32_t clamp_world(int64_t value, int32_t cells) {
  return int32_t(std::clamp<int64_t>(value, 0, std::max<int64_t>(int64_t(cells) * WORLD_ONE - WORLD_ONE - 1, 0)));
}

// The neighbourhoods of the vertices: one by one for a few, once over their bounds for many.
void update_vertices(const std::vector<vertex_location>& vertices) {
  if (vertices.empty()) return;
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  for (const vertex_location& v : vertices) {
    x0 = std::min(x0, v.x), y0 = std::min(y0, v.y), x1 = std::max(x1, v.x), y1 = std::max(y1, v.y);
  }
  const int64_t bounds = int64_t(x1 - x0 + 3) * int64_t(y1 - y0 + 3);
  if (int64_t(vertices.size()) * 9 < bounds) {
    for (const vertex_location& v : vertices) mesh_update_neighbourhood(v.x, v.y);
  } else {
    mesh_update_cells(x0, y0, x1, y1);
  }
}

// Sets each selected vertex to what height_of answers for its current height.
template <class F>
bool set_selected_heights(const char* name, F height_of) {
  const std::vector<vertex_location> vertices = vertex_selection_list();
  if (vertices.empty() || !mesh_is_open()) return false;
  journal_step step(name);
  for (const vertex_location& v : vertices) {
    (void)mesh_store_vertex_height(v.x, v.y, saturate16(height_of(mesh_get_cell(v.x, v.y)->ground_height)));
  }
  update_vertices(vertices);
  return step.commit();
}

}  // namespace

int16_t mesh_command_jitter_amount() { return jitter_amount; }
void mesh_command_set_jitter_amount(int16_t amount) { jitter_amount = amount; }
int32_t mesh_command_edge_raise_amount() { return edge_raise_amount; }
void mesh_command_set_edge_raise_amount(int32_t amount) { edge_raise_amount = saturate16(amount); }
void mesh_command_seed(uint32_t seed) { jitter_random.seed(seed); }

bool mesh_command_selection_height(int32_t* ground, int32_t* media) {
  if (!mesh_is_open()) return false;
  int32_t x = 0, y = 0;
  if (!vertex_selection_current(&x, &y)) {
    const std::vector<vertex_location> vertices = vertex_selection_list();
    if (vertices.empty()) return false;
    x = vertices.front().x;
    y = vertices.front().y;
  }
  *ground = mesh_get_cell(x, y)->ground_height;
  *media = mesh_get_cell(x, y)->media_height;
  return true;
}

bool mesh_command_set_height(int32_t height) {
  return set_selected_heights("Set Height", [height](int32_t) { return height; });
}

bool mesh_command_set_height_to_zero() {
  return set_selected_heights("Set Height to Zero", [](int32_t) { return 0; });
}

bool mesh_command_set_media_height(int32_t height) {
  const std::vector<vertex_location> vertices = vertex_selection_list();
  if (vertices.empty() || !mesh_is_open()) return false;
  journal_step step("Set Media Height");
  for (const vertex_location& v : vertices) (void)mesh_store_media_height(v.x, v.y, saturate16(height));
  update_vertices(vertices);
  return step.commit();
}

bool mesh_command_set_all_media_heights(int32_t height) {
  if (!mesh_is_open()) return false;
  const int32_t columns = mesh_cells_across(), rows = mesh_cells_down();
  journal_step step("Set All Media Heights");
  edit_journal_note_cells(0, 0, columns - 1, rows - 1);
  mesh_cell* cells = mesh_edit_cells();
  const int16_t media = int16_t(saturate16(height));
  for (int32_t i = 0; i < columns * rows; ++i) cells[i].media_height = media;
  mesh_update_cells(0, 0, columns - 1, rows - 1);
  return step.commit();
}

bool mesh_command_jitter() {
  const int32_t amount = jitter_amount;
  return set_selected_heights("Jitter Selected Vertices", [amount](int32_t h) {
    const int64_t u = int64_t(jitter_random() & 0xFFFF);
    const int64_t r = amount <= 0 ? 0 : (int64_t(amount) * u) >> 15;
    return int64_t(h) - amount + r;
  });
}

bool mesh_command_raise_edges() {
  if (!mesh_is_open()) return false;
  const int32_t columns = mesh_cells_across(), rows = mesh_cells_down();
  const int32_t height = saturate16(edge_raise_amount);
  journal_step step("Raise Mesh Edges");
  for (int32_t row : {0, rows - 2, rows - 1}) {
    for (int32_t x = 0; x < columns; ++x) (void)mesh_store_vertex_height(x, row, height);
  }
  for (int32_t column : {0, columns - 2, columns - 1}) {
    for (int32_t y = 1; y <= rows - 2; ++y) (void)mesh_store_vertex_height(column, y, height);
  }
  mesh_update_cells(0, 0, columns - 1, 0);
  mesh_update_cells(0, rows - 2, columns - 1, rows - 1);
  mesh_update_cells(0, 1, 0, rows - 2);
  mesh_update_cells(columns - 2, 1, columns - 1, rows - 2);
  return step.commit();
}

bool mesh_command_make_edges_impassable() {
  if (!mesh_is_open()) return false;
  const int32_t columns = mesh_cells_across(), rows = mesh_cells_down();
  const auto edge = [](int32_t i, int32_t count) { return i < 2 || i >= count - 4; };
  journal_step step("Make Mesh Edges Impassable");
  for (int32_t y = 0; y < rows; ++y) {
    for (int32_t x = 0; x < columns; ++x) {
      if (!edge(x, columns) && !edge(y, rows)) continue;
      const uint16_t bits = mesh_get_cell(x, y)->terrain_and_flags;
      if ((bits & 0xFF) == 0xFF) continue;
      edit_journal_cell(x, y)->terrain_and_flags = uint16_t((bits & 0xFF00) | 0xFF);
    }
  }
  return step.commit();
}

int32_t rotate_selection_angle(double degrees) {
  if (!std::isfinite(degrees)) return 0;
  return int32_t(std::trunc(std::clamp(degrees, -ROTATE_SELECTION_LIMIT, ROTATE_SELECTION_LIMIT) / 360.0 * 65536.0));
}

bool markers_rotate(std::span<const int32_t> marker_indices, int32_t angle) {
  if (!mesh_is_open()) return false;
  std::vector<int32_t> indices;
  for (int32_t index : marker_indices) {
    if (index >= 0 && index < mesh_marker_count()) indices.push_back(index);
  }
  if (indices.empty()) return false;
  double cx = 0, cy = 0;
  for (int32_t index : indices) {
    cx += mesh_markers()[index].location.x;
    cy += mesh_markers()[index].location.y;
  }
  cx /= double(indices.size());
  cy /= double(indices.size());
  const double turn = double(angle) * 2.0 * M_PI / 65536.0;
  journal_step step("Rotate Selection");
  for (int32_t index : indices) {
    marker_data* marker = edit_journal_marker(index);
    const double dx = marker->location.x - cx, dy = marker->location.y - cy;
    const double distance = std::sqrt(dx * dx + dy * dy), bearing = std::atan2(dy, dx) - turn;
    marker->location.x = clamp_world(std::llround(cx + distance * std::cos(bearing)), mesh_cells_across());
    marker->location.y = clamp_world(std::llround(cy + distance * std::sin(bearing)), mesh_cells_down());
    marker->location.z = mesh_height_at(marker->location.x, marker->location.y, _mesh_height_ground);
    marker->yaw = uint16_t(marker->yaw - uint32_t(angle));
    marker_refresh_object(marker);
  }
  return step.commit();
}

bool model_set_location(int32_t marker_index, const world_point3d& location) {
  if (!mesh_is_open() || marker_index < 0 || marker_index >= mesh_marker_count()) return false;
  if (mesh_markers()[marker_index].type != _marker_model) return false;
  journal_step step("Set Model Location");
  marker_data* marker = edit_journal_marker(marker_index);
  marker->location.x = clamp_world(location.x, mesh_cells_across());
  marker->location.y = clamp_world(location.y, mesh_cells_down());
  marker->location.z = saturate16(location.z);
  marker_refresh_object(marker);
  return step.commit();
}
