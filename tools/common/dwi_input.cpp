// The batch tools' input loader: detects the kind of input, loads it, and pairs it with its
// gradient table through the analyzer's own MPG set-up.
#include "tools/common/dwi_input.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/io/dicom_import.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "analyzer/notice.h"

namespace fs = std::filesystem;

namespace {

constexpr float kB0Threshold = 50.0f;     // b values up to this count as b=0
constexpr size_t kMaxTableBytes = 1 << 24;  // gradient tables are small text files
constexpr float kLargestBValue = 100000.0f;  // s/mm^2; far beyond any scanner's

bool parse_int_local(const char* text, int* value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

// Whitespace-separated numbers of one line; false on anything that is not a number.
bool parse_numbers(std::string_view line, std::vector<float>* out) {
  std::string copy(line);
  const char* p = copy.c_str();
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == ',') ++p;
    if (!*p) return true;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(p, &end);
    // NaN passes: tables mark the direction of b=0 volumes with it; the table check decides.
    if (end == p || (errno == ERANGE && std::isfinite(v) && v != 0.0f)) return false;
    out->push_back(v);
    p = end;
    if (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != ',') return false;
  }
}

// Non-empty lines of numbers.
bool parse_rows(std::string_view text, std::vector<std::vector<float>>* rows) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::vector<float> row;
    if (!parse_numbers(text.substr(start, end - start), &row)) return false;
    if (!row.empty()) rows->push_back(std::move(row));
    start = end + 1;
  }
  return true;
}

bool read_small_file(const std::string& path, std::string* text, std::string* error) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec || size > kMaxTableBytes) {
    *error = "cannot read " + path + (ec ? "" : " (file too large)");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

// Notices of the loaders become the one-line reason of the run.
struct CapturedNotices : NoticeSink {
  std::string text;
  void notice(const std::string&, const std::string& t) override {
    if (text.empty()) text = t;
  }
};

bool ends_with(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

enum class InputKind { kRaw, kDti, kNifti, kDicom, kUnknown };

InputKind detect_input(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return InputKind::kDicom;
  std::ifstream in(path, std::ios::binary);
  if (!in) return InputKind::kUnknown;
  char head[64] = {};
  in.read(head, sizeof head);
  const size_t got = static_cast<size_t>(in.gcount());
  const size_t raw_length = std::strlen(ZTR_RAW_FILE_MAGIC);
  if (got >= raw_length && std::memcmp(head, ZTR_RAW_FILE_MAGIC, raw_length) == 0) {
    return InputKind::kRaw;
  }
  if (got >= ZTR_DTI_FILE_MAGIC_LENGTH &&
      std::memcmp(head, ZTR_DTI_FILE_MAGIC, ZTR_DTI_FILE_MAGIC_LENGTH) == 0) {
    return InputKind::kDti;
  }
  int32_t header_size = 0;
  if (got >= 4) std::memcpy(&header_size, head, 4);
  const bool gzip = got >= 2 && static_cast<unsigned char>(head[0]) == 0x1f &&
                    static_cast<unsigned char>(head[1]) == 0x8b;
  if (header_size == ZTR_NIFTI1_HEADER_SIZE || header_size == ZTR_NIFTI2_HEADER_SIZE ||
      (gzip && ends_with(path, ".nii.gz")) || ends_with(path, ".nii") || ends_with(path, ".hdr")) {
    return InputKind::kNifti;
  }
  return InputKind::kUnknown;
}

// A DWI in any scalar type is fitted as signed 16 bits: all channels are scaled by one common
// factor that brings the largest magnitude to 32767, up as well as down. FA and ADC do not
// change under a common scaling, and the full range keeps the precision of float or scaled
// data. *scale receives the factor (stored = input x scale); signed 16-bit input is kept
// as it is (factor 1).
VolumePtr to_signed_16_bits(VolumePtr loaded, double* scale, std::string* error) {
  const RawVolumeData* v = loaded.get();
  const VolumeHeader h = *v->header;
  const int64_t count = int64_t(h.x) * h.y * h.z;
  bool all_int16 = true;
  double largest = 0;
  for (int c = 0; c < h.channels; ++c) {
    if (v->attributes[c] != ZTR_ATTRIBUTE_PLAIN) {
      *error = "INPUT has a colour channel; a DWI image has scalar channels only";
      return nullptr;
    }
    all_int16 = all_int16 && v->types[c] == ZTR_TYPE_INT16;
  }
  *scale = 1.0;
  if (all_int16) return loaded;
  for (int c = 0; c < h.channels; ++c) {
    for (int64_t i = 0; i < count; ++i) {
      const float value = ZTR_GetVoxelValueAsFloat(v->data[c], v->types[c], count, i);
      if (std::isfinite(value)) largest = std::max(largest, std::fabs(static_cast<double>(value)));
    }
  }
  std::vector<int32_t> types(static_cast<size_t>(h.channels), ZTR_TYPE_INT16);
  std::vector<int32_t> attributes(static_cast<size_t>(h.channels), ZTR_ATTRIBUTE_PLAIN);
  VolumePtr out(ZTR_NewRawVolumeData(h, types.data(), attributes.data()));
  if (!out) {
    *error = "out of memory";
    return nullptr;
  }
  const double factor = largest > 0.0 ? 32767.0 / largest : 1.0;
  for (int c = 0; c < h.channels; ++c) {
    int16_t* d = ZTR_ChannelData<int16_t>(out.get(), c);
    for (int64_t i = 0; i < count; ++i) {
      const float value = ZTR_GetVoxelValueAsFloat(v->data[c], v->types[c], count, i);
      const double s = std::isfinite(value) ? std::nearbyint(value * factor) : 0.0;
      d[i] = static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, s)));
    }
  }
  if (factor != 1.0) {
    std::fprintf(stderr, "INPUT signal scaled by %g into the signed 16-bit range\n", factor);
  }
  *scale = factor;
  return out;
}

