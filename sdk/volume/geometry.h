// Geometric operations on volume channels: border padding, shrinking, cropping, box copies,
// mirroring, quarter-turn rotation and single-voxel writes. Operations that change the size
// build a complete new record and exchange contents with the caller's record, so the
// caller's pointer stays valid; on failure the volume is unchanged.
#pragma once

#include <cstdint>

#include "sdk/volume/box.h"
#include "sdk/volume/raw_volume.h"

// Border padding modes.
enum : int {
  ZTR_PADDING_ZERO = 0,    // zeros
  ZTR_PADDING_MIRROR = 1,  // mirror about the face, the edge voxel repeated
  ZTR_PADDING_REPEAT = 2,  // the outermost voxel repeated outward
};

// Every channel grows by `margin` on each side of each axis, the border filled per `mode`.
// 0, or -1 for a negative margin, an unknown mode, a size that no longer fits, or when
// memory runs out.
int ZTR_ExpandRawVolumeData(RawVolumeData* volume, int32_t margin, int mode);

// Every channel loses `margin` on each side of each axis. 0, or -1 when nothing would remain.
int ZTR_ShrinkRawVolumeData(RawVolumeData* volume, int32_t margin);

// Every channel becomes the contents of `box`; parts of the box outside the volume are filled
// as padding mode `mode` fills a border. 0 or -1 (empty box, unknown mode, memory).
int ZTR_CropRawVolumeData(RawVolumeData* volume, const ZTR_BOX& box, int mode);

// Copies the voxels of `box` in the source channel to the destination channel with the box
// origin placed at `destination_origin`. Both channels must have the same type and the box
// must lie inside the source and, moved, inside the destination. Overlapping regions of one
// channel are copied as if through a temporary. 0 or -1 (nothing copied).
int ZTR_CopyBox(const RawVolumeData* source, int32_t source_channel, RawVolumeData* destination,
                int32_t destination_channel, const ZTR_BOX& box,
                const int32_t destination_origin[3]);

// Mirrors the channel, or only `box` when given (it must lie inside the volume), along the
// axis named "X"/"x", "Y"/"y" or "Z"/"z". Each call owns its row buffer, so calls on
// different channels or boxes may run in several threads at once. 0, or -1 for another
// text, a bad channel or box, or when the row buffer cannot be allocated (the message
// "arraySwapBuffer allocation fault\n" is then written to standard error).
int ZTR_FlipChannel(RawVolumeData* volume, int32_t channel, const ZTR_BOX* box,
                    const char* axis);

// Rotates every channel by a quarter turn about the named axis ("x"/"X", "y"/"Y", "z"/"Z"):
// voxel (i, j, k) of an X*Y*Z volume moves to
//   x: (i, k, Y-1-j) in X*Z*Y;   y: (Z-1-k, j, i) in Z*Y*X;   z: (j, X-1-i, k) in Y*X*Z.
// 0, or -1 for another text or when memory runs out.
int ZTR_RotateRawVolumeData(RawVolumeData* volume, const char* axis);

// Writes one voxel from `value` (bytes of the channel's type). Positions outside the volume
// are ignored. 0 when written, -1 otherwise.
int ZTR_SetVoxel(RawVolumeData* volume, int32_t channel, const int32_t position[3],
                 const void* value);
