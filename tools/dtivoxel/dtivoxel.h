// The dtivoxel command: voxel growing, selection and mask morphology, region statistics and
// diffusion profile glyphs of a DWI data set, from the command line.
#pragma once

#include <string>
#include <vector>

#include "tools/common/dwi_input.h"

struct DtivoxelRange {
  bool on = true;
  float low = 0.0f;
  float high = 0.0f;
};

struct DtivoxelOptions {
  std::string command;  // grow, select, dilate, erode, stats, profile
  DwiInputOptions dwi;
  std::string mask_input;  // dilate / erode: the mask to edit
  // grow and select
  std::string seed_mask;
  std::string mode;  // grow: signal|direction|local; select: signal|fa
  int channel = 0;
  float min_signal = 1.0f;
  float max_signal = 10000.0f;
  float min_fa = 0.2f;
  float max_angle = 5.0f;  // degrees
  int max_step = 10;
  // stats and profile
  std::vector<std::string> masks;
  bool dump_adc = false;
  bool has_box = false;
  float box[6] = {0, 0, 0, 0, 0, 0};  // origin x, y, z, size x, y, z in voxels
  std::string density = "normal";       // normal|high|voxel
  std::string primitive = "ellipsoid";  // ellipsoid|star
  std::string colour = "anisotropy";    // anisotropy|direction
  bool emphasis = false;
  DtivoxelRange fa_range{true, 0.18f, 1.0f};
  DtivoxelRange adc_range{true, 0.0f, 0.003f};  // mm^2/s
  DtivoxelRange so_range{true, 0.0f, 900.0f};
  std::string out;  // mask file (grow, select, dilate, erode) or directory (stats, profile)
};

inline constexpr char kDtivoxelUsage[] =
    "usage: dtivoxel grow INPUT [gradient options] --seed-mask S.nii --mode signal|direction|local\n"
    "                [--channel C] [--min-signal A] [--max-signal B] [--min-fa F] [--max-angle DEG]\n"
    "                [--max-step N] --out MASK.nii\n"
    "       dtivoxel select INPUT [gradient options] --mode signal|fa [--channel C] [--min-signal A]\n"
    "                [--max-signal B] [--min-fa F] --out MASK.nii\n"
    "       dtivoxel dilate|erode MASK.nii --out MASK.nii\n"
    "       dtivoxel stats INPUT [gradient options] --mask M.nii [--mask M2.nii] [--dump-adc] --out DIR\n"
    "       dtivoxel profile INPUT [gradient options] --box OX,OY,OZ,SX,SY,SZ | --mask M.nii\n"
    "                [--density normal|high|voxel] [--primitive ellipsoid|star]\n"
    "                [--colour anisotropy|direction] [--emphasis] [--fa-range LO,HI|off]\n"
    "                [--adc-range LO,HI|off (mm^2/s)] [--so-range LO,HI|off] --out DIR\n"
    "gradient options: [--mpg FILE | --bval FILE --bvec FILE] [--voxel-size MM]";

// false with a one-line reason in *error.
bool parse_dtivoxel_arguments(int argc, const char* const* argv, DtivoxelOptions* options,
                              std::string* error);

// The whole command; returns kToolOk, kToolBadInput or kToolFailed with a one-line reason in
// *error when it is not kToolOk. *report receives the success line.
int run_dtivoxel(const DtivoxelOptions& options, std::string* report, std::string* error);
