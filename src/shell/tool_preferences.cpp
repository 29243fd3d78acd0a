#include "shell/tool_preferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include "engine/preferences.h"
#include "shell/height_painter_dialog.h"
#include "shell/overhead_view.h"
#include "shell/shell.h"
#include "shell/vellgrim_frame.h"
#include "shell/tool_modes.h"
#include "shell/visual_view.h"
#include "tools/height_painter.h"
#include "tools/terrain_painter.h"
#include "view/render.h"

namespace {

QColor qcolor_of(uint32_t colorref) {
  return QColor(int(colorref & 0xFF), int((colorref >> 8) & 0xFF), int((colorref >> 16) & 0xFF));
}

uint32_t colorref_of(int red, int green, int blue) {
  return uint32_t(red & 0xFF) | uint32_t(green & 0xFF) << 8 | uint32_t(blue & 0xFF) << 16;
}

void add_buttons(QDialog* dialog, QBoxLayout* layout) {
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("cancel");
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(buttons);
}

struct flag_entry {
  const char* text;
  uint16_t bit;
};

struct tool_flags {
  int32_t tool;
  const char* title;
  flag_entry entries[3];
  int32_t count;
};

const tool_flags flag_dialogs[] = {
    {_tool_place_sound_source, "Sound Source Tool Preferences",
     {{"Show Inner Radii", 0x0002}, {"Show Outer Radii", 0x0004}, {"Show All", 0x0001}}, 3},
    {_tool_place_unit, "Unit Tool Preferences", {{"Show All", 0x0001}}, 1},
    {_tool_place_scenery, "Scenery Tool Preferences", {{"Show All", 0x0001}}, 1},
    {_tool_place_model, "Model Tool Preferences", {{"Show All", 0x0001}, {"Constrain to Grid", 0x0002}}, 2},
    {_tool_place_model_animation, "Model Animation Tool Preferences",
     {{"Show All", 0x0001}, {"Constrain to Grid", 0x0002}}, 2},
};

const tool_flags* flags_of(int32_t tool) {
  for (const tool_flags& flags : flag_dialogs)
    if (flags.tool == tool) return &flags;
  return nullptr;
}

}  // namespace

// ---- the colour picker and button ----

CCustomColorPickerDlg::CCustomColorPickerDlg(QWidget* parent, uint32_t colorref)
    : QColorDialog(qcolor_of(colorref), parent) {
  setWindowTitle("Color");
  setOption(QColorDialog::DontUseNativeDialog);
}

CCustomColorPickerDlg::CCustomColorPickerDlg(QWidget* parent, const rgb_color16& color)
    : QColorDialog(QColor(color.red >> 8, color.green >> 8, color.blue >> 8), parent), initial_(color) {
  setWindowTitle("Color");
  setOption(QColorDialog::DontUseNativeDialog);
  build_flags_group();
}

void CCustomColorPickerDlg::build_flags_group() {
  static const struct {
    const char* text;
    uint16_t bit;
    int id;
  } flags[3] = {{"Is Reversed", _color_is_reversed, 1154},
                {"Uses Global Tint", _color_uses_global_tint, 1155},
                {"Is Unused", _color_is_unused, 1156}};
  flags_group_ = new QGroupBox("Color Flags", this);
  flags_group_->setObjectName("group_1252");
  auto* column = new QVBoxLayout(flags_group_);
  for (int k = 0; k < 3; ++k) {
    flag_boxes_[k] = new QCheckBox(flags[k].text, flags_group_);
    flag_boxes_[k]->setObjectName(QString("check_%1").arg(flags[k].id));
    flag_boxes_[k]->setChecked(initial_.flags & flags[k].bit);
    flag_boxes_[k]->setProperty("bit", int(flags[k].bit));
    column->addWidget(flag_boxes_[k]);
  }
  // Beside the picker's own controls, above its OK and Cancel.
  if (auto* box = qobject_cast<QBoxLayout*>(layout()))
    box->insertWidget(box->count() - 1, flags_group_);
  else
    flags_group_->move(8, 8);
}

uint32_t CCustomColorPickerDlg::colorref() const {
  const QColor color = currentColor();
  return colorref_of(color.red(), color.green(), color.blue());
}

rgb_color16 CCustomColorPickerDlg::color16() const {
  const QColor color = currentColor();
  // A channel the user left alone keeps all 16 bits; a changed one fills both bytes alike.
  const auto channel = [](uint16_t initial, int chosen) {
    return (initial >> 8) == (chosen & 0xFF) ? initial : uint16_t((chosen & 0xFF) * 0x0101);
  };
  rgb_color16 result = initial_;
  result.red = channel(initial_.red, color.red());
  result.green = channel(initial_.green, color.green());
  result.blue = channel(initial_.blue, color.blue());
  for (QCheckBox* box : flag_boxes_) {
    if (!box) continue;
    const uint16_t bit = uint16_t(box->property("bit").toInt());
    result.flags = uint16_t(box->isChecked() ? result.flags | bit : result.flags & ~bit);
  }
  return result;
}

