#include "tools/shadow_editor.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "cseries/error_manager.h"
#include "render/shapes.h"
#include "tools/edit_journal.h"
#include "platform/ui_host.h"
#include "tools/map_session.h"


namespace {

constexpr size_t MAP_BYTES = size_t(SHADOW_MAP_SIZE) * SHADOW_MAP_SIZE;

int16_t landscape_collection() { return mesh_is_open() ? mesh_landscape_collection() : int16_t(NONE); }
int32_t submesh_count() { return mesh_is_open() ? int32_t(mesh_width()) * int32_t(mesh_height()) : 0; }

// The journal keeps the collection's data block as a buffer of the open map.
std::span<std::byte> landscape_bytes() {
  const int16_t collection = landscape_collection();
  return collection == NONE ? std::span<std::byte>{} : std::as_writable_bytes(collection_get_data(collection));
}
// Undo and Redo of shadow pixels leave the maps different from the stored ones.
void landscape_changed() { map_set_shadow_maps_changed(true); }

// Registered when the program starts, so that steps written ahead for recovery can be replayed
// before any shadow command has run.
const int16_t landscape_buffer_id =
    edit_journal_register_buffer({"landscape collection", landscape_bytes, landscape_changed});
int16_t landscape_buffer() { return landscape_buffer_id; }

bitmap_data* shadow_bitmap(int32_t submesh) { return collection_get_bitmap(landscape_collection(), 2 * submesh + 1); }
uint8_t* shadow_pixels(int32_t submesh) {
  return collection_get_submesh_texture(landscape_collection(), 2 * submesh + 1, true);
}

// The byte offset of a pointer into the collection's data block.
size_t offset_in_collection(const void* at) {
  return size_t(static_cast<const std::byte*>(at) - landscape_bytes().data());
}

void note_pixels(int32_t submesh) { edit_journal_note(landscape_buffer(), offset_in_collection(shadow_pixels(submesh)), MAP_BYTES); }
void note_flags(int32_t submesh) {
  edit_journal_note(landscape_buffer(), offset_in_collection(&shadow_bitmap(submesh)->flags), sizeof(int16_t));
}

// The modified flag follows the journal's step; the maps are written with the next save.
void mark_changed() { map_set_shadow_maps_changed(true); }

bool is_protected(int32_t submesh) { return (shadow_bitmap(submesh)->flags & BITMAP_IS_PROTECTED) != 0; }

// The unprotected maps among one submesh or all; false (reported) for a submesh outside the map
// or a collection without shadow maps.
bool unprotected_targets(int32_t submesh, std::vector<int32_t>* targets) {
  if (!shadow_editor_check_collection()) return false;
  if (submesh != SHADOW_ALL_SUBMESHES && (submesh < 0 || submesh >= submesh_count())) {
    POST_ERROR(error_array_out_of_bounds, "submesh #%d not in [#0,#%d).", submesh, submesh_count());
    return false;
  }
  targets->clear();
  for (int32_t k = 0; k < submesh_count(); ++k) {
    if ((submesh == SHADOW_ALL_SUBMESHES || k == submesh) && !is_protected(k)) targets->push_back(k);
  }
  return true;
}

// Allocation failures are reported without ending the program: nothing has changed yet, and the
// author's unsaved work must survive.
void report_allocation(const char* what, size_t bytes) {
  POST_ERROR(error_warning, "couldn't allocate #%d bytes for %s.", int(std::min<size_t>(bytes, INT32_MAX)), what);
}

template <class T>
bool allocate(std::vector<T>& vector, size_t count, const char* what) {
  try {
    vector.resize(count);
  } catch (const std::bad_alloc&) {
    report_allocation(what, count * sizeof(T));
    return false;
  }
  return true;
}

const char* mode_step_name(int16_t mode) {
  switch (mode) {
    case _shadow_mode_basic_lighting: return "Basic Lighting";
    case _shadow_mode_mesh_shading: return "Add Mesh Shading";
    case _shadow_mode_model_shading: return "Add Model Shading";
    default: return "Shadows";
  }
}

struct compute_job {
  const mesh_lighting* lighting;
  const shadow_terrain* terrain;
  shadow_window window;
  int16_t mode;
  const std::vector<int32_t>* targets;
  std::vector<shadow_buffers>* buffers;
  std::vector<uint8_t>* results;  // MAP_BYTES per target
  // The blur's assembled image: the targets' submeshes and one submesh round them, within the map.
  const std::vector<uint8_t>* image;
  int32_t image_width, image_height;
  int32_t first_column, first_row;
  const std::vector<int32_t>* factors;
  int32_t radius;
};

void compute_one(int32_t item, int32_t slot, void* context) {
  auto& job = *static_cast<compute_job*>(context);
  const int32_t submesh = (*job.targets)[size_t(item)];
  shadow_compute_submesh(*job.lighting, *job.terrain, job.window, job.mode, submesh % mesh_width(),
                         submesh / mesh_width(), (*job.buffers)[size_t(slot)], job.results->data() + size_t(item) * MAP_BYTES);
}

void blur_one(int32_t item, int32_t, void* context) {
  auto& job = *static_cast<compute_job*>(context);
  const int32_t submesh = (*job.targets)[size_t(item)];
  shadow_blur_region(job.image->data(), job.image_width, job.image_height,
                     (submesh % mesh_width() - job.first_column) * SHADOW_MAP_SIZE,
                     (submesh / mesh_width() - job.first_row) * SHADOW_MAP_SIZE, SHADOW_MAP_SIZE, SHADOW_MAP_SIZE, *job.factors,
                     job.radius, job.results->data() + size_t(item) * MAP_BYTES, SHADOW_MAP_SIZE);
}

}  // namespace

