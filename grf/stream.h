#pragma once
// Archive streams: reference-counted objects that pair a type's operations
// table with the state of one open resource. All file I/O of the archive
// library goes through them.

#include "grf/internal.h"

#include <cstddef>
#include <cstdint>

#include "support/file_util.h"

// Operations of a stream type. Every operation gets the stream's state first.
// `moved` receives the number of bytes transferred, which may be short.
struct GrfStreamOps {
  void (*close)(void* state);
  bool (*read)(void* state, void* buffer, uint32_t length, uint32_t* moved);
  bool (*write)(void* state, const void* buffer, uint32_t length, uint32_t* moved);
  bool (*readAt32)(void* state, uint32_t position, void* buffer, uint32_t length,
                   uint32_t* moved);
  bool (*writeAt32)(void* state, uint32_t position, const void* buffer, uint32_t length,
                    uint32_t* moved);
  bool (*setSize32)(void* state, uint32_t size);
  bool (*getSize32)(void* state, uint32_t* size);
  bool (*flush)(void* state);
  bool (*control)(void* state, uint32_t direction, uint32_t kind, void* data,
                  uint32_t dataLength, uint32_t* lengthOut);
  bool (*readAt64)(void* state, uint32_t positionLow, uint32_t positionHigh, void* buffer,
                   uint32_t length, uint32_t* moved);  // optional
  bool (*writeAt64)(void* state, uint32_t positionLow, uint32_t positionHigh,
                    const void* buffer, uint32_t length, uint32_t* moved);  // optional
  // A positioned read that changes no state: safe on several threads at once,
  // beside the stream's other operations on one thread. Optional.
  bool (*readShared)(const void* state, uint64_t position, void* buffer, uint32_t length,
                     uint32_t* moved);
};

namespace stream {
constexpr uint32_t kMaxTypes = 4;

// Control directions.
constexpr uint32_t kGet = 0;
constexpr uint32_t kSet = 1;

// Control kinds.
constexpr uint32_t kTypeInfo = 1;   // get, no state needed: StreamTypeInfo
constexpr uint32_t kHandle = 2;     // set at creation: the creation data
constexpr uint32_t kSize = 7;       // get / set: u64 file size

// Capability bit: the type takes no creation data.
constexpr uint32_t kCapNoCreationData = 0x100;

constexpr uint32_t kFileTag = 0x57333246;
constexpr uint32_t kFileCapabilities = 0x24410;
}  // namespace stream

// Answer of control get kTypeInfo (12 bytes).
struct StreamTypeInfo {
  uint32_t stateSize;
  uint32_t creationDataSize;
  uint32_t capabilities;
};

struct alignas(8) GrfStream {
  uint32_t typeTag;
  uint32_t refCount;
  const GrfStreamOps* ops;
  // The type's state follows the object in the same allocation.
};

inline void* StreamState(GrfStream* stream) { return stream + 1; }
inline const void* StreamState(const GrfStream* stream) { return stream + 1; }

// Fails when kMaxTypes types are registered or the tag is present.
bool StreamRegisterType(uint32_t tag, const GrfStreamOps* ops);

// Creation with the type's creation data (null for none). An unknown tag or
// a creation-data presence that contradicts the type's capability are fatal
// assertions.
bool StreamCreate(uint32_t tag, const void* data, uint32_t dataLength, GrfStream** stream);

// Count 0 before, or a wrap to 0, is a fatal assertion. `out` may be null.
void StreamRetain(GrfStream* stream, GrfStream** out);
// Nulls the caller's variable; the last release closes the state and frees.
void StreamRelease(GrfStream** stream);

bool StreamRead(GrfStream* stream, void* buffer, uint32_t length, uint32_t* moved);
bool StreamWrite(GrfStream* stream, const void* buffer, uint32_t length, uint32_t* moved);
bool StreamFlush(GrfStream* stream);
// readAt64/writeAt64 when the type has them; else readAt32/writeAt32 for
// positions below 2^32.
bool StreamReadAt(GrfStream* stream, uint64_t position, void* buffer, uint32_t length,
                  uint32_t* moved);
bool StreamWriteAt(GrfStream* stream, uint64_t position, const void* buffer, uint32_t length,
                   uint32_t* moved);
// Control get kSize, else getSize32 with a high half of 0.
bool StreamGetSize(GrfStream* stream, uint64_t* size);
// Control set kSize, else setSize32 when the size is below 2^32.
bool StreamSetSize(GrfStream* stream, uint64_t size);

// Exact transfers: true only when every byte moved.
bool StreamReadExact(GrfStream* stream, void* buffer, uint32_t length);
bool StreamWriteExact(GrfStream* stream, const void* buffer, uint32_t length);
bool StreamReadAtExact(GrfStream* stream, uint64_t position, void* buffer, uint32_t length);
bool StreamWriteAtExact(GrfStream* stream, uint64_t position, const void* buffer,
                        uint32_t length);
// The type's shared read, every byte or false; false for a type without one.
bool StreamReadSharedExact(const GrfStream* stream, uint64_t position, void* buffer,
                           uint32_t length);

// ---- the file stream type (tag stream::kFileTag), registered at static initialization ----

// On failure the system's last error becomes 14 and *stream null.
bool FileStreamWrap(FileHandle handle, GrfStream** stream);
bool FileStreamCreate(const char* path, uint32_t access, uint32_t share, void* security,
                      uint32_t disposition, uint32_t flagsAndAttributes, FileHandle templateFile,
                      FileHandle* handle, GrfStream** stream);
bool FileStreamOpenRead(const char* path, uint32_t flagsAndAttributes, FileHandle* handle,
                        GrfStream** stream);
