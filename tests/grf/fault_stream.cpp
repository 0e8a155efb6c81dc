#include "tests/grf/fault_stream.h"

#include <algorithm>
#include <cstring>

#include "grf/grf.h"
#include "grf/stream.h"

namespace faultstream {
namespace {

struct Creation {
  GrfStream* inner;
  Plan* plan;
};

struct State {
  GrfStream* inner;
  Plan* plan;
  bool sizeDenied;      // the control size query was failed by injection
  bool truncateDenied;  // likewise the control truncation
};

State* AsState(void* state) { return static_cast<State*>(state); }

// Counts the call and answers the fault to deliver, if any.
bool Hit(State* s, Op op, Fault* fault) {
  if (!s->plan) return false;
  const auto i = static_cast<uint32_t>(op);
  const Rule& rule = s->plan->rules[i];
  const uint32_t n = ++s->plan->calls[i];
  if (rule.nth == 0 || n < rule.nth || (n > rule.nth && !rule.repeat)) return false;
  *fault = rule.fault;
  ++s->plan->injected;
  return true;
}

uint32_t ShortLength(uint32_t length) { return length / 2; }

void Close(void* state) { StreamRelease(&AsState(state)->inner); }

bool Read(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  State* s = AsState(state);
  *moved = 0;
  Fault fault{};
  if (Hit(s, Op::Read, &fault)) {
    if (fault == Fault::Fail) return false;
    length = ShortLength(length);
  }
  return StreamRead(s->inner, buffer, length, moved);
}

bool Write(void* state, const void* buffer, uint32_t length, uint32_t* moved) {
  State* s = AsState(state);
  *moved = 0;
  Fault fault{};
  if (Hit(s, Op::Write, &fault)) {
    if (fault == Fault::Fail) return false;
    length = ShortLength(length);
  }
  return StreamWrite(s->inner, buffer, length, moved);
}

bool ReadAt64(void* state, uint32_t low, uint32_t high, void* buffer, uint32_t length,
              uint32_t* moved) {
  State* s = AsState(state);
  *moved = 0;
  Fault fault{};
  if (Hit(s, Op::Read, &fault)) {
    if (fault == Fault::Fail) return false;
    length = ShortLength(length);
  }
  return StreamReadAt(s->inner, (static_cast<uint64_t>(high) << 32) | low, buffer, length, moved);
}

bool WriteAt64(void* state, uint32_t low, uint32_t high, const void* buffer, uint32_t length,
               uint32_t* moved) {
  State* s = AsState(state);
  *moved = 0;
  Fault fault{};
  if (Hit(s, Op::Write, &fault)) {
    if (fault == Fault::Fail) return false;
    length = ShortLength(length);
  }
  return StreamWriteAt(s->inner, (static_cast<uint64_t>(high) << 32) | low, buffer, length,
                       moved);
}

bool ReadAt32(void* state, uint32_t position, void* buffer, uint32_t length, uint32_t* moved) {
  return ReadAt64(state, position, 0, buffer, length, moved);
}

bool WriteAt32(void* state, uint32_t position, const void* buffer, uint32_t length,
               uint32_t* moved) {
  return WriteAt64(state, position, 0, buffer, length, moved);
}

bool QuerySize(State* s, uint64_t* size) {
  Fault fault{};
  if (Hit(s, Op::SizeQuery, &fault)) {
    if (fault == Fault::Fail) return false;
    if (!StreamGetSize(s->inner, size)) return false;
    if (*size > 0) --*size;
    return true;
  }
  return StreamGetSize(s->inner, size);
}

bool Truncate(State* s, uint64_t size) {
  Fault fault{};
  if (Hit(s, Op::Truncate, &fault)) {
    if (fault == Fault::Fail) return false;
    return StreamSetSize(s->inner, size + 1);
  }
  return StreamSetSize(s->inner, size);
}

bool GetSize32(void* state, uint32_t* size) {
  State* s = AsState(state);
  if (s->sizeDenied) {
    s->sizeDenied = false;
    return false;
  }
  uint64_t full = 0;
  if (!QuerySize(s, &full) || (full >> 32) != 0) return false;
  *size = static_cast<uint32_t>(full);
  return true;
}

bool SetSize32(void* state, uint32_t size) {
  State* s = AsState(state);
  if (s->truncateDenied) {
    s->truncateDenied = false;
    return false;
  }
  return Truncate(s, size);
}

bool Flush(void* state) { return StreamFlush(AsState(state)->inner); }

bool Control(void* state, uint32_t direction, uint32_t kind, void* data, uint32_t dataLength,
             uint32_t* lengthOut) {
  if (direction == stream::kGet && kind == stream::kTypeInfo) {
    if (!data || dataLength < sizeof(StreamTypeInfo)) return false;
    const StreamTypeInfo info{sizeof(State), sizeof(Creation), 0};
    std::memcpy(data, &info, sizeof(info));
    if (lengthOut) *lengthOut = sizeof(info);
    return true;
  }
  if (!state) return false;
  State* s = AsState(state);
  if (direction == stream::kSet && kind == stream::kHandle) {
    if (!data || dataLength != sizeof(Creation)) return false;
    Creation creation{};
    std::memcpy(&creation, data, sizeof(creation));
    StreamRetain(creation.inner, &s->inner);
    s->plan = creation.plan;
    return true;
  }
  if (kind == stream::kSize && direction == stream::kGet) {
    if (!data || dataLength < sizeof(uint64_t)) return false;
    uint64_t size = 0;
    if (!QuerySize(s, &size)) {
      s->sizeDenied = true;
      return false;
    }
    std::memcpy(data, &size, sizeof(size));
    if (lengthOut) *lengthOut = sizeof(size);
    return true;
  }
  if (kind == stream::kSize && direction == stream::kSet) {
    if (!data || dataLength != sizeof(uint64_t)) return false;
    uint64_t size = 0;
    std::memcpy(&size, data, sizeof(size));
    if (!Truncate(s, size)) {
      s->truncateDenied = true;
      return false;
    }
    return true;
  }
  return s->inner->ops->control(StreamState(s->inner), direction, kind, data, dataLength,
                                lengthOut);
}

constexpr GrfStreamOps kOps = {Close,     Read,  Write,   ReadAt32, WriteAt32, SetSize32,
                               GetSize32, Flush, Control, ReadAt64, WriteAt64};

const bool g_registered = StreamRegisterType(kTag, &kOps);

}  // namespace

bool Registered() { return g_registered; }

bool Wrap(GrfStream* inner, Plan* plan, GrfStream** stream) {
  Creation creation{inner, plan};
  return StreamCreate(kTag, &creation, sizeof(creation), stream);
}

bool OpenFile(const std::string& path, Plan* plan, GrfStream** stream) {
  *stream = nullptr;
  GrfStream* inner = nullptr;
  if (!FileStreamCreate(path.c_str(), fileio::kGenericRead | fileio::kGenericWrite,
                        fileio::kShareRead, nullptr, fileio::kOpenAlways,
                        fileio::kFlagRandomAccess | fileio::kAttributeNormal, kInvalidFile,
                        nullptr, &inner))
    return false;
  const bool ok = Wrap(inner, plan, stream);
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

}  // namespace faultstream
