// Whole volumes in their serialized form on a data board, moved through the board's
// descriptor: a board that shrinks or lies about its content is a refused transfer.
#pragma once

#include "sdk/ipc/shared_memory.h"
#include "sdk/volume/raw_volume.h"

namespace ztr::ipc {

// Writes the serialized form of `volume` at offset 0 of `board`, which must be at least
// ZTR_GetSerializedRawVolumeDataSize bytes. 0, or -1 (null volume, board too small or shrunk).
int write_volume_to_board(const SharedMemory& board, const RawVolumeData* volume);

// A new volume read from the board's serialized form, bounded by the board's real size
// (trailing bytes are allowed), or nullptr when the content is invalid, declares more than
// the board holds, or the board shrinks during the read. The caller owns the result.
RawVolumeData* read_volume_from_board(const SharedMemory& board);

}  // namespace ztr::ipc
