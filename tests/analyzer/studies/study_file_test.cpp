// Stored studies and study object files: sizes and offsets, round trips of each kind,
// deterministic bytes, and the refusal of every kind of bad input.
#include "analyzer/studies/study_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

int32_t read_i32(const std::vector<uint8_t>& b, size_t at) {
  return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                 uint32_t(b[at + 3]) << 24);
}
void put_i32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
}
void put_f32(std::vector<uint8_t>& b, size_t at, float v) {
  put_i32(b, at, std::bit_cast<int32_t>(v));
}

const StudyGridSize kVolume{32, 32, 12};

// Offsets in the file of a fresh voxel statistics study (no IDs, points or group; a box).
constexpr size_t kType = 50, kColourMode = 54, kSelector = 74, kListed = 78, kZoom = 98,
                 kDrawingMode = 178, kPoints = 186, kGroupFlag = 194, kBoxFlag = 198,
                 kBoxOrigin = 202, kStatus = 226, kName = 234, kSummary = 490;

// A region that uses every part of the layout: listed IDs (odd count), an outline, a voxel
// group and a box.
void fill_region(StudyRegion& r, int32_t selector, uint16_t first_id) {
  r.selector = selector;
  r.listed_count = 3;
  r.listed_ids[0] = first_id;
  r.listed_ids[1] = uint16_t(first_id + 1);
  r.listed_ids[2] = uint16_t(first_id + 7);
  r.view.channel = 2;
  r.view.orientation = ZTR_VIEW_CORONAL;
  r.view.zoom = 4.0f;
  r.view.centre = {10.5f, 11.0f, 3.25f};
  r.view.sphere_radius = 2.5f;
  r.view.drawing_mode = ZTR_DRAW_FREEHAND;
  r.view.point_count = 3;
  r.view.start_point = {40, 41};
  r.view.outline[0] = {40, 41};
  r.view.outline[1] = {60, 41};
  r.view.outline[2] = {255, 90};
  StudyVoxelGroup g;
  g.origin = {1, 2, 3};
  g.size = {3, 2, 2};  // 12 voxels: 12 / 8 + 1 = 2 bytes
  g.volume_size = kVolume;
  g.data = {0xA5, 0x0F};
  r.group = g;
  r.box = ZTR_FLOAT_BOX{{1.5f, 2.0f, 3.0f}, {4.0f, 5.0f, 6.75f}};
}

std::unique_ptr<STUDY_OBJECT> rich_study(int32_t type) {
  auto s = make_study_object(type);
  s->status = ZTR_STUDY_ANALYSED;
  s->visibility = 0;
  set_study_name(*s, "L. Pyramidal Tract");
  set_study_summary(*s, "lines: 42\nmean FA 0.51\n");
  if (auto* ft = std::get_if<FiberTrackingStudy>(&s->kind)) {
    ft->fa_min = 0.25f;
    ft->further = {1, 2, 3, 4};
    ft->adc_on = 1;
    ft->length = 200;
    ft->scheme = 345;
    ft->seed_density = 723;
    ft->colours[0] = {0.1f, 0.2f, 0.3f, 0.4f};
    ft->colour_mode = 77;
    fill_region(ft->seed, ZTR_REGION_FREEHAND, 10);
    fill_region(ft->target, ZTR_REGION_LISTED, 20);
    fill_region(ft->avoidance, ZTR_REGION_SPHERE, 30);
  } else if (auto* dp = std::get_if<DiffusionProfileStudy>(&s->kind)) {
    dp->setting.fa_low = 0.3f;
    dp->setting.adc_high = 0.002f;
    dp->setting.density = 723;
    dp->setting.emphasis = 1;
    dp->further = 99;
    fill_region(dp->region, ZTR_REGION_LISTED, 5);
  } else {
    auto& vs = std::get<VoxelStatisticsStudy>(s->kind);
    vs.colour_mode = 12;
    vs.colour = {0.5f, 0.5f, 0.5f, 1.0f};
    fill_region(vs.region, ZTR_REGION_FREEHAND_ON_MAP, 1);
  }
  return s;
}

