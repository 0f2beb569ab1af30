// Writers of the tractogram files. Every file goes to a temporary name first, so that a
// reader never sees half a file under the final name.
#include "analyzer/fibetrak/track_files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <sstream>

namespace {

std::array<float, 3> to_scanner(const VoxelToScanner& m, float x, float y, float z) {
  std::array<float, 3> out{};
  for (int r = 0; r < 3; ++r) {
    out[static_cast<size_t>(r)] =
        static_cast<float>(m[r][0] * x + m[r][1] * y + m[r][2] * z + m[r][3]);
  }
  return out;
}

// Writes `bytes` to path via a temporary file in the same directory.
bool write_atomically(const std::string& path, const std::string& bytes, std::string* error) {
  const std::string temporary = path + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    *error = "cannot create " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    *error = "cannot write " + temporary;
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

template <class T>
void put(std::string* out, const T& value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Four bytes, most significant first.
template <class T>
void put_big_endian(std::string* out, T value) {
  static_assert(sizeof(T) == 4);
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>((bits >> shift) & 0xFF));
}

template <class T>
void put_at(std::string* out, size_t offset, const T& value) {
  std::memcpy(out->data() + offset, &value, sizeof value);
}

}  // namespace

std::vector<std::vector<std::array<float, 3>>> visible_line_points(const ZTR_FIBETRAK_BUFFER& buffer) {
  std::vector<std::vector<std::array<float, 3>>> result;
  for (const auto& line : buffer.lines) {
    if (!line || !line->visible || !line->forward || !line->backward) continue;
    const ZTR_FIBETRAK_HALFLINE& fw = *line->forward;
    const ZTR_FIBETRAK_HALFLINE& bw = *line->backward;
    std::vector<std::array<float, 3>> points;
    points.reserve(static_cast<size_t>(fw.count + bw.count));
    for (int k = fw.count - 1; k >= 1; --k) points.push_back({fw.x[k], fw.y[k], fw.z[k]});
    for (int k = 0; k < bw.count; ++k) points.push_back({bw.x[k], bw.y[k], bw.z[k]});
    result.push_back(std::move(points));
  }
  return result;
}

bool write_tck(const std::string& path, const std::vector<std::vector<std::array<float, 3>>>& lines,
               const VoxelToScanner& affine, std::string* error) {
  std::ostringstream header;
  header << "mrtrix tracks\n"
         << "timestamp: " << std::time(nullptr) << "\n"
         << "datatype: Float32LE\n"
         << "count: " << lines.size() << "\n"
         << "total_count: " << lines.size() << "\n";
  std::string text = header.str();
  // The offset names itself: find the first offset that still fits after its own line.
  size_t offset = text.size() + 16;
  for (;;) {
    const std::string tail = "file: . " + std::to_string(offset) + "\nEND\n";
    if (text.size() + tail.size() <= offset) {
      text += tail;
      break;
    }
    offset += 16;
  }
  text.resize(offset, '\0');
  for (const auto& line : lines) {
    for (const auto& p : line) {
      for (float v : to_scanner(affine, p[0], p[1], p[2])) put(&text, v);
    }
    for (int i = 0; i < 3; ++i) put(&text, std::numeric_limits<float>::quiet_NaN());
  }
  for (int i = 0; i < 3; ++i) put(&text, std::numeric_limits<float>::infinity());
  return write_atomically(path, text, error);
}

std::string axis_codes(const VoxelToScanner& m) {
  static constexpr char kPositive[3] = {'R', 'A', 'S'};
  static constexpr char kNegative[3] = {'L', 'P', 'I'};
  std::string codes = "???";
  bool used[3] = {false, false, false};
  for (int column = 0; column < 3; ++column) {
    int best = -1;
    for (int row = 0; row < 3; ++row) {
      if (used[row]) continue;
      if (best < 0 || std::fabs(m[row][column]) > std::fabs(m[best][column])) best = row;
    }
    used[best] = true;
    codes[static_cast<size_t>(column)] = m[best][column] >= 0 ? kPositive[best] : kNegative[best];
  }
  return codes;
}

bool write_trk(const std::string& path, const std::vector<std::vector<std::array<float, 3>>>& lines,
               const VoxelToScanner& affine, const int32_t size[3], const float voxel_size[3],
               std::string* error) {
  std::string bytes(1000, '\0');
  std::memcpy(bytes.data(), "TRACK", 5);
  for (int a = 0; a < 3; ++a) {
    put_at(&bytes, 6 + 2 * a, static_cast<int16_t>(std::min<int32_t>(size[a], 32767)));
    put_at(&bytes, 12 + 4 * a, voxel_size[a]);
  }
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) put_at(&bytes, 440 + 4 * (4 * r + c), static_cast<float>(affine[r][c]));
  }
  const std::string codes = axis_codes(affine);
  std::memcpy(bytes.data() + 948, codes.data(), 3);
  put_at(&bytes, 988, static_cast<int32_t>(lines.size()));
  put_at(&bytes, 992, int32_t{2});
  put_at(&bytes, 996, int32_t{1000});
  for (const auto& line : lines) {
    put(&bytes, static_cast<int32_t>(line.size()));
    // TrackVis measures millimetres along the voxel axes from the corner of the first voxel.
    for (const auto& p : line) {
      for (int a = 0; a < 3; ++a) put(&bytes, (p[static_cast<size_t>(a)] + 0.5f) * voxel_size[a]);
    }
  }
  return write_atomically(path, bytes, error);
}