struct LoadedInput {
  VolumePtr volume;
  DtiDataPtr data;  // only from a DTI file: the record that came with it
  ImageGeometry geometry;
  double signal_scale = 1.0;
};

bool load_input(const std::string& path, LoadedInput* in, std::string* error) {
  CapturedNotices notices;
  switch (detect_input(path)) {
    case InputKind::kRaw: {
      float size = 1.0f;
      in->volume.reset(LoadRawVolumeFile(path.c_str(), &size, nullptr, &notices));
      if (!in->volume) {
        *error = "cannot load raw volume file " + path +
                 (notices.text.empty() ? std::string() : ": " + notices.text);
        return false;
      }
      const float sizes[3] = {size, size, size};
      in->geometry = geometry_from_voxel_size(sizes);
      return true;
    }
    case InputKind::kDti: {
      DiffusionTensorImageData* record = read_dti_file(path.c_str(), nullptr, &notices);
      if (!record || !record->volume) {
        ZTRdti_DeleteDiffusionTensorImageData(record, 1);
        *error = "cannot load DTI file " + path +
                 (notices.text.empty() ? std::string() : ": " + notices.text);
        return false;
      }
      in->volume.reset(record->volume);
      in->data.reset(record);
      const float sizes[3] = {record->voxel_size, record->voxel_size, record->voxel_size};
      in->geometry = geometry_from_voxel_size(sizes);
      return true;
    }
    case InputKind::kNifti: {
      std::string reason;
      // The batch tools read their input once and end: its data stays in the file.
      VolumePtr loaded(LoadNiftiVolumeWithGeometryMapped(path.c_str(), &in->geometry, &reason));
      if (!loaded) {
        *error = "cannot load NIfTI image " + path + (reason.empty() ? "" : ": " + reason);
        return false;
      }
      in->volume = to_signed_16_bits(std::move(loaded), &in->signal_scale, error);
      return static_cast<bool>(in->volume);
    }
    case InputKind::kDicom: {
      std::string reason;
      in->volume.reset(ImportDicomDirectoryWithGeometry(path.c_str(), &in->geometry, nullptr, &reason));
      if (!in->volume) {
        *error = "cannot import DICOM directory " + path + ": " + reason;
        return false;
      }
      return true;
    }
    case InputKind::kUnknown:
      break;
  }
  std::error_code ec;
  *error = fs::exists(path, ec)
               ? path + " is not a raw volume file, DTI file, NIfTI image or DICOM directory"
               : "cannot open " + path;
  return false;
}

std::string format_b(float b) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(b));
  return text;
}

// The gradient table of a record's current setting, b=0 channels at b 0.
GradientTable table_of(const DiffusionTensorImageData* data) {
  GradientTable table;
  for (int c = 0; c < data->dti_channels; ++c) {
    const bool b0 = c < data->b0_channels;
    table.b_values.push_back(b0 ? 0.0f : data->b_value[c]);
    table.directions.push_back({data->mpg_vector[c][0], data->mpg_vector[c][1], data->mpg_vector[c][2]});
  }
  return table;
}

