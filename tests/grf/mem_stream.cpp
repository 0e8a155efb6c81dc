#include "tests/grf/mem_stream.h"

#include <algorithm>
#include <cstring>

namespace grftest {
namespace {

MemFile* Mem(void* state) {
  MemFile* file = nullptr;
  std::memcpy(&file, state, sizeof(file));
  return file;
}

bool MemRead(void* state, void* buffer, uint32_t length, uint32_t* moved) {
  MemFile* f = Mem(state);
  ++f->calls;
  const uint64_t left = f->position < f->bytes.size() ? f->bytes.size() - f->position : 0;
  *moved = static_cast<uint32_t>(std::min<uint64_t>(left, length));
  if (*moved) std::memcpy(buffer, f->bytes.data() + f->position, *moved);
  f->position += *moved;
  return true;
}

bool MemWrite(void* state, const void* buffer, uint32_t length, uint32_t* moved) {
  MemFile* f = Mem(state);
  ++f->calls;
  if (f->bytes.size() < f->position + length) f->bytes.resize(f->position + length);
  if (length) std::memcpy(f->bytes.data() + f->position, buffer, length);
  f->position += length;
  *moved = length;
  return true;
}

bool MemReadAt32(void* state, uint32_t position, void* buffer, uint32_t length, uint32_t* moved) {
  Mem(state)->position = position;
  return MemRead(state, buffer, length, moved);
}

bool MemWriteAt32(void* state, uint32_t position, const void* buffer, uint32_t length,
                  uint32_t* moved) {
  Mem(state)->position = position;
  return MemWrite(state, buffer, length, moved);
}

bool MemSetSize32(void* state, uint32_t size) {
  ++Mem(state)->calls;
  Mem(state)->bytes.resize(size);
  return true;
}

bool MemGetSize32(void* state, uint32_t* size) {
  ++Mem(state)->calls;
  *size = static_cast<uint32_t>(Mem(state)->bytes.size());
  return true;
}

bool MemFlush(void*) { return true; }

void MemClose(void* state) { Mem(state)->closed = true; }

bool MemControl(void* state, uint32_t direction, uint32_t kind, void* data, uint32_t length,
                uint32_t* out) {
  if (direction == stream::kGet && kind == stream::kTypeInfo && data && length >= 12) {
    const StreamTypeInfo info{sizeof(MemFile*), sizeof(MemFile*), 0};
    std::memcpy(data, &info, sizeof(info));
    if (out) *out = sizeof(info);
    return true;
  }
  if (state && direction == stream::kSet && kind == stream::kHandle && data &&
      length == sizeof(MemFile*)) {
    std::memcpy(state, data, sizeof(MemFile*));
    return true;
  }
  return false;
}

const GrfStreamOps kMemOps = {MemClose,     MemRead,      MemWrite,     MemReadAt32,
                              MemWriteAt32, MemSetSize32, MemGetSize32, MemFlush,
                              MemControl,   nullptr,      nullptr};

}  // namespace

const GrfStreamOps* MemStreamOps() { return &kMemOps; }

bool MemStreamCreate(MemFile* file, GrfStream** stream) {
  static const bool registered = StreamRegisterType(kMemStreamTag, &kMemOps);
  if (!registered) return false;
  return StreamCreate(kMemStreamTag, &file, sizeof(file), stream);
}

}  // namespace grftest
