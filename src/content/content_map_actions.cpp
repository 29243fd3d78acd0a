#include "content/content_map_actions.h"

#include <cstring>
#include <string>
#include <vector>

#include "content/content.h"
#include "cseries/error_manager.h"
#include "map/map_actions.h"
#include "map/mesh.h"
#include "tools/map_action_operations.h"

namespace ids = content_ids;

namespace {

// The identifiers of the first markers of a type (none: an empty list).
std::vector<int16_t> marker_identifiers(int16_t type, size_t most) {
  std::vector<int16_t> found;
  for (int32_t i = 0; i < mesh_marker_count() && found.size() < most; ++i) {
    if (mesh_markers()[i].type == type) found.push_back(mesh_markers()[i].identifier);
  }
  return found;
}

class script {
 public:
  bool ok = true;

  int32_t action(const char* name, const char* type, uint32_t flags, int16_t expiration, int32_t lower, int32_t upper,
                 int16_t indent = 0) {
    const int32_t slot = map_action_operation_new(-1);
    map_action_properties properties{expiration, flags, name, type,
                                     map_action_seconds_text(lower), map_action_seconds_text(upper)};
    ok = ok && slot != -1 && map_action_operation_set_properties(slot, properties);
    for (int16_t i = 0; ok && i < indent; ++i) ok = map_action_operation_indent(slot, true);
    return slot;
  }

  template <class T>
  void values(int32_t slot, const char* name, int16_t type, const std::vector<T>& elements) {
    if (!ok) return;
    tag code = 0;
    for (int i = 0; i < 4; ++i) code = (code << 8) | uint8_t(name[i]);
    const int32_t p = map_action_operation_add_parameter(slot, code, type);
    const int32_t size = map_action_type_get(type)->element_size;
    const int32_t count = int32_t(elements.size() * sizeof(T) / size_t(size));
    ok = p != -1 && map_action_operation_set_elements(
                        slot, p, count, std::as_bytes(std::span<const T>(elements.data(), elements.size())));
  }

  void link(int32_t slot, const std::vector<int32_t>& targets) {
    std::vector<int16_t> identifiers;
    for (int32_t target : targets) identifiers.push_back(map_action_get(target)->identifier);
    values(slot, "link", _parameter_action_identifier, identifiers);
  }
};

int32_t fixed(double value) { return int32_t(value * 65536.0); }

}  // namespace

