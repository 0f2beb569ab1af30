// Fuzz target: the ROI object file reader. Whatever it accepts must write back to a file it
// accepts again, byte for byte stable from then on, and must rasterise, test and show on a
// small volume without reading or writing out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "analyzer/objects/roi_display.h"
#include "analyzer/objects/roi_file.h"
#include "analyzer/objects/roi_region.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ROI_OBJECT roi;
  GridSize dims{};
  std::string reason;
  if (parse_roi_file(data, size, &roi, &dims, &reason) != RoiFileStatus::Ok) return 0;
  const std::vector<uint8_t> first = roi_file_bytes(roi, dims);
  ROI_OBJECT again;
  if (parse_roi_file(first.data(), first.size(), &again, &dims, &reason) != RoiFileStatus::Ok) {
    std::abort();  // the writer's output must be readable
  }
  if (roi_file_bytes(again, dims) != first) std::abort();

  const GridSize grid{12, 10, 8};
  std::vector<uint8_t> mask(12 * 10 * 8, 0);
  roi.visibility = 1;
  rasterise_roi(roi, mask, grid);
  const RegionTest test = prepare_region_test(roi);
  const float a[3] = {5.5f, 4.5f, 3.5f}, b[3] = {6.0f, 5.0f, 4.5f};
  test(a, b);
  test(b, b);

  RoiList rois;
  if (ROI_OBJECT* listed = new_roi_object(rois, roi.type, grid)) {
    *listed = std::move(roi);
    ZTR_DeleteObjectGroup(build_roi_display_group(rois, grid));
  }
  return 0;
}
