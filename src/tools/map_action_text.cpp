#include "tools/map_action_text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cseries/error_manager.h"
#include "map/map_action_templates.h"
#include "map/map_actions_edit.h"
#include "map/mesh.h"
#include "platform/posix_files.h"
#include "platform/ui_host.h"
#include "tag_files/tag_files.h"
#include "tools/edit_journal.h"

namespace {

constexpr tag NAME_TAG = make_tag("name");
constexpr const char UNNAMED[] = "<unnamed action>";
constexpr const char DELETED[] = "<deleted action>";
constexpr const char* const FLAG_WORDS[4] = {"activates_only_once", "initially_active", "no_initial_delay",
                                             "only_initial_delay"};
constexpr uint32_t FLAG_BITS[4] = {_map_action_activates_only_once, _map_action_initially_active,
                                   _map_action_no_initial_delay, _map_action_only_initial_delay};

// ---- shared text helpers ----

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Texts that a line can't carry as they are (leading blanks are dropped by the reader, line
// breaks end the line) go in double quotes with backslash escapes.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

// A quoted text at the start of line: the text and the rest after the closing quote.
bool unquote(std::string_view line, std::string* text, std::string_view* rest) {
  if (line.empty() || line.front() != '"') return false;
  std::string out;
  for (size_t i = 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *text = out;
      *rest = line.substr(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < line.size()) {
      const char e = line[++i];
      out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
      continue;
    }
    out += c;
  }
  return false;
}

bool text_needs_quotes(const std::string& text) {
  if (text.empty() || is_blank(text.front()) || is_blank(text.back()) || text.front() == '"') return true;
  return text.find_first_of("\r\n") != std::string::npos || text.find('\0') != std::string::npos;
}

// Splits at commas and blanks.
std::vector<std::string_view> tokens_of(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ',' || is_blank(text[at]))) ++at;
    size_t end = at;
    while (end < text.size() && text[end] != ',' && !is_blank(text[end])) ++end;
    if (end > at) tokens.push_back(text.substr(at, end - at));
    at = end;
  }
  return tokens;
}

std::string hex_tag(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "#%08X", value);
  return text;
}

bool parse_hex_tag(std::string_view text, uint32_t* value) {
  if (text.size() != 9 || text[0] != '#') return false;
  uint32_t v = 0;
  for (size_t i = 1; i < 9; ++i) {
    const char c = text[i];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    v = (v << 4) | uint32_t(digit);
  }
  *value = v;
  return true;
}

// Four characters that read back as themselves: printable, without the heading's separators.
bool tag_is_plain(tag value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char((value >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E || c == ',' || c == '(' || c == ')' || c == '#' || c == '[' || c == ']') return false;
  }
  return true;
}

std::string raw_tag_text(tag value) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[size_t(i)] = char((value >> (24 - 8 * i)) & 0xFF);
  return text;
}

tag raw_tag(std::string_view text) {
  tag value = 0;
  for (char c : text.substr(0, 4)) value = (value << 8) | uint8_t(c);
  return value;
}

bool parse_integer(std::string_view text, int64_t minimum, int64_t maximum, int32_t* value) {
  double number = 0;
  if (!map_action_parse_number(text, &number) || number != std::trunc(number) || number < double(minimum) ||
      number > double(maximum)) {
    return false;
  }
  *value = int32_t(number);
  return true;
}

// The leading integer of "%d (%s)".
bool parse_leading_integer(std::string_view text, int32_t* value) {
  size_t end = 0;
  if (end < text.size() && (text[end] == '-' || text[end] == '+')) ++end;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return parse_integer(text.substr(0, end), INT16_MIN, INT16_MAX, value);
}

// ---- export ----

std::string type_text_of(tag code) {
  const map_action_template* t = map_action_template_find(code);
  if (t != nullptr) {
    // The display name when it reads back to this type.
    for (const map_action_template& other : map_action_templates()) {
      if (other.display_name == t->display_name) {
        if (other.code == code && !t->display_name.empty() && t->display_name.find_first_of("[]") == std::string::npos) {
          return t->display_name;
        }
        break;
      }
    }
  }
  return tag_is_plain(code) ? raw_tag_text(code) : t != nullptr ? t->display_name : raw_tag_text(code);
}

// The type a header's bracket text names: a template's display name, else a four-character code.
tag type_from_text(const std::string& text) {
  for (const map_action_template& t : map_action_templates()) {
    if (t.display_name == text) return t.code;
  }
  return text.size() == 4 ? raw_tag(text) : NONE_TAG;
}

