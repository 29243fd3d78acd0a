#include "content/content.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "content/content_collections.h"
#include "content/content_definitions.h"
#include "content/content_maps.h"
#include "content/content_records.h"
#include "cseries/error_manager.h"
#include "engine/preferences.h"
#include "session/engine.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "tools/extract.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kTagsFolder[] = "tags";
constexpr const char kPluginsFolder[] = "plugins";
constexpr const char kLocalFolder[] = "local";

// ---- files ----

bool host_file_spec(const fs::path& path, file_specification* spec) {
  file_spec_initialize(spec, 0);
  std::string stored = path.string();
  if (stored.empty() || stored.size() > MAXIMUM_FILE_PATH_LENGTH || stored.find('\\') != std::string::npos) return false;
  std::replace(stored.begin(), stored.end(), '/', '\\');
  std::memcpy(spec->path, stored.c_str(), stored.size() + 1);
  spec->flags = _file_specification_is_file;
  return true;
}

bool write_archive(const archive_writer_archive& archive, const fs::path& path) {
  file_specification file;
  if (!host_file_spec(path, &file)) {
    POST_ERROR(error_file_create, "the path '%s' is too long for an archive.", path.string().c_str());
    return false;
  }
  return archive_writer_write(archive, &file);
}

bool write_install_archives(const std::vector<archive_writer_archive>& archives, const fs::path& folder) {
  for (int32_t k = 0; k < NUMBER_OF_INSTALL_ARCHIVES; ++k) {
    if (!write_archive(archives[size_t(k)], folder / kTagsFolder / install_archive_names[k])) return false;
  }
  return true;
}

// ---- the child: the editor engine in the staging folder ----

bool unexpected_box = false;

// Nothing the build does should ask or refuse anything: every box is a fault.
ui_answer build_message_box(void*, const char* title, const char* text, ui_icon, ui_buttons buttons) {
  std::fprintf(stderr, "content build: %s: %s\n", title && *title ? title : "message", text);
  unexpected_box = true;
  return buttons == ui_buttons_ok ? ui_answer_ok : buttons == ui_buttons_yes_no ? ui_answer_no : ui_answer_cancel;
}
const ui_host build_ui_host = {nullptr, build_message_box, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// The whole data of a tag of the store.
bool read_store_tag(int32_t tag_index, archive_writer_tag* entry) {
  tag_file_info info;
  if (!tag_file_get_info(tag_index, &info) || info.size < 0) return false;
  entry->group_tag = info.group_tag;
  entry->tag_identifier = info.tag_identifier;
  entry->name = info.name;
  entry->version = info.version;
  entry->user_data = info.user_data;
  entry->install_class = content_install_class(info.group_tag);
  entry->data.assign(size_t(info.size), 0);
  return info.size == 0 || tag_file_read(tag_index, 0, info.size, entry->data.data());
}

int32_t find_store_tag(tag group, const char* name) {
  tag_file_filter filter = tag_file_filter_any();
  std::snprintf(filter.name, sizeof filter.name, "%s", name);
  filter.group_tag = group;
  int32_t found = NONE;
  return tag_file_search(filter, &found, 1) > 0 ? found : NONE;
}

archive_writer_entry_point entry_point_of(const archive_writer_tag& mesh, tag description) {
  archive_writer_entry_point entry;
  entry.mesh_tag = mesh.tag_identifier;
  entry.flags = mesh.user_data;
  entry.name = mesh.name;
  const std::vector<std::string>& lines = content_map_description(description);
  entry.description = lines.empty() ? mesh.name : lines.front().substr(0, 63);
  return entry;
}

bool build_in_staging(const fs::path& staging, const fs::path& out) {
  std::vector<archive_writer_tag> tags;
  if (!content_build_definitions(&tags)) return false;
  std::vector<archive_writer_archive> archives;
  content_build_install_archives(tags, {}, &archives);
  std::error_code error;
  fs::create_directories(staging / kTagsFolder, error);
  fs::create_directories(staging / "images", error);
  if (error || !write_install_archives(archives, staging)) return false;

  // The editor's own start-up, in the staging folder, on the definitions alone.
  engine_start_editor();
  ui_host_install(&build_ui_host);
  if (!content_make_maps((staging / "images").string())) return false;

  // The maps join the definitions: those of the install archives with an entry point each, the
  // plugin's in the plugin with its description list.
  archive_writer_archive plugin;
  plugin.type = _tag_file_plugin;
  plugin.patch_level = 0;
  plugin.name = CONTENT_PLUGIN_FILE_NAME;
  std::vector<archive_writer_entry_point> entry_points;
  for (const content_map_plan& plan : content_map_plans()) {
    archive_writer_tag mesh, collection;
    const int32_t mesh_index = find_store_tag(MESH_DEFINITION_GROUP_TAG, plan.name);
    const int32_t collection_index = find_store_tag(COLLECTION_DEFINITION_GROUP_TAG, plan.name);
    if (mesh_index == NONE || collection_index == NONE || !read_store_tag(mesh_index, &mesh) ||
        !read_store_tag(collection_index, &collection)) {
      POST_ERROR(error_file_read, "couldn't read back the demo map '%s'.", plan.name);
      return false;
    }
    const archive_writer_entry_point entry = entry_point_of(mesh, plan.description);
    std::vector<archive_writer_tag>& destination = plan.in_plugin ? plugin.tags : tags;
    if (plan.in_plugin) {
      plugin.entry_points.push_back(entry);
      auto description = std::find_if(tags.begin(), tags.end(), [&plan](const archive_writer_tag& t) {
        return t.group_tag == make_tag("stli") && t.tag_identifier == plan.description;
      });
      if (description != tags.end()) {
        plugin.tags.push_back(*description);
        tags.erase(description);
      }
    } else {
      entry_points.push_back(entry);
    }
    destination.push_back(std::move(mesh));
    destination.push_back(std::move(collection));
  }
  // The editor's preferences go with the maps, their displacement bounds holding every map's, so
  // that exporting and importing a demo map's heights changes nothing beyond one step.
  int32_t lower = INT32_MAX, upper = INT32_MIN;
  for (const content_map_plan& plan : content_map_plans()) {
    lower = std::min(lower, plan.terrain.lower);
    upper = std::max(upper, plan.terrain.upper);
  }
  if (!extract_set_displacement_bounds(lower, upper)) return false;
  const int32_t preferences_index = find_store_tag(PREFERENCES_GROUP_TAG, vellgrim_preferences_descriptor.name);
  archive_writer_tag preferences;
  if (preferences_index == NONE || !read_store_tag(preferences_index, &preferences)) {
    POST_ERROR(error_file_read, "couldn't read back the editor's preferences.");
    return false;
  }
  tags.push_back(std::move(preferences));
  content_build_install_archives(tags, entry_points, &archives);
  return write_install_archives(archives, out) && write_archive(plugin, out / kPluginsFolder / CONTENT_PLUGIN_FILE_NAME) &&
         !unexpected_box;
}

[[noreturn]] void run_child(const fs::path& staging, const fs::path& out) {
  if (::chdir(staging.c_str()) != 0) _exit(2);
  const bool built = build_in_staging(staging, out);
  if (!built) std::fprintf(stderr, "content build: failed; see %s/tarn_log.txt\n", staging.c_str());
  // Through the exit procedures: the lock is released and the log closed.
  halt_program(built ? 0 : 1);
}

}  // namespace

