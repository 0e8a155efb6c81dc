#include "tests/grf/test_stream.h"

#include <cstring>
#include <utility>

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
  bool sizeDenied, truncateDenied;  // the control call was failed by injection
};

State* S(void* state) { return static_cast<State*>(state); }

// Counts the call; true when a fault is to be delivered.
bool Hit(State* s, Op op, Fault* fault) {
  Plan* plan = s->c.plan;
  const auto i = static_cast<uint32_t>(op);
  if (!plan || ++plan->calls[i] != plan->nth[i]) return false;
  *fault = plan->fault[i];
  ++plan->injected;
  return true;
}

template <typename Call>
bool Transfer(void* state, bool write, uint32_t length, uint32_t* moved, Call call) {
  Fault fault{};
  *moved = 0;
  if (Hit(S(state), write ? Op::Write : Op::Read, &fault)) {
    if (fault == Fault::Fail) return false;
    length /= 2;
  }
  return call(length);
}

bool Read(void* st, void* b, uint32_t length, uint32_t* moved) {
  return Transfer(st, false, length, moved, [&](uint32_t n) { return StreamRead(S(st)->c.inner, b, n, moved); });
}
bool Write(void* st, const void* b, uint32_t length, uint32_t* moved) {
  return Transfer(st, true, length, moved, [&](uint32_t n) { return StreamWrite(S(st)->c.inner, b, n, moved); });
}
bool ReadAt64(void* st, uint32_t low, uint32_t high, void* b, uint32_t length, uint32_t* moved) {
  const uint64_t at = (uint64_t{high} << 32) | low;
  return Transfer(st, false, length, moved, [&](uint32_t n) { return StreamReadAt(S(st)->c.inner, at, b, n, moved); });
}
bool WriteAt64(void* st, uint32_t low, uint32_t high, const void* b, uint32_t length, uint32_t* moved) {
  const uint64_t at = (uint64_t{high} << 32) | low;
  void* data = const_cast<void*>(b);
  return Transfer(st, true, length, moved, [&](uint32_t n) { return StreamWriteAt(S(st)->c.inner, at, data, n, moved); });
}
bool ReadAt32(void* st, uint32_t at, void* b, uint32_t n, uint32_t* moved) { return ReadAt64(st, at, 0, b, n, moved); }
bool WriteAt32(void* st, uint32_t at, const void* b, uint32_t n, uint32_t* moved) { return WriteAt64(st, at, 0, b, n, moved); }

bool QuerySize(State* s, uint64_t* size) {
  Fault fault{};
  const bool hit = Hit(s, Op::SizeQuery, &fault);
  if ((hit && fault == Fault::Fail) || !StreamGetSize(s->c.inner, size)) return false;
  if (hit && *size > 0) --*size;
  return true;
}

bool Truncate(State* s, uint64_t size) {
  Fault fault{};
  const bool hit = Hit(s, Op::Truncate, &fault);
  if (hit && fault == Fault::Fail) return false;
  return StreamSetSize(s->c.inner, hit ? size + 1 : size);
}

bool GetSize32(void* st, uint32_t* size) {
  uint64_t full = 0;
  if (std::exchange(S(st)->sizeDenied, false) || !QuerySize(S(st), &full) || (full >> 32) != 0) return false;
  *size = static_cast<uint32_t>(full);
  return true;
}

bool SetSize32(void* st, uint32_t size) { return !std::exchange(S(st)->truncateDenied, false) && Truncate(S(st), size); }

bool Flush(void* st) {
  Fault fault{};
  return !Hit(S(st), Op::Flush, &fault) && StreamFlush(S(st)->c.inner);
}

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
  if (direction == stream::kSet) {
    std::memcpy(&size, data, sizeof(size));
    s->truncateDenied = !Truncate(s, size);
    return !s->truncateDenied;
  }
  s->sizeDenied = !QuerySize(s, &size);
  if (s->sizeDenied) return false;
  std::memcpy(data, &size, sizeof(size));
  if (lengthOut) *lengthOut = sizeof(size);
  return true;
}

constexpr GrfStreamOps kOps = {Close, Read, Write, ReadAt32, WriteAt32, SetSize32,
                               GetSize32, Flush, Control, ReadAt64, WriteAt64};
const bool g_registered = StreamRegisterType(kTag, &kOps);

}  // namespace

bool OpenFile(const std::string& path, Plan* plan, GrfStream** stream) {
  *stream = nullptr;
  GrfStream* inner = nullptr;
  if (!g_registered || !FileStreamCreate(path.c_str(), fileio::kGenericRead | fileio::kGenericWrite, fileio::kShareRead,
                                         nullptr, fileio::kOpenAlways, fileio::kFlagRandomAccess | fileio::kAttributeNormal,
                                         kInvalidFile, nullptr, &inner))
    return false;
  Creation creation{inner, plan};
  const bool ok = StreamCreate(kTag, &creation, sizeof(creation), stream);
  StreamRelease(&inner);
  return ok;
}

GrfArchive* OpenArchive(const std::string& path, Plan* plan, uint32_t flags, uint32_t* status) {
  GrfStream* stream = nullptr;
  if (!OpenFile(path, plan, &stream)) {
    if (status) *status = GRF_E_CREATE_FAILED;
    return nullptr;
  }
  GrfArchive* archive = nullptr;
  GrfOpenStream(stream, flags, status, nullptr, &archive);
  StreamRelease(&stream);
  return archive;
}

}  // namespace teststream