std::string heading_of(tag action_type, tag name, int16_t type) {
  const map_action_template_line* line =
      map_action_template_line_find(map_action_template_find(action_type), name, type);
  if (line == nullptr) {
    line = map_action_template_line_find(map_action_template_find(MAP_ACTION_DEFAULT_TEMPLATE), name, type);
  }
  if (line != nullptr && !line->heading.empty() && !text_needs_quotes(line->heading) && line->heading != "{" &&
      line->heading != "}") {
    const map_action_template_line* back = map_action_template_heading_find(action_type, line->heading);
    if (back != nullptr && back->name == name && back->type == type) return line->heading;
  }
  std::string type_text = std::to_string(type);
  const std::string& keyword = map_action_keyword(MAP_ACTION_KEYWORD_FIRST_TYPE + type);
  if (!keyword.empty() && map_action_keyword_find(keyword) == MAP_ACTION_KEYWORD_FIRST_TYPE + type) type_text = keyword;
  return "(" + (tag_is_plain(name) ? raw_tag_text(name) : hex_tag(name)) + ", " + type_text + ")";
}

std::string tag_value_text(tag group, int32_t value) {
  if (value == -1) return "<none>";
  const int32_t index = tag_file_find(group, tag(value));
  if (index != NONE) {
    const std::string name = tag_file_get_name(index);
    // By name when the name finds this tag again.
    for (int32_t n = 0, count = tag_file_count(group); n < count; ++n) {
      const int32_t other = tag_file_nth(group, n);
      if (other == NONE || name != tag_file_get_name(other)) continue;
      if (tag_file_get_identifier(other) == tag(value) && !text_needs_quotes(name) && name[0] != '#' && name[0] != '<') {
        return name;
      }
      break;
    }
  }
  return hex_tag(uint32_t(value));
}

struct exporter {
  std::string out;
  std::vector<int32_t> slots;  // in export order

  void line(int32_t indent, const std::string& text) {
    out.append(size_t(indent), '\t');
    out += text;
    out += MAP_ACTION_TEXT_LINE_END;
  }

  int32_t position_of(int32_t slot) const {
    for (size_t i = 0; i < slots.size(); ++i) {
      if (slots[i] == slot) return int32_t(i);
    }
    return -1;
  }

  std::string link_text(int32_t value) const {
    const int32_t slot = value == -1 ? -1 : map_action_find(value);
    if (slot == -1) return DELETED;
    const std::string name = map_action_name(slot);
    int32_t first = -1;
    for (int32_t s : slots) {
      if (map_action_name(s) == name) {
        first = s;
        break;
      }
    }
    if (first == slot && !text_needs_quotes(name) && name[0] != '@' && name != DELETED && name != "<none>") return name;
    return "@" + std::to_string(position_of(slot) + 1);
  }

  std::string value_text(int32_t slot, int32_t p, int16_t type, int32_t e) const {
    int32_t v[4] = {};
    for (int32_t c = 0; c < 4; ++c) map_action_element_value(slot, p, e, &v[c], c);
    const map_action_parameter_type_definition* definition = map_action_type_get(type);
    switch (type) {
      case _parameter_flag:
        return v[0] == 0 ? "false" : v[0] == 1 ? "true" : std::to_string(v[0]);
      case _parameter_action_identifier:
        return link_text(v[0]);
      case _parameter_angle:
        return map_action_angle_text(v[0]);
      case _parameter_integer:
        return std::to_string(v[0]);
      case _parameter_world_distance:
        return map_action_distance_text(v[0]);
      case _parameter_field_name: {
        const tag t = tag(v[0]);
        return tag_is_plain(t) && !is_blank(char(t >> 24)) && t != NONE_TAG ? raw_tag_text(t) : hex_tag(t);
      }
      case _parameter_fixed:
        return map_action_fixed_text(v[0]);
      case _parameter_projectile_group:
      case _parameter_string_list:
      case _parameter_sound:
      case _parameter_projectile:
        return tag_value_text(definition->group_tag, v[0]);
      case _parameter_world_point2d:
        return map_action_distance_text(v[0]) + ", " + map_action_distance_text(v[1]);
      case _parameter_world_point3d:
        return map_action_distance_text(v[0]) + ", " + map_action_distance_text(v[1]) + ", " +
               map_action_distance_text(v[2]);
      case _parameter_world_rectangle2d:
        return map_action_distance_text(v[0]) + ", " + map_action_distance_text(v[1]) + ", " +
               map_action_distance_text(v[2]) + ", " + map_action_distance_text(v[3]);
      default: {
        // Marker identifiers: the number and what it names.
        const std::string shown = map_action_element_text(slot, p, e);
        const size_t blank = shown.find(' ');
        std::string name = blank == std::string::npos ? "<unknown type>" : shown.substr(blank + 1);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        return std::to_string(v[0]) + " (" + name + ")";
      }
    }
  }

