// The dtitrack command: fiber tracking of a DWI data set from spheres or masks, written as
// .tck, .trk and .vtk tractograms with the seeds, the dump, the summary and, on request, the
// three voxelizations.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "analyzer/fibetrak/fibetrak.h"
#include "analyzer/fibetrak/track_display.h"
#include "tools/common/dwi_input.h"

// A sphere (voxel-index centre and radius) or a NIfTI mask on the input's grid.
struct RegionArgument {
  bool is_mask = false;
  std::array<float, 4> sphere{};  // x, y, z, r
  std::string mask;
};

struct DtitrackOptions {
  DwiInputOptions dwi;
  std::string out;
  std::vector<RegionArgument> seeds;  // exactly one
  int density = ZTR_FIBETRAK_SEED_DENSITY_NORMAL;
  std::vector<RegionArgument> targets;
  std::vector<RegionArgument> avoid;
  ZTR_FIBETRAK_PARAMETER params;
  int threads = 4;
  FibetrakDisplay display;
  bool voxelize = false;
};

inline constexpr char kDtitrackUsage[] =
    "usage: dtitrack INPUT [--mpg FILE | --bval FILE --bvec FILE] [--voxel-size MM] --out DIR\n"
    "  seeds:   --seed-sphere X,Y,Z,R | --seed-mask MASK.nii  [--density normal|high]\n"
    "  regions: --target-sphere X,Y,Z,R | --target-mask MASK.nii  (repeatable)\n"
    "           --avoid-sphere X,Y,Z,R  | --avoid-mask MASK.nii   (repeatable)\n"
    "  params:  --scheme e1|anisocomp --fa-min V|off --adc-max V|off --so-min V|off\n"
    "           --so-max V|off --angle-max DEG|off --length N --step H --threads N\n"
    "           --colour anisotropy|distance|directional|unique|fan|uniform|target|CODE\n"
    "           --primitive hairline|tube|ribbon  [--voxelize]\n"
    "  X, Y, Z, R in voxel-index units; ADC in mm^2/s.";

// false with a one-line reason in *error.
bool parse_dtitrack_arguments(int argc, const char* const* argv, DtitrackOptions* options,
                              std::string* error);

// The whole command. Returns kToolOk, kToolBadInput or kToolFailed with a reason in *error;
// *summary_line receives the closing line (how many lines were written, or that none were).
int run_dtitrack(const DtitrackOptions& options, std::string* summary_line, std::string* error);
