// Feeds arbitrary bytes to the serialized volume reader. Whatever it accepts must lie within
// the input, serialize back to exactly the bytes it read, and survive the usual operations.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sdk/volume/geometry.h"
#include "sdk/volume/raw_volume.h"
#include "sdk/volume/sampling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t consumed = 0;
  VolumePtr volume(ZTR_GetRawVolumeDataFromSerializedData(data, size, &consumed));
  if (!volume) return 0;
  if (consumed > size) __builtin_trap();
  const size_t serialized = ZTR_GetSerializedRawVolumeDataSize(volume.get());
  if (serialized != consumed) __builtin_trap();
  // Keep the follow-up work small so that the fuzzer stays fast.
  if (serialized > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(serialized);
  if (ZTR_SerializeRawVolumeData(volume.get(), bytes.data()) != 0) __builtin_trap();
  if (std::memcmp(bytes.data(), data, serialized) != 0) __builtin_trap();

  VolumePtr copy(ZTR_DuplicateRawVolumeData(volume.get()));
  if (!copy) return 0;
  const int32_t channels = copy->header->channels;
  for (int32_t c = 0; c < channels; ++c) {
    (void)ZTR_SampleChannel(copy.get(), c, 0.5f, 0.5f, 0.5f, 1);
    if (copy->attributes[c] == ZTR_ATTRIBUTE_PLAIN) {
      const float range[2] = {0.0f, 255.0f};
      if (ZTR_ConvertChannelType(copy.get(), c, ZTR_TYPE_UINT8, range, range, 3) != 0) {
        __builtin_trap();
      }
    }
  }
  if (ZTR_GetNumberOfVoxels(copy.get()) <= 4096 && channels <= 8) {
    ZTR_ExpandRawVolumeData(copy.get(), 1, ZTR_PADDING_MIRROR);
    ZTR_RotateRawVolumeData(copy.get(), "y");
  }
  return 0;
}
