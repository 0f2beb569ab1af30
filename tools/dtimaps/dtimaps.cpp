// The dtimaps command: loads a DWI data set, pairs it with its gradient table, runs the
// analyzer's standard-map computation and writes the four maps.
#include "tools/dtimaps/dtimaps.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/io/dicom_import.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "analyzer/notice.h"

namespace fs = std::filesystem;

namespace {

constexpr float kB0Threshold = 50.0f;     // b values up to this count as b=0
constexpr size_t kMaxTableBytes = 1 << 24;  // gradient tables are small text files

bool parse_int(const char* text, int* value) {
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
    if (end == p || errno == ERANGE || !std::isfinite(v)) return false;
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

// A NIfTI DWI may come in any scalar type: the measurement is stored as signed 16 bits, all
// channels scaled by one common factor when the values do not fit (ratios, and so the
// tensors, stay the same).
VolumePtr to_signed_16_bits(const RawVolumeData* v, std::string* error) {
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
    for (int64_t i = 0; i < count; ++i) {
      const float value = ZTR_GetVoxelValueAsFloat(v->data[c], v->types[c], count, i);
      if (std::isfinite(value)) largest = std::max(largest, std::fabs(static_cast<double>(value)));
    }
  }
  if (all_int16) return VolumePtr(ZTR_DuplicateRawVolumeData(v));
  std::vector<int32_t> types(static_cast<size_t>(h.channels), ZTR_TYPE_INT16);
  std::vector<int32_t> attributes(static_cast<size_t>(h.channels), ZTR_ATTRIBUTE_PLAIN);
  VolumePtr out(ZTR_NewRawVolumeData(h, types.data(), attributes.data()));
  if (!out) {
    *error = "out of memory";
    return nullptr;
  }
  const double scale = largest > 32767.0 ? 32767.0 / largest : 1.0;
  for (int c = 0; c < h.channels; ++c) {
    int16_t* d = ZTR_ChannelData<int16_t>(out.get(), c);
    for (int64_t i = 0; i < count; ++i) {
      const float value = ZTR_GetVoxelValueAsFloat(v->data[c], v->types[c], count, i);
      const double s = std::isfinite(value) ? std::nearbyint(value * scale) : 0.0;
      d[i] = static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, s)));
    }
  }
  return out;
}

