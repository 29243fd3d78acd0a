#include "cli/cli_session.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/definition_groups.h"
#include "map/mesh.h"
#include "map/mesh_file.h"
#include "render/shapes.h"
#include "session/engine.h"
#include "tools/map_session.h"
#include "cli/cli_progress.h"
#include "platform/ui_host.h"
#include "tag_files/tag_files.h"

namespace {

constexpr const char* kProgramName = "vellgrim-tool";

bool session_begun = false;

// Newlines would break the one-line rule of the tool's standard error.
std::string one_line(const char* text) {
  std::string line = text ? text : "";
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// The folder the tool was started in: file arguments are relative to it, whatever --root says.
const std::filesystem::path start_folder = [] {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::filesystem::path() : folder;
}();

// Nobody can answer a question in a headless tool: every box is printed and gets its default.
ui_answer tool_message_box(void*, const char* title, const char* text, ui_icon, ui_buttons buttons) {
  std::string line = one_line(text);
  if (title && *title)
    std::fprintf(stderr, "%s: %s: %s\n", kProgramName, title, line.c_str());
  else
    std::fprintf(stderr, "%s: %s\n", kProgramName, line.c_str());
  switch (buttons) {
    case ui_buttons_ok: return ui_answer_ok;
    case ui_buttons_yes_no: return ui_answer_no;
    default: return ui_answer_cancel;
  }
}

const ui_host tool_ui_host = {nullptr, tool_message_box, nullptr, nullptr, nullptr, nullptr, cli_progress_begin, cli_progress_step, cli_progress_end};

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool cli_fail(cli_options& options, const char* format, ...) {
  char message[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "%s: %s\n", kProgramName, one_line(message).c_str());
  options.exit_code = 1;
  return false;
}

std::string cli_absolute_path(const std::string& path) {
  const std::filesystem::path given(path);
  if (given.is_absolute() || start_folder.empty()) return given.lexically_normal().string();
  return (start_folder / given).lexically_normal().string();
}

bool cli_file_spec_from_path(const std::string& path, bool is_file, file_specification* spec) {
  file_spec_initialize(spec, 0);
  if (path.empty() || path.size() > MAXIMUM_FILE_PATH_LENGTH || path.find('\\') != std::string::npos) return false;
  std::string stored = path;
  for (char& c : stored)
    if (c == '/') c = '\\';
  std::memcpy(spec->path, stored.c_str(), stored.size() + 1);
  spec->flags = is_file ? _file_specification_is_file : 0;
  return true;
}

bool cli_parse_tag(const std::string& text, tag* value) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() == 2 || text.size() > 10) return false;
    tag result = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      int digit = hex_digit_value(text[i]);
      if (digit < 0) return false;
      result = (result << 4) | tag(digit);
    }
    *value = result;
    return true;
  }
  if (text.empty() || text.size() > 4 || text.find('\0') != std::string::npos) return false;
  // Blanks fill the unused places, as text_to_tag_padded fills them; the characters themselves are
  // kept as typed (no lower-casing, no word rules), so an "id" printed by a listing names its tag.
  const std::string padded = text + std::string(4 - text.size(), ' ');
  *value = (tag(uint8_t(padded[0])) << 24) | (tag(uint8_t(padded[1])) << 16) | (tag(uint8_t(padded[2])) << 8) |
           tag(uint8_t(padded[3]));
  return true;
}

int32_t cli_find_named_tag(tag group, const std::string& text) {
  if (!text.empty() && text.size() <= MAXIMUM_TAG_NAME_LENGTH && text.find('\0') == std::string::npos) {
    tag_file_filter filter = tag_file_filter_any();
    std::memcpy(filter.name, text.c_str(), text.size() + 1);
    filter.group_tag = group;
    int32_t found = NONE;
    if (tag_file_search(filter, &found, 1) > 0) return found;
  }
  tag identifier;
  return cli_parse_tag(text, &identifier) ? tag_file_find(group, identifier) : NONE;
}

int32_t cli_find_map(cli_options& options, const std::string& name) {
  const int32_t tag_index = cli_find_named_tag(MESH_DEFINITION_GROUP_TAG, name);
  if (tag_index != NONE) return tag_index;
  tag identifier;
  if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X') && !cli_parse_tag(name, &identifier)) {
    cli_fail(options, "bad map identifier '%s': give 0x and up to eight hex digits", name.c_str());
  } else {
    cli_fail(options, "no map '%s' in the store", name.c_str());
  }
  return NONE;
}

