// The rasteriser: triangles clipped at the near plane and filled scan line by scan line with their
// attributes interpolated as planes in screen space (1/z, u/z, v/z, so texturing is perspective
// correct), lines, rectangles and the small font. Everything is clipped to the buffer.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "view/render_private.h"

namespace {

struct vertex {
  float x, y;    // buffer
  float iz;      // 1 / z
  float uz, vz;  // u / z, v / z
};

int32_t clamp_to_int(float value, int32_t low, int32_t high) {
  if (!(value > float(low))) return low;  // NaN too
  if (value > float(high)) return high;
  return int32_t(value);
}

// Calls shader.span(row, x_start, x_end, iz, uz, vz, d_iz, d_uz, d_vz) for every covered run.
template <class Shader>
void fill(const vertex& a, const vertex& b, const vertex& c, Shader& shader) {
  const vertex* v[3] = {&a, &b, &c};
  if (v[0]->y > v[1]->y) std::swap(v[0], v[1]);
  if (v[1]->y > v[2]->y) std::swap(v[1], v[2]);
  if (v[0]->y > v[1]->y) std::swap(v[0], v[1]);
  const vertex &p0 = *v[0], &p1 = *v[1], &p2 = *v[2];
  const float area = (p1.x - p0.x) * (p2.y - p0.y) - (p2.x - p0.x) * (p1.y - p0.y);
  if (!(std::fabs(area) > 1e-4f)) return;
  const float inverse = 1.0f / area;
  auto gradient = [&](float a0, float a1, float a2, float* dx, float* dy) {
    *dx = ((a1 - a0) * (p2.y - p0.y) - (a2 - a0) * (p1.y - p0.y)) * inverse;
    *dy = ((a2 - a0) * (p1.x - p0.x) - (a1 - a0) * (p2.x - p0.x)) * inverse;
  };
  float iz_dx, iz_dy, uz_dx, uz_dy, vz_dx, vz_dy;
  gradient(p0.iz, p1.iz, p2.iz, &iz_dx, &iz_dy);
  gradient(p0.uz, p1.uz, p2.uz, &uz_dx, &uz_dy);
  gradient(p0.vz, p1.vz, p2.vz, &vz_dx, &vz_dy);
  const int32_t y_start = clamp_to_int(std::ceil(p0.y - 0.5f), 0, RENDER_HEIGHT);
  const int32_t y_end = clamp_to_int(std::ceil(p2.y - 0.5f), 0, RENDER_HEIGHT);
  const auto slope = [](const vertex& a, const vertex& b) { return b.y == a.y ? 0.0f : (b.x - a.x) / (b.y - a.y); };
  const float s02 = slope(p0, p2), s01 = slope(p0, p1), s12 = slope(p1, p2);
  for (int32_t y = y_start; y < y_end; ++y) {
    const float yc = float(y) + 0.5f;
    float xa = p0.x + (yc - p0.y) * s02;
    float xb = yc < p1.y ? p0.x + (yc - p0.y) * s01 : p1.x + (yc - p1.y) * s12;
    if (xa > xb) std::swap(xa, xb);
    const int32_t xs = clamp_to_int(std::ceil(xa - 0.5f), 0, RENDER_WIDTH);
    const int32_t xe = clamp_to_int(std::ceil(xb - 0.5f), 0, RENDER_WIDTH);
    if (xs >= xe) continue;
    const float dx = float(xs) + 0.5f - p0.x, dy = yc - p0.y;
    shader.span(y, xs, xe, p0.iz + iz_dx * dx + iz_dy * dy, p0.uz + uz_dx * dx + uz_dy * dy,
                p0.vz + vz_dx * dx + vz_dy * dy, iz_dx, uz_dx, vz_dx);
  }
}

vertex project(const render_point& p) {
  const render_screen_point s = render_project(p);
  return {s.x, s.y, s.iz, p.u * s.iz, p.v * s.iz};
}

render_point lerp(const render_point& a, const render_point& b, float t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t, a.u + (b.u - a.u) * t,
          a.v + (b.v - a.v) * t};
}

