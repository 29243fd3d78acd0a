// The Maps menu's imports and exports of the map's layers and Mesh > Shift Mesh & Markers..., each
// through the same operations the command-line tool uses.
#pragma once

#include <cstdint>

// Layer numbers are the exchange layers (colour, shadow, displacement, water level, terrain,
// reflection).
void MapImageImportWholeMap(int16_t layer);
void MapImageExportWholeMap(int16_t layer);
// The same for one submesh (row-major index), as the Submesh tool's pop-up offers them.
void MapImageImport(int16_t layer, int32_t submesh);
void MapImageExport(int16_t layer, int32_t submesh);
void MapShiftMeshAndMarkers();
