// The vertex flags and run-time lists of the cells, derived after every change and on every
// open. An open derives them for up to four million cells, so each row is worked in a few
// passes the compiler can run eight values at a time, and an open reads the rows in chunks it
// prepares while they are still in the cache.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "map/mesh_edit.h"
#include "map/mesh_geometry.h"
#include "map/mesh_private.h"

namespace {

constexpr int32_t kMaximumCellsAcross = MAXIMUM_MESH_SUBMESHES * CELLS_PER_SUBMESH;
constexpr int32_t kLanes = 8;
constexpr int32_t kValuesPerCell = int32_t(sizeof(mesh_cell) / sizeof(uint16_t));
static_assert(sizeof(mesh_cell) == 12 && offsetof(mesh_cell, object_list) == 6 && offsetof(mesh_cell, model_list) == 10,
              "the list lanes below follow the cell's layout");

typedef uint16_t flag_lanes __attribute__((vector_size(2 * kLanes)));

flag_lanes load_lanes(const void* values) {
  flag_lanes lanes;
  std::memcpy(&lanes, values, sizeof lanes);
  return lanes;
}

void store_lanes(void* values, flag_lanes lanes) { std::memcpy(values, &lanes, sizeof lanes); }

// Puts count cells into native byte order when they are stored, sets their run-time list heads to
// NONE and copies their flags to own[0..count). Four cells are three vectors of eight values: the
// heads lanes 3 and 5 of each cell's six, the flags lane 2.
void swap_and_reset_lists(mesh_cell* cells, int32_t count, bool stored, uint16_t* own) {
  static constexpr flag_lanes heads[3] = {{0, 0, 0, 0xFFFF, 0, 0xFFFF, 0, 0},
                                          {0, 0xFFFF, 0, 0xFFFF, 0, 0, 0, 0xFFFF},
                                          {0, 0xFFFF, 0, 0, 0, 0xFFFF, 0, 0xFFFF}};
  auto* bytes = reinterpret_cast<uint8_t*>(cells);
  int32_t k = 0;
  for (; k + 4 <= count; k += 4, bytes += 4 * sizeof(mesh_cell)) {
    flag_lanes values[3];
    for (int j = 0; j < 3; ++j) {
      values[j] = load_lanes(bytes + j * sizeof(flag_lanes));
      if (stored) values[j] = (values[j] << 8) | (values[j] >> 8);
      store_lanes(bytes + j * sizeof(flag_lanes), values[j] | heads[j]);
    }
    own[k] = values[0][2];
    own[k + 1] = values[1][0];
    own[k + 2] = values[1][6];
    own[k + 3] = values[2][4];
  }
  for (; k < count; ++k) {
    if (stored) {
      auto* values = reinterpret_cast<uint16_t*>(&cells[k]);
      for (int32_t v = 0; v < kValuesPerCell; ++v) values[v] = __builtin_bswap16(values[v]);
    }
    cells[k].object_list = cells[k].model_list = NONE;
    own[k] = cells[k].terrain_and_flags;
  }
}

// A vertex is shared by the cell and its upper, left and upper-left neighbours. Both vertex bits
// are derived afresh: kept, they would outlive water that has been removed.
uint16_t vertex_flags_of(uint32_t own, uint32_t up, uint32_t left, uint32_t up_left) {
  const uint32_t any = own | up | left | up_left, all = own & up & left & up_left;
  const uint32_t touches = uint32_t((any & _cell_media_flags) != 0) & uint32_t((any & _cell_no_ground) == 0);
  const uint32_t fully = uint32_t((all & _cell_media_flags) == _cell_media_flags);
  return uint16_t((own & ~uint32_t(_cell_transient | _cell_vertex_touches_media | _cell_vertex_fully_in_media |
                                   _cell_no_ground)) |
                  touches * _cell_vertex_touches_media | fully * _cell_vertex_fully_in_media);
}

// One row's flags, columns first..last (first >= 1), from compact copies of the row (own) and of
// the row above as it stands (above), both indexed by column from first - 1. Visiting in reading
// order, a neighbour already visited has lost its no-ground bit and kept its media bits, so every
// cell reads only stored values and eight are derived at once.
void vertex_flags_of_lanes(const uint16_t* own, const uint16_t* above, uint16_t* out, int32_t first, int32_t last) {
  const flag_lanes kept = flag_lanes{} + uint16_t(~(_cell_transient | _cell_vertex_touches_media |
                                                    _cell_vertex_fully_in_media | _cell_no_ground));
  const flag_lanes media = flag_lanes{} + uint16_t(_cell_media_flags);
  const flag_lanes no_ground = flag_lanes{} + uint16_t(_cell_no_ground);
  int32_t x = first;
  for (; x + kLanes - 1 <= last; x += kLanes) {
    const flag_lanes cell = load_lanes(own + x), left = load_lanes(own + x - 1) & ~no_ground;
    const flag_lanes up = load_lanes(above + x), up_left = load_lanes(above + x - 1);
    const flag_lanes any = cell | up | left | up_left, all = cell & up & left & up_left;
    const flag_lanes touches = flag_lanes((any & media) != 0) & flag_lanes((any & no_ground) == 0);
    const flag_lanes fully = flag_lanes((all & media) == media);
    store_lanes(out + x, (cell & kept) | (touches & uint16_t(_cell_vertex_touches_media)) |
                             (fully & uint16_t(_cell_vertex_fully_in_media)));
  }
  for (; x <= last; ++x) {
    out[x] = vertex_flags_of(own[x], above[x], own[x - 1] & ~uint32_t(_cell_no_ground), above[x - 1]);
  }
  // The first cell's left neighbour is not visited: its no-ground bit counts.
  out[first] = vertex_flags_of(own[first], above[first], own[first - 1], above[first - 1]);
}

// Writes the derived flags of columns first..last back to the row. A map saved by the editor
// stores the flags an open derives, so eight cells are compared at once and only those that
// differ are written.
void store_changed_flags(mesh_cell* row, const uint16_t* own, const uint16_t* out, int32_t first, int32_t last) {
  int32_t x = first;
  for (; x + kLanes - 1 <= last; x += kLanes) {
    const flag_lanes differ = flag_lanes(load_lanes(own + x) != load_lanes(out + x));
    uint64_t halves[2];
    std::memcpy(halves, &differ, sizeof halves);
    if ((halves[0] | halves[1]) == 0) continue;
    for (int32_t k = x; k < x + kLanes; ++k) row[k].terrain_and_flags = out[k];
  }
  for (; x <= last; ++x) row[x].terrain_and_flags = out[x];
}

// Rows y0..y1, columns x0..x1, in reading order, each beside the compact copy of the one before;
// above_row is that copy for row y0 - 1 (columns x0 - 1 on), null for none.
void prepare_rows(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const uint16_t* above_row, bool stored) {
  const int32_t across = mesh_globals.cells_across;
  mesh_cell* const cells = mesh_globals.cells;
  const int32_t first = std::max(x0, 1);
  uint16_t buffers[3][kMaximumCellsAcross + kLanes];
  uint16_t *own = buffers[0], *above = buffers[1], *out = buffers[2];
  if (above_row != nullptr) std::copy(above_row + (first - 1), above_row + x1 + 1, above + (first - 1));
  for (int32_t y = y0; y <= y1; ++y) {
    mesh_cell* const row = cells + y * across;
    swap_and_reset_lists(row + x0, x1 - x0 + 1, stored, own + x0);
    if (x0 == first) own[first - 1] = row[first - 1].terrain_and_flags;
    if ((y > y0 || above_row != nullptr) && first <= x1) {
      vertex_flags_of_lanes(own, above, out, first, x1);
      store_changed_flags(row, own, out, first, x1);
      // The next row's row above: this one as it now stands.
      out[first - 1] = own[first - 1];
      std::swap(above, out);
    } else {
      std::swap(above, own);
    }
  }
}

// Row y's flags as they stand, compact; nothing for a row outside the grid.
void compact_flags(int32_t y, uint16_t* flags) {
  if (y < 0 || y >= mesh_globals.cells_down) return;
  const mesh_cell* row = mesh_globals.cells + y * mesh_globals.cells_across;
  for (int32_t x = 0; x < mesh_globals.cells_across; ++x) flags[x] = row[x].terrain_and_flags;
}

// ---- reading an open's cells on two threads ----
// The open's thread reads the grid a chunk of rows at a time; a helper thread, woken as the open
// begins, prepares the chunks from the first as they arrive, and the open's thread prepares them
// from the last once all are read. Every chunk starts from a compact copy of the row above it, made
// as it was read and given the bits its preparation will leave in it, so chunks are independent.
// The helper sleeps between opens; when it wakes too late the open's thread does every chunk.

struct chunk_job {
  int32_t rows_per_chunk = 0, chunk_count = 0;
  std::vector<uint16_t> boundaries;  // chunk_count rows: each chunk's row above as it will stand
  std::atomic<int32_t> chunks_read{0};
  std::atomic<bool> failed{false};
  std::atomic<int32_t> inside{0};  // helpers working on the job
  std::mutex claims;
  int32_t front = 0, back = 0;  // the chunks not yet claimed: front..back - 1
};

struct helper_state {
  std::mutex lock;
  std::condition_variable wake;
  chunk_job* job = nullptr;
  uint64_t generation = 0;
  bool running = false;
};

// Never destroyed: the helper may still sleep on it when the program ends.
helper_state& helper() {
  static helper_state* state = new helper_state;
  return *state;
}

void prepare_chunk(chunk_job& job, int32_t chunk) {
  const int32_t y0 = chunk * job.rows_per_chunk;
  const int32_t y1 = std::min(y0 + job.rows_per_chunk, mesh_globals.cells_down) - 1;
  const uint16_t* above = chunk == 0 ? nullptr : job.boundaries.data() + size_t(chunk) * size_t(mesh_globals.cells_across);
  prepare_rows(0, y0, mesh_globals.cells_across - 1, y1, above, true);
}

// Claims the next chunk from the front (the helper) or the back; NONE when all are claimed.
int32_t claim_chunk(chunk_job& job, bool from_front) {
  std::lock_guard<std::mutex> guard(job.claims);
  if (job.front >= job.back) return NONE;
  return from_front ? job.front++ : --job.back;
}

void help_with(chunk_job& job) {
  for (int32_t chunk; (chunk = claim_chunk(job, true)) != NONE;) {
    while (job.chunks_read.load(std::memory_order_acquire) <= chunk) {
      if (job.failed.load(std::memory_order_acquire)) return;
      std::this_thread::yield();
    }
    prepare_chunk(job, chunk);
  }
}

void helper_main() {
  helper_state& h = helper();
  uint64_t seen = 0;
  for (;;) {
    chunk_job* job = nullptr;
    {
      std::unique_lock<std::mutex> guard(h.lock);
      h.wake.wait(guard, [&] { return h.generation != seen; });
      seen = h.generation;
      job = h.job;
      if (job != nullptr) job->inside.fetch_add(1, std::memory_order_relaxed);
    }
    if (job == nullptr) continue;
    help_with(*job);
    job->inside.fetch_sub(1, std::memory_order_release);
  }
}

// Offers the job to the helper, starting it on first use; false when there is no helper.
bool offer_job(chunk_job* job) {
  helper_state& h = helper();
  {
    std::lock_guard<std::mutex> guard(h.lock);
    if (!h.running) {
      if (std::thread::hardware_concurrency() < 2) return false;
      try {
        std::thread(helper_main).detach();
      } catch (const std::system_error&) {
        return false;
      }
      h.running = true;
    }
    h.job = job;
    ++h.generation;
  }
  h.wake.notify_one();
  return true;
}

// Takes the job back: no helper starts on it after this, and those inside have finished.
void retire_job(chunk_job& job) {
  {
    std::lock_guard<std::mutex> guard(helper().lock);
    helper().job = nullptr;
  }
  while (job.inside.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

// Below this many chunks the helper is not worth waking.
constexpr int32_t kChunksWorthAHelper = 4;

}  // namespace

// The normals of the rectangle's submeshes are left to be computed when first read.
void mesh_prepare_cells(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!mesh_clip_cell_rectangle(x0, y0, x1, y1)) return;
  mesh_refresh_normals(x0, y0, x1, y1);
  mesh_edit_cells();
  uint16_t above[kMaximumCellsAcross];
  compact_flags(y0 - 1, above);
  prepare_rows(x0, y0, x1, y1, y0 > 0 ? above : nullptr, false);
}

bool mesh_read_and_prepare_cells(const mesh_row_reader& read) {
  const int32_t across = mesh_globals.cells_across, down = mesh_globals.cells_down;
  if (mesh_globals.cells == nullptr || across <= 0 || across > kMaximumCellsAcross || down <= 0) return false;
  mesh_refresh_normals(0, 0, across - 1, down - 1);
  mesh_edit_cells();
  chunk_job job;
  // About 128 KB a chunk: read, then prepared while it is in the cache.
  job.rows_per_chunk = std::max(1, (128 << 10) / int32_t(across * sizeof(mesh_cell)));
  job.chunk_count = (down + job.rows_per_chunk - 1) / job.rows_per_chunk;
  job.back = job.chunk_count;
  bool helped = false;
  try {
    job.boundaries.resize(size_t(job.chunk_count) * size_t(across));
    helped = job.chunk_count >= kChunksWorthAHelper && offer_job(&job);
  } catch (const std::bad_alloc&) {
    // One thread, in reading order: each chunk follows the one before in the grid.
    job.boundaries.clear();
  }
  for (int32_t chunk = 0; chunk < job.chunk_count; ++chunk) {
    const int32_t y0 = chunk * job.rows_per_chunk, rows = std::min(job.rows_per_chunk, down - y0);
    mesh_cell* const into = mesh_globals.cells + y0 * across;
    if (!read(y0, rows, into)) {
      job.failed.store(true, std::memory_order_release);
      if (helped) retire_job(job);
      return false;
    }
    if (job.boundaries.empty()) {
      uint16_t above[kMaximumCellsAcross];
      compact_flags(y0 - 1, above);
      prepare_rows(0, y0, across - 1, y0 + rows - 1, y0 > 0 ? above : nullptr, true);
      continue;
    }
    // The next chunk's row above: this chunk's last row as its preparation will leave it, whose
    // media bits stay and whose no-ground bit goes (but in the first row and column).
    if (chunk + 1 < job.chunk_count) {
      const int32_t last = y0 + rows - 1;
      uint16_t* boundary = job.boundaries.data() + size_t(chunk + 1) * size_t(across);
      const mesh_cell* row = mesh_globals.cells + last * across;
      for (int32_t x = 0; x < across; ++x) {
        const uint16_t flags = __builtin_bswap16(row[x].terrain_and_flags);
        boundary[x] = x > 0 && last > 0 ? uint16_t(flags & ~_cell_no_ground) : flags;
      }
    }
    job.chunks_read.store(chunk + 1, std::memory_order_release);
  }
  if (!job.boundaries.empty()) {
    for (int32_t chunk; (chunk = claim_chunk(job, false)) != NONE;) prepare_chunk(job, chunk);
    if (helped) retire_job(job);
  }
  return true;
}
