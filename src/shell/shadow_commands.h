// The shell's side of the shadow maps: the Maps > Shadow Map commands and the "Shadow Tool"
// pop-up of the Submesh tool, over the shadow editor and the model animation shadows.
#pragma once

#include <cstdint>

class QWidget;
class QPoint;

// The model animation marker the two model animation commands work on: the one the marker
// selection names (it tells this module when a lone model animation marker becomes selected),
// while the menu rules count a model animation as current; else -1.
void ShadowCommandsSetCurrentModelAnimationMarker(int32_t marker_index);
int32_t ShadowCommandsCurrentModelAnimationMarker();

// Shows the "Shadow Tool" pop-up at a global screen position for the submesh under the world
// point and runs the chosen item. For the Submesh tool's mouse handling.
void ShowShadowToolPopup(QWidget* parent, const QPoint& global_position, int32_t world_x, int32_t world_y);
