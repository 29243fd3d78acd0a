#include "content/content_maps.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "content/content.h"
#include "content/content_map_actions.h"
#include "content/content_records.h"
#include "cseries/error_manager.h"
#include "map/marker_utils.h"
#include "map/mesh.h"
#include "map/mesh_geometry.h"
#include "tools/extract.h"
#include "tools/map_session.h"
#include "tools/marker_operations.h"
#include "tools/new_map.h"
#include "tools/vellgrim_connectors.h"
#include "tools/vellgrim_mesh_utilities.h"

namespace ids = content_ids;

const std::vector<content_map_plan>& content_map_plans() {
  static const std::vector<content_map_plan> plans = {
      {"Demo Valley", {_landscape_valley, 2, 2, 0x5EED1u, -1024, 5120, 43}, ids::water_media, ids::day_lighting,
       ids::valley_description, ids::river_sound, false, 60, 8},
      {"Demo Highlands", {_landscape_highlands, 8, 8, 0x41A7u, -1024, 7168, 32}, ids::water_media,
       ids::dusk_lighting, ids::highlands_description, ids::wind_sound, false, 420, 12},
      {"Demo Islet", {_landscape_islet, 1, 1, 0x15E7u, -1024, 3072, 64}, ids::bog_media, ids::day_lighting,
       ids::islet_description, ids::bird_sound, true, 14, 2},
  };
  return plans;
}

namespace {

constexpr int32_t kTexel = 64;  // world units
constexpr int16_t kNoTeam = -1;
// Body Count, Last Man on the Hill, Capture the Flag and Territories.
constexpr uint32_t kNetgameTypes = (1u << 0) | (1u << 2) | (1u << 5) | (1u << 7);

struct spot {
  int32_t px = 0, py = 0;  // texel
};

using spot_test = std::function<bool(const content_terrain&, int32_t px, int32_t py)>;

bool dry_and_gentle(const content_terrain& t, int32_t px, int32_t py) {
  const uint8_t g = t.ground_at(px, py);
  return !t.water_at(px, py) && t.slope_at(px, py) < 0.45 && g != _ground_cliff && g != _ground_marsh;
}

spot_test ground_is(std::initializer_list<content_ground> grounds) {
  std::vector<content_ground> list(grounds);
  return [list](const content_terrain& t, int32_t px, int32_t py) {
    return std::find(list.begin(), list.end(), content_ground(t.ground_at(px, py))) != list.end() &&
           t.slope_at(px, py) < 0.8;
  };
}

uint32_t mix(uint32_t a, uint32_t b) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  return h ^ (h >> 15);
}

uint16_t facing_toward(const spot& from, const spot& to) {
  return content_angle(std::atan2(double(to.py - from.py), double(to.px - from.px)) * 180.0 / std::numbers::pi);
}

// Places the markers of one map.
class marker_placer {
 public:
  marker_placer(const content_terrain& terrain, const content_map_plan& plan) : t_(terrain), plan_(plan) {}

  // A free spot passing the test inside the rectangle (fractions of the map), at least `spacing`
  // texels from every spot taken so far; tried in a fixed pseudo-random order.
  bool find(double u0, double v0, double u1, double v1, int32_t spacing, const spot_test& test, spot* out) {
    u0 = std::clamp(u0, 0.02, 0.98);
    u1 = std::clamp(u1, 0.02, 0.98);
    v0 = std::clamp(v0, 0.02, 0.98);
    v1 = std::clamp(v1, 0.02, 0.98);
    for (int32_t attempt = 0; attempt < 3000; ++attempt) {
      const uint32_t h = mix(plan_.terrain.seed, salt_++);
      const double fu = double(h & 0xFFFF) / 65536.0, fv = double(h >> 16) / 65536.0;
      const spot s{int32_t((u0 + (u1 - u0) * fu) * t_.width), int32_t((v0 + (v1 - v0) * fv) * t_.height)};
      if (!test(t_, s.px, s.py) || !far_enough(s, spacing)) continue;
      taken_.push_back(s);
      *out = s;
      return true;
    }
    return false;
  }
  bool find_near(const spot& centre, double radius, int32_t spacing, const spot_test& test, spot* out) {
    const double u = double(centre.px) / t_.width, v = double(centre.py) / t_.height;
    return find(u - radius, v - radius, u + radius, v + radius, spacing, test, out);
  }
  void take(const spot& s) { taken_.push_back(s); }
  const content_terrain& terrain() const { return t_; }

