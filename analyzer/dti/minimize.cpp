// Reduction of a DWI data set to one b=0 and six diffusion-weighted channels.
#include "analyzer/dti/minimize.h"

#include <cmath>
#include <cstdio>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor.h"

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
  const int64_t slice = int64_t(h.x) * h.y;

  auto worker = [&](const WorkPart& part) {
    TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
    if (!tensor) {
      std::fprintf(stderr, "insufficient memory\n");
      return;
    }
    for (int k = 0; k < part.count; ++k) {
      const int64_t begin = slice * (part.first + k);
      for (int64_t i = begin; i < begin + slice; ++i) {
        const int16_t so_raw = source0[i];
        out[0][i] = so_raw;
        if (!tensor_fit_at_index(data, tensor.get(), i) || !ZTRdti_IsFiniteTensor(tensor.get())) {
          continue;  // channels 1-6 stay 0
        }
        for (int d = 0; d < 6; ++d) {
          const float adc = ZTRdti_GetADCAlongDirection(tensor.get(), directions[d]);
          const float attenuation =
              static_cast<float>(std::exp(-static_cast<double>(kMinimizedBValue * adc)));
          out[d + 1][i] = saturate_int16(static_cast<float>(so_raw) * attenuation);
        }
      }
      part.done->store(k + 1, std::memory_order_relaxed);
    }
  };
  WorkRunOptions run = options;
  if (!run.progress_format) run.progress_format = "\rDTI minimization %d%% completed";
  run_split_work(h.z, threads < 1 ? 1 : threads, worker, run);

  ZTR_SwapRawVolumeData(data->volume, result.get());
  result.reset();
  ZTRdti_SetSingleSoDefaultMPG(data, 7);
  return 0;
}
