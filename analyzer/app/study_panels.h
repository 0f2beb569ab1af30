// What the three study panels show, as plain values, and the conversions between those values
// and a study's kind part. A front end copies the values into its widgets and back; every
// reading and formatting rule of the panels lives here.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "analyzer/studies/study_object.h"

// One button of a radio group: its label and the code it selects.
struct PanelChoice {
  const char* label;
  int32_t code;
};

// The radio groups, buttons in panel order.
std::span<const PanelChoice> tracking_scheme_choices();     // "Tracking scheme"
std::span<const PanelChoice> seed_density_choices();        // "Seed density"
std::span<const PanelChoice> tracking_colour_choices();     // "Coloring" (fiber tracking)
std::span<const PanelChoice> tracking_primitive_choices();  // "Primitive type"
std::span<const PanelChoice> profile_density_choices();     // "Symbol density"
std::span<const PanelChoice> profile_primitive_choices();   // "ADC profile primitive"
std::span<const PanelChoice> profile_colouring_choices();   // "Coloring" (diffusion profile)
std::span<const PanelChoice> statistics_colour_choices();   // voxel statistics colour mode
// Region radios: "Sphere", "Freehand", "Listed" on the seed, target and avoidance tabs;
// "Box VOI" first on the analysis region tab of the other kinds.
std::span<const PanelChoice> tracking_region_choices();
std::span<const PanelChoice> analysis_region_choices();

// The button that shows `code`, or -1 when none does (the group then shows nothing chosen).
int choice_index(std::span<const PanelChoice> choices, int32_t code);
// The code of button `index`; with nothing chosen (or an index outside the group) `current`
// stays, so a stored code that no button names survives a store.
int32_t choice_code(std::span<const PanelChoice> choices, int index, int32_t current);

// The "uniform color" mode shows the colour button of colour 1; the other modes hide it.
bool tracking_colour_button_shown(int colour_mode_index);

// "ZTR_FIBETRAK_TRACKING_SCHEME_E1\n" or "..._ANISOCOMP\n" on `console` for the scheme
// button `index` the user chose; returns its code (123 for an index outside the group).
int32_t choose_tracking_scheme(int index, std::FILE* console = stderr);

// A region tab: the chosen radio button, the " Use" check (target and avoidance only) and
// the IDs of the rows selected in the tab's ROI list, in list order.
struct RegionPanel {
  int choice = 0;
  bool use = true;
  std::vector<uint16_t> listed;
};

// Labels of the "Stop if" frame, in entry order: FA, ADC, So low, So high, angle, length.
// The first five are the check buttons that switch the criteria on.
inline constexpr std::array<const char*, 6> ZTR_STOP_IF_LABELS = {
    "     FA   < ", " ADC (x1k) >   ",    "     So   < ",
    "     So   > ", "  Angle (deg.) >  ", " Length (steps) =   "};
inline constexpr int ZTR_STOP_IF_CHECKS = 5;
// The longest half-line the panel lets a study ask for.
inline constexpr int32_t ZTR_PANEL_MAX_LENGTH = 256;

struct FiberTrackingPanel {
  std::array<std::string, 6> stop_entries;  // in ZTR_STOP_IF_LABELS order
  std::array<bool, ZTR_STOP_IF_CHECKS> stop_checks{};
  int scheme = 0;
  int seed_density = 0;
  int colour_mode = 0;
  int primitive = 0;
  std::array<float, 4> colour{};  // colour 1, the "uniform color" button
  RegionPanel seed;
  RegionPanel target;
  RegionPanel avoidance;
};

// Labels of the "Show if" rows: FA, ADC, So. Each row is a check, a low and a high entry.
inline constexpr std::array<const char*, 3> ZTR_SHOW_IF_LABELS = {"  <  FA   < ", " < ADC (x1k) < ",
                                                                  "  <  So   < "};

struct DiffusionProfilePanel {
  std::array<std::string, 6> range_entries;  // FA low, FA high, ADC low, ADC high, So ...
  std::array<bool, 3> range_checks{};        // FA, ADC, So
  int density = 0;
  int primitive = 0;
  int colouring = 0;
  bool emphasis = false;  // "Anisotropy emphasis"
  RegionPanel region;
};

struct VoxelStatisticsPanel {
  int colour_mode = 0;
  std::array<float, 4> colour{};
  RegionPanel region;
};

// ---- study into panel ---------------------------------------------------------------------
// Thresholds show with "%3.2f" (ADC times 1000), the length with "%d".

FiberTrackingPanel fiber_tracking_panel(const FiberTrackingStudy& study);
DiffusionProfilePanel diffusion_profile_panel(const DiffusionProfileStudy& study);
VoxelStatisticsPanel voxel_statistics_panel(const VoxelStatisticsStudy& study);
// A region tab: selector 21 shows as "Freehand", -12 as " Use" off (first radio chosen).
RegionPanel region_panel(const StudyRegion& region, std::span<const PanelChoice> choices);

// ---- panel into study ---------------------------------------------------------------------
// Entries are read with "%f": ADC values are divided by 1000, the length is truncated and
// kept within 1 ... 256. Text that is no finite number keeps the study's value, and so does
// text still equal to what the panel showed for it, so that loading and storing a study
// (every row switch does) does not round its values to the two decimals shown. Colour
// buttons give red, green and blue; alpha stays the study's. The region views must already
// be stored into the study: a freehand region drawn on a spherical map becomes 21.

void store_fiber_tracking_panel(const FiberTrackingPanel& panel, FiberTrackingStudy& study);
void store_diffusion_profile_panel(const DiffusionProfilePanel& panel,
                                   DiffusionProfileStudy& study);
void store_voxel_statistics_panel(const VoxelStatisticsPanel& panel, VoxelStatisticsStudy& study);
// `has_use`: the tab has a " Use" check (off gives -12). The listed IDs become the selection,
// its first 128 IDs.
void store_region_panel(const RegionPanel& panel, std::span<const PanelChoice> choices,
                        bool has_use, StudyRegion& region);

// One entry read as the panel reads it: "%f" divided by `scale` when the text is a finite
// number other than the text `current` shows, else `current`.
float read_panel_entry(const std::string& text, float current, float scale = 1.0f);
// The text an entry shows for `value` ("%3.2f" of value times `scale`).
std::string panel_entry_text(float value, float scale = 1.0f);
