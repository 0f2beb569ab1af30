// Client side of the shared-memory protocol with the host: session, requests and messages,
// whole-volume exchange, channel transfers, object groups, and the plug-in launcher.
//
// One session per process; the functions are not thread-safe (one client thread talks to
// the host at a time). Waiting is a poll bounded by a count of board reads, by a time limit
// and by the host's boards still being there.
// Console output goes to standard error. The plug-in build is silent where the analyzer
// prints extra progress lines: call ZTRipc_SetVerbose(true) in the analyzer before
// ZTRipc_InitializeClient.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "sdk/ipc/board_layout.h"
#include "sdk/volume/box.h"
#include "sdk/volume/raw_volume.h"

struct ZTR_OBJECT_GROUP;

// Request types (client to host).
enum : int32_t {
  ZTRipc_REQUEST_TYPE_CONNECTION = 211,
  ZTRipc_REQUEST_TYPE_DISCONNECTION = 212,
  ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA = 221,
  ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS = 222,
  ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD = 233,
  ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA = 234,
  ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA = 235,
  ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA = 236,
  ZTRipc_REQUEST_TYPE_OBJECT_TRANSFER_DONE = 251,
  ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE = 322,
  ZTRipc_REQUEST_TYPE_SET_CURSOR = 464,
  ZTRipc_REQUEST_TYPE_SET_BOX = 465,
  ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP = 511,
  ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP = 512,
  ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP = 514,
};

// Message types (host to client).
enum : int32_t {
  ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED = 22,
  ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED = 55,
  ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED = 66,
  ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED = 77,
};

// Server status values on the broadcaster board.
enum : int32_t {
  ZTRipc_SERVER_FREE = 0,
  ZTRipc_SERVER_SERVING = 1,
};

// Poll limits: the plug-in's starting value and the analyzer's (also set by every receive).
inline constexpr int32_t ZTRipc_DEFAULT_POLL_LIMIT = 1310700;
inline constexpr int32_t ZTRipc_LONG_POLL_LIMIT = 6553500;
// Besides its count of rounds, every wait ends after this many milliseconds: a round that
// sleeps makes a count of rounds a poor clock, and a host that never answers must not hold
// a plug-in for minutes.
inline constexpr int32_t ZTRipc_DEFAULT_WAIT_TIME_LIMIT_MS = 10000;

// The host's public state as last read from the broadcaster board. Values are held in
// place (no separate allocations).
struct ZTRipc_BROADCASTER {
  int32_t status;            // board 0; -123 until read or after a failed read
  char client_id[36];        // board 8 (32 bytes); the last bytes stay zero
  float two_floats[2];       // board 144
  VolumeHeader volume_header;  // board 40: the host's current volume
  int32_t integer_160;       // board 160
  float cursor[3];           // board 72: the host's cursor position
  int32_t box_origin[3];     // board 96; 0, 0, 0 in a new record
  int32_t box_size[3];       // board 108; 1, 1, 1 in a new record
  float triples[4][3];       // board 168, 180, 192, 204 (copied bit for bit)
  int32_t integer_216;       // board 216
  int32_t integer_220;       // board 220
};

// New record (status -123, box origin 0 and size 1, everything else 0), or nullptr.
// Release with ZTRipc_DeleteBroadcaster.
ZTRipc_BROADCASTER* ZTRipc_NewBroadcaster();
void ZTRipc_DeleteBroadcaster(ZTRipc_BROADCASTER* broadcaster);  // nullptr ignored

// ---- session ---------------------------------------------------------------------------

// Analyzer (true) or plug-in (false, the default) console behaviour; set before initialising.
void ZTRipc_SetVerbose(bool verbose);
bool ZTRipc_GetVerbose();

// Opens the host's broadcaster, message and request boards for this client. 0, or -1
// ("too long client ID\n" for an ID over 32 characters; a missing board fails silently)
// with nothing left open.
int ZTRipc_InitializeClient(const char* client_id, int32_t client_number);
// Closes the three boards (and a data board still held) and frees the session's
// broadcaster record. Safe to call when not initialised. Returns 0.
int ZTRipc_CloseClient();

// The session's composed board names (empty before initialisation).
const char* ZTRipc_GetBroadcasterBoardName();
const char* ZTRipc_GetMessageBoardName();
const char* ZTRipc_GetRequestBoardName();
const char* ZTRipc_GetDataBoardName();

// Copies the broadcaster board into the record. 0; -1 for nullptr or a failed read.
int ZTRipc_GetBroadcastedInfo(ZTRipc_BROADCASTER* broadcaster);

