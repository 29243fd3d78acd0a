// The window, its label and the palette combo boxes; adding a marker for every placement path.
#include "shell/scenery_window.h"

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "map/marker_utils.h"
#include "map/markers.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "shell/marker_dialogs.h"
#include "shell/shell.h"
#include "shell/tool_modes.h"
#include "shell/tool_modes_private.h"
#include "tools/map_session.h"
#include "tools/marker_placement.h"

namespace {

QPointer<QDialog> window;
QPointer<QLabel> label;
QPointer<QComboBox> combos[NUMBER_OF_TOOLS];
// The entries each type's combo boxes list (run-time fields cleared), to notice a palette that
// changed under them.
std::vector<marker_palette_entry> listed[NUMBER_OF_MARKER_TYPES];
bool filling = false;
bool refill_after_opening = true;

bool has_combo(int32_t tool) { return tool >= 0 && tool < NUMBER_OF_TOOLS && tool_records[tool].palette_key != -1; }

std::vector<marker_palette_entry> entries_of(int16_t type) {
  std::vector<marker_palette_entry> entries;
  if (!mesh_is_open()) return entries;
  for (int32_t i = 0, count = mesh_palette_count(); i < count; ++i) {
    if (mesh_palette()[i].type != type) continue;
    marker_palette_entry entry = mesh_palette()[i];
    entry.instance_count = 0;
    entry.definition_index = 0;
    entries.push_back(entry);
  }
  return entries;
}

bool same_entries(const std::vector<marker_palette_entry>& a, const std::vector<marker_palette_entry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].flags != b[i].flags || a[i].definition_tag != b[i].definition_tag || a[i].team != b[i].team) return false;
  return true;
}

QString item_text(const marker_palette_entry& entry) {
  const QString name = QString::fromLatin1(palette_entry_tag_name(entry).c_str());
  switch (entry.type) {
    case _marker_observer: return QString("Team %1").arg(entry.team);
    case _marker_scenery:
    case _marker_unit: return QString("%1 (team %2)").arg(name).arg(entry.team);
    default: return name;
  }
}

void opened() { refill_after_opening = true; }
const map_session_client scenery_map_client = {"scenery window", opened, nullptr, nullptr};

}  // namespace