bool cli_session_begin(cli_options& options, cli_session_mode mode) {
  // A folder that is not a store gets neither a log nor store folders: it is most likely the wrong
  // folder. Only a command that makes a store's first archive may start in an empty one.
  if (mode != _cli_session_create) {
    std::error_code error;
    const std::filesystem::path root(options.root);
    bool is_store = false;
    for (const char* folder : {"tags", "plugins", "local"}) is_store |= std::filesystem::is_directory(root / folder, error);
    if (!is_store) {
      std::string shown = cli_absolute_path(options.root);
      while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
      return cli_fail(options, "no tag store in '%s'", shown.c_str());
    }
  }
  if (::chdir(options.root.c_str()) != 0)
    return cli_fail(options, "can't use the folder '%s': %s", options.root.c_str(), std::strerror(errno));

  // The editor may be running on this store and writing its log: a tool run adds to it.
  error_manager_initialize(kProgramName, _log_start_appended);
  ui_host_install(&tool_ui_host);
  session_begun = true;

  if (!tag_files_initialize())
    return cli_fail(options, "couldn't start the tag store in '%s' (see tarn_log.txt)", options.root.c_str());
  // The lock comes before the store is read, so that what is read is one state of the store: a
  // writer's own, or for a reader one that no writer is in the middle of changing.
  if (mode != _cli_session_read && !tag_files_lock_instance())
    return cli_fail(options, "another program is using the tag store in '%s'; try again when it has ended",
                    options.root.c_str());
  if (mode == _cli_session_read && !tag_files_lock_for_reading())
    return cli_fail(options, "the tag store in '%s' is busy: a stopped change is still being finished; try again",
                    options.root.c_str());
  if (!tag_files_open(false, {}, -1))
    return cli_fail(options, "couldn't open the tag store in '%s' (see tarn_log.txt)", options.root.c_str());
  // A damaged archive contributes nothing: what a reader shows then is not the whole store, so the
  // reason goes to standard error and the run fails (after its output).
  if (handle_error() && mode == _cli_session_read) {
    cli_fail(options, "the tag store in '%s' is damaged and some of its tags are left out: %s", options.root.c_str(),
             error_last_message());
  }
  // Everything one command writes reaches the disc together, or nothing of it does.
  if (mode != _cli_session_read) tag_files_commit_begin();
  return true;
}

void cli_session_end(cli_options& options) {
  if (!session_begun) return;
  if (tag_files_commit_is_open()) {
    if (options.exit_code != 0) {
      tag_files_commit_abandon();
    } else if (!tag_files_commit_end()) {
      cli_fail(options, "couldn't write the changes to the tag store; nothing was changed (see tarn_log.txt)");
    }
  }
  std::fflush(stdout);
  halt_program(options.exit_code);
}

std::string cli_hex_text(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIx32, value);
  return text;
}

void cli_print_json(const cli_json& value) {
  std::string text = value.dump(2, ' ', false, cli_json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void cli_print_fields(const cli_json& object) {
  for (const auto& [key, value] : object.items()) {
    std::string text = value.is_string() ? value.get<std::string>()
                                         : value.dump(-1, ' ', false, cli_json::error_handler_t::replace);
    std::printf("%s: %s\n", key.c_str(), text.c_str());
  }
}

bool cli_open_map(cli_options& options, const std::string& name, cli_session_mode mode) {
  if (!cli_session_begin(options, mode)) return false;
  if (!engine_initialize()) return cli_fail(options, "couldn't start the engine (see tarn_log.txt)");
  const int32_t tag_index = cli_find_map(options, name);
  if (tag_index == NONE) return false;
  if (!map_open(tag_index)) return cli_fail(options, "couldn't open map '%s' (see tarn_log.txt)", name.c_str());
  return true;
}

bool cli_load_map(cli_options& options, const std::string& name) {
  if (!cli_session_begin(options, _cli_session_read)) return false;
  if (!definition_groups_initialize() || !shapes_initialize())
    return cli_fail(options, "couldn't start the definitions (see tarn_log.txt)");
  definition_groups_validate();
  mesh_initialize();
  const int32_t tag_index = cli_find_map(options, name);
  if (tag_index == NONE) return false;
  if (!mesh_load(tag_file_get_identifier(tag_index)))
    return cli_fail(options, "couldn't load map '%s' (see tarn_log.txt)", name.c_str());
  return true;
}

bool cli_save_map(cli_options& options) {
  if (map_is_modified() && !map_save()) return cli_fail(options, "couldn't save '%s' (see tarn_log.txt)", map_name());
  return true;
}

bool cli_parse_paint_points(cli_options& options, const std::vector<std::string>& texts, size_t count, const char* what,
                            std::vector<cli_paint_point>* points) {
  for (const std::string& text : texts) {
    std::vector<double> values;
    if (!cli_parse_numbers(text, &values, count) ||
        (count == 3 && (values[2] != std::trunc(values[2]) || std::fabs(values[2]) > 1e15)))
      return cli_fail(options, "bad %s '%s': give %s", what, text.c_str(),
                      count == 3 ? "X,Y,T (cells, cells, thirtieths of a second)" : "X,Y (cells)");
    points->push_back({values[0], values[1], count == 3 ? int64_t(values[2]) : 0});
  }
  return true;
}
