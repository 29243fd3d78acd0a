#include "shell/map_action_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "map/map_action_templates.h"
#include "map/map_actions.h"
#include "platform/ui_host.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"

namespace {

const char* const EXPIRATION_MODES[] = {"on trigger", "on execution", "on successful execution", "never",
                                        "on failed execution"};
constexpr int NUMBER_OF_EXPIRATION_MODES = 5;

// The dialog order of the check boxes and the flags they stand for.
constexpr struct {
  const char* label;
  int id;
  uint32_t flag;
} FLAG_BOXES[4] = {{"Activates Only Once", 1006, _map_action_activates_only_once},
                   {"Initially Active", 1007, _map_action_initially_active},
                   {"No Initial Delay", 1008, _map_action_no_initial_delay},
                   {"Only Initial Delay", 1009, _map_action_only_initial_delay}};

QDialogButtonBox* ok_cancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

void refuse(const char* text) { ui_message_box("Error", text, ui_icon_error, ui_buttons_ok); }

QString latin1(const std::string& text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

const char* type_name(int16_t type) {
  const map_action_parameter_type_definition* definition = map_action_type_get(type);
  return definition ? definition->name : "<unknown type>";
}

// Templates by display name, as the Type list shows them after "NONE".
std::vector<const map_action_template*> sorted_templates() {
  std::vector<const map_action_template*> list;
  for (const map_action_template& t : map_action_templates()) list.push_back(&t);
  std::stable_sort(list.begin(), list.end(), [](const map_action_template* a, const map_action_template* b) {
    return a->display_name < b->display_name;
  });
  return list;
}

bool defines(const map_action_template* t, tag name, int16_t type) {
  return t != nullptr && map_action_template_line_find(t, name, type) != nullptr;
}

}  // namespace

std::string map_actions_window_line(int32_t slot) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return std::string();
  std::string line(size_t(3 * std::clamp<int16_t>(action->indent, 0, MAP_ACTION_MAXIMUM_INDENT)), ' ');
  if (action->action_type != NONE_TAG) {
    std::string code = tag_to_text(action->action_type) + ".";
    for (char& c : code) c = char(std::toupper(static_cast<unsigned char>(c)));
    line += code;
  }
  return line + map_action_name(slot);
}

std::string map_action_string_text(int32_t slot, int32_t parameter) {
  const std::span<const std::byte> bytes = map_action_parameter_elements(slot, parameter);
  const char* text = reinterpret_cast<const char*>(bytes.data());
  return bytes.empty() ? std::string() : std::string(text, strnlen(text, bytes.size()));
}

// ---- Edit Map Action ----

CEditMapActionDlg::CEditMapActionDlg(QWidget* parent, int32_t slot, bool is_new) : QDialog(parent), slot_(slot) {
  setWindowTitle("Edit Map Action");
  map_action_properties properties{};
  (void)map_action_get_properties(slot, &properties);
  const map_action* action = map_action_get(slot);
  auto* form = new QFormLayout;
  name_ = new QLineEdit(latin1(properties.name), this);
  name_->setMaxLength(255);
  type_ = new QComboBox(this);
  type_->addItem("NONE", QString());
  int selected = 0;
  const tag current = action ? action->action_type : NONE_TAG;
  for (const map_action_template* t : sorted_templates()) {
    type_->addItem(latin1(t->display_name), latin1(tag_to_text(t->code)));
    if (t->code == current) selected = type_->count() - 1;
  }
  // A type whose template is missing is offered as its code, so OK keeps it.
  if (current != NONE_TAG && selected == 0) {
    type_->insertItem(1, latin1(tag_to_text(current)), latin1(tag_to_text(current)));
    type_->setItemData(1, QVariant(qlonglong(current)), Qt::UserRole + 1);
    selected = 1;
  }
  type_->setCurrentIndex(selected);
  expiration_ = new QComboBox(this);
  for (const char* mode : EXPIRATION_MODES) expiration_->addItem(mode);
  int16_t mode = properties.expiration_mode;
  if (is_new) {
    const map_action_template* t = map_action_template_find(current);
    if (t != nullptr && t->expiration_mode >= 0) mode = t->expiration_mode;
  }
  expiration_->setCurrentIndex(std::clamp<int>(mode, 0, NUMBER_OF_EXPIRATION_MODES - 1));
  lower_ = new QLineEdit(latin1(properties.trigger_lower), this);
  upper_ = new QLineEdit(latin1(properties.trigger_upper), this);
  auto* times = new QHBoxLayout;
  times->addWidget(lower_);
  times->addWidget(new QLabel("to", this));
  times->addWidget(upper_);
  form->addRow("Name:", name_);
  form->addRow("Type:", type_);
  form->addRow("Expiration Mode:", expiration_);
  form->addRow("Trigger Time:", times);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  for (int k = 0; k < 4; ++k) {
    flags_[k] = new QCheckBox(FLAG_BOXES[k].label, this);
    flags_[k]->setChecked(properties.flags & FLAG_BOXES[k].flag);
    layout->addWidget(flags_[k]);
  }
  layout->addWidget(ok_cancel(this));
  connect(type_, qOverload<int>(&QComboBox::activated), this, &CEditMapActionDlg::typeChosen);
}

