// Stored ROIs and ROI object files: byte layout, round trips of each kind, and the records the
// reader must refuse without creating anything.
#include "analyzer/objects/roi_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "analyzer/objects/roi_commands.h"
#include "analyzer/objects/roi_region.h"
#include "tests/support/temp_dir.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/support/console_capture.h"

namespace {

const GridSize kGrid{32, 32, 12};

void put_i32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  const uint32_t u = std::bit_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(u >> (8 * i));
}
void put_f32(std::vector<uint8_t>& b, size_t at, float v) { put_i32(b, at, std::bit_cast<int32_t>(v)); }
int32_t get_i32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t(b[at + size_t(i)]) << (8 * i);
  return std::bit_cast<int32_t>(u);
}

ROI_OBJECT freehand_roi() {
  ROI_OBJECT roi;
  roi.id = 4;
  roi.type = ZTR_ROI_FREEHAND;
  roi.view = new_roi_view(kGrid);
  roi.view.orientation = ZTR_VIEW_CORONAL;
  roi.view.u = {1, 0, 0};
  roi.view.v = {0, 0, 1};
  roi.view.drawing_mode = ZTR_DRAW_FREEHAND;
  roi.view.start_point = {40, 50};
  roi.view.points = {{40, 50}, {90, 50}, {90, 120}, {40, 120}};
  roi.view.overlay = fill_outline_overlay(roi.view.points);
  roi.view.window_low = -20.5f;
  roi.view.window_high = 3000.0f;
  roi.view.channel = 2;
  roi.growing.words[5] = 0xDEADBEEF;  // a word the ROI only carries
  roi.status = ZTR_ROI_LOCKED;
  roi.visibility = 0;
  set_roi_name(roi, "left arcuate");
  roi.colour = {1, 2, 65535};
  return roi;
}

ROI_OBJECT voxelgroup_roi() {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_VOXELGROUP;
  roi.view = new_roi_view(kGrid);
  std::vector<uint8_t> mask(size_t(32 * 32 * 12), 0);
  for (int i : {100, 101, 133, 2000, 5000}) mask[size_t(i)] = 1;
  roi.group = voxel_group_from_mask(mask, kGrid);
  roi.growing.set(12, 0.25f, 30.0f, 4, 50.0f, 800.0f);
  set_roi_name(roi, "grown");
  roi.colour = new_roi_colour(9);
  return roi;
}

ROI_OBJECT spherical_roi() {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_SPHERICAL;
  roi.view = new_roi_view(kGrid);
  roi.view.orientation = ZTR_VIEW_SPHERICAL_MAP;
  roi.view.axis_a = {0, -1, 0};
  roi.view.sphere_radius = 4.5f;
  roi.view.radius_fraction = 0.7f;
  set_roi_name(roi, "Spherical 1");
  roi.colour = new_roi_colour(0);
  return roi;
}

std::vector<uint8_t> file_of(const ROI_OBJECT& roi) { return roi_file_bytes(roi, kGrid); }

RoiFileStatus parse(const std::vector<uint8_t>& bytes, ROI_OBJECT* out) {
  GridSize dims{};
  std::string reason;
  return parse_roi_file(bytes.data(), bytes.size(), out, &dims, &reason);
}

struct NoticeRecorder : NoticeSink {
  std::vector<std::string> seen;
  void notice(const std::string& title, const std::string& text) override {
    seen.push_back(title + ": " + text);
  }
};

}  // namespace

TEST(RoiFile, FreshSphericalFileIs518BytesWithFieldsAtTheirOffsets) {
  RoiList rois;
  ROI_OBJECT* roi = new_roi_object(rois, ZTR_ROI_SPHERICAL, kGrid);
  ztr::test::ConsoleCapture capture;
  EXPECT_EQ(stored_roi_size(*roi), 470u);
  EXPECT_EQ(capture.finish(), "ROI_OBJECT: size = 470 bytes\n");
  const std::vector<uint8_t> bytes = file_of(*roi);
  ASSERT_EQ(bytes.size(), 518u);
  EXPECT_EQ(std::memcmp(bytes.data(), "#This is a ROI object file of kLS-II", 36), 0);
  EXPECT_EQ(get_i32(bytes, 36), 32);
  EXPECT_EQ(get_i32(bytes, 44), 12);
  EXPECT_EQ(get_i32(bytes, 48), ZTR_ROI_SPHERICAL);
  EXPECT_EQ(get_i32(bytes, 64), ZTR_VIEW_AXIAL);
  EXPECT_EQ(std::bit_cast<float>(get_i32(bytes, 68)), 16.0f);           // zoom 512 / 32
  EXPECT_EQ(std::bit_cast<float>(get_i32(bytes, 152)), 1.0f);           // radius
  EXPECT_EQ(get_i32(bytes, 156), 0);                                     // points
  EXPECT_EQ(get_i32(bytes, 164), 0);                                     // no voxel group
  EXPECT_EQ(get_i32(bytes, 168), 27);                                    // growing mode
  EXPECT_EQ(std::bit_cast<float>(get_i32(bytes, 168 + 76)), 10000.0f);  // max signal
  EXPECT_EQ(get_i32(bytes, 252), 1);                                     // visible
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + 256), "Spherical 1");
  EXPECT_EQ(bytes[512], 0x00);
  EXPECT_EQ(bytes[513], 0x9F);  // red 0x9F00, little-endian
}