// Applies a checked table to the first entries of the record's volume: b=0 entries first,
// the channel blocks permuted the same way.
bool apply_table(const GradientTable& checked, DiffusionTensorImageData* data, float b0_threshold,
                 std::string* error) {
  const int n = static_cast<int>(checked.b_values.size());
  std::vector<int> order;
  for (int c = 0; c < n; ++c) {
    if (checked.b_values[static_cast<size_t>(c)] <= b0_threshold) order.push_back(c);
  }
  const int b0 = static_cast<int>(order.size());
  for (int c = 0; c < n; ++c) {
    if (checked.b_values[static_cast<size_t>(c)] > b0_threshold) order.push_back(c);
  }
  std::vector<float> b(static_cast<size_t>(n));
  std::vector<float> g(static_cast<size_t>(n) * 3);
  for (int i = 0; i < n; ++i) {
    const size_t c = static_cast<size_t>(order[static_cast<size_t>(i)]);
    const bool weighted = i >= b0;
    b[static_cast<size_t>(i)] = weighted ? checked.b_values[c] : 0.0f;
    for (int a = 0; a < 3; ++a) {
      g[static_cast<size_t>(3 * i + a)] = weighted ? checked.directions[c][static_cast<size_t>(a)] : 0.0f;
    }
  }
  if (ZTRdti_SetMPG(data, n, b0, b.data(), reinterpret_cast<const float(*)[3]>(g.data())) != 0 ||
      data->mpg_ready != 1) {
    *error = "gradient table is not valid for tensor analysis (" + std::to_string(n - b0) +
             " diffusion-weighted entries; 6 to 513 are needed)";
    return false;
  }
  std::vector<void*> blocks(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) blocks[static_cast<size_t>(i)] = data->volume->data[order[static_cast<size_t>(i)]];
  for (int i = 0; i < n; ++i) data->volume->data[i] = blocks[static_cast<size_t>(i)];
  return true;
}

}  // namespace

bool parse_fsl_gradient_table(std::string_view bval_text, std::string_view bvec_text,
                              GradientTable* table, std::string* error) {
  std::vector<std::vector<float>> bval_rows, bvec_rows;
  if (!parse_rows(bval_text, &bval_rows)) {
    *error = "bval file holds something that is not a number";
    return false;
  }
  if (!parse_rows(bvec_text, &bvec_rows)) {
    *error = "bvec file holds something that is not a number";
    return false;
  }
  std::vector<float> b;
  for (const auto& row : bval_rows) b.insert(b.end(), row.begin(), row.end());
  const size_t n = b.size();
  if (n == 0 || n > static_cast<size_t>(ZTR_DTI_MAX_CHANNELS)) {
    *error = "bval file must hold 1 to 4096 b values";
    return false;
  }
  std::vector<std::array<float, 3>> g(n);
  const bool three_rows = bvec_rows.size() == 3 && bvec_rows[0].size() == n &&
                          bvec_rows[1].size() == n && bvec_rows[2].size() == n;
  bool one_per_line = bvec_rows.size() == n;
  for (const auto& row : bvec_rows) one_per_line = one_per_line && row.size() == 3;
  if (three_rows) {
    for (size_t i = 0; i < n; ++i) g[i] = {bvec_rows[0][i], bvec_rows[1][i], bvec_rows[2][i]};
  } else if (one_per_line) {
    for (size_t i = 0; i < n; ++i) g[i] = {bvec_rows[i][0], bvec_rows[i][1], bvec_rows[i][2]};
  } else {
    *error = "bvec file does not hold three directions components for each of the " +
             std::to_string(n) + " b values";
    return false;
  }
  table->b_values = std::move(b);
  table->directions = std::move(g);
  return true;
}

