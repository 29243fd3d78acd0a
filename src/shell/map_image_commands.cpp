#include "shell/map_image_commands.h"

#include <string>

#include "map/mesh.h"
#include "platform/ui_host.h"
#include "shell/shell.h"
#include "shell/shell_dialogs.h"
#include "shell/vellgrim_frame.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

constexpr char kOpenFilter[] = "Bitmap Files|*.BMP *.bmp";
constexpr char kSaveFilter[] = "Bitmap Files|*.BMP *.bmp";

// The windows follow whatever is open afterwards: a colour import reopens the map, and a reopen
// that fails leaves none.
void follow_the_open_map() {
  if (map_is_open()) {
    ShowMapWindows();
  } else {
    HideMapWindows();
  }
  UpdateMenuState();
}

}  // namespace

void MapImageImportWholeMap(int16_t layer) { MapImageImport(layer, EXTRACT_WHOLE_MESH); }
void MapImageExportWholeMap(int16_t layer) { MapImageExport(layer, EXTRACT_WHOLE_MESH); }

void MapImageImport(int16_t layer, int32_t submesh) {
  if (!map_is_open() || !map_layer_get(layer)) return;
  // The reflection map exists for the whole map only.
  if (submesh != EXTRACT_WHOLE_MESH && layer == _map_layer_reflection) return;
  std::string path;
  const char* title = layer == _map_layer_reflection ? EXTRACT_REFLECTION_IMPORT_TITLE : EXTRACT_IMPORT_TITLE;
  if (!ui_choose_open_file(title, kOpenFilter, path)) return;
  // Refusals and questions are the operation's own boxes; it marks the map modified itself.
  (void)extract_import_layer(layer, submesh, path);
  follow_the_open_map();
}

void MapImageExport(int16_t layer, int32_t submesh) {
  const map_layer_definition* definition = map_layer_get(layer);
  if (!map_is_open() || !definition) return;
  if (submesh != EXTRACT_WHOLE_MESH && layer == _map_layer_reflection) return;
  std::string path = std::string(definition->untitled_name) + "." + EXTRACT_DEFAULT_EXTENSION;
  if (!ui_choose_save_file(definition->save_title, kSaveFilter, path)) return;
  // A failed write reports nothing beyond the log; the file is left as it was.
  (void)extract_export_layer(layer, submesh, path);
}

void MapShiftMeshAndMarkers() {
  if (!map_is_open()) return;
  int32_t shift_x = 0, shift_y = 0;
  if (!ShiftDialog(shell.frame, 16, 16, &shift_x, &shift_y)) return;
  if (shift_x == 0 && shift_y == 0) return;
  (void)mesh_shift(shift_x, shift_y);
  UpdateMenuState();
}
