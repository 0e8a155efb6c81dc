#include "tests/grf/test_stream.h"

#include <algorithm>
#include <cstring>

#include "grf/grf.h"
#include "grf/stream.h"

namespace teststream {
namespace {

constexpr uint32_t kFileTag = 0x544C4146;    // "FALT"
constexpr uint32_t kMemoryTag = 0x314D454D;  // "MEM1"

struct Creation {
  GrfStream* inner;  // file backing, or
  Memory* memory;    // memory backing
  Plan* plan;
};

struct State {
  Creation backing;
  bool sizeDenied;      // the control size query was failed by injection
  bool truncateDenied;  // likewise the control truncation
};

State* AsState(void* state) { return static_cast<State*>(state); }

// Counts the call and answers the fault to deliver, if any.
bool Hit(State* s, Op op, Fault* fault) {
  Plan* plan = s->backing.plan;
  if (!plan) return false;
  const auto i = static_cast<uint32_t>(op);
  const Rule& rule = plan->rules[i];
  const uint32_t n = ++plan->calls[i];
  if (rule.nth == 0 || n < rule.nth || (n > rule.nth && !rule.repeat)) return false;
  *fault = rule.fault;
  ++plan->injected;
  return true;
}

// ---- the backings ----

bool Transfer(State* s, bool write, uint64_t position, void* buffer, uint32_t length,
              uint32_t* moved) {
  if (s->backing.inner) {
    return write ? StreamWriteAt(s->backing.inner, position, buffer, length, moved)
                 : StreamReadAt(s->backing.inner, position, buffer, length, moved);
  }
  Memory* m = s->backing.memory;
  ++m->calls;
  fixture::Bytes& bytes = m->bytes;
  if (write) {
    if (bytes.size() < position + length) bytes.resize(position + length);
    if (length) std::memcpy(bytes.data() + position, buffer, length);
    *moved = length;
  } else {
    const uint64_t left = position < bytes.size() ? bytes.size() - position : 0;
    *moved = static_cast<uint32_t>(std::min<uint64_t>(left, length));
    if (*moved) std::memcpy(buffer, bytes.data() + position, *moved);
  }
  m->position = position + *moved;
  return true;
}

bool BackingSize(State* s, uint64_t* size) {
  if (s->backing.inner) return StreamGetSize(s->backing.inner, size);
  ++s->backing.memory->calls;
  *size = s->backing.memory->bytes.size();
  return true;
}

bool SetBackingSize(State* s, uint64_t size) {
  if (s->backing.inner) return StreamSetSize(s->backing.inner, size);
  ++s->backing.memory->calls;
  s->backing.memory->bytes.resize(size);
  return true;
}

// ---- the faults ----

bool FaultyTransfer(void* state, bool write, uint64_t position, void* buffer, uint32_t length,
                    uint32_t* moved) {
  State* s = AsState(state);
  *moved = 0;
  Fault fault{};
  if (Hit(s, write ? Op::Write : Op::Read, &fault)) {
    if (fault == Fault::Fail) return false;
    length /= 2;
  }
  return Transfer(s, write, position, buffer, length, moved);
}

uint64_t Current(void* state) {
  State* s = AsState(state);
  return s->backing.memory ? s->backing.memory->position : 0;
}

bool Read(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  State* s = AsState(state);
  if (s->backing.inner) {
    Fault fault{};
    *moved = 0;
    if (Hit(s, Op::Read, &fault)) {
      if (fault == Fault::Fail) return false;
      length /= 2;
    }
    return StreamRead(s->backing.inner, buffer, length, moved);
  }
  return FaultyTransfer(state, false, Current(state), buffer, length, moved);
}

bool Write(void* state, const void* buffer, uint32_t length, uint32_t* moved) {
  State* s = AsState(state);
  if (s->backing.inner) {
    Fault fault{};
    *moved = 0;
    if (Hit(s, Op::Write, &fault)) {
      if (fault == Fault::Fail) return false;
      length /= 2;
    }
    return StreamWrite(s->backing.inner, buffer, length, moved);
  }
  return FaultyTransfer(state, true, Current(state), const_cast<void*>(buffer), length, moved);
}

bool ReadAt64(void* state, uint32_t low, uint32_t high, void* buffer, uint32_t length,
              uint32_t* moved) {
  return FaultyTransfer(state, false, (uint64_t{high} << 32) | low, buffer, length, moved);
}

bool WriteAt64(void* state, uint32_t low, uint32_t high, const void* buffer, uint32_t length,
               uint32_t* moved) {
  return FaultyTransfer(state, true, (uint64_t{high} << 32) | low, const_cast<void*>(buffer),
                        length, moved);
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
    if (fault == Fault::Fail || !BackingSize(s, size)) return false;
    if (*size > 0) --*size;
    return true;
  }
  return BackingSize(s, size);
}

bool Truncate(State* s, uint64_t size) {
  Fault fault{};
  if (Hit(s, Op::Truncate, &fault)) {
    if (fault == Fault::Fail) return false;
    return SetBackingSize(s, size + 1);
  }
  return SetBackingSize(s, size);
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

bool Flush(void* state) {
  State* s = AsState(state);
  Fault fault{};
  if (Hit(s, Op::Flush, &fault)) return false;
  return !s->backing.inner || StreamFlush(s->backing.inner);
}

void Close(void* state) {
  State* s = AsState(state);
  if (s->backing.memory) s->backing.memory->closed = true;
  StreamRelease(&s->backing.inner);
}

// Type information, the creation data, and (file backing only) the 64-bit size.
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
    std::memcpy(&s->backing, data, sizeof(Creation));
    if (s->backing.inner) StreamRetain(s->backing.inner, nullptr);
    return true;
  }
  if (kind != stream::kSize || !s->backing.inner || !data || dataLength < sizeof(uint64_t))
    return false;
  uint64_t size = 0;
  if (direction == stream::kSet) {
    std::memcpy(&size, data, sizeof(size));
    s->truncateDenied = !Truncate(s, size);
    return !s->truncateDenied;
  }
  if (!QuerySize(s, &size)) {
    s->sizeDenied = true;
    return false;
  }
  std::memcpy(data, &size, sizeof(size));
  if (lengthOut) *lengthOut = sizeof(size);
  return true;
}

