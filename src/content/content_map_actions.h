// The demo maps' scripts: one action of every template with parameters of every value type, the
// custom parameters the templates can't name among them, links between the actions, a separator
// and indented notes. Made with the editor's own operations on the open map.
#pragma once

#include "content/content_maps.h"

// Adds the actions to the open map; false on the first failure (reported).
bool content_add_map_actions(const content_map_plan& plan);
