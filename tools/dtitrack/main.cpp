// dtitrack INPUT [...] --out DIR: fiber tracking from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/dtitrack/dtitrack.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s\n", kDtitrackUsage);
      return 0;
    }
  }
  DtitrackOptions options;
  std::string error;
  if (!parse_dtitrack_arguments(argc, argv, &options, &error)) {
    std::fprintf(stderr, "dtitrack: %s\n%s\n", error.c_str(), kDtitrackUsage);
    return kToolBadInput;
  }
  std::string last;
  const int status = run_dtitrack(options, &last, &error);
  if (status != kToolOk) {
    std::fprintf(stderr, "dtitrack: %s\n", error.c_str());
    return status;
  }
  std::fprintf(stderr, "dtitrack: %s\n", last.c_str());
  return kToolOk;
}
