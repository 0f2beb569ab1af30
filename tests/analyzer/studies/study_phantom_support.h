// The phantom (a curved bundle crossing a straight one in isotropic tissue) as ready DTI
// data, made once per test program, with helpers that set up study regions and ROIs on it
// and run a study's kind with its console captured.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "analyzer/dti/tensor_phantom.h"
#include "analyzer/objects/roi_region.h"
#include "analyzer/studies/study_runs.h"
#include "tests/support/console_capture.h"

namespace study_test {

struct PhantomData {
  Phantom phantom;
  DtiDataPtr dti;
  GridSize size{};
};

// 64 x 64 x 24 voxels, 30 directions: the curved bundle's arc runs through (18, 27, 12) and
// tops at (31.5, 33, 11.5); the straight bundle is the column x, y = 45, 27.5 along z and
// crosses the arc around z = 12.
inline const PhantomData& phantom() {
  static PhantomData* data = [] {
    auto* d = new PhantomData;
    std::string error;
    if (!make_phantom(PhantomOptions{}, &d->phantom, &error)) {
      ADD_FAILURE() << error;
      return d;
    }
    d->dti.reset(ZTRdti_NewDiffusionTensorImageData(d->phantom.dwi.get(),
                                                     d->phantom.dwi->header->channels));
    apply_phantom_mpg(d->phantom, d->dti.get());
    const VolumeHeader& h = *d->phantom.dwi->header;
    d->size = {h.x, h.y, h.z};
    return d;
  }();
  return *data;
}

// The phantom's voxels of one truth label as a 0/1 mask, x fastest.
inline std::vector<uint8_t> label_mask(int label) {
  const PhantomData& p = phantom();
  const float* labels = ZTR_ChannelData<float>(p.phantom.truth.get(), 2);
  std::vector<uint8_t> mask(size_t(p.size[0]) * p.size[1] * p.size[2], 0);
  for (size_t i = 0; i < mask.size(); ++i) mask[i] = labels[i] == float(label) ? 1 : 0;
  return mask;
}

// A region that is the region's own sphere.
inline void set_sphere(StudyRegion& region, Vec3 centre, float radius) {
  region.selector = ZTR_REGION_SPHERE;
  region.view.orientation = ZTR_VIEW_AXIAL;
  region.view.centre = centre;
  region.view.sphere_radius = radius;
}

inline void set_listed(StudyRegion& region, std::vector<uint16_t> ids) {
  region.selector = ZTR_REGION_LISTED;
  region.listed_count = int32_t(ids.size());
  region.listed_ids.fill(0);
  std::copy(ids.begin(), ids.end(), region.listed_ids.begin());
}

inline ROI_OBJECT* add_sphere_roi(RoiList& rois, Vec3 centre, float radius) {
  ROI_OBJECT* roi = new_roi_object(rois, ZTR_ROI_SPHERICAL, phantom().size);
  roi->view.orientation = ZTR_VIEW_AXIAL;
  roi->view.centre = centre;
  roi->view.sphere_radius = radius;
  return roi;
}

inline ROI_OBJECT* add_voxelgroup_roi(RoiList& rois, const std::vector<uint8_t>& mask) {
  ROI_OBJECT* roi = new_roi_object(rois, ZTR_ROI_VOXELGROUP, phantom().size);
  roi->group = voxel_group_from_mask(mask, phantom().size);
  return roi;
}

// The sources of a run on the phantom with the given ROIs.
inline StudyRunSources sources_for(const RoiList* rois) {
  StudyRunSources s;
  s.dti = phantom().dti.get();
  s.rois = rois;
  s.threads = 2;
  s.tracking_workers = 2;
  return s;
}

struct RunOutcome {
  int status = 0;
  std::string console;
};

// Runs the study's kind once with `sources`.
inline RunOutcome run_study(STUDY_OBJECT& study, const StudyRunSources& sources,
                            StudyRunContext context = {}) {
  const StudyKindRuns runs = make_study_kind_runs([sources] { return sources; });
  ztr::test::ConsoleCapture capture;
  RunOutcome outcome;
  outcome.status = runs[size_t(study.type)](study, context);
  outcome.console = capture.finish();
  return outcome;
}

}  // namespace study_test
