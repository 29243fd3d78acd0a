#include "view/connector_bands.h"

#include <algorithm>
#include <vector>

#include "render/screen.h"
#include "tools/vellgrim_connectors.h"
#include "view/render.h"
#include "world/objects.h"

namespace {

// A fence stands about half a cell high; the colour is a weathered wood that reads on grass,
// rock and snow alike.
constexpr int32_t BAND_THICKNESS = 256;
constexpr uint16_t BAND_COLOR = screen_pixel(0x9800, 0x7000, 0x4000);

// Filled by count() for the get() calls of the same frame.
std::vector<render_connector_band> bands;

void collect_bands() {
  bands.clear();
  for (const connector_display& display : connectors_display_records()) {
    const int32_t links = std::clamp<int32_t>(display.link_count, 0, MAXIMUM_MARKERS_PER_CONNECTOR);
    for (int32_t i = 0; i < links; ++i) {
      const connector_link& link = display.links[i];
      if (!(link.flags & _connector_link_joined)) continue;
      const world_object* from = object_get(link.object_index);
      const world_object* to = object_get(link.next_object_index);
      if (!from || !to) continue;
      bands.push_back({from->location, to->location, BAND_THICKNESS, BAND_COLOR, 0});
    }
  }
}

int32_t band_count() {
  collect_bands();
  return static_cast<int32_t>(bands.size());
}

bool band_get(int32_t index, render_connector_band* band) {
  if (index < 0 || index >= static_cast<int32_t>(bands.size())) return false;
  *band = bands[index];
  return true;
}

// Changes whenever a band appears, goes or moves, so the view redraws for it.
uint64_t band_stamp() {
  collect_bands();
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const render_connector_band& band : bands) {
    const int32_t values[6] = {band.start.x, band.start.y, band.start.z, band.end.x, band.end.y, band.end.z};
    for (int32_t value : values) hash = (hash ^ static_cast<uint32_t>(value)) * 0x100000001B3ull;
  }
  return hash ^ bands.size();
}

const render_connector_procedures band_procedures = {band_count, band_get, band_stamp};

}  // namespace

void connector_bands_register() { render_set_connector_procedures(&band_procedures); }