  world_point3d world(const spot& s, mesh_height_mode mode = _mesh_height_ground) const {
    const int32_t x = s.px * kTexel + kTexel / 2, y = s.py * kTexel + kTexel / 2;
    return {x, y, mesh_height_at(x, y, mode)};
  }

  // A marker of the palette entry (type, definition, team), added when missing.
  const marker_data* add(int16_t type, tag definition, int16_t team, const world_point3d& location, uint16_t yaw,
                   uint16_t palette_flags = 0, int16_t difficulty = _difficulty_timid, uint32_t flags = 0) {
    marker_palette_entry entry_template = {};
    entry_template.type = type;
    entry_template.flags = palette_flags;
    entry_template.definition_tag = definition;
    entry_template.team = team;
    entry_template.netgame_types = kNetgameTypes;
    entry_template.definition_index = NONE;
    const marker_palette_entry* entry = marker_operation_find_or_add_entry(entry_template);
    if (!entry) return nullptr;
    marker_data marker = {};
    marker.flags = flags;
    marker.type = type;
    marker.palette_index = position_among_type(entry);
    marker.minimum_difficulty = difficulty;
    marker.location = location;
    marker.yaw = yaw;
    marker.object_index = NONE;
    marker.object_identifier = NONE;
    return marker_operation_add(marker);
  }

 private:
  bool far_enough(const spot& s, int32_t spacing) const {
    for (const spot& other : taken_) {
      const int64_t dx = s.px - other.px, dy = s.py - other.py;
      if (dx * dx + dy * dy < int64_t(spacing) * spacing) return false;
    }
    return true;
  }
  // Markers name their entry by its place among the entries of its type. Entries of two teams may
  // share a definition, so the place is counted here rather than taken from the first entry with
  // that definition.
  static int16_t position_among_type(const marker_palette_entry* entry) {
    int16_t position = 0;
    for (const marker_palette_entry* e = mesh_palette(); e < entry; ++e) position += e->type == entry->type;
    return position;
  }

  const content_terrain& t_;
  const content_map_plan& plan_;
  std::vector<spot> taken_;
  uint32_t salt_ = 1;
};

bool placed(const marker_data* marker, const char* what) {
  if (marker) return true;
  POST_ERROR(error_unknown, "couldn't place the %s of a demo map.", what);
  return false;
}

// The spot of a team's base: open dry ground near the preferred point.
bool find_base(marker_placer& placer, double u, double v, spot* base) {
  for (double radius = 0.05; radius < 0.5; radius += 0.05) {
    if (placer.find(u - radius, v - radius, u + radius, v + radius, 24, dry_and_gentle, base)) return true;
  }
  return false;
}

// The highest gentle dry spot among a grid of samples in the rectangle.
spot highest_spot(const content_terrain& t, double u0, double v0, double u1, double v1) {
  spot best{int32_t((u0 + u1) / 2 * t.width), int32_t((v0 + v1) / 2 * t.height)};
  int32_t best_height = INT32_MIN;
  for (int32_t j = 0; j <= 24; ++j) {
    for (int32_t i = 0; i <= 24; ++i) {
      const spot s{int32_t((u0 + (u1 - u0) * i / 24.0) * (t.width - 1)), int32_t((v0 + (v1 - v0) * j / 24.0) * (t.height - 1))};
      if (!dry_and_gentle(t, s.px, s.py) || t.height_at(s.px, s.py) <= best_height) continue;
      best = s;
      best_height = t.height_at(s.px, s.py);
    }
  }
  return best;
}

// The middle of the widest run of water across a texel row; none when the row is dry.
bool water_crossing(const content_terrain& t, int32_t py, spot* middle) {
  int32_t best_start = -1, best_length = 0;
  for (int32_t px = 0; px < t.width;) {
    if (!t.water_at(px, py)) {
      ++px;
      continue;
    }
    const int32_t start = px;
    while (px < t.width && t.water_at(px, py)) ++px;
    if (px - start > best_length) {
      best_start = start;
      best_length = px - start;
    }
  }
  if (best_start < 0) return false;
  *middle = {best_start + best_length / 2, py};
  return true;
}

