// The table of loaded networks and their two files: the text information file (pointing to
// CSV weight files and an MPG text file) and the binary data file that holds a whole set.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analyzer/rtnn/bspace_converter.h"
#include "analyzer/rtnn/rtnn_network.h"

inline constexpr int32_t ZTR_RTNN_MAX_NETWORKS = 64;
inline constexpr int32_t ZTR_RTNN_MAX_MPG_CHANNELS = 4096;

inline constexpr char ZTR_RTNN_INFORMATION_HEADER[] =
    "# this is information file for using RunTimeNeuralNetwork in heLiXIA";
// Written with its terminating zero: 56 bytes.
inline constexpr char ZTR_RTNN_DATA_HEADER[] = "# this is data file of RunTimeNeuralNetwork for heLiXIA";
inline constexpr size_t ZTR_RTNN_DATA_HEADER_BYTES = sizeof(ZTR_RTNN_DATA_HEADER);
inline constexpr char ZTR_RTNN_DEFAULT_FILE[] = "rtnn_data/heLiXIA.rtnnFile.bin";
inline constexpr char ZTR_RTNN_DEFAULT_FOLDER_FORMAT[] = "plugins/tools/heLiXIA/%s";

// The gradient table a network's inputs correspond to; entry 0 is the b=0 reference.
struct RtnnInputMpg {
  int32_t total = 0;
  int32_t b0 = 0;
  std::vector<float> b_value;                    // total entries
  std::vector<std::array<float, 3>> direction;  // total entries
};

struct RtnnEntry {
  int32_t state = -1;  // -1 after loading, 0 once prepared for an MPG setting
  RtnnNetworkPtr network;
  BSpaceConverterPtr converter;  // none when the setting matched the input MPG
  RtnnInputMpg input_mpg;
  std::vector<std::string> output_names;  // one per output, at most 31 characters each
  // Fingerprint of the MPG setting the entry was prepared for (see rtnn_maps.h); an entry
  // is evaluated only while it equals the current setting's.
  uint64_t prepared_for = 0;
};

struct RtnnTable {
  std::vector<RtnnEntry> entries;  // at most 64, all complete
  std::string set_id;              // at most 31 characters
  // Fingerprint of a setting this set failed to be prepared for (0: none), so that a timer
  // does not retry it on every tick; a newly loaded set starts without one.
  uint64_t failed_setting = 0;
  int count() const { return static_cast<int>(entries.size()); }
};

// Cuts a text to what a 32-byte zero-terminated field holds.
std::string rtnn_field_text(std::string text);

// ---- parsing and writing on explicit tables (no process state) ----------------------------
// Reads an information file into *table. Networks whose weight, bias or MPG file is missing,
// short, overlong or malformed are refused one by one with their message; the rest load.
// Returns the number of networks loaded, or -1 with a message when the file is not an
// information file, is malformed or yields no network (then *table is untouched).
int parse_rtnn_information_file(const std::string& path, RtnnTable* table);
// Reads a data file image of `size` bytes into *table. Returns the count, or -1 with the
// reason in *error when the image is not a complete, consistent data file (*table untouched).
int parse_rtnn_data(const unsigned char* bytes, size_t size, RtnnTable* table,
                    std::string* error);
// Reads a data file into *table, with the messages of a refusal. The count, or -1.
int parse_rtnn_data_file(const std::string& path, RtnnTable* table);
// Either kind of file, told apart by its first line; "Err: Not RTNN file\n" and -1 for any
// other file. The count, or -1 (*table untouched).
int parse_rtnn_file(const std::string& path, RtnnTable* table);
// The data file image of a table (text fields zero-padded, cut to 31 characters).
std::vector<unsigned char> rtnn_data_bytes(const RtnnTable& table);
// Writes the table as a data file through a temporary file in the same folder that is
// renamed over `path` only when every write succeeded. Returns the count written, or 0 with
// a message (zero networks, the file cannot be created, a write fails); `path` is then
// unchanged.
// `write` replaces ::write for tests that need a failing disk.
using RtnnWriteFunction = std::function<long(int fd, const void* bytes, size_t count)>;
int write_rtnn_data_file(const RtnnTable& table, const char* path,
                         const RtnnWriteFunction& write = {});
// 0 data file, 1 information file, -1 otherwise ("File Not Found: %s\n" when unreadable).
int get_rtnn_file_kind(const char* path);

// ---- the analyzer's process-wide table (user-interface thread only) -----------------------
RtnnTable& rtnn_table();
// Clears the table; prints "RunTimeNeuralNetwork initalized\n".
void initialize_rtnn_table();
// Releases every network and converter; prints "RunTimeNeuralNetwork deleted\n".
void delete_all_rtnns();
// Loaders: the new set replaces the loaded one only when it loaded; otherwise the loaded set
// stays. Return the new count, or -1 when the file was refused.
int load_rtnns_from_information_file(const char* path);
int load_rtnns_from_data_file(const char* path);
// Writes the loaded set; the count written, 0 on refusal or failure.
int write_rtnn_data_file(const char* path);
// Start-up loading: the default data file, else the same path under the plug-in folder.
// Returns the count (0 when neither loads).
int load_default_rtnns();
// Total outputs of the loaded networks.
int count_rtnn_outputs();
int count_rtnn_outputs(const RtnnTable& table);
