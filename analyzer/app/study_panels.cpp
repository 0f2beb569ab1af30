// The study panels' values: radio tables, entry formatting and reading, and the exchange
// with the kind parts of a study.
#include "analyzer/app/study_panels.h"

#include <algorithm>
#include <cmath>

#include "analyzer/app/text_format.h"

namespace {

// The tracking engine's codes (its header's region codes clash with the studies' ones).
constexpr PanelChoice kTrackingSchemes[] = {{"basic", 123}, {"advanced", 345}};
constexpr PanelChoice kSeedDensities[] = {{"normal", 542}, {"high", 723}};
constexpr int32_t kUniformColour = 13;
constexpr PanelChoice kTrackingColours[] = {
    {"anisotropy coding", 253}, {"distance coding", 65757}, {"directional coding", 3564},
    {"unique color", 431},      {"RGB fan", 513},           {"uniform color", kUniformColour},
    {"target gradation", 9343}};
constexpr PanelChoice kTrackingPrimitives[] = {
    {"hairline", 432}, {"tubular", 915}, {"ribbon", 237}};
constexpr PanelChoice kProfileDensities[] = {{"normal", ZTR_PROFILE_DENSITY_NORMAL},
                                             {"high", ZTR_PROFILE_DENSITY_HIGH},
                                             {"on voxel", ZTR_PROFILE_DENSITY_ON_VOXEL}};
constexpr PanelChoice kProfilePrimitives[] = {{"tensor ellipsoid", ZTR_PROFILE_PRIMITIVE_ELLIPSOID},
                                              {"star", ZTR_PROFILE_PRIMITIVE_STAR}};
constexpr PanelChoice kProfileColourings[] = {
    {"anisotropy coding", ZTR_PROFILE_COLOURING_ANISOTROPY},
    {"directional coding", ZTR_PROFILE_COLOURING_DIRECTION}};
constexpr PanelChoice kStatisticsColours[] = {{"direction coding", 3564},
                                              {"anisotropy coding", 253},
                                              {"distance coding", 65757},
                                              {"uniform", 13}};
constexpr PanelChoice kTrackingRegions[] = {{"Sphere", ZTR_REGION_SPHERE},
                                            {"Freehand", ZTR_REGION_FREEHAND},
                                            {"Listed", ZTR_REGION_LISTED}};
constexpr PanelChoice kAnalysisRegions[] = {{"Box VOI", ZTR_REGION_BOX_VOI},
                                            {"Sphere", ZTR_REGION_SPHERE},
                                            {"Freehand", ZTR_REGION_FREEHAND},
                                            {"Listed", ZTR_REGION_LISTED}};

constexpr const char* kSchemeConsoleLines[] = {"ZTR_FIBETRAK_TRACKING_SCHEME_E1\n",
                                               "ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP\n"};

constexpr float kAdcScale = 1000.0f;

// Number of the length entry: "%f" truncated within 1 ... 256. A length below 1 would ask
// the engine for half-lines without even the seed node.
int32_t read_length(const std::string& text, int32_t current) {
  float value = 0.0f;
  if (std::sscanf(text.c_str(), "%f", &value) != 1 || !std::isfinite(value)) return current;
  return static_cast<int32_t>(std::clamp(value, 1.0f, float(ZTR_PANEL_MAX_LENGTH)));
}

void store_colour(const std::array<float, 4>& panel, std::array<float, 4>& colour) {
  for (size_t i = 0; i < 3; ++i) colour[i] = panel[i];
}

}  // namespace

std::span<const PanelChoice> tracking_scheme_choices() { return kTrackingSchemes; }
std::span<const PanelChoice> seed_density_choices() { return kSeedDensities; }
std::span<const PanelChoice> tracking_colour_choices() { return kTrackingColours; }
std::span<const PanelChoice> tracking_primitive_choices() { return kTrackingPrimitives; }
std::span<const PanelChoice> profile_density_choices() { return kProfileDensities; }
std::span<const PanelChoice> profile_primitive_choices() { return kProfilePrimitives; }
std::span<const PanelChoice> profile_colouring_choices() { return kProfileColourings; }
std::span<const PanelChoice> statistics_colour_choices() { return kStatisticsColours; }
std::span<const PanelChoice> tracking_region_choices() { return kTrackingRegions; }
std::span<const PanelChoice> analysis_region_choices() { return kAnalysisRegions; }

int choice_index(std::span<const PanelChoice> choices, int32_t code) {
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].code == code) return static_cast<int>(i);
  }
  return -1;
}

