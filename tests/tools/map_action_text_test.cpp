#include "tools/map_action_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "map/map_action_templates.h"
#include "map/map_actions_edit.h"
#include "map/mesh.h"
#include "session/engine.h"
#include "support/map_fixtures.h"
#include "support/map_test_store.h"
#include "support/scripted_ui_host.h"
#include "support/work_folder.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"
#include "tools/map_action_operations.h"
#include "tools/map_session.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace {

std::span<const std::byte> bytes_of(const void* data, size_t size) { return {static_cast<const std::byte*>(data), size}; }

int32_t store_tag(tag group, const char* name, const std::string& data) {
  int32_t index = tag_file_create(group, name, 1);
  EXPECT_NE(index, NONE) << name;
  if (index != NONE && !data.empty()) {
    EXPECT_TRUE(tag_file_write(&index, 0, int32_t(data.size()), data.data()));
  }
  return index;
}

std::string lines(std::initializer_list<const char*> strings) {
  std::string out;
  for (const char* s : strings) out += std::string(s) + "\n";
  return out;
}

// Everything about the actions the text carries, in slot order.
std::string dump() {
  std::string out;
  for (int32_t s = map_action_next(-1); s != -1; s = map_action_next(s)) {
    const map_action* a = map_action_get(s);
    out += "[" + map_action_name(s) + "] type " + tag_to_text(a->action_type) + " flags " +
           std::to_string(a->action_flags & 0xF) + " exp " + std::to_string(a->expiration_mode) + " t " +
           std::to_string(a->trigger_time_lower) + "+" + std::to_string(a->trigger_time_range) + " in " +
           std::to_string(a->indent) + "\n";
    for (int32_t p = 0; p < a->parameter_count; ++p) {
      const map_action_parameter_header* h = map_action_parameter(s, p);
      out += "  " + std::to_string(h->parameter_name) + "/" + std::to_string(h->parameter_type) + ":";
      for (int32_t e = 0; e < h->element_count; ++e) {
        for (int32_t c = 0; c < 4; ++c) {
          int32_t v = 0;
          if (h->parameter_type == _parameter_action_identifier) {
            // Identifiers are renumbered by an import: compare what they name.
            map_action_element_value(s, p, e, &v);
            if (c == 0) out += " ->" + (v == -1 ? std::string("none") : std::to_string(map_action_find(v)));
          } else if (map_action_element_value(s, p, e, &v, c)) {
            out += " " + std::to_string(v);
          }
        }
      }
      out += "\n";
    }
  }
  return out;
}