  void action(int32_t slot) {
    const map_action* a = map_action_get(slot);
    const int32_t indent = std::clamp<int32_t>(a->indent, 0, MAP_ACTION_MAXIMUM_INDENT);
    const int32_t name_parameter = map_action_find_parameter(slot, NAME_TAG, _parameter_string);
    const std::string name = name_parameter == -1 ? std::string(UNNAMED) : map_action_name(slot);
    int32_t other_parameters = 0;
    for (int32_t p = 0; p < a->parameter_count; ++p) {
      const map_action_parameter_header* h = map_action_parameter(slot, p);
      if (h && h->parameter_name != NAME_TAG) ++other_parameters;
    }
    const bool plain_fields = a->expiration_mode == 0 && (a->action_flags & MAP_ACTION_EDITABLE_FLAGS) == 0 &&
                              a->trigger_time_lower == 0 && a->trigger_time_range == 0;
    const bool typed = a->action_type != NONE_TAG;
    if (name_parameter != -1 && name.empty() && !typed && plain_fields && other_parameters == 0 &&
        a->parameter_count == 1) {
      line(indent, MAP_ACTION_TEXT_SEPARATOR);
      line(0, "");
      return;
    }
    // The name as it stands when the reader would take it back unchanged.
    std::string header = name;
    const bool bracketed = !header.empty() && header.back() == ']' && header.find('[') != std::string::npos;
    if ((name_parameter != -1 && (name == UNNAMED || text_needs_quotes(name))) || name.rfind("-----", 0) == 0 ||
        name == "{" || name == "}" || (!typed && bracketed)) {
      header = quoted(name);
    }
    if (typed) header += " [" + type_text_of(a->action_type) + "]";
    line(indent, header);
    if (typed || !plain_fields) {
      std::string flags;
      for (int i = 0; i < 4; ++i) {
        if (a->action_flags & FLAG_BITS[i]) flags += std::string(flags.empty() ? "" : ", ") + FLAG_WORDS[i];
      }
      if (!flags.empty()) line(indent + 1, flags);
      const std::string& keyword = map_action_keyword(MAP_ACTION_KEYWORD_FIRST_EXPIRATION + a->expiration_mode);
      line(indent + 1, !keyword.empty() && map_action_keyword_find(keyword) == MAP_ACTION_KEYWORD_FIRST_EXPIRATION + a->expiration_mode
                           ? keyword
                           : std::to_string(a->expiration_mode));
      line(indent + 1, map_action_seconds_text(a->trigger_time_lower) + ", " +
                           map_action_seconds_text(int64_t(a->trigger_time_lower) + a->trigger_time_range));
    }
    line(indent, "{");
    for (int32_t p = 0; p < a->parameter_count; ++p) {
      const map_action_parameter_header* h = map_action_parameter(slot, p);
      if (h == nullptr) break;
      if (h->parameter_name == NAME_TAG) continue;
      const int16_t type = h->parameter_type;
      line(indent + 1, heading_of(a->action_type, h->parameter_name, type));
      if (type == _parameter_string) {
        if (h->element_count == 0) continue;
        const std::string text = map_action_element_text(slot, p, 0);
        line(indent + 2, text_needs_quotes(text) ? quoted(text) : text);
        continue;
      }
      for (int32_t e = 0; e < h->element_count; ++e) line(indent + 2, value_text(slot, p, type, e));
    }
    line(indent, "}");
    line(0, "");
  }
};

// ---- reader ----

struct reader {
  map_action_text_document* document;
  std::vector<std::string>* errors;
  int32_t state = 0;
  int32_t line_number = 0;
  int32_t action_indent = 0;
  int32_t parameter = -1;
  bool stopped = false;

  void error(const char* format) {
    char text[200];
    std::snprintf(text, sizeof text, format, line_number);
    errors->push_back(text);
  }

  map_action_text_action& current() { return document->actions.back(); }