bool add_team(marker_placer& placer, const content_map_plan& plan, int16_t team, const spot& base, const spot& enemy) {
  // The observer stands behind the base, looking toward the enemy.
  const double du = double(base.px - enemy.px), dv = double(base.py - enemy.py), length = std::max(std::hypot(du, dv), 1.0);
  const content_terrain& t = placer.terrain();
  const spot behind{std::clamp(base.px + int32_t(24 * du / length), 8, t.width - 8),
                    std::clamp(base.py + int32_t(24 * dv / length), 8, t.height - 8)};
  if (!placed(placer.add(_marker_observer, NONE_TAG, team, placer.world(behind), facing_toward(behind, enemy)),
              "observer")) {
    return false;
  }
  const tag unit_types[] = {ids::warrior, ids::warrior, ids::archer, team == 0 ? ids::wolf : ids::bear};
  for (int16_t k = 0; k < plan.units_per_team; ++k) {
    spot s;
    if (!placer.find_near(base, 0.06 + 0.01 * (k / 6), 6, dry_and_gentle, &s)) continue;
    const int16_t difficulty = int16_t(k % 4 == 3 ? _difficulty_heroic : _difficulty_timid);
    if (!placed(placer.add(_marker_unit, unit_types[k % 4], team, placer.world(s), facing_toward(s, enemy),
                           uint16_t(k % 4 == 2 ? _palette_may_use_veterans : 0), difficulty),
                "unit")) {
      return false;
    }
  }
  return true;
}


bool add_scenery(marker_placer& placer, const content_map_plan& plan) {
  const spot_test forest = ground_is({_ground_forest});
  const spot_test open = ground_is({_ground_grass, _ground_dry_grass, _ground_sand});
  const spot_test stony = ground_is({_ground_rock, _ground_dirt, _ground_cliff, _ground_snow});
  int16_t made = 0;
  for (int16_t k = 0; k < plan.scenery_count; ++k) {
    spot s;
    tag kind;
    switch (k % 6) {
      case 0: case 1: case 2:
        kind = (k % 3 == 1) ? ids::oak_tree : ids::pine_tree;
        if (!placer.find(0, 0, 1, 1, 5, forest, &s) && !placer.find(0, 0, 1, 1, 5, open, &s)) continue;
        break;
      case 3: case 4:
        kind = ids::bush;
        if (!placer.find(0, 0, 1, 1, 5, open, &s)) continue;
        break;
      default:
        kind = ids::boulder;
        if (!placer.find(0, 0, 1, 1, 5, stony, &s) && !placer.find(0, 0, 1, 1, 5, open, &s)) continue;
        break;
    }
    const uint16_t facing = uint16_t(mix(plan.terrain.seed, uint32_t(k)) & 0xFFFF);
    if (!placed(placer.add(_marker_scenery, kind, kNoTeam, placer.world(s), facing), "scenery")) return false;
    ++made;
  }
  return made > 0;
}

// Five posts in a row near the base, joined by one connector; small maps get them closer together.
bool add_fence(marker_placer& placer, const spot& base) {
  const content_terrain& t = placer.terrain();
  enum { POSTS = 5 };
  const int32_t step = t.width >= 512 ? 16 : 8;
  for (int32_t attempt = 0; attempt < 256; ++attempt) {
    const int32_t ring = 8 + (attempt / 16) * 6, direction = attempt % 16;
    const spot start{base.px + int32_t(ring * std::cos(direction * std::numbers::pi / 8.0)) - 2 * step,
                     base.py + int32_t(ring * std::sin(direction * std::numbers::pi / 8.0))};
    bool clear = true;
    for (int32_t k = 0; k < POSTS && clear; ++k) {
      const int32_t px = start.px + k * step, py = start.py;
      clear = px > 0 && py > 0 && px < t.width && py < t.height && dry_and_gentle(t, px, py);
    }
    if (!clear) continue;
    int16_t chain[POSTS];
    for (int32_t k = 0; k < POSTS; ++k) {
      const spot s{start.px + k * step, start.py};
      placer.take(s);
      const marker_data* post = placer.add(_marker_scenery, ids::fence_post, kNoTeam, placer.world(s), 0);
      if (!placed(post, "fence post")) return false;
      chain[k] = post->identifier;
    }
    int16_t connector[CONNECTOR_RECORD_SIZE / 2] = {};
    std::copy(chain, chain + POSTS, connector);
    connector[CONNECTOR_RECORD_SIZE / 2 - 1] = POSTS;  // the chain's length
    return connectors_replace_all(connector);
  }
  POST_ERROR(error_unknown, "found no dry ground for the fence of a demo map.");
  return false;
}

