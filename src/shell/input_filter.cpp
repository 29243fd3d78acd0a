#include "shell/input_filter.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QObject>

#include "input/keyboard.h"
#include "shell/vellgrim_frame.h"

namespace {

// X11 key symbols of the right-hand modifiers.
enum : uint32_t {
  XK_SHIFT_R = 0xFFE2,
  XK_CONTROL_R = 0xFFE4,
  XK_ALT_R = 0xFFEA,
  XK_SUPER_R = 0xFFEC,
};

int16_t mouse_slot(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton: return _mouse_button_left;
    case Qt::RightButton: return _mouse_button_right;
    case Qt::MiddleButton: return _mouse_button_middle;
    default: return -1;
  }
}

class input_filter : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        // The window system's repeats are not presses: the sampler makes its own.
        if (key->isAutoRepeat()) break;
        const int16_t slot =
            shell_key_slot(key->key(), key->modifiers() & Qt::KeypadModifier, key->nativeVirtualKey());
        if (slot >= 0) keyboard_set_key(slot, event->type() == QEvent::KeyPress);
        break;
      }
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        keyboard_set_mouse_button(mouse_slot(mouse->button()), event->type() == QEvent::MouseButtonPress);
        record_cursor(mouse->globalPosition().toPoint());
        break;
      }
      case QEvent::MouseMove:
        record_cursor(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        break;
      case QEvent::ApplicationDeactivate:
        keyboard_release_all();
        break;
      default:
        break;
    }
    (void)watched;
    return false;
  }

 private:
  static void record_cursor(QPoint point) {
    auto clamp16 = [](int v) { return int16_t(v < -32768 ? -32768 : v > 32767 ? 32767 : v); };
    keyboard_set_cursor(clamp16(point.x()), clamp16(point.y()));
  }
};

}  // namespace

void InstallInputFilter(QObject* parent) {
  QCoreApplication::instance()->installEventFilter(new input_filter(parent));
  // Losing the keyboard to another program lets go of every key; so does a window manager that
  // reports only the application's state.
  QObject::connect(qApp, &QGuiApplication::applicationStateChanged, parent, [](Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive) keyboard_release_all();
  });
}

int16_t shell_key_slot(int qt_key, bool keypad, uint32_t native_virtual_key) {
  switch (qt_key) {
    case Qt::Key_Shift: return native_virtual_key == XK_SHIFT_R ? _key_right_shift : _key_shift;
    case Qt::Key_Control: return native_virtual_key == XK_CONTROL_R ? _key_right_control : _key_control;
    case Qt::Key_Alt: return native_virtual_key == XK_ALT_R ? _key_right_alt : _key_alt;
    case Qt::Key_AltGr: return _key_right_alt;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
      return native_virtual_key == XK_SUPER_R ? _key_right_windows : _key_left_windows;
    case Qt::Key_Super_R: return _key_right_windows;
    case Qt::Key_CapsLock: return _key_caps_lock;
    case Qt::Key_NumLock: return _key_num_lock;
    default: break;
  }
  if (keypad) {
    switch (qt_key) {
      case Qt::Key_Slash: return _key_keypad_divide;
      case Qt::Key_Asterisk: return _key_keypad_multiply;
      case Qt::Key_Minus: return _key_keypad_minus;
      case Qt::Key_Plus: return _key_keypad_plus;
      case Qt::Key_Period:
      case Qt::Key_Comma:
      case Qt::Key_Delete:
        return _key_keypad_period;
      case Qt::Key_Enter: return _key_enter;
      default: break;
    }
  }
  if (qt_key == Qt::Key_Plus) return _key_equals;  // the same key, shifted
  // Letters, digits, the keypad digits and function keys by their virtual key; codes are compared,
  // never characters, so keypad 1..9 and F1..F11 keep their own codes.
  return keyboard_code_of_virtual_key(shell_virtual_key(qt_key, keypad));
}
