// Reduction of a DWI data set to one b=0 and six diffusion-weighted channels.
#include "analyzer/dti/minimize.h"

#include <cmath>
#include <cstdio>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor.h"
#include "analyzer/dti/tensor_slabs.h"

namespace {

int16_t saturate_int16(float v) {
  if (!(v == v)) return 0;
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<int16_t>(v);
}

constexpr float kMinimizedBValue = 1000.0f;

}  // namespace

int minimize_dti_data(DiffusionTensorImageData* data, int threads,
                      const WorkRunOptions& options) {
  if (!tensor_data_is_fittable(data)) {
    std::fprintf(stderr, "Err: DTI data cannot be minimized\n");
    return -1;
  }
  const float (*directions)[3] = default_mpg_direction_row(6);
  if (!directions) return -1;
  const VolumeHeader h = *data->volume->header;
  const VolumeHeader header{h.x, h.y, h.z, 7};
  const int32_t types[7] = {ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16,
                            ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16};
  const int32_t attributes[7] = {0, 0, 0, 0, 0, 0, 0};
  VolumePtr result(ZTR_NewRawVolumeData(header, types, attributes));
  if (!result) return -1;

  const int16_t* source0 = ZTR_ChannelData<int16_t>(data->volume, 0);
  int16_t* out[7];
  for (int c = 0; c < 7; ++c) out[c] = ZTR_ChannelData<int16_t>(result.get(), c);
  WorkRunOptions run = options;
  if (!run.progress_format) run.progress_format = "\rDTI minimization %d%% completed";
  for_each_voxel_with_tensor(data, threads, run, [&](ZTR_DTI_TENSOR* tensor, int64_t i) {
    const int16_t so_raw = source0[i];
    out[0][i] = so_raw;
    if (!tensor_fit_at_index(data, tensor, i) || !ZTRdti_IsFiniteTensor(tensor)) {
      return;  // channels 1-6 stay 0
    }
    for (int d = 0; d < 6; ++d) {
      const float adc = ZTRdti_GetADCAlongDirection(tensor, directions[d]);
      const float attenuation =
          static_cast<float>(std::exp(-static_cast<double>(kMinimizedBValue * adc)));
      out[d + 1][i] = saturate_int16(static_cast<float>(so_raw) * attenuation);
    }
  });

  ZTR_SwapRawVolumeData(data->volume, result.get());
  result.reset();
  ZTRdti_SetSingleSoDefaultMPG(data, 7);
  return 0;
}
