// Save work data and Open work data through scripted dialogs: byte-exact round trips, the
// objects and their ID references, and every refused or failed file leaving the session and
// the old file exactly as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "analyzer/app/session_file.h"
#include "analyzer/app/work_session_commands.h"
#include "analyzer/io/atomic_file.h"
#include "analyzer/objects/roi_object.h"
#include "analyzer/studies/study_commands.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/scripted_dialogs.h"

namespace {

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void put_i32(std::vector<uint8_t>& b, size_t at, int32_t v) { std::memcpy(&b[at], &v, 4); }
int32_t get_i32(const std::vector<uint8_t>& b, size_t at) {
  int32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}

// A session on a 3x2x1 volume of 8 signed 16-bit channels (voxel v of channel c holds
// 100c + v) with ready DTI data, the ROI and study lists handed to the commands, and a memo.
// All 8 channels are DTI channels. Serialised DTI data: volume 16 + 8 x (8 + 6 x 2) = 176,
// DTI part 16 + 16 x 8 = 144: D = 320.
struct WorkSession : ::testing::Test {
  ztr::test::TempDir folder{"work_session"};
  AppState state;
  ScriptedDialogs dialogs;
  RoiList rois;
  StudyList studies;
  StudyEnvironment env;

  void SetUp() override {
    VolumePtr volume = make_volume(3, 2, 1, 8);
    fill_int16(volume.get(), [](int c, int64_t v) { return 100 * c + int(v); });
    load_into_state(state, std::move(volume));
    ASSERT_TRUE(state.dti_ready());
    state.dti->voxel_size = 1.5f;
    state.hooks.session_objects = [this](AppState&) {
      WorkSessionObjects objects;
      objects.rois = &rois;
      objects.studies = &studies;
      objects.study_env = &env;
      return objects;
    };
    dialogs.memo = "checker memo\n";
  }

  void save(const std::string& path) {
    dialogs.files.push_back({ZTR_DIALOG_OK, path});
    save_work_data_command(state, dialogs);
  }
  // Open answered OK at the discard question (asked while DTI data is ready).
  void open(const std::string& path) {
    dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
    dialogs.files.push_back({ZTR_DIALOG_OK, path});
    open_work_data_command(state, dialogs);
  }
  std::string last_notice() const {
    auto n = dialogs.of_kind("notice");
    return n.empty() ? std::string() : n.back().title + ": " + n.back().text;
  }

  // One ROI of each kind with IDs 3, 7 and 9, and two studies: a fiber tracking study that
  // lists ROIs 3 and 7 as its seed and was analysed, and a voxel statistics study listing 9.
  void add_objects() {
    const GridSize grid{3, 2, 1};
    const char* names[] = {"ball", "outline", "grown"};
    const uint16_t ids[] = {3, 7, 9};
    for (int32_t type : {ZTR_ROI_SPHERICAL, ZTR_ROI_FREEHAND, ZTR_ROI_VOXELGROUP}) {
      ROI_OBJECT* roi = new_roi_object(rois, type, grid);
      ASSERT_NE(roi, nullptr);
      roi->id = ids[type];
      set_roi_name(*roi, names[type]);
      if (type == ZTR_ROI_FREEHAND) {
        roi->view.drawing_mode = ZTR_DRAW_FREEHAND;
        roi->view.points = {{40, 50}, {90, 50}, {90, 120}};
      }
      if (type == ZTR_ROI_VOXELGROUP) {
        std::vector<uint8_t> mask = {1, 1, 0, 1, 1, 0};  // a 2x2x1 box
        roi->group = voxel_group_from_mask(mask, grid);
        ASSERT_TRUE(roi->group.has_value());
      }
    }
    rois.active_id = 7;
    STUDY_OBJECT* ft = new_study_object(studies, env, ZTR_STUDY_FIBER_TRACKING);
    ASSERT_NE(ft, nullptr);
    auto& seed = std::get<FiberTrackingStudy>(ft->kind).seed;
    seed.selector = ZTR_REGION_LISTED;
    seed.listed_count = 2;
    seed.listed_ids[0] = 3;
    seed.listed_ids[1] = 7;
    ft->status = ZTR_STUDY_ANALYSED;
    set_study_name(*ft, "tract");
    STUDY_OBJECT* vs = new_study_object(studies, env, ZTR_STUDY_VOXEL_STATISTICS);
    ASSERT_NE(vs, nullptr);
    auto& region = std::get<VoxelStatisticsStudy>(vs->kind).region;
    region.selector = ZTR_REGION_LISTED;
    region.listed_count = 1;
    region.listed_ids[0] = 9;
    set_study_name(*vs, "stats");
    studies.active_id = vs->id;
  }

