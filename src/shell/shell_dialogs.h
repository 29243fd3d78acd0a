// The dialogs the commands share: choosing a tag, naming a new tag, and the small value, location,
// name, shift, amount, bounds and mesh-parameter dialogs. Each is modal; each changes nothing of
// the caller's unless it ends with OK.
//
// Field conventions: a real is shown with two decimals and read back like the C library's atof;
// an integer is read back like atoi; a length in the map is shown in cells (world units / 512) and
// stored back as trunc(value x 512). Conversions saturate at the limits of the stored type.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/text.h"
#include "map/markers.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
struct mesh_definition;

// ---- field conversions ----

double dialog_read_real(const QString& text);
int32_t dialog_read_integer(const QString& text);
QString dialog_real_text(double value);
// trunc(cells x 512) within the int32 range; 0 for a value that is not a number.
int32_t world_from_cells(double cells);
int16_t world16_from_cells(double cells);
double cells_from_world(int32_t world);

// ---- tag selection (template 131) ----

// (tag index, extra argument) -> list the tag.
typedef bool (*tag_selection_filter)(int32_t tag_index, int32_t extra);

class CTagSelectionDlg : public QDialog {
  Q_OBJECT
 public:
  CTagSelectionDlg(QWidget* parent, const char* title, tag group, tag_selection_filter filter = nullptr,
                   int32_t extra = 0);
  QListWidget* list() const { return list_; }
  QPushButton* openButton() const { return open_; }
  // The tag index of the chosen item once the dialog ended with Open, NONE otherwise.
  int32_t chosenTagIndex() const { return chosen_; }
  // Makes the item of that tag index the selection (the choice offered first).
  void selectTagIndex(int32_t tag_index);

  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QListWidget* list_;
  QPushButton* open_;
  int32_t chosen_ = NONE;
};

// The identifier of the chosen tag, NONE_TAG when cancelled.
tag TagSelectionDialog(QWidget* parent, const char* title, tag group, tag_selection_filter filter = nullptr,
                       int32_t extra = 0);

// ---- naming a tag to write (template 148) ----

class CNamingDlg : public QDialog {
  Q_OBJECT
 public:
  // version: passed on to the tag store when the tag is created. creates_tag false: Save only
  // settles the name (asking before a replacement) and leaves making the tag to the caller, who
  // has more to ask before anything may change.
  CNamingDlg(QWidget* parent, const char* title, tag group, const char* default_text, int16_t version,
             bool creates_tag = true);
  QLineEdit* edit() const { return edit_; }
  QListWidget* list() const { return list_; }
  // The identifier of the tag to write once the dialog ended with Save (and created it), NONE_TAG
  // otherwise.
  tag chosenTag() const { return chosen_; }
  // The cleaned name once the dialog ended with Save, and whether the user agreed to replace the
  // listed tag of that name.
  const std::string& chosenName() const { return name_; }
  bool replaceConfirmed() const { return replace_confirmed_; }

  void accept() override;

 private:
  tag group_;
  int16_t version_;
  bool creates_tag_;
  QLineEdit* edit_;
  QListWidget* list_;
  tag chosen_ = NONE_TAG;
  std::string name_;
  bool replace_confirmed_ = false;
};

tag NamingDialog(QWidget* parent, const char* title, tag group, const char* default_text, int16_t version);
// The naming dialog that creates nothing: false when cancelled; otherwise the cleaned name and
// whether the user already said Yes to replacing the tag of that name.
bool NewTagNameDialog(QWidget* parent, const char* title, tag group, const char* default_text, std::string* name,
                      bool* replace_confirmed);

// ---- the small field dialogs ----

// A column of labelled edits, optionally inside a group box, with OK and Cancel. Each edit's object
// name is "edit_<control id>".
class CFieldsDlg : public QDialog {
  Q_OBJECT
 public:
  CFieldsDlg(QWidget* parent, const char* title, const char* group_title = nullptr);
  QLineEdit* addField(const char* label, int control_id, const QString& text, int maximum_length = 255);
  QLineEdit* field(size_t index) const { return fields_.at(index); }
  size_t fieldCount() const { return fields_.size(); }
  // The field's text read as a real, and as an integer.
  double real(size_t index) const;
  int32_t integer(size_t index) const;

  void accept() override;

 protected:
  // Asked on OK; false keeps the dialog open.
  virtual bool acceptable() { return true; }

 private:
  QWidget* body_;
  std::vector<QLineEdit*> fields_;
};

// "Enter the new value:": one real within [lower, upper], both inclusive. A value outside (or not a
// number) is refused with "Please enter a value between %.3f and %.3f\n" ("Invalid Value") and the
// dialog stays open with the entered text.
class CValueDlg : public CFieldsDlg {
  Q_OBJECT
 public:
  CValueDlg(QWidget* parent, double value, double lower, double upper, const char* label = "Value:");
  double value() const { return real(0); }

 protected:
  bool acceptable() override;

 private:
  double lower_, upper_;
};
bool ValueDialog(QWidget* parent, double* value, double lower, double upper);

// "Enter a location": X, Y and Z of a world point in cells.
bool LocationDialog(QWidget* parent, world_point3d* point);

// "Enter the new name:": at most 255 characters, one byte each (Latin-1); an empty name beeps and
// keeps the dialog open.
class CNameEntryDlg : public CFieldsDlg {
  Q_OBJECT
 public:
  CNameEntryDlg(QWidget* parent, const std::string& name);
  std::string name() const;

 protected:
  bool acceptable() override;
};
bool NameEntryDialog(QWidget* parent, std::string* name);

// "Enter the shift amount": whole cells dx and dy; the map shift is (-dx, dy).
bool ShiftDialog(QWidget* parent, int32_t dx, int32_t dy, int32_t* shift_x, int32_t* shift_y);

// The amount dialogs: one length in cells each.
bool JitterAmountDialog(QWidget* parent, int16_t* amount);
bool EdgeRaiseAmountDialog(QWidget* parent, int32_t* amount);
// "Edit Displacement Bounds": the lower and upper bounds, lengths in cells.
bool DisplacementBoundsDialog(QWidget* parent, int32_t* lower, int32_t* upper);
// "Mesh Parameters": the four observer-bound margins of the header, in cells.
struct mesh_observer_margins {
  int16_t top, left, bottom, right;
};
bool MeshParametersDialog(QWidget* parent, mesh_observer_margins* margins);
