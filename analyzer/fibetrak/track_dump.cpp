// The dump file of a tracking result: visible lines as text, millimetres and lambdas x1000.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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
  char line[256];
  char* end = line;
  const float values[6] = {h.x[k] * s, h.y[k] * s, h.z[k] * s,
                           h.lambda1[k] * 1000, h.lambda2[k] * 1000, h.lambda3[k] * 1000};
  for (int i = 0; i < 6; ++i) {
    end = format_two_decimals(values[i], end, line + sizeof line - end);
    *end++ = i < 5 ? '\t' : '\n';
  }
  std::fwrite(line, 1, static_cast<size_t>(end - line), f);
}

}  // namespace

char* format_two_decimals(float value, char* out, size_t room) {
  const double v = value;
  // A float has 24 significant bits and 100 has 7, so v x 100 is exact in double below
  // 2^53: rounding it to the nearest integer, ties to even, is what printf does.
  if (!std::isfinite(v) || std::fabs(v) >= 1e13 || room < 32) {
    const int n = std::snprintf(out, room, "%3.2f", v);
    return out + (n > 0 ? std::min<size_t>(static_cast<size_t>(n), room - 1) : 0);
  }
  const auto hundredths = static_cast<uint64_t>(std::nearbyint(std::fabs(v) * 100.0));
  char digits[24];
  int n = 0;
  uint64_t whole = hundredths / 100;
  do {
    digits[n++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole > 0);
  if (std::signbit(v)) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out++ = '.';
  *out++ = static_cast<char>('0' + hundredths / 10 % 10);
  *out++ = static_cast<char>('0' + hundredths % 10);
  return out;
}

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
  // Written under a temporary name beside the file and renamed when complete, so that a
  // failed dump never leaves a partial file under the name or spoils an older dump.
  std::string temporary = std::string(path ? path : "") + ".XXXXXX";
  const int fd = path ? mkstemp(temporary.data()) : -1;
  std::FILE* f = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!f) {
    std::fprintf(console, "Err: cannot open the dump file %s (%s)\n", path ? path : "(none)",
                 std::strerror(errno));
    if (fd >= 0) {
      close(fd);
      unlink(temporary.c_str());
    }
    return -1;
  }
  const int written = dump_fibetrak_buffer(buffer, f, voxel_size, console);
  if (written < 0) {
    unlink(temporary.c_str());
    return -1;
  }
  // mkstemp creates the file for its owner only; a dump is an ordinary file.
  const mode_t mask = umask(0);
  umask(mask);
  chmod(temporary.c_str(), 0666 & ~mask);
  if (std::rename(temporary.c_str(), path) != 0) {
    std::fprintf(console, "Err: cannot write the dump file %s (%s)\n", path, std::strerror(errno));
    unlink(temporary.c_str());
    return -1;
  }
  return written;
}