bool shadow_editor_ready() {
  const int32_t count = submesh_count();
  if (count <= 0 || collection_get_bitmap_count(landscape_collection()) < 2 * count) return false;
  for (int32_t k = 0; k < count; ++k) {
    if (!shadow_pixels(k)) return false;
  }
  return true;
}

bool shadow_editor_check_collection() {
  if (!mesh_is_open()) return false;
  const int32_t count = submesh_count();
  const int32_t bitmaps = collection_get_bitmap_count(landscape_collection());
  if (bitmaps < 2 * count) {
    POST_ERROR(error_data_mismatch, "the map's collection holds %d bitmaps, not two for each of its %d submeshes.", bitmaps,
               count);
    return false;
  }
  for (int32_t k = 0; k < count; ++k) {
    if (!shadow_pixels(k)) {
      POST_ERROR(error_data_mismatch, "the map's collection has no raw 256 x 256 8-bit shadow map for submesh #%d.", k);
      return false;
    }
  }
  return true;
}

int32_t shadow_submesh_at(int32_t world_x, int32_t world_y) {
  if (!mesh_is_open() || world_x < 0 || world_y < 0) return -1;
  const int32_t side = int32_t(SHADOW_MAP_SIZE) * int32_t(WORLD_UNITS_PER_TEXEL);
  const int32_t column = world_x / side, row = world_y / side;
  if (column >= mesh_width() || row >= mesh_height()) return -1;
  return row * mesh_width() + column;
}

bool shadow_submesh_is_protected(int32_t submesh) {
  return submesh >= 0 && submesh < submesh_count() && shadow_bitmap(submesh) && is_protected(submesh);
}

bool shadow_unprotect_all_submeshes() {
  if (!shadow_editor_check_collection()) return false;
  journal_step step("Unprotect All Submeshes");
  for (int32_t k = 0; k < submesh_count(); ++k) {
    if (!is_protected(k)) continue;
    note_flags(k);
    shadow_bitmap(k)->flags = int16_t(shadow_bitmap(k)->flags & ~BITMAP_IS_PROTECTED);
  }
  step.commit();
  mark_changed();
  return true;
}