void expect_same_region(const StudyRegion& a, const StudyRegion& b) {
  EXPECT_EQ(a.selector, b.selector);
  EXPECT_EQ(a.listed_count, b.listed_count);
  EXPECT_EQ(a.listed_ids, b.listed_ids);
  EXPECT_EQ(a.view.channel, b.view.channel);
  EXPECT_EQ(a.view.orientation, b.view.orientation);
  EXPECT_EQ(a.view.zoom, b.view.zoom);
  EXPECT_EQ(a.view.centre, b.view.centre);
  EXPECT_EQ(a.view.sphere_radius, b.view.sphere_radius);
  EXPECT_EQ(a.view.drawing_mode, b.view.drawing_mode);
  EXPECT_EQ(a.view.point_count, b.view.point_count);
  EXPECT_EQ(a.view.start_point, b.view.start_point);
  for (int i = 0; i < a.view.point_count; ++i) EXPECT_EQ(a.view.outline[size_t(i)], b.view.outline[size_t(i)]);
  ASSERT_EQ(a.group.has_value(), b.group.has_value());
  if (a.group) {
    EXPECT_EQ(a.group->origin, b.group->origin);
    EXPECT_EQ(a.group->size, b.group->size);
    EXPECT_EQ(a.group->volume_size, b.group->volume_size);
    EXPECT_EQ(a.group->storage, b.group->storage);
    EXPECT_EQ(a.group->data, b.group->data);
  }
  ASSERT_EQ(a.box.has_value(), b.box.has_value());
  if (a.box) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(a.box->origin[i], b.box->origin[i]);
      EXPECT_EQ(a.box->size[i], b.box->size[i]);
    }
  }
}

std::unique_ptr<STUDY_OBJECT> parse_ok(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<STUDY_OBJECT> study;
  StudyGridSize volume{};
  std::string reason;
  EXPECT_EQ(parse_study_file(bytes.data(), bytes.size(), &study, &volume, &reason),
            StudyFileStatus::Ok)
      << reason;
  EXPECT_EQ(volume, kVolume);
  return study;
}

StudyFileStatus parse_status(const std::vector<uint8_t>& bytes, std::string* reason = nullptr) {
  std::unique_ptr<STUDY_OBJECT> study;
  StudyGridSize volume{};
  std::string why;
  const StudyFileStatus status =
      parse_study_file(bytes.data(), bytes.size(), &study, &volume, reason ? reason : &why);
  if (status != StudyFileStatus::Ok) {
    EXPECT_EQ(study, nullptr);
  }
  return status;
}

}  // namespace

TEST(StoredStudy, SizesFollowTheLayoutOfEachKind) {
  // 4 + kind part + 10,504; a region is 128 bytes, plus 24 with a box.
  EXPECT_EQ(stored_study_bytes(*make_study_object(ZTR_STUDY_VOXEL_STATISTICS)), 10680u);
  EXPECT_EQ(stored_study_bytes(*make_study_object(ZTR_STUDY_DIFFUSION_PROFILE)),
            4u + 76 + 152 + 10504);
  EXPECT_EQ(stored_study_bytes(*make_study_object(ZTR_STUDY_FIBER_TRACKING)), 10992u);
  // Rich region: 128 + 2 x 3 IDs + 4 x 3 points + 40 + 2 group bytes + 24 box = 212.
  StudyRegion region;
  fill_region(region, ZTR_REGION_LISTED, 1);
  EXPECT_EQ(stored_region_bytes(region), 212u);
  std::vector<uint8_t> out;
  serialise_stored_region(region, out);
  EXPECT_EQ(out.size(), 212u);
  for (int32_t type = 0; type < ZTR_STUDY_KINDS; ++type) {
    auto study = rich_study(type);
    std::vector<uint8_t> bytes;
    serialise_stored_study(*study, bytes);
    EXPECT_EQ(bytes.size(), stored_study_bytes(*study)) << type;
  }
}

TEST(StudyFile, FreshVoxelStatisticsStudyLandsAtItsOffsets) {
  const auto bytes = study_file_bytes(*make_study_object(ZTR_STUDY_VOXEL_STATISTICS), kVolume);
  ASSERT_EQ(bytes.size(), 10730u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 38),
            "#This is a study object file of kLS-II");
  EXPECT_EQ(read_i32(bytes, 38), 32);
  EXPECT_EQ(read_i32(bytes, 46), 12);
  EXPECT_EQ(read_i32(bytes, kType), ZTR_STUDY_VOXEL_STATISTICS);
  EXPECT_EQ(read_i32(bytes, kColourMode), 3564);
  EXPECT_EQ(read_i32(bytes, kSelector), ZTR_REGION_BOX_VOI);
  EXPECT_EQ(read_i32(bytes, kListed), 0);
  EXPECT_EQ(read_i32(bytes, kDrawingMode), ZTR_DRAW_SPHERE);
  EXPECT_EQ(read_i32(bytes, kGroupFlag), 0);
  EXPECT_EQ(read_i32(bytes, kBoxFlag), 1);
  EXPECT_EQ(read_i32(bytes, kStatus), ZTR_STUDY_NOT_ANALYSED);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[kSummary])), "(not analyzed yet)");
}