  void header(std::string_view content, int32_t tabs) {
    if (document->actions.size() >= size_t(MAP_ACTION_CAPACITY)) {
      char text[200];
      std::snprintf(text, sizeof text, "Line %d: Too many map actions: at most %d fit in a map.", line_number,
                    int(MAP_ACTION_CAPACITY));
      errors->push_back(text);
      stopped = true;
      return;
    }
    map_action_text_action a{true, "", int16_t(std::min(tabs, int32_t(MAP_ACTION_MAXIMUM_INDENT))), NONE_TAG, 0, 0, 0, 0, {}};
    action_indent = tabs;
    parameter = -1;
    if (content.rfind("-----", 0) == 0) {
      document->actions.push_back(std::move(a));
      state = 0;
      return;
    }
    std::string name;
    std::string_view rest;
    std::string type_text;
    bool has_type = false;
    if (unquote(content, &name, &rest) && (rest.empty() || (rest.size() >= 3 && rest.substr(0, 2) == " [" && rest.back() == ']'))) {
      if (!rest.empty()) {
        type_text = std::string(rest.substr(2, rest.size() - 3));
        has_type = true;
      }
    } else if (!content.empty() && content.back() == ']' && content.find('[') != std::string_view::npos) {
      const size_t open = content.rfind('[');
      std::string_view before = content.substr(0, open);
      if (!before.empty() && before.back() == ' ') before.remove_suffix(1);
      name = std::string(before);
      type_text = std::string(content.substr(open + 1, content.size() - open - 2));
      has_type = true;
      a.has_name = name != UNNAMED;
    } else {
      name = std::string(content);
      a.has_name = name != UNNAMED;
    }
    a.name = a.has_name ? name : "";
    if (has_type && !type_text.empty()) a.type = type_from_text(type_text);
    document->actions.push_back(std::move(a));
    state = 1;
  }

  bool flags(std::string_view content) {
    bool matched = false;
    for (std::string_view token : tokens_of(content)) {
      for (int i = 0; i < 4; ++i) {
        if (token == FLAG_WORDS[i]) {
          current().flags |= FLAG_BITS[i];
          matched = true;
        }
      }
    }
    return matched;
  }

  bool expiration(std::string_view content) {
    const int32_t position = map_action_keyword_find(std::string(content));
    int32_t mode = position - MAP_ACTION_KEYWORD_FIRST_EXPIRATION;
    if (position < MAP_ACTION_KEYWORD_FIRST_EXPIRATION || mode > MAP_ACTION_MAXIMUM_EXPIRATION_MODE) {
      if (!parse_integer(content, 0, MAP_ACTION_MAXIMUM_EXPIRATION_MODE, &mode) || content.find_first_of(".,") != std::string_view::npos) {
        return false;
      }
    }
    current().expiration_mode = int16_t(mode);
    return true;
  }

  void trigger(std::string_view content) {
    const auto tokens = tokens_of(content);
    int32_t lower = 0, upper = 0;
    const bool have_lower = !tokens.empty() && map_action_ticks_from_text(std::string(tokens[0]).c_str(), &lower);
    if (!have_lower) error("Line %d: Couldn't read trigger time lower bound.");
    const bool have_upper = tokens.size() > 1 && map_action_ticks_from_text(std::string(tokens[1]).c_str(), &upper);
    if (!have_upper) error("Line %d: Couldn't read trigger time upper bound.");
    if (!have_lower || !have_upper) return;
    const int64_t range = int64_t(upper) - lower;
    if (range < INT32_MIN || range > INT32_MAX) {
      error("Line %d: Couldn't read trigger time upper bound.");
      return;
    }
    current().trigger_lower = lower;
    current().trigger_range = int32_t(range);
  }

  void add_parameter(tag name, int16_t type) {
    current().parameters.push_back({name, type, 0, {}});
    parameter = int32_t(current().parameters.size()) - 1;
  }