bool add_structures(marker_placer& placer, const content_map_plan& plan, const spot bases[2]) {
  const content_terrain& t = placer.terrain();
  spot hut, tower;
  if (!placer.find_near(bases[0], 0.08, 8, dry_and_gentle, &hut) ||
      !placer.find_near(bases[1], 0.08, 8, dry_and_gentle, &tower)) {
    POST_ERROR(error_unknown, "found no ground for the buildings of a demo map.");
    return false;
  }
  if (!placed(placer.add(_marker_model, ids::hut, kNoTeam, placer.world(hut), facing_toward(hut, bases[1])), "hut") ||
      !placed(placer.add(_marker_model, ids::watch_tower, kNoTeam, placer.world(tower), 0), "watch tower")) {
    return false;
  }
  // Smoke over the hut's roof, and the hearth's sound.
  world_point3d chimney = placer.world(hut);
  chimney.z += 640;
  if (!placed(placer.add(_marker_local_projectile_group, ids::chimney_smoke, kNoTeam, chimney, 0), "smoke") ||
      !placed(placer.add(_marker_sound_source, ids::fire_sound, kNoTeam, placer.world(hut), 0), "hearth sound")) {
    return false;
  }
  // A bridge where the river is a third of the way down, when there is water there.
  spot crossing;
  if (plan.terrain.landscape == _landscape_valley && water_crossing(t, t.height / 3, &crossing)) {
    world_point3d location = placer.world(crossing);
    location.z = t.water_level + 48;
    placer.take(crossing);
    if (!placed(placer.add(_marker_model, ids::bridge, kNoTeam, location, 0), "bridge")) return false;
  }
  // The windmill on the highest gentle ground of the middle of the map.
  const spot mill = highest_spot(t, 0.3, 0.3, 0.7, 0.7);
  placer.take(mill);
  return placed(placer.add(_marker_model_animation, ids::windmill, kNoTeam, placer.world(mill), content_angle(30)),
                "windmill");
}

bool add_sounds_and_effects(marker_placer& placer, const content_map_plan& plan, const spot bases[2]) {
  const content_terrain& t = placer.terrain();
  // Sounds of the water along the shore, birds in the woods, the wind on the heights.
  const spot_test shore = [](const content_terrain& terrain, int32_t px, int32_t py) {
    return terrain.water_at(px, py) && !terrain.water_at(std::min(px + 12, terrain.width - 1), py);
  };
  const int16_t water_sounds = plan.terrain.columns >= 4 ? 6 : 2;
  for (int16_t k = 0; k < water_sounds; ++k) {
    spot s;
    if (!placer.find(0, 0, 1, 1, 64, shore, &s)) break;
    if (!placed(placer.add(_marker_sound_source, ids::river_sound, kNoTeam, placer.world(s, _mesh_height_surface), 0),
                "water sound")) {
      return false;
    }
  }
  spot s;
  if (placer.find(0, 0, 1, 1, 8, ground_is({_ground_forest, _ground_grass}), &s) &&
      !placed(placer.add(_marker_sound_source, ids::bird_sound, kNoTeam, placer.world(s), 0), "bird sound")) {
    return false;
  }
  const spot height = highest_spot(t, 0.0, 0.0, 1.0, 1.0);
  if (!placed(placer.add(_marker_sound_source, ids::wind_sound, kNoTeam, placer.world(height), 0), "wind sound")) {
    return false;
  }
  // Fireflies over the lowest dry ground, arrows and a stone left between the two bases.
  if (placer.find(0, 0, 1, 1, 8, ground_is({_ground_marsh, _ground_sand, _ground_grass}), &s)) {
    world_point3d above = placer.world(s);
    above.z += 192;
    if (!placed(placer.add(_marker_local_projectile_group, ids::fireflies, kNoTeam, above, 0), "fireflies")) return false;
  }
  const spot middle{(bases[0].px + bases[1].px) / 2, (bases[0].py + bases[1].py) / 2};
  const tag missiles[] = {ids::arrow, ids::arrow, ids::arrow, ids::thrown_rock};
  for (int32_t k = 0; k < 4; ++k) {
    if (!placer.find_near(middle, 0.12, 4, dry_and_gentle, &s)) continue;
    if (!placed(placer.add(_marker_projectile, missiles[k], kNoTeam, placer.world(s), facing_toward(s, bases[1])),
                "projectile")) {
      return false;
    }
  }
  // Wolves of no team in the woods, as ambient life.
  for (int32_t k = 0; k < 2; ++k) {
    if (!placer.find(0, 0, 1, 1, 16, ground_is({_ground_forest}), &s)) break;
    if (!placed(placer.add(_marker_unit, ids::wolf, kNoTeam, placer.world(s), uint16_t(k * 20000),
                           _palette_is_ambient_life | _palette_uncontrollable),
                "wolf")) {
      return false;
    }
  }
  return true;
}