int32_t choice_code(std::span<const PanelChoice> choices, int index, int32_t current) {
  if (index < 0 || static_cast<size_t>(index) >= choices.size()) return current;
  return choices[static_cast<size_t>(index)].code;
}

bool tracking_colour_button_shown(int colour_mode_index) {
  return choice_code(kTrackingColours, colour_mode_index, 0) == kUniformColour;
}

int32_t choose_tracking_scheme(int index, std::FILE* console) {
  if (index < 0 || static_cast<size_t>(index) >= std::size(kTrackingSchemes)) index = 0;
  std::fputs(kSchemeConsoleLines[index], console);
  return kTrackingSchemes[index].code;
}

std::string panel_entry_text(float value, float scale) {
  return format_text("%3.2f", static_cast<double>(value * scale));
}

float read_panel_entry(const std::string& text, float current, float scale) {
  if (text == panel_entry_text(current, scale)) return current;
  float value = 0.0f;
  if (std::sscanf(text.c_str(), "%f", &value) != 1) return current;
  const float stored = value / scale;
  return std::isfinite(stored) ? stored : current;
}

// ---- regions ------------------------------------------------------------------------------

RegionPanel region_panel(const StudyRegion& region, std::span<const PanelChoice> choices) {
  RegionPanel panel;
  panel.use = region.selector != ZTR_REGION_NONE;
  const int32_t shown = region.selector == ZTR_REGION_FREEHAND_ON_MAP ? int32_t(ZTR_REGION_FREEHAND)
                                                                      : region.selector;
  panel.choice = panel.use ? choice_index(choices, shown) : 0;
  const int32_t count = std::clamp(region.listed_count, 0, ZTR_STUDY_MAX_LISTED);
  panel.listed.assign(region.listed_ids.begin(), region.listed_ids.begin() + count);
  return panel;
}

void store_region_panel(const RegionPanel& panel, std::span<const PanelChoice> choices,
                        bool has_use, StudyRegion& region) {
  if (has_use && !panel.use) {
    region.selector = ZTR_REGION_NONE;
  } else {
    // A target switched on again keeps nothing of its -12: the chosen radio decides.
    const int32_t current = region.selector == ZTR_REGION_NONE && !choices.empty()
                                ? choices.front().code
                                : region.selector;
    int32_t code = choice_code(choices, panel.choice, current);
    if (code == ZTR_REGION_FREEHAND && region.view.orientation == ZTR_VIEW_SPHERICAL) {
      code = ZTR_REGION_FREEHAND_ON_MAP;
    } else if (code == ZTR_REGION_FREEHAND_ON_MAP &&
               region.view.orientation != ZTR_VIEW_SPHERICAL) {
      code = ZTR_REGION_FREEHAND;
    }
    region.selector = code;
  }
  const size_t count = std::min(panel.listed.size(), size_t(ZTR_STUDY_MAX_LISTED));
  region.listed_ids.fill(0);
  std::copy_n(panel.listed.begin(), count, region.listed_ids.begin());
  region.listed_count = static_cast<int32_t>(count);
}

// ---- fiber tracking -----------------------------------------------------------------------

FiberTrackingPanel fiber_tracking_panel(const FiberTrackingStudy& study) {
  FiberTrackingPanel panel;
  panel.stop_entries = {
      panel_entry_text(study.fa_min),    panel_entry_text(study.adc_max, kAdcScale),
      panel_entry_text(study.so_min),    panel_entry_text(study.so_max),
      panel_entry_text(study.angle_max), format_text("%d", study.length)};
  panel.stop_checks = {study.fa_on != 0, study.adc_on != 0, study.so_low_on != 0,
                       study.so_high_on != 0, study.angle_on != 0};
  panel.scheme = choice_index(kTrackingSchemes, study.scheme);
  panel.seed_density = choice_index(kSeedDensities, study.seed_density);
  panel.colour_mode = choice_index(kTrackingColours, study.colour_mode);
  panel.primitive = choice_index(kTrackingPrimitives, study.primitive);
  panel.colour = study.colours[0];
  panel.seed = region_panel(study.seed, kTrackingRegions);
  panel.target = region_panel(study.target, kTrackingRegions);
  panel.avoidance = region_panel(study.avoidance, kTrackingRegions);
  return panel;
}

