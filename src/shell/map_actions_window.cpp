// The map actions window: three lists and their buttons over the map's actions. The lists are
// rebuilt from the model after every change; the window remembers selections by row and puts them
// back. Creation flows (a new action, parameter or value followed by its dialog) run inside one
// journal step, so Cancel takes everything back and OK leaves one step for Undo.
#include "shell/map_actions_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "input/keyboard.h"
#include "map/map_action_templates.h"
#include "map/map_actions.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "shell/map_action_dialogs.h"
#include "shell/marker_dialogs.h"
#include "shell/shell.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"
#include "tools/map_session.h"

map_actions_window_state map_actions_selection;

namespace {

CMapActionsDlg* window = nullptr;
std::vector<int32_t> row_slots;  // the action list's rows
// Template messages already shown since the map was opened.
std::set<std::string> reported_messages;
bool template_messages_shown = false;

constexpr char NO_TEMPLATE_DESCRIPTION[] = "Template for this action not found.";
constexpr char NO_PARAMETER_DESCRIPTION[] = "No information about this parameter.";
constexpr char MISSING_MARKER[] = "The marker this value refers to is no longer in the map.";

void report_once(const std::string& message) {
  if (!reported_messages.insert(message).second) return;
  ui_message_box("Warning", message.c_str(), ui_icon_warning, ui_buttons_ok);
}

void session_opened() {
  reported_messages.clear();
  template_messages_shown = false;
  map_actions_selection = {};
}

void session_closing() {
  map_actions_selection = {};
  row_slots.clear();
  if (window) {
    window->actionList()->clear();
    window->parameterList()->clear();
    window->elementList()->clear();
  }
}

const map_session_client session_client = {"map actions window", session_opened, nullptr, session_closing};

QString latin1(const std::string& text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

bool is_message(const std::string& text) { return text == NO_TEMPLATE_DESCRIPTION || text == NO_PARAMETER_DESCRIPTION; }

const map_action_parameter_header* selected_header() {
  const int32_t slot = map_actions_window_action_slot();
  return slot < 0 ? nullptr : map_action_parameter(slot, map_actions_selection.selected_parameter);
}

int16_t edit_class(const map_action_parameter_header* header) {
  const map_action_parameter_type_definition* definition = header ? map_action_type_get(header->parameter_type) : nullptr;
  return definition ? definition->edit_kind : int16_t(_edit_not_editable);
}

bool template_defines(tag code, tag name, int16_t type) {
  return map_action_template_line_find(map_action_template_find(code), name, type) != nullptr;
}

// The description of a parameter: the action's template's, else the default template's, else "".
std::string parameter_description(tag action_type, tag name, int16_t type) {
  std::string text = map_action_parameter_description(action_type, name, type);
  if (!is_message(text)) return text;
  text = map_action_parameter_description(MAP_ACTION_DEFAULT_TEMPLATE, name, type);
  return is_message(text) ? std::string() : text;
}

// Elements a parameter shows: a string is one line, however many bytes it holds.
int32_t element_rows(const map_action_parameter_header* header) {
  if (header == nullptr) return 0;
  if (header->parameter_type == _parameter_string) return header->element_count > 0 ? 1 : 0;
  return std::max<int32_t>(header->element_count, 0);
}

bool space_bar_held() { return keyboard_key_is_down(_key_space); }

// Gives a single selected action the parameters its template requires; a missing template is
// reported once per open map.
void add_required_parameters(int32_t slot) {
  const map_action* action = map_action_get(slot);
  if (action == nullptr || action->action_type == NONE_TAG) return;
  std::string message;
  if (map_action_template_needed(action->action_type, &message) == nullptr) {
    report_once(message);
    return;
  }
  // One recorded step (or none when nothing was missing).
  (void)map_action_operation_add_required_parameters(slot);
}

}  // namespace

int32_t map_actions_window_row_slot(int32_t row) {
  return row >= 0 && row < int32_t(row_slots.size()) ? row_slots[size_t(row)] : -1;
}

int32_t map_actions_window_action_slot() {
  return map_actions_selection.selected_action >= 0 ? map_actions_window_row_slot(map_actions_selection.selected_action)
                                                    : -1;
}

// ---- the window ----

CMapActionsDlg::CMapActionsDlg(QWidget* frame) : QDialog(frame, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle("Map Actions");
  setModal(false);
  const auto button = [this](const char* text, int32_t id) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
  };
  const auto list = [this](int32_t id, QAbstractItemView::SelectionMode mode) {
    auto* l = new QListWidget(this);
    l->setObjectName(QString::number(id));
    l->setSelectionMode(mode);
    l->setSortingEnabled(false);
    return l;
  };
  actions_ = list(MAP_ACTIONS_LIST, QAbstractItemView::ExtendedSelection);
  actions_->setMinimumSize(320, 220);
  parameters_ = list(MAP_ACTIONS_PARAMETER_LIST, QAbstractItemView::SingleSelection);
  elements_ = list(MAP_ACTIONS_ELEMENT_LIST, QAbstractItemView::SingleSelection);
  description_ = new QLabel(this);
  description_->setObjectName(QString::number(MAP_ACTIONS_DESCRIPTION));
  description_->setWordWrap(true);
  description_->setMinimumHeight(40);