  // A heading: true when the line was one (errors included).
  bool heading(std::string_view content) {
    if (const map_action_template_line* line = map_action_template_heading_find(current().type, std::string(content))) {
      if (line->type >= 0) {
        add_parameter(line->name, line->type);
        return true;
      }
    }
    if (content.size() < 2 || content.front() != '(' || content.back() != ')') return false;
    const std::string_view inner = content.substr(1, content.size() - 2);
    std::string_view tag_text, type_text;
    const size_t comma = inner.find(", ");
    if (comma != std::string_view::npos) {
      tag_text = inner.substr(0, comma);
      type_text = inner.substr(comma + 2);
    } else {
      const auto tokens = tokens_of(inner);
      if (!tokens.empty()) tag_text = tokens[0];
      if (tokens.size() > 1) type_text = tokens[1];
    }
    if (tag_text.empty()) {
      error("Line %d: Couldn't read tag string for parameter.");
      return true;
    }
    if (type_text.empty()) {
      error("Line %d: Couldn't read element type for parameter.");
      return true;
    }
    uint32_t name = 0;
    if (!parse_hex_tag(tag_text, &name)) name = tag_text.size() == 4 ? raw_tag(tag_text) : text_to_tag(std::string(tag_text).c_str());
    int32_t type = -1;
    if (!parse_integer(type_text, 0, NUMBER_OF_MAP_ACTION_PARAMETER_TYPES - 1, &type)) {
      const int32_t position = map_action_keyword_find(std::string(type_text));
      type = position - MAP_ACTION_KEYWORD_FIRST_TYPE;
      if (position < MAP_ACTION_KEYWORD_FIRST_TYPE || type >= NUMBER_OF_MAP_ACTION_PARAMETER_TYPES) {
        error("Line %d: Invalid element type for parameter.");
        parameter = -1;
        return true;
      }
    }
    add_parameter(tag(name), int16_t(type));
    return true;
  }

  template <class T>
  void append(map_action_text_parameter& p, T value) {
    const auto* bytes = reinterpret_cast<const std::byte*>(&value);
    p.elements.insert(p.elements.end(), bytes, bytes + sizeof value);
  }

  // Numbers of a point or rectangle; one message per missing component.
  bool components(std::string_view content, int count, const char* const* messages, int32_t* out) {
    const auto tokens = tokens_of(content);
    bool complete = true;
    for (int i = 0; i < count; ++i) {
      if (size_t(i) >= tokens.size() || !map_action_distance_from_text(tokens[size_t(i)], &out[i])) {
        error(messages[i]);
        complete = false;
      }
    }
    return complete;
  }

