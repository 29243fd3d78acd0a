// Loading and saving the open map. A `mesh` tag's data is the 1024-byte header followed by seven
// sections (cells, marker palette, markers, map actions, media coverage region, LOD data,
// connectors), all big-endian. Loading checks every offset, size and count against the tag before
// it reads anything; saving writes the whole new contents of the tag in one atomic replacement.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/mesh.h"

// Loads the `mesh` definition (read, upgraded, postprocessed) and every section of the map, and
// prepares the cells. Any map open before is unloaded first. False (reported) when the tag is
// missing, of a version that can't be used, or corrupted; no map is open then. The definition
// groups must be valid. Each corruption found is also appended to faults when given.
[[nodiscard]] bool mesh_load(tag map_identifier, std::vector<std::string>* faults = nullptr);
// Frees every section and the row index and drops the definition; no map is open afterwards.
void mesh_unload();
// Writes the open map back into its tag (an archive map becomes a local tag). Atomic: on failure
// the tag keeps its previous contents, and the map in memory is as it was before the save.
[[nodiscard]] bool mesh_save();
// Writes the header and new cells of a map of width x height submeshes into a freshly created tag.
[[nodiscard]] bool mesh_create(int32_t tag_index, tag media_tag, int16_t width, int16_t height);
// Reads and converts only the header of a `mesh` tag.
[[nodiscard]] bool mesh_read_header(int32_t tag_index, mesh_definition* header);

// Checks a header in native order against the size of the tag's data: dimensions, counts against
// sizes, every section inside the data and no two overlapping. Each fault found is appended to
// faults (one line each, without the map's name); true when there is none.
bool mesh_check_layout(const mesh_definition& header, int64_t tag_data_size, std::vector<std::string>* faults);

// Lays the seven sections out contiguously in stored order from their sizes (data at 1024).
void mesh_definition_lay_out(mesh_definition* header);

// The number of teams the palette's Unit entries make: one more than the highest team among them.
int32_t mesh_team_count();

// The stored bytes of the open map's tag data as mesh_save would write them (header and
// sections, big-endian). False on allocation failure.
bool mesh_build_stored_data(std::vector<uint8_t>* data);