TEST(StudyFile, EveryKindComesBackFieldByField) {
  for (int32_t type = 0; type < ZTR_STUDY_KINDS; ++type) {
    SCOPED_TRACE(type);
    auto original = rich_study(type);
    const auto bytes = study_file_bytes(*original, kVolume);
    auto back = parse_ok(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->type, type);
    EXPECT_EQ(back->status, original->status);
    EXPECT_EQ(back->visibility, original->visibility);
    EXPECT_STREQ(back->name, original->name);
    EXPECT_STREQ(back->summary, original->summary);
    const auto a = study_regions(*original);
    const auto b = study_regions(*back);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) expect_same_region(*a[i], *b[i]);
    if (type == ZTR_STUDY_FIBER_TRACKING) {
      const auto& x = std::get<FiberTrackingStudy>(original->kind);
      const auto& y = std::get<FiberTrackingStudy>(back->kind);
      EXPECT_EQ(y.fa_min, x.fa_min);
      EXPECT_EQ(y.further, x.further);
      EXPECT_EQ(y.adc_on, x.adc_on);
      EXPECT_EQ(y.length, x.length);
      EXPECT_EQ(y.scheme, x.scheme);
      EXPECT_EQ(y.seed_density, x.seed_density);
      EXPECT_EQ(y.colour_mode, x.colour_mode);
      EXPECT_EQ(y.colours[0], x.colours[0]);
    } else if (type == ZTR_STUDY_DIFFUSION_PROFILE) {
      const auto& x = std::get<DiffusionProfileStudy>(original->kind);
      const auto& y = std::get<DiffusionProfileStudy>(back->kind);
      EXPECT_EQ(y.setting.fa_low, x.setting.fa_low);
      EXPECT_EQ(y.setting.adc_high, x.setting.adc_high);
      EXPECT_EQ(y.setting.density, x.setting.density);
      EXPECT_EQ(y.setting.emphasis, x.setting.emphasis);
      EXPECT_EQ(y.further, x.further);
    } else {
      const auto& x = std::get<VoxelStatisticsStudy>(original->kind);
      const auto& y = std::get<VoxelStatisticsStudy>(back->kind);
      EXPECT_EQ(y.colour_mode, x.colour_mode);
      EXPECT_EQ(y.colour, x.colour);
    }
    // Written again, the loaded study gives the same bytes.
    EXPECT_EQ(study_file_bytes(*back, kVolume), bytes);
  }
}

TEST(StudyFile, ProfilePointTableIsNeverTakenFromAFile) {
  auto study = make_study_object(ZTR_STUDY_DIFFUSION_PROFILE);
  float table[3] = {1, 2, 3};
  auto& dp = std::get<DiffusionProfileStudy>(study->kind);
  dp.setting.point_count = 1;
  dp.setting.point_table = table;
  auto bytes = study_file_bytes(*study, kVolume);
  EXPECT_EQ(read_i32(bytes, 50 + 4 + 13 * 4), 0);  // the table reference is written as 0
  auto back = parse_ok(bytes);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::get<DiffusionProfileStudy>(back->kind).setting.point_count, 0);
  EXPECT_EQ(std::get<DiffusionProfileStudy>(back->kind).setting.point_table, nullptr);
}

TEST(StudyFile, StaleNameBytesNeverReachTheFile) {
  auto a = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  auto b = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  set_study_name(*a, std::string(255, 'x'));
  set_study_name(*a, "Voxel statistics 1");
  set_study_name(*b, "Voxel statistics 1");
  a->name[200] = 'q';  // a caller that wrote behind the terminator
  b->name[200] = 0;
  EXPECT_EQ(study_file_bytes(*a, kVolume), study_file_bytes(*b, kVolume));
}

TEST(StudyFile, WrongMagicIsNotAStudyFile) {
  auto bytes = study_file_bytes(*make_study_object(ZTR_STUDY_VOXEL_STATISTICS), kVolume);
  bytes[1] = 'X';
  EXPECT_EQ(parse_status(bytes), StudyFileStatus::NotStudyFile);
  std::vector<uint8_t> tiny(10, '#');
  EXPECT_EQ(parse_status(tiny), StudyFileStatus::NotStudyFile);
}

