#include "shell/marker_dialogs.h"

// Placeholders until the dialogs are built: nothing opens and nothing changes.
void OpenMarkerPalette(int16_t) {}
bool AddPaletteEntry(int16_t) { return false; }
bool EditMarker(int32_t) { return false; }
bool EditSelectedMarkers() { return false; }
