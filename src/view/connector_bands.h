// The bands the visual view draws between the posts of each fence or rope: the connectors' display
// records turned into the renderer's band procedures.
#pragma once

// Registers the procedures with the renderer (idempotent).
void connector_bands_register();
