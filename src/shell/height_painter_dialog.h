// "Height Painter Preferences" (Edit > Tool Preferences... with the Height Painter): the brush,
// the tool, the filter, the tool's rate, the filter's parameter, the radius and the feather.
#pragma once

#include <QDialog>

#include "engine/preferences.h"

class QComboBox;
class QLabel;
class QLineEdit;

class CHeightPainterPrefsDlg : public QDialog {
  Q_OBJECT
 public:
  CHeightPainterPrefsDlg(QWidget* parent, const height_painter_preferences& preferences);
  // The edited record once the dialog ended with OK.
  const height_painter_preferences& preferences() const { return record_; }

  QComboBox* brushCombo() const { return brush_; }
  QComboBox* toolCombo() const { return tool_; }
  QComboBox* filterCombo() const { return filter_; }
  QLineEdit* rateEdit() const { return rate_; }
  QLineEdit* parameterEdit() const { return parameter_; }
  QLineEdit* radiusEdit() const { return radius_; }
  QLineEdit* featherEdit() const { return feather_; }
  QLabel* rateLabel() const { return rate_label_; }
  QLabel* parameterLabel() const { return parameter_label_; }
  QLabel* filterLabel() const { return filter_label_; }

  void accept() override;

 private:
  void show_values();
  // The shown rate and parameter under the tool and filter they were shown for; false (with the
  // "Invalid Value" box) when one is not a finite number.
  bool store_shown();

  height_painter_preferences record_;
  int16_t shown_tool_ = 0, shown_filter_ = 0;
  QComboBox *brush_, *tool_, *filter_;
  QLineEdit *rate_, *parameter_, *radius_, *feather_;
  QLabel *rate_label_, *parameter_label_, *filter_label_;
};

// Opens the dialog on the stored record; OK stores it and the painter reloads it.
bool HeightPainterPreferencesDialog(QWidget* parent);