TEST(RoiFile, VoxelgroupOfATenCubedBoxTakes166BytesOfGroupPart) {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_VOXELGROUP;
  VoxelGroup g;
  g.size = {10, 10, 10};
  g.volume_size = {10, 10, 10};
  g.data.assign(126, 0xFF);
  roi.group = g;
  EXPECT_EQ(stored_roi_bytes(roi), 470u + 166u);
}

TEST(RoiFile, EachKindRoundTripsFieldForField) {
  for (const ROI_OBJECT& original : {spherical_roi(), freehand_roi(), voxelgroup_roi()}) {
    const std::vector<uint8_t> bytes = file_of(original);
    ROI_OBJECT back;
    back.id = 77;
    ASSERT_EQ(parse(bytes, &back), RoiFileStatus::Ok) << original.name;
    EXPECT_EQ(back.id, 77) << "the ID is the reader's, not the file's";
    EXPECT_EQ(back.type, original.type);
    EXPECT_EQ(back.view.orientation, original.view.orientation);
    EXPECT_EQ(back.view.centre, original.view.centre);
    EXPECT_EQ(back.view.axis_a, original.view.axis_a);
    EXPECT_EQ(back.view.points, original.view.points);
    EXPECT_EQ(back.view.overlay, original.view.overlay) << "the overlay is rebuilt from the outline";
    EXPECT_EQ(back.view.sphere_radius, original.view.sphere_radius);
    EXPECT_EQ(back.group.has_value(), original.group.has_value());
    if (back.group) {
      EXPECT_EQ(back.group->data, original.group->data);
    }
    EXPECT_EQ(back.growing.words, original.growing.words);
    EXPECT_EQ(back.status, original.status);
    EXPECT_EQ(back.visibility, original.visibility);
    EXPECT_STREQ(back.name, original.name);
    EXPECT_EQ(back.colour, original.colour);
    EXPECT_EQ(file_of(back), bytes) << "writing it again gives the same bytes";
  }
}

TEST(RoiFile, StoredRoiParsesFromTheMiddleOfALargerRecord) {
  // The work session file puts stored ROIs one after another.
  std::vector<uint8_t> bytes;
  serialise_stored_roi(freehand_roi(), bytes);
  const size_t first = bytes.size();
  serialise_stored_roi(voxelgroup_roi(), bytes);
  ROI_OBJECT a, b;
  size_t used = 0;
  std::string reason;
  ASSERT_TRUE(parse_stored_roi(bytes.data(), bytes.size(), &a, &used, &reason)) << reason;
  EXPECT_EQ(used, first);
  ASSERT_TRUE(parse_stored_roi(bytes.data() + used, bytes.size() - used, &b, &used, &reason));
  EXPECT_EQ(b.type, ZTR_ROI_VOXELGROUP);
  EXPECT_EQ(first + used, bytes.size());
}