bool check_gradient_table(GradientTable* table, float b0_threshold, std::string* error) {
  const size_t n = table->b_values.size();
  if (table->directions.size() != n || n == 0) {
    *error = "gradient table has no entries or its b values and directions differ in number";
    return false;
  }
  // A table without b=0 is wrong as a whole: say so before faulting single entries.
  bool has_b0 = false;
  for (float b : table->b_values) has_b0 = has_b0 || (b >= 0.0f && b <= b0_threshold);
  if (!has_b0) {
    *error = "gradient table has no b=0 volume (b <= " + format_b(b0_threshold) + ")";
    return false;
  }
  int b0 = 0, weighted = 0, rescaled = 0;
  for (size_t i = 0; i < n; ++i) {
    const float b = table->b_values[i];
    const std::string volume = "volume " + std::to_string(i);
    if (!std::isfinite(b) || b < 0.0f || b > kLargestBValue) {
      *error = "gradient table: " + volume + " has b=" + format_b(b) +
               "; b values are from 0 to " + format_b(kLargestBValue) + " s/mm^2";
      return false;
    }
    std::array<float, 3>& g = table->directions[i];
    if (b <= b0_threshold) {
      // b=0 volumes have no direction; tables mark that with zeros or NaN.
      if (b > 0.0f) {
        std::fprintf(stderr, "Warning: %s has b=%g, counted as b=0 (b <= %g)\n", volume.c_str(),
                     static_cast<double>(b), static_cast<double>(b0_threshold));
      }
      g = {0.0f, 0.0f, 0.0f};
      ++b0;
      continue;
    }
    ++weighted;
    const double norm2 = double(g[0]) * g[0] + double(g[1]) * g[1] + double(g[2]) * g[2];
    if (!std::isfinite(norm2) || norm2 < 1e-12) {
      *error = "gradient table: " + volume + " (b=" + format_b(b) +
               ") has a zero or non-finite gradient direction";
      return false;
    }
    if (std::fabs(norm2 - 1.0) > 1e-4) {
      // Scanners code lower b values on a shell by shorter vectors: the true b is b |g|^2.
      const double norm = std::sqrt(norm2);
      for (float& component : g) component = static_cast<float>(component / norm);
      table->b_values[i] = static_cast<float>(b * norm2);
      if (!(table->b_values[i] <= kLargestBValue)) {
        *error = "gradient table: " + volume + " has b |g|^2 = " + format_b(table->b_values[i]) +
                 ", beyond " + format_b(kLargestBValue) + " s/mm^2";
        return false;
      }
      ++rescaled;
    }
  }
  if (b0 == 0) {
    *error = "gradient table has no b=0 volume (b <= " + format_b(b0_threshold) + ")";
    return false;
  }
  if (weighted < 6) {
    *error = "gradient table has " + std::to_string(weighted) +
             " diffusion-weighted volumes; a tensor needs at least 6";
    return false;
  }
  if (rescaled > 0) {
    std::fprintf(stderr,
                 "Warning: %d gradient directions are not unit vectors: normalised, b scaled by |g|^2\n",
                 rescaled);
  }
  return true;
}

bool apply_gradient_table(const GradientTable& table, DiffusionTensorImageData* data,
                          float b0_threshold, std::string* error) {
  const int n = static_cast<int>(table.b_values.size());
  if (!data || !data->volume || table.directions.size() != table.b_values.size()) {
    *error = "no data for the gradient table";
    return false;
  }
  const int usable = count_dti_channels(data->volume);
  if (n != usable) {
    *error = "gradient table has " + std::to_string(n) + " entries but INPUT has " +
             std::to_string(usable) + " signed 16-bit channels";
    return false;
  }
  GradientTable checked = table;
  if (!check_gradient_table(&checked, b0_threshold, error)) return false;
  return apply_table(checked, data, b0_threshold, error);
}

bool read_small_text_file(const std::string& path, std::string* text, std::string* error) {
  return read_small_file(path, text, error);
}

bool parse_int_argument(const char* text, int* value) { return parse_int_local(text, value); }

int parse_dwi_input_option(int argc, const char* const* argv, int* i, DwiInputOptions* options,
                           std::string* error) {
  const std::string arg = argv[*i];
  std::string* target = nullptr;
  if (arg == "--mpg") target = &options->mpg;
  if (arg == "--bval") target = &options->bval;
  if (arg == "--bvec") target = &options->bvec;
  if (!target && arg != "--voxel-size") return 0;
  if (*i + 1 >= argc) {
    *error = arg + " needs a value";
    return -1;
  }
  const char* value = argv[++*i];
  if (target) {
    *target = value;
    return 1;
  }
  char* end = nullptr;
  errno = 0;
  const float size = std::strtof(value, &end);
  if (end == value || *end != '\0' || errno == ERANGE || !std::isfinite(size) || size <= 0.0f) {
    *error = "--voxel-size must be a positive number of millimetres";
    return -1;
  }
  options->voxel_size = size;
  return 1;
}

bool check_dwi_input_options(const DwiInputOptions& o, std::string* error) {
  if (o.input.empty()) {
    *error = "no INPUT given";
    return false;
  }
  if (!o.mpg.empty() && (!o.bval.empty() || !o.bvec.empty())) {
    *error = "--mpg and --bval/--bvec exclude each other";
    return false;
  }
  if (o.bval.empty() != o.bvec.empty()) {
    *error = "--bval and --bvec go together";
    return false;
  }
  return true;
}