  auto* action_group = new QGroupBox("Map Actions", this);
  auto* action_buttons = new QGridLayout;
  action_buttons->addWidget(button("Add...", MAP_ACTIONS_ADD), 0, 0);
  action_buttons->addWidget(button("Edit...", MAP_ACTIONS_EDIT), 0, 1);
  action_buttons->addWidget(button("Duplicate...", MAP_ACTIONS_DUPLICATE), 0, 2);
  action_buttons->addWidget(button("Delete", MAP_ACTIONS_DELETE), 0, 3);
  // The icon buttons: arrows for moving, and the indent and outdent marks.
  action_buttons->addWidget(button("\u2191", MAP_ACTIONS_MOVE_UP), 1, 0);
  action_buttons->addWidget(button("\u2193", MAP_ACTIONS_MOVE_DOWN), 1, 1);
  action_buttons->addWidget(button("\u2192", MAP_ACTIONS_INDENT), 1, 2);
  action_buttons->addWidget(button("\u2190", MAP_ACTIONS_OUTDENT), 1, 3);
  auto* action_layout = new QVBoxLayout(action_group);
  action_layout->addWidget(actions_);
  action_layout->addLayout(action_buttons);

  parameter_group_ = new QGroupBox("Parameters", this);
  parameter_group_->setObjectName(QString::number(MAP_ACTIONS_PARAMETER_GROUP));
  auto* parameter_buttons = new QHBoxLayout;
  parameter_buttons->addWidget(button("Add...", MAP_ACTIONS_PARAMETER_ADD));
  parameter_buttons->addWidget(button("Custom...", MAP_ACTIONS_PARAMETER_CUSTOM));
  parameter_buttons->addWidget(button("Edit...", MAP_ACTIONS_PARAMETER_EDIT));
  parameter_buttons->addWidget(button("Delete", MAP_ACTIONS_PARAMETER_DELETE));
  auto* parameter_layout = new QVBoxLayout(parameter_group_);
  parameter_layout->addWidget(parameters_);
  parameter_layout->addLayout(parameter_buttons);

  description_group_ = new QGroupBox("Description", this);
  description_group_->setObjectName(QString::number(MAP_ACTIONS_DESCRIPTION_GROUP));
  (new QVBoxLayout(description_group_))->addWidget(description_);

  element_group_ = new QGroupBox("Elements", this);
  element_group_->setObjectName(QString::number(MAP_ACTIONS_ELEMENT_GROUP));
  auto* element_buttons = new QHBoxLayout;
  element_buttons->addWidget(button("Add...", MAP_ACTIONS_ELEMENT_ADD));
  element_buttons->addWidget(button("Edit...", MAP_ACTIONS_ELEMENT_EDIT));
  element_buttons->addWidget(button("Delete", MAP_ACTIONS_ELEMENT_DELETE));
  auto* element_layout = new QVBoxLayout(element_group_);
  element_layout->addWidget(elements_);
  element_layout->addLayout(element_buttons);

  auto* right = new QVBoxLayout;
  right->addWidget(parameter_group_);
  right->addWidget(description_group_);
  right->addWidget(element_group_);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(action_group, 3);
  layout->addLayout(right, 2);

