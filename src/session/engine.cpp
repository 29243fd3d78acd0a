#include "session/engine.h"

#include <initializer_list>

#include "cseries/error_manager.h"
#include "cseries/data.h"
#include "engine/definition_groups.h"
#include "engine/preferences.h"
#include "input/action_queue.h"
#include "input/observer.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "render/screen.h"
#include "render/shapes.h"
#include "tag_files/tag_files.h"
#include "tools/edit_recovery.h"
#include "tools/vellgrim_connectors.h"
#include "tools/map_session.h"
#include "view/connector_bands.h"
#include "view/render.h"
#include "world/world.h"

namespace {

bool initialized = false;

bool initialize_groups(std::initializer_list<definition_group*> groups) {
  for (definition_group* group : groups) {
    if (!definitions_initialize(group)) return false;
  }
  return true;
}

bool nothing_to_do() { return true; }


bool instance_lock() {
  if (tag_files_lock_instance()) return true;
  ui_message_box("Error",
                 "Tarn II, Umber, or Vellgrim is already running. Please exit the other application and try again.",
                 ui_icon_error, ui_buttons_ok);
  halt_program(-1);
}

// The lock is taken before the store is read: taking it may finish a change that a stopped writer
// left half done, and what is read must be the store after it.
// A store opened already (the tool opens it first) stays as it is, with any changes it is gathering.
bool tag_store_initialize() {
  return tag_files_initialize() && instance_lock() && (tag_files_is_open() || tag_files_open(false, {}, -1));
}

// The input preferences choose the key binding set; they are read once and never saved.
bool keyboard_configurations_initialize() { return preferences_load(&input_preferences_descriptor) != nullptr; }

bool models_step() { return initialize_groups({&geometry_definitions, &model_definitions}) && world_initialize(); }

bool mesh_step() {
  if (!initialize_groups({&mesh_definitions, &wind_definitions})) return false;
  mesh_initialize();
  return true;
}

struct engine_step {
  const char* name;
  bool (*initialize)();
};

// The game's order. Steps that only name a module of the game simulation that the editor does not
// run (explosions, flags, fire, the network queues ...) do nothing but keep their place.
const engine_step engine_steps[] = {
    {"shapes", [] { return initialize_groups({&collection_definitions, &collection_reference_definitions}) &&
                           shapes_initialize(); }},
    {"strings", [] { return initialize_groups({&string_definitions, &string_list_definitions}); }},
    {"fonts", [] { return initialize_groups({&font_definitions}); }},
    {"game data", game_data_initialize},
    {"tag files", tag_store_initialize},
    {"instance lock", instance_lock},
    {"keyboard configurations", keyboard_configurations_initialize},
    {"render memory pools", nothing_to_do},
    {"interface", [] { return initialize_groups({&interface_definitions}); }},
    {"media", [] { return initialize_groups({&media_definitions}); }},
    {"models", models_step},
    {"markers", nothing_to_do},  // the marker lists live in the mesh
    {"objects", [] { return initialize_groups({&object_definitions, &artifact_definitions}); }},
    {"scenery", [] { return initialize_groups({&scenery_definitions}); }},
    {"projectiles", [] { return initialize_groups({&projectile_definitions, &projectile_group_definitions}); }},
    {"monsters", [] { return initialize_groups({&monster_definitions, &unit_definitions}); }},
    {"explosions", nothing_to_do},
    {"teams", nothing_to_do},  // built from the palette when a map opens
    {"flags", nothing_to_do},
    {"mesh effects", [] { return initialize_groups({&mesh_effect_definitions}); }},
    {"map actions", nothing_to_do},
    {"network command queues", nothing_to_do},
    {"mesh", mesh_step},
    {"lightning", [] { return initialize_groups({&lightning_definitions}); }},
    {"connector definitions", [] { return connectors_initialize() && initialize_groups({&connector_definitions}); }},
    {"fire", nothing_to_do},
    {"local projectiles", [] { return initialize_groups({&local_physics_definitions,
                                                         &local_projectile_group_definitions}); }},
    {"model animations", [] { return initialize_groups({&model_animation_definitions}); }},
    {"screen", screen_initialize},
    {"render", [] { if (!render_initialize()) return false; connector_bands_register(); return true; }},
    {"input action queue", input_initialize},
    {"observer", [] { return initialize_groups({&observer_physics_definitions}) && observer_initialize(); }},
    {"sound", [] { return initialize_groups({&sound_definitions, &ambient_sound_definitions}); }},
    // No screen saver or system cursor belongs to the engine here: the shell owns the display.
    {"screen saver", nothing_to_do},
    {"cursor", nothing_to_do},
};
constexpr int32_t ENGINE_STEP_COUNT = static_cast<int32_t>(sizeof(engine_steps) / sizeof(engine_steps[0]));

}  // namespace

int32_t engine_initialization_step_count() { return ENGINE_STEP_COUNT; }

const char* engine_initialization_step_name(int32_t step) {
  return step >= 0 && step < ENGINE_STEP_COUNT ? engine_steps[step].name : "";
}

bool engine_initialize() {
  if (initialized) return true;
  for (const engine_step& step : engine_steps) {
    if (!step.initialize()) {
      // Allocation failures have already ended the program; anything else is reported here.
      POST_ERROR(error_unknown, "engine initialisation failed at %s", step.name);
      return false;
    }
  }
  handle_error();
  map_session_set_level_dispose(engine_dispose_level);
  engine_dispose_level();
  initialized = true;
  return true;
}

bool engine_is_initialized() { return initialized; }

void engine_dispose_level() {
  world_dispose();
  shapes_dispose();
  definition_groups_invalidate();
  while (declared_data_array* array = data_array_registry_next(nullptr)) data_array_invalidate(array);
}

void engine_start_editor() {
  crash_handler_install();
  // Appended until the store lock shows that no other copy is running and writing it.
  error_manager_initialize("vellgrim", _log_start_appended);
  // The shadow editor's lighting definitions and the connector snapshot are the editor's own.
  definitions_initialize(&mesh_lighting_definitions);
  // The editor writes its unsaved steps ahead, for the next start after a crash.
  edit_recovery_enable(true);
  // A half-initialised engine must not go on to open maps.
  if (!engine_initialize()) halt_program(-1);
  // The editor holds the store lock now: the log is this run's alone.
  log_keep_only_this_run();
  if (!foundation_tags_present()) {
    show_warning_box("Could not find all foundation tags. Please do a large install.");
    halt_program(-1);
  }
}