class MapActionText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.ready());
    ASSERT_TRUE(engine_initialize());
    ASSERT_TRUE(map_fixture_store_action_keywords());
    store_tag(make_tag("temp"), "defa",
              lines({"Default", "on_trigger", "optional action_identifier link / Linked Actions / Started too.",
                     "optional string name / Name / The name."}));
    store_tag(make_tag("temp"), "move",
              lines({"Move Units", "on_execution", "required monster_identifier subj / Units / Who moves.",
                     "required world_point2d dest / Destination / Where to.", "optional angle face / Facing / How.",
                     "optional flag fast / false / A heading that looks like a value.",
                     "optional string note / { / A heading that looks like a brace."}));
    store_tag(make_tag("temp"), "badt", lines({"Broken", "sometimes", "maybe integer numb / Number / x", "optional"}));
    store_tag(make_tag("prgr"), "volley", "x");
    store_tag(make_tag("stli"), "messages", "one\n");
    store_tag(make_tag("soun"), "river", "x");
    store_tag(make_tag("proj"), "arrow", "x");
    map_fixture map = map_fixture_new(1, 1);
    map_tag = store.store_map("scripted", map);
    ASSERT_NE(map_tag, NONE);
    ASSERT_TRUE(map_open(map_tag));
  }
  void TearDown() override {
    ui.default_answer = ui_answer_no;  // "Save before closing?": no
    map_close();
  }

  int32_t action(const char* name, tag type = NONE_TAG) {
    const int32_t slot = map_action_new(-1);
    EXPECT_TRUE(map_action_set_name(slot, name));
    map_action_set_record_fields(slot, 0, 0, type, 0, 0);
    return slot;
  }
  template <class T>
  void parameter(int32_t slot, const char* name, int16_t type, std::vector<T> values) {
    const int32_t p = map_action_add_parameter(slot, make_tag_text(name), type);
    ASSERT_GE(p, 0);
    const int32_t count = type == _parameter_string ? int32_t(values.size())
                                                    : int32_t(values.size() * sizeof(T) / map_action_type_get(type)->element_size);
    ASSERT_TRUE(map_action_set_elements(slot, p, count, bytes_of(values.data(), values.size() * sizeof(T))));
  }
  static tag make_tag_text(const char* text) {
    tag t = 0;
    for (int i = 0; i < 4; ++i) t = (t << 8) | uint8_t(text[i]);
    return t;
  }
  int16_t id(int32_t slot) { return map_action_get(slot)->identifier; }

  // Actions of every value type, with names and values that are awkward to write as text.
  void build_everything() {
    const int32_t move = action("c [d]", make_tag("move"));
    map_action_set_record_fields(move, 1, 0xF | 0x40, make_tag("move"), 31, 47);
    map_action_set_indent(move, 1);
    const int32_t plain = action("a [b]");
    const int32_t dashes = action("-----dashes");
    const int32_t empty_typed = action("", make_tag("move"));
    action("");  // a separator
    const int32_t brace = action("}");
    map_action_set_indent(brace, 3);
    const int32_t literal = action("<unnamed action>");
    const int32_t blank = action("  leading\tand\nbreaks ");
    const int32_t bare = map_action_new_empty();
    map_action_set_record_fields(bare, 4, 0x2, NONE_TAG, -30, 0);
    const int32_t twin = action("a [b]");  // links by name go to the first one: this one needs another form
    const int32_t unknown = action("unknown type", make_tag("zzzz"));
    const int32_t broken = action("broken", make_tag("badt"));

    parameter<uint8_t>(move, "fast", _parameter_flag, {0, 1, 2});
    parameter<char>(move, "note", _parameter_string, {'}', '\0'});
    parameter<int16_t>(move, "subj", _parameter_monster_identifier, {5, -7});
    parameter<int16_t>(move, "link", _parameter_action_identifier, {id(plain), id(twin), -1, id(blank), id(literal)});
    parameter<int16_t>(move, "face", _parameter_angle, {0, 1, 16384, -1});
    parameter<int32_t>(move, "numb", _parameter_integer, {INT32_MIN, 0, INT32_MAX});
    parameter<int32_t>(move, "dist", _parameter_world_distance, {-1, 511, 513, 1 << 30});
    parameter<int32_t>(move, "fnam", _parameter_field_name,
                       {int32_t(make_tag("null")), int32_t(make_tag("hut ")), int32_t(make_tag(" ab,")), -1});
    parameter<int32_t>(move, "fixd", _parameter_fixed, {65536, -1, 12345});
    const int32_t prgr = tag_file_get_identifier(tag_file_find(make_tag("prgr"), text_to_tag_padded("volley")));
    parameter<int32_t>(move, "prgr", _parameter_projectile_group, {prgr, -1, int32_t(make_tag("gone"))});
    parameter<int32_t>(plain, "stli", _parameter_string_list,
                       {int32_t(tag_file_get_identifier(tag_file_find(make_tag("stli"), text_to_tag_padded("messages"))))});
    parameter<int32_t>(plain, "soun", _parameter_sound,
                       {int32_t(tag_file_get_identifier(tag_file_find(make_tag("soun"), text_to_tag_padded("river"))))});
    parameter<int32_t>(plain, "proj", _parameter_projectile,
                       {int32_t(tag_file_get_identifier(tag_file_find(make_tag("proj"), text_to_tag_padded("arrow"))))});
    parameter<int32_t>(move, "dest", _parameter_world_point2d, {1, 2, -3, 4});
    parameter<int32_t>(dashes, "area", _parameter_world_rectangle2d, {0, 1, 1000, 1001});
    parameter<int16_t>(dashes, "objt", _parameter_object_identifier, {3});
    parameter<int16_t>(dashes, "modl", _parameter_model_identifier, {4});
    parameter<int16_t>(dashes, "srce", _parameter_sound_source_identifier, {5});
    parameter<int32_t>(dashes, "from", _parameter_world_point3d, {7, -8, 9});
    parameter<int16_t>(dashes, "efct", _parameter_local_projectile_group_identifier, {6});
    parameter<int16_t>(dashes, "anim", _parameter_model_animation_identifier, {7});
    parameter<char>(empty_typed, "text", _parameter_string, {'\0'});
    parameter<char>(empty_typed, "(x, ", _parameter_string, {});
    parameter<int32_t>(unknown, "\x01\x02\x03\x04", _parameter_integer, {1});
    parameter<int32_t>(broken, "numb", _parameter_integer, {2});
    parameter<int16_t>(bare, "link", _parameter_action_identifier, {id(move)});
  }

  map_test_store store;
  scripted_ui_host ui;
  int32_t map_tag = NONE;
};

