// The map actions window's dialogs: Edit Map Action (name, type, expiration, trigger times and the
// four flags), Edit Parameter (free name and type), Edit Map Action Parameter (a parameter the
// templates offer), and the element value and element choice dialogs. Each writes to the map only
// through the map action operations, and only on OK.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/text.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

inline constexpr char MAP_ACTION_PARAMETER_SEPARATOR[] = "--------------------";
inline constexpr char MAP_ACTION_BAD_TRIGGER_TIME[] = "The trigger time must be a number of seconds.";
inline constexpr char MAP_ACTION_BAD_VALUE[] = "'%s' is not a value of this parameter.";
inline constexpr char MAP_ACTION_FULL[] = "There is no room left for map actions in this map.";

// Template 145.
class CEditMapActionDlg : public QDialog {
  Q_OBJECT
 public:
  CEditMapActionDlg(QWidget* parent, int32_t slot, bool is_new);
  QLineEdit* name() const { return name_; }
  QComboBox* type() const { return type_; }
  QComboBox* expiration() const { return expiration_; }
  QLineEdit* lower() const { return lower_; }
  QLineEdit* upper() const { return upper_; }
  QCheckBox* flag(int index) const { return flags_[index]; }  // 0x2, 0x1, 0x4, 0x8 in dialog order
  void accept() override;

 private:
  void typeChosen(int index);
  int32_t slot_;
  QLineEdit* name_;
  QComboBox* type_;
  QComboBox* expiration_;
  QLineEdit* lower_;
  QLineEdit* upper_;
  QCheckBox* flags_[4];
};

// Template 160.
class CEditParameterDlg : public QDialog {
  Q_OBJECT
 public:
  CEditParameterDlg(QWidget* parent, int32_t slot, int32_t parameter);
  QLineEdit* name() const { return name_; }
  QComboBox* type() const { return type_; }
  void accept() override;

 private:
  int32_t slot_, parameter_;
  QLineEdit* name_;
  QComboBox* type_;
};

// Template 181.
class CEditMapActionParameterDlg : public QDialog {
  Q_OBJECT
 public:
  CEditMapActionParameterDlg(QWidget* parent, int32_t slot, int32_t parameter);
  QComboBox* type() const { return type_; }
  QLabel* description() const { return description_; }
  QPushButton* okButton() const { return ok_; }
  void accept() override;

 private:
  struct offer {
    tag name;
    int16_t type;
    bool from_default;
    bool separator;
  };
  void chosen(int index);
  int32_t slot_, parameter_;
  std::vector<offer> offers_;
  QComboBox* type_;
  QLabel* description_;
  QPushButton* ok_;
  int previous_ = 0;
};

// Template 183: a value typed as text (classes 0 and 1).
class CElementValueDlg : public QDialog {
  Q_OBJECT
 public:
  CElementValueDlg(QWidget* parent, int32_t slot, int32_t parameter, int32_t element);
  QLineEdit* value() const { return value_; }
  void accept() override;

 private:
  int32_t slot_, parameter_, element_;
  QLineEdit* value_;
};

// Template 182: a value chosen from the parameter's list (class 2).
class CElementChoiceDlg : public QDialog {
  Q_OBJECT
 public:
  CElementChoiceDlg(QWidget* parent, int32_t slot, int32_t parameter, int32_t element);
  QComboBox* value() const { return value_; }
  void accept() override;

 private:
  int32_t slot_, parameter_, element_;
  QComboBox* value_;
};

// The window's line of an action: three blanks per nesting level, "CODE." when it has a type, the name.
std::string map_actions_window_line(int32_t slot);
// The text of a string parameter (up to its first zero byte).
std::string map_action_string_text(int32_t slot, int32_t parameter);
// Edits an element by its class; true when the map changed.
bool map_action_edit_element(QWidget* parent, int32_t slot, int32_t parameter, int32_t element);
