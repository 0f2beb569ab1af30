// dtivoxel grow|select|dilate|erode|stats|profile ...
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/dtivoxel/dtivoxel.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s\n", kDtivoxelUsage);
      return 0;
    }
  }
  DtivoxelOptions options;
  std::string error;
  if (!parse_dtivoxel_arguments(argc, argv, &options, &error)) {
    std::fprintf(stderr, "dtivoxel: %s\n%s\n", error.c_str(), kDtivoxelUsage);
    return kToolBadInput;
  }
  std::string report;
  const int status = run_dtivoxel(options, &report, &error);
  if (status != kToolOk) {
    std::fprintf(stderr, "dtivoxel: %s\n", error.c_str());
    return status;
  }
  std::fprintf(stderr, "dtivoxel: %s\n", report.c_str());
  return 0;
}