bool write_group_vtk(const std::string& path, const ZTR_OBJECT_GROUP& group,
                     const VoxelToScanner& affine, std::string* error) {
  std::vector<std::array<float, 3>> points, normals;
  std::vector<ZTR_OBJECT_COLOR> colors;
  std::vector<float> radii;
  std::vector<std::vector<size_t>> lines, triangles;
  bool any_tube = false, any_mesh = false;
  auto add_colors = [&](const std::vector<ZTR_OBJECT_COLOR>& from, size_t n) {
    for (size_t i = 0; i < n; ++i) colors.push_back(from.size() == n ? from[i] : ZTR_OBJECT_COLOR{1, 1, 1, 1});
  };
  const int32_t count = std::min<int32_t>(group.count, static_cast<int32_t>(group.objects.size()));
  for (int32_t i = 0; i < count; ++i) {
    const void* object = group.objects[static_cast<size_t>(i)];
    if (!object) continue;
    const int32_t type = group.types[static_cast<size_t>(i)];
    const std::vector<ZTR_OBJECT_POINT>* vertices = nullptr;
    if (type == ZTR_OBJECT_TYPE_POLYLINE) {
      const auto* line = static_cast<const ZTR_POLYLINE_OBJECT*>(object);
      vertices = &line->points;
      add_colors(line->colors, vertices->size());
      radii.insert(radii.end(), vertices->size(), 0.0f);
    } else if (type == ZTR_OBJECT_TYPE_TUBE) {
      const auto* tube = static_cast<const ZTR_TUBE_OBJECT*>(object);
      vertices = &tube->points;
      add_colors(tube->colors, vertices->size());
      for (size_t k = 0; k < vertices->size(); ++k) {
        radii.push_back(k < tube->radii.size() ? tube->radii[k] : 0.0f);
      }
      any_tube = true;
    }
    if (vertices) {
      std::vector<size_t> indices;
      for (const auto& p : *vertices) {
        indices.push_back(points.size());
        points.push_back(to_scanner(affine, p.x - 0.5f, p.y - 0.5f, p.z - 0.5f));
        normals.push_back({0, 0, 0});
      }
      lines.push_back(std::move(indices));
      continue;
    }
    if (type != ZTR_OBJECT_TYPE_TRIANGULAR_MESH) continue;
    const auto* mesh = static_cast<const ZTR_TRIANGULAR_MESH*>(object);
    const size_t base = points.size();
    for (size_t k = 0; k < mesh->vertices.size(); ++k) {
      const auto& p = mesh->vertices[k];
      points.push_back(to_scanner(affine, p.x, p.y, p.z));
      // Normals turn with the linear part of the affine (no shear in scanner geometry).
      const ZTR_OBJECT_POINT n = k < mesh->normals.size() ? mesh->normals[k] : ZTR_OBJECT_POINT{0, 0, 0};
      std::array<float, 3> turned{};
      for (int r = 0; r < 3; ++r) {
        turned[static_cast<size_t>(r)] =
            static_cast<float>(affine[r][0] * n.x + affine[r][1] * n.y + affine[r][2] * n.z);
      }
      const float length = std::sqrt(turned[0] * turned[0] + turned[1] * turned[1] + turned[2] * turned[2]);
      if (length > 0) {
        for (float& v : turned) v /= length;
      }
      normals.push_back(turned);
    }
    add_colors(mesh->colors, mesh->vertices.size());
    radii.insert(radii.end(), mesh->vertices.size(), 0.0f);
    for (const auto& t : mesh->triangles) {
      triangles.push_back({base + static_cast<size_t>(t[0]), base + static_cast<size_t>(t[1]),
                           base + static_cast<size_t>(t[2])});
    }
    any_mesh = true;
  }
  // Binary legacy VTK (big-endian): a few bytes per value instead of formatted text, which
  // for a whole-brain tractogram is the difference between a second and a minute.
  std::string out = "# vtk DataFile Version 3.0\nfiber tracking lines\nBINARY\nDATASET POLYDATA\n";
  out += "POINTS " + std::to_string(points.size()) + " float\n";
  for (const auto& p : points) {
    for (float v : p) put_big_endian(&out, v);
  }
  auto cells = [&](const char* name, const std::vector<std::vector<size_t>>& list) {
    if (list.empty()) return;
    size_t total = 0;
    for (const auto& cell : list) total += cell.size() + 1;
    out += "\n" + std::string(name) + " " + std::to_string(list.size()) + " " + std::to_string(total) + "\n";
    for (const auto& cell : list) {
      put_big_endian(&out, static_cast<int32_t>(cell.size()));
      for (size_t index : cell) put_big_endian(&out, static_cast<int32_t>(index));
    }
  };
  cells("LINES", lines);
  cells("POLYGONS", triangles);
  if (!points.empty()) {
    // Binary colour scalars are bytes.
    out += "\nPOINT_DATA " + std::to_string(points.size()) + "\nCOLOR_SCALARS colors 4\n";
    for (const auto& c : colors) {
      for (float v : {c.r, c.g, c.b, c.a}) {
        out.push_back(static_cast<char>(std::lround(std::clamp(std::isfinite(v) ? v : 0.0f, 0.0f, 1.0f) * 255.0f)));
      }
    }
    if (any_tube) {
      out += "\nSCALARS radius float 1\nLOOKUP_TABLE default\n";
      for (float r : radii) put_big_endian(&out, r);
    }
    if (any_mesh) {
      out += "\nNORMALS normals float\n";
      for (const auto& n : normals) {
        for (float v : n) put_big_endian(&out, v);
      }
    }
    out += "\n";
  }
  return write_atomically(path, out, error);
}