TEST_F(MapActionText, EveryTypeAndAwkwardNameRoundTrips) {
  build_everything();
  const std::string before = dump();
  const std::string text = map_action_text_export();
  std::vector<std::string> errors;
  ASSERT_TRUE(map_action_text_import(text, &errors)) << (errors.empty() ? "" : errors.front()) << "\n" << text;
  EXPECT_EQ(dump(), before) << text;
  EXPECT_EQ(map_action_text_export(), text);
  // Lines end with LF CR; the template gives headings and the type its display name.
  EXPECT_NE(text.find("\t\"c [d]\" [Move Units]\n\r") == std::string::npos ? text.find("\tc [d] [Move Units]\n\r")
                                                                              : 0,
            std::string::npos);
  EXPECT_NE(text.find("\t\tDestination\n\r"), std::string::npos);
  EXPECT_NE(text.find("\t\t\t0.002, 0.004\n\r"), std::string::npos);
  EXPECT_NE(text.find(std::string(MAP_ACTION_TEXT_SEPARATOR) + "\n\r"), std::string::npos);
  EXPECT_NE(text.find("(numb, integer)"), std::string::npos);
  EXPECT_NE(text.find("(#01020304, integer)"), std::string::npos);
  // 9 and 12 share the name "projectile": the first is 9, so 12 is written as its number.
  EXPECT_NE(text.find("(prgr, projectile)"), std::string::npos);
  EXPECT_NE(text.find("(proj, 12)"), std::string::npos);
  EXPECT_NE(text.find("(fnam, field name)"), std::string::npos);
}

TEST_F(MapActionText, AnUntypedActionWritesItsHeaderAndBracesOnly) {
  action("just a name");
  EXPECT_EQ(map_action_text_export(), "just a name\n\r{\n\r}\n\r\n\r");
}

TEST_F(MapActionText, AnEndBraceAfterAHeaderIsRefusedAndTheMapIsUnchanged) {
  build_everything();
  const std::string before = dump();
  std::vector<std::string> errors;
  EXPECT_FALSE(map_action_text_import("first\n\r}\n\r", &errors));
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], "Line 2: Unexpected end brace.");
  EXPECT_EQ(dump(), before);
}

TEST_F(MapActionText, EveryKindOfLineEndReadsTheSame) {
  const char* const shapes[] = {"\r\n", "\n\r", "\r", "\n"};
  std::string reference;
  for (const char* end : shapes) {
    for (bool final_end : {true, false}) {
      std::string text = std::string("one [Move Units]") + end + "\tinitially_active" + end + "\ton_execution" + end +
                         "\t1.00, 2.00" + end + "{" + end + "\tDestination" + end + "\t\t1.000, 2.000" + end + "}" +
                         end + end + "two" + end + "{" + end + "}";
      if (final_end) text += end;
      std::vector<std::string> errors;
      ASSERT_TRUE(map_action_text_import(text, &errors)) << errors.front();
      if (reference.empty()) reference = dump();
      EXPECT_EQ(dump(), reference) << "line end " << int(end[0]) << " final " << final_end;
    }
  }
  EXPECT_NE(reference.find("[one] type move flags 1 exp 1 t 30+30"), std::string::npos) << reference;
  // A third line-break character starts an empty line: line numbers count it.
  std::vector<std::string> errors;
  EXPECT_FALSE(map_action_text_import("a\n\r\n}", &errors));
  EXPECT_EQ(errors.at(0), "Line 3: Unexpected end brace.");
}

