// View Preferences (the wireframe and show settings, the overhead view's colours), the placement
// tools' flag dialogs, and the colour button with its picker.
#pragma once

#include <QColorDialog>
#include <QDialog>
#include <QPushButton>

#include <cstdint>

class QCheckBox;
class QComboBox;

class QGroupBox;

// A colour of the game data: 16 bits a channel, and flag bits.
struct rgb_color16 {
  uint16_t red, green, blue;
  uint16_t flags;  // rgb_color16_flags; other bits kept
};
enum rgb_color16_flags : uint16_t {
  _color_is_reversed = 0x0002,
  _color_uses_global_tint = 0x0004,
  _color_is_unused = 0x0010,
};

// The colour picker. In its plain mode it is opened with a colour as 0x00BBGGRR and on OK the result
// is its red, green and blue fields, each taken as its low 8 bits. In its flag mode it edits an
// rgb_color16 with the "Color Flags" group's check boxes; a channel left at its shown value keeps
// its low byte, one changed becomes the chosen 8 bits spread over 16.
class CCustomColorPickerDlg : public QColorDialog {
 public:
  CCustomColorPickerDlg(QWidget* parent, uint32_t colorref);
  CCustomColorPickerDlg(QWidget* parent, const rgb_color16& color);
  uint32_t colorref() const;
  rgb_color16 color16() const;
  QGroupBox* flagsGroup() const { return flags_group_; }

 private:
  void build_flags_group();
  QGroupBox* flags_group_ = nullptr;
  class QCheckBox* flag_boxes_[3] = {};
  rgb_color16 initial_{};
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