  // Everything a failed load must leave alone.
  struct Snapshot {
    std::string source_text, memo;
    const DiffusionTensorImageData* dti;
    float voxel_size;
    std::vector<std::vector<unsigned char>> volume;
    std::vector<std::string> rois, studies;
    uint16_t active_roi, active_study;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot snapshot() const {
    Snapshot s{state.data_source_text, dialogs.memo, state.dti.get(), state.dti->voxel_size,
               volume_bytes(state.volume.get()), {}, {}, rois.active_id, studies.active_id};
    for (ROI_OBJECT* r : roi_items(rois)) s.rois.push_back(std::to_string(r->id) + r->name);
    for (const auto& st : studies.studies) s.studies.push_back(std::to_string(st->id) + st->name);
    return s;
  }
};

TEST_F(WorkSession, EmptySessionIs5195PlusDBytesAndRoundTripsByteIdentical) {
  const std::string first = folder.file("a.session"), second = folder.file("b.session");
  save(first);
  const std::vector<uint8_t> bytes = read_bytes(first);
  ASSERT_EQ(bytes.size(), 5195u + 320u) << last_notice();
  EXPECT_EQ(std::memcmp(bytes.data(), ZTR_SESSION_FILE_MAGIC, 51), 0);
  EXPECT_EQ(get_i32(bytes, 51), 5120);
  EXPECT_EQ(get_i32(bytes, 55), 320);
  EXPECT_EQ(get_i32(bytes, 59), 0);  // studies
  EXPECT_EQ(get_i32(bytes, 67), 0);  // ROIs
  // The memo and zeros after it: nothing stale reaches the file.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[75])), "checker memo\n");
  EXPECT_TRUE(std::all_of(bytes.begin() + 75 + 13, bytes.begin() + 75 + 5120,
                          [](uint8_t b) { return b == 0; }));

  dialogs.memo = "edited since";
  fill_int16(state.volume.get(), [](int, int64_t) { return 7; });
  open(first);
  EXPECT_EQ(last_notice(), "Notice: Objects loaded: 0 studies / 0 ROIs.");
  EXPECT_EQ(dialogs.memo, "checker memo\n");
  EXPECT_EQ(dialogs.message_line(), " Session data loaded.");
  EXPECT_EQ(state.data_source_text,
            "Data Source: kLS.II session file: \nFile name: " + first + "\n");
  EXPECT_EQ(ZTR_ChannelData<int16_t>(state.volume.get(), 3)[5], 305);
  EXPECT_FLOAT_EQ(state.dti->voxel_size, 1.5f);
  EXPECT_EQ(state.dti->volume, state.volume.get());
  // The next save writes the memo shown, not the data source line of the load.
  save(second);
  EXPECT_EQ(read_bytes(second), bytes);
}

TEST_F(WorkSession, ObjectsKeepTheirIdsAndListedRoisNameTheSameRoisAfterALoad) {
  add_objects();
  const std::string path = folder.file("objects.session");
  save(path);
  const std::vector<uint8_t> bytes = read_bytes(path);
  ASSERT_FALSE(bytes.empty()) << last_notice();
  EXPECT_EQ(get_i32(bytes, 59), 2);
  EXPECT_EQ(get_i32(bytes, 67 + 16), 3);

  // A different session in between: everything of it must go.
  delete_all_rois(rois);
  new_roi_object(rois, ZTR_ROI_SPHERICAL, GridSize{3, 2, 1});
  open(path);
  EXPECT_EQ(last_notice(), "Notice: Objects loaded: 2 studies / 3 ROIs.");

  std::vector<ROI_OBJECT*> loaded = roi_items(rois);
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0]->id, 3);
  EXPECT_EQ(loaded[1]->id, 7);
  EXPECT_EQ(loaded[2]->id, 9);
  EXPECT_EQ(rois.active_id, 7);
  ASSERT_EQ(studies.studies.size(), 2u);
  const STUDY_OBJECT& ft = *studies.studies[0];
  const auto& seed = std::get<FiberTrackingStudy>(ft.kind).seed;
  ASSERT_EQ(seed.listed_count, 2);
  EXPECT_STREQ(find_roi(rois, seed.listed_ids[0])->name, "ball");
  EXPECT_STREQ(find_roi(rois, seed.listed_ids[1])->name, "outline");
  const auto& region = std::get<VoxelStatisticsStudy>(studies.studies[1]->kind).region;
  EXPECT_STREQ(find_roi(rois, region.listed_ids[0])->name, "grown");
  EXPECT_EQ(ft.status, ZTR_STUDY_RELOADED);  // analysed before the save: "++++"
  EXPECT_EQ(studies.active_id, studies.studies[1]->id);
  ASSERT_TRUE(loaded[2]->group.has_value());
  EXPECT_EQ(loaded[1]->view.points.size(), 3u);

