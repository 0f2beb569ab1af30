// dtimaps INPUT [--mpg FILE | --bval FILE --bvec FILE] [--threads N] --out DIR
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/dtimaps/dtimaps.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s\n", kDtimapsUsage);
      return 0;
    }
  }
  DtimapsOptions options;
  std::string error;
  if (!parse_dtimaps_arguments(argc, argv, &options, &error)) {
    std::fprintf(stderr, "dtimaps: %s (%s)\n", error.c_str(), kDtimapsUsage);
    return kDtimapsBadInput;
  }
  const int status = run_dtimaps(options, &error);
  if (status != kDtimapsOk) {
    std::fprintf(stderr, "dtimaps: %s\n", error.c_str());
    return status;
  }
  std::fprintf(stderr, "dtimaps: maps written to %s\n", options.out.c_str());
  return 0;
}
