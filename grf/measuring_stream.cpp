// The measuring stream type: an archive written through it weighs what a file
// would, without taking any space. The header's bytes are kept, since opening
// and finalizing read them back; of everything after them only the size and
// the position are. A read that needs a byte that was not kept fails.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "grf/archive.h"
#include "grf/format.h"
#include "grf/grf.h"
#include "grf/stream.h"
#include "support/sys_error.h"

namespace {

constexpr uint32_t kMeasuringTag = 0x5341454D;
constexpr uint32_t kKept = grf::kNewArchiveSize;
constexpr uint64_t kLargestPosition = static_cast<uint64_t>(INT64_MAX);

struct MeasuringState {
  uint64_t size;
  uint64_t position;  // where read and write continue, as a file's pointer
  unsigned char head[kKept];
};

MeasuringState& StateOf(void* state) { return *static_cast<MeasuringState*>(state); }

void MeasuringClose(void*) {}

bool ReadAt(void* state, uint64_t position, void* buffer, uint32_t length, uint32_t* moved) {
  MeasuringState& s = StateOf(state);
  *moved = 0;
  const uint64_t available = position < s.size ? s.size - position : 0;
  const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(length, available));
  if (count != 0 && position + count > kKept) {
    SetSystemError(syserr::kCallNotImplemented);
    return false;
  }
  if (count != 0) std::memcpy(buffer, s.head + position, count);
  s.position = position + count;
  *moved = count;
  return true;
}

bool WriteAt(void* state, uint64_t position, const void* buffer, uint32_t length,
             uint32_t* moved) {
  MeasuringState& s = StateOf(state);
  *moved = 0;
  if (position > kLargestPosition || length > kLargestPosition - position) {
    SetSystemError(syserr::kNegativeSeek);
    return false;
  }
  if (position < kKept) {
    const uint64_t end = std::min<uint64_t>(position + length, kKept);
    std::memcpy(s.head + position, buffer, static_cast<size_t>(end - position));
  }
  s.position = position + length;
  s.size = std::max(s.size, s.position);
  *moved = length;
  return true;
}

bool MeasuringRead(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  return ReadAt(state, StateOf(state).position, buffer, length, moved);
}

bool MeasuringWrite(void* state, const void* buffer, uint32_t length, uint32_t* moved) {
  return WriteAt(state, StateOf(state).position, buffer, length, moved);
}

bool MeasuringReadAt64(void* state, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                       uint32_t* moved) {
  return ReadAt(state, (static_cast<uint64_t>(high) << 32) | low, buffer, length, moved);
}

bool MeasuringWriteAt64(void* state, uint32_t low, uint32_t high, const void* buffer,
                        uint32_t length, uint32_t* moved) {
  return WriteAt(state, (static_cast<uint64_t>(high) << 32) | low, buffer, length, moved);
}

bool MeasuringReadAt32(void* state, uint32_t position, void* buffer, uint32_t length,
                       uint32_t* moved) {
  return ReadAt(state, position, buffer, length, moved);
}

bool MeasuringWriteAt32(void* state, uint32_t position, const void* buffer, uint32_t length,
                        uint32_t* moved) {
  return WriteAt(state, position, buffer, length, moved);
}

// Cutting the end off zeroes the kept bytes it removes, so that growing
// again reads zeros there, as in a file.
bool SetSize(void* state, uint64_t size) {
  MeasuringState& s = StateOf(state);
  if (size > kLargestPosition) {
    SetSystemError(syserr::kNegativeSeek);
    return false;
  }
  if (size < kKept) std::memset(s.head + size, 0, static_cast<size_t>(kKept - size));
  s.size = size;
  return true;
}

bool MeasuringSetSize32(void* state, uint32_t size) { return SetSize(state, size); }

bool MeasuringGetSize32(void* state, uint32_t* size) {
  if ((StateOf(state).size >> 32) != 0) {
    SetSystemError(syserr::kInsufficientBuffer);
    return false;
  }
  *size = static_cast<uint32_t>(StateOf(state).size);
  return true;
}

bool MeasuringFlush(void*) { return true; }

bool MeasuringControl(void* state, uint32_t direction, uint32_t kind, void* data,
                      uint32_t dataLength, uint32_t* lengthOut) {
  if (direction == stream::kGet && kind == stream::kTypeInfo) {
    const StreamTypeInfo info{sizeof(MeasuringState), 0, stream::kCapNoCreationData};
    if (!data || dataLength < sizeof(info)) return false;
    std::memcpy(data, &info, sizeof(info));
    if (lengthOut) *lengthOut = sizeof(info);
    return true;
  }
  if (!state || kind != stream::kSize || !data || dataLength < sizeof(uint64_t)) return false;
  uint64_t size = 0;
  if (direction == stream::kSet) {
    std::memcpy(&size, data, sizeof(size));
    return SetSize(state, size);
  }
  if (direction != stream::kGet) return false;
  size = StateOf(state).size;
  std::memcpy(data, &size, sizeof(size));
  if (lengthOut) *lengthOut = sizeof(size);
  return true;
}

constexpr GrfStreamOps kMeasuringOps = {
    MeasuringClose,     MeasuringRead,      MeasuringWrite, MeasuringReadAt32,
    MeasuringWriteAt32, MeasuringSetSize32, MeasuringGetSize32, MeasuringFlush,
    MeasuringControl,   MeasuringReadAt64,  MeasuringWriteAt64, nullptr,
};

[[maybe_unused]] const bool g_registered = StreamRegisterType(kMeasuringTag, &kMeasuringOps);

}  // namespace

bool GrfOpenMeasuring(uint32_t flags, uint32_t* status, GrfArchive** archive) {
  *archive = nullptr;
  GrfStream* stream = nullptr;
  if (!StreamCreate(kMeasuringTag, nullptr, 0, &stream)) {
    if (status) *status = GRF_E_OUT_OF_MEMORY;
    return false;
  }
  const bool ok = OpenOnStream(stream, flags, status, nullptr, archive);
  StreamRelease(&stream);
  return ok;
}
