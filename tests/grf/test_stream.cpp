#include "tests/grf/test_stream.h"

#include <cstring>
#include <utility>

#include "grf/archive.h"
#include "grf/grf.h"
#include "grf/stream.h"

namespace teststream {
namespace {

constexpr uint32_t kTag = 0x544C4146;  // "FALT"

struct Creation {
  GrfStream* inner;
  Plan* plan;
};
struct State {
  Creation c;
  bool sizeDenied;  // a failed size query or change also fails its 32-bit fallback
};
State* S(void* state) { return static_cast<State*>(state); }
GrfStream* In(void* state) { return S(state)->c.inner; }

// Counts the call; true when a fault is to be delivered.
bool Hit(State* s, Op op, Fault* fault) {
  Plan* plan = s->c.plan;
  const auto i = static_cast<uint32_t>(op);
  if (!plan || ++plan->calls[i] != plan->nth[i]) return false;
  *fault = plan->fault[i];
  ++plan->injected;
  return true;
}

// True when the call fails; a short one goes on with half the length (a short read leaves
// the rest of the buffer as no file holds it).
bool Faulty(const void* st, Op op, uint32_t* length, uint32_t* moved, void* buffer = nullptr) {
  Fault fault{};
  *moved = 0;
  if (!Hit(const_cast<State*>(static_cast<const State*>(st)), op, &fault)) return false;
  if (buffer) std::memset(static_cast<char*>(buffer) + *length / 2, 0xEE, *length - *length / 2);
  *length /= 2;
  return fault == Fault::Fail;
}

bool Read(void* st, void* b, uint32_t n, uint32_t* moved) {
  return !Faulty(st, Op::Read, &n, moved, b) && StreamRead(In(st), b, n, moved);
}
bool Write(void* st, const void* b, uint32_t n, uint32_t* moved) {
  return !Faulty(st, Op::Write, &n, moved) && StreamWrite(In(st), b, n, moved);
}
bool ReadAt64(void* st, uint32_t low, uint32_t high, void* b, uint32_t n, uint32_t* moved) {
  return !Faulty(st, Op::Read, &n, moved, b) && StreamReadAt(In(st), (uint64_t{high} << 32) | low, b, n, moved);
}
bool ReadShared(const void* st, uint64_t at, void* b, uint32_t n, uint32_t* moved) {
  const GrfStream* inner = static_cast<const State*>(st)->c.inner;
  return !Faulty(st, Op::Read, &n, moved, b) && inner->ops->readShared(StreamState(inner), at, b, n, moved);
}
bool WriteAt64(void* st, uint32_t low, uint32_t high, const void* b, uint32_t n, uint32_t* moved) {
  return !Faulty(st, Op::Write, &n, moved) &&
         StreamWriteAt(In(st), (uint64_t{high} << 32) | low, const_cast<void*>(b), n, moved);
}
bool ReadAt32(void* st, uint32_t at, void* b, uint32_t n, uint32_t* moved) { return ReadAt64(st, at, 0, b, n, moved); }
bool WriteAt32(void* st, uint32_t at, const void* b, uint32_t n, uint32_t* moved) { return WriteAt64(st, at, 0, b, n, moved); }

bool Pass(void* st, Op op) {
  Fault fault{};
  return !Hit(S(st), op, &fault);
}
bool QuerySize(State* s, uint64_t* size) { return Pass(s, Op::SizeQuery) && StreamGetSize(s->c.inner, size); }

bool GetSize32(void* st, uint32_t* size) {
  uint64_t full = 0;
  if (std::exchange(S(st)->sizeDenied, false) || !QuerySize(S(st), &full) || (full >> 32) != 0) return false;
  *size = static_cast<uint32_t>(full);
  return true;
}

bool SetSize32(void* st, uint32_t size) { return !std::exchange(S(st)->sizeDenied, false) && StreamSetSize(In(st), size); }
bool Flush(void* st) { return Pass(st, Op::Flush) && StreamFlush(In(st)); }
void Close(void* st) { StreamRelease(&S(st)->c.inner); }

bool Control(void* st, uint32_t direction, uint32_t kind, void* data, uint32_t dataLength, uint32_t* lengthOut) {
  if (direction == stream::kGet && kind == stream::kTypeInfo) {
    if (!data || dataLength < sizeof(StreamTypeInfo)) return false;
    const StreamTypeInfo info{sizeof(State), sizeof(Creation), 0};
    std::memcpy(data, &info, sizeof(info));
    if (lengthOut) *lengthOut = sizeof(info);
    return true;
  }
  if (!st) return false;
  State* s = S(st);
  if (direction == stream::kSet && kind == stream::kHandle) {
    if (!data || dataLength != sizeof(Creation)) return false;
    std::memcpy(&s->c, data, sizeof(Creation));
    StreamRetain(s->c.inner, nullptr);
    return true;
  }
  uint64_t size = 0;
  if (kind != stream::kSize || !data || dataLength < sizeof(size)) return false;
  if (direction == stream::kSet)
    return std::memcpy(&size, data, sizeof(size)), !(s->sizeDenied = !Pass(s, Op::SizeChange)) && StreamSetSize(s->c.inner, size);
  s->sizeDenied = !QuerySize(s, &size);
  if (s->sizeDenied) return false;
  std::memcpy(data, &size, sizeof(size));
  if (lengthOut) *lengthOut = sizeof(size);
  return true;
}

constexpr GrfStreamOps kOps = {Close, Read, Write, ReadAt32, WriteAt32, SetSize32,
                               GetSize32, Flush, Control, ReadAt64, WriteAt64, ReadShared};
// The same type with 32-bit positions only: the library falls back to readAt32 and writeAt32.
constexpr GrfStreamOps kNarrowOps = {Close, Read, Write, ReadAt32, WriteAt32, SetSize32,
                                     GetSize32, Flush, Control, nullptr, nullptr, ReadShared};
const bool g_registered = StreamRegisterType(kTag, &kOps) && StreamRegisterType(kTag + 1, &kNarrowOps) &&
                          !StreamRegisterType(kTag, &kNarrowOps) && !StreamRegisterType(kTag + 2, nullptr);  // refused

}  // namespace

GrfArchive* OpenArchive(const std::string& path, Plan* plan, uint32_t flags, uint32_t* status, uint32_t* detail) {
  GrfStream *inner = nullptr, *stream = nullptr;
  if (!g_registered || !FileStreamCreate(path.c_str(), fileio::kGenericRead | fileio::kGenericWrite, fileio::kShareRead,
                                         nullptr, fileio::kOpenAlways, fileio::kFlagRandomAccess | fileio::kAttributeNormal,
                                         kInvalidFile, nullptr, &inner)) {
    if (status) *status = GRF_E_CREATE_FAILED;
    return nullptr;
  }
  Creation creation{inner, plan};
  StreamCreate(plan && plan->narrow ? kTag + 1 : kTag, &creation, sizeof(creation), &stream);
  StreamRelease(&inner);
  GrfArchive* archive = nullptr;
  if (stream) OpenOnStream(stream, flags, status, detail, &archive);
  else if (status) *status = GRF_E_CREATE_FAILED;
  StreamRelease(&stream);
  return archive;
}

}  // namespace teststream