  void value(std::string_view content) {
    if (parameter < 0) {
      error("Line %d: Tried to read element without a parameter.");
      return;
    }
    map_action_text_parameter& p = current().parameters[size_t(parameter)];
    const map_action_parameter_type_definition* definition = map_action_type_get(p.type);
    int32_t v = 0;
    switch (p.type) {
      case _parameter_flag:
        if (content == "true") {
          v = 1;
        } else if (content == "false") {
          v = 0;
        } else if (!parse_integer(content, 0, 255, &v)) {
          // The model's text setter goes by the first character.
          if (content[0] == '1' || content[0] == 'T' || content[0] == 't') {
            v = 1;
          } else if (content[0] == '0' || content[0] == 'F' || content[0] == 'f') {
            v = 0;
          } else {
            error("Line %d: Couldn't read flag value.");
            return;
          }
        }
        append(p, uint8_t(v));
        break;
      case _parameter_string: {
        if (p.count > 0) {
          error("Line %d: A string parameter holds only one text.");
          return;
        }
        std::string text;
        std::string_view rest;
        if (!(unquote(content, &text, &rest) && rest.empty())) text = std::string(content);
        if (text.size() + 1 > size_t(INT16_MAX)) {
          error("Line %d: The text is too long.");
          return;
        }
        const auto* bytes = reinterpret_cast<const std::byte*>(text.c_str());
        p.elements.assign(bytes, bytes + text.size() + 1);
        p.count = int32_t(text.size() + 1);
        return;
      }
      case _parameter_action_identifier: {
        if (content == DELETED || content == "<none>") {
          append(p, int16_t(-1));
          break;
        }
        if (document->links.size() >= size_t(MAP_ACTION_TEXT_MAXIMUM_LINK_REQUESTS)) {
          error("Line %d: Exceeded maximum number of link requests.");
          return;
        }
        map_action_text_link link{int32_t(document->actions.size()) - 1, parameter, p.count, line_number, -1, ""};
        int32_t position = 0;
        if (content.size() > 1 && content[0] == '@' && parse_integer(content.substr(1), 1, MAP_ACTION_CAPACITY, &position)) {
          link.position = position - 1;
        } else {
          link.name = std::string(content);
        }
        document->links.push_back(std::move(link));
        append(p, int16_t(-1));
        break;
      }
      case _parameter_angle:
        if (!map_action_angle_from_text(content, &v)) {
          error("Line %d: Couldn't read angle.");
          return;
        }
        append(p, int16_t(v));
        break;
      case _parameter_integer:
        if (!parse_integer(content, INT32_MIN, INT32_MAX, &v)) {
          error("Line %d: Couldn't read integer.");
          return;
        }
        append(p, v);
        break;
      case _parameter_world_distance:
        if (!map_action_distance_from_text(content, &v)) {
          error("Line %d: Couldn't read world distance.");
          return;
        }
        append(p, v);
        break;
      case _parameter_fixed:
        if (!map_action_fixed_from_text(content, &v)) {
          error("Line %d: Couldn't read fixed value.");
          return;
        }
        append(p, v);
        break;
      case _parameter_field_name: {
        uint32_t t = 0;
        if (!parse_hex_tag(content, &t)) t = content.size() == 4 ? raw_tag(content) : text_to_tag(std::string(content).c_str());
        append(p, int32_t(t));
        break;
      }
      case _parameter_projectile_group:
      case _parameter_string_list:
      case _parameter_sound:
      case _parameter_projectile: {
        uint32_t t = 0;
        if (content == "<none>") {
          t = NONE_TAG;
        } else if (!parse_hex_tag(content, &t)) {
          int32_t found = NONE;
          for (int32_t n = 0, count = tag_file_count(definition->group_tag); n < count && found == NONE; ++n) {
            const int32_t index = tag_file_nth(definition->group_tag, n);
            if (index != NONE && content == tag_file_get_name(index)) found = index;
          }
          if (found == NONE) {
            static const char* const messages[] = {"Line %d: Couldn't find named projectile group tag.",
                                                   "Line %d: Couldn't find named string list tag.",
                                                   "Line %d: Couldn't find named sound tag.",
                                                   "Line %d: Couldn't find named projectile tag."};
            error(messages[p.type - _parameter_projectile_group]);
            return;
          }
          t = tag_file_get_identifier(found);
        }
        append(p, int32_t(t));
        break;
      }
      case _parameter_world_point2d: {
        static const char* const messages[] = {"Line %d: Missing x component of world_point2d.",
                                               "Line %d: Missing y component of world_point2d."};
        int32_t c[2] = {};
        if (!components(content, 2, messages, c)) return;
        append(p, c[0]);
        append(p, c[1]);
        break;
      }
      case _parameter_world_point3d: {
        static const char* const messages[] = {"Line %d: Missing x component of world_point3d.",
                                               "Line %d: Missing y component of world_point3d.",
                                               "Line %d: Missing z component of world_point3d."};
        int32_t c[3] = {};
        if (!components(content, 3, messages, c)) return;
        for (int32_t x : c) append(p, x);
        break;
      }
      case _parameter_world_rectangle2d: {
        static const char* const messages[] = {
            "Line %d: Missing x minimum corner component of world_rectangle2d.",
            "Line %d: Missing y minimum corner component of world_rectangle2d.",
            "Line %d: Missing x maximum corner component of world_rectangle2d.",
            "Line %d: Missing y maximum corner component of world_rectangle2d."};
        int32_t c[4] = {};
        if (!components(content, 4, messages, c)) return;
        for (int32_t x : c) append(p, x);
        break;
      }
      default:
        if (!parse_leading_integer(content, &v)) {
          error("Line %d: Couldn't read identifier.");
          return;
        }
        append(p, int16_t(v));
        break;
    }
    if (p.count == INT16_MAX) {
      error("Line %d: Too many values for one parameter.");
      p.elements.resize(p.elements.size() - size_t(definition->element_size));
      return;
    }
    ++p.count;
  }

  void read_line(std::string_view raw) {
    int32_t tabs = 0;
    while (size_t(tabs) < raw.size() && raw[size_t(tabs)] == '\t') ++tabs;
    std::string_view content = raw;
    while (!content.empty() && is_blank(content.front())) content.remove_prefix(1);
    if (content.empty()) return;
    const bool in_block = state == 5 || state == 6;
    // A line at the value indent is always a value, whatever it says.
    if (in_block && tabs >= action_indent + 2) {
      value(content);
      state = 5;
      return;
    }
    if (content == "}") {
      if (!in_block) error("Line %d: Unexpected end brace.");
      state = 0;
      return;
    }
    for (;;) {
      switch (state) {
        case 0:
          header(content, tabs);
          return;
        case 1:
          state = 2;
          if (flags(content)) return;
          continue;
        case 2:
          if (content == "{") {
            state = 4;
            continue;
          }
          state = 3;
          if (expiration(content)) return;
          continue;
        case 3:
          if (content == "{") {
            state = 4;
            continue;
          }
          trigger(content);
          state = 4;
          return;
        case 4:
          if (content != "{") error("Line %d: Expected start brace.");
          state = 5;
          return;
        case 5:
          if (heading(content)) return;
          state = 6;
          continue;
        default:
          value(content);
          state = 5;
          return;
      }
    }
  }
};