void store_fiber_tracking_panel(const FiberTrackingPanel& panel, FiberTrackingStudy& study) {
  const auto& e = panel.stop_entries;
  study.fa_min = read_panel_entry(e[0], study.fa_min);
  study.adc_max = read_panel_entry(e[1], study.adc_max, kAdcScale);
  study.so_min = read_panel_entry(e[2], study.so_min);
  study.so_max = read_panel_entry(e[3], study.so_max);
  study.angle_max = read_panel_entry(e[4], study.angle_max);
  study.length = read_length(e[5], study.length);
  int32_t* switches[] = {&study.fa_on, &study.adc_on, &study.so_low_on, &study.so_high_on,
                         &study.angle_on};
  for (size_t i = 0; i < std::size(switches); ++i) *switches[i] = panel.stop_checks[i] ? 1 : 0;
  study.scheme = choice_code(kTrackingSchemes, panel.scheme, study.scheme);
  study.seed_density = choice_code(kSeedDensities, panel.seed_density, study.seed_density);
  study.colour_mode = choice_code(kTrackingColours, panel.colour_mode, study.colour_mode);
  study.primitive = choice_code(kTrackingPrimitives, panel.primitive, study.primitive);
  store_colour(panel.colour, study.colours[0]);
  // The seed always has a region; only targets and avoidance can be switched off.
  store_region_panel(panel.seed, kTrackingRegions, false, study.seed);
  store_region_panel(panel.target, kTrackingRegions, true, study.target);
  store_region_panel(panel.avoidance, kTrackingRegions, true, study.avoidance);
}

// ---- diffusion profile --------------------------------------------------------------------

DiffusionProfilePanel diffusion_profile_panel(const DiffusionProfileStudy& study) {
  const DIFFUSION_PROFILE_SETTING& s = study.setting;
  DiffusionProfilePanel panel;
  panel.range_entries = {panel_entry_text(s.fa_low),
                         panel_entry_text(s.fa_high),
                         panel_entry_text(s.adc_low, kAdcScale),
                         panel_entry_text(s.adc_high, kAdcScale),
                         panel_entry_text(s.so_low),
                         panel_entry_text(s.so_high)};
  panel.range_checks = {s.fa_on != 0, s.adc_on != 0, s.so_on != 0};
  panel.density = choice_index(kProfileDensities, s.density);
  panel.primitive = choice_index(kProfilePrimitives, s.primitive);
  panel.colouring = choice_index(kProfileColourings, s.colouring);
  panel.emphasis = s.emphasis != 0;
  panel.region = region_panel(study.region, kAnalysisRegions);
  return panel;
}

void store_diffusion_profile_panel(const DiffusionProfilePanel& panel,
                                   DiffusionProfileStudy& study) {
  DIFFUSION_PROFILE_SETTING& s = study.setting;
  const auto& e = panel.range_entries;
  s.fa_low = read_panel_entry(e[0], s.fa_low);
  s.fa_high = read_panel_entry(e[1], s.fa_high);
  s.adc_low = read_panel_entry(e[2], s.adc_low, kAdcScale);
  s.adc_high = read_panel_entry(e[3], s.adc_high, kAdcScale);
  s.so_low = read_panel_entry(e[4], s.so_low);
  s.so_high = read_panel_entry(e[5], s.so_high);
  // Each range has two "on" words; the check sets both.
  s.fa_on = s.fa_on_copy = panel.range_checks[0] ? 1 : 0;
  s.adc_on = s.adc_on_copy = panel.range_checks[1] ? 1 : 0;
  s.so_on = s.so_on_copy = panel.range_checks[2] ? 1 : 0;
  s.density = choice_code(kProfileDensities, panel.density, s.density);
  s.primitive = choice_code(kProfilePrimitives, panel.primitive, s.primitive);
  s.colouring = choice_code(kProfileColourings, panel.colouring, s.colouring);
  s.emphasis = panel.emphasis ? 1 : 0;
  store_region_panel(panel.region, kAnalysisRegions, false, study.region);
}

// ---- voxel statistics ---------------------------------------------------------------------

VoxelStatisticsPanel voxel_statistics_panel(const VoxelStatisticsStudy& study) {
  VoxelStatisticsPanel panel;
  panel.colour_mode = choice_index(kStatisticsColours, study.colour_mode);
  panel.colour = study.colour;
  panel.region = region_panel(study.region, kAnalysisRegions);
  return panel;
}

void store_voxel_statistics_panel(const VoxelStatisticsPanel& panel, VoxelStatisticsStudy& study) {
  study.colour_mode = choice_code(kStatisticsColours, panel.colour_mode, study.colour_mode);
  store_colour(panel.colour, study.colour);
  store_region_panel(panel.region, kAnalysisRegions, false, study.region);
}