TEST_F(MapActionText, TheThousandAndTwentyFifthActionStopsTheImport) {
  action("kept");
  const std::string before = dump();
  std::string text;
  for (int i = 0; i < 1025; ++i) text += "action " + std::to_string(i) + "\n{\n}\n";
  std::vector<std::string> errors;
  EXPECT_FALSE(map_action_text_import(text, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Line 3073: Too many map actions: at most 1024 fit in a map.");
  EXPECT_EQ(dump(), before);
  text.resize(text.size() - std::string("action 1024\n{\n}\n").size());
  EXPECT_TRUE(map_action_text_import(text, &errors));
  EXPECT_EQ(map_actions_count(), 1024);
}

TEST_F(MapActionText, ReaderMessagesNameTheirLine) {
  struct refusal {
    const char* text;
    const char* first_error;
  };
  const refusal cases[] = {
      {"a\n{\n", "Line 2: Expected end brace."},
      {"a\n", "Line 1: Expected start brace."},
      {"a [Move Units]\non_trigger\n0, 1\nnot a brace\n}\n", "Line 4: Expected start brace."},
      {"a\n{\nvalue\n}\n", "Line 3: Tried to read element without a parameter."},
      {"a [Move Units]\non_trigger\nsoon\n{\n}\n", "Line 3: Couldn't read trigger time lower bound."},
      {"a [Move Units]\non_trigger\n1.5\n{\n}\n", "Line 3: Couldn't read trigger time upper bound."},
      {"a [Move Units]\non_trigger\nnan, 3\n{\n}\n", "Line 3: Couldn't read trigger time lower bound."},
      {"a\n{\n(, integer)\n}\n", "Line 3: Couldn't read tag string for parameter."},
      {"a\n{\n(numb)\n}\n", "Line 3: Couldn't read element type for parameter."},
      {"a\n{\n(numb, number)\n}\n", "Line 3: Invalid element type for parameter."},
      {"a\n{\n(dest, world_point2d)\n1.0\n}\n", "Line 4: Missing y component of world_point2d."},
      {"a\n{\n(dest, world_point3d)\n,\n}\n", "Line 4: Missing x component of world_point3d."},
      {"a\n{\n(area, world_rectangle2d)\n1 2 3\n}\n",
       "Line 4: Missing y maximum corner component of world_rectangle2d."},
      {"a\n{\n(soun, sound)\nno such sound\n}\n", "Line 4: Couldn't find named sound tag."},
      {"a\n{\n(prgr, projectile)\nno such group\n}\n", "Line 4: Couldn't find named projectile group tag."},
      {"a\n{\n(dist, world_distance)\ninf\n}\n", "Line 4: Couldn't read world distance."},
      {"a\n{\n(numb, integer)\n4294967296\n}\n", "Line 4: Couldn't read integer."},
      {"a\n{\nLinked Actions\nnobody\n}\n", "Line 4: Couldn't resolve named link."},
  };
  for (const refusal& c : cases) {
    std::vector<std::string> errors;
    EXPECT_FALSE(map_action_text_import(c.text, &errors)) << c.text;
    ASSERT_FALSE(errors.empty()) << c.text;
    EXPECT_EQ(errors[0], c.first_error) << c.text;
  }
  EXPECT_EQ(map_actions_count(), 0);
}

TEST_F(MapActionText, LinksResolveToTheFirstActionOfThatName) {
  std::vector<std::string> errors;
  ASSERT_TRUE(map_action_text_import("x\n{\nLinked Actions\n\t\ttwin\n}\ntwin\n{\n}\ntwin\n{\n}\n", &errors));
  const int32_t x = map_action_next(-1);
  int32_t value = 0;
  ASSERT_TRUE(map_action_element_value(x, 1, 0, &value));
  EXPECT_EQ(map_action_find(value), map_action_next(x));
  // Strings are imported; a value at the value indent is a value even when it reads like structure.
  ASSERT_TRUE(map_action_text_import("m [Move Units]\n\ton_trigger\n\t0.00, 0.00\n{\n\t{\n\t\t}\n\tfalse\n\t\tfalse\n}\n", &errors))
      << errors.front();
  const int32_t m = map_action_next(-1);
  EXPECT_EQ(map_action_element_text(m, map_action_find_parameter(m, make_tag("note")), 0), "}");
  EXPECT_EQ(map_action_element_text(m, map_action_find_parameter(m, make_tag("fast")), 0), "false");
}

TEST_F(MapActionText, AnImportIsOneStepThatUndoTakesBack) {
  action("before");
  const std::string before = dump();
  std::vector<std::string> errors;
  ASSERT_TRUE(map_action_text_import("after\n{\n}\n", &errors));
  EXPECT_NE(dump(), before);
  EXPECT_STREQ(edit_journal_undo_name(), "Import Map Actions");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(dump(), before);
  ASSERT_TRUE(edit_journal_redo());
  EXPECT_EQ(map_action_name(map_action_next(-1)), "after");
}

TEST_F(MapActionText, TemplatesGiveHeadingsRequirementsAndTheirMessages) {
  const map_action_template* move = map_action_template_find(make_tag("move"));
  ASSERT_NE(move, nullptr);
  EXPECT_EQ(move->display_name, "Move Units");
  EXPECT_EQ(move->expiration_mode, 1);
  EXPECT_EQ(move->lines.at(1).heading, "Destination");
  EXPECT_EQ(move->lines.at(1).comment, "Where to.");
  EXPECT_TRUE(map_action_parameter_is_required(make_tag("move"), make_tag("dest"), _parameter_world_point2d));
  EXPECT_EQ(map_action_parameter_description(make_tag("move"), make_tag("link"), _parameter_action_identifier),
            "Started too.");
  EXPECT_EQ(map_action_parameter_description(make_tag("move"), make_tag("what"), _parameter_integer),
            "No information about this parameter.");
  EXPECT_EQ(map_action_parameter_description(make_tag("nope"), make_tag("what"), _parameter_integer),
            "Template for this action not found.");
  const auto& messages = map_action_template_messages();
  auto has = [&](const std::string& text) { return std::find(messages.begin(), messages.end(), text) != messages.end(); };
  EXPECT_TRUE(has("Got unknown deactivation keyword 'sometimes'"));
  EXPECT_TRUE(has("Parameter required 'maybe' not found in keyword list"));
  const map_action_template* broken = map_action_template_find(make_tag("badt"));
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->lines.at(1).heading, "No name or comment field");
  EXPECT_EQ(map_action_template_choices().front(), "NONE");
  std::string message;
  EXPECT_EQ(map_action_template_needed(make_tag("nope"), &message), nullptr);
  EXPECT_EQ(message, "Couldn't find the template tag for 'nope'");
  // Adding the required parameters gives the action each one it lacks, once.
  const int32_t slot = action("go", make_tag("move"));
  EXPECT_EQ(map_action_operation_add_required_parameters(slot), 2);
  EXPECT_EQ(map_action_operation_add_required_parameters(slot), 0);
  EXPECT_NE(map_action_find_parameter(slot, make_tag("subj"), _parameter_monster_identifier), -1);
}

TEST_F(MapActionText, ExportWritesTheWholeFileOrReportsAndLeavesTheOldOne) {
  action("one");
  const std::string path = store.folder().path() + "/Map Actions.txt";
  { std::ofstream(path) << "old contents"; }
  EXPECT_FALSE(map_action_text_export_file(store.folder().path() + "/missing folder/out.txt"));
  EXPECT_NE(store.log().find("couldn't write the map actions"), std::string::npos);
  ui.save_files.push_back(path);
  ASSERT_TRUE(map_action_text_export_command());
  EXPECT_EQ(ui.save_requests.at(0).title, "Export map actions as:");
  EXPECT_EQ(ui.save_requests.at(0).suggested, "Map Actions.txt");
  std::string text;
  ASSERT_TRUE(map_action_text_read_file(path, &text));
  EXPECT_EQ(text, "one\n\r{\n\r}\n\r\n\r");
  // A broken file imported through the command: one box with the first errors, nothing changed.
  { std::ofstream(path, std::ios::binary) << "x\n}\n"; }
  ui.open_files.push_back(path);
  EXPECT_FALSE(map_action_text_import_command());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].title, "Error");
  EXPECT_EQ(ui.boxes[0].text, "Line 2: Unexpected end brace.\nThe map actions are unchanged.");
  EXPECT_EQ(map_action_name(map_action_next(-1)), "one");
}

