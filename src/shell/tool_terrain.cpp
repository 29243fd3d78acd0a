// The Terrain Painting tool: presses, drags and keys in the visual view go to the terrain painter,
// which records each change in the edit journal; the map is marked modified after each.
#include "shell/tool_terrain.h"

#include <cmath>
#include <vector>

#include "render/screen_messages.h"
#include "shell/shell.h"
#include "shell/tool_modes_private.h"
#include "shell/visual_view.h"
#include "tools/edit_journal.h"
#include "tools/terrain_painter.h"

namespace {

enum : uint16_t { COLOR_WHITE = 0x7FFF };

void follow(const render_pick_hit& ground) { tool_overlay_set_brush(true, ground.a / 512.0, ground.b / 512.0); }

// A paint that changed nothing (the cells already of the type) leaves the map unmodified: the
// modified mark stays until the map is saved, so it follows recorded steps only.
bool paint(const render_pick_hit& ground, uint16_t modifiers) {
  const uint64_t before = edit_journal_undo_serial();
  terrain_painter_paint(modifiers & INPUT_MODIFIER_RIGHT_BUTTON, ground.a, ground.b, terrain_painter_tick_now());
  if (edit_journal_undo_serial() == before) return false;
  visual_view_invalidate();
  return true;
}

}  // namespace

void tool_terrain_select(bool entering) {
  if (entering) {
    // Without its grids the painter stays off and the tool paints nothing.
    (void)terrain_painter_start();
  } else {
    terrain_painter_stop();
  }
}

bool tool_terrain_press(const render_pick_hit& ground, uint16_t modifiers) {
  follow(ground);
  if (modifiers & INPUT_MODIFIER_SHIFT) {
    (void)terrain_painter_flood_fill_at(ground.a, ground.b);
    visual_view_invalidate();
    return false;
  }
  (void)paint(ground, modifiers);
  return true;
}

bool tool_terrain_held(const render_pick_hit& ground, uint16_t modifiers) {
  follow(ground);
  return paint(ground, modifiers);
}

void tool_terrain_release() { terrain_painter_end_stroke(); }

void tool_terrain_key(uint8_t key) {
  const std::string message = terrain_painter_key(key);
  if (!message.empty()) screen_message_show("%s", message.c_str());
  tool_overlay_changed();
  visual_view_invalidate();
}

void tool_terrain_idle(int32_t view_x, int32_t view_y) {
  render_pick_hit hit;
  if (render_pick_point(view_x, view_y, _pick_ground, &hit, 1) > 0) follow(hit);
}

void tool_terrain_draw_overlay(render_view* view, bool shown, double x, double y) {
  if (!shown) return;
  std::vector<world_point3d> outline;
  if (!terrain_painter_get_outline(int32_t(std::lround(x * 512)), int32_t(std::lround(y * 512)), &outline)) return;
  for (size_t k = 0; k + 1 < outline.size(); ++k)
    render_view_draw_line(view, outline[k], outline[k + 1], COLOR_WHITE, true);
}
