// The tools window: a small floating window of sixteen buttons, one per tool, in four rows of
// four. Its close box hides it.
#pragma once

class QWidget;

// Created after the frame is shown, at the saved tools-window position, hidden.
QWidget* CreateToolsWindow(QWidget* frame);
// Each button is enabled exactly while a map is open and checked exactly when its tool is current;
// brought up to date in the main loop's idle processing.
void UpdateToolsWindowButtons();
