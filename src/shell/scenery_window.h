// The scenery window: a small strip with one palette combo box per placement tool, from which the
// placement tools take the palette entry they place, and adding a marker, which every placement
// path uses (the placement tools, Drop Observer, Duplicate). Created hidden by the frame.
#pragma once

#include <cstdint>

#include "cseries/value_types.h"

class QComboBox;
class QWidget;

// Created as a window owned by the frame, at the saved scenery-window position.
QWidget* CreateSceneryWindow(QWidget* frame);
// At start-up, after the frame: one palette combo box per placement tool.
void CreatePaletteCombos();
// The current tool is a placement tool: its combo box alone is shown, the label names its marker
// type, and the window is shown (every combo box refilled on the first call after a map opened).
void ShowSceneryWindowForTool();
// Fills the tool's combo box from the palette entries of its marker type; empty and disabled when
// there are none. The tool keeps its entry (clamped to the list), or takes the first.
void RefillPaletteCombo(int32_t tool);
// Refills the combo boxes of every placement tool of the marker type.
void RefillPaletteCombosOfType(int16_t marker_type);
// Sets the tool's current entry (from 1) and selects item entry - 1 of its combo box.
void SetToolPaletteEntry(int32_t tool, int16_t entry);
// Selects item entry - 1 of the tool's combo box (tool_set_palette_entry calls it).
void scenery_window_select_entry(int32_t tool, int16_t entry);
// Entries (from 1) of the type have gone: each tool of the type keeps the entry it had, counted
// anew, and one whose own entry went takes the entry now in its place (or the last).
void SceneryWindowEntriesDeleted(int16_t marker_type, const int16_t* deleted_entries, int32_t count);
// The palette may have changed under the combo boxes (an edit, Undo, Redo): the types whose
// entries differ from what their combo boxes list are refilled.
void SceneryWindowFollowPalette();
// The tool's combo box (none for a tool without one).
QComboBox* PaletteCombo(int32_t tool);

// Adds a marker of the type and palette entry (from 1) at the point, clamped into the map: with the
// given facing or a random one, at the point's height or on the ground. A full marker list is
// reported in a message box ("couldn't add marker for %s."). The new marker's index, or -1.
int32_t AddMarker(int16_t marker_type, int16_t palette_entry, const world_point3d& point, uint16_t facing,
                  bool random_facing, bool ground_height);