bool resolve_links(map_action_text_document* document, std::vector<std::string>* errors) {
  bool resolved = true;
  for (map_action_text_link& link : document->links) {
    if (link.position < 0) {
      for (size_t i = 0; i < document->actions.size(); ++i) {
        const map_action_text_action& a = document->actions[i];
        if ((a.has_name ? a.name : std::string(UNNAMED)) == link.name) {
          link.position = int32_t(i);
          break;
        }
      }
    }
    if (link.position < 0 || link.position >= int32_t(document->actions.size())) {
      char text[200];
      std::snprintf(text, sizeof text, "Line %d: Couldn't resolve named link.", link.line);
      errors->push_back(text);
      link.position = -1;
      resolved = false;
    }
  }
  return resolved;
}

}  // namespace

std::string map_action_text_export() {
  exporter e;
  for (int32_t slot = map_action_next(-1); slot != -1; slot = map_action_next(slot)) e.slots.push_back(slot);
  e.out.reserve(32768);
  for (int32_t slot : e.slots) e.action(slot);
  return e.out;
}

bool map_action_text_parse(std::string_view text, map_action_text_document* document, std::vector<std::string>* errors) {
  *document = {};
  const size_t first_error = errors->size();
  reader r{document, errors};
  size_t at = 0;
  while (at < text.size() && !r.stopped) {
    size_t end = at;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r' && text[end] != '\0') ++end;
    ++r.line_number;
    if (end < text.size() && text[end] == '\0') {
      r.error("Line %d: Unexpected zero byte.");
      break;
    }
    r.read_line(text.substr(at, end - at));
    // One or two line-break characters end a line.
    at = end;
    if (at < text.size()) ++at;
    if (at < text.size() && (text[at] == '\n' || text[at] == '\r')) ++at;
  }
  if (!r.stopped && r.state >= 1 && r.state <= 4) r.error("Line %d: Expected start brace.");
  if (!r.stopped && (r.state == 5 || r.state == 6)) r.error("Line %d: Expected end brace.");
  resolve_links(document, errors);
  // The whole set must fit the parameter buffer and each block its 16-bit size.
  int64_t total = 0;
  for (const map_action_text_action& a : document->actions) {
    int64_t block = a.has_name ? map_action_parameter_size(_parameter_string, int32_t(a.name.size() + 1)) : 0;
    for (const map_action_text_parameter& p : a.parameters) block += map_action_parameter_size(p.type, p.count);
    if (block > INT16_MAX) {
      errors->push_back("An action's parameters need " + std::to_string(block) + " bytes; at most " +
                        std::to_string(INT16_MAX) + " fit in one action.");
    }
    total += block;
  }
  if (total > MAP_ACTION_BUFFER_SIZE) {
    errors->push_back("The map actions need " + std::to_string(total) + " bytes of parameters; at most " +
                      std::to_string(MAP_ACTION_BUFFER_SIZE) + " fit.");
  }
  return errors->size() == first_error;
}

bool map_action_text_apply(const map_action_text_document& document) {
  journal_step step("Import Map Actions");
  if (!step.is_open() || !map_actions_are_valid()) return false;
  edit_journal_note_section(_mesh_section_map_actions);
  map_actions_clear();
  std::vector<int32_t> slots;
  for (const map_action_text_action& a : document.actions) {
    const int32_t slot = map_action_new_empty();
    if (slot == -1) return false;
    slots.push_back(slot);
    if (!map_action_set_record_fields(slot, a.expiration_mode, a.flags, a.type, a.trigger_lower, a.trigger_range) ||
        !map_action_set_indent(slot, a.indent) || (a.has_name && !map_action_set_name(slot, a.name.c_str()))) {
      return false;
    }
    for (const map_action_text_parameter& p : a.parameters) {
      const int32_t added = map_action_add_parameter(slot, p.name, p.type);
      if (added < 0 || !map_action_set_elements(slot, added, p.count, p.elements)) return false;
    }
  }
  for (const map_action_text_link& link : document.links) {
    if (link.position < 0 || size_t(link.action) >= slots.size()) continue;
    const int32_t slot = slots[size_t(link.action)];
    // The parameter's number in the model: the name parameter comes first when there is one.
    const int32_t parameter = link.parameter + (document.actions[size_t(link.action)].has_name ? 1 : 0);
    if (!map_action_set_element_value(slot, parameter, link.element, map_action_get(slots[size_t(link.position)])->identifier)) {
      return false;
    }
  }
  return step.commit();
}