  // New objects never take a restored ID, which would retarget the listed references.
  ROI_OBJECT* fresh = new_roi_object(rois, ZTR_ROI_SPHERICAL, GridSize{3, 2, 1});
  ASSERT_NE(fresh, nullptr);
  EXPECT_GT(fresh->id, 9);
  STUDY_OBJECT* fresh_study = new_study_object(studies, env, ZTR_STUDY_DIFFUSION_PROFILE);
  ASSERT_NE(fresh_study, nullptr);
  EXPECT_NE(fresh_study->id, studies.studies[0]->id);
  EXPECT_NE(fresh_study->id, studies.studies[1]->id);
}

TEST_F(WorkSession, TruncationAtEverySectionBoundaryLeavesTheSessionUnchanged) {
  add_objects();
  const std::string path = folder.file("whole.session");
  save(path);
  const std::vector<uint8_t> whole = read_bytes(path);
  ASSERT_FALSE(whole.empty());
  const size_t S = 2, R = 3, D = 320;
  const size_t tables = 51 + 24 + 8 * (S + R);
  const size_t roi_start = tables + 5120 + D;
  size_t roi_bytes = 0;
  for (size_t i = 0; i < R; ++i) roi_bytes += size_t(get_i32(whole, 75 + 8 * S + 8 * i + 4));
  const std::vector<size_t> cuts = {0,    50,           51,         55,         59,
                                    63,   67,           67 + 8 * S, 71 + 8 * S, tables,
                                    tables + 5119,     tables + 5120, roi_start - 1,
                                    roi_start,         roi_start + roi_bytes,
                                    whole.size() - 1};
  const Snapshot before = snapshot();
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    write_bytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(cut)));
    const size_t notices = dialogs.count("notice");
    open(path);
    EXPECT_EQ(dialogs.count("notice"), notices + 1);
    EXPECT_EQ(last_notice().rfind("Warning: ", 0), 0u) << last_notice();
    EXPECT_TRUE(snapshot() == before);
  }
  // One byte too many is as wrong as one too few.
  std::vector<uint8_t> longer = whole;
  longer.push_back(0);
  write_bytes(path, longer);
  open(path);
  EXPECT_TRUE(snapshot() == before);
  EXPECT_NE(last_notice().find("sums to"), std::string::npos) << last_notice();
}