CColorButton::CColorButton(const QString& text, uint32_t colorref, QWidget* parent)
    : QPushButton(text, parent), color_(colorref & 0xFFFFFF) {
  setMinimumWidth(fontMetrics().horizontalAdvance(text) + 48);
  connect(this, &QPushButton::clicked, this, [this] {
    CCustomColorPickerDlg picker(this, color_);
    if (picker.exec() == QDialog::Accepted) setColorref(picker.colorref());
  });
}

void CColorButton::setColorref(uint32_t colorref) {
  color_ = colorref & 0xFFFFFF;
  update();
}

void CColorButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  QPainter painter(this);
  const int inset = 5, width = 16;
  const QRect swatch(inset, inset, width, height() - 2 * inset);
  painter.fillRect(swatch, qcolor_of(color_));
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}

// ---- View Preferences ----

CViewPrefsDlg::CViewPrefsDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("View Preferences");
  const render_view_settings* settings = render_get_view_settings();
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Wireframe:", this));
  wireframe_ = new QComboBox(this);
  wireframe_->setObjectName("combo_1039");
  wireframe_->addItems({"None", "Triangles", "Cells", "Submeshes", "Terrain-filled Triangles"});
  // A mode the combo doesn't list (reflection-filled, from Alt+6) shows no entry and is kept.
  const int index = settings->wireframe_mode + 1;
  initial_index_ = index >= 0 && index < wireframe_->count() ? index : -1;
  wireframe_->setCurrentIndex(initial_index_);
  row->addWidget(wireframe_);
  layout->addLayout(row);
  const char* const texts[3] = {"Show Media", "Show Objects", "Show Models"};
  const int32_t values[3] = {settings->show_media, settings->show_objects, settings->show_models};
  for (int k = 0; k < 3; ++k) {
    shows_[k] = new QCheckBox(texts[k], this);
    shows_[k]->setObjectName(QString("check_%1").arg(1040 + k));
    shows_[k]->setChecked(values[k] != 0);
    layout->addWidget(shows_[k]);
  }
  observer_ = new CColorButton("Edit Overhead Observer Color...", GetObserverColor(), this);
  observer_->setObjectName("button_1043");
  point_ = new CColorButton("Edit Overhead Point Color...", GetPointColor(), this);
  point_->setObjectName("button_1044");
  layout->addWidget(observer_);
  layout->addWidget(point_);
  add_buttons(this, layout);
}

void CViewPrefsDlg::store() const {
  render_view_settings* settings = render_get_view_settings();
  if (wireframe_->currentIndex() != initial_index_ && wireframe_->currentIndex() >= 0)
    settings->wireframe_mode = int16_t(wireframe_->currentIndex() - 1);
  settings->show_media = shows_[0]->isChecked();
  settings->show_objects = shows_[1]->isChecked();
  settings->show_models = shows_[2]->isChecked();
  SetObserverColor(observer_->colorref());
  SetPointColor(point_->colorref());
}

bool OpenViewPreferences() {
  CViewPrefsDlg dialog(shell.frame);
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.store();
  visual_view_invalidate();
  RedrawOverhead();
  return true;
}

// ---- Tool Preferences ----

uint16_t* tool_preference_flags(int32_t tool) {
  vellgrim_preferences* preferences = vellgrim_preferences_get();
  if (!preferences) return nullptr;
  switch (tool) {
    case _tool_place_sound_source: return &preferences->place_sound_source_flags;
    case _tool_place_unit: return &preferences->place_unit_flags;
    case _tool_place_scenery: return &preferences->place_scenery_flags;
    case _tool_place_model: return &preferences->place_model_flags;
    case _tool_place_model_animation: return &preferences->place_model_animation_flags;
    default: return nullptr;
  }
}

void OpenToolPreferences() {
  const int32_t tool = shell.current_tool;
  if (tool == _tool_height_painter) {
    HeightPainterPreferencesDialog(shell.frame);
    return;
  }
  const tool_flags* flags = flags_of(tool);
  uint16_t* word = tool_preference_flags(tool);
  if (!flags || !word) return;
  QDialog dialog(shell.frame);
  dialog.setWindowTitle(flags->title);
  auto* layout = new QVBoxLayout(&dialog);
  QCheckBox* boxes[3] = {};
  for (int32_t k = 0; k < flags->count; ++k) {
    boxes[k] = new QCheckBox(flags->entries[k].text, &dialog);
    boxes[k]->setObjectName(QString("check_%1").arg(1054 + k));
    boxes[k]->setChecked(*word & flags->entries[k].bit);
    layout->addWidget(boxes[k]);
  }
  add_buttons(&dialog, layout);
  if (dialog.exec() != QDialog::Accepted) return;
  for (int32_t k = 0; k < flags->count; ++k) {
    *word = uint16_t(*word & ~flags->entries[k].bit);
    if (boxes[k]->isChecked()) *word = uint16_t(*word | flags->entries[k].bit);
  }
  if (height_painter_active()) height_painter_reload_preferences();
  if (terrain_painter_active()) terrain_painter_reload_preferences();
  visual_view_invalidate();
}