bool map_action_text_import(std::string_view text, std::vector<std::string>* errors, bool dry_run) {
  map_action_text_document document;
  if (!map_action_text_parse(text, &document, errors)) return false;
  if (dry_run) return true;
  if (!map_action_text_apply(document)) {
    errors->push_back("The map actions could not be replaced; they are unchanged.");
    return false;
  }
  return true;
}

bool map_action_text_write_file(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".partial-" + std::to_string(::getpid());
  bool busy = false;
  bool written = posix_file_create(temporary);
  if (written) {
    const int fd = posix_file_open(temporary, _posix_open_write, &busy);
    written = fd >= 0 && posix_file_write_exact(fd, text.data(), int64_t(text.size())) && posix_file_sync(fd);
    if (fd >= 0) written = posix_file_close(fd) && written;
    written = written && posix_rename_replace(temporary, path);
  }
  if (!written) {
    const int reason = errno;
    posix_file_remove(temporary);
    POST_ERROR(error_file_write, "couldn't write the map actions to '%s': %s.", path.c_str(), std::strerror(reason));
    return false;
  }
  return true;
}

bool map_action_text_read_file(const std::string& path, std::string* text) {
  bool busy = false;
  const int fd = posix_file_open(path, _posix_open_read, &busy);
  if (fd < 0) {
    POST_ERROR(error_file_open, "couldn't open '%s' to read map actions.", path.c_str());
    return false;
  }
  const int64_t length = posix_file_length(fd);
  bool read = length >= 0 && length <= MAP_ACTION_TEXT_MAXIMUM_FILE_SIZE;
  if (!read) {
    POST_ERROR(error_file_read, "'%s' is not a map actions text of at most %d bytes.", path.c_str(),
               int(MAP_ACTION_TEXT_MAXIMUM_FILE_SIZE));
  } else {
    text->assign(size_t(length), '\0');
    read = posix_file_read_exact(fd, text->data(), length);
    if (!read) POST_ERROR(error_file_read, "couldn't read map actions from '%s'.", path.c_str());
  }
  posix_file_close(fd);
  return read;
}

bool map_action_text_export_file(const std::string& path) {
  if (!map_actions_are_valid()) return false;
  return map_action_text_write_file(path, map_action_text_export());
}

bool map_action_text_import_file(const std::string& path, std::vector<std::string>* errors, bool dry_run) {
  std::string text;
  if (!map_action_text_read_file(path, &text)) {
    errors->push_back("Couldn't read '" + path + "'.");
    return false;
  }
  return map_action_text_import(text, errors, dry_run);
}

std::string map_action_text_error_box_text(const std::vector<std::string>& errors) {
  std::string text;
  for (size_t i = 0; i < errors.size() && i < size_t(MAP_ACTION_TEXT_ERRORS_SHOWN); ++i) text += errors[i] + "\n";
  if (errors.size() > size_t(MAP_ACTION_TEXT_ERRORS_SHOWN)) {
    text += "... and " + std::to_string(errors.size() - MAP_ACTION_TEXT_ERRORS_SHOWN) + " more.\n";
  }
  text += "The map actions are unchanged.";
  return text;
}

bool map_action_text_export_command() {
  if (!mesh_is_open()) return false;
  std::string path = MAP_ACTION_TEXT_DEFAULT_NAME;
  if (!ui_choose_save_file(MAP_ACTION_TEXT_EXPORT_TITLE, MAP_ACTION_TEXT_FILTER, path)) return false;
  if (!map_action_text_export_file(path)) {
    const std::string text = "Couldn't write the map actions to '" + path + "'.";
    ui_message_box("Error", text.c_str(), ui_icon_error, ui_buttons_ok);
    return false;
  }
  return true;
}

bool map_action_text_import_command() {
  if (!mesh_is_open()) return false;
  std::string path;
  if (!ui_choose_open_file(MAP_ACTION_TEXT_IMPORT_TITLE, MAP_ACTION_TEXT_FILTER, path)) return false;
  std::vector<std::string> errors;
  if (!map_action_text_import_file(path, &errors)) {
    ui_message_box("Error", map_action_text_error_box_text(errors).c_str(), ui_icon_error, ui_buttons_ok);
    return false;
  }
  return true;
}