void CEditMapActionDlg::typeChosen(int index) {
  const QString code = type_->itemData(index).toString();
  if (code.isEmpty()) return;
  const map_action_template* t = map_action_template_find(text_to_tag(code.toLatin1().constData()));
  if (t != nullptr && t->expiration_mode >= 0)
    expiration_->setCurrentIndex(std::clamp<int>(t->expiration_mode, 0, NUMBER_OF_EXPIRATION_MODES - 1));
}

void CEditMapActionDlg::accept() {
  int32_t ticks = 0;
  const std::string lower = lower_->text().toLatin1().toStdString();
  const std::string upper = upper_->text().toLatin1().toStdString();
  if (!map_action_ticks_from_text(lower.c_str(), &ticks) || !map_action_ticks_from_text(upper.c_str(), &ticks)) {
    refuse(MAP_ACTION_BAD_TRIGGER_TIME);
    return;  // the dialog stays open with what was typed
  }
  map_action_properties properties{};
  properties.expiration_mode = int16_t(expiration_->currentIndex());
  for (int k = 0; k < 4; ++k)
    if (flags_[k]->isChecked()) properties.flags |= FLAG_BOXES[k].flag;
  properties.name = name_->text().toLatin1().toStdString();
  properties.type = type_->currentData().toString().toLatin1().toStdString();
  properties.trigger_lower = lower;
  properties.trigger_upper = upper;
  const QVariant raw = type_->currentData(Qt::UserRole + 1);
  journal_step step("Edit Map Action");
  bool done = map_action_operation_set_properties(slot_, properties);
  // The type text is lower-cased on the way in; a kept code goes back exactly as it was.
  if (done && raw.isValid()) done = map_action_operation_set_type(slot_, tag(raw.toLongLong()));
  if (!done || !step.commit()) {
    refuse(MAP_ACTION_FULL);
    return;
  }
  QDialog::accept();
}

// ---- Edit Parameter ----

