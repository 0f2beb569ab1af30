// The ZANTREVIUM raw volume file: a five-line text header followed by the channel blocks.
// Readers are bounded by the real length of the file; a bad file is refused, never half-read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "analyzer/notice.h"
#include "sdk/volume/raw_volume.h"

// Largest channel count the header reader accepts (the size of its type and attribute buffers).
inline constexpr int32_t ZTR_RAW_FILE_MAX_CHANNELS = 1024;

// The exact first line of the file.
inline constexpr const char* ZTR_RAW_FILE_MAGIC = "# ZANTREVIUM raw format file with header\n";

// Parses the header of `path`. `types` and `attributes` must hold ZTR_RAW_FILE_MAX_CHANNELS
// entries. Returns the byte offset at which the channel data starts (the data is the last
// `size` bytes of the file, so extra bytes after the header are skipped), or -1 when the
// file cannot be opened or is not in this format. Also refused: more than 1024 channels,
// a zero or negative size, an invalid voxel type code, a declared data size that differs
// from the size the header's channels need, or a file too short to hold that data.
int64_t ReadRawVolumeFileHeader(const char* path, VolumeHeader* header, int32_t* types,
                                int32_t* attributes);

// Loads the whole file as a new volume (the caller owns it), or nullptr. On a file that is
// not in this format, `notice` (which may be null: then the text goes to standard error)
// is shown "This is NOT a ZANTREVIUM file." titled "Warning". `voxel_size` (when given) is
// set to 1.0 and `description` (when given) receives the data-source text, also on failure.
RawVolumeData* LoadRawVolumeFile(const char* path, float* voxel_size, std::string* description,
                                 NoticeSink* notice = nullptr);

// Writes the whole file to `stream` (opened by the caller for binary writing), then closes
// the stream. Returns 0, or -1 for a null volume or a failed write (the stream is closed
// in every case).
int SaveRawVolumeFile(const RawVolumeData* volume, std::FILE* stream);

// The same file written to `path` under a temporary name that is renamed when complete: a
// failed write leaves no partial file under `path` and an older file there intact. 0, or -1
// with a one-line reason in *error (when given).
int SaveRawVolumeFileAtomically(const RawVolumeData* volume, const std::string& path,
                                std::string* error);
