// View Preferences (the wireframe and show settings, the overhead view's colours), the placement
// tools' flag dialogs, and the colour button with its picker.
#pragma once

#include <QColorDialog>
#include <QDialog>
#include <QPushButton>

#include <cstdint>

class QCheckBox;
class QComboBox;

// A colour as 0x00BBGGRR. The picker, in its plain mode, starts on the colour; on OK the result is
// its red, green and blue fields, each taken as its low 8 bits.
class CCustomColorPickerDlg : public QColorDialog {
 public:
  CCustomColorPickerDlg(QWidget* parent, uint32_t colorref);
  uint32_t colorref() const;
};

// A button that shows a swatch of its colour on the left; a click opens the picker and keeps its
// choice on OK.
class CColorButton : public QPushButton {
 public:
  CColorButton(const QString& text, uint32_t colorref, QWidget* parent);
  uint32_t colorref() const { return color_; }
  void setColorref(uint32_t colorref);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  uint32_t color_;
};

class CViewPrefsDlg : public QDialog {
 public:
  explicit CViewPrefsDlg(QWidget* parent);
  QComboBox* wireframe() const { return wireframe_; }
  // Writes the choices to the view settings and the overhead view.
  void store() const;

 private:
  QComboBox* wireframe_;
  int initial_index_;
  QCheckBox* shows_[3];
  CColorButton* observer_;
  CColorButton* point_;
};

// The View Preferences command; true when stored on OK.
bool OpenViewPreferences();
// The Tool Preferences command: the Height Painter's dialog or the current placement tool's flags.
void OpenToolPreferences();
// The flag word a tool's dialog edits; none for the tools without one.
uint16_t* tool_preference_flags(int32_t tool);
