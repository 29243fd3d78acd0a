#include "shell/main_loop.h"

#include <QApplication>
#include <QEvent>

#include <chrono>
#include <thread>

#include "input/action_queue.h"
#include "input/observer.h"
#include "session/engine.h"
#include "shell/overhead_view.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tools_window.h"
#include "shell/visual_view.h"
#include "shell/vellgrim_frame.h"
#include "tools/map_session.h"
#include "world/world.h"

namespace {

// The window system's own request to quit (a session ending) ends the loop like Quit's flag.
class quit_watcher : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Quit) shell.quit = true;
    return QObject::eventFilter(watched, event);
  }
};

// Dispatches waiting events, but at most one menu command: the frame queues commands, and each is
// run here and followed by the rest of the pass before anything else is dispatched.
void pump_events(CVellgrimFrameWnd* frame) {
  if (!frame->hasCommand()) QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (const int32_t id = frame->takeCommand()) {
    DispatchMenuCommand(id);
    visual_view_invalidate();
  }
}

// Idle work in turns: the tools window's buttons first, then the objects waiting to be deleted.
// True while there is more to do.
bool idle_processing(int32_t count) {
  switch (count) {
    case 0:
      UpdateToolsWindowButtons();
      return true;
    default:
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return false;
  }
}

void idle() {
  for (int32_t count = 0; idle_processing(count); ++count)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void sample_held_mouse(CVellgrimFrameWnd* frame) {
  if (!frame->mouseCaptured() || !(QGuiApplication::mouseButtons() & (Qt::LeftButton | Qt::RightButton))) return;
  int16_t x, y;
  GetCursorInView(&x, &y);
  ToolMouseHeld(shell_modifier_word(), x, y);
}

// In order: the queue drained (the observer moved by each tick), the world advanced by as many
// ticks, the camera, the tool's per-tick step, then the frame and the overhead view shown.
void step_engine(CVellgrimFrameWnd* frame) {
  const int32_t ticks = main_loop_drain_input_queue();
  if (ticks <= 0) return;
  world_advance(ticks);
  observer_advance_camera(ticks);
  ToolIdle();
  // The screen shows the new frame, then the overhead view follows it; nothing changed, nothing drawn.
  if (!visual_view_step()) return;
  frame->visualView()->update();
  RedrawOverhead();
}

}  // namespace

// The observer moves only while the editor has the keyboard; the world runs on regardless.
int32_t main_loop_drain_input_queue() { return input_drain(shell.application_active != 0); }

void main_loop_save_window_positions() {
  window_positions positions{};
  for (int16_t window = 0; window < NUMBER_OF_SHELL_WINDOWS; ++window)
    positions.windows[window] = shell_window_position(shell_window(window));
  window_positions_write(positions);
}

bool main_loop_pass(main_loop_state* state) {
  CVellgrimFrameWnd* frame = shell.frame;
  const game_data* data = game_data_get();
  const bool map_stopped = map_is_open() && data && data->state != _game_state_running;
  if (!frame || shell.quit || map_stopped) {
    if (frame) {
      main_loop_save_window_positions();
      frame->closeForExit();
    }
    return false;
  }
  pump_events(frame);
  idle();
  sample_held_mouse(frame);
  if (map_is_open()) {
    step_engine(frame);
    state->map_was_open = true;
  } else if (state->map_was_open) {
    // The last map has closed: once, the title and the grey view come back.
    SetShellTitle("Vellgrim");
    frame->visualView()->update();
    state->map_was_open = false;
  }
  return true;
}

void main_loop_run() {
  quit_watcher watcher;
  QCoreApplication::instance()->installEventFilter(&watcher);
  main_loop_state state;
  while (main_loop_pass(&state)) {
  }
  QCoreApplication::instance()->removeEventFilter(&watcher);
}