// Clips the triangle at the near plane and fills what is left (a triangle or a quadrilateral).
template <class Shader>
void clip_and_fill(const render_point& a, const render_point& b, const render_point& c, Shader& shader) {
  const render_point* in[3] = {&a, &b, &c};
  if (a.z >= RENDER_NEAR && b.z >= RENDER_NEAR && c.z >= RENDER_NEAR) {
    fill(project(a), project(b), project(c), shader);
    return;
  }
  render_point out[4];
  int32_t count = 0;
  for (int32_t i = 0; i < 3; ++i) {
    const render_point& p = *in[i];
    const render_point& q = *in[(i + 1) % 3];
    const bool p_in = p.z >= RENDER_NEAR, q_in = q.z >= RENDER_NEAR;
    if (p_in) out[count++] = p;
    if (p_in != q_in) out[count++] = lerp(p, q, (RENDER_NEAR - p.z) / (q.z - p.z));
  }
  if (count < 3) return;
  const vertex v0 = project(out[0]);
  for (int32_t i = 1; i + 1 < count; ++i) fill(v0, project(out[i]), project(out[i + 1]), shader);
}

struct textured_shader {
  uint16_t* pixels;
  const render_texture* texture;
  int32_t drawn;
  void span(int32_t y, int32_t xs, int32_t xe, float iz, float uz, float vz, float diz, float duz, float dvz) {
    float* depth = render->depth + y * RENDER_WIDTH;
    uint16_t* row = pixels + y * RENDER_WIDTH;
    const uint8_t* colors = texture->colors;
    const uint8_t* shadows = texture->shadows;
    const uint16_t* shades = texture->shades;
    // Perspective-correct every eight pixels, straight lines in between: the error is far below a
    // texel at the sizes cells take on screen.
    constexpr int32_t kRun = 8;
    float z = 1.0f / iz;
    float u0 = uz * z, v0 = vz * z;
    for (int32_t x = xs; x < xe;) {
      const int32_t n = std::min(kRun, xe - x);
      const float iz1 = iz + diz * float(n);
      const float z1 = 1.0f / iz1;
      const float u1 = (uz + duz * float(n)) * z1, v1 = (vz + dvz * float(n)) * z1;
      // In 16.16 between ends kept inside the texture, so no texel needs its own clamp.
      const auto fixed = [](float t) { return int32_t(std::clamp(t, 0.0f, 255.99f) * 65536.0f); };
      int32_t u = fixed(u0), v = fixed(v0);
      const int32_t du = (fixed(u1) - u) / n, dv = (fixed(v1) - v) / n;
      float pixel_iz = iz;
      for (int32_t k = 0; k < n; ++k, ++x, u += du, v += dv, pixel_iz += diz) {
        if (pixel_iz <= depth[x]) continue;
        depth[x] = pixel_iz;
        const int32_t texel = ((v >> 8) & 0xFF00) | (u >> 16);
        row[x] = shades[((shadows[texel] >> 2) << 8) | colors[texel]];
      }
      iz = iz1;
      uz += duz * float(n);
      vz += dvz * float(n);
      u0 = u1;
      v0 = v1;
    }
    drawn += xe - xs;
  }
};

struct flat_shader {
  uint16_t* pixels;
  uint16_t color;
  bool write_depth;
  void span(int32_t y, int32_t xs, int32_t xe, float iz, float, float, float diz, float, float) {
    float* depth = render->depth + y * RENDER_WIDTH;
    uint16_t* row = pixels + y * RENDER_WIDTH;
    for (int32_t x = xs; x < xe; ++x, iz += diz) {
      if (iz <= depth[x]) continue;
      if (write_depth) depth[x] = iz;
      row[x] = color;
    }
  }
};

struct blend_shader {
  uint16_t* pixels;
  uint16_t color;
  void span(int32_t y, int32_t xs, int32_t xe, float iz, float, float, float diz, float, float) {
    const float* depth = render->depth + y * RENDER_WIDTH;
    uint16_t* row = pixels + y * RENDER_WIDTH;
    // A little lift so a surface on the ground blends over it.
    for (int32_t x = xs; x < xe; ++x, iz += diz)
      if (iz * 1.003f >= depth[x]) row[x] = render_blend_half(row[x], color);
  }
};

