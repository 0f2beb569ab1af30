// The MPG setting: the three setters with their readiness rules, the uniform b value, the
// console report, the Setting menu operations and the DWI recognition notice.
#include "analyzer/dti/mpg_setting.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "analyzer/notice.h"

namespace {

constexpr int32_t kMinWeightedChannels = 6;
constexpr int32_t kMaxWeightedChannelsForArrays = 513;
constexpr float kDefaultBValue = 1000.0f;

const char kSeparator[] = "---------------------------------------------------\n";  // 51 '-'

int32_t volume_channels(const DiffusionTensorImageData* data) {
  if (data == nullptr || data->volume == nullptr || data->volume->header == nullptr) return 0;
  return data->volume->header->channels;
}

void append_format(std::string& out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out.append(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
}

int refuse(DiffusionTensorImageData* data) {
  if (data != nullptr) data->mpg_ready = 0;
  return -1;
}

}  // namespace

int ZTRdti_SetMPG(DiffusionTensorImageData* data, int32_t total, int32_t b0,
                  const float* b_values, const float (*mpg_vectors)[3]) {
  if (data == nullptr || b_values == nullptr || mpg_vectors == nullptr) return refuse(data);
  const int64_t weighted = int64_t(total) - b0;
  // A negative b=0 count or a total beyond the arrays would send every consumer outside them.
  if (weighted < kMinWeightedChannels || weighted > kMaxWeightedChannelsForArrays || b0 < 0 ||
      total > ZTR_DTI_MAX_CHANNELS)
    return refuse(data);
  std::memmove(data->b_value, b_values, sizeof(float) * static_cast<size_t>(total));
  std::memmove(data->mpg_vector, mpg_vectors, sizeof(float) * 3 * static_cast<size_t>(total));
  data->dti_channels = total;
  data->b0_channels = b0;
  data->mpg_ready = 1;
  return 0;
}

int ZTRdti_SetDefaultMPG(DiffusionTensorImageData* data, int32_t total, int32_t b0) {
  if (data == nullptr) return -1;
  const int64_t weighted = int64_t(total) - b0;
  // Beyond the table's largest row there is no default direction set: refuse.
  if (b0 < 1 || weighted < kMinWeightedChannels || weighted > ZTR_MPG_TABLE_MAX_DIRECTIONS ||
      total > volume_channels(data))
    return refuse(data);
  const float (*row)[3] = default_mpg_direction_row(static_cast<int>(weighted));
  for (int32_t c = 0; c < b0; ++c) {
    data->b_value[c] = 0.0f;
    data->mpg_vector[c][0] = data->mpg_vector[c][1] = data->mpg_vector[c][2] = 0.0f;
  }
  for (int32_t k = 0; k < weighted; ++k) {
    data->b_value[b0 + k] = kDefaultBValue;
    for (int a = 0; a < 3; ++a) data->mpg_vector[b0 + k][a] = row[k][a];
  }
  data->dti_channels = total;
  data->b0_channels = b0;
  data->mpg_ready = 1;
  return 0;
}

int ZTRdti_SetSingleSoDefaultMPG(DiffusionTensorImageData* data, int32_t total) {
  if (data == nullptr) return -1;
  if (total < 7) return refuse(data);
  return ZTRdti_SetDefaultMPG(data, total, 1);
}

float ZTRdti_GetUniformBValue(const DiffusionTensorImageData* data) {
  if (data == nullptr || data->b0_channels < 0 || data->b0_channels >= ZTR_DTI_MAX_CHANNELS)
    return 0.0f;
  return data->b_value[data->b0_channels];
}

std::string mpg_setting_report(const DiffusionTensorImageData* data) {
  std::string out = kSeparator;
  if (data == nullptr || data->mpg_ready != 1) {
    out += "  MPG setting NOT ready. Analysis NOT executable.\n";
    out += kSeparator;
    return out;
  }
  out += "  MPG setting seems to be ready for analysis\n";
  out += kSeparator;
  append_format(out, " Total channels: %d\n", volume_channels(data));
  append_format(out, " DTI channels: %d\n", data->dti_channels);
  append_format(out, " b=0 channels: %d\n", data->b0_channels);
  append_format(out, " b>0 channels: %d\n", data->dti_channels - data->b0_channels);
  out += kSeparator;
  const int32_t listed = data->dti_channels < ZTR_DTI_MAX_CHANNELS ? data->dti_channels
                                                                   : ZTR_DTI_MAX_CHANNELS;
  for (int32_t c = 0; c < listed; ++c) {
    append_format(out, " %3d   b=%3.1f, g=(%3.3f, %3.3f, %3.3f)\n", c + 1, data->b_value[c],
                  data->mpg_vector[c][0], data->mpg_vector[c][1], data->mpg_vector[c][2]);
  }
  out += kSeparator;
  return out;
}

void ZTRdti_PrintMPGSetting(const DiffusionTensorImageData* data) {
  const std::string report = mpg_setting_report(data);
  std::fputs(report.c_str(), stderr);
}

// ---- Setting menu operations -----------------------------------------------------------

namespace {

void preset_single_so(DiffusionTensorImageData* data, int32_t total) {
  if (data == nullptr) return;
  if (ZTRdti_SetSingleSoDefaultMPG(data, total) == 0) {
    for (int32_t c = 1; c < total; ++c) data->b_value[c] = kDefaultBValue;
  }
  ZTRdti_PrintMPGSetting(data);
}

}  // namespace

void mpg_preset_ge_6_directions(DiffusionTensorImageData* data) { preset_single_so(data, 7); }

void mpg_preset_ge_13_directions(DiffusionTensorImageData* data) { preset_single_so(data, 14); }

void mpg_set_total_channels(DiffusionTensorImageData* data, int32_t total) {
  if (data == nullptr) return;
  if (data->b0_channels != 1) {
    ZTRdti_SetDefaultMPG(data, total, data->b0_channels);
  } else {
    ZTRdti_SetSingleSoDefaultMPG(data, total);
  }
  ZTRdti_PrintMPGSetting(data);
}

void mpg_set_b0_channels(DiffusionTensorImageData* data, int32_t b0) {
  if (data == nullptr) return;
  if (b0 != 1) {
    ZTRdti_SetDefaultMPG(data, data->dti_channels, b0);
  } else {
    ZTRdti_SetSingleSoDefaultMPG(data, data->dti_channels);
  }
  ZTRdti_PrintMPGSetting(data);
}

void mpg_set_uniform_b_value(DiffusionTensorImageData* data, float b) {
  if (data == nullptr) return;
  const int32_t first = data->b0_channels < 0 ? 0 : data->b0_channels;
  const int32_t end = data->dti_channels < ZTR_DTI_MAX_CHANNELS ? data->dti_channels
                                                                : ZTR_DTI_MAX_CHANNELS;
  for (int32_t c = first; c < end; ++c) data->b_value[c] = b;
  ZTRdti_PrintMPGSetting(data);
}

// ---- DWI recognition notice -------------------------------------------------------------

std::string dwi_recognition_notice_text(const DiffusionTensorImageData* data) {
  int32_t x = 0, y = 0, z = 0, channels = 0, b0 = 0, total = 0;
  if (data != nullptr) {
    if (data->volume != nullptr && data->volume->header != nullptr) {
      x = data->volume->header->x;
      y = data->volume->header->y;
      z = data->volume->header->z;
      channels = data->volume->header->channels;
    }
    b0 = data->b0_channels;
    total = data->dti_channels;
  }
  char text[2048];
  std::snprintf(text, sizeof text,
                "This software recognized the DWI data from ZANTREVIUM as bellow.\n \n  matrix size: %d x %d x %d (%d channels)  \n  b=0 data: ch.  1 - %d                                  \n  b>0 data: ch. %d - %d (%d directions of MPG)\n \n  The default non-zero b value is %3.1f.      \n \n If these settings are wrong, analysis can never be performed     \n correctly.  To correct the values, use commands in the menu:     \n ''Setting -> MPG -> Manual set'', or import MPG file in the:     \n menu: ''File -> import -> MPG text file''.\t\t\t                            \n \n Check MPG directions shown in the console window, too.          ",
                x, y, z, channels, b0, b0 + 1, total, total - b0, 1000.0);
  return text;
}

void show_dwi_recognition_notice(const DiffusionTensorImageData* data, NoticeSink* notices) {
  ztr_show_notice(notices, "Important Notice", dwi_recognition_notice_text(data));
}
