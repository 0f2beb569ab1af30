// The dtivoxel command: argument parsing and the six subcommands over the voxel analysis
// engines, the shared DWI loader and the mask files.
#include "tools/dtivoxel/dtivoxel.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "analyzer/io/atomic_file.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/voxel/diffusion_profile.h"
#include "analyzer/voxel/voxel_growing.h"
#include "analyzer/voxel/voxel_runs.h"
#include "analyzer/voxel/voxel_statistics.h"
#include "tools/common/mask_io.h"
#include "tools/dtivoxel/glyph_vtk.h"

namespace fs = std::filesystem;

namespace {

bool parse_float(const std::string& text, float* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool parse_float_list(const std::string& text, float* values, size_t n) {
  size_t start = 0;
  for (size_t k = 0; k < n; ++k) {
    const size_t comma = text.find(',', start);
    const bool last = k + 1 == n;
    if (last != (comma == std::string::npos)) return false;
    const std::string part = text.substr(start, last ? std::string::npos : comma - start);
    if (!parse_float(part, &values[k])) return false;
    start = comma + 1;
  }
  return true;
}

bool parse_range(const std::string& text, DtivoxelRange* range) {
  if (text == "off") {
    range->on = false;
    return true;
  }
  float v[2];
  if (!parse_float_list(text, v, 2)) return false;
  *range = {true, v[0], v[1]};
  return true;
}

// Options each subcommand takes besides the input options.
const std::set<std::string>& allowed_options(const std::string& command) {
  static const std::set<std::string> grow = {"--seed-mask", "--mode",    "--channel",
                                             "--min-signal", "--max-signal", "--min-fa",
                                             "--max-angle",  "--max-step", "--out"};
  static const std::set<std::string> select = {"--mode",       "--channel", "--min-signal",
                                               "--max-signal", "--min-fa",  "--out"};
  static const std::set<std::string> morphology = {"--out"};
  static const std::set<std::string> stats = {"--mask", "--dump-adc", "--out"};
  static const std::set<std::string> profile = {
      "--box",       "--mask",      "--density",   "--primitive", "--colour",
      "--emphasis",  "--fa-range",  "--adc-range", "--so-range",  "--out"};
  if (command == "grow") return grow;
  if (command == "select") return select;
  if (command == "stats") return stats;
  if (command == "profile") return profile;
  return morphology;
}

bool takes_dwi_input(const std::string& command) {
  return command == "grow" || command == "select" || command == "stats" || command == "profile";
}

VolumePtr mask_volume(const VoxelMask& mask) {
  const int32_t type = ZTR_TYPE_UINT8, attribute = ZTR_ATTRIBUTE_PLAIN;
  VolumePtr volume(ZTR_NewRawVolumeData({mask.x, mask.y, mask.z, 1}, &type, &attribute));
  if (volume) std::memcpy(volume->data[0], mask.inside.data(), mask.inside.size());
  return volume;
}

VoxelMask voxel_mask_of(const RawVolumeData* volume) {
  VoxelMask mask;
  mask.x = volume->header->x;
  mask.y = volume->header->y;
  mask.z = volume->header->z;
  const uint8_t* m = ZTR_ChannelData<uint8_t>(volume, 0);
  mask.inside.assign(m, m + size_t(int64_t(mask.x) * mask.y * mask.z));
  return mask;
}

size_t count_set(const VoxelMask& mask) {
  size_t n = 0;
  for (const uint8_t v : mask.inside) n += v != 0;
  return n;
}

bool write_text_file(const std::string& path, const std::string& text, std::string* error) {
  return write_file_atomically(path, text, error);
}

bool make_directory(const std::string& directory, std::string* error) {
  std::error_code ec;
  fs::create_directories(directory, ec);
  if (!fs::is_directory(directory, ec)) {
    *error = "cannot create output directory " + directory;
    return false;
  }
  return true;
}

std::string json_number(double v) {
  if (!std::isfinite(v)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string statistics_json(const ROI_DTI_STATISTICS& s, double distance_mm, bool with_distance) {
  std::string json = "{\n  \"voxels\": " + std::to_string(s.voxels) +
                     ",\n  \"valid_voxels\": " + std::to_string(s.valid_voxels) +
                     ",\n  \"parameters\": {\n";
  for (int p = 0; p < ZTR_STATISTICS_PARAMETERS; ++p) {
    const ZTR_PARAMETER_STATISTICS& q = s.parameters[p];
    json += std::string("    \"") + kStatisticsParameterNames[p] + "\": {\"min\": " +
            json_number(q.min) + ", \"max\": " + json_number(q.max) +
            ", \"mean\": " + json_number(q.mean) + ", \"std\": " + json_number(q.std) + "}" +
            (p + 1 < ZTR_STATISTICS_PARAMETERS ? ",\n" : "\n");
  }
  json += "  }";
  if (with_distance) json += ",\n  \"distance_mm\": " + json_number(distance_mm);
  json += "\n}\n";
  return json;
}

// The loaded input and its masks.
struct Loaded {
  DwiInput input;
  std::vector<VoxelMask> masks;
};

int load(const DtivoxelOptions& o, const std::vector<std::string>& mask_paths, Loaded* loaded,
         std::string* error) {
  const int status = load_dwi_input(o.dwi, &loaded->input, error);
  if (status != kToolOk) return status;
  for (const std::string& path : mask_paths) {
    VoxelMask mask;
    if (!read_mask_nifti(path, *loaded->input.volume->header, &mask, error)) return kToolBadInput;
    loaded->masks.push_back(std::move(mask));
  }
  return kToolOk;
}

int run_grow_or_select(const DtivoxelOptions& o, std::string* report, std::string* error) {
  const bool grow = o.command == "grow";
  Loaded loaded;
  const int status = load(o, grow ? std::vector<std::string>{o.seed_mask} : std::vector<std::string>{},
                          &loaded, error);
  if (status != kToolOk) return status;
  const RawVolumeData* volume = loaded.input.volume.get();
  VOXEL_GROWING_SETTING setting;
  setting.mode = (o.mode == "signal") ? ZTR_VOXEL_GROWING_SIGNAL
                 : (o.mode == "local") ? ZTR_VOXEL_GROWING_LOCAL_TENSOR
                                       : ZTR_VOXEL_GROWING_TENSOR;
  if (setting.mode == ZTR_VOXEL_GROWING_SIGNAL &&
      (o.channel >= volume->header->channels || volume->types[o.channel] != ZTR_TYPE_INT16)) {
    *error = "--channel " + std::to_string(o.channel) + " is not a signed 16-bit channel of the input";
    return kToolBadInput;
  }
  setting.min_fa = o.min_fa;
  setting.max_angle = o.max_angle;
  setting.max_step = o.max_step;
  setting.channel = o.channel;
  setting.min_signal = o.min_signal;
  setting.max_signal = o.max_signal;
  const int32_t dims[3] = {volume->header->x, volume->header->y, volume->header->z};
  VolumePtr mask(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_PLAIN));
  if (!mask) {
    *error = "out of memory";
    return kToolFailed;
  }
  setting.mask = mask.get();
  VolumePtr seeds;
  if (grow) {
    seeds = mask_volume(loaded.masks[0]);
    if (!seeds) {
      *error = "out of memory";
      return kToolFailed;
    }
  }
  if (clear_voxel_mask(mask.get(), seeds.get()) != 0) {
    *error = "the seed mask cannot be painted";
    return kToolFailed;
  }
  const int result = grow ? voxel_grow(loaded.input.data.get(), &setting)
                          : voxel_select(loaded.input.data.get(), &setting);
  if (result != 0) {
    *error = grow ? "nothing was grown" : "nothing was selected";
    return kToolFailed;
  }
  const VoxelMask out = voxel_mask_of(mask.get());
  if (!write_mask_nifti(out, loaded.input.geometry, o.out, error)) return kToolFailed;
  *report = std::to_string(count_set(out)) + " voxels written to " + o.out;
  return kToolOk;
}

int run_morphology(const DtivoxelOptions& o, std::string* report, std::string* error) {
  float voxel_size[3] = {1.0f, 1.0f, 1.0f};
  std::string reason;
  VolumePtr image(LoadNiftiVolume(o.mask_input.c_str(), voxel_size, &reason));
  if (!image) {
    *error = "cannot load mask " + o.mask_input + (reason.empty() ? "" : ": " + reason);
    return kToolBadInput;
  }
  VoxelMask in;
  if (!read_mask_nifti(o.mask_input, *image->header, &in, error)) return kToolBadInput;
  VolumePtr mask = mask_volume(in);
  if (!mask) {
    *error = "out of memory";
    return kToolFailed;
  }
  const int result = o.command == "dilate" ? dilate_voxel_mask(mask.get()) : erode_voxel_mask(mask.get());
  if (result != 0) {
    *error = "the mask cannot be edited";
    return kToolFailed;
  }
  const VoxelMask out = voxel_mask_of(mask.get());
  if (!write_mask_nifti(out, geometry_from_voxel_size(voxel_size), o.out, error)) return kToolFailed;
  *report = std::to_string(count_set(out)) + " voxels written to " + o.out;
  return kToolOk;
}

int run_stats(const DtivoxelOptions& o, std::string* report, std::string* error) {
  Loaded loaded;
  const int status = load(o, o.masks, &loaded, error);
  if (status != kToolOk) return status;
  if (!make_directory(o.out, error)) return kToolBadInput;
  std::vector<VOXEL_GROUP_BOX> groups;
  for (const VoxelMask& m : loaded.masks) {
    VolumePtr v = mask_volume(m);
    if (!v) {
      *error = "out of memory";
      return kToolFailed;
    }
    groups.push_back(voxel_group_from_mask(v.get()));
  }
  STATISTICS_REGION region;
  region.selector = ZTR_REGION_LISTED;
  for (const VOXEL_GROUP_BOX& g : groups) region.voxel_groups.push_back(&g);
  const bool two = groups.size() == 2;
  RegionStatisticsOptions options;
  if (two) {
    options.distance_groups[0] = &groups[0];
    options.distance_groups[1] = &groups[1];
  }
  for (int a = 0; a < 3; ++a) options.voxel_size[a] = loaded.input.geometry.voxel_size[a];
  RegionStatisticsRun run;
  if (run_region_statistics(loaded.input.data.get(), region, options, &run, error) != 0) {
    return kToolFailed;
  }
  const ROI_DTI_STATISTICS& statistics = run.statistics;
  const RawVolumeData* mask = run.mask.get();
  if (!write_text_file((fs::path(o.out) / "stats.txt").string(), run.summary, error) ||
      !write_text_file((fs::path(o.out) / "stats.json").string(),
                       statistics_json(statistics, run.distance_mm, two), error)) {
    return kToolFailed;
  }
  if (o.dump_adc) {
    const std::string path = (fs::path(o.out) / kAdcProfileFileName).string();
    if (dump_adc_profile(loaded.input.data.get(), mask, path) != 0) {
      *error = "the ADC dump could not be written to " + path;
      return kToolFailed;
    }
  }
  *report = std::to_string(statistics.valid_voxels) + " of " + std::to_string(statistics.voxels) +
            " voxels valid; statistics written to " + o.out;
  return kToolOk;
}

int run_profile(const DtivoxelOptions& o, std::string* report, std::string* error) {
  Loaded loaded;
  const int status = load(o, o.masks, &loaded, error);
  if (status != kToolOk) return status;
  if (!make_directory(o.out, error)) return kToolBadInput;
  DIFFUSION_PROFILE_SETTING setting;
  setting.density = o.density == "high"    ? ZTR_PROFILE_DENSITY_HIGH
                    : o.density == "voxel" ? ZTR_PROFILE_DENSITY_ON_VOXEL
                                           : ZTR_PROFILE_DENSITY_NORMAL;
  setting.primitive = o.primitive == "star" ? ZTR_PROFILE_PRIMITIVE_STAR : ZTR_PROFILE_PRIMITIVE_ELLIPSOID;
  setting.colouring = o.colour == "direction" ? ZTR_PROFILE_COLOURING_DIRECTION
                                              : ZTR_PROFILE_COLOURING_ANISOTROPY;
  setting.emphasis = o.emphasis ? 1 : 0;
  setting.fa_on = setting.fa_on_copy = o.fa_range.on;
  setting.fa_low = o.fa_range.low;
  setting.fa_high = o.fa_range.high;
  setting.adc_on = setting.adc_on_copy = o.adc_range.on;
  setting.adc_low = o.adc_range.low;
  setting.adc_high = o.adc_range.high;
  setting.so_on = setting.so_on_copy = o.so_range.on;
  setting.so_low = o.so_range.low;
  setting.so_high = o.so_range.high;

  PROFILE_REGION region;
  std::vector<VOXEL_GROUP_BOX> groups;
  if (o.has_box) {
    region.selector = ZTR_REGION_BOX_VOI;
    for (int a = 0; a < 3; ++a) {
      region.box.origin[a] = o.box[a];
      region.box.size[a] = o.box[3 + a];
    }
  } else {
    region.selector = ZTR_REGION_LISTED;
    VolumePtr v = mask_volume(loaded.masks[0]);
    if (!v) {
      *error = "out of memory";
      return kToolFailed;
    }
    groups.push_back(voxel_group_from_mask(v.get()));
    region.voxel_groups.push_back(&groups[0]);
  }
  ProfileRun run;
  if (run_diffusion_profile(loaded.input.data.get(), setting, std::span(&region, 1), &run, error) != 0) {
    return kToolFailed;
  }
  if (run.left_out > 0) {
    *error = std::to_string(run.left_out) + " glyphs could not be built (out of memory)";
    return kToolFailed;
  }
  const ZTR_OBJECT_GROUP* group = run.group.get();
  const int32_t count = int32_t(run.points.size() / 3);
  const int32_t drawn = run.drawn;
  const std::string& summary = run.summary;
  if (!write_glyphs_vtk(*group, loaded.input.geometry, (fs::path(o.out) / "glyphs.vtk").string(), error) ||
      !write_text_file((fs::path(o.out) / "summary.txt").string(), summary + "\n", error)) {
    return kToolFailed;
  }
  *report = std::to_string(drawn) + " of " + std::to_string(count) + " glyphs written to " + o.out;
  return kToolOk;
}

}  // namespace

bool parse_dtivoxel_arguments(int argc, const char* const* argv, DtivoxelOptions* options,
                              std::string* error) {
  DtivoxelOptions o;
  if (argc < 2) {
    *error = "no subcommand given";
    return false;
  }
  o.command = argv[1];
  static const std::set<std::string> commands = {"grow", "select", "dilate", "erode", "stats", "profile"};
  if (!commands.count(o.command)) {
    *error = "unknown subcommand " + o.command;
    return false;
  }
  const bool dwi = takes_dwi_input(o.command);
  const std::set<std::string>& allowed = allowed_options(o.command);
  bool have_mode = false;
  for (int i = 2; i < argc; ++i) {
    if (dwi) {
      const int input_option = parse_dwi_input_option(argc, argv, &i, &o.dwi, error);
      if (input_option < 0) return false;
      if (input_option > 0) continue;
    }
    const std::string arg = argv[i];
    if (arg.size() > 1 && arg[0] == '-') {
      if (!allowed.count(arg)) {
        *error = "unknown option " + arg + " for " + o.command;
        return false;
      }
      if (arg == "--dump-adc") {
        o.dump_adc = true;
        continue;
      }
      if (arg == "--emphasis") {
        o.emphasis = true;
        continue;
      }
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      const std::string value = argv[++i];
      bool ok = true;
      if (arg == "--out") {
        o.out = value;
      } else if (arg == "--seed-mask") {
        o.seed_mask = value;
      } else if (arg == "--mask") {
        o.masks.push_back(value);
      } else if (arg == "--mode") {
        o.mode = value;
        have_mode = true;
        ok = o.command == "grow" ? (value == "signal" || value == "direction" || value == "local")
                                 : (value == "signal" || value == "fa");
      } else if (arg == "--channel") {
        ok = parse_int_argument(value.c_str(), &o.channel) && o.channel >= 0;
      } else if (arg == "--max-step") {
        ok = parse_int_argument(value.c_str(), &o.max_step) && o.max_step >= 0;
      } else if (arg == "--min-signal") {
        ok = parse_float(value, &o.min_signal);
      } else if (arg == "--max-signal") {
        ok = parse_float(value, &o.max_signal);
      } else if (arg == "--min-fa") {
        ok = parse_float(value, &o.min_fa);
      } else if (arg == "--max-angle") {
        ok = parse_float(value, &o.max_angle) && o.max_angle >= 0.0f && o.max_angle <= 180.0f;
      } else if (arg == "--box") {
        ok = parse_float_list(value, o.box, 6);
        o.has_box = true;
      } else if (arg == "--density") {
        o.density = value;
        ok = value == "normal" || value == "high" || value == "voxel";
      } else if (arg == "--primitive") {
        o.primitive = value;
        ok = value == "ellipsoid" || value == "star";
      } else if (arg == "--colour") {
        o.colour = value;
        ok = value == "anisotropy" || value == "direction";
      } else if (arg == "--fa-range") {
        ok = parse_range(value, &o.fa_range);
      } else if (arg == "--adc-range") {
        ok = parse_range(value, &o.adc_range);
      } else if (arg == "--so-range") {
        ok = parse_range(value, &o.so_range);
      }
      if (!ok) {
        *error = "bad value for " + arg + ": " + value;
        return false;
      }
    } else if (dwi && o.dwi.input.empty()) {
      o.dwi.input = arg;
    } else if (!dwi && o.mask_input.empty()) {
      o.mask_input = arg;
    } else {
      *error = "more than one input given";
      return false;
    }
  }
  if (dwi && !check_dwi_input_options(o.dwi, error)) return false;
  if (!dwi && o.mask_input.empty()) {
    *error = "no mask given";
    return false;
  }
  if (o.out.empty()) {
    *error = "no output given (--out)";
    return false;
  }
  if ((o.command == "grow" || o.command == "select") && !have_mode) {
    *error = "no --mode given";
    return false;
  }
  if (o.command == "grow" && o.seed_mask.empty()) {
    *error = "no --seed-mask given";
    return false;
  }
  if (o.command == "stats" && (o.masks.empty() || o.masks.size() > 2)) {
    *error = "stats takes one or two --mask";
    return false;
  }
  if (o.command == "profile" && (o.has_box == !o.masks.empty() || o.masks.size() > 1)) {
    *error = "profile takes either --box or one --mask";
    return false;
  }
  if (o.has_box && (o.box[3] <= 0 || o.box[4] <= 0 || o.box[5] <= 0)) {
    *error = "--box sizes must be positive";
    return false;
  }
  *options = std::move(o);
  return true;
}

int run_dtivoxel(const DtivoxelOptions& options, std::string* report, std::string* error) {
  try {
    if (options.command == "grow" || options.command == "select") {
      return run_grow_or_select(options, report, error);
    }
    if (options.command == "dilate" || options.command == "erode") {
      return run_morphology(options, report, error);
    }
    if (options.command == "stats") return run_stats(options, report, error);
    if (options.command == "profile") return run_profile(options, report, error);
    *error = "unknown subcommand " + options.command;
    return kToolBadInput;
  } catch (const std::exception& e) {
    *error = e.what();
    return kToolFailed;
  }
}