  const auto on = [this](int32_t id, void (CMapActionsDlg::*work)()) {
    connect(static_cast<QPushButton*>(control(id)), &QPushButton::clicked, this, work);
  };
  on(MAP_ACTIONS_ADD, &CMapActionsDlg::addAction);
  on(MAP_ACTIONS_EDIT, &CMapActionsDlg::editAction);
  on(MAP_ACTIONS_DUPLICATE, &CMapActionsDlg::duplicateActions);
  on(MAP_ACTIONS_DELETE, &CMapActionsDlg::deleteActions);
  connect(static_cast<QPushButton*>(control(MAP_ACTIONS_MOVE_UP)), &QPushButton::clicked, this, [this] { moveActions(true); });
  connect(static_cast<QPushButton*>(control(MAP_ACTIONS_MOVE_DOWN)), &QPushButton::clicked, this, [this] { moveActions(false); });
  connect(static_cast<QPushButton*>(control(MAP_ACTIONS_INDENT)), &QPushButton::clicked, this, [this] { indentActions(true); });
  connect(static_cast<QPushButton*>(control(MAP_ACTIONS_OUTDENT)), &QPushButton::clicked, this, [this] { indentActions(false); });
  connect(static_cast<QPushButton*>(control(MAP_ACTIONS_PARAMETER_ADD)), &QPushButton::clicked, this, [this] { addParameter(false); });
  connect(static_cast<QPushButton*>(control(MAP_ACTIONS_PARAMETER_CUSTOM)), &QPushButton::clicked, this, [this] { addParameter(true); });
  on(MAP_ACTIONS_PARAMETER_EDIT, &CMapActionsDlg::editParameter);
  on(MAP_ACTIONS_PARAMETER_DELETE, &CMapActionsDlg::deleteParameter);
  on(MAP_ACTIONS_ELEMENT_ADD, &CMapActionsDlg::addElement);
  on(MAP_ACTIONS_ELEMENT_EDIT, &CMapActionsDlg::editElement);
  on(MAP_ACTIONS_ELEMENT_DELETE, &CMapActionsDlg::deleteElement);
  connect(actions_, &QListWidget::itemSelectionChanged, this, &CMapActionsDlg::actionSelectionChanged);
  connect(parameters_, &QListWidget::itemSelectionChanged, this, &CMapActionsDlg::parameterSelectionChanged);
  connect(elements_, &QListWidget::itemSelectionChanged, this, &CMapActionsDlg::elementSelectionChanged);
  // A double-click does what Edit does, while Edit is enabled.
  const auto double_click = [this](QListWidget* l, int32_t edit, void (CMapActionsDlg::*work)()) {
    connect(l, &QListWidget::itemDoubleClicked, this, [this, edit, work] {
      if (control(edit)->isEnabled()) (this->*work)();
    });
  };
  double_click(actions_, MAP_ACTIONS_EDIT, &CMapActionsDlg::editAction);
  double_click(parameters_, MAP_ACTIONS_PARAMETER_EDIT, &CMapActionsDlg::editParameter);
  double_click(elements_, MAP_ACTIONS_ELEMENT_EDIT, &CMapActionsDlg::editElement);
  for (QListWidget* l : {actions_, parameters_, elements_}) l->installEventFilter(this);
  updateButtons();
}

// The space bar is the move buttons' modifier here: a list would take it as a search for a line
// starting with a blank (an indented action) and change the selection under the user's hands.
bool CMapActionsDlg::eventFilter(QObject* watched, QEvent* event) {
  if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space)
    return true;
  return QDialog::eventFilter(watched, event);
}

QWidget* CMapActionsDlg::control(int32_t id) const { return findChild<QWidget*>(QString::number(id)); }

void CMapActionsDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) refresh(MAP_ACTIONS_REBUILD_ACTIONS, false);
}

void CMapActionsDlg::rebuildActions() {
  actions_->clear();
  row_slots.clear();
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) {
    const map_action* action = map_action_get(slot);
    auto* item = new QListWidgetItem(latin1(map_actions_window_line(slot)), actions_);
    const int value = int(action->action_flags & 1);
    item->setData(Qt::UserRole, value);
    QFont font = item->font();
    font.setBold(value != 0);
    item->setFont(font);
    row_slots.push_back(slot);
  }
}

void CMapActionsDlg::rebuildParameters() {
  parameters_->clear();
  const int32_t slot = map_actions_window_action_slot();
  const map_action* action = map_action_get(slot);
  if (action == nullptr) return;
  for (int32_t p = 0; p < action->parameter_count; ++p) {
    const map_action_parameter_header* header = map_action_parameter(slot, p);
    if (header == nullptr) break;
    const map_action_parameter_type_definition* definition = map_action_type_get(header->parameter_type);
    const std::string name = tag_to_text(header->parameter_name);
    const std::string type = definition ? definition->name : "<unknown type>";
    std::string description = map_action_parameter_description(action->action_type, header->parameter_name, header->parameter_type);
    int value = template_defines(action->action_type, header->parameter_name, header->parameter_type) ? 1 : 0;
    if (is_message(description)) {
      description = map_action_parameter_description(MAP_ACTION_DEFAULT_TEMPLATE, header->parameter_name, header->parameter_type);
      value = template_defines(MAP_ACTION_DEFAULT_TEMPLATE, header->parameter_name, header->parameter_type) ? 1 : 0;
    }
    char line[1024];
    if (!is_message(description))
      std::snprintf(line, sizeof line, " %s (%s, %s)", description.c_str(), name.c_str(), type.c_str());
    else
      std::snprintf(line, sizeof line, " %s %s", type.c_str(), name.c_str()), value = 0;
    auto* item = new QListWidgetItem(latin1(line), parameters_);
    item->setData(Qt::UserRole, value);
    QFont font = item->font();
    font.setBold(value != 0);
    item->setFont(font);
  }
}

