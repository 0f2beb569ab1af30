// What becomes of a tracking result: display primitives (hairline, tube, ribbon) with their
// colour modes as an object group, the summary texts, the dump file and the voxelizations
// of visible lines.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "analyzer/fibetrak/fibetrak.h"
#include "sdk/ipc/object_group.h"
#include "sdk/volume/raw_volume.h"

inline constexpr int ZTR_FIBETRAK_PRIMITIVE_HAIRLINE = 432;
inline constexpr int ZTR_FIBETRAK_PRIMITIVE_TUBE = 915;
inline constexpr int ZTR_FIBETRAK_PRIMITIVE_RIBBON = 237;

inline constexpr int ZTR_FIBETRAK_COLOR_ANISOTROPY = 253;
inline constexpr int ZTR_FIBETRAK_COLOR_DISTANCE = 65757;
inline constexpr int ZTR_FIBETRAK_COLOR_DIRECTIONAL = 3564;
inline constexpr int ZTR_FIBETRAK_COLOR_UNIQUE = 431;
inline constexpr int ZTR_FIBETRAK_COLOR_RGB_FAN = 513;
inline constexpr int ZTR_FIBETRAK_COLOR_UNIFORM = 13;
inline constexpr int ZTR_FIBETRAK_COLOR_TARGET_GRADATION = 9343;

// Opacity kept per node along planar stretches of a line.
inline constexpr float ZTR_FIBETRAK_ALPHA_FACTOR = 0.98f;

// The display block of a fiber tracking study (its region selectors live with the study).
struct FibetrakDisplay {
  int primitive = ZTR_FIBETRAK_PRIMITIVE_HAIRLINE;
  int color_mode = ZTR_FIBETRAK_COLOR_ANISOTROPY;
  ZTR_OBJECT_COLOR color1{1, 0, 0, 0};
  ZTR_OBJECT_COLOR color2{0, 1, 0, 0};
  ZTR_OBJECT_COLOR color3{0, 0, 1, 0};
};

// Label and code of every colour mode, in panel order.
struct ColorModeRow {
  const char* label;
  int code;
};
std::span<const ColorModeRow> fibetrak_color_modes();

// Vertex colours of a half-line by the display's colour mode, alpha included. `volume_size`
// is the x, y, z size of the DTI volume (for the fan and unique modes). `console` receives
// the unique mode's "factor=%f\n" line. Writes h.count colours.
void color_halfline(const ZTR_FIBETRAK_HALFLINE& h, const FibetrakDisplay& display,
                    const int32_t volume_size[3], ZTR_OBJECT_COLOR* colors,
                    std::FILE* console = stderr);

// One primitive of a half-line: a polyline (hairline) or a tube, positions offset by half a
// voxel; nullptr when memory runs out.
ZTR_POLYLINE_OBJECT* make_hairline(const ZTR_FIBETRAK_HALFLINE& h, const FibetrakDisplay& display,
                                   const int32_t volume_size[3], std::FILE* console = stderr);
ZTR_TUBE_OBJECT* make_tube(const ZTR_FIBETRAK_HALFLINE& h, const FibetrakDisplay& display,
                           const int32_t volume_size[3], std::FILE* console = stderr);
// A ribbon along e2 of the tensor refitted at every node; e2 keeps its sign from node to node.
ZTR_TRIANGULAR_MESH* make_ribbon(const ZTR_FIBETRAK_HALFLINE& h, const TrackingFitContext& fit);

// Display build: two primitives per visible line (forward, then backward) in a new group of
// 2 x line count slots. *status receives "Seed:%d, Lines:%d/%d\n". nullptr when memory runs
// out.
ZTR_OBJECT_GROUP* build_track_display(const ZTR_FIBETRAK_BUFFER& buffer,
                                      const FibetrakDisplay& display,
                                      const TrackingFitContext& fit, std::string* status,
                                      std::FILE* console = stderr);

// The four summary lines of a run.
std::string fibetrak_summary(const ZTR_FIBETRAK_BUFFER& buffer, const ZTR_OBJECT_GROUP* group);

// Writes the dump of the visible lines to `stream` and closes it. Positions are index x
// voxel size; a voxel size that is not a positive number (data from the host before the user
// sets one) is taken as 1.0 with a warning on `console`. Returns the number of lines written,
// or -1 when writing or closing failed (with a message).
int dump_fibetrak_buffer(const ZTR_FIBETRAK_BUFFER& buffer, std::FILE* stream, float voxel_size,
                         std::FILE* console = stderr);
// Writes value as printf's "%3.2f" would, without its cost; returns the end of the text.
// `room` is the space left at out (32 bytes or more for the fast path).
char* format_two_decimals(float value, char* out, size_t room);
// Opens `path` and dumps; a file that cannot be opened is said on the console. -1 on failure.
int dump_fibetrak_file(const ZTR_FIBETRAK_BUFFER& buffer, const char* path, float voxel_size,
                       std::FILE* console = stderr);

// Voxelizations of the visible hairlines and tubes of the given groups into a new volume of
// x, y, z (the loaded volume's size); ribbons are skipped. Each prints "%d lines\n" per group.
// nullptr when memory runs out.
RawVolumeData* voxelize_tracklines_grey(std::span<const ZTR_OBJECT_GROUP* const> groups,
                                        const int32_t size[3], std::FILE* console = stderr);
RawVolumeData* voxelize_tracklines_color(std::span<const ZTR_OBJECT_GROUP* const> groups,
                                         const int32_t size[3], std::FILE* console = stderr);
RawVolumeData* voxelize_tracklines_mask(std::span<const ZTR_OBJECT_GROUP* const> groups,
                                        const int32_t size[3], std::FILE* console = stderr);
