// The marker palette dialog, the palette entry dialog and the Edit Marker dialog. Every change they
// make to the map goes through the marker operations as one journal step.
#pragma once

#include <cstdint>
#include <string>

#include "map/markers.h"

// The marker palette dialog of one marker type (modal); the tools window opens it on a double-click.
void OpenMarkerPalette(int16_t marker_type);
// The add flow of a marker type: true when an entry was added.
bool AddPaletteEntry(int16_t marker_type);
// The Edit Marker dialog for one marker (by index): true when it ended with OK and changed the map.
bool EditMarker(int32_t marker_index);
// The Edit Marker dialog for every selected marker at once.
bool EditSelectedMarkers();

// The palette entry dialog's bands.
enum palette_entry_section : uint16_t {
  _entry_section_tag = 1,
  _entry_section_team = 2,
  _entry_section_unit_flags = 4,
  _entry_section_netgame_types = 8,
};
// The palette entry dialog ("Select a marker palette entry") on a copy of an entry: shows the bands
// in `sections`, and on OK writes back only those. The tag band lists "No Tag" and the tags of
// `group`. True when it ended with OK.
bool EditPaletteEntry(marker_palette_entry* entry, uint16_t sections, tag group);
// The bands a type's entry dialog shows; 0 for a type without one (Model, the unused types).
uint16_t palette_entry_sections(int16_t marker_type);

// The name of the entry's tag in its type's group; "" when it has none.
std::string palette_entry_tag_name(const marker_palette_entry& entry);
// The Flags column of a unit entry: "Unc / VET" for 0x01 and 0x08; "" for none.
std::string palette_entry_flags_text(uint16_t flags);
