// Fuzz target: the work session file reader. Whatever it accepts must write back to a file it
// accepts again, and from then on the bytes must be stable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "analyzer/app/session_file.h"

namespace {

std::vector<uint8_t> write_back(const StagedWorkSession& staged) {
  WorkSessionSource source;
  source.memo = staged.memo;
  source.dti = staged.dti.get();
  for (const auto& roi : staged.rois) source.rois.push_back(roi.get());
  for (const auto& study : staged.studies) source.studies.push_back(study.get());
  source.active_roi_id = staged.active_roi_id;
  source.active_study_id = staged.active_study_id;
  std::vector<uint8_t> bytes;
  std::string reason;
  if (!work_session_bytes(source, &bytes, &reason)) std::abort();  // it was just read
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StagedWorkSession staged;
  std::string reason;
  if (parse_work_session(data, size, &staged, &reason) != WorkSessionStatus::Ok) return 0;
  const std::vector<uint8_t> first = write_back(staged);
  StagedWorkSession again;
  if (parse_work_session(first.data(), first.size(), &again, &reason) != WorkSessionStatus::Ok) {
    std::abort();  // the writer's output must be readable
  }
  if (write_back(again) != first) std::abort();
  return 0;
}
