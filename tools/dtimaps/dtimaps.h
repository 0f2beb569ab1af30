// The dtimaps command: standard DTI maps (colour FA, FA, ADC, isoD) of a DWI data set
// from a file or directory, written as a raw volume file and as NIfTI images.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/dwi_input.h"

struct DtimapsOptions {
  DwiInputOptions dwi;
  std::string out;   // output directory (created when missing)
  int threads = 8;   // 1 .. 512
  std::string rtnn;  // RTNN information or data file: extra maps rtnn_<network>_<output>.nii
};

inline constexpr char kDtimapsUsage[] =
    "usage: dtimaps INPUT [--mpg FILE | --bval FILE --bvec FILE] [--voxel-size MM] [--threads N] [--rtnn FILE] --out DIR";

// false with a one-line reason in *error.
bool parse_dtimaps_arguments(int argc, const char* const* argv, DtimapsOptions* options,
                             std::string* error);

// Exit status of a run.
enum : int { kDtimapsOk = kToolOk, kDtimapsFailed = kToolFailed, kDtimapsBadInput = kToolBadInput };

// The whole command; prints the analyzer's progress lines on standard error. Returns an exit
// status with a one-line reason in *error when it is not kDtimapsOk.
int run_dtimaps(const DtimapsOptions& options, std::string* error);