// The 5 x 8 font, a column of eight rows to a byte (bit 0 on top), characters 32 to 126.
const uint8_t font[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00}, {0x00, 0x07, 0x00, 0x07, 0x00},
    {0x14, 0x7F, 0x14, 0x7F, 0x14}, {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x56, 0x20, 0x50}, {0x00, 0x08, 0x07, 0x03, 0x00}, {0x00, 0x1C, 0x22, 0x41, 0x00},
    {0x00, 0x41, 0x22, 0x1C, 0x00}, {0x2A, 0x1C, 0x7F, 0x1C, 0x2A}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x80, 0x70, 0x30, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08}, {0x00, 0x00, 0x60, 0x60, 0x00},
    {0x20, 0x10, 0x08, 0x04, 0x02}, {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x72, 0x49, 0x49, 0x49, 0x46}, {0x21, 0x41, 0x49, 0x4D, 0x33}, {0x18, 0x14, 0x12, 0x7F, 0x10},
    {0x27, 0x45, 0x45, 0x45, 0x39}, {0x3C, 0x4A, 0x49, 0x49, 0x31}, {0x41, 0x21, 0x11, 0x09, 0x07},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x46, 0x49, 0x49, 0x29, 0x1E}, {0x00, 0x00, 0x14, 0x00, 0x00},
    {0x00, 0x40, 0x34, 0x00, 0x00}, {0x00, 0x08, 0x14, 0x22, 0x41}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x00, 0x41, 0x22, 0x14, 0x08}, {0x02, 0x01, 0x59, 0x09, 0x06}, {0x3E, 0x41, 0x5D, 0x59, 0x4E},
    {0x7C, 0x12, 0x11, 0x12, 0x7C}, {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x41, 0x3E}, {0x7F, 0x49, 0x49, 0x49, 0x41}, {0x7F, 0x09, 0x09, 0x09, 0x01},
    {0x3E, 0x41, 0x41, 0x51, 0x73}, {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41}, {0x7F, 0x40, 0x40, 0x40, 0x40},
    {0x7F, 0x02, 0x1C, 0x02, 0x7F}, {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E}, {0x7F, 0x09, 0x19, 0x29, 0x46},
    {0x26, 0x49, 0x49, 0x49, 0x32}, {0x03, 0x01, 0x7F, 0x01, 0x03}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x3F, 0x40, 0x38, 0x40, 0x3F}, {0x63, 0x14, 0x08, 0x14, 0x63},
    {0x03, 0x04, 0x78, 0x04, 0x03}, {0x61, 0x59, 0x49, 0x4D, 0x43}, {0x00, 0x7F, 0x41, 0x41, 0x41},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x00, 0x41, 0x41, 0x41, 0x7F}, {0x04, 0x02, 0x01, 0x02, 0x04},
    {0x40, 0x40, 0x40, 0x40, 0x40}, {0x00, 0x03, 0x07, 0x08, 0x00}, {0x20, 0x54, 0x54, 0x78, 0x40},
    {0x7F, 0x28, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x28}, {0x38, 0x44, 0x44, 0x28, 0x7F},
    {0x38, 0x54, 0x54, 0x54, 0x18}, {0x00, 0x08, 0x7E, 0x09, 0x02}, {0x18, 0xA4, 0xA4, 0x9C, 0x78},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00}, {0x20, 0x40, 0x40, 0x3D, 0x00},
    {0x7F, 0x10, 0x28, 0x44, 0x00}, {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x78, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38}, {0xFC, 0x18, 0x24, 0x24, 0x18},
    {0x18, 0x24, 0x24, 0x18, 0xFC}, {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x24},
    {0x04, 0x04, 0x3F, 0x44, 0x24}, {0x3C, 0x40, 0x40, 0x20, 0x7C}, {0x1C, 0x20, 0x40, 0x20, 0x1C},
    {0x3C, 0x40, 0x30, 0x40, 0x3C}, {0x44, 0x28, 0x10, 0x28, 0x44}, {0x4C, 0x90, 0x90, 0x90, 0x7C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00}, {0x00, 0x00, 0x77, 0x00, 0x00},
    {0x00, 0x41, 0x36, 0x08, 0x00}, {0x02, 0x01, 0x02, 0x04, 0x02},
};

void plot(uint16_t* pixels, int32_t x, int32_t y, uint16_t color) {
  if (x >= 0 && x < RENDER_WIDTH && y >= 0 && y < RENDER_HEIGHT) pixels[y * RENDER_WIDTH + x] = color;
}

void draw_glyphs(uint16_t* pixels, int32_t x, int32_t y, const char* text, uint16_t color) {
  for (const char* c = text; *c; ++c, x += 6) {
    const int32_t code = uint8_t(*c);
    if (code < 32 || code > 126) continue;
    for (int32_t column = 0; column < 5; ++column) {
      const uint8_t bits = font[code - 32][column];
      for (int32_t row = 0; row < 8; ++row)
        if (bits & (1 << row)) plot(pixels, x + column, y + row, color);
    }
  }
}