void CMapActionsDlg::rebuildElements() {
  elements_->clear();
  const int32_t slot = map_actions_window_action_slot();
  const map_action_parameter_header* header = selected_header();
  if (header == nullptr) return;
  const int32_t p = map_actions_selection.selected_parameter;
  if (header->parameter_type == _parameter_string) {
    if (header->element_count > 0) elements_->addItem(latin1(map_action_string_text(slot, p)));
    return;
  }
  for (int32_t e = 0; e < header->element_count; ++e) elements_->addItem(latin1(map_action_element_text(slot, p, e)));
}

void CMapActionsDlg::restoreSelections(uint32_t lists) {
  map_actions_window_state& s = map_actions_selection;
  if (lists & MAP_ACTIONS_REBUILD_ACTIONS) {
    actions_->clearSelection();
    if (s.selected_action == -2) {
      for (int32_t row = s.first_selected; row < s.first_selected + s.selected_count; ++row)
        if (QListWidgetItem* item = actions_->item(row)) item->setSelected(true);
    } else if (QListWidgetItem* item = actions_->item(s.selected_action)) {
      item->setSelected(true);
      actions_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    }
  }
  if (lists & MAP_ACTIONS_REBUILD_PARAMETERS) {
    parameters_->clearSelection();
    if (QListWidgetItem* item = parameters_->item(s.selected_parameter)) {
      item->setSelected(true);
      parameters_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    }
  }
  elements_->clearSelection();
  if (QListWidgetItem* item = elements_->item(s.selected_element)) {
    item->setSelected(true);
    elements_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    elements_->scrollToItem(item);
  }
}

void CMapActionsDlg::refresh(uint32_t lists, bool keep) {
  if (lists & MAP_ACTIONS_REBUILD_ACTIONS) lists |= MAP_ACTIONS_REBUILD_PARAMETERS;
  if (lists & MAP_ACTIONS_REBUILD_PARAMETERS) lists |= MAP_ACTIONS_REBUILD_ELEMENTS;
  map_actions_window_state& s = map_actions_selection;
  if (!keep) {
    if (lists & MAP_ACTIONS_REBUILD_ACTIONS) s.selected_action = -1, s.first_selected = -1, s.selected_count = 0;
    if (lists & MAP_ACTIONS_REBUILD_PARAMETERS) s.selected_parameter = -1;
    s.selected_element = -1;
  }
  if (!template_messages_shown && map_actions_are_valid()) {
    template_messages_shown = true;
    for (const std::string& message : map_action_template_messages()) report_once(message);
  }
  rebuilding_ = true;
  if (lists & MAP_ACTIONS_REBUILD_ACTIONS) rebuildActions();
  // What was remembered may have gone with an Undo or a deletion: keep to what exists.
  const int32_t actions = int32_t(row_slots.size());
  if (s.selected_action == -2) {
    s.first_selected = std::clamp(s.first_selected, 0, std::max(actions - 1, 0));
    s.selected_count = std::min(s.selected_count, actions - s.first_selected);
    if (s.selected_count < 2) s.selected_action = s.selected_count == 1 ? s.first_selected : -1;
  } else if (s.selected_action >= actions) {
    s.selected_action = -1;
  }
  if (s.selected_action >= 0) s.first_selected = s.selected_action, s.selected_count = 1;
  if (s.selected_action < 0) s.selected_parameter = -1;
  const map_action* action = map_action_get(map_actions_window_action_slot());
  if (action == nullptr || s.selected_parameter >= action->parameter_count) s.selected_parameter = -1;
  if (lists & MAP_ACTIONS_REBUILD_PARAMETERS) rebuildParameters();
  if (s.selected_element >= element_rows(selected_header())) s.selected_element = -1;
  if (lists & MAP_ACTIONS_REBUILD_ELEMENTS) rebuildElements();
  restoreSelections(lists);
  rebuilding_ = false;
  updateButtons();
  MapActionOverlayChanged();
}