QWidget* CreateSceneryWindow(QWidget* frame) {
  window = new QDialog(frame, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  window->setObjectName("scenery_window");
  auto* layout = new QHBoxLayout(window);
  label = new QLabel(window);
  label->setObjectName("label_1001");
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setMinimumWidth(label->fontMetrics().horizontalAdvance("local projectile group:"));
  layout->addWidget(label);
  shell_place_window(window, _shell_window_scenery);
  return window;
}

void CreatePaletteCombos() {
  map_session_register(&scenery_map_client);
  refill_after_opening = true;
  if (!window) return;
  auto* layout = static_cast<QHBoxLayout*>(window->layout());
  const int width = window->fontMetrics().horizontalAdvance(QString(28, 'M'));
  for (int32_t tool = 0; tool < NUMBER_OF_TOOLS; ++tool) {
    if (!has_combo(tool)) continue;
    auto* combo = new QComboBox(window);
    combo->setObjectName(QString("palette_combo_%1").arg(tool));
    combo->setMinimumWidth(width);
    combo->setMaxVisibleItems(20);
    combo->setEnabled(false);
    combo->hide();
    layout->addWidget(combo, 1);
    QObject::connect(combo, &QComboBox::currentIndexChanged, [tool](int index) {
      if (!filling && index >= 0) tool_set_palette_entry(tool, int16_t(index + 1));
    });
    combos[tool] = combo;
  }
}

QComboBox* PaletteCombo(int32_t tool) { return has_combo(tool) ? combos[tool].data() : nullptr; }

void ShowSceneryWindowForTool() {
  const int32_t tool = shell.current_tool;
  if (!window || tool_marker_type(tool) < 0) return;
  if (refill_after_opening) {
    refill_after_opening = false;
    for (int32_t t = 0; t < NUMBER_OF_TOOLS; ++t)
      if (has_combo(t)) RefillPaletteCombo(t);
  }
  for (int32_t t = 0; t < NUMBER_OF_TOOLS; ++t)
    if (combos[t]) combos[t]->setVisible(t == tool);
  const marker_type_definition* type = marker_type_get(tool_marker_type(tool));
  if (label) label->setText(QString("%1:").arg(type ? type->name : ""));
  ShowShellWindow(window);
}

void RefillPaletteCombo(int32_t tool) {
  QComboBox* combo = PaletteCombo(tool);
  if (!combo) return;
  const int16_t type = tool_marker_type(tool);
  const std::vector<marker_palette_entry> entries = entries_of(type);
  listed[type] = entries;
  filling = true;
  combo->clear();
  if (entries.empty()) {
    combo->setEnabled(false);
    filling = false;
    return;
  }
  for (const marker_palette_entry& entry : entries) combo->addItem(item_text(entry));
  combo->setEnabled(true);
  filling = false;
  const int16_t previous = tool_records[tool].current_entry;
  const int16_t count = int16_t(entries.size());
  SetToolPaletteEntry(tool, previous >= 1 ? std::min(previous, count) : int16_t(1));
}

void RefillPaletteCombosOfType(int16_t marker_type) {
  for (int32_t tool = 0; tool < NUMBER_OF_TOOLS; ++tool)
    if (has_combo(tool) && tool_marker_type(tool) == marker_type) RefillPaletteCombo(tool);
  if (window) window->update();
}

void SetToolPaletteEntry(int32_t tool, int16_t entry) { tool_set_palette_entry(tool, entry); }

// Called by tool_set_palette_entry: the combo box shows the tool's entry.
void scenery_window_select_entry(int32_t tool, int16_t entry) {
  QComboBox* combo = PaletteCombo(tool);
  if (!combo || combo->currentIndex() == entry - 1) return;
  filling = true;
  combo->setCurrentIndex(entry >= 1 && entry <= combo->count() ? entry - 1 : -1);
  filling = false;
}

void SceneryWindowEntriesDeleted(int16_t marker_type, const int16_t* deleted_entries, int32_t count) {
  const int16_t remaining = mesh_is_open() ? palette_entry_count_of_type(marker_type) : 0;
  for (int32_t tool = 0; tool < NUMBER_OF_TOOLS; ++tool) {
    if (!has_combo(tool) || tool_marker_type(tool) != marker_type) continue;
    const int16_t entry = tool_records[tool].current_entry;
    if (entry < 1) continue;
    int16_t before = 0;
    for (int32_t k = 0; k < count; ++k) before += deleted_entries[k] < entry;
    int16_t kept = int16_t(entry - before);
    if (kept > remaining) kept = remaining;
    tool_records[tool].current_entry = kept >= 1 ? kept : int16_t(-1);
  }
}

void SceneryWindowFollowPalette() {
  if (!mesh_is_open() || refill_after_opening) return;
  for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type) {
    bool shown = false;
    for (int32_t tool = 0; tool < NUMBER_OF_TOOLS; ++tool) shown |= has_combo(tool) && tool_marker_type(tool) == type;
    if (shown && !same_entries(listed[type], entries_of(type))) RefillPaletteCombosOfType(type);
  }
}

int32_t AddMarker(int16_t marker_type, int16_t palette_entry, const world_point3d& point, uint16_t facing,
                  bool random_facing, bool ground_height) {
  if (!mesh_is_open() || palette_entry < 1 || palette_entry > palette_entry_count_of_type(marker_type)) return -1;
  marker_placement placement{};
  placement.type = marker_type;
  placement.palette_entry = palette_entry;
  placement.point = point;
  placement.facing = facing;
  placement.random_facing = random_facing;
  placement.ground_height = ground_height;
  const int32_t index = marker_placement_add(placement);
  if (index < 0) {
    // A full list: the author is told, and the map stays as it was.
    char text[300];
    std::snprintf(text, sizeof(text), "couldn't add marker for %s.", map_name());
    ui_message_box("Vellgrim", text, ui_icon_error, ui_buttons_ok);
    return -1;
  }
  return index;
}
