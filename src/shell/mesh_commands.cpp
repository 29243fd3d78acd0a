// The Mesh menu's vertex and edge commands, Rotate Selection, Set Model Location and the Height
// Painter's Tool Preferences: each asks its value, then calls one recorded operation of the tools
// layer. The map's modified flag follows the edit journal; Set Height..., Set Media Height... and
// Set All Media Heights... also mark the map modified when their dialog is cancelled.
#include <QDialog>
#include <QLineEdit>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "map/mesh.h"
#include "platform/ui_host.h"
#include "shell/tool_preferences.h"
#include "shell/height_painter_dialog.h"
#include "shell/shell.h"
#include "shell/shell_commands.h"
#include "shell/shell_dialogs.h"
#include "shell/shell_queries.h"
#include "shell/tool_modes.h"
#include "shell/vellgrim_frame.h"
#include "tools/mesh_commands.h"
#include "tools/vertex_selection.h"

namespace {

constexpr char VALUE_TITLE[] = "Enter the new value:";

void refuse_range(double lowest, double highest) {
  char text[128];
  std::snprintf(text, sizeof(text), "Please enter a value between %.3f and %.3f\n", lowest, highest);
  ui_message_box("Invalid Value", text, ui_icon_error, ui_buttons_ok);
}

// The value entry, asked again after the range box for as long as its answer is outside the range
// or not a number (the Qt dialog itself stays open; other hosts may answer anything).
bool enter_value(const char* title, const char* label, double lowest, double highest, double* value) {
  double entered = *value;
  while (ui_enter_value(title, label, lowest, highest, entered)) {
    if (std::isfinite(entered) && entered >= lowest && entered <= highest) {
      *value = entered;
      return true;
    }
    refuse_range(lowest, highest);
  }
  return false;
}

// A world height as a typed value gives it: trunc(value x 512).
int32_t world_height(double cells) { return int32_t(std::trunc(cells * 512.0)); }

double selection_height(bool media) {
  int32_t ground = 0, water = 0;
  if (!mesh_command_selection_height(&ground, &water)) return 0;
  return double(media ? water : ground) / 512.0;
}

// The two amounts: a length in cells, kept in 16 bits.
bool enter_amount(const char* title, const char* label, int32_t* amount) {
  double cells = double(*amount) / 512.0;
  if (!enter_value(title, label, MESH_AMOUNT_LOWEST, MESH_AMOUNT_HIGHEST, &cells)) return false;
  *amount = world_height(cells);
  return true;
}

// "Enter a location": X, Y and Z in cells, each a finite number.
class CLocationDlg : public CFieldsDlg {
 public:
  CLocationDlg(QWidget* parent, const world_point3d& point) : CFieldsDlg(parent, "Enter a location") {
    addField("X:", 1055, dialog_real_text(cells_from_world(point.x)));
    addField("Y:", 1056, dialog_real_text(cells_from_world(point.y)));
    addField("Z:", 1020, dialog_real_text(cells_from_world(point.z)));
  }

 protected:
  bool acceptable() override {
    for (size_t i = 0; i < fieldCount(); ++i) {
      if (!std::isfinite(real(i))) {
        ui_message_box("Invalid Value", "Please enter a number.\n", ui_icon_error, ui_buttons_ok);
        return false;
      }
    }
    return true;
  }
};

}  // namespace

void CommandSetHeight() {
  if (!mesh_is_open() || !vertex_selection_any()) return;
  double value = selection_height(false);
  if (enter_value(VALUE_TITLE, "Value:", -MESH_HEIGHT_DIALOG_LIMIT, MESH_HEIGHT_DIALOG_LIMIT, &value)) {
    mesh_command_set_height(world_height(value));
  } else {
    SetMapModified(true);
  }
}

void CommandSetHeightToZero() {
  if (mesh_is_open()) mesh_command_set_height_to_zero();
}

void CommandSetMediaHeight() {
  if (!mesh_is_open() || !vertex_selection_any()) return;
  double value = selection_height(true);
  if (enter_value(VALUE_TITLE, "Value:", -MESH_HEIGHT_DIALOG_LIMIT, MESH_HEIGHT_DIALOG_LIMIT, &value)) {
    mesh_command_set_media_height(world_height(value));
  } else {
    SetMapModified(true);
  }
}

void CommandSetAllMediaHeights() {
  if (!mesh_is_open()) return;
  double value = 0;
  if (enter_value(VALUE_TITLE, "Value:", -MESH_HEIGHT_DIALOG_LIMIT, MESH_HEIGHT_DIALOG_LIMIT, &value)) {
    mesh_command_set_all_media_heights(world_height(value));
  } else {
    SetMapModified(true);
  }
}

void CommandEditJitterAmount() {
  int32_t amount = mesh_command_jitter_amount();
  if (enter_amount("Enter the jitter amount:", "Jitter Amount:", &amount)) mesh_command_set_jitter_amount(int16_t(amount));
}

void CommandJitterSelectedVertices() {
  if (!mesh_is_open()) return;
  static bool seeded = false;
  if (!seeded) {
    mesh_command_seed(uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    seeded = true;
  }
  mesh_command_jitter();
}

void CommandEditMeshEdgeRaiseAmount() {
  int32_t amount = mesh_command_edge_raise_amount();
  if (enter_amount("Enter the mesh edge raise amount:", "Mesh Edge Raise Amount:", &amount))
    mesh_command_set_edge_raise_amount(amount);
}

void CommandRaiseMeshEdges() {
  if (mesh_is_open()) mesh_command_raise_edges();
}

void CommandMakeMeshEdgesImpassable() {
  if (mesh_is_open()) mesh_command_make_edges_impassable();
}

void CommandRotateSelection() {
  const std::vector<int32_t> markers = shell_selected_marker_indices();
  if (!mesh_is_open() || markers.empty()) return;
  double degrees = 5;
  if (!enter_value(VALUE_TITLE, "Value:", -ROTATE_SELECTION_LIMIT, ROTATE_SELECTION_LIMIT, &degrees)) return;
  markers_rotate(markers, rotate_selection_angle(degrees));
}

void CommandSetModelLocation() {
  const int32_t marker = shell_current_model_marker();
  if (!mesh_is_open() || marker < 0 || marker >= mesh_marker_count()) return;
  CLocationDlg dialog(shell.frame, mesh_markers()[marker].location);
  if (dialog.exec() != QDialog::Accepted) return;
  model_set_location(marker, {world_from_cells(dialog.real(0)), world_from_cells(dialog.real(1)),
                              world_from_cells(dialog.real(2))});
}

void CommandToolPreferences() { OpenToolPreferences(); }