void CMapActionsDlg::actionSelectionChanged() {
  if (rebuilding_) return;
  std::vector<int32_t> rows;
  for (QListWidgetItem* item : actions_->selectedItems()) rows.push_back(actions_->row(item));
  std::sort(rows.begin(), rows.end());
  map_actions_window_state& s = map_actions_selection;
  s.selected_parameter = -1;
  s.selected_element = -1;
  if (rows.empty()) {
    s.selected_action = -1, s.first_selected = -1, s.selected_count = 0;
  } else if (rows.size() == 1) {
    s.selected_action = s.first_selected = rows[0];
    s.selected_count = 1;
    add_required_parameters(map_actions_window_action_slot());
  } else {
    // Several actions are worked on as one block: a selection with gaps becomes the whole block.
    s.selected_action = -2;
    s.first_selected = rows.front();
    s.selected_count = rows.back() - rows.front() + 1;
  }
  refresh(s.selected_action == -2 ? MAP_ACTIONS_REBUILD_ACTIONS : MAP_ACTIONS_REBUILD_PARAMETERS, true);
}

void CMapActionsDlg::parameterSelectionChanged() {
  if (rebuilding_) return;
  const QList<QListWidgetItem*> selected = parameters_->selectedItems();
  map_actions_selection.selected_parameter = selected.isEmpty() ? -1 : parameters_->row(selected.front());
  map_actions_selection.selected_element = -1;
  refresh(MAP_ACTIONS_REBUILD_ELEMENTS, true);
}

void CMapActionsDlg::elementSelectionChanged() {
  if (rebuilding_) return;
  const QList<QListWidgetItem*> selected = elements_->selectedItems();
  map_actions_selection.selected_element = selected.isEmpty() ? -1 : elements_->row(selected.front());
  updateButtons();
}

void CMapActionsDlg::updateButtons() {
  description_->clear();
  const map_actions_window_state& s = map_actions_selection;
  const auto enable = [this](std::initializer_list<int32_t> ids, bool on) {
    for (int32_t id : ids)
      if (QWidget* w = control(id)) w->setEnabled(on);
  };
  const std::initializer_list<int32_t> parameter_controls = {
      MAP_ACTIONS_PARAMETER_GROUP, MAP_ACTIONS_PARAMETER_LIST, MAP_ACTIONS_PARAMETER_ADD,  MAP_ACTIONS_PARAMETER_DELETE,
      MAP_ACTIONS_PARAMETER_EDIT,  MAP_ACTIONS_PARAMETER_CUSTOM, MAP_ACTIONS_DESCRIPTION_GROUP, MAP_ACTIONS_DESCRIPTION};
  const std::initializer_list<int32_t> element_controls = {MAP_ACTIONS_ELEMENT_GROUP, MAP_ACTIONS_ELEMENT_LIST,
                                                           MAP_ACTIONS_ELEMENT_ADD, MAP_ACTIONS_ELEMENT_DELETE,
                                                           MAP_ACTIONS_ELEMENT_EDIT};
  const int32_t actions = int32_t(row_slots.size());
  enable({MAP_ACTIONS_ADD}, map_actions_are_valid());
  if (s.selected_action == -1) {
    enable({MAP_ACTIONS_EDIT, MAP_ACTIONS_DELETE, MAP_ACTIONS_DUPLICATE, MAP_ACTIONS_MOVE_UP, MAP_ACTIONS_MOVE_DOWN,
            MAP_ACTIONS_INDENT, MAP_ACTIONS_OUTDENT},
           false);
    enable(parameter_controls, false);
    enable(element_controls, false);
    return;
  }
  if (s.selected_action == -2) {
    int16_t deepest = 0, shallowest = MAP_ACTION_MAXIMUM_INDENT;
    for (int32_t row = s.first_selected; row < s.first_selected + s.selected_count; ++row)
      if (const map_action* a = map_action_get(map_actions_window_row_slot(row))) {
        deepest = std::max(deepest, a->indent);
        shallowest = std::min(shallowest, a->indent);
      }
    enable({MAP_ACTIONS_EDIT}, false);
    enable(parameter_controls, false);
    enable(element_controls, false);
    enable({MAP_ACTIONS_DELETE, MAP_ACTIONS_DUPLICATE}, true);
    enable({MAP_ACTIONS_MOVE_UP}, s.first_selected != 0);
    enable({MAP_ACTIONS_MOVE_DOWN}, s.first_selected + s.selected_count - 1 != actions - 1);
    enable({MAP_ACTIONS_INDENT}, deepest < MAP_ACTION_MAXIMUM_INDENT);
    enable({MAP_ACTIONS_OUTDENT}, shallowest > 0);
    return;
  }
  const map_action* action = map_action_get(map_actions_window_action_slot());
  const int16_t indent = action ? action->indent : 0;
  enable({MAP_ACTIONS_EDIT, MAP_ACTIONS_DELETE, MAP_ACTIONS_DUPLICATE}, true);
  enable(parameter_controls, true);
  enable({MAP_ACTIONS_MOVE_UP}, s.selected_action != 0);
  enable({MAP_ACTIONS_MOVE_DOWN}, s.selected_action != actions - 1);
  enable({MAP_ACTIONS_OUTDENT}, indent != 0);
  enable({MAP_ACTIONS_INDENT}, indent < MAP_ACTION_MAXIMUM_INDENT);
  const map_action_parameter_header* header = selected_header();
  if (header == nullptr || action == nullptr) {
    enable(element_controls, false);
    enable({MAP_ACTIONS_PARAMETER_EDIT, MAP_ACTIONS_PARAMETER_DELETE}, false);
    return;
  }
  description_->setText(latin1(parameter_description(action->action_type, header->parameter_name, header->parameter_type)));
  enable(element_controls, true);
  const bool custom = !template_defines(action->action_type, header->parameter_name, header->parameter_type) &&
                      !template_defines(MAP_ACTION_DEFAULT_TEMPLATE, header->parameter_name, header->parameter_type);
  enable({MAP_ACTIONS_PARAMETER_EDIT, MAP_ACTIONS_PARAMETER_DELETE}, custom);
  const int16_t kind = edit_class(header);
  const bool element = s.selected_element >= 0;
  enable({MAP_ACTIONS_ELEMENT_ADD}, kind == _edit_typed || kind == _edit_whole_string || kind == _edit_choice);
  enable({MAP_ACTIONS_ELEMENT_EDIT}, element && (kind == _edit_typed || kind == _edit_whole_string ||
                                                 kind == _edit_choice || kind == _edit_marker));
  enable({MAP_ACTIONS_ELEMENT_DELETE}, element);
}

