// Test fixture for the DICOM directory import: series written by pydicom (an independent
// DICOM writer) into a fresh temporary directory per test.
#pragma once

#include "analyzer/io/dicom_import.h"
#include "tests/support/console_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace dicom_test {

namespace fs = std::filesystem;

// Value the generator writes at voxel (i, j) of slice s of channel c.
inline int source_value(int c, int s, int i, int j) { return 1000 * c + 100 * s + 10 * j + i; }

inline std::string python() {
  return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

inline std::string generator() {
  return (fs::path(ZTR_TEST_DATA_DIR).parent_path() / "make_dicom_series.py").string();
}

struct ImportResult {
  VolumePtr volume;
  float voxel_size = -1.0f;
  std::string description;
  std::string log;
};

// One series to write: its directory name and the generator's options.
struct SeriesRecipe {
  std::string name;
  std::string options;
};

// Writes the series of a test file with the generator and gives each test a private copy it
// may damage. Starting Python is the slow part: when a process runs several tests (the whole
// executable), every series is written in one run up front; a process that runs one test
// (as CTest starts them) writes only the series that test asks for.
class DicomSeriesFixture : public testing::Test {
 protected:
  static void generate_all(const std::vector<SeriesRecipe>& recipes) {
    suite_dir() = std::make_unique<ztr::test::TempDir>("dicom_suite");
    ASSERT_FALSE(suite_root().empty());
    suite_recipes() = recipes;
    if (testing::UnitTest::GetInstance()->test_to_run_count() > 1) generate(recipes);
  }
  static void remove_all() { suite_dir().reset(); }

  void SetUp() override {
    test_dir_ = std::make_unique<ztr::test::TempDir>("dicom");
    root_ = test_dir_->path();
    ASSERT_FALSE(root_.empty());
  }

  // This test's own copy of a generated series; the directory ends with a separator.
  std::string series(const std::string& name) {
    const fs::path source = suite_root() / "series" / name;
    if (!fs::is_directory(source)) {
      for (const SeriesRecipe& recipe : suite_recipes()) {
        if (recipe.name == name) generate({recipe});
      }
    }
    EXPECT_TRUE(fs::is_directory(source)) << "series " << name << " was not generated";
    std::error_code ec;
    fs::copy(source, root_ / name, fs::copy_options::recursive, ec);
    EXPECT_FALSE(ec) << ec.message();
    return (root_ / name).string() + "/";
  }

  static ImportResult run_import(const std::string& dir) {
    ImportResult r;
    ztr::test::ConsoleCapture console;
    r.volume.reset(ImportDicomDirectory(dir.c_str(), &r.voxel_size, &r.description));
    r.log = console.finish();
    return r;
  }

  static int16_t voxel(const ImportResult& r, int c, int i, int j, int k) {
    return ZTR_Voxel<int16_t>(r.volume.get(), c, i, j, k);
  }

  // Every voxel of an 8x8 volume whose z was kept (ratio 1) against the source slices, the
  // slice order reversed when `flipped`. The resampler repeats its last computed slice, so
  // the top slice holds the one below it.
  static void expect_unresampled_values(const ImportResult& r, int channels, int z, bool flipped) {
    for (int c = 0; c < channels; ++c) {
      for (int k = 0; k < z; ++k) {
        const int sampled = k == z - 1 ? z - 2 : k;
        const int source_slice = flipped ? z - 1 - sampled : sampled;
        for (int j = 0; j < 8; ++j) {
          for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(voxel(r, c, i, j, k), source_value(c, source_slice, i, j))
                << "c=" << c << " i=" << i << " j=" << j << " k=" << k;
          }
        }
      }
    }
  }

  static void expect_shape(const ImportResult& r, int x, int y, int z, int channels) {
    ASSERT_NE(r.volume, nullptr) << r.log;
    EXPECT_EQ(r.volume->header->x, x);
    EXPECT_EQ(r.volume->header->y, y);
    EXPECT_EQ(r.volume->header->z, z);
    ASSERT_EQ(r.volume->header->channels, channels);
    for (int c = 0; c < channels; ++c) {
      EXPECT_EQ(r.volume->types[c], ZTR_TYPE_INT16);
      EXPECT_EQ(r.volume->attributes[c], ZTR_ATTRIBUTE_PLAIN);
    }
  }

  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  std::unique_ptr<ztr::test::TempDir> test_dir_;
  fs::path root_;

 private:
  static std::unique_ptr<ztr::test::TempDir>& suite_dir() {
    static std::unique_ptr<ztr::test::TempDir> dir;
    return dir;
  }
  static fs::path suite_root() { return suite_dir() ? suite_dir()->path() : fs::path(); }
  static std::vector<SeriesRecipe>& suite_recipes() {
    static std::vector<SeriesRecipe> recipes;
    return recipes;
  }
  static void generate(const std::vector<SeriesRecipe>& recipes) {
    const fs::path jobs = suite_root() / "jobs.txt";
    {
      std::ofstream out(jobs, std::ios::trunc);
      for (const SeriesRecipe& recipe : recipes) out << recipe.name << ' ' << recipe.options << '\n';
    }
    const std::string command = "'" + python() + "' '" + generator() + "' --batch '" +
                                (suite_root() / "series").string() + "' '" + jobs.string() +
                                "' > '" + (suite_root() / "generator.log").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
};

inline const char* const kFullDescriptionTail =
    "Institution: General Hospital\n"
    "Date: 20240131\n"
    "Patient: PID00042 Doe^Jane\n"
    "Scanner: ACME Model 3T\n";

}  // namespace dicom_test
