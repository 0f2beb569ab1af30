// Builds a multi-channel volume from a directory of single-slice DICOM files.
#include "analyzer/io/dicom_import.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "analyzer/io/dicom_scanner.h"
#include "sdk/volume/geometry.h"
#include "sdk/volume/sampling.h"

namespace {

// Where the current import keeps its reason for a refusal (null: nowhere), so that a caller
// can end with it instead of a generic line.
thread_local std::string* t_reason = nullptr;

// Prints a refusal line and keeps its text (without "Err: " and the line end) as the reason.
[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fputs(line, stderr);
  if (t_reason) {
    std::string text(line);
    if (text.rfind("Err: ", 0) == 0) text.erase(0, 5);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    *t_reason = text;
  }
}

constexpr size_t kMaxFiles = 4096;
constexpr size_t kMaxNameLength = 511;
constexpr size_t kNumberBuffer = 512;
constexpr size_t kTextBuffer = 1024;
constexpr size_t kPixelSpacingBuffer = 256;
// Upper bound on the slice count after z interpolation; more means a broken geometry.
constexpr int kMaxResampledSlices = 4096;

using Position = std::array<float, 3>;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::optional<std::string> read_text(const std::string& path, uint16_t group, uint16_t element,
                                     size_t capacity) {
  std::vector<char> buffer(capacity);
  uint32_t length = 0;
  if (FindDicomElement(path.c_str(), group, element, &length, buffer.data(), capacity) < 0) {
    return std::nullopt;
  }
  return std::string(buffer.data());
}

// Reads one decimal float at *cursor (leading blanks and a '+' allowed), independent of
// the process locale; moves the cursor past it.
std::optional<float> parse_float(const char*& cursor, const char* end) {
  while (cursor < end && (*cursor == ' ' || *cursor == '\t')) ++cursor;
  if (cursor < end && *cursor == '+') ++cursor;
  float value = 0.0f;
  const auto [ptr, ec] = std::from_chars(cursor, end, value);
  if (ec != std::errc()) return std::nullopt;
  cursor = ptr;
  return value;
}

// Parses up to `count` floats separated by '\' from a DS value.
std::optional<std::vector<float>> parse_floats(const std::string& text, size_t count) {
  std::vector<float> values;
  const char* cursor = text.data();
  const char* end = text.data() + text.size();
  while (values.size() < count) {
    if (!values.empty()) {
      while (cursor < end && *cursor == ' ') ++cursor;
      if (cursor >= end || *cursor != '\\') return std::nullopt;
      ++cursor;
    }
    const std::optional<float> v = parse_float(cursor, end);
    if (!v) return std::nullopt;
    values.push_back(*v);
  }
  return values;
}

std::optional<float> read_float(const std::string& path, uint16_t group, uint16_t element,
                                size_t capacity) {
  const std::optional<std::string> text = read_text(path, group, element, capacity);
  if (!text) return std::nullopt;
  const std::optional<std::vector<float>> v = parse_floats(*text, 1);
  if (!v) return std::nullopt;
  return (*v)[0];
}

std::optional<Position> read_position(const std::string& path) {
  const std::optional<std::string> text = read_text(path, 0x0020, 0x0032, kTextBuffer);
  if (!text) return std::nullopt;
  const std::optional<std::vector<float>> v = parse_floats(*text, 3);
  if (!v) return std::nullopt;
  return Position{(*v)[0], (*v)[1], (*v)[2]};
}

// Image Orientation (Patient): direction cosines of the rows and of the columns.
std::optional<std::array<double, 6>> read_orientation(const std::string& path) {
  const std::optional<std::string> text = read_text(path, 0x0020, 0x0037, kTextBuffer);
  if (!text) return std::nullopt;
  const std::optional<std::vector<float>> v = parse_floats(*text, 6);
  if (!v) return std::nullopt;
  std::array<double, 6> out;
  for (int i = 0; i < 6; ++i) out[size_t(i)] = (*v)[size_t(i)];
  return out;
}

double length3(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Voxel-to-scanner transform (RAS mm, as NIfTI has it) of the imported volume: column index i
// runs along the rows' direction, j along the columns', both at the in-plane voxel size; k
// runs through the slices in the volume's final order, after the flip and the resampling of
// source slice s = k * (z - 1) / (z_out - 1). DICOM positions are LPS, hence the sign of x, y.
std::optional<Affine> dicom_affine(const std::optional<std::array<double, 6>>& orientation,
                                   const Position& first, const std::optional<Position>& second,
                                   float distance, float voxel_size, int z, int z_out,
                                   bool flipped) {
  if (!orientation) return std::nullopt;
  double row[3] = {(*orientation)[0], (*orientation)[1], (*orientation)[2]};
  double column[3] = {(*orientation)[3], (*orientation)[4], (*orientation)[5]};
  const double row_length = length3(row), column_length = length3(column);
  if (!(row_length > 0.5) || !(column_length > 0.5) || !std::isfinite(row_length + column_length)) {
    return std::nullopt;
  }
  for (int i = 0; i < 3; ++i) {
    row[i] /= row_length;
    column[i] /= column_length;
  }
  // Slice direction: from the first slice to the second when both positions are known,
  // else the normal of the image plane.
  double normal[3] = {row[1] * column[2] - row[2] * column[1], row[2] * column[0] - row[0] * column[2],
                      row[0] * column[1] - row[1] * column[0]};
  if (second && z >= 2) {
    double step[3] = {double((*second)[0]) - first[0], double((*second)[1]) - first[1],
                      double((*second)[2]) - first[2]};
    const double length = length3(step);
    if (length > 0.0) {
      for (int i = 0; i < 3; ++i) normal[i] = step[i] / length;
    }
  }
  const double source_step = z >= 2 && z_out >= 2 ? double(z - 1) / double(z_out - 1) : 1.0;
  const double k_step = (flipped ? -1.0 : 1.0) * distance * source_step;
  const double first_slice = flipped ? double(z - 1) * distance : 0.0;
  Affine a{};
  for (int i = 0; i < 3; ++i) {
    const double sign = i < 2 ? -1.0 : 1.0;
    a[size_t(i)][0] = sign * row[i] * voxel_size;
    a[size_t(i)][1] = sign * column[i] * voxel_size;
    a[size_t(i)][2] = sign * normal[i] * k_step;
    a[size_t(i)][3] = sign * (first[size_t(i)] + normal[i] * first_slice);
  }
  a[3][3] = 1.0;
  return a;
}

std::optional<long> read_instance_number(const std::string& path) {
  const std::optional<std::string> text = read_text(path, 0x0020, 0x0013, kNumberBuffer);
  if (!text) return std::nullopt;
  const char* cursor = text->c_str();
  while (*cursor == ' ') ++cursor;
  if (*cursor == '+') ++cursor;
  long value = 0;
  const auto [ptr, ec] = std::from_chars(cursor, text->c_str() + text->size(), value);
  if (ec != std::errc()) return std::nullopt;
  return value;
}

// A 16-bit binary value such as Rows or Columns.
std::optional<int> read_us(const std::string& path, uint16_t group, uint16_t element) {
  char buffer[8] = {};
  uint32_t length = 0;
  if (FindDicomElement(path.c_str(), group, element, &length, buffer, sizeof buffer) < 0 ||
      length < 2) {
    return std::nullopt;
  }
  return static_cast<uint8_t>(buffer[0]) | (static_cast<uint8_t>(buffer[1]) << 8);
}

std::string compose_description(const std::string& directory, const std::string& first) {
  std::string text = "Data Source: DICOM\n";
  text += "Local DICOM directory: \n" + directory + "\n";
  const auto part = [&](uint16_t group, uint16_t element) {
    return read_text(first, group, element, kTextBuffer);
  };
  if (const auto institution = part(0x0008, 0x0080)) text += "Institution: " + *institution + "\n";
  if (const auto date = part(0x0008, 0x0020)) text += "Date: " + *date + "\n";
  const auto patient_id = part(0x0010, 0x0020);
  const auto patient_name = part(0x0010, 0x0010);
  if (patient_id && patient_name) text += "Patient: " + *patient_id + " " + *patient_name + "\n";
  const auto manufacturer = part(0x0008, 0x0070);
  const auto model = part(0x0008, 0x1090);
  if (manufacturer && model) text += "Scanner: " + *manufacturer + " " + *model + "\n";
  return text;
}

// Names of the directory's regular files, sorted byte-wise; nullopt (with a message) when
// the directory cannot be read or breaks the file-count or name-length limits.
std::optional<std::vector<std::string>> list_directory(const std::string& directory) {
  std::error_code ec;
  std::filesystem::directory_iterator it(directory, ec);
  if (ec) {
    report_error("Err: cannot list DICOM directory %s\n", directory.c_str());
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) {
      report_error("Err: cannot list DICOM directory %s\n", directory.c_str());
      return std::nullopt;
    }
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    std::string name = it->path().filename().string();
    if (name.size() > kMaxNameLength) {
      report_error("Err: file name longer than %zu characters in %s\n", kMaxNameLength,
                   directory.c_str());
      return std::nullopt;
    }
    if (names.size() == kMaxFiles) {
      report_error("Err: more than %zu files in DICOM directory %s\n", kMaxFiles,
                   directory.c_str());
      return std::nullopt;
    }
    names.push_back(std::move(name));
  }
  if (ec) {
    report_error("Err: cannot list DICOM directory %s\n", directory.c_str());
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Where the 16-bit pixel values of one slice start, after checking that the file really
// holds x*y 16-bit values there; nullopt with a message otherwise.
std::optional<int64_t> locate_pixels(const std::string& path, int x, int y) {
  if (const std::optional<int> bits = read_us(path, 0x0028, 0x0100); bits && *bits != 16) {
    report_error("Err: %s holds %d-bit pixel data; only 16-bit data can be imported\n",
                 path.c_str(), *bits);
    return std::nullopt;
  }
  const std::optional<int> columns = read_us(path, 0x0028, 0x0011);
  const std::optional<int> rows = read_us(path, 0x0028, 0x0010);
  if (!columns || !rows || *columns != x || *rows != y) {
    report_error("Err: image size of %s differs from the first file\n", path.c_str());
    return std::nullopt;
  }
  static const uint16_t kPixelTags[3][2] = {{0x7F88, 0x0010}, {0x7FE0, 0x0010}, {0xFFFE, 0xE000}};
  uint32_t length = 0;
  int64_t offset = -1;
  for (const auto& tag : kPixelTags) {
    offset = FindDicomElement(path.c_str(), tag[0], tag[1], &length, nullptr, 0);
    if (offset >= 0) break;
  }
  if (offset < 0) {
    report_error("Err: pixel data not found in %s\n", path.c_str());
    return std::nullopt;
  }
  const uint64_t needed = uint64_t(x) * uint64_t(y) * 2;
  std::error_code ec;
  const uintmax_t file_size = std::filesystem::file_size(path, ec);
  if (ec || (length != ZTR_DICOM_UNDEFINED_LENGTH && length < needed) ||
      uint64_t(offset) + needed > file_size) {
    report_error("Err: pixel data of %s is shorter than %llu bytes\n", path.c_str(),
                 static_cast<unsigned long long>(needed));
    return std::nullopt;
  }
  return offset;
}

struct SeriesFile {
  std::string path;
  std::optional<Position> position;
};

RawVolumeData* import_directory(const std::string& directory, float* voxel_size_out,
                                ImageGeometry* geometry_out, std::string* description_out) {
  std::fprintf(stderr, "DICOM directory: %s\n", directory.c_str());
  const std::optional<std::vector<std::string>> names = list_directory(directory);
  if (!names) return nullptr;
  const bool has_separator = !directory.empty() && directory.back() == '/';
  const std::string prefix = has_separator || directory.empty() ? directory : directory + "/";

  // Instance Number -> first listed file that carries it.
  std::map<long, std::string> numbered;
  for (const std::string& name : *names) {
    const std::string path = prefix + name;
    if (const std::optional<long> number = read_instance_number(path)) {
      numbered.emplace(*number, path);
    }
  }
  std::fprintf(stderr, "Found %d files\n", static_cast<int>(names->size()));

  std::vector<SeriesFile> series;
  for (long k = 1;; ++k) {
    const auto it = numbered.find(k);
    if (it == numbered.end()) break;
    series.push_back({it->second, std::nullopt});
  }
  if (series.empty()) {
    report_error("Err: no DICOM file with Instance Number 1 in %s\n", directory.c_str());
    return nullptr;
  }
  const std::string& first = series[0].path;

  for (SeriesFile& file : series) file.position = read_position(file.path);
  if (!series[0].position) {
    report_error("Err: Image Position not found in %s\n", first.c_str());
    return nullptr;
  }
  int channels = 0;
  for (const SeriesFile& file : series) {
    if (file.position && *file.position == *series[0].position) ++channels;
  }
  std::fprintf(stderr, "Number of channels: %d\n", channels);

  const std::string description = compose_description(directory, first);

  const std::optional<int> columns = read_us(first, 0x0028, 0x0011);
  const std::optional<int> rows = read_us(first, 0x0028, 0x0010);
  if (!columns || !rows || *columns < 2 || *rows < 2) {
    report_error("Err: no usable image size (Columns, Rows) in %s\n", first.c_str());
    return nullptr;
  }
  const int x = *columns;
  const int y = *rows;
  const int z = static_cast<int>(series.size()) / channels;

  // Slice distance; only needed when a channel has more than one slice.
  const std::optional<float> spacing = read_float(first, 0x0018, 0x0088, kTextBuffer);
  float distance = spacing.value_or(0.0f);
  if (!(distance > 0.0f)) {
    std::fputs("Warning: DBS not found in DICOM or 0 (IMAGE_POSITION used instead)\n", stderr);
    if (series.size() < 2 || !series[1].position) {
      // The distance only matters when a channel has a second slice (file 2).
      if (z >= 2) {
        report_error("Err: Image Position not found in %s\n", series[1].path.c_str());
        return nullptr;
      }
    } else {
      const Position& a = *series[0].position;
      const Position& b = *series[1].position;
      const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
      distance = std::sqrt(dx * dx + dy * dy + dz * dz);
    }
  }

  std::optional<float> fov = read_float(first, 0x0018, 0x1100, kTextBuffer);
  if (!fov) {
    std::fputs("Warning: FOV not found in DICOM (PIXEL_DIMENSION used instead)\n", stderr);
    const std::optional<std::string> spacing =
        read_text(first, 0x0028, 0x0030, kPixelSpacingBuffer);
    const auto values = spacing ? parse_floats(*spacing, 1) : std::nullopt;
    if (!values) {
      report_error("Err: Pixel Spacing not found in %s\n", first.c_str());
      return nullptr;
    }
    fov = static_cast<float>(x) * (*values)[0];
  }

  std::fprintf(stderr, "Recognized volume: %d x %d x %d x %d\n", x, y, z, channels);
  const int used = z * channels;
  if (used < static_cast<int>(series.size())) {
    std::fprintf(stderr, "Warning: %d files do not fill a channel and are ignored\n",
                 static_cast<int>(series.size()) - used);
  }

  // Check every slice file before allocating anything of the size the headers claim.
  std::vector<std::optional<int64_t>> offsets(used);
  for (int k = 0; k < used; ++k) {
    const std::string& path = series[k].path;
    std::unique_ptr<std::FILE, FileCloser> probe(std::fopen(path.c_str(), "rb"));
    if (!probe) continue;  // reported when the slice is read
    offsets[k] = locate_pixels(path, x, y);
    if (!offsets[k]) return nullptr;
  }

  const float voxel_size = *fov / static_cast<float>(x);
  if (!std::isfinite(voxel_size) || !(voxel_size > 0.0f)) {
    report_error("Err: unusable field of view %f mm in %s\n", *fov, first.c_str());
    return nullptr;
  }

  const VolumeHeader header{x, y, z, channels};
  const std::vector<int32_t> types(channels, ZTR_TYPE_INT16);
  const std::vector<int32_t> attributes(channels, ZTR_ATTRIBUTE_PLAIN);
  VolumePtr volume(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  if (!volume) return nullptr;

  std::fprintf(stderr, "Voxel size: %f mm\n", voxel_size);

  const size_t slice_bytes = size_t(x) * size_t(y) * 2;
  for (int k = 0; k < used; ++k) {
    const int channel = k / z;
    const int slice = k % z;
    const std::string& path = series[k].path;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file || !offsets[k]) {
      std::fprintf(stderr, "File (%s) not found\n", path.c_str());
      continue;
    }
    auto* destination = ZTR_ChannelData<uint8_t>(volume.get(), channel) + slice_bytes * slice;
    if (fseeko(file.get(), static_cast<off_t>(*offsets[k]), SEEK_SET) != 0 ||
        std::fread(destination, 1, slice_bytes, file.get()) != slice_bytes) {
      report_error("Err: cannot read the pixel data of %s\n", path.c_str());
      return nullptr;
    }
  }

  bool flipped = false;
  int z_out = z;
  if (z >= 2) {
    if (series[1].position && (*series[0].position)[2] < (*series[1].position)[2]) {
      flipped = true;
      std::fputs("Flip in Z\n", stderr);
      for (int c = 0; c < channels; ++c) ZTR_FlipChannel(volume.get(), c, nullptr, "z");
    }
    const float ratio = distance / voxel_size;
    const float target = static_cast<float>(z) * ratio;
    if (!std::isfinite(target) || target < 2.0f || target > float(kMaxResampledSlices)) {
      report_error("Err: cannot interpolate %d slices by ratio %3.3f\n", z, ratio);
      return nullptr;
    }
    std::fprintf(stderr, "Interpolating in z direction (ratio:%3.3f)...", ratio);
    z_out = static_cast<int32_t>(target);
    const int32_t new_size[3] = {x, y, z_out};
    if (ZTR_ResampleRawVolumeData(volume.get(), new_size, 1) != 0) {
      std::fputs("failed\n", stderr);
      return nullptr;
    }
    std::fputs("done\n", stderr);
  } else {
    std::fputs("Warning: one slice per channel, no interpolation in z\n", stderr);
  }

  if (voxel_size_out) *voxel_size_out = voxel_size;
  if (geometry_out) {
    ImageGeometry g;
    g.voxel_size[0] = g.voxel_size[1] = voxel_size;
    const double source_step = z >= 2 && z_out >= 2 ? double(z - 1) / double(z_out - 1) : 1.0;
    g.voxel_size[2] = z >= 2 ? static_cast<float>(distance * source_step) : voxel_size;
    const std::optional<Affine> affine =
        dicom_affine(read_orientation(first), *series[0].position,
                     series.size() >= 2 ? series[1].position : std::nullopt, distance, voxel_size,
                     z, z_out, flipped);
    if (affine) {
      g.qform = g.sform = *affine;
      g.qform_code = g.sform_code = 1;  // scanner-based anatomical coordinates
    } else {
      std::fputs("Warning: Image Orientation not found in DICOM (voxel size only)\n", stderr);
    }
    *geometry_out = g;
  }
  if (description_out) *description_out = description;
  return volume.release();
}

}  // namespace

RawVolumeData* ImportDicomDirectory(const char* directory, float* voxel_size,
                                    std::string* description) {
  if (!directory) return nullptr;
  try {
    return import_directory(directory, voxel_size, nullptr, description);
  } catch (const std::exception& e) {
    report_error("Err: DICOM import failed (%s)\n", e.what());
    return nullptr;
  }
}

RawVolumeData* ImportDicomDirectoryWithGeometry(const char* directory, ImageGeometry* geometry,
                                                std::string* description, std::string* reason) {
  if (!directory) return nullptr;
  std::string kept;
  t_reason = &kept;
  RawVolumeData* volume = nullptr;
  try {
    volume = import_directory(directory, nullptr, geometry, description);
  } catch (const std::exception& e) {
    report_error("Err: DICOM import failed (%s)\n", e.what());
  }
  t_reason = nullptr;
  if (!volume && reason) *reason = kept.empty() ? "no volume could be built" : kept;
  return volume;
}
