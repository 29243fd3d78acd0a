// Connectors: ordered chains of scenery markers joined into one visible structure (a fence or a
// rope strung between posts), at most 32 per map and 31 posts per chain.
//
// The committed chains are the open map's connectors section itself, so every change is one step
// of the edit journal and Undo and Redo take it back; the header's count and size follow the
// section, which is what saving writes. The connecting globals keep only what is not map state:
// whether a new chain is being collected and that chain, kept apart until it is committed. The
// display records (one per chain whose posts have objects) are derived from the section and the
// markers' objects, and rebuilt on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "map/markers.h"
#include "map/mesh.h"

enum {
  MAXIMUM_MARKERS_PER_CONNECTOR = 31,
  CONNECTOR_DISPLAY_RECORD_SIZE = 512,
};

// One stored chain, 64 bytes (32 int16 big-endian on disk, native in memory).
struct connector_record {
  int16_t marker_identifiers[MAXIMUM_MARKERS_PER_CONNECTOR];  // of scenery markers, in chain order
  int16_t chain_length;                                       // 0..31 used entries
};
static_assert(sizeof(connector_record) == CONNECTOR_RECORD_SIZE);
static_assert(offsetof(connector_record, chain_length) == 62);

// The connector definition (`conn`, 32 bytes): the look of the band.
struct connector_definition {
  uint32_t flags;
  tag collection_reference_tag;        // `core`
  int16_t collection_reference_index;  // run time: loaded with the definition
  int16_t sequence;
  int16_t minimum_height, maximum_height;  // the band's vertical extent above the ground
  uint8_t reserved[16];
};
static_assert(sizeof(connector_definition) == 32);
static_assert(offsetof(connector_definition, minimum_height) == 12);

// ---- life ----

// Allocates the connecting globals ("couldn't allocate #%d bytes for connecting globals.", fatal)
// and the display array, installs the connector definitions' procedures, takes every marker
// deletion and registers with the map session. Once per process; later calls answer true.
bool connectors_initialize();
// The map was opened: not collecting, display records built.
void connectors_open();
// Before the mesh tag is written: the header's count and size describe the section. False
// (reported) when they do not, which stops the save rather than write a broken section.
[[nodiscard]] bool connectors_store();

// ---- the committed chains (read) ----

int32_t connector_count();
// The committed chain at index, none outside 0..count-1.
const connector_record* connector_get(int32_t index);
// The first committed connector after index `after` (-1: from the start) whose chain holds the
// scenery marker; -1 when none (always for a marker of another type). *position, when given,
// receives the marker's place in that chain.
int32_t connector_find_marker(const marker_data& marker, int32_t after, int16_t* position = nullptr);

// ---- collecting a new chain ----

// Starts collecting. False (nothing starts) without an open map or when 32 connectors exist.
bool connector_begin();
bool connector_creating();
// While collecting: appends a scenery marker's identifier to the new chain when it holds fewer
// than 31. True when it was appended; other markers and a full chain are ignored.
bool connector_add_marker(const marker_data& marker);
// The chain being collected (empty while not collecting).
std::span<const int16_t> connector_collected();
// Stops collecting. A chain with at least one marker is committed as one journal step when the
// map's connector definitions are loaded and fewer than 32 connectors exist; otherwise it is
// discarded (noted in the log). True when a connector was committed; the map changes only then.
bool connector_end();

// ---- removing ----

enum connector_removal : int16_t {
  _connector_removal_none = 0,  // the marker is in no chain (or is not scenery)
  _connector_removal_done,      // taken out of every chain that held it
  _connector_removal_joined,    // and a chain that should have split was joined instead: the table was full
};
// Takes a scenery marker out of every chain that holds it, the committed ones (one journal step)
// and the one being collected: a chain of one goes; an end entry goes; a middle entry splits the
// chain in two, or, when 32 connectors exist, joins its neighbours (reported as a warning).
// Markers of other types are left alone: their identifiers are another type's.
connector_removal connector_remove_marker(const marker_data& marker);
// Stops collecting and removes every connector (one journal step when there were any). True when
// connectors were removed.
bool connectors_remove_all();

// Replaces every connector with the records given (32 int16 each, native order): one journal step.
// False (reported) when a record's chain is longer than a record holds or the list can't be
// allocated; the connectors are then unchanged.
[[nodiscard]] bool connectors_replace_all(std::span<const int16_t> records);

// ---- the display records the renderer draws as bands ----

enum connector_link_flags : uint16_t {
  _connector_link_joined = 0x0001,  // the next post in the chain has an object: draw a band to it
};

struct connector_link {
  int16_t object_index;       // this post's object
  int16_t object_identifier;
  uint16_t flags;             // connector_link_flags
  int16_t next_object_index;  // the next post's object when joined, NONE otherwise
  int16_t next_object_identifier;
  int16_t marker_identifier;  // this post's scenery marker
  uint8_t unused[4];
};
static_assert(sizeof(connector_link) == 16);

// An element of the "connectors" data array: one committed chain with at least one post whose
// object exists. links are those posts, in chain order; a missing post (or one without object)
// breaks the chain, so its neighbours are not joined.
struct connector_display {
  int16_t identifier;           // the data array's
  int16_t connector_index;      // in the committed table
  int16_t definition_index;     // connector definitions
  int16_t color_table_index;    // the first shading table of the definition's collection reference; NONE
  int16_t link_count;
  uint8_t unused[6];
  connector_link links[MAXIMUM_MARKERS_PER_CONNECTOR];
};
static_assert(sizeof(connector_display) == CONNECTOR_DISPLAY_RECORD_SIZE);

// Rebuilds the display array from the committed chains and the markers' objects; none are built
// while no connector definition is loaded. Answers how many elements it holds.
int32_t connectors_build_all();
// The display records, rebuilt first so they follow Undo, Redo and every marker change; read-only,
// good until the next call. Empty without an open map.
std::span<const connector_display> connectors_display_records();
