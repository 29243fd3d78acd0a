// vellgrim-tool render: the visual view's frame of a map into a PNG file, the pick query at a point
// or over a rectangle, the frame time over repeated frames, and the overhead view, all headless.
//
// The command's arguments are one record and its outputs steps after the frame is drawn, so a
// further picture of the same map is one more option and one more step.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "cli/png_file.h"
#include "map/mesh.h"
#include "platform/ui_host.h"
#include "render/screen.h"
#include "session/engine.h"
#include "tools/map_session.h"
#include "view/render.h"

namespace {

struct render_arguments {
  std::string name;
  std::string out;       // FRAME.png
  std::string observer;  // X,Y,Z in cells
  double facing = NAN;   // degrees
  double pitch = NAN;    // degrees, negative looks down
  std::string wireframe = "none";
  std::string media, objects, models, reduced_lod;  // on|off; empty keeps the default
  std::string pick, pick_rect;
  int32_t frames = 0;
  std::string overhead;  // OVER.png
  float overhead_zoom = 1.0f;
};

bool visual_view_asked(const render_arguments& arguments) {
  return !arguments.out.empty() || !arguments.pick.empty() || !arguments.pick_rect.empty() || arguments.frames > 0;
}

bool parse_numbers(const std::string& text, int count, double* values) {
  const char* p = text.c_str();
  for (int i = 0; i < count; ++i) {
    char* end = nullptr;
    values[i] = std::strtod(p, &end);
    if (end == p || !std::isfinite(values[i])) return false;
    p = end;
    if (i + 1 < count) {
      if (*p != ',') return false;
      ++p;
    }
  }
  return *p == 0;
}

bool parse_switch(cli_options& options, const char* option, const std::string& text, int32_t* value) {
  if (text.empty()) return true;
  if (text == "on") {
    *value = 1;
  } else if (text == "off") {
    *value = 0;
  } else {
    return cli_fail(options, "bad %s '%s': give on or off", option, text.c_str());
  }
  return true;
}

bool parse_wireframe(cli_options& options, const std::string& text, int16_t* mode) {
  static const struct {
    const char* name;
    int16_t mode;
  } modes[] = {{"none", _wireframe_none},     {"triangles", _wireframe_triangles}, {"cells", _wireframe_cells},
               {"submeshes", _wireframe_submeshes}, {"terrain", _wireframe_terrain}, {"reflection", _wireframe_reflection}};
  for (const auto& m : modes)
    if (text == m.name) {
      *mode = m.mode;
      return true;
    }
  return cli_fail(options, "bad wireframe '%s': give none, triangles, cells, submeshes, terrain or reflection",
                  text.c_str());
}

int32_t degrees_to_angle(double degrees) {
  return int32_t(std::lround(std::fmod(degrees, 360.0) * 65536.0 / 360.0)) & 0xFFFF;
}

// The camera: the observer's as placed for the map, or the one given, in either case turned and
// pitched as asked.
bool camera_from(cli_options& options, const render_arguments& arguments, render_camera* camera) {
  *camera = render_observer_camera(0.0f);
  if (!arguments.observer.empty()) {
    double xyz[3];
    if (!parse_numbers(arguments.observer, 3, xyz) || std::fabs(xyz[0]) > 1e6 || std::fabs(xyz[1]) > 1e6 ||
        std::fabs(xyz[2]) > 1e6)
      return cli_fail(options, "bad observer '%s': give X,Y,Z in cells", arguments.observer.c_str());
    camera->position = {int32_t(std::lround(xyz[0] * 512)), int32_t(std::lround(xyz[1] * 512)),
                        int32_t(std::lround(xyz[2] * 512))};
  }
  if (!std::isnan(arguments.facing)) camera->facing = degrees_to_angle(arguments.facing);
  if (!std::isnan(arguments.pitch)) {
    if (arguments.pitch < -90 || arguments.pitch > 90) return cli_fail(options, "bad pitch: give -90 to 90 degrees");
    camera->pitch = degrees_to_angle(arguments.pitch);
  }
  return true;
}

bool apply_settings(cli_options& options, const render_arguments& arguments) {
  render_view_settings* settings = render_get_view_settings();
  render_reset_view_settings();
  return parse_wireframe(options, arguments.wireframe, &settings->wireframe_mode) &&
         parse_switch(options, "--media", arguments.media, &settings->show_media) &&
         parse_switch(options, "--objects", arguments.objects, &settings->show_objects) &&
         parse_switch(options, "--models", arguments.models, &settings->show_models) &&
         parse_switch(options, "--reduced-lod", arguments.reduced_lod, &settings->reduced_lod);
}

const char* kind_name(uint16_t kind) {
  switch (kind) {
    case _pick_vertex: return "vertex";
    case _pick_ground: return "ground";
    case _pick_model: return "model";
    case _pick_marker: return "marker";
    default: return "unknown";
  }
}

cli_json hits_json(const std::vector<render_pick_hit>& hits) {
  cli_json list = cli_json::array();
  for (const render_pick_hit& hit : hits) {
    cli_json o;
    o["kind"] = kind_name(hit.kind);
    switch (hit.kind) {
      case _pick_vertex:
        o["column"] = hit.a;
        o["row"] = hit.b;
        break;
      case _pick_model:
        o[hit.b ? "model_animation" : "model"] = hit.a;
        break;
      case _pick_marker:
        o["marker"] = hit.a;
        if (hit.a >= 0 && hit.a < mesh_marker_count()) o["type"] = mesh_markers()[hit.a].type;
        break;
      default:
        break;
    }
    o["x"] = hit.point.x;
    o["y"] = hit.point.y;
    o["z"] = hit.point.z;
    o["depth"] = std::lround(hit.depth);
    list.push_back(o);
  }
  return list;
}

std::vector<render_pick_hit> collect(int32_t count, const render_pick_hit* hits) {
  return std::vector<render_pick_hit>(hits, hits + std::max(count, 0));
}

constexpr uint16_t kAllKinds = _pick_vertex | _pick_ground | _pick_model | _pick_marker;
constexpr int32_t kMaximumHits = 8192;

bool write_frame(cli_options& options, const std::string& path) {
  const uint16_t* pixels = screen_get_pixels();
  std::vector<uint8_t> rgb(size_t(SCREEN_WIDTH) * SCREEN_HEIGHT * 3);
  for (size_t i = 0; i < size_t(SCREEN_WIDTH) * SCREEN_HEIGHT; ++i) {
    const uint16_t p = pixels[i];
    const auto expand = [](uint16_t five) { return uint8_t((five << 3) | (five >> 2)); };
    rgb[i * 3] = expand((p >> 10) & 31);
    rgb[i * 3 + 1] = expand((p >> 5) & 31);
    rgb[i * 3 + 2] = expand(p & 31);
  }
  std::string error;
  if (!png_file_write_rgb8(cli_absolute_path(path).c_str(), SCREEN_WIDTH, SCREEN_HEIGHT, rgb, &error))
    return cli_fail(options, "%s", error.c_str());
  return true;
}

void render_map(cli_options& options, const render_arguments& arguments) {
  if (!visual_view_asked(arguments)) {
    if (!arguments.overhead.empty()) {
      cli_render_overhead(options, arguments.name, arguments.overhead, arguments.overhead_zoom);
      return;
    }
    cli_fail(options, "nothing to do: give --out, --pick, --pick-rect, --frames or --overhead");
    return;
  }
  double point[2] = {0, 0}, rect[4] = {0, 0, 0, 0};
  if (!arguments.pick.empty() && !parse_numbers(arguments.pick, 2, point)) {
    cli_fail(options, "bad pick '%s': give X,Y in the frame's pixels", arguments.pick.c_str());
    return;
  }
  if (!arguments.pick_rect.empty() && !parse_numbers(arguments.pick_rect, 4, rect)) {
    cli_fail(options, "bad pick rectangle '%s': give X0,Y0,X1,Y1 in the frame's pixels", arguments.pick_rect.c_str());
    return;
  }
  // The editor's own path to a map: the store, the engine, the world started with the map.
  if (!cli_open_map(options, arguments.name)) return;
  render_camera camera;
  if (!apply_settings(options, arguments) || !camera_from(options, arguments, &camera)) return;
  if (!render_frame(camera)) {
    cli_fail(options, "couldn't draw the frame: out of render memory (see tarn_log.txt)");
    return;
  }
  cli_json report = cli_json::object();
  if (!arguments.pick.empty() || !arguments.pick_rect.empty()) {
    std::vector<render_pick_hit> hits(kMaximumHits);
    if (!arguments.pick.empty()) {
      const int32_t count = render_pick_point(int32_t(std::floor(point[0])), int32_t(std::floor(point[1])), kAllKinds,
                                              hits.data(), kMaximumHits);
      report["pick"] = hits_json(collect(count, hits.data()));
    }
    if (!arguments.pick_rect.empty()) {
      const int32_t count = render_pick_rectangle(int32_t(std::floor(rect[0])), int32_t(std::floor(rect[1])),
                                                  int32_t(std::floor(rect[2])), int32_t(std::floor(rect[3])), kAllKinds,
                                                  hits.data(), kMaximumHits);
      report["pick_rect"] = hits_json(collect(count, hits.data()));
    }
  }
  if (arguments.frames > 0) {
    // Wall time as a user sees it, and the thread's own processor time, which a busy machine
    // does not stretch.
    std::vector<double> times, processor_times;
    const auto thread_milliseconds = [] {
      timespec now{};
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
      return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    };
    for (int32_t i = 0; i < arguments.frames; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const double processor_start = thread_milliseconds();
      render_frame(camera);
      processor_times.push_back(thread_milliseconds() - processor_start);
      times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::sort(processor_times.begin(), processor_times.end());
    const auto percentile = [](const std::vector<double>& sorted, double fraction) {
      const size_t rank = size_t(std::ceil(fraction * double(sorted.size())));
      return std::round(sorted[std::min(sorted.size() - 1, rank > 0 ? rank - 1 : 0)] * 1000) / 1000;
    };
    const render_frame_statistics* statistics = render_get_statistics();
    report["frames"] = {{"count", arguments.frames},
                        {"median_ms", percentile(times, 0.5)},
                        {"p95_ms", percentile(times, 0.95)},
                        {"processor_median_ms", percentile(processor_times, 0.5)},
                        {"processor_p95_ms", percentile(processor_times, 0.95)},
                        {"pool_high_water", statistics->pool_high_water},
                        {"pool_size", RENDER_MEMORY_POOL_SIZE},
                        {"triangles_drawn", statistics->triangles_drawn},
                        {"sprites_drawn", statistics->sprites_drawn}};
  }
  if (!arguments.out.empty()) {
    if (!write_frame(options, arguments.out)) return;
    if (report.empty()) {
      std::printf("rendered '%s' to %s\n", map_name(), cli_absolute_path(arguments.out).c_str());
    } else {
      report["out"] = cli_absolute_path(arguments.out);
    }
  }
  if (!report.empty()) cli_print_json(report);
  if (!arguments.overhead.empty()) cli_render_overhead_of_open_map(options, arguments.overhead, arguments.overhead_zoom);
}

}  // namespace

void cli_add_render_commands(CLI::App& app, cli_options& options) {
  static render_arguments arguments;
  CLI::App* render = app.add_subcommand("render", "draw the visual view of a map into a PNG file, pick in it, time it");
  render->add_option("name", arguments.name, "the map's name or identifier")->required();
  render->add_option("--out", arguments.out, "the PNG file of the frame (640 x 416)");
  render->add_option("--observer", arguments.observer, "the camera's position X,Y,Z in cells");
  render->add_option("--facing", arguments.facing, "the camera's facing in degrees (0 along +x, 90 along +y)");
  render->add_option("--pitch", arguments.pitch, "the camera's pitch in degrees, negative looks down");
  render->add_option("--wireframe", arguments.wireframe, "none, triangles, cells, submeshes, terrain or reflection")
      ->capture_default_str();
  render->add_option("--media", arguments.media, "on or off");
  render->add_option("--objects", arguments.objects, "on or off");
  render->add_option("--models", arguments.models, "on or off");
  render->add_option("--reduced-lod", arguments.reduced_lod, "on or off");
  render->add_option("--pick", arguments.pick, "print the hits at pixel X,Y as JSON");
  render->add_option("--pick-rect", arguments.pick_rect, "print the hits in the rectangle X0,Y0,X1,Y1 as JSON");
  render->add_option("--frames", arguments.frames, "draw N frames and print their median and 95th percentile time")
      ->check(CLI::Range(1, 100000));
  render->add_option("--overhead", arguments.overhead, "the overhead view, as a PNG file");
  render->add_option("--overhead-zoom", arguments.overhead_zoom,
                     "pixels per 64 world units of the overhead view (1: a submesh is 256 pixels)")
      ->capture_default_str();
  render->callback([&options] { render_map(options, arguments); });
}
