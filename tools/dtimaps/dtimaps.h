// The dtimaps command: standard DTI maps (colour FA, FA, ADC, isoD) of a DWI data set
// from a file or directory, written as a raw volume file and as NIfTI images.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/dti/dti_data.h"

struct DtimapsOptions {
  std::string input;
  std::string mpg;   // MPG text file
  std::string bval;  // FSL-style b values
  std::string bvec;  // FSL-style gradient directions
  std::string out;   // output directory (created when missing)
  int threads = 8;   // 1 .. 512
};

inline constexpr char kDtimapsUsage[] =
    "usage: dtimaps INPUT [--mpg FILE | --bval FILE --bvec FILE] [--threads N] --out DIR";

// false with a one-line reason in *error.
bool parse_dtimaps_arguments(int argc, const char* const* argv, DtimapsOptions* options,
                             std::string* error);

// An FSL gradient table: bval holds one b value per volume, bvec three rows (x, y, z) of one
// value per volume (a file of one "x y z" line per volume is accepted too). b values up to
// `b0_threshold` count as b=0. false with a reason when the numbers are malformed or the
// counts disagree.
struct GradientTable {
  std::vector<float> b_values;
  std::vector<std::array<float, 3>> directions;
};
bool parse_fsl_gradient_table(std::string_view bval_text, std::string_view bvec_text,
                              GradientTable* table, std::string* error);

// Applies a gradient table to a record whose volume has one channel per table entry: the
// b=0 entries (b <= b0_threshold) are moved to the front in their order, followed by the
// others in their order; the volume's channels are reordered the same way. false with a
// reason when the counts disagree or the setting is not valid for analysis.
bool apply_gradient_table(const GradientTable& table, DiffusionTensorImageData* data,
                          float b0_threshold, std::string* error);

// Exit status of a run.
enum : int { kDtimapsOk = 0, kDtimapsFailed = 1, kDtimapsBadInput = 2 };

// The whole command; prints the analyzer's progress lines on standard error. Returns an exit
// status with a one-line reason in *error when it is not kDtimapsOk.
int run_dtimaps(const DtimapsOptions& options, std::string* error);
