// The shared start of every vellgrim-tool command that works on a tag store: enter the root
// folder, start the log and the tag store, and for commands that write, take the single-instance
// lock. Failures are one line on standard error and a non-zero exit code.
#pragma once

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/cli_commands.h"
#include "cseries/files.h"
#include "cseries/error_manager.h"  // VG_PRINTF
#include "cseries/text.h"

enum cli_session_mode {
  _cli_session_read,
  _cli_session_write,  // takes the single-instance lock
  _cli_session_create,  // as write, in a folder that may not hold a store yet
};

// Enters options.root, starts the error manager ("vellgrim-tool"), installs the tool's UI host,
// initialises and opens the tag store (unrestricted, no plugins, latest patch level) and, when
// writing, takes the lock. On failure reports through cli_fail and answers false.
bool cli_session_begin(cli_options& options, cli_session_mode mode);
// Puts a writing command's changes on the disc as one commit when it succeeded (drops them when it
// failed), runs the engine's exit procedures (lock released, store and log closed) and ends the
// process with options.exit_code. Does nothing when no session was begun.
void cli_session_end(cli_options& options);

// Prints "vellgrim-tool: <message>" as one line on standard error and sets a non-zero exit code;
// answers false so that callers can `return cli_fail(...)`.
bool cli_fail(cli_options& options, const char* format, ...) VG_PRINTF(2, 3);

// A GROUP or ID argument: one to four characters taken as they are, blanks filling the places
// left (as text_to_tag_padded fills them), or "0x" and one to eight hexadecimal digits.
bool cli_parse_tag(const std::string& text, tag* value);

// A visible tag of the group named by its tag name or, when no name matches, by its identifier as
// cli_parse_tag reads it; NONE when there is none.
int32_t cli_find_named_tag(tag group, const std::string& text);
// The `mesh` tag NAME names as cli_find_named_tag finds it; NONE after reporting.
int32_t cli_find_map(cli_options& options, const std::string& name);

// The session begun in `mode`, the engine started and the map NAME opened as the editor opens it
// (markers numbered, objects made, recovery offered); false after reporting.
bool cli_open_map(cli_options& options, const std::string& name, cli_session_mode mode = _cli_session_write);
// The session begun for reading and the map NAME loaded without the engine (no world, no lock);
// false after reporting.
bool cli_load_map(cli_options& options, const std::string& name);

// A path given on the command line, made absolute against the folder the tool was started in
// (the session changes into --root afterwards).
std::string cli_absolute_path(const std::string& path);

// A host path (made absolute with cli_absolute_path) as a file specification on volume 0, a file
// or a folder; false when it is too long for a specification or holds a backslash.
bool cli_file_spec_from_path(const std::string& path, bool is_file, file_specification* spec);

// ---- output shared by the command groups ----

// Objects keep their keys in the order they were set.
using cli_json = nlohmann::ordered_json;

// "0x" and eight lower-case hexadecimal digits.
std::string cli_hex_text(uint32_t value);
// Pretty-printed JSON on standard output. Texts from outside files need not be UTF-8: invalid
// bytes are replaced rather than stopping the output.
void cli_print_json(const cli_json& value);
// One object as "key: value" lines, texts without quotes.
void cli_print_fields(const cli_json& object);

// Saves the open map when it was changed; false after reporting "couldn't save ...".
bool cli_save_map(cli_options& options);

// Numbers separated by commas, each read whole (floating ones finite); exactly `count` of them.
template <class T>
bool cli_parse_numbers(const std::string& text, std::vector<T>* values, size_t count) {
  values->clear();
  const char* at = text.c_str();
  const char* end = at + text.size();
  while (at <= end) {
    const char* comma = std::find(at, end, ',');
    T value{};
    if constexpr (std::is_floating_point_v<T>) {
      // strtod takes what from_chars takes and more; the whole field must be read.
      std::string field(at, comma);
      char* stop = nullptr;
      value = T(std::strtod(field.c_str(), &stop));
      if (field.empty() || stop != field.c_str() + field.size() || !std::isfinite(double(value))) return false;
    } else {
      const auto [stop, error] = std::from_chars(at, comma, value);
      if (error != std::errc() || stop != comma) return false;
    }
    values->push_back(value);
    at = comma + 1;
  }
  return values->size() == count;
}

// A painter's point in cells; the tick (thirtieths of a second) only for stroke steps.
struct cli_paint_point {
  double x, y;
  int64_t tick;
};

// "X,Y,T" stroke steps (count 3, T a whole number) or "X,Y" points (count 2); false after reporting
// the first bad one as "bad WHAT '...'".
bool cli_parse_paint_points(cli_options& options, const std::vector<std::string>& texts, size_t count, const char* what,
                            std::vector<cli_paint_point>* points);