struct LoadedInput {
  VolumePtr volume;
  DtiDataPtr data;  // only from a DTI file: the record that came with it
  float voxel_size[3] = {1.0f, 1.0f, 1.0f};
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
      in->voxel_size[0] = in->voxel_size[1] = in->voxel_size[2] = size;
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
      const float size = record->voxel_size > 0 ? record->voxel_size : 1.0f;
      in->voxel_size[0] = in->voxel_size[1] = in->voxel_size[2] = size;
      return true;
    }
    case InputKind::kNifti: {
      std::string reason;
      VolumePtr loaded(LoadNiftiVolume(path.c_str(), in->voxel_size, &reason));
      if (!loaded) {
        *error = "cannot load NIfTI image " + path + (reason.empty() ? "" : ": " + reason);
        return false;
      }
      in->volume = to_signed_16_bits(loaded.get(), error);
      return static_cast<bool>(in->volume);
    }
    case InputKind::kDicom: {
      float size = 0.0f;
      in->volume.reset(ImportDicomDirectory(path.c_str(), &size, nullptr));
      if (!in->volume) {
        *error = "cannot import DICOM directory " + path;
        return false;
      }
      if (size > 0) in->voxel_size[0] = in->voxel_size[1] = in->voxel_size[2] = size;
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

// Copies channel `channel` of `from` (same size) into a new single-channel volume.
VolumePtr channel_copy(const RawVolumeData* from, int channel) {
  return VolumePtr(ZTR_ExtractSingleChannel(from, channel));
}

bool write_outputs(const RawVolumeData* volume, int first, const float voxel_size[3],
                   const std::string& directory, std::string* error) {
  const VolumeHeader& h = *volume->header;
  const int32_t types[4] = {ZTR_TYPE_UINT32, ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16};
  const int32_t attributes[4] = {ZTR_ATTRIBUTE_RGBA, 0, 0, 0};
  VolumePtr maps(ZTR_NewRawVolumeData({h.x, h.y, h.z, 4}, types, attributes));
  if (!maps) {
    *error = "out of memory";
    return false;
  }
  for (int m = 0; m < 4; ++m) {
    std::memcpy(maps->data[m], volume->data[first + m], ZTR_GetChannelBytes(maps.get(), m));
  }
  const std::string raw_path = (fs::path(directory) / "maps.raw").string();
  std::FILE* stream = std::fopen(raw_path.c_str(), "wb");
  if (!stream || SaveRawVolumeFile(maps.get(), stream) != 0) {
    *error = "cannot write " + raw_path;
    return false;
  }
  // The colour map is already weighted by anisotropy: its RGB part is the picture, so the
  // NIfTI image gets full alpha and is stored as RGB.
  VolumePtr colour = channel_copy(maps.get(), 0);
  if (!colour) {
    *error = "out of memory";
    return false;
  }
  uint32_t* rgba = ZTR_ChannelData<uint32_t>(colour.get(), 0);
  const int64_t count = int64_t(h.x) * h.y * h.z;
  for (int64_t i = 0; i < count; ++i) rgba[i] |= 0xFFu;
  const struct {
    const RawVolumeData* volume;
    int channel;
    const char* name;
  } images[4] = {{colour.get(), 0, "colour_fa.nii"},
                 {maps.get(), 1, "fa.nii"},
                 {maps.get(), 2, "adc.nii"},
                 {maps.get(), 3, "isod.nii"}};
  for (const auto& image : images) {
    const std::string path = (fs::path(directory) / image.name).string();
    std::string reason;
    if (SaveNiftiChannel(image.volume, image.channel, path.c_str(), voxel_size, &reason) != 0) {
      *error = "cannot write " + path + (reason.empty() ? "" : ": " + reason);
      return false;
    }
  }
  return true;
}

}  // namespace