bool content_add_map_actions(const content_map_plan& plan) {
  const int32_t across = mesh_cells_across() * WORLD_ONE, down = mesh_cells_down() * WORLD_ONE;
  const int32_t cx = across / 2, cy = down / 2;
  const std::vector<int16_t> units = marker_identifiers(3, 4);
  const std::vector<int16_t> sounds = marker_identifiers(5, 1), models = marker_identifiers(6, 1);
  const std::vector<int16_t> projectiles = marker_identifiers(9, 1), effects = marker_identifiers(10, 1);
  const std::vector<int16_t> animations = marker_identifiers(11, 1);
  const std::vector<int16_t> attackers(units.begin(), units.begin() + std::min<size_t>(2, units.size()));
  const std::vector<int16_t> targets(units.begin() + std::min<size_t>(2, units.size()), units.end());

  script s;
  const int32_t opening = s.action("Opening", "wait", 0x1 | 0x4, 1, 0, 0);
  const int32_t march = s.action("March to the ford", "move", 0, 1, 30, 90);
  const int32_t ambush = s.action("Ambush at the ford", "attk", 0x2, 2, 150, 150);
  const int32_t warning = s.action("Warn the player", "mesg", 0x2, 1, 0, 0);
  const int32_t horn = s.action("Sound the horn", "sndp", 0, 1, 45, 60);
  const int32_t volley = s.action("Volley from the hill", "volr", 0x8, 4, 300, 420);
  const int32_t windmill = s.action("Windmill turns", "anim", 0x1, 3, 0, 0);
  const int32_t tower = s.action("Tower burns", "modl", 0, 1, 600, 600);
  const int32_t fireflies = s.action("Fireflies at dusk", "efct", 0x1, 0, 900, 1200);
  const int32_t watch = s.action("Watch the ford", "area", 0x1, 2, 0, 30);
  const int32_t victory = s.action("Victory", "goal", 0x1, 3, 0, 0);
  const int32_t camera = s.action("Look at the ford", "camr", 0, 1, 10, 10);
  const int32_t countdown = s.action("Reinforcements [soon]", "timr", 0x1, 0, 0, 0);
  const int32_t separator = s.action("", "", 0, 0, 0, 0);
  const int32_t notes = s.action("Notes for the author", "", 0, 0, 0, 0, 1);
  (void)separator;

  s.values<int32_t>(opening, "time", _parameter_fixed, {fixed(2.5)});
  s.link(opening, {march, warning, watch});
  s.values<int16_t>(march, "subj", _parameter_monster_identifier, units);
  s.values<int32_t>(march, "dest", _parameter_world_point2d, {cx - 2048, cy + 1024, cx, cy});
  s.values<int16_t>(march, "face", _parameter_angle, {16384});
  s.values<uint8_t>(march, "fast", _parameter_flag, {1});
  s.values<int16_t>(ambush, "subj", _parameter_monster_identifier, attackers);
  s.values<int16_t>(ambush, "targ", _parameter_monster_identifier, targets);
  s.values<int32_t>(ambush, "maxi", _parameter_integer, {3});
  s.link(ambush, {victory, horn});
  s.values<char>(warning, "text", _parameter_string,
                 {'H', 'o', 'l', 'd', ' ', 't', 'h', 'e', ' ', 'f', 'o', 'r', 'd', '!', '\0'});
  s.values<int32_t>(warning, "indx", _parameter_integer, {0});
  s.values<int32_t>(warning, "list", _parameter_string_list, {int32_t(ids::demo_messages)});
  s.values<int32_t>(horn, "soun", _parameter_sound, {int32_t(ids::wind_sound)});
  s.values<int16_t>(horn, "srce", _parameter_sound_source_identifier, sounds);
  s.values<int32_t>(horn, "radi", _parameter_world_distance, {2048 + 37});
  s.values<int32_t>(volley, "prgr", _parameter_projectile_group, {int32_t(ids::arrow_volley)});
  s.values<int32_t>(volley, "from", _parameter_world_point3d, {cx - 4096, cy - 4096, 1500});
  s.values<int32_t>(volley, "targ", _parameter_world_point3d, {cx, cy, 0});
  s.values<int16_t>(volley, "objt", _parameter_object_identifier, projectiles);
  s.values<int32_t>(volley, "proj", _parameter_projectile, {int32_t(ids::arrow)});
  s.values<int16_t>(windmill, "anim", _parameter_model_animation_identifier, animations);
  s.values<int32_t>(windmill, "fram", _parameter_integer, {2});
  s.values<int16_t>(tower, "modl", _parameter_model_identifier, models);
  s.values<int32_t>(tower, "vari", _parameter_integer, {1});
  s.values<int16_t>(fireflies, "efct", _parameter_local_projectile_group_identifier, effects);
  s.values<int32_t>(fireflies, "radi", _parameter_world_distance, {1024});
  s.values<int32_t>(watch, "area", _parameter_world_rectangle2d, {cx - 3000, cy - 2000, cx + 3000, cy + 2000});
  s.values<int16_t>(watch, "subj", _parameter_monster_identifier, attackers);
  s.values<int32_t>(watch, "minm", _parameter_integer, {2});
  s.link(watch, {ambush});
  s.values<int16_t>(victory, "subj", _parameter_monster_identifier, targets);
  s.values<uint8_t>(victory, "loss", _parameter_flag, {0});
  s.values<int32_t>(camera, "cntr", _parameter_world_point2d, {cx, cy});
  s.values<int16_t>(camera, "face", _parameter_angle, {int16_t(-32768)});
  s.values<int32_t>(camera, "zoom", _parameter_world_distance, {6000});
  s.values<int32_t>(countdown, "tick", _parameter_integer, {900});
  s.values<int32_t>(countdown, "rate", _parameter_fixed, {fixed(1.25)});
  s.values<int32_t>(countdown, "kind", _parameter_field_name, {int32_t(make_tag("ford"))});
  s.link(countdown, {camera, tower, fireflies, volley});
  s.values<uint8_t>(notes, "null", _parameter_flag, {});
  s.link(notes, {opening, windmill});
  if (!s.ok) POST_ERROR(error_unknown, "couldn't script the map actions of '%s'.", plan.name);
  return s.ok;
}
