// The dtitrack command: loads the input with the batch tools' loader, seeds, tracks,
// selects by target and avoidance regions, and writes every output under a temporary name.
#include "tools/dtitrack/dtitrack.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include "analyzer/fibetrak/fibetrak_run.h"
#include "analyzer/fibetrak/track_files.h"
#include "analyzer/io/atomic_file.h"
#include "analyzer/io/nifti_volume.h"
#include "tools/common/mask_io.h"

namespace fs = std::filesystem;

namespace {

bool parse_float(const std::string& text, float* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool parse_sphere(const std::string& text, std::array<float, 4>* sphere) {
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = text.find(',', start);
    if ((i < 3) != (comma != std::string::npos)) return false;
    const std::string part = text.substr(start, i < 3 ? comma - start : std::string::npos);
    if (!parse_float(part, &(*sphere)[static_cast<size_t>(i)])) return false;
    start = comma + 1;
  }
  return (*sphere)[3] >= 0.0f;
}

// A criterion value or "off".
bool parse_criterion(const std::string& text, int* on, float* value) {
  if (text == "off") {
    *on = 0;
    return true;
  }
  if (!parse_float(text, value)) return false;
  *on = 1;
  return true;
}

struct NamedCode {
  const char* name;
  int code;
};
constexpr NamedCode kColourNames[] = {
    {"anisotropy", ZTR_FIBETRAK_COLOR_ANISOTROPY}, {"distance", ZTR_FIBETRAK_COLOR_DISTANCE},
    {"directional", ZTR_FIBETRAK_COLOR_DIRECTIONAL}, {"unique", ZTR_FIBETRAK_COLOR_UNIQUE},
    {"fan", ZTR_FIBETRAK_COLOR_RGB_FAN}, {"uniform", ZTR_FIBETRAK_COLOR_UNIFORM},
    {"target", ZTR_FIBETRAK_COLOR_TARGET_GRADATION}};
constexpr NamedCode kPrimitiveNames[] = {{"hairline", ZTR_FIBETRAK_PRIMITIVE_HAIRLINE},
                                         {"tube", ZTR_FIBETRAK_PRIMITIVE_TUBE},
                                         {"ribbon", ZTR_FIBETRAK_PRIMITIVE_RIBBON}};

template <size_t N>
bool find_code(const NamedCode (&table)[N], const std::string& text, int* code) {
  for (const auto& row : table) {
    int number = 0;
    if (text == row.name || (parse_int_argument(text.c_str(), &number) && number == row.code)) {
      *code = row.code;
      return true;
    }
  }
  return false;
}

// The region test of a sphere or a mask, read-only once made.
bool make_region_test(const RegionArgument& region, const VolumeHeader& grid, RegionTest* test,
                      std::string* error) {
  if (!region.is_mask) {
    const std::array<float, 4> s = region.sphere;
    *test = [s](const float cur[3], const float*) {
      const float dx = cur[0] - s[0], dy = cur[1] - s[1], dz = cur[2] - s[2];
      return dx * dx + dy * dy + dz * dz <= s[3] * s[3];
    };
    return true;
  }
  auto mask = std::make_shared<VoxelMask>();
  if (!read_mask_nifti(region.mask, grid, mask.get(), error)) return false;
  *test = [mask](const float cur[3], const float*) {
    if (!position_in_volume(cur, mask->x, mask->y, mask->z)) return false;
    return mask->at(static_cast<int32_t>(cur[0]), static_cast<int32_t>(cur[1]),
                    static_cast<int32_t>(cur[2]));
  };
  return true;
}

bool write_text_file(const fs::path& path, const std::string& text, std::string* error) {
  return write_file_atomically(path.string(), text, error);
}

// A voxelization with the input's grid and world geometry, renamed into place when complete.
bool write_volume_nifti(const RawVolumeData* volume, const fs::path& path, const ImageGeometry& geometry,
                        const char* description, std::string* error) {
  NiftiImageLabel label;
  label.description = description;
  label.colour_as_three_volumes = true;
  return SaveNiftiChannel(volume, 0, path.c_str(), geometry, label, error) == 0;
}

bool write_voxelizations(const ZTR_OBJECT_GROUP& group, const DwiInput& input, const fs::path& out,
                         std::string* error) {
  const VolumeHeader& h = *input.volume->header;
  const int32_t size[3] = {h.x, h.y, h.z};
  const ZTR_OBJECT_GROUP* groups[1] = {&group};
  VolumePtr grey(voxelize_tracklines_grey(groups, size));
  VolumePtr colour(voxelize_tracklines_color(groups, size));
  VolumePtr mask_volume(voxelize_tracklines_mask(groups, size));
  if (!grey || !colour || !mask_volume) {
    *error = "out of memory for the voxelizations";
    return false;
  }
  VoxelMask mask;
  mask.x = h.x;
  mask.y = h.y;
  mask.z = h.z;
  const uint8_t* bits = ZTR_ChannelData<uint8_t>(mask_volume.get(), 0);
  mask.inside.assign(bits, bits + int64_t{h.x} * h.y * h.z);
  return write_volume_nifti(grey.get(), out / "voxelized_grey.nii", input.geometry,
                            "dtitrack tracklines voxelized (grey)", error) &&
         write_volume_nifti(colour.get(), out / "voxelized_colour.nii", input.geometry,
                            "dtitrack tracklines voxelized (colour)", error) &&
         write_mask_nifti(mask, input.geometry, (out / "voxelized_mask.nii").string(), error);
}

}  // namespace

