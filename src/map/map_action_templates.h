// The map action templates: for each action type a string-list tag of group `temp` whose identifier
// is the type code (the default template is `defa`), read with the keyword list `in#2`. They give
// each type its display name and default expiration, and each parameter its heading, requirement
// and description. Read once per open map and kept until the next one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/text.h"

inline constexpr tag MAP_ACTION_TEMPLATE_GROUP = 0x74656D70;  // 'temp'
inline constexpr tag MAP_ACTION_DEFAULT_TEMPLATE = 0x64656661;  // 'defa'
inline constexpr tag MAP_ACTION_KEYWORD_LIST = 0x696E2332;  // 'in#2', group 'stli'

enum : int16_t {
  MAP_ACTION_KEYWORD_REQUIRED = 0,
  MAP_ACTION_KEYWORD_OPTIONAL = 1,
  MAP_ACTION_KEYWORD_FIRST_EXPIRATION = 2,
  MAP_ACTION_KEYWORD_FIRST_TYPE = 6,
};

struct map_action_template_line {
  bool required;
  int16_t type;  // -1 when its type word was not a type keyword
  tag name;
  std::string heading;
  std::string comment;
};

struct map_action_template {
  tag code;
  std::string display_name;
  int16_t expiration_mode;  // -1 when the keyword was unknown
  std::vector<map_action_template_line> lines;
};

// Forgets what was read (a map is opened, or the store changed).
void map_action_templates_reset();
// The keyword list's entries ("" past its end).
const std::vector<std::string>& map_action_keywords();
const std::string& map_action_keyword(int32_t position);
// The position of the first entry equal to text, or -1.
int32_t map_action_keyword_find(const std::string& text);
// Every template, in the store's order.
const std::vector<map_action_template>& map_action_templates();
// The template of a type code, none when it has no tag.
const map_action_template* map_action_template_find(tag code);
// As map_action_template_find, for callers that need one: without it, *message gets "Couldn't find
// the template tag for '%s'" with the type's text.
const map_action_template* map_action_template_needed(tag code, std::string* message);
// The messages reading the templates gave ("Got unknown deactivation keyword '%s'", ...).
const std::vector<std::string>& map_action_template_messages();

// Parses a template's strings; messages are appended.
map_action_template map_action_template_parse(tag code, const std::vector<std::string>& strings,
                                              std::vector<std::string>* messages);

// The first line of a template matching (name, type), none when there is none.
const map_action_template_line* map_action_template_line_find(const map_action_template* t, tag name, int16_t type);
// The first line of the action's template, then of `defa`, whose heading equals text.
const map_action_template_line* map_action_template_heading_find(tag action_type, const std::string& heading);

// The description of (action type, name, type): "Template for this action not found." with no
// template, "No information about this parameter." with no line; else the comment. Looks in
// `defa` when the action's template has no line.
std::string map_action_parameter_description(tag action_type, tag name, int16_t type);
bool map_action_parameter_is_required(tag action_type, tag name, int16_t type);
// "NONE" and every template's display name, sorted by name.
std::vector<std::string> map_action_template_choices();
