// dtiroi: converts between ROI object files and NIfTI masks with the analyzer's own functions.
//   dtiroi to-nifti ROI_FILE --like VOLUME --out MASK.nii
//   dtiroi from-nifti MASK.nii --out ROI_FILE
#include <cstdio>
#include <cstring>
#include <string>

#include "analyzer/objects/roi_nifti.h"

namespace {

constexpr char kUsage[] =
    "usage: dtiroi to-nifti ROI_FILE --like VOLUME --out MASK.nii | "
    "dtiroi from-nifti MASK.nii --out ROI_FILE";

int bad_usage(const std::string& why) {
  std::fprintf(stderr, "dtiroi: %s (%s)\n", why.c_str(), kUsage);
  return int(RoiConversion::BadInput);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("%s\n", kUsage);
    return 0;
  }
  if (argc < 3) return bad_usage("missing command or input");
  const std::string command = argv[1];
  const std::string input = argv[2];
  std::string like, out;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if ((option == "--like" || option == "--out") && i + 1 < argc) {
      (option == "--like" ? like : out) = argv[++i];
    } else {
      return bad_usage("unexpected argument '" + option + "'");
    }
  }
  if (out.empty()) return bad_usage("--out is required");
  std::string reason;
  RoiConversion result;
  if (command == "to-nifti") {
    if (like.empty()) return bad_usage("to-nifti needs --like VOLUME");
    result = roi_file_to_nifti(input, like, out, &reason);
  } else if (command == "from-nifti") {
    if (!like.empty()) return bad_usage("from-nifti takes no --like");
    result = nifti_to_roi_file(input, out, &reason);
  } else {
    return bad_usage("unknown command '" + command + "'");
  }
  if (result != RoiConversion::Ok) {
    std::fprintf(stderr, "dtiroi: %s\n", reason.c_str());
    return int(result);
  }
  std::fprintf(stderr, "dtiroi: wrote %s\n", out.c_str());
  return 0;
}
