// Feeds arbitrary bytes to the RTNN data-file parser, with and without a valid header in
// front; a set that was read must evaluate and write back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "analyzer/rtnn/rtnn_files.h"

namespace {

void check(const unsigned char* bytes, size_t size) {
  RtnnTable table;
  std::string error;
  if (parse_rtnn_data(bytes, size, &table, &error) < 0) return;
  if (table.count() < 1 || table.count() > ZTR_RTNN_MAX_NETWORKS) __builtin_trap();
  for (const RtnnEntry& e : table.entries) {
    RtnnIOPtr io(ZTRrtnn_NewRunTimeNeuralNetworkIO(e.network.get()));
    if (!io || ZTRrtnn_SetInput(e.network.get(), io.get()) != 0) __builtin_trap();
  }
  // Text fields may lose what followed their terminator; everything else must come back.
  const std::vector<unsigned char> again = rtnn_data_bytes(table);
  RtnnTable second;
  if (parse_rtnn_data(again.data(), again.size(), &second, &error) != table.count()) __builtin_trap();
  if (rtnn_data_bytes(second) != again) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(data, size);
  std::vector<unsigned char> headed(ZTR_RTNN_DATA_HEADER_BYTES + size);
  std::memcpy(headed.data(), ZTR_RTNN_DATA_HEADER, ZTR_RTNN_DATA_HEADER_BYTES);
  if (size) std::memcpy(headed.data() + ZTR_RTNN_DATA_HEADER_BYTES, data, size);
  check(headed.data(), headed.size());
  return 0;
}
