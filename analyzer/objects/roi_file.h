// The stored ROI (the byte layout the ROI object file and the work session file share) and
// the ROI object file that exports and imports the active ROI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/notice.h"
#include "analyzer/objects/roi_object.h"
#include "sdk/volume/byte_codec.h"

inline constexpr char ZTR_ROI_FILE_MAGIC[] = "#This is a ROI object file of kLS-II";
inline constexpr size_t ZTR_ROI_FILE_MAGIC_BYTES = 36;
inline constexpr size_t ZTR_ROI_FILE_HEAD_BYTES = 48;  // magic and the volume's x, y, z

// Bytes of the stored form: 470 + 4 x points + the voxel group part (41 + box voxels / 8 or
// 40 + box voxels). Prints "ROI_OBJECT: size = %ld bytes\n" as every caller computing it does.
size_t stored_roi_size(const ROI_OBJECT& roi);
// The same without the console line.
size_t stored_roi_bytes(const ROI_OBJECT& roi);

// Appends the stored form of the ROI (little-endian, field by field) to `out`.
void serialise_stored_roi(const ROI_OBJECT& roi, std::vector<uint8_t>& out);

// Parses one stored ROI from at most `size` bytes into `roi` (its ID is left alone). Every
// field is checked before anything is written: type, codes, counts, point coordinates below
// 256, finite floats, zoom and radius within the limits above, group box sizes of at least 1
// whose data bytes fit in what is left, a storage code of 6354 or 1465, status and
// visibility 0 or 1, a terminated name. The view's overlay is filled from the outline.
// true with *consumed (when given) set; false with a one-line reason, `roi` unchanged.
bool parse_stored_roi(const uint8_t* data, size_t size, ROI_OBJECT* roi, size_t* consumed,
                      std::string* reason);

// The ROI object file: head, the volume's x, y, z, the stored ROI.
std::vector<uint8_t> roi_file_bytes(const ROI_OBJECT& roi, const GridSize& volume_size);
// Writes it under a temporary name renamed when complete. false with a reason.
bool write_roi_file(const std::string& path, const ROI_OBJECT& roi, const GridSize& volume_size,
                    std::string* reason);

enum class RoiFileStatus { Ok, CannotOpen, NotRoiFile, Refused };

// Parses a whole file image: magic, volume size (into *volume_size) and exactly one stored ROI
// with nothing after it.
RoiFileStatus parse_roi_file(const uint8_t* data, size_t size, ROI_OBJECT* roi,
                             GridSize* volume_size, std::string* reason);
// Reads a file from disk, bounded by its real size.
RoiFileStatus read_roi_file(const std::string& path, ROI_OBJECT* roi, GridSize* volume_size,
                            std::string* reason);

// Export ROI object: writes the active ROI (nothing without one). 0, or -1.
int export_active_roi(const RoiList& rois, const GridSize& volume_size, const std::string& path,
                      std::string* reason);

// Import ROI object: reads and validates the file, then adds it as a new ROI (new ID, every
// other field from the file) and makes it active. A file for another volume size prints
// "Volume data matrix size mismatch. Open anyway.\n" and is loaded; a view channel not below
// `channel_count` becomes 0. A file that is not a ROI file shows the Notice "Warning" /
// "This is NOT a kLS-II ROI file."; a refused file prints its reason. Neither changes the
// list. Returns the new ROI or nullptr.
ROI_OBJECT* import_roi_file(RoiList& rois, const std::string& path, const GridSize& volume_size,
                            int32_t channel_count, NoticeSink* notices);

// The view part (112 bytes) with its outline points, and the voxel-group flag with the group,
// as ROI object files and stored study regions carry them. The readers check everything they
// read and refuse with a reason; `record` names the record in it ("the ROI record is
// truncated"), and the group's data must leave `tail_bytes` of the record after it. A
// negative channel reads as 0.
void write_stored_view(ByteWriter& w, const RoiView& view);
bool read_stored_view(ByteReader& r, const char* record, RoiView* view, std::string* reason);
void write_stored_voxel_group(ByteWriter& w, const std::optional<VoxelGroup>& group);
bool read_stored_voxel_group(ByteReader& r, const char* record, size_t tail_bytes,
                             std::optional<VoxelGroup>* group, std::string* reason);