// ---- action buttons ----

namespace {

int32_t row_of_slot(int32_t slot) {
  const auto found = std::find(row_slots.begin(), row_slots.end(), slot);
  return found == row_slots.end() ? -1 : int32_t(found - row_slots.begin());
}

void select_single(int32_t row) {
  map_actions_selection = {row, row, row >= 0 ? 1 : 0, -1, -1};
}

std::vector<int32_t> selected_slots() {
  const map_actions_window_state& s = map_actions_selection;
  std::vector<int32_t> chosen_slots;
  if (s.selected_action == -1) return chosen_slots;
  const int32_t first = s.selected_action == -2 ? s.first_selected : s.selected_action;
  const int32_t count = s.selected_action == -2 ? s.selected_count : 1;
  for (int32_t row = first; row < first + count; ++row)
    if (map_actions_window_row_slot(row) >= 0) chosen_slots.push_back(map_actions_window_row_slot(row));
  return chosen_slots;
}

void refuse_full() { ui_message_box("Error", MAP_ACTION_FULL, ui_icon_error, ui_buttons_ok); }

// Opens the Edit Map Action dialog; OK also gives the action what its template requires.
bool edit_action_dialog(QWidget* parent, int32_t slot, bool is_new) {
  CEditMapActionDlg dialog(parent, slot, is_new);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (map_action_operation_add_required_parameters(slot) < 0) refuse_full();
  return true;
}

}  // namespace