TEST_F(MapActionText, OperationsAreStepsAndUndoPutsLinksBack) {
  const int32_t a = map_action_operation_new(-1);
  const int32_t b = map_action_operation_new(-1);
  ASSERT_TRUE(map_action_operation_set_name(b, "target"));
  const int32_t link = map_action_operation_add_parameter(a, make_tag("link"), _parameter_action_identifier);
  ASSERT_NE(link, -1);
  ASSERT_TRUE(map_action_operation_append_elements(a, link, 1, {}));
  // The choices of a link: "<none>", "-", then every action as the list shows it.
  std::vector<std::string> rows;
  int32_t selected = -1;
  ASSERT_TRUE(map_action_choice_list(a, link, 0, &rows, &selected));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3], "  target");
  EXPECT_EQ(selected, 2);  // a new link element names its own action
  ASSERT_TRUE(map_action_operation_choose(a, link, 0, 3));
  EXPECT_EQ(map_action_element_text(a, link, 0), "target");
  const std::string before = dump();
  const int32_t doomed[] = {b};
  ASSERT_TRUE(map_action_operation_delete(doomed, true));
  EXPECT_EQ(map_action_element_text(a, link, 0), "<deleted action>");
  EXPECT_STREQ(edit_journal_undo_name(), "Delete Map Actions");
  ASSERT_TRUE(edit_journal_undo());
  EXPECT_EQ(dump(), before);
  EXPECT_EQ(map_action_element_text(a, link, 0), "target");
  // A refused change records nothing.
  EXPECT_FALSE(map_action_operation_element_from_text(a, link, 0, "text"));
  EXPECT_STREQ(edit_journal_redo_name(), "Delete Map Actions");  // a recorded step would have ended the redo
  // Tag choices list the group's tags; choosing row 0 stores none.
  const int32_t sound = map_action_operation_add_parameter(a, make_tag("soun"), _parameter_sound);
  ASSERT_TRUE(map_action_operation_append_elements(a, sound, 1, {}));
  ASSERT_TRUE(map_action_choice_list(a, sound, 0, &rows, &selected));
  EXPECT_EQ(rows, (std::vector<std::string>{"<none>", "-", "river"}));
  EXPECT_EQ(selected, 0);
  ASSERT_TRUE(map_action_operation_choose(a, sound, 0, 2));
  EXPECT_EQ(map_action_element_text(a, sound, 0), "river");
  EXPECT_FALSE(map_action_operation_choose(a, sound, 0, 3));
}

