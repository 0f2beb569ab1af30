// The one DWI input loader of the batch tools: a raw volume file, DTI file, NIfTI image or
// DICOM directory, paired with its gradient table (MPG text file or FSL bval/bvec), as the
// analyzer's DTI data with the input's geometry.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/io/image_geometry.h"

struct DwiInputOptions {
  std::string input;
  std::string mpg;           // MPG text file
  std::string bval;          // FSL-style b values
  std::string bvec;          // FSL-style gradient directions
  float voxel_size = 0.0f;   // --voxel-size MM; 0 keeps the input's own
};

// Usage text of the input options, for the tools' usage lines.
inline constexpr char kDwiInputUsage[] =
    "INPUT [--mpg FILE | --bval FILE --bvec FILE] [--voxel-size MM]";

// When argv[*i] is one of the input options, consumes it (and its value, advancing *i) and
// returns 1; returns 0 when it is not; -1 with a reason in *error when its value is missing or
// malformed.
int parse_dwi_input_option(int argc, const char* const* argv, int* i, DwiInputOptions* options,
                           std::string* error);

// Checks what the input options need together (exclusive and paired options); false with a
// reason.
bool check_dwi_input_options(const DwiInputOptions& options, std::string* error);

// A command-line word that no option took: the INPUT when none was given yet; otherwise false
// with "unknown option ..." (a word starting with '-') or "more than one INPUT given".
bool take_input_argument(const std::string& arg, DwiInputOptions* options, std::string* error);
// The checks after a tool's whole command line: the input options together, and an output
// folder given with --out.
bool check_input_and_output(const DwiInputOptions& options, const std::string& out,
                            std::string* error);

// Exit statuses shared by the batch tools.
enum : int { kToolOk = 0, kToolFailed = 1, kToolBadInput = 2 };

// A loaded input. `data` refers to `volume`, which the record owns.
struct DwiInput {
  VolumePtr volume;
  DtiDataPtr data;
  ImageGeometry geometry;
  // The stored signal is the input's signal times this factor (float and scaled input is
  // brought into the full signed 16-bit range); 1 for signed 16-bit input.
  double signal_scale = 1.0;
};

// Loads the input and makes its MPG setting ready. Returns kToolOk, or kToolBadInput /
// kToolFailed with a one-line reason in *error. Prints the analyzer's MPG report lines.
int load_dwi_input(const DwiInputOptions& options, DwiInput* input, std::string* error);

// An FSL gradient table: bval holds one b value per volume, bvec three rows (x, y, z) of one
// value per volume (a file of one "x y z" line per volume is accepted too). false with a
// reason when the numbers are malformed or the counts disagree.
struct GradientTable {
  std::vector<float> b_values;
  std::vector<std::array<float, 3>> directions;
};
bool parse_fsl_gradient_table(std::string_view bval_text, std::string_view bvec_text,
                              GradientTable* table, std::string* error);

// Checks a table and brings it into the form the fit needs, in place: b finite and from 0 to
// 100000; entries with b <= b0_threshold are b=0 (their directions, NaN included, become
// zero; 0 < b <= b0_threshold gets a warning naming the volume); weighted entries need a
// finite non-zero direction, and non-unit ones are normalised with b scaled by |g|^2 (one
// warning); at least one b=0 and six weighted entries. false with a one-line reason.
bool check_gradient_table(GradientTable* table, float b0_threshold, std::string* error);

// Applies a gradient table to a record whose volume has one channel per table entry: the
// b=0 entries (b <= b0_threshold) are moved to the front in their order, followed by the
// others in their order; the volume's channels are reordered the same way. The table is
// checked first (check_gradient_table). false with a reason when the counts disagree or the
// setting is not valid for analysis.
bool apply_gradient_table(const GradientTable& table, DiffusionTensorImageData* data,
                          float b0_threshold, std::string* error);

// Reads a small text file (gradient tables, seeds) whole; false with a reason.
bool read_small_text_file(const std::string& path, std::string* text, std::string* error);

// A whole decimal int; false on anything else.
bool parse_int_argument(const char* text, int* value);
