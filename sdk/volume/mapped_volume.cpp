// Records over private file mappings, and the one release routine of channel blocks.
#include "sdk/volume/mapped_volume.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "sdk/volume/volume_internal.h"

namespace {

struct Mapping {
  char* base;
  size_t length;
  int64_t blocks;  // channel blocks still in use
};

std::mutex g_mutex;
std::vector<Mapping>* g_mappings = nullptr;  // under g_mutex; never freed (used at exit too)
std::atomic<int> g_mapping_count{0};        // lets heap blocks skip the lock

}  // namespace

RawVolumeData* ZTR_NewRawVolumeDataMappedFromFile(int fd, uint64_t offset, const VolumeHeader& header,
                                                  const int32_t* types, const int32_t* attributes) {
  using namespace ztr_volume_detail;
  int64_t voxels = 0;
  if (fd < 0 || attributes == nullptr || !valid_volume_shape(header, types, &voxels)) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return nullptr;
  const size_t n = static_cast<size_t>(header.channels);
  std::vector<uint64_t> starts(n);
  uint64_t end = offset;
  for (size_t c = 0; c < n; ++c) {
    const uint64_t bpv = static_cast<uint64_t>(ZTR_GetBytesPerVoxel(types[c]));
    if (end % bpv != 0) return nullptr;  // a misaligned block: the caller reads it instead
    starts[c] = end;
    const uint64_t bytes = static_cast<uint64_t>(voxels) * bpv;
    if (bytes > std::numeric_limits<uint64_t>::max() - end) return nullptr;
    end += bytes;
  }
  if (end > static_cast<uint64_t>(st.st_size) || end - offset > std::numeric_limits<size_t>::max()) {
    return nullptr;
  }
  const long page = ::sysconf(_SC_PAGESIZE);
  const uint64_t first_page = offset - offset % static_cast<uint64_t>(page > 0 ? page : 4096);
  const size_t length = static_cast<size_t>(end - first_page);
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd,
                      static_cast<off_t>(first_page));
  if (base == MAP_FAILED) return nullptr;

  auto* v = static_cast<RawVolumeData*>(std::calloc(1, sizeof(RawVolumeData)));
  if (v != nullptr) {
    v->header = static_cast<VolumeHeader*>(std::calloc(1, sizeof(VolumeHeader)));
    v->types = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
    v->attributes = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
    v->data = static_cast<void**>(std::calloc(n, sizeof(void*)));
  }
  bool registered = false;
  if (v != nullptr && v->header != nullptr && v->types != nullptr && v->attributes != nullptr &&
      v->data != nullptr) {
    try {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_mappings == nullptr) g_mappings = new std::vector<Mapping>;
      g_mappings->push_back({static_cast<char*>(base), length, static_cast<int64_t>(n)});
      g_mapping_count.fetch_add(1);
      registered = true;
    } catch (...) {
    }
  }
  if (!registered) {
    free_volume_parts(v, 0);
    ::munmap(base, length);
    return nullptr;
  }
  for (size_t c = 0; c < n; ++c) v->data[c] = static_cast<char*>(base) + (starts[c] - first_page);
  *v->header = header;
  std::memcpy(v->types, types, n * sizeof(int32_t));
  std::memcpy(v->attributes, attributes, n * sizeof(int32_t));
  return v;
}

namespace {

// The registered mapping holding `block`, or nullptr; g_mutex held.
Mapping* find_mapping(const void* block) {
  if (g_mappings == nullptr) return nullptr;
  const char* p = static_cast<const char*>(block);
  for (Mapping& m : *g_mappings) {
    if (p >= m.base && p < m.base + m.length) return &m;
  }
  return nullptr;
}

}  // namespace

bool ZTR_IsMappedChannelBlock(const void* block) {
  if (block == nullptr || g_mapping_count.load() == 0) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  return find_mapping(block) != nullptr;
}

void ZTR_FreeChannelBlock(void* block) {
  if (block == nullptr) return;
  if (g_mapping_count.load() > 0) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Mapping* m = find_mapping(block)) {
      if (--m->blocks == 0) {
        ::munmap(m->base, m->length);
        *m = g_mappings->back();
        g_mappings->pop_back();
        g_mapping_count.fetch_sub(1);
      }
      return;
    }
  }
  std::free(block);
}