TEST_F(MapActionText, ShiftingTheMeshMovesTheActionsPointsAsOneStep) {
  const int32_t slot = action("points");
  parameter<int32_t>(slot, "dest", _parameter_world_point2d, {1000, 2000});
  parameter<int32_t>(slot, "from", _parameter_world_point3d, {10, 20, 30});
  edit_journal_clear();
  ASSERT_TRUE(mesh_shift(2, -1));
  int32_t v[3] = {};
  for (int c = 0; c < 2; ++c) map_action_element_value(slot, 1, 0, &v[c], c);
  EXPECT_EQ(v[0], 1000 + 2 * 512);
  EXPECT_EQ(v[1], 2000 - 512);
  for (int c = 0; c < 3; ++c) map_action_element_value(slot, 2, 0, &v[c], c);
  EXPECT_EQ(v[0], 10 + 1024);
  EXPECT_EQ(v[1], 20 - 512);
  EXPECT_EQ(v[2], 30);
  ASSERT_TRUE(edit_journal_undo());
  map_action_element_value(slot, 1, 0, &v[0], 0);
  EXPECT_EQ(v[0], 1000);
}

TEST_F(MapActionText, MeshLimitsCountTheActionsAndTheirParameterBytes) {
  const int32_t a = map_action_operation_new(-1), b = map_action_operation_new(-1);
  ASSERT_NE(b, -1);
  const std::string text = mesh_limits_text();
  EXPECT_NE(text.find("map actions: 2 / 1024\n"), std::string::npos) << text;
  EXPECT_NE(text.find("MA params size: 40 / 98304\n"), std::string::npos) << text;
  // Deleting from the window compacts: the second action takes the first slot, keeping its identifier.
  const int16_t kept = map_action_get(b)->identifier;
  const int32_t slots[] = {a};
  ASSERT_TRUE(map_action_operation_delete(slots, true));
  EXPECT_EQ(map_action_get(0)->identifier, kept);
  EXPECT_NE(mesh_limits_text().find("map actions: 1 / 1024\n"), std::string::npos);
}

}  // namespace
