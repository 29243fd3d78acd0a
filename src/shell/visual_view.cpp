#include "shell/visual_view.h"

#include <cstdint>

#include "view/render.h"

namespace {

uint64_t last_stamp = 0;
bool drawn_once = false;

}  // namespace

bool visual_view_step() {
  const render_camera camera = render_observer_camera(0.0f);
  const uint64_t stamp = render_scene_stamp(camera);
  if (drawn_once && stamp == last_stamp) return false;
  render_frame(camera);
  last_stamp = stamp;
  drawn_once = true;
  return true;
}

void visual_view_invalidate() {
  render_invalidate();
  drawn_once = false;
}