bool shadow_toggle_protected(int32_t submesh) {
  if (!shadow_editor_check_collection()) return false;
  if (submesh < 0 || submesh >= submesh_count()) {
    POST_ERROR(error_array_out_of_bounds, "submesh #%d not in [#0,#%d).", submesh, submesh_count());
    return false;
  }
  journal_step step("Protected");
  note_flags(submesh);
  shadow_bitmap(submesh)->flags = int16_t(shadow_bitmap(submesh)->flags ^ BITMAP_IS_PROTECTED);
  step.commit();
  // The bit lives in the shadow map's header: Save writes it only with the shadow maps.
  mark_changed();
  return true;
}

bool shadow_no_shadows(int32_t submesh) {
  std::vector<int32_t> targets;
  if (!unprotected_targets(submesh, &targets)) return false;
  if (targets.empty()) return true;
  journal_step step("No Shadows");
  for (int32_t k : targets) {
    note_pixels(k);
    std::memset(shadow_pixels(k), SHADOW_UNSHADOWED, MAP_BYTES);
  }
  step.commit();
  mark_changed();
  return true;
}

bool shadow_compute(int16_t mode, int32_t submesh, bool blur) {
  if (!mesh_is_open() || mode < _shadow_mode_none || mode >= NUMBER_OF_SHADOW_MODES) return false;
  mesh_lighting lighting;
  if (!shadow_lighting_load(&lighting)) return false;
  std::vector<int32_t> targets;
  if (!unprotected_targets(submesh, &targets)) return false;
  if (targets.empty()) return true;

  // Everything is allocated before anything changes.
  const shadow_window window = shadow_window_of(lighting);
  const int32_t threads = std::min<int32_t>(shadow_thread_count(), int32_t(targets.size()));
  shadow_terrain terrain;
  std::vector<shadow_buffers> buffers;
  std::vector<uint8_t> results, image;
  std::vector<int32_t> factors;
  // The blur reads at most the blur radius (below a submesh's side) into the neighbours, so one
  // submesh round the targets is all of the map it needs; at the map's edges it clamps.
  int32_t first_column = mesh_width(), first_row = mesh_height(), last_column = -1, last_row = -1;
  for (int32_t k : targets) {
    first_column = std::min(first_column, k % mesh_width()), last_column = std::max(last_column, k % mesh_width());
    first_row = std::min(first_row, k / mesh_width()), last_row = std::max(last_row, k / mesh_width());
  }
  first_column = std::max(first_column - 1, 0), first_row = std::max(first_row - 1, 0);
  last_column = std::min(last_column + 1, mesh_width() - 1), last_row = std::min(last_row + 1, mesh_height() - 1);
  const int32_t image_width = (last_column - first_column + 1) * SHADOW_MAP_SIZE;
  const int32_t image_height = (last_row - first_row + 1) * SHADOW_MAP_SIZE;
  if (!shadow_terrain_take(&terrain)) {
    report_allocation("mesh_heights", size_t(mesh_cell_count()) * 5);
    return false;
  }
  if (!allocate(buffers, size_t(threads), "mesh_normals")) return false;
  for (shadow_buffers& b : buffers) {
    if (!shadow_buffers_allocate(&b, window)) {
      report_allocation("mesh_heights", size_t(window.width) * size_t(window.height) * 3);
      return false;
    }
  }
  if (!allocate(results, targets.size() * MAP_BYTES, "pixel buffer")) return false;
  if (blur) {
    factors = shadow_gaussian_factors(lighting.blur_radius, lighting.blur_sigma);
    if (factors.empty()) {
      report_allocation("shadow gaussian factors", size_t(2 * lighting.blur_radius + 1) * size_t(2 * lighting.blur_radius + 1) * 4);
      return false;
    }
    if (!allocate(image, size_t(image_width) * size_t(image_height), "factors")) return false;
  }

  compute_job job = {&lighting, &terrain, window, mode, &targets, &buffers, &results, &image,
                     image_width, image_height, first_column, first_row, &factors, lighting.blur_radius};
  const int64_t blur_steps = blur ? int64_t(targets.size()) : 0;
  {
    ui_progress_scope progress(mode_step_name(mode), int64_t(targets.size()) + blur_steps, true);
    if (!shadow_run_parallel(int32_t(targets.size()), compute_one, &job, 0)) return false;
    if (blur) {
      // One image: the new maps where they were computed, the others (protected ones included) as
      // they stand, so the blur reads across submesh borders.
      for (int32_t k = 0; k < submesh_count(); ++k) {
        const int32_t column = k % mesh_width(), row = k / mesh_width();
        if (column < first_column || column > last_column || row < first_row || row > last_row) continue;
        const auto found = std::find(targets.begin(), targets.end(), k);
        const uint8_t* source = found == targets.end() ? shadow_pixels(k)
                                                       : results.data() + size_t(found - targets.begin()) * MAP_BYTES;
        const int32_t left = (column - first_column) * SHADOW_MAP_SIZE, top = (row - first_row) * SHADOW_MAP_SIZE;
        for (int32_t r = 0; r < SHADOW_MAP_SIZE; ++r) {
          std::memcpy(image.data() + size_t(top + r) * size_t(image_width) + size_t(left),
                      source + size_t(r) * SHADOW_MAP_SIZE, SHADOW_MAP_SIZE);
        }
      }
      if (!shadow_run_parallel(int32_t(targets.size()), blur_one, &job, int64_t(targets.size()))) return false;
    }
  }

  journal_step step(mode_step_name(mode));
  for (size_t t = 0; t < targets.size(); ++t) {
    note_pixels(targets[t]);
    std::memcpy(shadow_pixels(targets[t]), results.data() + t * MAP_BYTES, MAP_BYTES);
  }
  step.commit();
  mark_changed();
  return true;
}

