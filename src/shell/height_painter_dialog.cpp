#include "shell/height_painter_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>

#include "platform/ui_host.h"
#include "shell/shell_dialogs.h"
#include "tools/height_painter.h"

namespace {

const char* const rate_labels[3] = {"Raise Rate:", "Elevation:", "Filter Effect Rate:"};
const char* const parameter_labels[4] = {"Elevation Adjustment:", "Absolute Elevation:", "Smoothing Radius:",
                                         "Noise:"};

QComboBox* combo(QWidget* parent, const char* name, std::initializer_list<const char*> items, int current) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  for (const char* item : items) box->addItem(QString::fromLatin1(item));
  box->setCurrentIndex(current);
  return box;
}

QLineEdit* field(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(255);
  return edit;
}

void refuse(const char* text) { ui_message_box("Invalid Value", text, ui_icon_error, ui_buttons_ok); }

// The field as a finite number; false when it is not one.
bool read_finite(const QLineEdit* edit, float* value) {
  const double read = dialog_read_real(edit->text());
  if (!std::isfinite(read) || std::fabs(read) > 1e30) return false;
  *value = float(read);
  return true;
}

}  // namespace

CHeightPainterPrefsDlg::CHeightPainterPrefsDlg(QWidget* parent, const height_painter_preferences& preferences)
    : QDialog(parent), record_(preferences) {
  setWindowTitle("Height Painter Preferences");
  if (!height_painter_preferences_valid(record_)) height_painter_set_defaults(&record_);
  auto* layout = new QVBoxLayout(this);
  auto* body = new QWidget(this);
  auto* form = new QFormLayout(body);
  layout->addWidget(body);
  brush_ = combo(this, "brush", {"Circle", "Square"}, record_.brush);
  tool_ = combo(this, "tool", {"Raise", "Flatten", "Filter"}, record_.tool);
  filter_ = combo(this, "filter", {"Elevation Adjustment", "Absolute Elevation", "Smooth", "Noise"}, record_.filter);
  rate_ = field(this, "rate");
  parameter_ = field(this, "parameter");
  radius_ = field(this, "radius");
  feather_ = field(this, "feather");
  rate_label_ = new QLabel(this);
  parameter_label_ = new QLabel(this);
  filter_label_ = new QLabel("Filter:", this);
  form->addRow("Brush Type:", brush_);
  form->addRow("Tool:", tool_);
  form->addRow(filter_label_, filter_);
  form->addRow(rate_label_, rate_);
  form->addRow(parameter_label_, parameter_);
  form->addRow("Radius:", radius_);
  form->addRow("Feather:", feather_);
  radius_->setText(dialog_real_text(record_.radius));
  feather_->setText(dialog_real_text(record_.feather));

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  shown_tool_ = record_.tool;
  shown_filter_ = record_.filter;
  show_values();
  // A switch keeps the value shown under the previous choice, then shows the new one's.
  const auto switched = [this] {
    if (!store_shown()) {
      const QSignalBlocker tool_blocker(tool_), filter_blocker(filter_);
      tool_->setCurrentIndex(shown_tool_);
      filter_->setCurrentIndex(shown_filter_);
      return;
    }
    shown_tool_ = int16_t(tool_->currentIndex());
    shown_filter_ = int16_t(filter_->currentIndex());
    show_values();
  };
  connect(tool_, &QComboBox::currentIndexChanged, this, switched);
  connect(filter_, &QComboBox::currentIndexChanged, this, switched);
}

void CHeightPainterPrefsDlg::show_values() {
  const bool filter = shown_tool_ == _height_painter_filter;
  rate_label_->setText(QString::fromLatin1(rate_labels[shown_tool_]));
  rate_->setText(dialog_real_text(record_.tool_rates[shown_tool_]));
  parameter_label_->setText(QString::fromLatin1(parameter_labels[shown_filter_]));
  parameter_->setText(dialog_real_text(record_.filter_parameters[shown_filter_]));
  for (QWidget* widget : {static_cast<QWidget*>(filter_label_), static_cast<QWidget*>(filter_),
                          static_cast<QWidget*>(parameter_label_), static_cast<QWidget*>(parameter_)}) {
    widget->setVisible(filter);
  }
}

bool CHeightPainterPrefsDlg::store_shown() {
  float rate = 0, parameter = 0;
  if (!read_finite(rate_, &rate) || (shown_tool_ == _height_painter_filter && !read_finite(parameter_, &parameter))) {
    refuse("Please enter a number.\n");
    return false;
  }
  record_.tool_rates[shown_tool_] = rate;
  if (shown_tool_ == _height_painter_filter) record_.filter_parameters[shown_filter_] = parameter;
  return true;
}

void CHeightPainterPrefsDlg::accept() {
  if (!store_shown()) return;
  float radius = 0, feather = 0;
  if (!read_finite(radius_, &radius) || !read_finite(feather_, &feather)) {
    refuse("Please enter a number.\n");
    return;
  }
  // A record the painter would refuse would silently give way to the defaults.
  if (!(radius > 0)) {
    refuse("Please enter a radius above 0.\n");
    return;
  }
  if (feather < 0) {
    refuse("Please enter a feather of 0 or more.\n");
    return;
  }
  if (record_.filter_parameters[_height_painter_smooth] < 1.0f) {
    refuse("Please enter a smoothing radius of 1 or more.\n");
    return;
  }
  record_.brush = int16_t(brush_->currentIndex());
  record_.tool = int16_t(tool_->currentIndex());
  record_.filter = int16_t(filter_->currentIndex());
  record_.radius = radius;
  record_.feather = feather;
  QDialog::accept();
}

bool HeightPainterPreferencesDialog(QWidget* parent) {
  height_painter_preferences* stored = height_painter_stored_preferences();
  CHeightPainterPrefsDlg dialog(parent, *stored);
  if (dialog.exec() != QDialog::Accepted) return false;
  *stored = dialog.preferences();
  height_painter_reload_preferences();
  return true;
}
