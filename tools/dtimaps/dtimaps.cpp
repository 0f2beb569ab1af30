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
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "analyzer/rtnn/rtnn_maps.h"

namespace fs = std::filesystem;

namespace {

// One row per written map: its file, what it holds and how its stored values read.
struct MapImage {
  int channel;  // in the maps volume
  const char* name;
  const char* description;
  double slope;  // 0: stored values are the true values; negative: the input's signal units
};
constexpr MapImage kMapImages[] = {
    {0, "colour_fa.nii", "colour FA (red, green, blue volumes)", 0.0},
    {1, "fa.nii", "FA", 0.001},
    {2, "adc.nii", "ADC mm^2/s", 1e-6},
    {3, "isod.nii", "isoD signal", -1.0},
};

bool write_outputs(StandardMapVolumes* computed, const DwiInput& input,
                   const std::string& directory, std::string* error) {
  const VolumeHeader& h = *computed->fa->header;
  const int32_t types[4] = {ZTR_TYPE_UINT32, ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16};
  const int32_t attributes[4] = {ZTR_ATTRIBUTE_RGBA, 0, 0, 0};
  VolumePtr maps(ZTR_NewRawVolumeData({h.x, h.y, h.z, 4}, types, attributes));
  if (!maps) {
    *error = "out of memory";
    return false;
  }
  // The computed blocks move into the four-channel volume (same types): no copy.
  RawVolumeData* order[4] = {computed->colour_fa.get(), computed->fa.get(), computed->adc.get(),
                             computed->isod.get()};
  for (int m = 0; m < 4; ++m) std::swap(maps->data[m], order[m]->data[0]);
  const std::string raw_path = (fs::path(directory) / "maps.raw").string();
  const auto write_image = [&](const MapImage& image, std::string* reason) {
    const std::string path = (fs::path(directory) / image.name).string();
    NiftiImageLabel label;
    label.description = std::string("dtimaps ") + image.description;
    // The colour map is already weighted by anisotropy: its RGB part is the picture.
    label.colour_as_three_volumes = true;
    label.slope = image.slope;
    if (image.slope < 0) label.slope = input.signal_scale != 1.0 ? 1.0 / input.signal_scale : 0.0;
    if (SaveNiftiChannel(maps.get(), image.channel, path.c_str(), input.geometry, label, reason) != 0) {
      if (reason->empty()) *reason = "cannot write " + path;
      return false;
    }
    return true;
  };
  // The files are independent: each is written on its own thread, so that the waits for the
  // disk (every file is synced before its rename) overlap instead of adding up.
  constexpr size_t kImages = std::size(kMapImages);
  std::string raw_error, image_errors[kImages];
  bool image_ok[kImages] = {};
  std::thread writers[kImages];
  for (size_t i = 0; i < kImages; ++i) {
    auto write = [&, i] { image_ok[i] = write_image(kMapImages[i], &image_errors[i]); };
    try {
      writers[i] = std::thread(write);
    } catch (const std::system_error&) {
      write();  // no thread: this one in turn
    }
  }
  const bool raw_ok = SaveRawVolumeFileAtomically(maps.get(), raw_path, &raw_error) == 0;
  bool images_ok = true;
  for (size_t i = 0; i < kImages; ++i) {
    if (writers[i].joinable()) writers[i].join();
    if (!image_ok[i] && images_ok) {
      images_ok = false;
      if (raw_ok) *error = image_errors[i];
    }
  }
  if (!raw_ok) *error = raw_error;
  return raw_ok && images_ok;
}

// A thread joined when it goes out of scope, on every return path.
struct JoinedThread {
  std::thread thread;
  ~JoinedThread() {
    if (thread.joinable()) thread.join();
  }
};

// Extra maps of every network in an RTNN file, prepared for the input's MPG setting, each
// output written as rtnn_<network>_<output>.nii with the input's geometry.
int write_rtnn_outputs(const DtimapsOptions& options, const DwiInput& input, std::string* error) {
  const DiffusionTensorImageData* data = input.data.get();
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
      NiftiImageLabel label;
      label.description = std::string("dtimaps RTNN ") + entry.network->name + " " + entry.output_names[k];
      if (SaveNiftiChannel(maps.get(), k, path.c_str(), input.geometry, label, &reason) != 0) {
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
    } else if (!take_input_argument(arg, &o.dwi, error)) {
      return false;
    }
  }
  if (!check_input_and_output(o.dwi, o.out, error)) return false;
  *options = std::move(o);
  return true;
}

int run_dtimaps(const DtimapsOptions& options, std::string* error) {
  try {
    DwiInput input;
    const int loaded = load_dwi_input(options.dwi, &input, error);
    if (loaded != kToolOk) return loaded;
    DiffusionTensorImageData* data = input.data.get();

    std::error_code ec;
    fs::create_directories(options.out, ec);
    if (!fs::is_directory(options.out, ec)) {
      *error = "cannot create output directory " + options.out;
      return kDtimapsBadInput;
    }
    // isoD is exp(-ADC b) So at one b: the first diffusion-weighted channel's.
    std::fprintf(stderr, "isoD at b=%g s/mm^2 (the first diffusion-weighted channel's)\n",
                 static_cast<double>(ZTRdti_GetUniformBValue(data)));
    StandardMapVolumes maps;
    if (run_standard_dti_map_volumes(data, options.threads, &maps) != 4) {
      *error = "the maps could not be computed (out of memory)";
      return kDtimapsFailed;
    }
    // Without networks to run the input is not read again: a thread of its own gives its
    // pages back while the outputs are written.
    JoinedThread release;
    if (options.rtnn.empty()) {
      try {
        release.thread = std::thread([volume = std::move(input.volume), record = std::move(input.data)]() mutable {
          record.reset();
          volume.reset();
        });
      } catch (const std::system_error&) {
        // The input went with the thread that could not start.
      }
    }
    if (!write_outputs(&maps, input, options.out, error)) return kDtimapsFailed;
    if (!options.rtnn.empty()) return write_rtnn_outputs(options, input, error);
    return kDtimapsOk;
  } catch (const std::exception& e) {
    *error = e.what();
    return kDtimapsFailed;
  }
}
