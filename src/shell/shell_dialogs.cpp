#include "shell/shell_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "map/mesh.h"
#include "platform/ui_host.h"
#include "tag_files/tag_files.h"

// ---- field conversions ----

namespace {

// The text as the C library's converters see it: at most 255 characters, leading blanks skipped.
std::string field_text(const QString& text) {
  std::string bytes = text.left(255).toStdString();
  size_t start = 0;
  while (start < bytes.size() && std::strchr(" \t\n\v\f\r", bytes[start])) ++start;
  bytes.erase(0, start);
  if (!bytes.empty() && bytes[0] == '+') bytes.erase(0, 1);
  return bytes;
}

template <typename T>
T saturate(double value) {
  if (std::isnan(value)) return 0;
  if (value <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (value >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return T(value);
}

}  // namespace

// The "C" locale's reading whatever the process locale, as the dialogs always wrote "1.50".
double dialog_read_real(const QString& text) {
  const std::string bytes = field_text(text);
  double value = 0.0;
  if (std::from_chars(bytes.data(), bytes.data() + bytes.size(), value).ec != std::errc()) return 0.0;
  return value;
}

int32_t dialog_read_integer(const QString& text) {
  const std::string bytes = field_text(text);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) return bytes[0] == '-' ? INT32_MIN : INT32_MAX;
  if (error != std::errc()) return 0;
  return saturate<int32_t>(double(value));
}

QString dialog_real_text(double value) { return QString::number(value, 'f', 2); }

int32_t world_from_cells(double cells) { return saturate<int32_t>(std::trunc(cells * 512.0)); }
int16_t world16_from_cells(double cells) { return saturate<int16_t>(std::trunc(cells * 512.0)); }
double cells_from_world(int32_t world) { return double(world) / 512.0; }

namespace {

void add_buttons(QDialog* dialog, QBoxLayout* layout, const char* ok_text) {
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton(QString::fromLatin1(ok_text), QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("cancel");
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(buttons);
}

QString tag_name_text(int32_t tag_index) { return QString::fromLatin1(tag_file_get_name(tag_index)); }

}  // namespace

// ---- tag selection ----

CTagSelectionDlg::CTagSelectionDlg(QWidget* parent, const char* title, tag group, tag_selection_filter filter,
                                   int32_t extra)
    : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(title));
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  list_->setObjectName("list_1000");
  layout->addWidget(list_);
  add_buttons(this, layout, "Open");
  open_ = findChild<QPushButton*>("ok");
  open_->setEnabled(false);

  const int32_t count = tag_file_count(group);
  for (int32_t n = 0; n < count; ++n) {
    const int32_t tag_index = tag_file_nth(group, n);
    if (tag_index == NONE || (filter && !filter(tag_index, extra))) continue;
    auto* item = new QListWidgetItem(tag_name_text(tag_index));
    item->setData(Qt::UserRole, tag_index);
    list_->addItem(item);
  }
  list_->sortItems();
  // A selection, not just the keyboard's current item, enables Open.
  connect(list_, &QListWidget::itemSelectionChanged, this,
          [this] { open_->setEnabled(!list_->selectedItems().isEmpty()); });
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  list_->installEventFilter(this);
}

// The list starts with its caret on the first name and nothing chosen. The first arrow key chooses
// the name under the caret, so that Down and Return open the first name, not the second.
bool CTagSelectionDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress && list_->selectedItems().isEmpty() &&
      list_->count() > 0) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Down || key == Qt::Key_Up) {
      list_->setCurrentRow(std::max(list_->currentRow(), 0), QItemSelectionModel::ClearAndSelect);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CTagSelectionDlg::selectTagIndex(int32_t tag_index) {
  for (int row = 0; row < list_->count(); ++row) {
    if (list_->item(row)->data(Qt::UserRole).toInt() == tag_index) list_->setCurrentRow(row);
  }
}

void CTagSelectionDlg::accept() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  chosen_ = selected.first()->data(Qt::UserRole).toInt();
  QDialog::accept();
}

tag TagSelectionDialog(QWidget* parent, const char* title, tag group, tag_selection_filter filter, int32_t extra) {
  CTagSelectionDlg dialog(parent, title, group, filter, extra);
  if (dialog.exec() != QDialog::Accepted) return NONE_TAG;
  return tag_file_get_identifier(dialog.chosenTagIndex());
}

// ---- naming ----

