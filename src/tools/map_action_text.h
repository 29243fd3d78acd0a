// The map action text format: every action of the open map as tab-indented text (a header line,
// the flags, expiration and trigger lines, then the parameters in braces, each value on a line of
// its own), and the reader that brings such a text back. Numbers are written and read the same in
// every locale. An import reads the whole text into a staging copy first; the map's actions are
// replaced only when it read without an error, as one step of the edit journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cseries/text.h"

enum : int32_t {
  MAP_ACTION_TEXT_MAXIMUM_LINK_REQUESTS = 1536,
  MAP_ACTION_TEXT_MAXIMUM_FILE_SIZE = 16 << 20,
  MAP_ACTION_TEXT_ERRORS_SHOWN = 10,  // the first errors listed in the one box
};

inline constexpr const char MAP_ACTION_TEXT_SEPARATOR[] =
    "-------------------------------------------------------------------";  // 67 hyphens
inline constexpr const char MAP_ACTION_TEXT_LINE_END[] = "\n\r";

// The staging copy an import reads into.
struct map_action_text_parameter {
  tag name;
  int16_t type;
  int32_t count;
  std::vector<std::byte> elements;  // native order
};
struct map_action_text_link {
  int32_t action, parameter, element;
  int32_t line;
  int32_t position;  // the action by its place in the text (from 0), -1 when by name
  std::string name;
};
struct map_action_text_action {
  bool has_name;
  std::string name;
  int16_t indent;
  tag type;
  uint32_t flags;
  int16_t expiration_mode;
  int32_t trigger_lower, trigger_range;
  std::vector<map_action_text_parameter> parameters;
};
struct map_action_text_document {
  std::vector<map_action_text_action> actions;
  std::vector<map_action_text_link> links;  // resolved: position set for each
};

// The open map's actions as text, every line ended by "\n\r".
std::string map_action_text_export();
// Reads a text; false with the messages ("Line %d: ...") when any line could not be read.
bool map_action_text_parse(std::string_view text, map_action_text_document* document,
                           std::vector<std::string>* errors);
// Replaces the open map's actions by the document's (one journal step, "Import Map Actions").
bool map_action_text_apply(const map_action_text_document& document);
// Parse and, without errors and unless dry_run, apply. False with the errors otherwise; the map's
// actions are then unchanged.
bool map_action_text_import(std::string_view text, std::vector<std::string>* errors, bool dry_run = false);

// Files. The export writes the whole text beside the target and renames it over, so a failure
// leaves the old file; failures are reported. The import reads the file whole.
bool map_action_text_write_file(const std::string& path, const std::string& text);
bool map_action_text_read_file(const std::string& path, std::string* text);
bool map_action_text_export_file(const std::string& path);
bool map_action_text_import_file(const std::string& path, std::vector<std::string>* errors, bool dry_run = false);

// The editor's commands, through the UI host: the save dialog "Export map actions as:" with the
// default name "Map Actions.txt", and the open dialog for "Text Files (*.TXT)". The import shows
// its first errors in one box titled "Error".
inline constexpr const char MAP_ACTION_TEXT_EXPORT_TITLE[] = "Export map actions as:";
inline constexpr const char MAP_ACTION_TEXT_DEFAULT_NAME[] = "Map Actions.txt";
inline constexpr const char MAP_ACTION_TEXT_IMPORT_TITLE[] = "Import map actions from:";
inline constexpr const char MAP_ACTION_TEXT_FILTER[] = "Text Files (*.TXT)|*.TXT *.txt";
bool map_action_text_export_command();
bool map_action_text_import_command();
// The box text for a list of errors: the first ones, one a line.
std::string map_action_text_error_box_text(const std::vector<std::string>& errors);
