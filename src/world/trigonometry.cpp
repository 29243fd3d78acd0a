#include "world/trigonometry.h"

#include <array>
#include <cmath>

namespace {

struct trig_tables {
  std::array<int16_t, TRIG_TABLE_SIZE> cosine, sine;
};

const trig_tables& tables() {
  static const trig_tables built = [] {
    trig_tables t{};
    for (int32_t i = 0; i < TRIG_TABLE_SIZE; ++i) {
      const double a = 2.0 * M_PI * i / TRIG_TABLE_SIZE;
      t.cosine[size_t(i)] = int16_t(std::lround(std::cos(a) * TRIG_ONE));
      t.sine[size_t(i)] = int16_t(std::lround(std::sin(a) * TRIG_ONE));
    }
    return t;
  }();
  return built;
}

}  // namespace

int32_t trig_index(uint32_t angle) { return int32_t(((angle & 0xFFFF) + 32) >> 6) & (TRIG_TABLE_SIZE - 1); }
int32_t world_cosine(uint32_t angle) { return tables().cosine[size_t(trig_index(angle))]; }
int32_t world_sine(uint32_t angle) { return tables().sine[size_t(trig_index(angle))]; }

uint16_t world_arctangent(int32_t dx, int32_t dy) {
  if (dx == 0 && dy == 0) return 0;
  const double turns = std::atan2(double(dy), double(dx)) / (2.0 * M_PI);
  return uint16_t(int32_t(std::lround(turns * ANGLE_FULL_TURN)) & 0xFFFF);
}
