// Feeds arbitrary bytes to the study file parser, with and without a valid head in front. A
// study that was accepted must be written again into a file the parser accepts with the same
// bytes: nothing half-read survives into a record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "analyzer/studies/study_file.h"

namespace {

void check(const uint8_t* bytes, size_t size) {
  std::unique_ptr<STUDY_OBJECT> study;
  StudyGridSize volume{};
  std::string reason;
  if (parse_study_file(bytes, size, &study, &volume, &reason) != StudyFileStatus::Ok) {
    if (study) __builtin_trap();
    return;
  }
  if (!study || study->type < 0 || study->type >= ZTR_STUDY_KINDS) __builtin_trap();
  for (const StudyRegion* r : study_regions(*study)) {
    if (r->listed_count < 0 || r->listed_count > ZTR_STUDY_MAX_LISTED) __builtin_trap();
    if (r->view.point_count < 0 || r->view.point_count > ZTR_OUTLINE_CAPACITY) __builtin_trap();
  }
  const std::vector<uint8_t> again = study_file_bytes(*study, volume);
  std::unique_ptr<STUDY_OBJECT> second;
  if (parse_study_file(again.data(), again.size(), &second, &volume, &reason) !=
      StudyFileStatus::Ok)
    __builtin_trap();
  if (study_file_bytes(*second, volume) != again) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(data, size);
  // The same bytes behind a valid head reach the stored-study parser directly.
  std::vector<uint8_t> framed(ZTR_STUDY_FILE_HEAD_BYTES + size);
  std::memcpy(framed.data(), ZTR_STUDY_FILE_MAGIC, ZTR_STUDY_FILE_MAGIC_BYTES);
  if (size > 0) std::memcpy(framed.data() + ZTR_STUDY_FILE_HEAD_BYTES, data, size);
  check(framed.data(), framed.size());
  return 0;
}
