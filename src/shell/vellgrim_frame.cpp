#include "shell/vellgrim_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>

#include "render/screen.h"
#include "shell/command_table.h"
#include "shell/connector_commands.h"
#include "shell/scenery_window.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"

// ---- the visual view ----

CVisualView::CVisualView(QWidget* parent) : QWidget(parent) {
  setFixedSize(VISUAL_VIEW_WIDTH, VISUAL_VIEW_HEIGHT);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CVisualView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const uint16_t* pixels = shell_map_is_open() ? screen_get_pixels() : nullptr;
  if (!pixels) {
    painter.fillRect(rect(), QColor(128, 128, 128));
    return;
  }
  // The screen's frame is exactly the 5-5-5 layout of this image format.
  const QImage frame(reinterpret_cast<const uchar*>(pixels), SCREEN_WIDTH, SCREEN_HEIGHT,
                     SCREEN_WIDTH * int(sizeof(uint16_t)), QImage::Format_RGB555);
  painter.drawImage(0, 0, frame);
}

namespace {

uint32_t sixtieths_now() { return uint32_t(uint64_t(shell_tick_count()) * 60 / 1000); }

int16_t clamp16(int value) { return int16_t(value < -32768 ? -32768 : value > 32767 ? 32767 : value); }

}  // namespace

void CVisualView::mousePressEvent(QMouseEvent* event) {
  CVellgrimFrameWnd* frame = shell.frame;
  const bool tool_button = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
  if (frame && tool_button && shell_map_is_open()) {
    const QPoint position = event->position().toPoint();
    ToolMouseDown(sixtieths_now(), shell_modifier_word(), clamp16(position.x()), clamp16(position.y()));
    // Qt keeps the mouse with this widget until the button goes up.
    frame->setMouseCaptured(true);
  }
  QWidget::mousePressEvent(event);
}

void CVisualView::mouseReleaseEvent(QMouseEvent* event) {
  CVellgrimFrameWnd* frame = shell.frame;
  const bool tool_button = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
  if (frame && tool_button && frame->mouseCaptured()) {
    ToolMouseUp(shell_modifier_word());
    frame->setMouseCaptured(false);
  }
  QWidget::mouseReleaseEvent(event);
}

// Only the double-click: Qt's default would hand the tool a second press for the same click.
void CVisualView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint position = event->position().toPoint();
    ToolDoubleClick(shell_modifier_word(), clamp16(position.x()), clamp16(position.y()));
  }
  event->accept();
}

void CVisualView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && shell_delete_selected_markers()) {
    event->accept();
    return;
  }
  const uint8_t key = shell_virtual_key(event->key(), event->modifiers() & Qt::KeypadModifier);
  if (key) ToolKey(key, key, shell_modifier_word());
  QWidget::keyPressEvent(event);
}

uint8_t shell_virtual_key(int qt_key, bool keypad) {
  if (keypad && qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) return uint8_t(0x60 + (qt_key - Qt::Key_0));
  if ((qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) || (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9))
    return uint8_t(qt_key);
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24) return uint8_t(0x70 + (qt_key - Qt::Key_F1));
  switch (qt_key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: return 0x09;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Semicolon: return 0xBA;
    case Qt::Key_Plus: case Qt::Key_Equal: return 0xBB;
    case Qt::Key_Comma: return 0xBC;
    case Qt::Key_Minus: return 0xBD;
    case Qt::Key_Period: return 0xBE;
    case Qt::Key_Slash: return 0xBF;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft: return 0xDB;
    case Qt::Key_Backslash: return 0xDC;
    case Qt::Key_BracketRight: return 0xDD;
    case Qt::Key_Apostrophe: return 0xDE;
    default: return 0;
  }
}

// ---- the frame ----

