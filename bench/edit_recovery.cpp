// The cost of writing the edit journal ahead, with the recovery file off (0) and on (1), on a
// 4 x 4-submesh map: strokes (64 vertex edits in one step, as a painter's drag makes them), where
// the appends should cost a few percent at most, and single vertex edits, the worst case: one
// step, and one append, for the least edit there is.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tests/support/collection_fixtures.cpp"
#include "bench_store.h"
#include "../tests/support/map_fixtures.cpp"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "session/engine.h"
#include "tag_files/tag_files.h"
#include "tools/bitmap_file.h"
#include "tools/edit_journal.h"
#include "tools/edit_recovery.h"
#include "tools/map_session.h"
#include "tools/new_map.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace fs = std::filesystem;

namespace {


// Questions are answered No: closing discards, a recovery file is not replayed.
ui_answer answer_no(void*, const char*, const char*, ui_icon, ui_buttons buttons) {
  return buttons == ui_buttons_ok ? ui_answer_ok : ui_answer_no;
}
const ui_host no_host = {nullptr, answer_no, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

bool open_map() {
  static tag media_tag = NONE_TAG;
  static std::string picture_path;
  if (media_tag == NONE_TAG) {
    if (!bench_make_store_folder()) return false;
    if (!map_fixture_open_store(&media_tag) || !engine_initialize()) return false;
    ui_host_install(&no_host);
    bitmap_image image;
    image.width = image.height = 1024;
    image.pixels.assign(size_t(1024) * 1024, 7);
    picture_path = (bench_store_root() / "picture.bmp").string();
    if (!bitmap_write(picture_path, image)) return false;
    if (!new_map_create("Bench Edits", media_tag, picture_path) || !map_save()) return false;
  }
  return map_is_open();
}

void BM_VertexEdits(benchmark::State& state) {
  if (!open_map()) return state.SkipWithError("couldn't make the map");
  edit_recovery_enable(state.range(0) != 0);
  if (!map_reopen()) return state.SkipWithError("couldn't reopen the map");
  int32_t i = 0;
  for (auto _ : state) {
    const int32_t x = 1 + (i * 7) % 126, y = 1 + (i * 13) % 126;
    if (!mesh_set_vertex_height(x, y, (i * 31) % 2000)) state.SkipWithError("edit failed");
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) ? "written ahead" : "journal only");
  edit_recovery_enable(false);
}
BENCHMARK(BM_VertexEdits)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_StrokeSteps(benchmark::State& state) {
  if (!open_map()) return state.SkipWithError("couldn't make the map");
  edit_recovery_enable(state.range(0) != 0);
  if (!map_reopen()) return state.SkipWithError("couldn't reopen the map");
  int32_t i = 0;
  for (auto _ : state) {
    journal_step step("Stroke");
    for (int32_t k = 0; k < 64; ++k, ++i) {
      const int32_t x = 1 + (i * 7) % 126, y = 1 + (i * 13) % 126;
      if (!mesh_set_vertex_height(x, y, (i * 31) % 2000)) state.SkipWithError("edit failed");
    }
    if (!step.commit()) state.SkipWithError("the step was not recorded");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) ? "written ahead" : "journal only");
  edit_recovery_enable(false);
}
BENCHMARK(BM_StrokeSteps)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
