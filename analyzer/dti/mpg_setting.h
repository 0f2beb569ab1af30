// The MPG setting of the DTI data: which channels are b=0, the b value and gradient
// direction of every channel, the readiness rules, the console report and the MPG text
// files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "analyzer/dti/dti_data.h"

struct NoticeSink;

// Built-in direction table: row n-6 holds n unit vectors (slots 0 .. n-1; the rest zero)
// for n = 6 .. 129 directions.
inline constexpr int ZTR_MPG_TABLE_MIN_DIRECTIONS = 6;
inline constexpr int ZTR_MPG_TABLE_MAX_DIRECTIONS = 129;
extern const float default_mpg_directions[124][129][3];
// The row for n directions, or nullptr when the table has none.
const float (*default_mpg_direction_row(int n))[3];

// Limits of the MPG text readers.
inline constexpr int32_t ZTR_MPG_MAX_B_VALUES = 32;
inline constexpr int32_t ZTR_MPG_MAX_DIRECTIONS = 256;

// The notice every analysis command shows while the setting is not ready.
inline constexpr char ZTR_MPG_NOT_READY_NOTICE[] =
    "MPG setting is NOT ready or loaded volume \ndata set is NOT relevant for MR-DTI analysis.";

// ---- setters: 0 and mpg_ready = 1 after storing a complete new setting; otherwise -1,
// ---- mpg_ready = 0 and counts and arrays untouched ------------------------------------

// Copies `total` b values and direction triples; needs data, both arrays,
// 6 <= total - b0 <= 513, b0 >= 0 and total <= ZTR_DTI_MAX_CHANNELS. No volume check.
int ZTRdti_SetMPG(DiffusionTensorImageData* data, int32_t total, int32_t b0,
                  const float* b_values, const float (*mpg_vectors)[3]);
// b0 >= 1, 6 <= total - b0 <= 129 (table rows), total <= channels of data->volume:
// b 0 and zero vectors for the b=0 channels, b 1000.0 and the table row for the others.
int ZTRdti_SetDefaultMPG(DiffusionTensorImageData* data, int32_t total, int32_t b0);
// ZTRdti_SetDefaultMPG(data, total, 1) with total >= 7.
int ZTRdti_SetSingleSoDefaultMPG(DiffusionTensorImageData* data, int32_t total);

// The b value of channel b0_channels (the first diffusion-weighted channel); 0.0 when
// that index lies outside the arrays.
float ZTRdti_GetUniformBValue(const DiffusionTensorImageData* data);

// The MPG report, as printed by ZTRdti_PrintMPGSetting.
std::string mpg_setting_report(const DiffusionTensorImageData* data);
// Prints the MPG report on standard error.
void ZTRdti_PrintMPGSetting(const DiffusionTensorImageData* data);

// ---- menu commands (each ends by printing the report) ----------------------------------

void mpg_preset_ge_6_directions(DiffusionTensorImageData* data);   // 7 channels, b 1000.0
void mpg_preset_ge_13_directions(DiffusionTensorImageData* data);  // 14 channels, b 1000.0
// New total DTI channels: default setter with the current b=0 count, single-So when it is 1.
void mpg_set_total_channels(DiffusionTensorImageData* data, int32_t total);
// New b=0 count: default setter with the current total, single-So when the count is 1.
void mpg_set_b0_channels(DiffusionTensorImageData* data, int32_t b0);
// Stores b for channels b0_channels .. dti_channels-1; readiness and directions untouched.
void mpg_set_uniform_b_value(DiffusionTensorImageData* data, float b);

// ---- MPG text files ---------------------------------------------------------------------

inline constexpr char ZTR_MPG_KLS_HEADER[] =
    "#kLS-II MPG description file (not used in earlier kLS)";
inline constexpr char ZTR_MPG_QSA_HEADER[] =
    "#new QSA parameter description file (not used in earlier kLS)";

// Reads an MPG text file (any of the three forms) from `stream`, applies it to `data` and
// prints the MPG report. Returns 0 when a setting step was reached, -1 when the file was
// refused (with a message) and the setting is exactly as it was. Closes the stream.
int read_mpg_text_file(std::FILE* stream, DiffusionTensorImageData* data);
// The same on file contents held in memory.
int parse_mpg_text(std::string_view text, DiffusionTensorImageData* data);

// The RTNN loader's reader: accepts the two headed forms only, fills the caller's counts
// and arrays (room for ZTR_DTI_MAX_CHANNELS entries each), changes no setting. Returns 0,
// or -1 when the file cannot be opened or is refused (wrong header, counts out of range,
// unreadable number, early end); on -1 the outputs are untouched.
int read_mpg_text_file_to_arrays(const char* path, int32_t* total, int32_t* b0,
                                 float* b_values, float (*mpg_vectors)[3]);
int parse_mpg_text_to_arrays(std::string_view text, const char* path_for_report,
                             int32_t* total, int32_t* b0, float* b_values,
                             float (*mpg_vectors)[3]);

// Writes the setting in the headed kLS-II form with identity axes. 0, or -1 when the file
// cannot be created or written (nothing else happens then).
int write_mpg_text_file(const char* path, const DiffusionTensorImageData* data);
// The same text as a string.
std::string mpg_text_file_contents(const DiffusionTensorImageData* data);

// ---- DWI recognition notice ------------------------------------------------------------

// The notice text for a new DWI volume with a ready default setting.
std::string dwi_recognition_notice_text(const DiffusionTensorImageData* data);
// Shows it as an "Important Notice" (444 x 333 pixels) through the sink.
void show_dwi_recognition_notice(const DiffusionTensorImageData* data, NoticeSink* notices);