CNamingDlg::CNamingDlg(QWidget* parent, const char* title, tag group, const char* default_text, int16_t version,
                       bool creates_tag)
    : QDialog(parent), group_(group), version_(version), creates_tag_(creates_tag) {
  setWindowTitle(QString::fromLatin1(title));
  auto* layout = new QVBoxLayout(this);
  edit_ = new QLineEdit(QString::fromLatin1(default_text).left(MAXIMUM_TAG_NAME_LENGTH), this);
  edit_->setObjectName("edit_1004");
  edit_->setMaxLength(MAXIMUM_TAG_NAME_LENGTH);
  layout->addWidget(edit_);
  // The names in use, for information only.
  list_ = new QListWidget(this);
  list_->setObjectName("list_1000");
  list_->setEnabled(false);
  layout->addWidget(list_);
  add_buttons(this, layout, "Save");
  const int32_t count = tag_file_count(group);
  for (int32_t n = 0; n < count; ++n) {
    const int32_t tag_index = tag_file_nth(group, n);
    if (tag_index != NONE) list_->addItem(tag_name_text(tag_index));
  }
  list_->sortItems();
}

void CNamingDlg::accept() {
  // The name the tag store would give the file: a name that the store would change into one of the
  // listed names must ask before replacing it, as the listed name itself does.
  char name[TAG_NAME_SIZE] = {};
  const std::string text = edit_->text().trimmed().toLatin1().toStdString();
  std::strncpy(name, text.c_str(), MAXIMUM_TAG_NAME_LENGTH);
  sanitize_tag_name(name);
  if (name[0] == '\0') {
    QApplication::beep();
    return;
  }
  bool replacing = false;
  for (int row = 0; row < list_->count(); ++row) {
    if (list_->item(row)->text().toLatin1() != name) continue;
    char question[96];
    std::snprintf(question, sizeof(question), "Are you sure you want to replace '%s'?", name);
    if (ui_message_box("Warning", question, ui_icon_warning, ui_buttons_yes_no) != ui_answer_yes) return;
    replacing = true;
    break;
  }
  name_ = name;
  replace_confirmed_ = replacing;
  if (!creates_tag_) {
    QDialog::accept();
    return;
  }
  const int32_t tag_index = tag_file_create(group_, name, version_);
  if (tag_index == NONE) {
    char refusal[96];
    std::snprintf(refusal, sizeof(refusal), "couldn't create '%s'", name);
    ui_message_box("Error", refusal, ui_icon_error, ui_buttons_ok);
    return;
  }
  chosen_ = tag_file_get_identifier(tag_index);
  QDialog::accept();
}

tag NamingDialog(QWidget* parent, const char* title, tag group, const char* default_text, int16_t version) {
  CNamingDlg dialog(parent, title, group, default_text, version);
  if (dialog.exec() != QDialog::Accepted) return NONE_TAG;
  return dialog.chosenTag();
}

bool NewTagNameDialog(QWidget* parent, const char* title, tag group, const char* default_text, std::string* name,
                      bool* replace_confirmed) {
  CNamingDlg dialog(parent, title, group, default_text, 0, false);
  if (dialog.exec() != QDialog::Accepted) return false;
  *name = dialog.chosenName();
  *replace_confirmed = dialog.replaceConfirmed();
  return true;
}

// ---- field dialogs ----

CFieldsDlg::CFieldsDlg(QWidget* parent, const char* title, const char* group_title) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(title));
  auto* layout = new QVBoxLayout(this);
  if (group_title) {
    auto* group = new QGroupBox(QString::fromLatin1(group_title), this);
    layout->addWidget(group);
    body_ = group;
  } else {
    body_ = new QWidget(this);
    layout->addWidget(body_);
  }
  new QFormLayout(body_);
  add_buttons(this, layout, "OK");
}

QLineEdit* CFieldsDlg::addField(const char* label, int control_id, const QString& text, int maximum_length) {
  auto* edit = new QLineEdit(text.left(maximum_length), body_);
  edit->setObjectName(QString("edit_%1").arg(control_id));
  edit->setMaxLength(maximum_length);
  static_cast<QFormLayout*>(body_->layout())->addRow(QString::fromLatin1(label), edit);
  fields_.push_back(edit);
  return edit;
}

double CFieldsDlg::real(size_t index) const { return dialog_read_real(field(index)->text()); }
int32_t CFieldsDlg::integer(size_t index) const { return dialog_read_integer(field(index)->text()); }

void CFieldsDlg::accept() {
  if (acceptable()) QDialog::accept();
}

CValueDlg::CValueDlg(QWidget* parent, double value, double lower, double upper, const char* label)
    : CFieldsDlg(parent, "Enter the new value:"), lower_(lower), upper_(upper) {
  addField(label, 1056, dialog_real_text(value));
}

bool CValueDlg::acceptable() {
  const double entered = value();
  if (entered >= lower_ && entered <= upper_) return true;
  char refusal[128];
  std::snprintf(refusal, sizeof(refusal), "Please enter a value between %s and %s\n",
                QString::number(lower_, 'f', 3).toLatin1().constData(),
                QString::number(upper_, 'f', 3).toLatin1().constData());
  ui_message_box("Invalid Value", refusal, ui_icon_error, ui_buttons_ok);
  return false;
}