TEST_F(WorkSession, CorruptHeadersAreRefusedWithTheirReasonAndChangeNothing) {
  add_objects();
  const std::string path = folder.file("corrupt.session");
  save(path);
  const std::vector<uint8_t> whole = read_bytes(path);
  ASSERT_FALSE(whole.empty());
  const size_t S = 2;
  const size_t roi_table = 75 + 8 * S;  // first ROI entry
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> corrupt;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"magic", [](auto& b) { b[50] = 'X'; }, "This is NOT a kLS-II WORK file."},
      {"info size 100", [](auto& b) { put_i32(b, 51, 100); }, "not 5120"},
      {"info size 5121", [](auto& b) { put_i32(b, 51, 5121); }, "not 5120"},
      {"DTI size 0", [](auto& b) { put_i32(b, 55, 0); }, "not positive"},
      {"DTI size huge", [](auto& b) { put_i32(b, 55, 0x7fffffff); }, "sums to"},
      {"study count 513", [](auto& b) { put_i32(b, 59, 513); }, "outside 0 ... 512"},
      {"study count -1", [](auto& b) { put_i32(b, 59, -1); }, "outside 0 ... 512"},
      {"ROI count 513", [=](auto& b) { put_i32(b, roi_table - 8, 513); }, "outside 0 ... 512"},
      {"duplicate ROI ID", [=](auto& b) { b[roi_table + 8] = b[roi_table]; }, "repeated"},
      {"ROI ID 65535", [=](auto& b) { b[roi_table] = b[roi_table + 1] = 0xff; }, "repeated"},
      {"ROI size 0", [=](auto& b) { put_i32(b, roi_table + 4, 0); }, "not positive"},
      {"ROI size negative", [=](auto& b) { put_i32(b, roi_table + 4, -470); }, "not positive"},
      {"sizes moved between ROIs",
       [=](auto& b) {
         put_i32(b, roi_table + 4, get_i32(b, roi_table + 4) + 4);
         put_i32(b, roi_table + 12, get_i32(b, roi_table + 12) - 4);
       },
       "ROI 3"},
      {"ROI type", [=](auto& b) { put_i32(b, 75 + 8 * 5 + 5120 + 320, 77); }, "ROI 3"},
  };
  const Snapshot before = snapshot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = whole;
    c.corrupt(bytes);
    write_bytes(path, bytes);
    open(path);
    EXPECT_NE(last_notice().find(c.expected), std::string::npos) << last_notice();
    EXPECT_TRUE(snapshot() == before);
  }
}

TEST_F(WorkSession, ActiveIdsThatNameNothingBecomeNone) {
  add_objects();
  const std::string path = folder.file("dangling.session");
  save(path);
  std::vector<uint8_t> bytes = read_bytes(path);
  bytes[63] = 42;  // active study ID
  bytes[63 + 1] = 0;
  bytes[71 + 16] = 42;  // active ROI ID, after the two study entries
  bytes[71 + 16 + 1] = 0;
  StagedWorkSession staged;
  std::string reason;
  ASSERT_EQ(parse_work_session(bytes.data(), bytes.size(), &staged, &reason),
            WorkSessionStatus::Ok)
      << reason;
  EXPECT_EQ(staged.active_study_id, ZTR_SESSION_NO_ID);
  EXPECT_EQ(staged.active_roi_id, ZTR_SESSION_NO_ID);
}

TEST_F(WorkSession, AMemoWithoutItsNulIsCutAtTheLastByteOfItsBlock) {
  const std::string path = folder.file("memo.session");
  save(path);
  std::vector<uint8_t> bytes = read_bytes(path);
  std::fill(bytes.begin() + 75, bytes.begin() + 75 + 5120, uint8_t('m'));
  StagedWorkSession staged;
  std::string reason;
  ASSERT_EQ(parse_work_session(bytes.data(), bytes.size(), &staged, &reason),
            WorkSessionStatus::Ok)
      << reason;
  EXPECT_EQ(staged.memo, std::string(5119, 'm'));
}

TEST(WorkSessionMemo, LongMemosAreCutAt5119BytesNeverInsideACharacter) {
  EXPECT_EQ(stored_memo_text(std::string(6000, 'a')), std::string(5119, 'a'));
  // "é" is two bytes: at 5118 + 2 it would end one byte past the limit.
  EXPECT_EQ(stored_memo_text(std::string(5118, 'a') + "\xC3\xA9" + "b"), std::string(5118, 'a'));
  // A three-byte character ending exactly at the limit stays.
  const std::string euro = std::string(5116, 'a') + "\xE2\x82\xAC";
  EXPECT_EQ(stored_memo_text(euro + "tail"), euro);
  EXPECT_EQ(stored_memo_text(std::string("ab\0cd", 5)), "ab");
}