bool populate(const content_terrain& t, const content_map_plan& plan) {
  marker_placer placer(t, plan);
  spot bases[2];
  if (!find_base(placer, 0.25, 0.75, &bases[0]) || !find_base(placer, 0.75, 0.25, &bases[1])) {
    POST_ERROR(error_unknown, "found no dry ground for the bases of '%s'.", plan.name);
    return false;
  }
  return add_team(placer, plan, 0, bases[0], bases[1]) && add_team(placer, plan, 1, bases[1], bases[0]) &&
         add_structures(placer, plan, bases) && add_fence(placer, bases[0]) &&
         add_sounds_and_effects(placer, plan, bases) && add_scenery(placer, plan);
}

bool write_image(const content_terrain& t, content_image_layer layer, const std::string& path) {
  bitmap_image image;
  content_terrain_image(t, layer, &image);
  return bitmap_write(path, image);
}

bool make_map(const content_map_plan& plan, const std::string& image_folder) {
  content_terrain terrain;
  if (!content_generate_terrain(plan.terrain, &terrain)) {
    POST_ERROR(error_data_mismatch, "the landscape of '%s' is out of range.", plan.name);
    return false;
  }
  const std::string base = image_folder + "/" + plan.name;
  struct layer_file {
    content_image_layer image;
    int16_t layer;
    const char* suffix;
  };
  const layer_file layers[] = {{_content_image_color, _map_layer_color, " color.bmp"},
                               {_content_image_displacement, _map_layer_displacement, " displacement.bmp"},
                               {_content_image_water_level, _map_layer_water_level, " water level.bmp"},
                               {_content_image_terrain, _map_layer_terrain, " terrain.bmp"},
                               {_content_image_reflection, _map_layer_reflection, " reflection.bmp"}};
  for (const layer_file& file : layers) {
    if (!write_image(terrain, file.image, base + file.suffix)) {
      POST_ERROR(error_file_write, "couldn't write the image '%s%s'.", plan.name, file.suffix);
      return false;
    }
  }
  if (!extract_set_displacement_bounds(plan.terrain.lower, plan.terrain.upper) ||
      !new_map_create(plan.name, plan.media, base + layers[0].suffix)) {
    return false;
  }
  // The heights first, then the water, then the land types, and the reflections last: they make
  // the water triangles' types and spread the water heights.
  for (const layer_file& file : layers) {
    if (file.layer != _map_layer_color && !extract_import_layer(file.layer, EXTRACT_WHOLE_MESH, base + file.suffix)) {
      return false;
    }
  }
  mesh_definition_tags tags;
  tags.mesh_lighting = plan.lighting;
  tags.description_string_list = plan.description;
  tags.ambient_sound = plan.ambient_sound;
  tags.wind = ids::breeze;
  tags.connector_definitions = ids::rope_fence;
  if (!mesh_set_definition_tags(tags)) return false;
  const int16_t margin = int16_t(2 * plan.terrain.columns > 8 ? 8 : 2 * plan.terrain.columns + 1);
  if (!mesh_set_parameters(margin, margin, margin, margin) || !populate(terrain, plan) ||
      !content_add_map_actions(plan)) {
    return false;
  }
  map_set_modified(true);
  if (!map_save()) return false;
  return map_close();
}

}  // namespace

bool content_make_maps(const std::string& image_folder) {
  for (const content_map_plan& plan : content_map_plans()) {
    if (!make_map(plan, image_folder)) {
      POST_ERROR(error_unknown, "couldn't make the demo map '%s'.", plan.name);
      map_set_modified(false);
      map_close();
      return false;
    }
  }
  return true;
}