void CMapActionsDlg::addAction() {
  journal_step step("Add Map Action");
  if (!step.is_open()) return;
  const int32_t slot = map_action_operation_new(-1);
  if (slot < 0) return refuse_full();
  if (!edit_action_dialog(this, slot, true) || !step.commit()) return;
  rebuildActions();
  select_single(row_of_slot(slot));
  refresh(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

void CMapActionsDlg::editAction() {
  const int32_t slot = map_actions_window_action_slot();
  if (slot < 0) return;
  journal_step step("Edit Map Action");
  if (!step.is_open() || !edit_action_dialog(this, slot, false) || !step.commit()) return;
  refresh(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

void CMapActionsDlg::duplicateActions() {
  const std::vector<int32_t> sources = selected_slots();
  if (sources.empty()) return;
  journal_step step("Duplicate Map Action");
  if (!step.is_open()) return;
  std::vector<int32_t> copies;
  for (int32_t source : sources) {
    const int32_t copy = map_action_operation_new(source);
    if (copy < 0) return refuse_full();
    copies.push_back(copy);
  }
  if (sources.size() == 1 && !edit_action_dialog(this, copies[0], false)) return;
  if (!step.commit()) return;
  rebuildActions();
  std::vector<int32_t> rows;
  for (int32_t copy : copies) rows.push_back(row_of_slot(copy));
  std::sort(rows.begin(), rows.end());
  if (rows.size() == 1) {
    select_single(rows[0]);
  } else {
    map_actions_selection = {-2, rows.front(), rows.back() - rows.front() + 1, -1, -1};
  }
  refresh(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

void CMapActionsDlg::deleteActions() {
  const std::vector<int32_t> chosen_slots = selected_slots();
  if (chosen_slots.empty()) return;
  char question[600];
  if (chosen_slots.size() > 1) {
    std::snprintf(question, sizeof question, "Are you sure you want to delete these %d map actions?", int(chosen_slots.size()));
  } else {
    QString line = actions_->item(map_actions_selection.selected_action)->text().trimmed();
    std::snprintf(question, sizeof question, "Are you sure you want to delete '%s'?", line.toLatin1().constData());
  }
  if (ui_message_box("Warning", question, ui_icon_warning, ui_buttons_yes_no) != ui_answer_yes) return;
  const int32_t first = map_actions_selection.selected_action == -2 ? map_actions_selection.first_selected
                                                                      : map_actions_selection.selected_action;
  if (!map_action_operation_delete(chosen_slots, true)) return;
  rebuildActions();
  select_single(row_slots.empty() ? -1 : std::max(first - 1, 0));
  refresh(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

// The block moves as a whole by what room there is, so it keeps its order near either end.
void CMapActionsDlg::moveActions(bool up) {
  map_actions_window_state& s = map_actions_selection;
  std::vector<int32_t> chosen_slots = selected_slots();
  if (chosen_slots.empty()) return;
  const int32_t first = s.selected_action == -2 ? s.first_selected : s.selected_action;
  const int32_t last = first + int32_t(chosen_slots.size()) - 1;
  const int32_t room = up ? first : int32_t(row_slots.size()) - 1 - last;
  const int32_t steps = std::min(space_bar_held() ? 10 : 1, room);
  if (steps <= 0) return;
  journal_step step("Move Map Action");
  if (!step.is_open()) return;
  if (!up) std::reverse(chosen_slots.begin(), chosen_slots.end());
  for (int32_t slot : chosen_slots)
    if (map_action_operation_move(slot, up, steps) < 0) return;
  if (!step.commit()) return;
  const int32_t moved = up ? -steps : steps;
  if (s.selected_action == -2)
    s.first_selected += moved;
  else
    s.selected_action += moved, s.first_selected = s.selected_action;
  refresh(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

void CMapActionsDlg::indentActions(bool deeper) {
  const std::vector<int32_t> chosen_slots = selected_slots();
  if (chosen_slots.empty()) return;
  journal_step step(deeper ? "Indent Map Action" : "Outdent Map Action");
  if (!step.is_open()) return;
  for (int32_t slot : chosen_slots)
    if (!map_action_operation_indent(slot, deeper)) return;
  if (!step.commit()) return;
  refresh(MAP_ACTIONS_REBUILD_ACTIONS, true);
}

// ---- parameter buttons ----

void CMapActionsDlg::addParameter(bool custom) {
  const int32_t slot = map_actions_window_action_slot();
  if (slot < 0) return;
  journal_step step("Add Parameter");
  if (!step.is_open()) return;
  const int32_t parameter = map_action_operation_add_null_parameter(slot);
  if (parameter < 0) return refuse_full();
  bool accepted;
  if (custom) {
    CEditParameterDlg dialog(this, slot, parameter);
    accepted = dialog.exec() == QDialog::Accepted;
  } else {
    CEditMapActionParameterDlg dialog(this, slot, parameter);
    accepted = dialog.exec() == QDialog::Accepted;
  }
  if (!accepted || !step.commit()) return;
  map_actions_selection.selected_parameter = parameter;
  map_actions_selection.selected_element = -1;
  refresh(MAP_ACTIONS_REBUILD_PARAMETERS, true);
}

void CMapActionsDlg::editParameter() {
  const int32_t slot = map_actions_window_action_slot();
  if (slot < 0 || selected_header() == nullptr) return;
  CEditParameterDlg dialog(this, slot, map_actions_selection.selected_parameter);
  if (dialog.exec() != QDialog::Accepted) return;
  map_actions_selection.selected_element = -1;
  refresh(MAP_ACTIONS_REBUILD_PARAMETERS, true);
}

void CMapActionsDlg::deleteParameter() {
  const int32_t slot = map_actions_window_action_slot();
  const int32_t parameter = map_actions_selection.selected_parameter;
  if (slot < 0 || selected_header() == nullptr) return;
  if (!map_action_operation_delete_parameter(slot, parameter)) return;
  const map_action* action = map_action_get(slot);
  map_actions_selection.selected_parameter = action->parameter_count > 0 ? std::max(parameter - 1, 0) : -1;
  map_actions_selection.selected_element = -1;
  refresh(MAP_ACTIONS_REBUILD_PARAMETERS, true);
}

// ---- element buttons ----

bool map_action_edit_element(QWidget* parent, int32_t slot, int32_t parameter, int32_t element) {
  const map_action_parameter_header* header = map_action_parameter(slot, parameter);
  const map_action_parameter_type_definition* definition = header ? map_action_type_get(header->parameter_type) : nullptr;
  if (definition == nullptr) return false;
  switch (definition->edit_kind) {
    case _edit_typed:
    case _edit_whole_string: {
      CElementValueDlg dialog(parent, slot, parameter, element);
      return dialog.exec() == QDialog::Accepted;
    }
    case _edit_choice: {
      CElementChoiceDlg dialog(parent, slot, parameter, element);
      return dialog.exec() == QDialog::Accepted;
    }
    case _edit_marker: {
      int32_t identifier = 0;
      const marker_data* marker = nullptr;
      if (map_action_element_value(slot, parameter, element, &identifier))
        marker = marker_find_by_identifier(definition->marker_type, int16_t(identifier));
      if (marker == nullptr) {
        ui_message_box("Warning", MISSING_MARKER, ui_icon_warning, ui_buttons_ok);
        return false;
      }
      return EditMarker(int32_t(marker - mesh_markers()));
    }
    default: return false;
  }
}

void CMapActionsDlg::addElement() {
  const int32_t slot = map_actions_window_action_slot();
  const map_action_parameter_header* header = selected_header();
  if (slot < 0 || header == nullptr) return;
  const int32_t parameter = map_actions_selection.selected_parameter;
  const int16_t kind = edit_class(header);
  if (kind != _edit_typed && kind != _edit_whole_string && kind != _edit_choice) return;
  journal_step step("Add Value");
  if (!step.is_open()) return;
  int32_t element = 0;
  // A string is one value, its whole text: Add edits that text rather than appending bytes.
  if (kind != _edit_whole_string) {
    element = header->element_count;
    if (!map_action_operation_append_elements(slot, parameter, 1, {})) return refuse_full();
  }
  if (!map_action_edit_element(this, slot, parameter, element) || !step.commit()) return;
  map_actions_selection.selected_element = element;
  refresh(MAP_ACTIONS_REBUILD_ELEMENTS, true);
}

void CMapActionsDlg::editElement() {
  const int32_t slot = map_actions_window_action_slot();
  if (slot < 0 || selected_header() == nullptr || map_actions_selection.selected_element < 0) return;
  if (!map_action_edit_element(this, slot, map_actions_selection.selected_parameter, map_actions_selection.selected_element))
    return;
  refresh(MAP_ACTIONS_REBUILD_ELEMENTS, true);
}

void CMapActionsDlg::deleteElement() {
  const int32_t slot = map_actions_window_action_slot();
  const map_action_parameter_header* header = selected_header();
  const int32_t parameter = map_actions_selection.selected_parameter, element = map_actions_selection.selected_element;
  if (slot < 0 || header == nullptr || element < 0) return;
  const bool done = header->parameter_type == _parameter_string
                        ? map_action_operation_set_elements(slot, parameter, 0, {})
                        : map_action_operation_remove_element(slot, parameter, element);
  if (!done) return;
  map_actions_selection.selected_element = element_rows(selected_header()) > 0 ? std::max(element - 1, 0) : -1;
  refresh(MAP_ACTIONS_REBUILD_ELEMENTS, true);
}

// ---- entry points ----

QWidget* CreateMapActionsWindow(QWidget* frame) {
  window = new CMapActionsDlg(frame);
  QObject::connect(window, &QObject::destroyed, [] { window = nullptr; });
  (void)map_session_register(&session_client);
  shell_place_window(window, _shell_window_map_actions);
  return window;
}

CMapActionsDlg* GetMapActionsWindow() { return window; }

void RefreshMapActionsWindow(uint32_t lists, bool keep) {
  if (window) window->refresh(lists, keep);
}

void ShowMapActionsWindow() {
  if (!window) return;
  if (window->isVisible()) window->refresh(MAP_ACTIONS_REBUILD_ACTIONS, false);
  ShowShellWindow(window);
}
