// The stored study and stored region (the byte layouts the study object file and the work
// session file share), and the study object file itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/studies/study_object.h"

inline constexpr char ZTR_STUDY_FILE_MAGIC[] = "#This is a study object file of kLS-II";
inline constexpr size_t ZTR_STUDY_FILE_MAGIC_BYTES = 38;
inline constexpr size_t ZTR_STUDY_FILE_HEAD_BYTES = 50;  // magic and the volume's x, y, z

using StudyGridSize = std::array<int32_t, 3>;  // x, y, z voxels

// ---- stored region --------------------------------------------------------------------

// 128 + 2 x listed count + 4 x outline points + the voxel group part + 24 with a box.
size_t stored_region_bytes(const StudyRegion& region);
// Appends the region, little-endian and field by field.
void serialise_stored_region(const StudyRegion& region, std::vector<uint8_t>& out);
// Parses one stored region from at most `size` bytes. Every field is checked before `region`
// is written: selector known, listed count 0 ... 128, view codes known, finite floats, zoom
// and radius within the bounds above, outline points and start point inside the 256 x 256
// picture, point count 0 ... 4113, a voxel group with sizes of at least 1, a known storage
// code and its data present, box floats finite. The view keeps its pictures (the caller's
// panel resamples them). true with *consumed (when given); false with a one-line reason,
// `region` unchanged.
bool parse_stored_region(const uint8_t* data, size_t size, StudyRegion* region, size_t* consumed,
                         std::string* reason);

// ---- stored study ---------------------------------------------------------------------

// 4 (type) + the kind part + 10,504 bytes.
size_t stored_study_bytes(const STUDY_OBJECT& study);
// The same, printing "STUDY_OBJECT: size = %ld bytes\n" as every caller computing it does.
size_t stored_study_size(const STUDY_OBJECT& study);
void serialise_stored_study(const STUDY_OBJECT& study, std::vector<uint8_t>& out);
// Parses one stored study into a new record (ID 0, no host object, no result or group) with
// the type, kind part, status, visibility, name and summary of the file. The diffusion
// profile's point table is never taken from a file: point count 0, no table. nullptr with a
// reason when any part is refused (type, status 0 ... 2, visibility 0 or 1, terminated
// name and summary, every region as above).
std::unique_ptr<STUDY_OBJECT> parse_stored_study(const uint8_t* data, size_t size,
                                                 size_t* consumed, std::string* reason);

// ---- study object file ----------------------------------------------------------------

std::vector<uint8_t> study_file_bytes(const STUDY_OBJECT& study, const StudyGridSize& volume);
// Written under a temporary name renamed when complete. false with a reason.
bool write_study_file(const std::string& path, const STUDY_OBJECT& study,
                      const StudyGridSize& volume, std::string* reason);

enum class StudyFileStatus { Ok, CannotOpen, NotStudyFile, Refused };

// A whole file image: magic, volume size (into *volume) and exactly one stored study with
// nothing after it.
StudyFileStatus parse_study_file(const uint8_t* data, size_t size,
                                 std::unique_ptr<STUDY_OBJECT>* study, StudyGridSize* volume,
                                 std::string* reason);
// Reads the file bounded by its real size.
StudyFileStatus read_study_file(const std::string& path, std::unique_ptr<STUDY_OBJECT>* study,
                                StudyGridSize* volume, std::string* reason);
