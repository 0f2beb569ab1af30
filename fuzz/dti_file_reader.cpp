// Feeds arbitrary bytes to the DTI file parser, with and without a valid magic in front.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/notice.h"

namespace {
struct QuietSink : NoticeSink {
  void notice(const std::string&, const std::string&) override {}
};

void check(const void* bytes, size_t size) {
  QuietSink sink;
  DtiDataWithVolumePtr data(parse_dti_file(bytes, size, &sink));
  if (!data) return;
  if (data->volume == nullptr || data->dti_channels < 0 ||
      data->dti_channels > ZTR_DTI_MAX_CHANNELS)
    __builtin_trap();
  if (data->mpg_ready == 1 && (data->b0_channels < 0 ||
                               data->dti_channels > count_dti_channels(data->volume)))
    __builtin_trap();
  // A record that was read must serialize again to the bytes it came from.
  const size_t serialized = ZTRdti_GetSerializedDataSize(data.get());
  std::vector<unsigned char> again(serialized);
  if (serialized == 0 || ZTRdti_SerializeDiffusionTensorImageData(data.get(), again.data()) != 0)
    __builtin_trap();
  (void)mpg_setting_report(data.get());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  check(bytes, size);
  std::vector<unsigned char> with_magic(ZTR_DTI_FILE_MAGIC, ZTR_DTI_FILE_MAGIC + ZTR_DTI_FILE_MAGIC_LENGTH);
  with_magic.insert(with_magic.end(), bytes, bytes + size);
  check(with_magic.data(), with_magic.size());
  return 0;
}
