// The engine's sine and cosine tables: 1024 equal steps of a turn, values in 2.14 (16384 = 1.0).
// An angle of 65536 to a turn reads entry ((angle + 32) >> 6) mod 1024, its nearest step.
#pragma once

#include <cstdint>

inline constexpr int32_t TRIG_TABLE_SIZE = 1024;
inline constexpr int32_t TRIG_ONE = 16384;  // 1.0 in 2.14
inline constexpr int32_t TRIG_SHIFT = 14;
inline constexpr int32_t ANGLE_FULL_TURN = 65536;

int32_t trig_index(uint32_t angle);
int32_t world_cosine(uint32_t angle);
int32_t world_sine(uint32_t angle);
// The angle 0..65535 of the direction (dx, dy); 0 for (0, 0).
uint16_t world_arctangent(int32_t dx, int32_t dy);
