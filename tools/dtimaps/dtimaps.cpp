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
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "analyzer/rtnn/rtnn_maps.h"

namespace fs = std::filesystem;

namespace {

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

// Extra maps of every network in an RTNN file, prepared for the input's MPG setting, each
// output written as rtnn_<network>_<output>.nii with the input's geometry.
int write_rtnn_outputs(const DtimapsOptions& options, const DiffusionTensorImageData* data,
                       const float voxel_size[3], std::string* error) {
  RtnnTable table;
  std::string reason;
  const int loaded = parse_rtnn_file(options.rtnn, &table);
  if (loaded < 1) {
    *error = "cannot load RTNN file " + options.rtnn;
    return kDtimapsBadInput;
  }
  if (prepare_rtnns_for_mpg(data, &table) != 0) {
    *error = "the RTNNs cannot be prepared for the input's MPG setting";
    return kDtimapsBadInput;
  }
  const int16_t threshold = static_cast<int16_t>(central_signal_level(data->volume) / 8);
  for (const RtnnEntry& entry : table.entries) {
    int failed = 0;
    VolumePtr maps = compute_rtnn_map_volume(data, threshold, entry, options.threads, {}, &failed);
    if (!maps || failed > 0) {
      *error = std::string("the maps of network ") + entry.network->name + " could not be computed";
      return kDtimapsFailed;
    }
    for (int k = 0; k < entry.network->output_size; ++k) {
      const std::string name = std::string("rtnn_") + entry.network->name + "_" + entry.output_names[k] + ".nii";
      const std::string path = (fs::path(options.out) / name).string();
      if (SaveNiftiChannel(maps.get(), k, path.c_str(), voxel_size, &reason) != 0) {
        *error = "cannot write " + path + (reason.empty() ? "" : ": " + reason);
        return kDtimapsFailed;
      }
    }
  }
  return kDtimapsOk;
}

}  // namespace

bool parse_dtimaps_arguments(int argc, const char* const* argv, DtimapsOptions* options,
                             std::string* error) {
  DtimapsOptions o;
  for (int i = 1; i < argc; ++i) {
    const int input_option = parse_dwi_input_option(argc, argv, &i, &o.dwi, error);
    if (input_option < 0) return false;
    if (input_option > 0) continue;
    const std::string arg = argv[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *target = argv[++i];
      return true;
    };
    if (arg == "--out") {
      if (!value(&o.out)) return false;
    } else if (arg == "--rtnn") {
      if (!value(&o.rtnn)) return false;
    } else if (arg == "--threads") {
      std::string text;
      if (!value(&text)) return false;
      if (!parse_int_argument(text.c_str(), &o.threads) || o.threads < 1 || o.threads > 512) {
        *error = "--threads must be a number from 1 to 512";
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else if (o.dwi.input.empty()) {
      o.dwi.input = arg;
    } else {
      *error = "more than one INPUT given";
      return false;
    }
  }
  if (!check_dwi_input_options(o.dwi, error)) return false;
  if (o.out.empty()) {
    *error = "no output directory given (--out DIR)";
    return false;
  }
  *options = std::move(o);
  return true;
}

int run_dtimaps(const DtimapsOptions& options, std::string* error) {
  try {
    DwiInput input;
    const int loaded = load_dwi_input(options.dwi, &input, error);
    if (loaded != kToolOk) return loaded;
    RawVolumeData* volume = input.volume.get();
    DiffusionTensorImageData* data = input.data.get();

    std::error_code ec;
    fs::create_directories(options.out, ec);
    if (!fs::is_directory(options.out, ec)) {
      *error = "cannot create output directory " + options.out;
      return kDtimapsBadInput;
    }
    const int before = volume->header->channels;
    const int added = run_standard_dti_maps(data, options.threads);
    if (added != 4 || volume->header->channels != before + 4) {
      *error = "the maps could not be computed (out of memory)";
      return kDtimapsFailed;
    }
    if (!write_outputs(volume, before, input.geometry.voxel_size, options.out, error)) return kDtimapsFailed;
    if (!options.rtnn.empty()) return write_rtnn_outputs(options, data, input.geometry.voxel_size, error);
    return kDtimapsOk;
  } catch (const std::exception& e) {
    *error = e.what();
    return kDtimapsFailed;
  }
}
