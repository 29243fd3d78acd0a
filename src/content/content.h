// The demo game data: everything the editor needs to start and to have something real to work on,
// built by code. Definitions of every kind a map can name, sprite collections, the map-action
// keyword list and templates, and sample maps made with the editor's own operations (New Map from a
// generated bitmap, then the displacement, water level, terrain and reflection imports, markers of
// every type and a connector). The result is the five install archives in "tags", one level-0
// plugin in "plugins" carrying a map of its own, and an empty "local". The same build always gives
// the same bytes: nothing depends on the time, the machine or a random source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/text.h"
#include "tag_files/archive_writer.h"

// ---- identifiers shared by the definitions and the maps ----

namespace content_ids {
inline constexpr tag water_media = make_tag("watr");
inline constexpr tag bog_media = make_tag("bogw");
inline constexpr tag day_lighting = make_tag("gras");  // the lighting every new map names
inline constexpr tag dusk_lighting = make_tag("dusk");
inline constexpr tag observer_constants = make_tag("obpc");  // the identifier maps open with
inline constexpr tag breeze = make_tag("brez");
inline constexpr tag rope_fence = make_tag("fenc");
inline constexpr tag keyword_list = make_tag("in#2");
inline constexpr tag default_template = make_tag("defa");
inline constexpr tag placeholder_object = make_tag("basc");
inline constexpr tag placeholder_collection = make_tag("plac");

// sounds and ambient sounds share identifiers
inline constexpr tag river_sound = make_tag("rivr");
inline constexpr tag wind_sound = make_tag("wind");
inline constexpr tag bird_sound = make_tag("bird");
inline constexpr tag fire_sound = make_tag("fire");

// collections and the collection references that dress them share identifiers
inline constexpr tag soldiers = make_tag("sold");
inline constexpr tag creatures = make_tag("crea");
inline constexpr tag flora = make_tag("flor");
inline constexpr tag effects = make_tag("efct");
inline constexpr tag buildings = make_tag("bldg");

// monsters and the units made of them share identifiers
inline constexpr tag warrior = make_tag("warr");
inline constexpr tag archer = make_tag("arch");
inline constexpr tag wolf = make_tag("wolf");
inline constexpr tag bear = make_tag("bear");

inline constexpr tag pine_tree = make_tag("pine");
inline constexpr tag oak_tree = make_tag("oakt");
inline constexpr tag boulder = make_tag("bldr");
inline constexpr tag fence_post = make_tag("post");  // scenery flag 0x08
inline constexpr tag bush = make_tag("bush");

inline constexpr tag arrow = make_tag("arrw");
inline constexpr tag fireball = make_tag("fbal");
inline constexpr tag thrown_rock = make_tag("rock");
inline constexpr tag arrow_volley = make_tag("vlly");
inline constexpr tag fireball_salvo = make_tag("salv");
inline constexpr tag chimney_smoke = make_tag("smok");
inline constexpr tag fireflies = make_tag("flys");

inline constexpr tag hut = make_tag("hut ");
inline constexpr tag watch_tower = make_tag("towr");
inline constexpr tag bridge = make_tag("brdg");
inline constexpr tag windmill = make_tag("mill");
inline constexpr tag windmill_frame_0 = make_tag("mil0");  // frames 0..3: mil0..mil3

inline constexpr tag valley_description = make_tag("dval");
inline constexpr tag highlands_description = make_tag("dhig");
inline constexpr tag islet_description = make_tag("disl");
inline constexpr tag demo_messages = make_tag("msgs");
}  // namespace content_ids

// The file names the build writes.
inline constexpr const char CONTENT_PLUGIN_FILE_NAME[] = "Demo Plugin";

// ---- the parts, for the tests ----

// Every definition tag, the sprite collections and the string lists and templates, in a fixed
// order, each with its group's install class. False (reported) if any record can't be built.
bool content_build_definitions(std::vector<archive_writer_tag>* tags);

// The five install archives for a set of tags: each tag goes into the archive of its install
// class; the entry points go into the archive holding the maps ("small install").
void content_build_install_archives(const std::vector<archive_writer_tag>& tags,
                                    const std::vector<archive_writer_entry_point>& entry_points,
                                    std::vector<archive_writer_archive>* archives);

// ---- the whole build ----

// Writes the five install archives into out_folder/tags, the plugin into out_folder/plugins and
// creates out_folder/local when missing (existing local tags are left alone). The maps are made in
// a child process working in a fresh temporary folder, so this process's engine state, working
// folder and locks are not touched; call it from a process that has not started the engine.
// False on failure, with a one-line reason in *failure (the child's log is then kept and named).
bool content_build(const std::string& out_folder, std::string* failure);