bool take_input_argument(const std::string& arg, DwiInputOptions* options, std::string* error) {
  if (arg.size() > 1 && arg[0] == '-') {
    *error = "unknown option " + arg;
    return false;
  }
  if (!options->input.empty()) {
    *error = "more than one INPUT given";
    return false;
  }
  options->input = arg;
  return true;
}

bool check_input_and_output(const DwiInputOptions& options, const std::string& out,
                            std::string* error) {
  if (!check_dwi_input_options(options, error)) return false;
  if (out.empty()) {
    *error = "no output directory given (--out DIR)";
    return false;
  }
  return true;
}

int load_dwi_input(const DwiInputOptions& options, DwiInput* result, std::string* error) {
  LoadedInput input;
  if (!load_input(options.input, &input, error)) return kToolBadInput;
  if (options.voxel_size > 0.0f) {
    const float sizes[3] = {options.voxel_size, options.voxel_size, options.voxel_size};
    override_voxel_size(&input.geometry, sizes);
  } else if (!voxel_sizes_are_valid(input.geometry)) {
    char sizes[128];
    std::snprintf(sizes, sizeof sizes, "%g x %g x %g", double(input.geometry.voxel_size[0]),
                  double(input.geometry.voxel_size[1]), double(input.geometry.voxel_size[2]));
    *error = std::string("INPUT has voxel size ") + sizes +
             " mm, which is not a positive number; give --voxel-size MM";
    return kToolBadInput;
  }
  RawVolumeData* volume = input.volume.get();

  DtiDataPtr data = std::move(input.data);
  GradientTable table;
  bool have_table = false;
  if (!data || !options.mpg.empty() || !options.bval.empty()) {
    const int channels = count_dti_channels(volume);
    if (channels < 7) {
      *error = "INPUT has " + std::to_string(channels) +
               " signed 16-bit channels; a DWI data set needs one b=0 and six directions";
      return kToolBadInput;
    }
    if (!options.bval.empty()) {
      std::string bval_text, bvec_text;
      if (!read_small_file(options.bval, &bval_text, error) ||
          !read_small_file(options.bvec, &bvec_text, error) ||
          !parse_fsl_gradient_table(bval_text, bvec_text, &table, error)) {
        return kToolBadInput;
      }
      if (static_cast<int>(table.b_values.size()) != channels) {
        *error = "gradient table has " + std::to_string(table.b_values.size()) +
                 " entries but INPUT has " + std::to_string(channels) + " signed 16-bit channels";
        return kToolBadInput;
      }
      have_table = true;
    }
    DiffusionTensorImageData* created = nullptr;
    // The analyzer's own set-up: the single-So default setting for the loaded volume.
    if (create_dti_data_from_volume(&created, volume) != 0 || !created) {
      *error = "cannot create the DTI data";
      return kToolFailed;
    }
    data.reset(created);
    if (!options.mpg.empty()) {
      std::FILE* stream = std::fopen(options.mpg.c_str(), "r");
      if (!stream) {
        *error = "cannot open MPG file " + options.mpg;
        return kToolBadInput;
      }
      // The reader closes the stream.
      if (read_mpg_text_file(stream, data.get()) != 0) {
        *error = "MPG file " + options.mpg + " was refused: it needs at least 6 diffusion-weighted "
                 "channels and no more channels than INPUT has (" + std::to_string(channels) + ")";
        return kToolBadInput;
      }
      if (data->mpg_ready != 1) {
        *error = "MPG file " + options.mpg + " gives a setting that is not valid for analysis";
        return kToolBadInput;
      }
    }
  }
  if (!have_table) {
    // The MPG file's or DTI file's setting goes through the same checks as a bval/bvec table.
    if (data->mpg_ready != 1) {
      *error = "MPG setting is NOT ready for this data (give --mpg or --bval/--bvec)";
      return kToolBadInput;
    }
    table = table_of(data.get());
    if (data->dti_channels > volume->header->channels) {
      *error = "MPG setting has more channels than INPUT";
      return kToolBadInput;
    }
  }
  if (!check_gradient_table(&table, kB0Threshold, error) ||
      !apply_table(table, data.get(), kB0Threshold, error)) {
    return kToolBadInput;
  }
  ZTRdti_PrintMPGSetting(data.get());
  data->voxel_size = input.geometry.voxel_size[0];
  result->geometry = input.geometry;
  result->signal_scale = input.signal_scale;
  result->volume = std::move(input.volume);
  result->data = std::move(data);
  return kToolOk;
}
