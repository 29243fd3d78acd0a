#include "engine/window_positions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cseries/error_manager.h"
#include "platform/posix_files.h"

namespace {

struct window_position_keys {
  const char* x_key;
  const char* y_key;
  window_position default_position;
};

constexpr window_position_keys window_keys[NUMBER_OF_POSITIONED_WINDOWS] = {
    {"screenWindowX", "screenWindowY", {0, 0}},
    {"overheadWindowX", "overheadWindowY", {640, 50}},
    {"toolsWindowX", "toolsWindowY", {0, 480}},
    {"mapactionsWindowX", "mapactionsWindowY", {0, 320}},
    {"sceneryWindowX", "sceneryWindowY", {640, 0}},
    {"terrainWindowX", "terrainWindowY", {640, 50}},
};

std::string settings_file_override;

bool window_is_valid(int16_t window) { return window >= 0 && window < NUMBER_OF_POSITIONED_WINDOWS; }

std::string trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Qt writes section and key names with every character outside [A-Za-z0-9_.-] as %XX.
std::string decode_name(const std::string& name) {
  std::string result;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 2 < name.size() && hex_digit(name[i + 1]) >= 0 && hex_digit(name[i + 2]) >= 0) {
      result += static_cast<char>(hex_digit(name[i + 1]) * 16 + hex_digit(name[i + 2]));
      i += 2;
    } else {
      result += name[i];
    }
  }
  return result;
}

std::string encode_name(const char* name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string result;
  for (const char* p = name; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                 c == '-' || c == '.';
    if (plain) {
      result += static_cast<char>(c);
    } else {
      result += '%';
      result += hex[c >> 4];
      result += hex[c & 15];
    }
  }
  return result;
}

// "[name]" gives the decoded name; other lines none.
bool line_section(const std::string& line, std::string* name) {
  std::string text = trim(line);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
  *name = decode_name(text.substr(1, text.size() - 2));
  return true;
}

// "key=value" gives the decoded key and the trimmed value.
bool line_key(const std::string& line, std::string* key, std::string* value) {
  std::string text = trim(line);
  if (text.empty() || text[0] == ';' || text[0] == '#') return false;
  size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  *key = decode_name(trim(text.substr(0, equals)));
  *value = trim(text.substr(equals + 1));
  return true;
}

bool parse_int32(const std::string& text, int32_t* value) {
  std::string digits = text;
  if (digits.size() >= 2 && digits.front() == '"' && digits.back() == '"') digits = digits.substr(1, digits.size() - 2);
  if (digits.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(digits.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

// The file's lines; false when it exists but cannot be read (a missing file is empty).
bool read_lines(const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return !error;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) lines->push_back(line);
  return !in.bad();
}

// Written beside the file, synced, and renamed over it (the folder synced after), so that a
// failed write or a crash never leaves half a file or an empty one.
bool write_profile(const std::string& path, const std::vector<std::string>& lines, const char* what) {
  std::ostringstream text;
  for (const std::string& line : lines) text << line << "\n";
  const std::string contents = text.str();
  std::error_code error;
  std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  std::string temporary = path + ".new";
  bool ok = posix_file_create(temporary);
  if (ok) {
    const int fd = posix_file_open(temporary, _posix_open_write, nullptr);
    ok = fd >= 0 && posix_file_write_exact(fd, contents.data(), int64_t(contents.size())) && posix_file_sync(fd);
    if (fd >= 0) ok = posix_file_close(fd) && ok;
  }
  ok = ok && posix_rename_replace(temporary, path);
  if (!ok) {
    posix_file_remove(temporary);
    POST_ERROR(error_file_write, "couldn't write %s to '%s'", what, path.c_str());
  }
  return ok;
}

int16_t window_of_key(const std::string& key, bool* is_x) {
  for (int16_t window = 0; window < NUMBER_OF_POSITIONED_WINDOWS; ++window) {
    if (key == window_keys[window].x_key) {
      *is_x = true;
      return window;
    }
    if (key == window_keys[window].y_key) {
      *is_x = false;
      return window;
    }
  }
  return -1;
}

}  // namespace

const char* window_position_x_key(int16_t window) { return window_is_valid(window) ? window_keys[window].x_key : ""; }
const char* window_position_y_key(int16_t window) { return window_is_valid(window) ? window_keys[window].y_key : ""; }

window_position window_position_default(int16_t window) {
  return window_is_valid(window) ? window_keys[window].default_position : window_position{0, 0};
}

void window_positions_set_file(const std::string& path) { settings_file_override = path; }

std::string window_positions_file() {
  if (!settings_file_override.empty()) return settings_file_override;
  std::string folder;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home && *home ? home : ".") + "/.config";
  }
  return folder + "/" + WINDOW_POSITIONS_ORGANISATION + "/" + WINDOW_POSITIONS_APPLICATION + ".ini";
}