bool shadow_write_maps() {
  if (!shadow_editor_check_collection()) return false;
  for (int32_t k = 0; k < submesh_count(); ++k) {
    if (!collection_write_bitmap(landscape_collection(), 2 * k + 1)) {
      POST_ERROR(error_file_write, "couldn't write the shadow map of submesh #%d to the map's collection.", k);
      return false;
    }
  }
  return true;
}

// ---- the pop-up ----

shadow_popup_state shadow_popup_item_state(int32_t submesh, int16_t item) {
  static const char* const labels[NUMBER_OF_SHADOW_POPUP_ITEMS] = {"Protected", "No Shadows", "Basic Lighting",
                                                                    "Add Mesh Shading", "Add Model Shading"};
  if (item < 0 || item >= NUMBER_OF_SHADOW_POPUP_ITEMS) return {"", false, false};
  const bool usable = shadow_editor_ready() && submesh >= 0 && submesh < submesh_count();
  const bool locked = usable && shadow_submesh_is_protected(submesh);
  if (item == _shadow_popup_protected) return {labels[item], locked, usable};
  return {labels[item], false, usable && !locked};
}

bool shadow_popup_choose(int32_t submesh, int16_t item) {
  if (!shadow_popup_item_state(submesh, item).enabled) return false;
  switch (item) {
    case _shadow_popup_protected: return shadow_toggle_protected(submesh);
    case _shadow_popup_no_shadows: return shadow_no_shadows(submesh);
    case _shadow_popup_basic_lighting: return shadow_compute(_shadow_mode_basic_lighting, submesh);
    case _shadow_popup_add_mesh_shading: return shadow_compute(_shadow_mode_mesh_shading, submesh);
    case _shadow_popup_add_model_shading: return shadow_compute(_shadow_mode_model_shading, submesh);
    default: return false;
  }
}
