// The scenery window: a small strip with one palette combo box per placement tool, from which the
// placement tools take the palette entry they place. Created hidden by the frame.
#pragma once

class QWidget;

// Created as a window owned by the frame, at the saved scenery-window position.
QWidget* CreateSceneryWindow(QWidget* frame);
// At start-up, after the frame: one palette combo box per placement tool.
void CreatePaletteCombos();