TEST_F(WorkSession, FailedSavesLeaveTheOldFileByteIdenticalAndSayWhy) {
  const std::string path = folder.file("kept.session");
  save(path);
  const std::vector<uint8_t> old = read_bytes(path);
  ASSERT_FALSE(old.empty());
  add_objects();  // the new save would differ

  // A full disk part way through the DTI block.
  set_atomic_file_space_for_testing(6000);
  save(path);
  set_atomic_file_space_for_testing(-1);
  EXPECT_EQ(read_bytes(path), old);
  EXPECT_NE(last_notice().find("Session data NOT saved."), std::string::npos) << last_notice();
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder.path())) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file is left behind";

  // A folder the user may not write into (root writes anyway, so only checked otherwise).
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);
    save(path);
    chmod(folder.path().c_str(), 0755);
    EXPECT_EQ(read_bytes(path), old);
    EXPECT_NE(last_notice().find("cannot create"), std::string::npos) << last_notice();
  }
}

TEST_F(WorkSession, CancelAtTheDiscardQuestionChangesNothing) {
  const std::string path = folder.file("other.session");
  save(path);
  dialogs.memo = "unsaved edits";
  const Snapshot before = snapshot();
  const size_t files = dialogs.count("file");
  dialogs.confirmations.push_back(0);
  open_work_data_command(state, dialogs);
  EXPECT_EQ(dialogs.of_kind("confirmation").back().text, ZTR_DISCARD_CONFIRMATION);
  EXPECT_EQ(dialogs.count("file"), files) << "no file selection after Cancel";
  EXPECT_TRUE(snapshot() == before);
}

TEST(WorkSessionWriter, RefusesMoreThan512ObjectsBeforeWritingAnything) {
  VolumePtr volume = make_volume(3, 2, 1, 8);
  DtiDataPtr dti(ZTRdti_NewDiffusionTensorImageData(volume.get(), 7));
  ASSERT_TRUE(dti);
  std::vector<ROI_OBJECT> many(513);
  WorkSessionSource source;
  source.dti = dti.get();
  for (size_t i = 0; i < many.size(); ++i) {
    many[i].id = uint16_t(i);
    source.rois.push_back(&many[i]);
  }
  size_t written = 0;
  std::string reason;
  EXPECT_FALSE(write_work_session(
      source, [&](const void*, size_t n) { return written += n, true; }, &reason));
  EXPECT_EQ(written, 0u);
  EXPECT_NE(reason.find("at most 512"), std::string::npos) << reason;
  source.rois.pop_back();
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(work_session_bytes(source, &bytes, &reason)) << reason;
}

}  // namespace

namespace {

TEST_F(WorkSession, WithoutAHookTheRoiEditorsListIsSavedAndAFileWithStudiesIsRefused) {
  const std::string with_studies = folder.file("studies.session");
  add_objects();
  save(with_studies);
  state.hooks.session_objects = nullptr;

  ROI_OBJECT* roi = new_roi_object(state.roi_editor.rois, ZTR_ROI_FREEHAND, GridSize{3, 2, 1});
  ASSERT_NE(roi, nullptr);
  roi->id = 5;
  set_roi_name(*roi, "editor roi");
  state.roi_editor.rois.active_id = 5;
  const std::string path = folder.file("editor.session");
  save(path);
  delete_all_rois(state.roi_editor.rois);
  open(path);
  EXPECT_EQ(last_notice(), "Notice: Objects loaded: 0 studies / 1 ROIs.");
  std::vector<ROI_OBJECT*> loaded = roi_items(state.roi_editor.rois);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0]->id, 5);
  EXPECT_STREQ(loaded[0]->name, "editor roi");
  EXPECT_EQ(state.roi_editor.rois.active_id, 5);

  // Studies this build cannot hold would be lost at the next save: the file is refused.
  open(with_studies);
  EXPECT_NE(last_notice().find("cannot hold its objects"), std::string::npos) << last_notice();
  EXPECT_EQ(roi_items(state.roi_editor.rois).size(), 1u);
}

}  // namespace