constexpr GrfStreamOps kFileOps = {Close,     Read,  Write,   ReadAt32, WriteAt32, SetSize32,
                                   GetSize32, Flush, Control, ReadAt64, WriteAt64};
constexpr GrfStreamOps kMemoryOps = {Close,     Read,  Write,   ReadAt32, WriteAt32, SetSize32,
                                     GetSize32, Flush, Control, nullptr,  nullptr};

const bool g_registered =
    StreamRegisterType(kFileTag, &kFileOps) && StreamRegisterType(kMemoryTag, &kMemoryOps);

}  // namespace

bool OpenMemory(Memory* memory, Plan* plan, GrfStream** stream) {
  *stream = nullptr;
  Creation creation{nullptr, memory, plan};
  return g_registered && StreamCreate(kMemoryTag, &creation, sizeof(creation), stream);
}

bool OpenFile(const std::string& path, Plan* plan, GrfStream** stream) {
  *stream = nullptr;
  GrfStream* inner = nullptr;
  if (!g_registered ||
      !FileStreamCreate(path.c_str(), fileio::kGenericRead | fileio::kGenericWrite,
                        fileio::kShareRead, nullptr, fileio::kOpenAlways,
                        fileio::kFlagRandomAccess | fileio::kAttributeNormal, kInvalidFile,
                        nullptr, &inner))
    return false;
  Creation creation{inner, nullptr, plan};
  const bool ok = StreamCreate(kFileTag, &creation, sizeof(creation), stream);
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