bool window_positions_read(window_positions* positions) {
  for (int16_t window = 0; window < NUMBER_OF_POSITIONED_WINDOWS; ++window)
    positions->windows[window] = window_keys[window].default_position;

  std::vector<std::string> lines;
  bool read = read_lines(window_positions_file(), &lines);
  bool in_section = false;
  for (const std::string& line : lines) {
    std::string name, key, value;
    if (line_section(line, &name)) {
      in_section = name == WINDOW_POSITIONS_SECTION;
      continue;
    }
    if (!in_section || !line_key(line, &key, &value)) continue;
    bool is_x = false;
    int16_t window = window_of_key(key, &is_x);
    int32_t number = 0;
    if (window < 0 || !parse_int32(value, &number)) continue;
    (is_x ? positions->windows[window].x : positions->windows[window].y) = number;
  }

  // A window saved on a larger screen must not come back out of sight.
  for (window_position& position : positions->windows) {
    if (position.x < 0 || position.x > WINDOW_POSITION_MAXIMUM_X) position.x = WINDOW_POSITION_REPLACEMENT_X;
    if (position.y < 0 || position.y > WINDOW_POSITION_MAXIMUM_Y) position.y = WINDOW_POSITION_REPLACEMENT_Y;
  }
  return read;
}

bool window_positions_write(const window_positions& positions) {
  std::string path = window_positions_file();
  std::vector<std::string> lines;
  // An unreadable file is replaced rather than left holding stale positions.
  if (!read_lines(path, &lines)) lines.clear();

  bool written[NUMBER_OF_POSITIONED_WINDOWS][2] = {};
  auto key_line = [&](int16_t window, bool is_x) {
    const window_position& position = positions.windows[window];
    return std::string(is_x ? window_keys[window].x_key : window_keys[window].y_key) + "=" +
           std::to_string(is_x ? position.x : position.y);
  };
  auto missing_lines = [&]() {
    std::vector<std::string> missing;
    for (int16_t window = 0; window < NUMBER_OF_POSITIONED_WINDOWS; ++window)
      for (int axis = 0; axis < 2; ++axis)
        if (!written[window][axis]) {
          missing.push_back(key_line(window, axis == 0));
          written[window][axis] = true;
        }
    return missing;
  };

  std::vector<std::string> output;
  bool in_section = false, section_found = false;
  for (const std::string& line : lines) {
    std::string name, key, value;
    if (line_section(line, &name)) {
      if (in_section) {
        // Close our section before the next one starts, keeping a blank separator last.
        bool blank = !output.empty() && trim(output.back()).empty();
        if (blank) output.pop_back();
        for (const std::string& missing : missing_lines()) output.push_back(missing);
        if (blank) output.push_back("");
      }
      in_section = name == WINDOW_POSITIONS_SECTION;
      section_found = section_found || in_section;
      output.push_back(line);
      continue;
    }
    bool is_x = false;
    int16_t window = in_section && line_key(line, &key, &value) ? window_of_key(key, &is_x) : -1;
    if (window < 0) {
      output.push_back(line);
    } else if (!written[window][is_x ? 0 : 1]) {
      output.push_back(key_line(window, is_x));
      written[window][is_x ? 0 : 1] = true;
    }  // a repeated key is dropped
  }
  if (in_section) {
    for (const std::string& missing : missing_lines()) output.push_back(missing);
  }
  if (!section_found) {
    if (!output.empty() && !trim(output.back()).empty()) output.push_back("");
    output.push_back("[" + encode_name(WINDOW_POSITIONS_SECTION) + "]");
    for (const std::string& missing : missing_lines()) output.push_back(missing);
  }

  return write_profile(path, output, "window positions");
}

bool profile_read_text(const char* section, const char* key, std::string* value) {
  std::vector<std::string> lines;
  if (!read_lines(window_positions_file(), &lines)) return false;
  bool in_section = false;
  for (const std::string& line : lines) {
    std::string name, line_name, text;
    if (line_section(line, &name)) {
      in_section = name == section;
    } else if (in_section && line_key(line, &line_name, &text) && line_name == key) {
      *value = text;
      return true;
    }
  }
  return false;
}

bool profile_write_text(const char* section, const char* key, const std::string& value) {
  // One line: a value that would end it or start another is not stored.
  if (value.find_first_of("\r\n") != std::string::npos) return false;
  const std::string path = window_positions_file();
  std::vector<std::string> lines;
  if (!read_lines(path, &lines)) lines.clear();
  const std::string new_line = encode_name(key) + "=" + value;
  std::vector<std::string> output;
  bool in_section = false, written = false;
  for (const std::string& line : lines) {
    std::string name, line_name, text;
    if (line_section(line, &name)) {
      if (in_section && !written) {
        output.push_back(new_line);
        written = true;
      }
      in_section = name == section;
    } else if (in_section && line_key(line, &line_name, &text) && line_name == key) {
      if (!written) output.push_back(new_line);
      written = true;
      continue;
    }
    output.push_back(line);
  }
  if (!written) {
    if (!in_section) {
      if (!output.empty() && !trim(output.back()).empty()) output.push_back("");
      output.push_back("[" + encode_name(section) + "]");
    }
    output.push_back(new_line);
  }
  return write_profile(path, output, "the profile");
}
