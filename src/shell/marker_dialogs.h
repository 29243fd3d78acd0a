// The marker palette dialog, the palette entry dialog and the Edit Marker dialog. Every change they
// make to the map goes through the marker operations as one journal step.
#pragma once

#include <cstdint>

// The marker palette dialog of one marker type (modal); the tools window opens it on a double-click.
void OpenMarkerPalette(int16_t marker_type);
// The add flow of a marker type: true when an entry was added.
bool AddPaletteEntry(int16_t marker_type);
// The Edit Marker dialog for one marker (by index): true when it ended with OK and changed the map.
bool EditMarker(int32_t marker_index);
// The Edit Marker dialog for every selected marker at once.
bool EditSelectedMarkers();