bool parse_dtimaps_arguments(int argc, const char* const* argv, DtimapsOptions* options,
                             std::string* error) {
  DtimapsOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *target = argv[++i];
      return true;
    };
    if (arg == "--mpg") {
      if (!value(&o.mpg)) return false;
    } else if (arg == "--bval") {
      if (!value(&o.bval)) return false;
    } else if (arg == "--bvec") {
      if (!value(&o.bvec)) return false;
    } else if (arg == "--out") {
      if (!value(&o.out)) return false;
    } else if (arg == "--threads") {
      std::string text;
      if (!value(&text)) return false;
      if (!parse_int(text.c_str(), &o.threads) || o.threads < 1 || o.threads > 512) {
        *error = "--threads must be a number from 1 to 512";
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else if (o.input.empty()) {
      o.input = arg;
    } else {
      *error = "more than one INPUT given";
      return false;
    }
  }
  if (o.input.empty()) {
    *error = "no INPUT given";
    return false;
  }
  if (o.out.empty()) {
    *error = "no output directory given (--out DIR)";
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
  *options = std::move(o);
  return true;
}

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
  for (float v : b) {
    if (v < 0) {
      *error = "bval file holds a negative b value";
      return false;
    }
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
  std::vector<int> order;
  for (int c = 0; c < n; ++c) {
    if (table.b_values[c] <= b0_threshold) order.push_back(c);
  }
  const int b0 = static_cast<int>(order.size());
  for (int c = 0; c < n; ++c) {
    if (table.b_values[c] > b0_threshold) order.push_back(c);
  }
  if (b0 < 1 || n - b0 < 6) {
    *error = "gradient table needs at least one b=0 entry and six diffusion-weighted ones (has " +
             std::to_string(b0) + " and " + std::to_string(n - b0) + ")";
    return false;
  }
  std::vector<float> b(static_cast<size_t>(n));
  std::vector<float> g(static_cast<size_t>(n) * 3);
  for (int i = 0; i < n; ++i) {
    const int c = order[static_cast<size_t>(i)];
    const bool weighted = i >= b0;
    b[static_cast<size_t>(i)] = weighted ? table.b_values[static_cast<size_t>(c)] : 0.0f;
    for (int a = 0; a < 3; ++a) {
      g[static_cast<size_t>(3 * i + a)] = weighted ? table.directions[static_cast<size_t>(c)][a] : 0.0f;
    }
  }
  if (ZTRdti_SetMPG(data, n, b0, b.data(), reinterpret_cast<const float(*)[3]>(g.data())) != 0) {
    *error = "gradient table is not valid for tensor analysis";
    return false;
  }
  // b=0 channels first: the same permutation on the channel blocks (all signed 16-bit).
  std::vector<void*> blocks(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) blocks[static_cast<size_t>(i)] = data->volume->data[order[static_cast<size_t>(i)]];
  for (int i = 0; i < n; ++i) data->volume->data[i] = blocks[static_cast<size_t>(i)];
  return true;
}

int run_dtimaps(const DtimapsOptions& options, std::string* error) {
  try {
    LoadedInput input;
    if (!load_input(options.input, &input, error)) return kDtimapsBadInput;
    RawVolumeData* volume = input.volume.get();

    DtiDataPtr data = std::move(input.data);
    if (!data || !options.mpg.empty() || !options.bval.empty()) {
      const int channels = count_dti_channels(volume);
      if (channels < 7) {
        *error = "INPUT has " + std::to_string(channels) +
                 " signed 16-bit channels; a DWI data set needs one b=0 and six directions";
        return kDtimapsBadInput;
      }
      GradientTable table;
      if (!options.bval.empty()) {
        std::string bval_text, bvec_text;
        if (!read_small_file(options.bval, &bval_text, error) ||
            !read_small_file(options.bvec, &bvec_text, error) ||
            !parse_fsl_gradient_table(bval_text, bvec_text, &table, error)) {
          return kDtimapsBadInput;
        }
      }
      DiffusionTensorImageData* created = nullptr;
      // The analyzer's own set-up: the single-So default setting for the loaded volume.
      if (create_dti_data_from_volume(&created, volume) != 0 || !created) {
        *error = "cannot create the DTI data";
        return kDtimapsFailed;
      }
      data.reset(created);
      data->voxel_size = input.voxel_size[0];
      if (!options.bval.empty()) {
        if (!apply_gradient_table(table, data.get(), kB0Threshold, error)) return kDtimapsBadInput;
        ZTRdti_PrintMPGSetting(data.get());
      } else if (!options.mpg.empty()) {
        std::FILE* stream = std::fopen(options.mpg.c_str(), "r");
        if (!stream) {
          *error = "cannot open MPG file " + options.mpg;
          return kDtimapsBadInput;
        }
        if (read_mpg_text_file(stream, data.get()) != 0) {
          *error = "MPG file " + options.mpg + " was refused";
          return kDtimapsBadInput;
        }
      }
    }
    if (data->mpg_ready != 1) {
      *error = "MPG setting is NOT ready for this data (give --mpg or --bval/--bvec)";
      return kDtimapsBadInput;
    }

    std::error_code ec;
    fs::create_directories(options.out, ec);
    if (!fs::is_directory(options.out, ec)) {
      *error = "cannot create output directory " + options.out;
      return kDtimapsBadInput;
    }
    const int before = volume->header->channels;
    const int added = run_standard_dti_maps(data.get(), options.threads);
    if (added != 4 || volume->header->channels != before + 4) {
      *error = "the maps could not be computed (out of memory)";
      return kDtimapsFailed;
    }
    if (!write_outputs(volume, before, input.voxel_size, options.out, error)) return kDtimapsFailed;
    return kDtimapsOk;
  } catch (const std::exception& e) {
    *error = e.what();
    return kDtimapsFailed;
  }
}
