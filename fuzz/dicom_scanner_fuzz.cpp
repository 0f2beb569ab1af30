// Feeds arbitrary bytes to the DICOM element scanner as a whole file image and looks up
// every element the directory import uses, with and without value buffers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "analyzer/io/dicom_scanner.h"

namespace {

struct Tag {
  uint16_t group;
  uint16_t element;
};

constexpr Tag kTags[] = {
    {0x0020, 0x0013}, {0x0020, 0x0032}, {0x0028, 0x0011}, {0x0028, 0x0010}, {0x0018, 0x0088},
    {0x0018, 0x1100}, {0x0028, 0x0030}, {0x7F88, 0x0010}, {0x7FE0, 0x0010}, {0xFFFE, 0xE000},
    {0x0008, 0x0080}, {0x0028, 0x0100},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char value[1024];
  for (const Tag& tag : kTags) {
    uint32_t length = 0;
    const int64_t offset = find_dicom_element_in_memory(data, size, "fuzz", tag.group,
                                                        tag.element, &length, value, sizeof value);
    if (offset >= 0) {
      // A delivered value lies inside the input and fits the buffer with its terminator.
      if (uint64_t(offset) + length > size || length >= sizeof value ||
          std::strlen(value) > length) {
        __builtin_trap();
      }
    }
    const int64_t located = find_dicom_element_in_memory(data, size, "fuzz", tag.group,
                                                         tag.element, &length, nullptr, 0);
    if (located >= 0 && length != ZTR_DICOM_UNDEFINED_LENGTH &&
        uint64_t(located) + length > size) {
      __builtin_trap();
    }
  }
  return 0;
}
