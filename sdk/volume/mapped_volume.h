// Volumes whose channel blocks stay in the file they come from: a private (copy-on-write)
// mapping of the file instead of a heap copy, so that loading a large image costs neither a
// copy nor fresh zeroed pages. Writing into such a block changes only this process's copy
// of the page. Every operation of the volume record releases blocks through
// ZTR_FreeChannelBlock, which tells mapped blocks from heap blocks; a mapping goes away with
// its last block.
//
// A file that another program shortens in place while it is mapped makes reads of the lost
// part fail with SIGBUS. Map only inputs that a short run reads (the batch tools), not
// volumes that stay loaded for a session.
#pragma once

#include <cstdint>

#include "sdk/volume/raw_volume.h"

// New record of `header` whose channel c is the block of x*y*z voxels of types[c] that
// follows channel c-1 in the open file `fd`, channel 0 starting `offset` bytes into it.
// nullptr when the shape or a type is invalid, `fd` is not a regular file, the file is
// shorter than offset plus the blocks (its real size bounds the mapping), a block would not
// start on a multiple of its voxel size, or mapping or memory fails. The caller keeps `fd`
// and may close it at once.
RawVolumeData* ZTR_NewRawVolumeDataMappedFromFile(int fd, uint64_t offset, const VolumeHeader& header,
                                                  const int32_t* types, const int32_t* attributes);

// Whether the block lies in a mapping made by ZTR_NewRawVolumeDataMappedFromFile.
bool ZTR_IsMappedChannelBlock(const void* block);

// Releases one channel block: std::free for a heap block; for a mapped block, one block of
// its mapping, unmapped with the last. nullptr is ignored.
void ZTR_FreeChannelBlock(void* block);
