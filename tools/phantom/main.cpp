// ztrphantom: writes a synthetic DWI volume with known tensors, its gradient table and the
// ground-truth FA and ADC.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor_phantom.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "usage: ztrphantom --out DIR [--size X Y Z] [--directions N] [--b0 N] [--b VALUE]\n"
    "                  [--signal S0] [--noise SIGMA] [--seed N] [--nifti]\n"
    "Writes DIR/dwi.raw (signed 16-bit, b=0 channels first), DIR/dwi.mpg, DIR/dwi.bval,\n"
    "DIR/dwi.bvec, DIR/truth_fa.raw, DIR/truth_adc.raw (mm^2/s) and DIR/truth_label.raw\n"
    "(0 background, 1 tissue, 2 cavity, 3 curved bundle, 4 straight bundle, 5 crossing);\n"
    "with --nifti also dwi.nii, truth_fa.nii, truth_adc.nii and truth_label.nii.\n"
    "Defaults: --size 64 64 24 --directions 30 --b0 1 --b 1000 --signal 2000 --noise 0 --seed 1";

bool number(const char* text, double* value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return errno == 0 && *end == '\0';
}

bool whole(const char* text, int* value) {
  double v = 0;
  if (!number(text, &v) || v != static_cast<double>(static_cast<long long>(v)) || v < -1e9 ||
      v > 1e9) {
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

int fail(const std::string& text) {
  std::fprintf(stderr, "ztrphantom: %s\n", text.c_str());
  return 2;
}

bool save_raw(const RawVolumeData* volume, const fs::path& path) {
  std::FILE* stream = std::fopen(path.string().c_str(), "wb");
  return stream && SaveRawVolumeFile(volume, stream) == 0;
}

bool save_text(const fs::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.string().c_str(), "w");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  PhantomOptions options;
  std::string out;
  bool nifti = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto need = [&](int n) { return i + n < argc; };
    if (arg == "--help" || arg == "-h") {
      std::printf("%s\n", kUsage);
      return 0;
    } else if (arg == "--out" && need(1)) {
      out = argv[++i];
    } else if (arg == "--size" && need(3)) {
      if (!whole(argv[i + 1], &options.x) || !whole(argv[i + 2], &options.y) ||
          !whole(argv[i + 3], &options.z)) {
        return fail("--size needs three whole numbers");
      }
      i += 3;
    } else if (arg == "--directions" && need(1)) {
      if (!whole(argv[++i], &options.directions)) return fail("--directions needs a whole number");
    } else if (arg == "--b0" && need(1)) {
      if (!whole(argv[++i], &options.b0_channels)) return fail("--b0 needs a whole number");
    } else if ((arg == "--b" || arg == "--signal" || arg == "--noise") && need(1)) {
      double v = 0;
      if (!number(argv[++i], &v)) return fail(arg + " needs a number");
      (arg == "--b" ? options.b_value : arg == "--signal" ? options.signal : options.noise_sigma) =
          static_cast<float>(v);
    } else if (arg == "--seed" && need(1)) {
      errno = 0;
      char* end = nullptr;
      options.seed = std::strtoull(argv[++i], &end, 10);
      if (errno != 0 || *end != '\0') return fail("--seed needs a whole number");
    } else if (arg == "--nifti") {
      nifti = true;
    } else {
      return fail("unknown or incomplete option " + arg + "\n" + kUsage);
    }
  }
  if (out.empty()) return fail(std::string("no output directory given\n") + kUsage);

  Phantom phantom;
  std::string error;
  if (!make_phantom(options, &phantom, &error)) return fail(error);
  const int channels = phantom.dwi->header->channels;
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), channels));
  if (!data || apply_phantom_mpg(phantom, data.get()) != 0) {
    return fail("the gradient table is not valid");
  }
  data->voxel_size = 1.0f;

  std::error_code ec;
  fs::create_directories(out, ec);
  if (!fs::is_directory(out, ec)) return fail("cannot create " + out);
  const fs::path dir(out);

  // FSL style: one line of b values, three lines (x, y, z) of direction components.
  std::string bval, bvec[3];
  char number_text[64];
  for (int c = 0; c < channels; ++c) {
    std::snprintf(number_text, sizeof number_text, c ? " %g" : "%g", phantom.b_values[c]);
    bval += number_text;
    for (int a = 0; a < 3; ++a) {
      std::snprintf(number_text, sizeof number_text, c ? " %.6f" : "%.6f", phantom.directions[c][a]);
      bvec[a] += number_text;
    }
  }
  bool ok = save_raw(phantom.dwi.get(), dir / "dwi.raw") &&
            write_mpg_text_file((dir / "dwi.mpg").string().c_str(), data.get()) == 0 &&
            save_text(dir / "dwi.bval", bval + "\n") &&
            save_text(dir / "dwi.bvec", bvec[0] + "\n" + bvec[1] + "\n" + bvec[2] + "\n");
  const char* truth_names[3] = {"truth_fa", "truth_adc", "truth_label"};
  for (int t = 0; t < 3 && ok; ++t) {
    VolumePtr channel(ZTR_ExtractSingleChannel(phantom.truth.get(), t));
    ok = channel && save_raw(channel.get(), dir / (std::string(truth_names[t]) + ".raw"));
  }
  if (ok && nifti) {
    const float voxel[3] = {1.0f, 1.0f, 1.0f};
    std::string reason;
    ok = SaveNiftiVolume(phantom.dwi.get(), (dir / "dwi.nii").string().c_str(), voxel, &reason) == 0 &&
         SaveNiftiChannel(phantom.truth.get(), 0, (dir / "truth_fa.nii").string().c_str(), voxel, &reason) == 0 &&
         SaveNiftiChannel(phantom.truth.get(), 1, (dir / "truth_adc.nii").string().c_str(), voxel, &reason) == 0 &&
         SaveNiftiChannel(phantom.truth.get(), 2, (dir / "truth_label.nii").string().c_str(), voxel, &reason) == 0;
    if (!ok) return fail("cannot write NIfTI images: " + reason);
  }
  if (!ok) return fail("cannot write the phantom files in " + out);
  std::fprintf(stderr, "ztrphantom: %dx%dx%d, %d b=0 + %d directions at b=%g, noise %g -> %s\n",
               options.x, options.y, options.z, options.b0_channels, options.directions,
               options.b_value, options.noise_sigma, out.c_str());
  return 0;
}