bool parse_dtitrack_arguments(int argc, const char* const* argv, DtitrackOptions* options,
                              std::string* error) {
  DtitrackOptions o;
  for (int i = 1; i < argc; ++i) {
    const int input_option = parse_dwi_input_option(argc, argv, &i, &o.dwi, error);
    if (input_option < 0) return false;
    if (input_option > 0) continue;
    const std::string arg = argv[i];
    std::string text;
    auto value = [&]() {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      text = argv[++i];
      return true;
    };
    auto bad = [&](const char* what) {
      *error = arg + " " + what + " (got \"" + text + "\")";
      return false;
    };
    if (arg == "--out") {
      if (!value()) return false;
      o.out = text;
    } else if (arg == "--seed-sphere" || arg == "--target-sphere" || arg == "--avoid-sphere" ||
               arg == "--seed-mask" || arg == "--target-mask" || arg == "--avoid-mask") {
      if (!value()) return false;
      RegionArgument region;
      region.is_mask = arg.ends_with("-mask");
      if (region.is_mask) {
        region.mask = text;
      } else if (!parse_sphere(text, &region.sphere)) {
        return bad("needs X,Y,Z,R with R >= 0");
      }
      (arg.starts_with("--seed") ? o.seeds : arg.starts_with("--target") ? o.targets : o.avoid)
          .push_back(region);
    } else if (arg == "--density") {
      if (!value()) return false;
      if (text == "normal") {
        o.density = ZTR_FIBETRAK_SEED_DENSITY_NORMAL;
      } else if (text == "high") {
        o.density = ZTR_FIBETRAK_SEED_DENSITY_HIGH;
      } else {
        return bad("must be normal or high");
      }
    } else if (arg == "--scheme") {
      if (!value()) return false;
      if (text == "e1") {
        o.params.scheme = ZTR_FIBETRAK_TRACKING_SCHEME_E1;
      } else if (text == "anisocomp") {
        o.params.scheme = ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP;
      } else {
        return bad("must be e1 or anisocomp");
      }
    } else if (arg == "--fa-min" || arg == "--adc-max" || arg == "--so-min" || arg == "--so-max" ||
               arg == "--angle-max") {
      if (!value()) return false;
      ZTR_FIBETRAK_PARAMETER& p = o.params;
      const bool ok = arg == "--fa-min"    ? parse_criterion(text, &p.fa_on, &p.fa_min)
                      : arg == "--adc-max" ? parse_criterion(text, &p.adc_on, &p.adc_max)
                      : arg == "--so-min"  ? parse_criterion(text, &p.so_low_on, &p.so_min)
                      : arg == "--so-max"  ? parse_criterion(text, &p.so_high_on, &p.so_max)
                                           : parse_criterion(text, &p.angle_on, &p.angle_max);
      if (!ok) return bad("needs a number or off");
    } else if (arg == "--length") {
      if (!value()) return false;
      if (!parse_int_argument(text.c_str(), &o.params.length) || o.params.length < 1 ||
          o.params.length > ZTR_FIBETRAK_MAX_LENGTH) {
        return bad("must be a whole number from 1 to 256");
      }
    } else if (arg == "--step") {
      if (!value()) return false;
      if (!parse_float(text, &o.params.step) || !(o.params.step > 0.0f)) {
        return bad("must be a positive number of voxels");
      }
    } else if (arg == "--threads") {
      if (!value()) return false;
      if (!parse_int_argument(text.c_str(), &o.threads) || o.threads < 1 ||
          o.threads > ZTR_FIBETRAK_MAX_WORKERS) {
        return bad("must be a whole number from 1 to 512");
      }
    } else if (arg == "--colour" || arg == "--color") {
      if (!value()) return false;
      if (!find_code(kColourNames, text, &o.display.color_mode)) return bad("is not a colour mode");
    } else if (arg == "--primitive") {
      if (!value()) return false;
      if (!find_code(kPrimitiveNames, text, &o.display.primitive)) {
        return bad("must be hairline, tube or ribbon");
      }
    } else if (arg == "--voxelize") {
      o.voxelize = true;
    } else if (!take_input_argument(arg, &o.dwi, error)) {
      return false;
    }
  }
  if (!check_input_and_output(o.dwi, o.out, error)) return false;
  if (o.seeds.size() != 1) {
    *error = "give exactly one seed region (--seed-sphere or --seed-mask)";
    return false;
  }
  *options = std::move(o);
  return true;
}

