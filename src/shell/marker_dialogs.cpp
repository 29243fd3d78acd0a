#include "shell/marker_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "map/marker_utils.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "shell/scenery_window.h"
#include "shell/shell.h"
#include "shell/shell_dialogs.h"
#include "shell/visual_view.h"
#include "tag_files/tag_files.h"
#include "tools/connector_selection.h"
#include "tools/marker_palette_operations.h"

namespace {

QWidget* dialog_parent() { return shell.windows[_shell_window_visual]; }

QPushButton* add_button_box(QDialog* dialog, QBoxLayout* layout, const char* ok_text, bool cancel) {
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton(QString::fromLatin1(ok_text), QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  if (cancel) buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("cancel");
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(buttons);
  return ok;
}

tag group_of(int16_t type) {
  const marker_type_definition* definition = marker_type_get(type);
  return definition ? definition->group_tag : NONE_TAG;
}

bool has_palette(int16_t type) {
  return marker_type_get(type) && type != _marker_unused_2 && type != _marker_unused_4 && type != _marker_unused_7 &&
         type != _marker_unused_8;
}

// ---- the palette entry dialog ----

struct flag_box {
  int id;
  const char* text;
  uint16_t bit;
};
constexpr flag_box unit_flag_boxes[] = {
    {1070, "Uncontrollable", _palette_uncontrollable},   {1071, "May be traded", _palette_may_be_traded},
    {1072, "May use veterans", _palette_may_use_veterans}, {1073, "Must use veterans", _palette_must_use_veterans},
    {1074, "Is ambient life", _palette_is_ambient_life},   {1104, "Is hunted creature", _palette_is_hunted_creature},
};
constexpr const char* flag_abbreviations[] = {"Unc / ", "Tra / ", "vet / ", "VET / ", "Amb / ", "Hun / "};

class CPaletteEntryDlg : public QDialog {
 public:
  CPaletteEntryDlg(QWidget* parent, marker_palette_entry* entry, uint16_t sections, tag group)
      : QDialog(parent), entry_(entry), sections_(sections) {
    setWindowTitle("Select a marker palette entry");
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Tag band.
    QWidget* tag_band = band(layout, "frame_1077", _entry_section_tag);
    auto* tag_layout = new QHBoxLayout(tag_band);
    tag_layout->setContentsMargins(0, 0, 0, 0);
    auto* tag_label = new QLabel("Tag:", tag_band);
    tag_label->setObjectName("label_1067");
    tag_combo_ = new QComboBox(tag_band);
    tag_combo_->setObjectName("combo_1066");
    tag_combo_->addItem("No Tag", uint(NONE_TAG));
    const int32_t count = group == NONE_TAG ? 0 : tag_file_count(group);
    for (int32_t n = 0; n < count; ++n) {
      const int32_t tag_index = tag_file_nth(group, n);
      if (tag_index == NONE) continue;
      tag_combo_->addItem(QString::fromLatin1(tag_file_get_name(tag_index)), uint(tag_file_get_identifier(tag_index)));
    }
    const int found = tag_combo_->findData(uint(entry->definition_tag));
    tag_combo_->setCurrentIndex(found >= 0 ? found : 0);
    tag_layout->addWidget(tag_label);
    tag_layout->addWidget(tag_combo_, 1);

    // Team band.
    QWidget* team_band = band(layout, "frame_1076", _entry_section_team);
    auto* team_layout = new QHBoxLayout(team_band);
    team_layout->setContentsMargins(0, 0, 0, 0);
    auto* team_label = new QLabel("Team:", team_band);
    team_label->setObjectName("label_1069");
    team_ = new QLineEdit(QString::number(entry->team), team_band);
    team_->setObjectName("edit_1068");
    team_layout->addWidget(team_label);
    team_layout->addWidget(team_, 1);

    // Unit flag band.
    QWidget* flag_band = band(layout, "frame_1075", _entry_section_unit_flags);
    auto* flag_layout = new QVBoxLayout(flag_band);
    flag_layout->setContentsMargins(0, 0, 0, 0);
    for (const flag_box& box : unit_flag_boxes) {
      auto* check = new QCheckBox(box.text, flag_band);
      check->setObjectName(QString("check_%1").arg(box.id));
      check->setChecked(entry->flags & box.bit);
      flag_layout->addWidget(check);
      flags_.push_back(check);
    }

    // Netgame band.
    QWidget* netgame_band = band(layout, "frame_1108", _entry_section_netgame_types);
    auto* netgame_layout = new QGridLayout(netgame_band);
    netgame_layout->setContentsMargins(0, 0, 0, 0);
    auto* netgame_label = new QLabel("Appears in Netgame Type:", netgame_band);
    netgame_label->setObjectName("label_1105");
    netgame_ = new QListWidget(netgame_band);
    netgame_->setObjectName("list_1107");
    for (int32_t k = 0; k < NUMBER_OF_NETGAME_TYPES; ++k) {
      auto* item = new QListWidgetItem(netgame_type_names[k], netgame_);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
      item->setCheckState(entry->netgame_types & (1u << k) ? Qt::Checked : Qt::Unchecked);
    }
    // All fourteen at once, without scrolling.
    netgame_->setMinimumHeight(netgame_->sizeHintForRow(0) * NUMBER_OF_NETGAME_TYPES + 2 * netgame_->frameWidth() + 4);
    netgame_layout->addWidget(netgame_label, 0, 0, 1, 2);
    netgame_layout->addWidget(netgame_, 1, 0, 3, 1);
    const struct {
      int id;
      const char* text;
      int mode;
    } actions[] = {{1109, "All", 0}, {1110, "None", 1}, {1111, "Invert", 2}};
    for (int k = 0; k < 3; ++k) {
      auto* button = new QPushButton(actions[k].text, netgame_band);
      button->setObjectName(QString("button_%1").arg(actions[k].id));
      button->setAutoDefault(false);
      const int mode = actions[k].mode;
      connect(button, &QPushButton::clicked, this, [this, mode] {
        for (int row = 0; row < netgame_->count(); ++row) {
          QListWidgetItem* item = netgame_->item(row);
          const bool checked = mode == 0 || (mode == 2 && item->checkState() != Qt::Checked);
          item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        }
      });
      netgame_layout->addWidget(button, 1 + k, 1);
    }

    add_button_box(this, layout, "OK", true);
  }

  void accept() override {
    if (sections_ & _entry_section_tag) entry_->definition_tag = tag(tag_combo_->currentData().toUInt());
    if (sections_ & _entry_section_team)
      entry_->team = int16_t(std::clamp<int32_t>(dialog_read_integer(team_->text()), INT16_MIN, INT16_MAX));
    if (sections_ & _entry_section_unit_flags) {
      uint16_t flags = entry_->flags;
      for (size_t k = 0; k < flags_.size(); ++k) {
        flags &= uint16_t(~unit_flag_boxes[k].bit);
        if (flags_[k]->isChecked()) flags |= unit_flag_boxes[k].bit;
      }
      entry_->flags = flags;
    }
    if (sections_ & _entry_section_netgame_types) {
      uint32_t bits = 0;
      for (int k = 0; k < netgame_->count(); ++k)
        if (netgame_->item(k)->checkState() == Qt::Checked) bits |= 1u << k;
      entry_->netgame_types = bits;
    }
    QDialog::accept();
  }

 private:
  // A band of the dialog: shown when its section is asked for; a hidden band takes no room, so the
  // dialog is as short as the bands it shows.
  QWidget* band(QVBoxLayout* layout, const char* name, uint16_t section) {
    auto* widget = new QWidget(this);
    widget->setObjectName(name);
    widget->setVisible(sections_ & section);
    layout->addWidget(widget);
    return widget;
  }

  marker_palette_entry* entry_;
  uint16_t sections_;
  QComboBox* tag_combo_;
  QLineEdit* team_;
  std::vector<QCheckBox*> flags_;
  QListWidget* netgame_;
};

// ---- the marker palette dialog ----

enum palette_column { _column_name, _column_team, _column_count, _column_flags };

// What a row remembers of its entry: its position among the type's entries and its key, so that a
// row that no longer matches the entry at its position acts on nothing.
struct row_entry {
  int16_t position;
  marker_palette_entry key;
};

bool same_key(const marker_palette_entry& a, const marker_palette_entry& b) {
  return a.type == b.type && a.definition_tag == b.definition_tag && a.team == b.team && a.flags == b.flags &&
         a.netgame_types == b.netgame_types;
}

class CMarkerPaletteDlg : public QDialog {
 public:
  CMarkerPaletteDlg(QWidget* parent, int16_t type) : QDialog(parent), type_(type) {
    const marker_type_definition* definition = marker_type_get(type);
    setWindowTitle(QString("Marker Palette for type: %1").arg(definition ? definition->name : ""));
    auto* layout = new QHBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("list_1015");
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setMinimumSize(320, 200);
    layout->addWidget(list_, 1);
    auto* buttons = new QVBoxLayout;
    layout->addLayout(buttons);
    add_ = button(buttons, "&Add...", "button_1012");
    delete_ = button(buttons, "Delete", "button_1013");
    edit_ = button(buttons, "&Edit", "button_1014");
    buttons->addStretch(1);
    QPushButton* close = button(buttons, "Close", "ok");
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(add_, &QPushButton::clicked, this, [this] {
      if (AddPaletteEntry(type_)) fill();
    });
    connect(delete_, &QPushButton::clicked, this, [this] { deleteRows(); });
    connect(edit_, &QPushButton::clicked, this, [this] { editRow(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
      if (palette_entry_sections(type_)) editRow();
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    // Model entries have no entry dialog.
    edit_->setVisible(palette_entry_sections(type) != 0);
    fill();
  }

  void fill() {
    list_->setUpdatesEnabled(false);
    list_->clear();
    rows_.clear();
    std::vector<palette_column> columns;
    if (type_ != _marker_observer) columns.push_back(_column_name);
    if (type_ == _marker_observer || type_ == _marker_scenery || type_ == _marker_unit) columns.push_back(_column_team);
    columns.push_back(_column_count);
    if (type_ == _marker_unit) columns.push_back(_column_flags);
    static const char* const headers[] = {"Name", "Team", "Count", "Flags"};
    QStringList labels;
    for (const palette_column column : columns) labels << headers[column];
    list_->setColumnCount(int(columns.size()));
    list_->setHeaderLabels(labels);

    const QFontMetrics metrics = list_->fontMetrics();
    std::vector<int> widths;
    for (const palette_column column : columns)
      widths.push_back(metrics.horizontalAdvance(QString(headers[column]) + "    "));
    int16_t position = 0;
    for (int32_t i = 0, count = mesh_palette_count(); i < count; ++i) {
      const marker_palette_entry& entry = mesh_palette()[i];
      if (entry.type != type_) continue;
      auto* item = new QTreeWidgetItem(list_);
      for (size_t c = 0; c < columns.size(); ++c) {
        QString text;
        switch (columns[c]) {
          case _column_name: text = QString::fromLatin1(palette_entry_tag_name(entry).c_str()); break;
          case _column_team: text = QString::number(entry.team); break;
          case _column_count: text = QString::number(entry.instance_count); break;
          case _column_flags: text = QString::fromLatin1(palette_entry_flags_text(entry.flags).c_str()); break;
        }
        item->setText(int(c), text);
        widths[c] = std::max(widths[c], metrics.horizontalAdvance(text) + 20);
      }
      item->setData(0, Qt::UserRole, int(rows_.size()));
      rows_.push_back({position++, entry});
    }
    for (size_t c = 0; c < columns.size(); ++c) list_->header()->resizeSection(int(c), widths[c]);
    list_->setUpdatesEnabled(true);
    updateButtons();
  }

 private:
  QPushButton* button(QVBoxLayout* layout, const char* text, const char* name) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    layout->addWidget(button);
    return button;
  }

  void updateButtons() {
    const int selected = int(list_->selectedItems().size());
    delete_->setEnabled(selected >= 1);
    edit_->setEnabled(selected == 1);
  }

  // The selected rows in list order.
  std::vector<const row_entry*> selectedRows() const {
    std::vector<const row_entry*> chosen;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
      QTreeWidgetItem* item = list_->topLevelItem(row);
      if (item->isSelected()) chosen.push_back(&rows_[size_t(item->data(0, Qt::UserRole).toInt())]);
    }
    return chosen;
  }

  // The entry a row stands for, when it is still the one at the row's position.
  static bool rowMatches(const row_entry& row) {
    const marker_palette_entry* entry = palette_entry_get(row.key.type, row.position);
    return entry && same_key(*entry, row.key);
  }

  void deleteRows() {
    const std::vector<const row_entry*> chosen = selectedRows();
    if (chosen.empty()) return;
    char question[200];
    if (chosen.size() == 1) {
      const QString first = list_->selectedItems().first()->text(0);
      std::snprintf(question, sizeof(question), "Are you sure you want to delete %s?", first.toLatin1().constData());
    } else {
      std::snprintf(question, sizeof(question), "Are you sure you want to delete these %d marker palette entries?",
                    int(chosen.size()));
    }
    if (ui_message_box("Warning", question, ui_icon_warning, ui_buttons_yes_no) != ui_answer_yes) return;
    // By position, not by key: two alike entries are two rows, and each row deletes its own.
    std::vector<int16_t> positions;
    for (const row_entry* row : chosen)
      if (rowMatches(*row)) positions.push_back(row->position);
    if (!positions.empty() && palette_operation_delete_entries(type_, positions)) {
      std::vector<int16_t> entries;
      for (const int16_t position : positions) entries.push_back(int16_t(position + 1));
      SceneryWindowEntriesDeleted(type_, entries.data(), int32_t(entries.size()));
      RefillPaletteCombosOfType(type_);
      visual_view_invalidate();
    }
    fill();
  }

  void editRow() {
    const std::vector<const row_entry*> chosen = selectedRows();
    if (chosen.size() != 1 || !palette_entry_sections(type_)) return;
    const row_entry row = *chosen.front();
    if (!rowMatches(row)) return;
    marker_palette_entry entry = *palette_entry_get(type_, row.position);
    if (EditPaletteEntry(&entry, palette_entry_sections(type_), group_of(type_)) &&
        palette_operation_edit_entry(type_, row.position, entry)) {
      RefillPaletteCombosOfType(type_);
      visual_view_invalidate();
    }
    fill();
  }

  int16_t type_;
  QTreeWidget* list_;
  QPushButton *add_, *delete_, *edit_;
  std::vector<row_entry> rows_;
};

// ---- the add flows ----

const char* add_title(int16_t type) {
  switch (type) {
    case _marker_scenery: return "Select some scenery to add:";
    case _marker_unit: return "Select a unit to add:";
    case _marker_sound_source: return "Select an ambient sound group to add:";
    case _marker_model: return "Select a model to add:";
    case _marker_projectile: return "Select a projectile to add:";
    case _marker_local_projectile_group: return "Select a local projectile group to add:";
    case _marker_model_animation: return "Select a model animation to add:";
    default: return nullptr;
  }
}

// A model appears in the palette at most once: its tag is listed only while no entry names it.
bool tag_not_in_palette(int32_t tag_index, int32_t type) {
  const tag identifier = tag_file_get_identifier(tag_index);
  for (int32_t i = 0, count = mesh_palette_count(); i < count; ++i)
    if (mesh_palette()[i].type == type && mesh_palette()[i].definition_tag == identifier) return false;
  return true;
}

// ---- the Edit Marker dialog ----

struct marker_flag_box {
  int id;
  const char* text;
  uint32_t bit;
};
constexpr marker_flag_box marker_flag_boxes[] = {
    {1023, "Invisible", _marker_invisible},
    {1024, "Stone", _marker_stone},
    {1025, "Detonates Immediately", _marker_detonates_immediately},
    {1026, "Is Invisible Observer", _marker_is_invisible_observer},
    {1027, "Netgame Target", _marker_netgame_target},
    {1028, "Respawns", _marker_respawns},
    {1029, "Respawn via Script", _marker_respawn_via_script},
    {1030, "Respawns at Death Loc'n", _marker_respawns_at_death_location},
    {1037, "Use Monster Entrance", _marker_use_monster_entrance},
};
constexpr const char* difficulty_names[] = {"Timid", "Simple", "Normal", "Heroic", "Legendary"};
enum { MIXED_SELECTION = NUMBER_OF_DIFFICULTY_LEVELS };

class CEditMarkerDlg : public QDialog {
 public:
  // One marker, or (several) every marker of `indices` with the position fields hidden.
  CEditMarkerDlg(QWidget* parent, const std::vector<int32_t>& indices, bool several)
      : QDialog(parent), several_(several) {
    setWindowTitle("Edit Marker");
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* difficulty_row = new QHBoxLayout;
    difficulty_row->addWidget(new QLabel("Minimum Difficulty:", this));
    difficulty_ = new QComboBox(this);
    difficulty_->setObjectName("combo_1017");
    for (const char* name : difficulty_names) difficulty_->addItem(name);
    if (several) difficulty_->addItem("<mixed selection>");
    difficulty_row->addWidget(difficulty_, 1);
    layout->addLayout(difficulty_row);

    // The six fields: hidden for several markers, and then they take no room.
    auto* fields = new QWidget(this);
    fields->setObjectName("position_fields");
    auto* grid = new QGridLayout(fields);
    grid->setContentsMargins(0, 0, 0, 0);
    const struct {
      int edit_id, label_id;
      const char* label;
    } edits[] = {{1016, 1031, "I:"}, {1018, 1032, "J:"},   {1019, 1033, "K:"},
                 {1020, 1034, "Z:"}, {1021, 1035, "Yaw:"}, {1022, 1036, "Pitch:"}};
    for (int k = 0; k < 6; ++k) {
      auto* label = new QLabel(edits[k].label, fields);
      label->setObjectName(QString("label_%1").arg(edits[k].label_id));
      auto* edit = new QLineEdit(fields);
      edit->setObjectName(QString("edit_%1").arg(edits[k].edit_id));
      grid->addWidget(label, k % 3, (k / 3) * 2);
      grid->addWidget(edit, k % 3, (k / 3) * 2 + 1);
      edits_[k] = edit;
    }
    fields->setVisible(!several);
    layout->addWidget(fields);

    auto* boxes = new QGridLayout;
    int k = 0;
    for (const marker_flag_box& box : marker_flag_boxes) {
      auto* check = new QCheckBox(box.text, this);
      check->setObjectName(QString("check_%1").arg(box.id));
      // Three states only where a state can be mixed: for one marker a click is on or off.
      check->setTristate(several);
      boxes->addWidget(check, k % 5, k / 5);
      checks_.push_back(check);
      ++k;
    }
    layout->addLayout(boxes);
    add_button_box(this, layout, "OK", true);
    fill(indices);
  }

  marker_field_edit edit() const {
    marker_field_edit edit;
    const int difficulty = difficulty_->currentIndex();
    edit.minimum_difficulty = int16_t(difficulty >= 0 && difficulty < MIXED_SELECTION ? difficulty : -1);
    for (size_t k = 0; k < checks_.size(); ++k) {
      const Qt::CheckState state = checks_[k]->checkState();
      if (state == Qt::Checked) edit.set_flags |= marker_flag_boxes[k].bit;
      if (state == Qt::Unchecked) edit.clear_flags |= marker_flag_boxes[k].bit;
    }
    if (!several_) {
      edit.position = true;
      edit.vector_i = world16_from_cells(dialog_read_real(edits_[0]->text()));
      edit.vector_j = world16_from_cells(dialog_read_real(edits_[1]->text()));
      edit.vector_k = world16_from_cells(dialog_read_real(edits_[2]->text()));
      edit.z = world_from_cells(dialog_read_real(edits_[3]->text()));
      // Angles as entered, in 65536ths of a turn.
      edit.yaw = uint16_t(dialog_read_integer(edits_[4]->text()));
      edit.pitch = uint16_t(dialog_read_integer(edits_[5]->text()));
    }
    return edit;
  }

 private:
  void fill(const std::vector<int32_t>& indices) {
    bool first = true;
    for (const int32_t index : indices) {
      const marker_data& marker = mesh_markers()[index];
      if (first) {
        difficulty_->setCurrentIndex(std::clamp<int>(marker.minimum_difficulty, 0, NUMBER_OF_DIFFICULTY_LEVELS - 1));
        for (size_t k = 0; k < checks_.size(); ++k) checks_[k]->setChecked(marker.flags & marker_flag_boxes[k].bit);
        if (!several_) {
          edits_[0]->setText(dialog_real_text(cells_from_world(marker.vector_i)));
          edits_[1]->setText(dialog_real_text(cells_from_world(marker.vector_j)));
          edits_[2]->setText(dialog_real_text(cells_from_world(marker.vector_k)));
          edits_[3]->setText(dialog_real_text(cells_from_world(marker.location.z)));
          edits_[4]->setText(QString::number(marker.yaw));
          edits_[5]->setText(QString::number(marker.pitch));
        }
        first = false;
        continue;
      }
      for (size_t k = 0; k < checks_.size(); ++k) {
        const bool set = marker.flags & marker_flag_boxes[k].bit;
        if (checks_[k]->checkState() != Qt::PartiallyChecked && (checks_[k]->checkState() == Qt::Checked) != set)
          checks_[k]->setCheckState(Qt::PartiallyChecked);
      }
      if (difficulty_->currentIndex() != marker.minimum_difficulty) difficulty_->setCurrentIndex(MIXED_SELECTION);
    }
  }

  bool several_;
  QComboBox* difficulty_;
  QLineEdit* edits_[6] = {};
  std::vector<QCheckBox*> checks_;
};

bool edit_markers(const std::vector<int32_t>& indices, bool several) {
  if (!mesh_is_open() || indices.empty()) return false;
  for (const int32_t index : indices)
    if (index < 0 || index >= mesh_marker_count()) return false;
  CEditMarkerDlg dialog(dialog_parent(), indices, several);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!marker_operation_edit(indices, dialog.edit())) return false;
  visual_view_invalidate();
  return true;
}

}  // namespace

std::string palette_entry_tag_name(const marker_palette_entry& entry) {
  const tag group = group_of(entry.type);
  if (group == NONE_TAG || entry.definition_tag == NONE_TAG) return "";
  return tag_file_get_name(tag_file_find(group, entry.definition_tag));
}

std::string palette_entry_flags_text(uint16_t flags) {
  std::string text;
  for (size_t k = 0; k < std::size(unit_flag_boxes); ++k)
    if (flags & unit_flag_boxes[k].bit) text += flag_abbreviations[k];
  if (text.size() >= 3) text.resize(text.size() - 3);  // the last " / "
  return text;
}

uint16_t palette_entry_sections(int16_t marker_type) {
  switch (marker_type) {
    case _marker_observer: return _entry_section_team;
    case _marker_scenery: return _entry_section_tag | _entry_section_team | _entry_section_netgame_types;
    case _marker_unit:
      return _entry_section_tag | _entry_section_team | _entry_section_unit_flags | _entry_section_netgame_types;
    case _marker_sound_source:
    case _marker_projectile:
    case _marker_local_projectile_group:
    case _marker_model_animation: return _entry_section_tag;
    default: return 0;
  }
}

bool EditPaletteEntry(marker_palette_entry* entry, uint16_t sections, tag group) {
  if (!entry) return false;
  CPaletteEntryDlg dialog(dialog_parent(), entry, sections, group);
  return dialog.exec() == QDialog::Accepted;
}

void OpenMarkerPalette(int16_t marker_type) {
  if (!mesh_is_open() || !has_palette(marker_type)) return;
  CMarkerPaletteDlg dialog(dialog_parent(), marker_type);
  dialog.exec();
}

bool AddPaletteEntry(int16_t marker_type) {
  if (!mesh_is_open() || !has_palette(marker_type)) return false;
  marker_palette_entry entry{};
  entry.type = marker_type;
  entry.definition_tag = NONE_TAG;
  entry.team = marker_type == _marker_unit ? 0 : -1;
  entry.definition_index = NONE;
  if (marker_type == _marker_unit || marker_type == _marker_scenery) entry.netgame_types = 0xFFFF;
  if (const char* title = add_title(marker_type)) {
    const bool model = marker_type == _marker_model;
    entry.definition_tag =
        TagSelectionDialog(dialog_parent(), title, group_of(marker_type), model ? tag_not_in_palette : nullptr, marker_type);
    if (entry.definition_tag == NONE_TAG) return false;
  }
  const uint16_t sections = palette_entry_sections(marker_type);
  if (sections && !EditPaletteEntry(&entry, sections, group_of(marker_type))) return false;
  if (palette_operation_add_entry(entry) < 0) {
    ui_message_box("Error", "couldn't add the marker palette entry. The reasons are in tarn_log.txt.", ui_icon_error,
                   ui_buttons_ok);
    return false;
  }
  RefillPaletteCombosOfType(marker_type);
  return true;
}

bool EditMarker(int32_t marker_index) { return edit_markers({marker_index}, false); }

bool EditSelectedMarkers() { return edit_markers(connector_selection_indices(), true); }
