// The visual view's mouse cursor tells what a press will do: the current tool's shape, and while a
// drag runs, the drag's own (moving, turning, raising vertices).
#include <QCursor>
#include <QWidget>

#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "shell/vellgrim_frame.h"

namespace {

Qt::CursorShape tool_shape(int32_t tool) {
  switch (tool) {
    case _tool_preview:
    case _tool_map_actions: return Qt::ArrowCursor;
    case _tool_submesh: return Qt::PointingHandCursor;
    default: return Qt::CrossCursor;  // vertices, painting and placing aim at one point
  }
}

Qt::CursorShape drag_shape() {
  if (tool_drag.height_drag) return Qt::SizeVerCursor;
  switch (tool_drag.kind) {
    case _tool_drag_move: return Qt::SizeAllCursor;
    case _tool_drag_facing: return Qt::ClosedHandCursor;
    default: return Qt::CrossCursor;
  }
}

}  // namespace

void tool_cursor_update() {
  QWidget* view = shell.frame ? shell.frame->visualView() : nullptr;
  if (!view) return;
  const Qt::CursorShape shape = tool_drag.dragging ? drag_shape() : tool_shape(shell.current_tool);
  if (view->cursor().shape() != shape) view->setCursor(shape);
}
