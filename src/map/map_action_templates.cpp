#include "map/map_action_templates.h"

#include <algorithm>
#include <cstdio>

#include "cseries/error_manager.h"
#include "engine/string_lists.h"
#include "tag_files/tag_files.h"

namespace {

struct template_cache {
  bool loaded = false;
  std::vector<std::string> keywords;
  std::vector<map_action_template> templates;
  std::vector<std::string> messages;
};
template_cache cache;

void load() {
  if (cache.loaded) return;
  cache.loaded = true;
  string_list_read(make_tag("stli"), MAP_ACTION_KEYWORD_LIST, &cache.keywords);
  for (int32_t n = 0, count = tag_file_count(MAP_ACTION_TEMPLATE_GROUP); n < count; ++n) {
    const int32_t index = tag_file_nth(MAP_ACTION_TEMPLATE_GROUP, n);
    if (index == NONE) break;
    std::vector<std::string> strings;
    if (!string_list_read_index(index, &strings)) continue;
    cache.templates.push_back(map_action_template_parse(tag_file_get_identifier(index), strings, &cache.messages));
  }
  for (const std::string& message : cache.messages) log_note(SOURCE_MODULE_NAME, __LINE__, "%s", message.c_str());
}

std::string format_message(const char* format, const std::string& word) {
  char text[300];
  std::snprintf(text, sizeof text, format, word.c_str());
  return text;
}

}  // namespace

void map_action_templates_reset() { cache = template_cache{}; }

const std::vector<std::string>& map_action_keywords() {
  load();
  return cache.keywords;
}

const std::string& map_action_keyword(int32_t position) {
  static const std::string empty;
  const auto& keywords = map_action_keywords();
  return position >= 0 && position < int32_t(keywords.size()) ? keywords[size_t(position)] : empty;
}

int32_t map_action_keyword_find(const std::string& text) {
  const auto& keywords = map_action_keywords();
  for (size_t i = 0; i < keywords.size(); ++i) {
    if (keywords[i] == text) return int32_t(i);
  }
  return -1;
}

const std::vector<map_action_template>& map_action_templates() {
  load();
  return cache.templates;
}

const map_action_template* map_action_template_find(tag code) {
  if (code == NONE_TAG) return nullptr;
  for (const map_action_template& t : map_action_templates()) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

const map_action_template* map_action_template_needed(tag code, std::string* message) {
  const map_action_template* t = map_action_template_find(code);
  if (t == nullptr && message != nullptr) *message = format_message("Couldn't find the template tag for '%s'", tag_to_text(code));
  return t;
}

const std::vector<std::string>& map_action_template_messages() {
  load();
  return cache.messages;
}

map_action_template map_action_template_parse(tag code, const std::vector<std::string>& strings,
                                              std::vector<std::string>* messages) {
  map_action_template t{code, strings.empty() ? std::string() : strings[0], -1, {}};
  if (strings.size() > 1) {
    const int32_t position = map_action_keyword_find(strings[1]);
    if (position >= MAP_ACTION_KEYWORD_FIRST_EXPIRATION && position < MAP_ACTION_KEYWORD_FIRST_TYPE) {
      t.expiration_mode = int16_t(position - MAP_ACTION_KEYWORD_FIRST_EXPIRATION);
    } else {
      messages->push_back(format_message("Got unknown deactivation keyword '%s'", strings[1]));
    }
  }
  for (size_t i = 2; i < strings.size(); ++i) {
    const std::string& line = strings[i];
    if (line.empty()) continue;
    map_action_template_line entry{false, -1, NONE_TAG, "", ""};
    const size_t slash = line.find('/');
    // The three words before the description.
    std::vector<std::string> words;
    {
      const std::string head = line.substr(0, slash);
      size_t at = 0;
      while (at < head.size() && words.size() < 3) {
        while (at < head.size() && (head[at] == ' ' || head[at] == '\t')) ++at;
        size_t end = at;
        while (end < head.size() && head[end] != ' ' && head[end] != '\t') ++end;
        if (end > at) words.push_back(head.substr(at, end - at));
        at = end;
      }
    }
    words.resize(3);
    const int32_t requirement = map_action_keyword_find(words[0]);
    if (requirement == MAP_ACTION_KEYWORD_REQUIRED || requirement == MAP_ACTION_KEYWORD_OPTIONAL) {
      entry.required = requirement == MAP_ACTION_KEYWORD_REQUIRED;
    } else {
      messages->push_back(format_message("Parameter required '%s' not found in keyword list", words[0]));
    }
    const int32_t type = map_action_keyword_find(words[1]);
    if (type >= MAP_ACTION_KEYWORD_FIRST_TYPE && type < MAP_ACTION_KEYWORD_FIRST_TYPE + 21) {
      entry.type = int16_t(type - MAP_ACTION_KEYWORD_FIRST_TYPE);
    } else {
      messages->push_back(format_message("type '%s' not found in keyword list", words[1]));
    }
    entry.name = words[2].empty() ? NONE_TAG : text_to_tag(words[2].substr(0, 4).c_str());
    if (slash == std::string::npos || line.size() - slash < 3) {
      entry.heading = entry.comment = "No name or comment field";
    } else {
      const size_t second = line.find('/', slash + 1);
      if (second == std::string::npos) {
        entry.heading = line.substr(slash + 2);
        entry.comment = "No comment for this parameter";
      } else {
        entry.heading = second > slash + 2 ? line.substr(slash + 2, second - 1 - (slash + 2)) : std::string();
        entry.comment = second + 2 <= line.size() ? line.substr(second + 2) : std::string();
      }
    }
    t.lines.push_back(std::move(entry));
  }
  return t;
}

const map_action_template_line* map_action_template_line_find(const map_action_template* t, tag name, int16_t type) {
  if (t == nullptr) return nullptr;
  for (const map_action_template_line& line : t->lines) {
    if (line.name == name && line.type == type) return &line;
  }
  return nullptr;
}

const map_action_template_line* map_action_template_heading_find(tag action_type, const std::string& heading) {
  for (const map_action_template* t : {map_action_template_find(action_type), map_action_template_find(MAP_ACTION_DEFAULT_TEMPLATE)}) {
    if (t == nullptr) continue;
    for (const map_action_template_line& line : t->lines) {
      if (line.heading == heading) return &line;
    }
  }
  return nullptr;
}

std::string map_action_parameter_description(tag action_type, tag name, int16_t type) {
  const map_action_template* t = map_action_template_find(action_type);
  const map_action_template_line* line = map_action_template_line_find(t, name, type);
  if (line == nullptr) line = map_action_template_line_find(map_action_template_find(MAP_ACTION_DEFAULT_TEMPLATE), name, type);
  if (line != nullptr) return line->comment;
  return t == nullptr ? "Template for this action not found." : "No information about this parameter.";
}

bool map_action_parameter_is_required(tag action_type, tag name, int16_t type) {
  const map_action_template_line* line = map_action_template_line_find(map_action_template_find(action_type), name, type);
  return line != nullptr && line->required;
}

std::vector<std::string> map_action_template_choices() {
  std::vector<std::string> names;
  for (const map_action_template& t : map_action_templates()) names.push_back(t.display_name);
  std::sort(names.begin(), names.end());
  names.insert(names.begin(), "NONE");
  return names;
}
