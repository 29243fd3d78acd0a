#include "shell/tool_modes_private.h"
#include "shell/vellgrim_startup.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QScreen>
#include <QTimer>

#include "cseries/error_manager.h"
#include "input/action_queue.h"
#include "session/engine.h"
#include "engine/window_positions.h"
#include "platform/ui_host.h"
#include "shell/input_filter.h"
#include "shell/main_loop.h"
#include "shell/map_actions_window.h"
#include "shell/overhead_view.h"
#include "shell/qt_ui_host.h"
#include "shell/scenery_window.h"
#include "shell/shell.h"
#include "shell/terrain_window.h"
#include "shell/tool_modes.h"
#include "shell/tools_window.h"
#include "shell/vellgrim_frame.h"
#include "tools/edit_journal.h"
#include "tools/map_session.h"

namespace {

// What the shell does with every opened map, whoever opened it (Open Map, New Map, a reopen).
void map_opened() {
  ResetOverheadForMap();
  tool_models_forget();
  SelectTool(_tool_preview);
  SetShellTitle(map_window_title().c_str());
}

const map_session_client shell_map_client = {"shell", map_opened, nullptr, nullptr};

// When a modal dialog closes while the editor is in front, its owner gets the keyboard back, as an
// owned window's owner does on Windows; some window managers leave it with no window at all.
class modal_owner_activator : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Hide || !watched->isWidgetType()) return false;
    const auto* window = static_cast<QWidget*>(watched);
    if (!window->isWindow() || !window->isModal()) return false;
    if (QGuiApplication::applicationState() != Qt::ApplicationActive) return false;
    QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    // Once the dialog has gone: a window manager that moves the keyboard on its own does so then.
    if (owner) QTimer::singleShot(0, owner, [owner] {
      if (owner->isVisible()) owner->activateWindow();
    });
    return false;
  }
};

// The program's own folder is the working folder: the tag store, the log and the lock live there.
void enter_program_folder() { QDir::setCurrent(QCoreApplication::applicationDirPath()); }

// The visual view is a 16-bit 5-5-5 image shown on a screen: without a screen, or without that
// image format, the editor cannot show anything.
void check_display() {
  const QImage probe(VISUAL_VIEW_WIDTH, VISUAL_VIEW_HEIGHT, QImage::Format_RGB555);
  if (QGuiApplication::primaryScreen() && !probe.isNull()) return;
  ui_message_box("", "Vellgrim needs a display that can show its 16-bit view, and found none.", ui_icon_error,
                 ui_buttons_ok);
  halt_program(1);
}

}  // namespace

void vellgrim_read_profile() {
  QCoreApplication::setOrganizationName(WINDOW_POSITIONS_ORGANISATION);
  QCoreApplication::setApplicationName(WINDOW_POSITIONS_APPLICATION);
  window_positions_read(&shell.positions);
}

void vellgrim_create_frame() {
  shell.frame = new CVellgrimFrameWnd;
  InstallInputFilter(shell.frame);
}

void vellgrim_create_windows() {
  UpdateMenuState();
  CreatePaletteCombos();
  CreateOverheadView();
  CreateMapActionsWindow(shell.frame);
  CreateTerrainWindow();
  shell.frame->show();
  CreateToolsWindow(shell.frame);
  // Owned by the frame, it goes with it.
  qApp->installEventFilter(new modal_owner_activator(shell.frame));
  map_session_register(&shell_map_client);
  // Undo, Redo and Save follow every recorded step, and so do the palette combo boxes.
  edit_journal_set_listener([] {
    UpdateMenuState();
    SceneryWindowFollowPalette();
  });
}

void vellgrim_destroy_windows() {
  map_session_unregister(&shell_map_client);
  edit_journal_set_listener(nullptr);
  // The frame owns the scenery, map actions and tools windows.
  for (shell_window window : {_shell_window_overhead, _shell_window_terrain}) delete shell.windows[window];
  delete shell.frame;
  shell = shell_state{};
}

int vellgrim_run() {
  const QString previous_application_name = QCoreApplication::applicationName();
  qt_ui_host_install();
  vellgrim_read_profile();
  vellgrim_create_frame();
  enter_program_folder();
  check_display();
  engine_start_editor();
  vellgrim_create_windows();
  main_loop_run();
  // Quit and the close box end here: the sampler must not outlive the windows that feed it.
  input_shutdown();
  vellgrim_destroy_windows();
  QCoreApplication::setApplicationName(previous_application_name);
  return 0;
}