// Liang-Barsky: keeps the part of the segment inside the buffer; false when none is.
bool clip_segment(float* x0, float* y0, float* a0, float* x1, float* y1, float* a1) {
  float t0 = 0.0f, t1 = 1.0f;
  const float dx = *x1 - *x0, dy = *y1 - *y0;
  const float p[4] = {-dx, dx, -dy, dy};
  const float q[4] = {*x0, float(RENDER_WIDTH - 1) - *x0, *y0, float(RENDER_HEIGHT - 1) - *y0};
  for (int32_t i = 0; i < 4; ++i) {
    if (p[i] == 0.0f) {
      if (q[i] < 0.0f) return false;
      continue;
    }
    const float t = q[i] / p[i];
    if (p[i] < 0.0f) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const float ox = *x0, oy = *y0, oa = *a0, da = *a1 - *a0;
  *x0 = ox + dx * t0;
  *y0 = oy + dy * t0;
  *a0 = oa + da * t0;
  *x1 = ox + dx * t1;
  *y1 = oy + dy * t1;
  *a1 = oa + da * t1;
  return true;
}

void draw_line(uint16_t* pixels, float x0, float y0, float iz0, float x1, float y1, float iz1, uint16_t color,
               bool depth_test, bool dashed, bool blend = false) {
  if (!clip_segment(&x0, &y0, &iz0, &x1, &y1, &iz1)) return;
  const int32_t steps = std::max(1, int32_t(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))));
  const float sx = (x1 - x0) / float(steps), sy = (y1 - y0) / float(steps), sz = (iz1 - iz0) / float(steps);
  float x = x0, y = y0, iz = iz0;
  for (int32_t i = 0; i <= steps; ++i, x += sx, y += sy, iz += sz) {
    if (dashed && (i & 4)) continue;
    const int32_t px = std::clamp(int32_t(x + 0.5f), 0, RENDER_WIDTH - 1);
    const int32_t py = std::clamp(int32_t(y + 0.5f), 0, RENDER_HEIGHT - 1);
    const int32_t index = py * RENDER_WIDTH + px;
    if (depth_test && iz * 1.01f < render->depth[index]) continue;
    pixels[index] = blend ? render_blend_half(pixels[index], color) : color;
  }
}

}  // namespace

void render_triangle_textured(uint16_t* pixels, const render_point& a, const render_point& b, const render_point& c,
                              const render_texture& texture, int32_t* drawn) {
  textured_shader shader{pixels, &texture, 0};
  clip_and_fill(a, b, c, shader);
  if (drawn) *drawn += shader.drawn;
}

void render_triangle_flat(uint16_t* pixels, const render_point& a, const render_point& b, const render_point& c,
                          uint16_t color, bool write_depth) {
  flat_shader shader{pixels, color, write_depth};
  clip_and_fill(a, b, c, shader);
}

void render_triangle_blend(uint16_t* pixels, const render_point& a, const render_point& b, const render_point& c,
                           uint16_t color) {
  blend_shader shader{pixels, color};
  clip_and_fill(a, b, c, shader);
}

void render_line_3d(uint16_t* pixels, const render_point& a, const render_point& b, uint16_t color,
                    bool always_on_top, bool blend) {
  render_point p = a, q = b;
  if (p.z < RENDER_NEAR && q.z < RENDER_NEAR) return;
  if (p.z < RENDER_NEAR) p = lerp(p, q, (RENDER_NEAR - p.z) / (q.z - p.z));
  if (q.z < RENDER_NEAR) q = lerp(q, p, (RENDER_NEAR - q.z) / (p.z - q.z));
  const render_screen_point s = render_project(p), t = render_project(q);
  draw_line(pixels, s.x, s.y, s.iz, t.x, t.y, t.iz, color, !always_on_top, false, blend);
}

void render_line_2d(uint16_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color, bool dashed) {
  draw_line(pixels, float(x0), float(y0), 0.0f, float(x1), float(y1), 0.0f, color, false, dashed);
}

void render_fill_rect(uint16_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t color) {
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, RENDER_WIDTH - 1);
  y1 = std::min(y1, RENDER_HEIGHT - 1);
  if (x0 > x1 || y0 > y1) return;
  for (int32_t y = y0; y <= y1; ++y) std::fill(pixels + y * RENDER_WIDTH + x0, pixels + y * RENDER_WIDTH + x1 + 1, color);
}

void render_text(uint16_t* pixels, int32_t x, int32_t y, const char* text, uint16_t color) {
  draw_glyphs(pixels, x + 1, y + 1, text, 0);
  draw_glyphs(pixels, x, y, text, color);
}
