// The visual view's frames: a new one is drawn into the screen's buffer only when what it shows
// has changed (the camera moved, the map, its markers or objects changed, a message appeared), so an
// idle editor draws nothing.
#pragma once

// After the engine step: draws a frame when the scene changed; true when it did (the frame must be
// shown and the overhead view follow it).
bool visual_view_step();
// The next step draws whatever happens (a command ran, a window came back).
void visual_view_invalidate();