bool content_build_definitions(std::vector<archive_writer_tag>* tags) {
  tags->clear();
  if (!content_build_records(tags) || !content_build_collections(tags)) return false;
  content_build_strings(tags);
  return true;
}

void content_build_install_archives(const std::vector<archive_writer_tag>& tags,
                                    const std::vector<archive_writer_entry_point>& entry_points,
                                    std::vector<archive_writer_archive>* archives) {
  archives->assign(NUMBER_OF_INSTALL_ARCHIVES, archive_writer_archive{});
  for (int32_t k = 0; k < NUMBER_OF_INSTALL_ARCHIVES; ++k) {
    (*archives)[size_t(k)].type = _tag_file_install_archive;
    (*archives)[size_t(k)].name = install_archive_names[k];
  }
  for (const archive_writer_tag& entry : tags) {
    (*archives)[std::min<size_t>(entry.install_class, NUMBER_OF_INSTALL_ARCHIVES - 1)].tags.push_back(entry);
  }
  // The maps are `mesh` tags, whose install class is the small install's.
  (*archives)[content_install_class(MESH_DEFINITION_GROUP_TAG)].entry_points = entry_points;
}

bool content_build(const std::string& out_folder, std::string* failure) {
  auto fail = [failure](const std::string& reason) {
    *failure = reason;
    return false;
  };
  if (engine_is_initialized()) return fail("the demo data must be built before the engine starts");
  std::error_code error;
  const fs::path out = fs::absolute(out_folder, error).lexically_normal();
  for (const char* folder : {kTagsFolder, kPluginsFolder, kLocalFolder}) fs::create_directories(out / folder, error);
  if (error) return fail("can't create the folders of '" + out.string() + "': " + error.message());

  std::string pattern = (fs::temp_directory_path(error) / "vellgrim-content-XXXXXX").string();
  if (error || !::mkdtemp(pattern.data())) return fail("can't create a temporary folder for the build");
  const fs::path staging = pattern;

  std::fflush(nullptr);  // nothing buffered may be written twice
  const pid_t child = ::fork();
  if (child < 0) return fail("can't start the map build: " + std::string(std::strerror(errno)));
  if (child == 0) run_child(staging, out);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return fail("lost the map build: " + std::string(std::strerror(errno)));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return fail("building the demo maps failed; the log is in " + (staging / "tarn_log.txt").string());
  }
  fs::remove_all(staging, error);
  return true;
}
