// The open map's connectors as one recorded change: the list replaced whole.
#pragma once

#include <cstdint>
#include <span>

// Replaces every connector with the records given (32 int16 each, native order): one journal step.
// False (reported) when a record's chain is longer than a record holds or the list can't be
// allocated; the connectors are then unchanged.
[[nodiscard]] bool connectors_replace_all(std::span<const int16_t> records);
