#include "shell/shadow_commands.h"

#include <QMenu>
#include <QPoint>

#include <cstdio>

#include "cseries/error_manager.h"
#include "platform/ui_host.h"
#include "shell/map_image_commands.h"
#include "shell/shell.h"
#include "shell/shell_commands.h"
#include "shell/shell_queries.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/model_animation_shadows.h"
#include "tools/shadow_editor.h"

namespace {

// A refusal the author should see; a cancel is not one.
void show_failure(const char* what) {
  const char* reason = error_last_message();
  char text[512];
  std::snprintf(text, sizeof(text), "couldn't %s: %s", what, reason && *reason ? reason : "the reasons are in tarn_log.txt.");
  ui_message_box("Error", text, ui_icon_error, ui_buttons_ok);
}

void after(bool done, const char* what) {
  // A cancelled computation reports nothing and leaves no error pending.
  if (!done && error_pending_code() != error_none) show_failure(what);
  handle_error();
  UpdateMenuState();
}

void compute_all(int16_t mode, const char* what) {
  if (!map_is_open()) return;
  handle_error();
  after(shadow_compute(mode, SHADOW_ALL_SUBMESHES), what);
}

}  // namespace

namespace {
int32_t current_model_animation_marker = -1;
}  // namespace

void ShadowCommandsSetCurrentModelAnimationMarker(int32_t marker_index) { current_model_animation_marker = marker_index; }

int32_t ShadowCommandsCurrentModelAnimationMarker() {
  if (!map_is_open() || !shell_model_animation_is_current()) return -1;
  return model_animation_shadows_animation_of(current_model_animation_marker) >= 0 ? current_model_animation_marker : -1;
}

void CommandUnprotectAllSubmeshes() {
  if (!map_is_open()) return;
  handle_error();
  after(shadow_unprotect_all_submeshes(), "unprotect the submeshes");
}

void CommandNoShadows() {
  if (!map_is_open()) return;
  handle_error();
  after(shadow_no_shadows(SHADOW_ALL_SUBMESHES), "clear the shadow maps");
}

void CommandBasicLighting() { compute_all(_shadow_mode_basic_lighting, "compute Basic Lighting"); }
void CommandAddMeshShading() { compute_all(_shadow_mode_mesh_shading, "add mesh shading"); }
void CommandAddModelShading() { compute_all(_shadow_mode_model_shading, "add model shading"); }

void CommandCalculateModelAnimationShadows() {
  const int32_t marker = ShadowCommandsCurrentModelAnimationMarker();
  if (marker < 0) return;
  handle_error();
  after(model_animation_shadows_calculate(marker), "calculate the model animation shadows");
}

void CommandRemoveModelAnimationShadows() {
  const int32_t marker = ShadowCommandsCurrentModelAnimationMarker();
  if (marker < 0) return;
  handle_error();
  after(model_animation_shadows_remove(marker), "remove the model animation shadows");
}

void ShowShadowToolPopup(QWidget* parent, const QPoint& global_position, int32_t world_x, int32_t world_y) {
  const int32_t submesh = shadow_submesh_at(world_x, world_y);
  if (submesh < 0) return;
  QMenu menu(QStringLiteral("Shadow Tool"), parent);
  QAction* actions[NUMBER_OF_SHADOW_POPUP_ITEMS] = {};
  for (int16_t item = 0; item < NUMBER_OF_SHADOW_POPUP_ITEMS; ++item) {
    const shadow_popup_state state = shadow_popup_item_state(submesh, item);
    actions[item] = menu.addAction(QString::fromLatin1(state.label));
    actions[item]->setCheckable(item == _shadow_popup_protected);
    actions[item]->setChecked(state.checked);
    actions[item]->setEnabled(state.enabled);
    if (item == _shadow_popup_protected) menu.addSeparator();
  }
  // The submesh's images, each layer's Import... and Export...
  struct image_item {
    const char* group;  // a submenu, or none for an item of its own
    const char* import_label;
    const char* export_label;
    int16_t layer;
  };
  static const image_item images[] = {
      {"Shadow Map", "Import...", "Export...", _map_layer_shadow},
      {"Color Map", "Import...", "Export...", _map_layer_color},
      {"Displacement Map", "Import...", "Export...", _map_layer_displacement},
      {nullptr, "Import Water Level...", "Export Water Level...", _map_layer_water_level},
      {"Terrain Map", "Import...", "Export...", _map_layer_terrain},
  };
  constexpr int32_t IMAGE_ITEMS = int32_t(sizeof(images) / sizeof(images[0]));
  QAction* imports[IMAGE_ITEMS] = {};
  QAction* exports[IMAGE_ITEMS] = {};
  menu.addSeparator();
  for (int32_t i = 0; i < IMAGE_ITEMS; ++i) {
    QMenu* into = images[i].group ? menu.addMenu(QString::fromLatin1(images[i].group)) : &menu;
    imports[i] = into->addAction(QString::fromLatin1(images[i].import_label));
    exports[i] = into->addAction(QString::fromLatin1(images[i].export_label));
  }
  // The chosen item is taken from its own signal, so items in the submenus count alike.
  QAction* chosen = nullptr;
  QObject::connect(&menu, &QMenu::triggered, [&chosen](QAction* action) { chosen = action; });
  for (QMenu* sub : menu.findChildren<QMenu*>())
    QObject::connect(sub, &QMenu::triggered, [&chosen](QAction* action) { chosen = action; });
  if (QAction* answered = menu.exec(global_position)) chosen = answered;
  if (!chosen) return;
  for (int16_t item = 0; item < NUMBER_OF_SHADOW_POPUP_ITEMS; ++item) {
    if (chosen != actions[item]) continue;
    handle_error();
    after(shadow_popup_choose(submesh, item), "change the submesh's shadow map");
  }
  for (int32_t i = 0; i < IMAGE_ITEMS; ++i) {
    if (chosen == imports[i]) MapImageImport(images[i].layer, submesh);
    if (chosen == exports[i]) MapImageExport(images[i].layer, submesh);
  }
}