CEditParameterDlg::CEditParameterDlg(QWidget* parent, int32_t slot, int32_t parameter)
    : QDialog(parent), slot_(slot), parameter_(parameter) {
  setWindowTitle("Edit Parameter");
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  name_ = new QLineEdit(header ? latin1(tag_to_text(header->parameter_name)) : QString(), this);
  name_->setMaxLength(31);
  type_ = new QComboBox(this);
  for (int16_t type = 0; type < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES; ++type) type_->addItem(type_name(type));
  type_->setCurrentIndex(header ? std::clamp<int>(header->parameter_type, 0, NUMBER_OF_MAP_ACTION_PARAMETER_TYPES - 1) : 0);
  auto* form = new QFormLayout;
  form->addRow("Name:", name_);
  form->addRow("Type:", type_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(ok_cancel(this));
}

void CEditParameterDlg::accept() {
  const std::string name = name_->text().toLatin1().toStdString();
  if (!map_action_operation_set_parameter(slot_, parameter_, text_to_tag(name.c_str()), int16_t(type_->currentIndex()))) {
    refuse(MAP_ACTION_FULL);
    return;
  }
  QDialog::accept();
}

// ---- Edit Map Action Parameter ----

CEditMapActionParameterDlg::CEditMapActionParameterDlg(QWidget* parent, int32_t slot, int32_t parameter)
    : QDialog(parent), slot_(slot), parameter_(parameter) {
  setWindowTitle("Edit Map Action Parameter");
  const map_action* action = map_action_get(slot);
  const map_action_template* own = action ? map_action_template_find(action->action_type) : nullptr;
  const map_action_template* fallback = map_action_template_find(MAP_ACTION_DEFAULT_TEMPLATE);
  const auto lacks = [&](const map_action_template_line& line) {
    return line.type >= 0 && map_action_find_parameter(slot, line.name, line.type) == -1;
  };
  if (own != nullptr)
    for (const map_action_template_line& line : own->lines)
      if (lacks(line)) offers_.push_back({line.name, line.type, false, false});
  if (!offers_.empty()) offers_.push_back({NONE_TAG, -1, false, true});
  if (fallback != nullptr && fallback != own)
    for (const map_action_template_line& line : fallback->lines)
      if (lacks(line) && !defines(own, line.name, line.type)) offers_.push_back({line.name, line.type, true, false});
  if (!offers_.empty() && offers_.back().separator) offers_.pop_back();
  type_ = new QComboBox(this);
  for (const offer& o : offers_) {
    if (o.separator) {
      type_->addItem(MAP_ACTION_PARAMETER_SEPARATOR);
      continue;
    }
    type_->addItem(latin1(tag_to_text(o.name) + " (" + type_name(o.type) + ")"));
  }
  description_ = new QLabel(this);
  description_->setWordWrap(true);
  description_->setMinimumWidth(300);
  auto* form = new QFormLayout;
  form->addRow("Type:", type_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(description_);
  QDialogButtonBox* buttons = ok_cancel(this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  // Nothing left to offer: OK would give the parameter no name and type at all.
  ok_->setEnabled(!offers_.empty());
  layout->addWidget(buttons);
  connect(type_, qOverload<int>(&QComboBox::currentIndexChanged), this, &CEditMapActionParameterDlg::chosen);
  if (!offers_.empty()) chosen(0);
}

void CEditMapActionParameterDlg::chosen(int index) {
  if (index < 0 || index >= int(offers_.size())) return;
  if (offers_[size_t(index)].separator) {
    type_->setCurrentIndex(index > 0 ? index - 1 : index + 1);
    return;
  }
  previous_ = index;
  const offer& o = offers_[size_t(index)];
  const map_action* action = map_action_get(slot_);
  const tag source = o.from_default ? MAP_ACTION_DEFAULT_TEMPLATE : (action ? action->action_type : NONE_TAG);
  const std::string text = map_action_parameter_description(source, o.name, o.type);
  description_->setText(latin1(text));
}

void CEditMapActionParameterDlg::accept() {
  const int index = type_->currentIndex();
  if (index < 0 || index >= int(offers_.size()) || offers_[size_t(index)].separator) return;
  const offer& o = offers_[size_t(index)];
  if (!map_action_operation_set_parameter(slot_, parameter_, o.name, o.type)) {
    refuse(MAP_ACTION_FULL);
    return;
  }
  QDialog::accept();
}

// ---- element dialogs ----

CElementValueDlg::CElementValueDlg(QWidget* parent, int32_t slot, int32_t parameter, int32_t element)
    : QDialog(parent), slot_(slot), parameter_(parameter), element_(element) {
  setWindowTitle("Edit Map Action Element");
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  const bool string = header && header->parameter_type == _parameter_string;
  const std::string text = string ? map_action_string_text(slot, parameter)
                                  : (element >= 0 ? map_action_element_text(slot, parameter, element) : std::string());
  value_ = new QLineEdit(latin1(text), this);
  value_->setMaxLength(string ? 4095 : 255);
  auto* form = new QFormLayout;
  form->addRow("Value:", value_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(ok_cancel(this));
}

void CElementValueDlg::accept() {
  const map_action_parameter_header* header = map_action_parameter(slot_, parameter_);
  if (header == nullptr) return;
  const std::string text = value_->text().toLatin1().toStdString();
  if (header->parameter_type == _parameter_string) {
    // The whole parameter is one text with its terminating zero.
    const std::string stored = text.c_str();
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(stored.c_str()), stored.size() + 1);
    if (!map_action_operation_set_elements(slot_, parameter_, int32_t(bytes.size()), bytes)) {
      refuse(MAP_ACTION_FULL);
      return;
    }
  } else if (!map_action_operation_element_from_text(slot_, parameter_, element_, text.c_str())) {
    char message[400];
    std::snprintf(message, sizeof message, MAP_ACTION_BAD_VALUE, text.substr(0, 255).c_str());
    refuse(message);
    return;
  }
  QDialog::accept();
}

CElementChoiceDlg::CElementChoiceDlg(QWidget* parent, int32_t slot, int32_t parameter, int32_t element)
    : QDialog(parent), slot_(slot), parameter_(parameter), element_(element) {
  setWindowTitle("Edit Map Action Element");
  value_ = new QComboBox(this);
  std::vector<std::string> rows;
  int32_t selected = 0;
  (void)map_action_choice_list(slot, parameter, element, &rows, &selected);
  for (std::string row : rows) {
    if (row.size() > 255) row.resize(255);
    if (!row.empty() && static_cast<unsigned char>(row[0]) == 165) row[0] = '*';
    value_->addItem(latin1(row));
  }
  if (selected >= 0 && selected < value_->count()) value_->setCurrentIndex(selected);
  auto* form = new QFormLayout;
  form->addRow("Value:", value_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(ok_cancel(this));
}

void CElementChoiceDlg::accept() {
  if (value_->currentIndex() < 0 || !map_action_operation_choose(slot_, parameter_, element_, value_->currentIndex())) {
    refuse(MAP_ACTION_FULL);
    return;
  }
  QDialog::accept();
}
