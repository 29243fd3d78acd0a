// The tools window's faces: a small picture for each of the sixteen tools, drawn in code so that
// no two look alike. Colours keep to the 5-5-5 screen (each channel a multiple of 8).
#pragma once

#include <QIcon>

#include <cstdint>

// 22 x 19 pixels; an empty icon for an index outside the table.
QIcon ToolIcon(int32_t index);