TEST(StudyFile, BadFieldsAreRefusedWithAReason) {
  const float nan = std::nanf("");
  struct Row {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Row rows[] = {
      {"type 5", [](auto& b) { put_i32(b, kType, 5); }},
      {"type -1", [](auto& b) { put_i32(b, kType, -1); }},
      {"listed count 129", [](auto& b) { put_i32(b, kListed, 129); }},
      {"listed count -1", [](auto& b) { put_i32(b, kListed, -1); }},
      {"selector 7", [](auto& b) { put_i32(b, kSelector, 7); }},
      {"point count 4114", [](auto& b) { put_i32(b, kPoints, 4114); }},
      {"point count -1", [](auto& b) { put_i32(b, kPoints, -1); }},
      {"zoom 0", [](auto& b) { put_f32(b, kZoom, 0.0f); }},
      {"zoom NaN", [nan](auto& b) { put_f32(b, kZoom, nan); }},
      {"drawing mode 5", [](auto& b) { put_i32(b, kDrawingMode, 5); }},
      {"box origin NaN", [nan](auto& b) { put_f32(b, kBoxOrigin, nan); }},
      {"box origin 1e20", [](auto& b) { put_f32(b, kBoxOrigin, 1e20f); }},
      {"status 3", [](auto& b) { put_i32(b, kStatus, 3); }},
      {"unterminated name", [](auto& b) { std::memset(&b[kName], 'n', 256); }},
      {"unterminated summary", [](auto& b) { std::memset(&b[kSummary], 's', 10240); }},
      {"trailing byte", [](auto& b) { b.push_back(0); }},
      {"group flag without a group", [](auto& b) { put_i32(b, kGroupFlag, 1); }},
  };
  const auto good = study_file_bytes(*make_study_object(ZTR_STUDY_VOXEL_STATISTICS), kVolume);
  ASSERT_EQ(parse_status(good), StudyFileStatus::Ok);
  for (const Row& row : rows) {
    auto bytes = good;
    row.damage(bytes);
    std::string reason;
    EXPECT_EQ(parse_status(bytes, &reason), StudyFileStatus::Refused) << row.what;
    EXPECT_FALSE(reason.empty()) << row.what;
  }
}

TEST(StudyFile, BadVoxelGroupsAreRefused) {
  auto study = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  fill_region(std::get<VoxelStatisticsStudy>(study->kind).region, ZTR_REGION_LISTED, 1);
  const auto good = study_file_bytes(*study, kVolume);
  ASSERT_EQ(parse_status(good), StudyFileStatus::Ok);
  // Region at 74: 8 + 6 ID bytes + 112 view + 12 point bytes, then the group flag.
  const size_t group = 74 + 8 + 6 + 112 + 12 + 4;
  struct Row {
    const char* what;
    size_t at;
    int32_t value;
  };
  const Row rows[] = {
      {"box size 0", group + 12, 0},
      {"box size -5", group + 16, -5},
      {"volume size 0", group + 24, 0},
      {"storage code 7", group + 36, 7},
      {"box far larger than the file", group + 12, 1 << 30},
      {"bytes of a huge box", group + 36, ZTR_STUDY_GROUP_BYTES},
  };
  for (const Row& row : rows) {
    auto bytes = good;
    put_i32(bytes, row.at, row.value);
    if (std::string(row.what) == "bytes of a huge box") put_i32(bytes, group + 20, 1000);
    EXPECT_EQ(parse_status(bytes), StudyFileStatus::Refused) << row.what;
  }
}

TEST(StudyFile, EveryTruncationOfARichFileIsRefused) {
  for (int32_t type = 0; type < ZTR_STUDY_KINDS; ++type) {
    const auto good = study_file_bytes(*rich_study(type), kVolume);
    for (size_t size = ZTR_STUDY_FILE_MAGIC_BYTES; size < good.size(); ++size) {
      // Every cut through the head, kind part and regions, one in 997 through the texts,
      // and the last byte.
      if (size > 1200 && size % 997 != 0 && size + 1 != good.size()) continue;
      std::vector<uint8_t> cut(good.begin(), good.begin() + long(size));
      ASSERT_EQ(parse_status(cut), StudyFileStatus::Refused) << type << " at " << size;
    }
  }
}

TEST(StudyFile, WrittenUnderATemporaryNameAndReadBack) {
  const std::string path = testing::TempDir() + "study_file_test_rw.stu";
  auto study = rich_study(ZTR_STUDY_FIBER_TRACKING);
  std::string reason;
  ASSERT_TRUE(write_study_file(path, *study, kVolume, &reason)) << reason;
  EXPECT_FALSE(std::ifstream(path + ".part").good());
  std::unique_ptr<STUDY_OBJECT> back;
  StudyGridSize volume{};
  ASSERT_EQ(read_study_file(path, &back, &volume, &reason), StudyFileStatus::Ok) << reason;
  EXPECT_STREQ(back->name, "L. Pyramidal Tract");
  EXPECT_EQ(read_study_file(path + ".missing", &back, &volume, &reason),
            StudyFileStatus::CannotOpen);
  EXPECT_FALSE(write_study_file("/nonexistent-dir/x.stu", *study, kVolume, &reason));
  std::remove(path.c_str());
}