int run_dtitrack(const DtitrackOptions& options, std::string* summary_line, std::string* error) {
  try {
    DwiInput input;
    const auto begun = std::chrono::steady_clock::now();
    const int loaded = load_dwi_input(options.dwi, &input, error);
    if (loaded != kToolOk) return loaded;
    const VolumeHeader& grid = *input.volume->header;

    // Regions first: a bad mask is bad input, found before any tracking work.
    std::vector<RegionTest> targets, avoid;
    for (const auto* list : {&options.targets, &options.avoid}) {
      for (const RegionArgument& region : *list) {
        RegionTest test;
        if (!make_region_test(region, grid, &test, error)) return kToolBadInput;
        (list == &options.targets ? targets : avoid).push_back(std::move(test));
      }
    }
    std::vector<float> seeds;
    const RegionArgument& seed_region = options.seeds.front();
    const float spacing = seed_spacing(grid.x, ZTR_REGION_SPHERE, options.density);
    if (seed_region.is_mask) {
      VoxelMask mask;
      if (!read_mask_nifti(seed_region.mask, grid, &mask, error)) return kToolBadInput;
      const int64_t voxels = int64_t{grid.x} * grid.y * grid.z;
      std::vector<uint8_t> bits(static_cast<size_t>((voxels + 7) / 8), 0);
      for (int64_t v = 0; v < voxels; ++v) {
        if (mask.inside[static_cast<size_t>(v)]) bits[static_cast<size_t>(v / 8)] |= uint8_t(1u << (v % 8));
      }
      const int32_t origin[3] = {0, 0, 0}, size[3] = {grid.x, grid.y, grid.z};
      generate_voxelgroup_seeds(origin, size, bits, spacing, ZTR_FIBETRAK_MAX_SEEDS, &seeds);
    } else {
      const auto& s = seed_region.sphere;
      const float centre[3] = {s[0], s[1], s[2]};
      generate_sphere_seeds(centre, s[3], spacing, ZTR_FIBETRAK_MAX_SEEDS, &seeds);
    }

    std::error_code ec;
    fs::create_directories(options.out, ec);
    if (!fs::is_directory(options.out, ec)) {
      *error = "cannot create output directory " + options.out;
      return kToolBadInput;
    }
    const fs::path out(options.out);
    std::string seed_text;
    char row[96];
    for (size_t i = 0; i + 2 < seeds.size(); i += 3) {
      std::snprintf(row, sizeof row, "%.6f %.6f %.6f\n", seeds[i], seeds[i + 1], seeds[i + 2]);
      seed_text += row;
    }
    if (!write_text_file(out / "seeds.txt", seed_text, error)) return kToolFailed;

    const auto fit = TrackingFitContext::create(input.data.get());
    if (!fit) {
      *error = "the DTI data cannot be fitted (channel types or gradient table)";
      return kToolBadInput;
    }
    ZTR_FIBETRAK_PARAMETER params = options.params;
    params.seed_count = static_cast<int>(seeds.size() / 3);
    params.seeds = seeds.data();
    const auto started = std::chrono::steady_clock::now();
    std::fprintf(stderr, "loaded and seeded in %.3f s\n", std::chrono::duration<double>(started - begun).count());
    FibetrakRunOptions run;
    run.workers = options.threads;
    run.region_threads = options.threads;
    run.fit = fit.get();
    run.tracked = [&started](const ZTR_FIBETRAK_BUFFER& tracked) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      long long steps = 0;
      for (const auto& line : tracked.lines) steps += line->forward->count + line->backward->count - 2;
      std::fprintf(stderr, "tracked %d lines from %d seeds, %lld steps in %.3f s\n",
                   tracked.line_count, tracked.seed_count, steps, seconds);
    };
    FibetrakRunResult tracking;
    if (run_fiber_tracking(input.data.get(), &params, targets, avoid, options.display, run,
                           &tracking, error) != 0) {
      return kToolFailed;
    }
    const ZTR_FIBETRAK_BUFFER* buffer = tracking.buffer.get();
    const ZTR_OBJECT_GROUP* group = tracking.group.get();
    const int visible = tracking.visible;
    if (!write_text_file(out / "summary.txt", tracking.summary + tracking.status, error)) {
      return kToolFailed;
    }
    const VoxelToScanner affine = input.geometry.voxel_to_scanner();
    const auto lines = visible_line_points(*buffer);
    const int32_t size[3] = {grid.x, grid.y, grid.z};
    // The four files are independent and large for a whole-brain run: they are written at
    // the same time, each by its own task, and every failure is reported.
    const float dump_voxel_size = input.data->voxel_size;
    std::vector<std::function<bool(std::string*)>> writers = {
        [&](std::string* e) { return write_tck((out / "tracks.tck").string(), lines, affine, e); },
        [&](std::string* e) {
          return write_trk((out / "tracks.trk").string(), lines, affine, size, input.geometry.voxel_size, e);
        },
        [&](std::string* e) { return write_group_vtk((out / "tracks.vtk").string(), *group, affine, e); },
        [&](std::string* e) {
          if (dump_fibetrak_file(*buffer, (out / "dump.txt").c_str(), dump_voxel_size) < 0) {
            *e = "cannot write " + (out / "dump.txt").string();
            return false;
          }
          return true;
        }};
    std::vector<std::string> errors(writers.size());
    std::vector<char> written(writers.size(), 0);
    {
      std::vector<std::thread> tasks;
      for (size_t i = 0; i < writers.size(); ++i) {
        auto task = [&, i] {
          try {
            written[i] = writers[i](&errors[i]);
          } catch (const std::exception& e) {
            errors[i] = e.what();
          }
        };
        try {
          tasks.emplace_back(task);
        } catch (const std::system_error&) {
          task();  // no thread to spare: write it here
        }
      }
      for (auto& t : tasks) t.join();
    }
    for (size_t i = 0; i < writers.size(); ++i) {
      if (!written[i]) {
        *error = errors[i].empty() ? "an output could not be written" : errors[i];
        return kToolFailed;
      }
    }
    if (options.voxelize && !write_voxelizations(*group, input, out, error)) return kToolFailed;
    std::fprintf(stderr, "selection, display and files done at %.3f s of the run\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
    char last[256];
    if (visible == 0) {
      std::snprintf(last, sizeof last, "no lines: none of %d seeds gave a visible line (%d tracked)",
                    buffer->seed_count, buffer->line_count);
    } else {
      std::snprintf(last, sizeof last, "%d visible lines of %d tracked from %d seeds written to %s",
                    visible, buffer->line_count, buffer->seed_count, options.out.c_str());
    }
    *summary_line = last;
    return kToolOk;
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return kToolFailed;
  } catch (const std::exception& e) {
    *error = e.what();
    return kToolFailed;
  }
}
