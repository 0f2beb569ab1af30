// Byte layouts of the IPC boards shared by the client library and any host, the board
// names, and the single-channel data-board format. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sdk/volume/raw_volume.h"

// Board base names; a board's name is base + "(%04d)" of the client number.
inline constexpr const char* ZTRipc_BROADCASTER_BOARD_BASE = "ZTR_IPC_BB";
inline constexpr const char* ZTRipc_MESSAGE_BOARD_BASE = "ZTR_IPC_MB";
inline constexpr const char* ZTRipc_REQUEST_BOARD_BASE = "ZTR_IPC_RB";
inline constexpr const char* ZTRipc_DATA_BOARD_BASE = "ZTR_IPC_DB";
inline constexpr size_t ZTRipc_BOARD_NAME_CAPACITY = 32;
// A host that serves a client number holds an exclusive flock on the object of this base
// name (beside the boards); it dies with its holder. A host that does not lock leaves none.
inline constexpr const char* ZTRipc_HOST_LOCK_BASE = "ZTR_HOST_LOCK";

// Minimum sizes a host gives its three boards.
inline constexpr size_t ZTRipc_BROADCASTER_BOARD_SIZE = 4096;
inline constexpr size_t ZTRipc_MESSAGE_BOARD_SIZE = 512;
inline constexpr size_t ZTRipc_REQUEST_BOARD_SIZE = 512;

// "No value": a failed board read, a cleared message board, an unread status.
inline constexpr int32_t ZTRipc_NO_VALUE = -123;
inline constexpr size_t ZTRipc_PARAMETER_BYTES = 464;
inline constexpr size_t ZTRipc_MAX_CLIENT_ID = 32;  // characters, without the NUL

// Broadcaster board (224 bytes are read).
inline constexpr size_t ZTRipc_BB_STATUS = 0;          // int: 0 free, 1 serving a client
inline constexpr size_t ZTRipc_BB_CLIENT_ID = 8;       // 32 bytes, NUL-terminated if shorter
inline constexpr size_t ZTRipc_BB_VOLUME_HEADER = 40;  // x, y, z, channels
inline constexpr size_t ZTRipc_BB_CURSOR = 72;         // three floats
inline constexpr size_t ZTRipc_BB_BOX_ORIGIN = 96;     // three ints
inline constexpr size_t ZTRipc_BB_BOX_SIZE = 108;      // three ints
inline constexpr size_t ZTRipc_BB_TWO_FLOATS = 144;    // two floats
inline constexpr size_t ZTRipc_BB_INTEGER_160 = 160;   // int
inline constexpr size_t ZTRipc_BB_TRIPLES = 168;       // four triples of 32-bit values
inline constexpr size_t ZTRipc_BB_INTEGER_216 = 216;   // int
inline constexpr size_t ZTRipc_BB_INTEGER_220 = 220;   // int
inline constexpr size_t ZTRipc_BB_READ_BYTES = 224;

// Request board (written by the client).
inline constexpr size_t ZTRipc_RB_TYPE = 0;         // int
inline constexpr size_t ZTRipc_RB_CLIENT_ID = 8;    // 40 bytes, NUL-terminated
inline constexpr size_t ZTRipc_RB_CLIENT_ID_BYTES = 40;
inline constexpr size_t ZTRipc_RB_PARAMETERS = 48;  // 464 bytes

// Message board (written by the host, cleared by the client).
inline constexpr size_t ZTRipc_MB_TYPE = 0;              // int
inline constexpr size_t ZTRipc_MB_TEXT = 8;              // 32 bytes; cleared to "   "
inline constexpr size_t ZTRipc_MB_TEXT_BYTES = 32;
inline constexpr size_t ZTRipc_MB_ACCEPTED_REQUEST = 40; // int, for message 22
inline constexpr size_t ZTRipc_MB_PARAMETERS = 48;       // 464 bytes

// "ZTR_IPC_RB" and 3 give "ZTR_IPC_RB(0003)"; wider numbers are printed in full.
std::string ZTRipc_ComposeBoardName(const char* base, int32_t client_number);

// ---- single-channel data-board format: x, y, z, type, attribute, then the voxels ----

inline constexpr size_t ZTRipc_SINGLE_CHANNEL_HEADER_BYTES = 20;

// 20 + block bytes; 0 for a null volume or a channel outside 0..channels-1.
size_t ZTRipc_GetSingleChannelSize(const RawVolumeData* volume, int32_t channel);
// Writes the format into `destination` of `size` bytes; -1 when the size is 0 or the
// buffer is smaller than needed, else 0.
int ZTRipc_WriteSingleChannel(const RawVolumeData* volume, int32_t channel, void* destination,
                              size_t size);
// A new one-channel volume read from at most `size` bytes, or nullptr when the input is
// truncated, declares more voxels than it holds, or carries an invalid size or type.
// Trailing bytes are refused as well. The caller owns the result.
RawVolumeData* ZTRipc_ReadSingleChannel(const void* source, size_t size);
