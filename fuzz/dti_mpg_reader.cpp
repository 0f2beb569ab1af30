// Feeds arbitrary text to both MPG text readers: the one that applies the setting to a record
// over a small volume, and the RTNN loader's reader into fixed-capacity arrays.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "analyzer/dti/mpg_setting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static VolumePtr volume = [] {
    const VolumeHeader header{1, 1, 1, 80};
    std::vector<int32_t> types(80, ZTR_TYPE_INT16), attributes(80, 0);
    return VolumePtr(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  }();
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);

  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(volume.get(), 80));
  if (!data) return 0;
  ZTRdti_SetSingleSoDefaultMPG(data.get(), 80);
  parse_mpg_text(text, data.get());
  // Whatever was read, a ready setting must stay inside the record and the volume.
  if (data->mpg_ready == 1) {
    if (data->b0_channels < 0 || data->dti_channels > 80 ||
        data->dti_channels - data->b0_channels < 6)
      __builtin_trap();
    (void)mpg_setting_report(data.get());
  }

  std::vector<float> b(ZTR_DTI_MAX_CHANNELS);
  std::vector<float> g(ZTR_DTI_MAX_CHANNELS * 3);
  int32_t total = 0, b0 = 0;
  if (parse_mpg_text_to_arrays(text, "fuzz", &total, &b0, b.data(),
                               reinterpret_cast<float(*)[3]>(g.data())) == 0) {
    if (total < 0 || total > ZTR_DTI_MAX_CHANNELS || b0 < 0 || b0 > total) __builtin_trap();
  }
  return 0;
}