// ---- requests and messages ---------------------------------------------------------------

int ZTRipc_SendConnectionRequest();     // 0 when connected within the poll limit, else -1
int ZTRipc_SendDisconnectionRequest();  // 0 when the server is free (again), else -1
// Writes request `type` with the staged parameter block. With wait, rewrites it every
// round until the host accepts it (message 22 naming this type) or the limit runs out.
// Refused (-1, nothing written) unless the server is free or connected to this client.
int ZTRipc_SendRequest(int32_t type, bool wait);
// 0 when a message of this type arrived within the poll limit (its parameter block is then
// in the parameter buffer), else -1.
int ZTRipc_WaitForMessage(int32_t type);
int ZTRipc_ClearMessageBoard();  // 0 or -1

// Copy 464 bytes into / out of the session's parameter buffer; -1 for nullptr.
int ZTRipc_SetParameters(const void* block);
int ZTRipc_GetParameters(void* block);

void ZTRipc_SetPollLimit(int32_t count);
int32_t ZTRipc_GetPollLimit();
// Milliseconds after which any single wait gives up; 0 or less: only the poll limit and the
// host's disappearance end a wait.
void ZTRipc_SetWaitTimeLimit(int32_t milliseconds);
int32_t ZTRipc_GetWaitTimeLimit();
// True once the host's boards were found removed or replaced; every later wait fails at once.
bool ZTRipc_HostGone();

// ---- whole volumes -------------------------------------------------------------------

// Connects, locks, fetches the host's current volume, unlocks and disconnects. A new
// volume owned by the caller, or nullptr (after the quoted message). Sets the poll limit
// to 6553500.
RawVolumeData* ZTRipc_ReceiveRawVolumeData();
// Hands a whole volume to the host (the host replaces its data). 0 or -1.
int ZTRipc_SendRawVolumeData(const RawVolumeData* volume);
// Creates this client's data board sized exactly for the volume and fills it; the handle
// stays open until ZTRipc_CloseDataBoard. 0 or -1.
int ZTRipc_UploadRawVolumeData(const RawVolumeData* volume);
// Reads a volume from the existing data board, bounded by the board's real size. A new
// volume owned by the caller, or nullptr (missing board, truncated or invalid content).
RawVolumeData* ZTRipc_DownloadRawVolumeData();
// Closes (and, as its creator, removes) the data board this client holds. 0, or -1 when
// closing fails; 0 when none is held.
int ZTRipc_CloseDataBoard();

// ---- channels, object groups, voxel size, box ------------------------------------------

// The host appends channel `channel` of the volume to its data. 0 or -1.
int ZTRipc_AppendSingleChannel(const RawVolumeData* volume, int32_t channel);
// Creates and fills the data board in the single-channel format. 0 or -1 (nothing created
// for a null volume or a channel out of range).
int ZTRipc_UploadSingleChannelOfRawVolumeData(const RawVolumeData* volume, int32_t channel);
// Creates a host object group, sends `group` into it and stores the host's ID in *id.
// The group stays the caller's. 0 or -1.
int ZTRipc_TransferObjectGroup(const ZTR_OBJECT_GROUP* group, int32_t* id);
// Replaces the content of host object group `id` by `group`. 0 or -1.
int ZTRipc_UpdateObjectGroup(const ZTR_OBJECT_GROUP* group, int32_t id);
// Asks the host to remove group `id`. Always 0.
int ZTRipc_RemoveObjectGroup(int32_t id);
// 0, or -1 when the host did not accept it. A value that is not a positive finite number
// is not sent at all (-1).
int ZTRipc_SetVoxelSize(float value);
// Box in voxels: integer origin and size triples. 0 or -1.
int ZTRipc_SetBox(const int32_t origin[3], const int32_t size[3]);
int ZTRipc_SetBox(const ZTR_BOX& box);
// Creates and fills the data board with the group's wire form. 0 or -1.
int ZTRipc_UploadObjectGroup(const ZTR_OBJECT_GROUP* group);

// ---- plug-in launcher ------------------------------------------------------------------

// Starts "name number [argument]" as a new process in its own process group without
// waiting, after writing "command: <line>\n". argument may be nullptr. 0, or -1 when the
// process could not be started. The child's pid goes to *pid when given; the caller reaps it.
int ZTRipc_LaunchPlugin(const char* program_name, int32_t client_number, const char* argument,
                        pid_t* pid = nullptr);