bool ValueDialog(QWidget* parent, double* value, double lower, double upper) {
  CValueDlg dialog(parent, *value, lower, upper);
  if (dialog.exec() != QDialog::Accepted) return false;
  *value = dialog.value();
  return true;
}

bool LocationDialog(QWidget* parent, world_point3d* point) {
  CFieldsDlg dialog(parent, "Enter a location");
  dialog.addField("X:", 1055, dialog_real_text(cells_from_world(point->x)));
  dialog.addField("Y:", 1056, dialog_real_text(cells_from_world(point->y)));
  dialog.addField("Z:", 1020, dialog_real_text(cells_from_world(point->z)));
  if (dialog.exec() != QDialog::Accepted) return false;
  point->x = world_from_cells(dialog.real(0));
  point->y = world_from_cells(dialog.real(1));
  point->z = world_from_cells(dialog.real(2));
  return true;
}

CNameEntryDlg::CNameEntryDlg(QWidget* parent, const std::string& name) : CFieldsDlg(parent, "Enter the new name:") {
  addField("Name:", 1004, QString::fromLatin1(name.data(), qsizetype(name.size())));
}

// One byte a character, as the names are kept; the caller's buffer holds 255 and the terminator.
std::string CNameEntryDlg::name() const { return field(0)->text().left(255).toLatin1().toStdString(); }

bool CNameEntryDlg::acceptable() {
  if (!field(0)->text().isEmpty()) return true;
  QApplication::beep();
  return false;
}

bool NameEntryDialog(QWidget* parent, std::string* name) {
  CNameEntryDlg dialog(parent, *name);
  if (dialog.exec() != QDialog::Accepted) return false;
  *name = dialog.name();
  return true;
}

bool ShiftDialog(QWidget* parent, int32_t dx, int32_t dy, int32_t* shift_x, int32_t* shift_y) {
  CFieldsDlg dialog(parent, "Enter the shift amount");
  dialog.addField("dx:", 1061, QString::number(dx));
  dialog.addField("dy:", 1062, QString::number(dy));
  if (dialog.exec() != QDialog::Accepted) return false;
  // Negating INT32_MIN would overflow; the field saturates one short of it.
  *shift_x = -std::max(dialog.integer(0), -INT32_MAX);
  *shift_y = dialog.integer(1);
  return true;
}

namespace {

// One or more lengths shown in cells; the values change only on OK.
bool lengths_dialog(QWidget* parent, const char* title, std::initializer_list<const char*> labels,
                    std::initializer_list<int> control_ids, double* cells) {
  CFieldsDlg dialog(parent, title);
  const int* control_id = control_ids.begin();
  size_t index = 0;
  for (const char* label : labels) dialog.addField(label, *control_id++, dialog_real_text(cells[index++]));
  if (dialog.exec() != QDialog::Accepted) return false;
  for (size_t field = 0; field < dialog.fieldCount(); ++field) cells[field] = dialog.real(field);
  return true;
}

}  // namespace

bool JitterAmountDialog(QWidget* parent, int16_t* amount) {
  double cells = cells_from_world(*amount);
  if (!lengths_dialog(parent, "Enter the jitter amount:", {"Jitter Amount:"}, {1060}, &cells)) return false;
  *amount = world16_from_cells(cells);
  return true;
}

bool EdgeRaiseAmountDialog(QWidget* parent, int32_t* amount) {
  double cells = cells_from_world(*amount);
  if (!lengths_dialog(parent, "Enter the mesh edge raise amount:", {"Mesh Edge Raise Amount:"}, {1057}, &cells))
    return false;
  *amount = world_from_cells(cells);
  return true;
}

bool DisplacementBoundsDialog(QWidget* parent, int32_t* lower, int32_t* upper) {
  double cells[2] = {cells_from_world(*lower), cells_from_world(*upper)};
  if (!lengths_dialog(parent, "Edit Displacement Bounds", {"Lower Bound:", "Upper Bound:"}, {1058, 1059}, cells))
    return false;
  *lower = world_from_cells(cells[0]);
  *upper = world_from_cells(cells[1]);
  return true;
}

bool MeshParametersDialog(QWidget* parent, mesh_observer_margins* margins) {
  CFieldsDlg dialog(parent, "Mesh Parameters", "Observer Bounds:");
  int16_t* fields[] = {&margins->left, &margins->right, &margins->top, &margins->bottom};
  const char* labels[] = {"Left:", "Right:", "Top:", "Bottom:"};
  for (int field = 0; field < 4; ++field)
    dialog.addField(labels[field], 1059 + field, QString::number(*fields[field]));
  if (dialog.exec() != QDialog::Accepted) return false;
  for (size_t field = 0; field < 4; ++field) *fields[field] = saturate<int16_t>(double(dialog.integer(field)));
  return true;
}