TEST(RoiFile, RefusesEveryMalformedRecordAndLeavesTheTargetAlone) {
  const std::vector<uint8_t> fh = file_of(freehand_roi());  // 4 points: group flag at 180
  const std::vector<uint8_t> vg = file_of(voxelgroup_roi());  // group head at 168
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    const std::vector<uint8_t>* base;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const Case cases[] = {
      {"type 3", &fh, [](auto& b) { put_i32(b, 48, 3); }},
      {"unknown orientation", &fh, [](auto& b) { put_i32(b, 64, 999); }},
      {"zoom 0", &fh, [](auto& b) { put_f32(b, 68, 0.0f); }},
      {"zoom NaN", &fh, [&](auto& b) { put_f32(b, 68, nan); }},
      {"centre NaN", &fh, [&](auto& b) { put_f32(b, 76, nan); }},
      {"window infinite", &fh, [](auto& b) { put_f32(b, 56, INFINITY); }},
      {"unknown drawing mode", &fh, [](auto& b) { put_i32(b, 148, 5); }},
      {"negative radius", &fh, [](auto& b) { put_f32(b, 152, -1.0f); }},
      {"huge radius", &fh, [](auto& b) { put_f32(b, 152, 1e9f); }},
      {"point count 4114", &fh, [](auto& b) { put_i32(b, 156, 4114); }},
      {"point count -1", &fh, [](auto& b) { put_i32(b, 156, -1); }},
      {"point count past the end", &fh, [](auto& b) { put_i32(b, 156, 4000); }},
      {"start point x 256", &fh, [](auto& b) { b[160] = 0; b[161] = 1; }},
      {"outline point y 300", &fh, [](auto& b) { b[166] = 300 & 0xFF; b[167] = 1; }},
      {"status 2", &fh, [](auto& b) { put_i32(b, b.size() - 270, 2); }},
      {"visibility -1", &fh, [](auto& b) { put_i32(b, b.size() - 266, -1); }},
      {"unterminated name", &fh, [](auto& b) { std::memset(&b[b.size() - 262], 'x', 256); }},
      {"truncated by one byte", &fh, [](auto& b) { b.pop_back(); }},
      {"one byte too many", &fh, [](auto& b) { b.push_back(0); }},
      {"only the head", &fh, [](auto& b) { b.resize(48); }},
      {"box size 0", &vg, [](auto& b) { put_i32(b, 180, 0); }},
      {"box size -5", &vg, [](auto& b) { put_i32(b, 184, -5); }},
      {"box of 2^31-1 cubed", &vg, [](auto& b) {
         for (size_t at : {180u, 184u, 188u}) put_i32(b, at, 0x7FFFFFFF);
       }},
      {"box larger than its data", &vg, [](auto& b) { put_i32(b, 180, get_i32(b, 180) + 1); }},
      {"volume size 0", &vg, [](auto& b) { put_i32(b, 192, 0); }},
      {"storage code 7", &vg, [](auto& b) { put_i32(b, 204, 7); }},
      {"group data cut", &vg, [](auto& b) { b.erase(b.begin() + 210); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = *c.base;
    c.change(bytes);
    ROI_OBJECT target = spherical_roi();
    const std::vector<uint8_t> before = file_of(target);
    EXPECT_EQ(parse(bytes, &target), RoiFileStatus::Refused) << c.what;
    EXPECT_EQ(file_of(target), before) << c.what << ": the target changed";
  }
  std::vector<uint8_t> magic = fh;
  magic[3] = 'x';
  ROI_OBJECT target;
  EXPECT_EQ(parse(magic, &target), RoiFileStatus::NotRoiFile);
}

TEST(RoiFile, NegativeChannelBecomesZero) {
  std::vector<uint8_t> bytes = file_of(freehand_roi());
  put_i32(bytes, 52, -4);
  ROI_OBJECT back;
  ASSERT_EQ(parse(bytes, &back), RoiFileStatus::Ok);
  EXPECT_EQ(back.view.channel, 0);
}

TEST(RoiFileImport, LoadsAnotherMatrixSizeAsANewActiveRoiWithTheFilesFields) {
  ztr::test::TempDir folder;
  const std::string path = folder.file("arcuate.roi");
  std::string reason;
  ASSERT_TRUE(write_roi_file(path, freehand_roi(), {128, 128, 60}, &reason)) << reason;
  RoiList rois;
  new_roi_object(rois, ZTR_ROI_SPHERICAL, kGrid);
  ztr::test::ConsoleCapture capture;
  ROI_OBJECT* roi = import_roi_file(rois, path, {256, 256, 60}, 2, nullptr);
  const std::string console = capture.finish();
  ASSERT_NE(roi, nullptr) << console;
  EXPECT_NE(console.find("Volume data matrix size mismatch. Open anyway.\n"), std::string::npos);
  EXPECT_EQ(roi->id, 1);
  EXPECT_EQ(rois.active_id, 1);
  EXPECT_STREQ(roi->name, "left arcuate");
  EXPECT_EQ(roi->status, ZTR_ROI_LOCKED);
  EXPECT_EQ(roi->view.channel, 0) << "channel 2 is not below the 2 channels loaded";
  EXPECT_EQ(roi->colour, (std::array<uint16_t, 3>{1, 2, 65535}));
}

TEST(RoiFileImport, RefusedOrForeignFilesChangeNothing) {
  ztr::test::TempDir folder;
  std::vector<uint8_t> bytes = file_of(voxelgroup_roi());
  put_i32(bytes, 204, 7);
  const std::string refused = folder.file("refused.roi"), foreign = folder.file("foreign.roi");
  std::ofstream(refused, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size()));
  std::ofstream(foreign, std::ios::binary) << "#This is a study object file of kLS-II....";
  RoiList rois;
  new_roi_object(rois, ZTR_ROI_SPHERICAL, kGrid);
  rois.active_id = 0;
  NoticeRecorder notices;
  ztr::test::ConsoleCapture capture;
  EXPECT_EQ(import_roi_file(rois, refused, kGrid, 7, &notices), nullptr);
  EXPECT_EQ(import_roi_file(rois, foreign, kGrid, 7, &notices), nullptr);
  EXPECT_EQ(import_roi_file(rois, folder.file("missing.roi"), kGrid, 7, &notices), nullptr);
  const std::string console = capture.finish();
  EXPECT_NE(console.find("unknown voxel group storage code 7"), std::string::npos) << console;
  EXPECT_EQ(notices.seen, (std::vector<std::string>{"Warning: This is NOT a kLS-II ROI file."}));
  EXPECT_EQ(rois.list->count, 1);
  EXPECT_EQ(rois.next_id, 1) << "no ID was taken";
  EXPECT_EQ(rois.active_id, 0);
}

TEST(RoiFileExport, WritesTheActiveRoiOnlyAndLeavesNoTemporary) {
  ztr::test::TempDir folder;
  RoiEditor editor;
  const std::string path = folder.file("out.roi");
  std::string reason;
  EXPECT_EQ(export_active_roi(editor.rois, kGrid, path, &reason), -1);
  EXPECT_FALSE(std::filesystem::exists(path));
  roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);
  ztr::test::ConsoleCapture capture;
  ASSERT_EQ(export_active_roi(editor.rois, kGrid, path, &reason), 0) << reason;
  capture.finish();
  EXPECT_EQ(std::filesystem::file_size(path), 518u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(RoiFileImport, ImportedVoxelgroupFillsItsPanelAndKeepsThePreviousRoisEdits) {
  ztr::test::TempDir folder;
  const std::string path = folder.file("grown.roi");
  const ROI_OBJECT grown = voxelgroup_roi();
  std::string reason;
  ASSERT_TRUE(write_roi_file(path, grown, kGrid, &reason)) << reason;
  RoiEditor editor;
  ROI_OBJECT* before = roi_new_command(editor, ZTR_ROI_VOXELGROUP, kGrid);
  RoiViewState& panel = editor.panel_of(ZTR_ROI_VOXELGROUP);
  panel.mask[7] = 1;  // an edit of the ROI shown before the import
  ztr::test::ConsoleCapture capture;
  ROI_OBJECT* roi = roi_import_command(editor, path, kGrid, 3, nullptr);
  capture.finish();
  ASSERT_NE(roi, nullptr);
  ASSERT_TRUE(before->group.has_value()) << "the import stored the active ROI first";
  EXPECT_EQ(before->group->origin, (std::array<int32_t, 3>{7, 0, 0}));
  EXPECT_EQ(editor.rois.active_id, roi->id);
  EXPECT_FALSE(panel.follow_host);
  std::vector<uint8_t> expected(panel.mask.size(), 0);
  expand_voxel_group(*grown.group, expected, kGrid);
  EXPECT_EQ(panel.mask, expected);
}

TEST(RoiFile, AnOverfullRecordIsWrittenAsAFileTheReaderAccepts) {
  ROI_OBJECT roi = freehand_roi();
  roi.view.points.assign(5000, {3, 4});
  std::memset(roi.name, 'z', sizeof roi.name);  // a caller that filled the whole field
  const std::vector<uint8_t> bytes = file_of(roi);
  EXPECT_EQ(bytes.size(), 48u + 470u + 4u * 4113u);
  ROI_OBJECT back;
  ASSERT_EQ(parse(bytes, &back), RoiFileStatus::Ok);
  EXPECT_EQ(back.view.points.size(), 4113u);
  EXPECT_EQ(std::strlen(back.name), 255u);
}
