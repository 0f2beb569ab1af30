// The dump file of a tracking result: visible lines as text, millimetres and lambdas x1000.
#include <cerrno>
#include <cmath>
#include <cstring>

#include "analyzer/fibetrak/track_display.h"

namespace {

constexpr const char* kHeader[] = {
    "=========================<This is a dump file of fiber tracking result in kLS-II. Format "
    "is below>========================\n\n",
    "\tN (number of total lines)\n",
    "\tM[1] (number of nodes in the 1st line)\n",
    "\tX\tY\tZ\tL1\tL2\tL3 (1st node position (mm) and tensor lambdas<x1000> in 1st line)\n",
    "\t\t\t\t\t:\n",
    "\tX\tY\tZ\tL1\tL2\tL3 (last node position and lambdas in 1st line)\n",
    "\t\t\t:\n",
    "\t\t\t:\n",
    "\tM[N] (number of nodes in the Nth(last) line)\n",
    "\tX\tY\tZ\tL1\tL2\tL3\n",
    "\t\t\t\t\t:\n",
    "\tX\tY\tZ\tL1\tL2\tL3 (last node position and lambdas of Nth line)\n\n",
    "================================================<Dump result is from "
    "here>================================================\n",
};

void write_node(std::FILE* f, const ZTR_FIBETRAK_HALFLINE& h, int k, float s) {
  std::fprintf(f, "%3.2f\t%3.2f\t%3.2f\t%3.2f\t%3.2f\t%3.2f\n", h.x[k] * s, h.y[k] * s, h.z[k] * s,
               h.lambda1[k] * 1000, h.lambda2[k] * 1000, h.lambda3[k] * 1000);
}

}  // namespace

int dump_fibetrak_buffer(const ZTR_FIBETRAK_BUFFER& buffer, std::FILE* f, float voxel_size,
                         std::FILE* console) {
  if (!f) return -1;
  float s = voxel_size;
  if (!(s > 0.0f) || !std::isfinite(s)) {
    std::fprintf(console, "Warning: voxel size not set; the dump is in voxel units (1.0 mm)\n");
    s = 1.0f;
  }
  for (const char* line : kHeader) std::fputs(line, f);
  int visible = 0;
  for (const auto& line : buffer.lines) visible += (line && line->visible) ? 1 : 0;
  std::fprintf(f, "%d\n", visible);
  for (const auto& line : buffer.lines) {
    if (!line || !line->visible || !line->forward || !line->backward) continue;
    const ZTR_FIBETRAK_HALFLINE& fw = *line->forward;
    const ZTR_FIBETRAK_HALFLINE& bw = *line->backward;
    std::fprintf(f, "%d\n", (fw.count - 1) + bw.count);
    for (int k = fw.count - 1; k >= 1; --k) write_node(f, fw, k, s);
    for (int k = 0; k < bw.count; ++k) write_node(f, bw, k, s);
  }
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    std::fprintf(console, "Err: the dump file could not be written completely\n");
    return -1;
  }
  return visible;
}

int dump_fibetrak_file(const ZTR_FIBETRAK_BUFFER& buffer, const char* path, float voxel_size,
                       std::FILE* console) {
  std::FILE* f = path ? std::fopen(path, "w") : nullptr;
  if (!f) {
    std::fprintf(console, "Err: cannot open the dump file %s (%s)\n", path ? path : "(none)",
                 std::strerror(errno));
    return -1;
  }
  return dump_fibetrak_buffer(buffer, f, voxel_size, console);
}
