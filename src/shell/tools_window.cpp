#include "shell/tools_window.h"

#include <QAction>
#include <QGridLayout>
#include <QPointer>
#include <QToolButton>
#include <QWidget>

#include "shell/shell.h"
#include "shell/tool_icons.h"
#include "shell/tool_modes.h"

namespace {

// Guarded: the window may go before the program does (tests make and drop shells).
QPointer<QAction> tool_actions[NUMBER_OF_TOOLS];

}  // namespace

QWidget* CreateToolsWindow(QWidget* frame) {
  auto* window = new QWidget(frame, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                        Qt::WindowCloseButtonHint);
  window->setWindowTitle("Tools");
  // The names show on hover even while another window has the focus, not only after a click here.
  window->setAttribute(Qt::WA_AlwaysShowToolTips);
  auto* grid = new QGridLayout(window);
  grid->setContentsMargins(2, 2, 2, 2);
  grid->setSpacing(1);
  for (int32_t index = 0; index < NUMBER_OF_TOOLS; ++index) {
    auto* action = new QAction(ToolIcon(index), QString::fromLatin1(tool_name(index)), window);
    action->setCheckable(true);
    action->setToolTip(QString::fromLatin1(tool_name(index)));
    const int32_t id = FIRST_TOOL_COMMAND + index;
    action->setObjectName(QString("tool_%1").arg(id));
    // The check follows the current tool, not the click.
    QObject::connect(action, &QAction::triggered, window, [id] {
      ToolbarCommand(id);
      UpdateToolsWindowButtons();
    });
    auto* button = new QToolButton(window);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setIconSize(QSize(22, 19));
    grid->addWidget(button, index / 4, index % 4);
    tool_actions[index] = action;
  }
  shell_place_window(window, _shell_window_tools);
  UpdateToolsWindowButtons();
  return window;
}

void UpdateToolsWindowButtons() {
  for (int32_t index = 0; index < NUMBER_OF_TOOLS; ++index) {
    if (!tool_actions[index]) continue;
    tool_actions[index]->setEnabled(shell_map_is_open());
    tool_actions[index]->setChecked(shell.current_tool == index);
  }
}