CVellgrimFrameWnd::CVellgrimFrameWnd() {
  // The overlapped-window style less the sizing border and the maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle("Vellgrim");
  visual_view_ = new CVisualView(this);
  setCentralWidget(visual_view_);
  buildMenus();
  buildAccelerators();
  // The client area is exactly the visual view; the window around it cannot be resized.
  setFixedSize(sizeHint());
  scenery_window_ = CreateSceneryWindow(this);
  shell_place_window(this, _shell_window_visual);
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [](Qt::ApplicationState state) { shell.application_active = state == Qt::ApplicationActive; });
}

void CVellgrimFrameWnd::buildMenus() {
  std::vector<QMenu*> open_menus;
  for (const menu_entry& entry : menu_bar_entries()) {
    switch (entry.kind) {
      case _menu_popup: {
        QMenu* menu = open_menus.empty() ? menuBar()->addMenu(QString::fromLatin1(entry.text))
                                         : open_menus.back()->addMenu(QString::fromLatin1(entry.text));
        if (open_menus.empty()) {
          top_level_menus_.push_back(menu);
          // The menu states are brought up to date whenever a menu is about to open.
          connect(menu, &QMenu::aboutToShow, [] { UpdateMenuState(); });
        }
        open_menus.push_back(menu);
        break;
      }
      case _menu_end:
        if (!open_menus.empty()) open_menus.pop_back();
        break;
      case _menu_separator:
        if (!open_menus.empty()) open_menus.back()->addSeparator();
        break;
      case _menu_item:
      case _menu_check_item: {
        if (open_menus.empty()) break;
        // "&&" in a menu resource shows one ampersand, as it does in Qt.
        QAction* action = open_menus.back()->addAction(QString::fromLatin1(entry.text));
        action->setCheckable(entry.kind == _menu_check_item);
        action->setEnabled(entry.run != nullptr);
        const int32_t id = entry.id;
        // The check mark is the command's to change: a click must not flip it on its own.
        connect(action, &QAction::triggered, this, [this, action, id] {
          if (action->isCheckable()) action->setChecked(!action->isChecked());
          postCommand(id);
        });
        actions_[id] = action;
        top_positions_[id] = int(top_level_menus_.size()) - 1;
        break;
      }
    }
  }
}

void CVellgrimFrameWnd::buildAccelerators() {
  for (const accelerator_entry& entry : accelerator_entries()) {
    QAction* accelerator = new QAction(this);
    accelerator->setShortcut(QKeySequence(QString::fromLatin1(entry.keys)));
    accelerator->setShortcutContext(Qt::ApplicationShortcut);
    accelerator->setData(int(entry.id));  // which command a key names, for whoever asks
    const int32_t id = entry.id;
    connect(accelerator, &QAction::triggered, this, [this, id] { acceleratorTriggered(id); });
    addAction(accelerator);
  }
}

// As with a menu click, the states are brought up to date first; an accelerator of a greyed item,
// or of an item in a greyed menu, does nothing.
void CVellgrimFrameWnd::acceleratorTriggered(int32_t id) {
  UpdateMenuState();
  QAction* action = menuAction(id);
  if (!action || !action->isEnabled()) return;
  const QMenu* menu = topLevelMenu(top_positions_.at(id));
  if (menu && !menu->menuAction()->isEnabled()) return;
  postCommand(id);
}

QAction* CVellgrimFrameWnd::menuAction(int32_t id) const {
  auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

QMenu* CVellgrimFrameWnd::topLevelMenu(int position) const {
  return position >= 0 && position < int(top_level_menus_.size()) ? top_level_menus_[size_t(position)] : nullptr;
}

void CVellgrimFrameWnd::postCommand(int32_t id) { commands_.push_back(id); }

int32_t CVellgrimFrameWnd::takeCommand() {
  if (commands_.empty()) return 0;
  const int32_t id = commands_.front();
  commands_.pop_front();
  return id;
}

void CVellgrimFrameWnd::closeForExit() {
  closing_for_exit_ = true;
  close();
}

void CVellgrimFrameWnd::closeEvent(QCloseEvent* event) {
  if (closing_for_exit_) {
    event->accept();
    return;
  }
  event->ignore();
  postCommand(COMMAND_QUIT);
}
