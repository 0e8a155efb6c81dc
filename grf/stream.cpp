#include "grf/stream.h"

#include "support/diag.h"
#include "support/pool.h"

namespace {

struct RegisteredType {
  uint32_t tag;
  const GrfStreamOps* ops;
};

// Constant-initialized, so registrations from other static initializers work
// whatever the order of initialization.
RegisteredType g_types[stream::kMaxTypes] = {};
uint32_t g_typeCount = 0;

// The operations registered under a tag, or null.
const GrfStreamOps* StreamFindType(uint32_t tag) {
  for (uint32_t i = 0; i < g_typeCount; ++i) {
    if (g_types[i].tag == tag) return g_types[i].ops;
  }
  return nullptr;
}

}  // namespace

bool StreamRegisterType(uint32_t tag, const GrfStreamOps* ops) {
  if (!ops || g_typeCount >= stream::kMaxTypes || StreamFindType(tag)) return false;
  g_types[g_typeCount++] = {tag, ops};
  return true;
}

bool StreamCreate(uint32_t tag, const void* data, uint32_t dataLength, GrfStream** stream) {
  *stream = nullptr;
  const GrfStreamOps* ops = StreamFindType(tag);
  SLIM_FATAL_ASSERT(ops != nullptr);

  StreamTypeInfo info{};
  uint32_t produced = 0;
  if (!ops->control(nullptr, stream::kGet, stream::kTypeInfo, &info, sizeof(info), &produced) ||
      produced != sizeof(info))
    return false;
  const bool hasData = data != nullptr;
  const bool wantsData = (info.capabilities & stream::kCapNoCreationData) == 0;
  SLIM_FATAL_ASSERT(hasData == wantsData);
  if (hasData && dataLength != info.creationDataSize) return false;

  auto* object =
      static_cast<GrfStream*>(PoolAllocZeroed(sizeof(GrfStream) + info.stateSize));
  if (!object) return false;
  if (hasData && !ops->control(StreamState(object), stream::kSet, stream::kHandle,
                               const_cast<void*>(data), dataLength, nullptr)) {
    PoolFree(object);
    return false;
  }
  object->typeTag = tag;
  object->refCount = 1;
  object->ops = ops;
  *stream = object;
  return true;
}

void StreamRetain(GrfStream* stream, GrfStream** out) {
  SLIM_FATAL_ASSERT(stream->refCount != 0);
  ++stream->refCount;
  SLIM_FATAL_ASSERT(stream->refCount != 0);
  if (out) *out = stream;
}

void StreamRelease(GrfStream** variable) {
  GrfStream* stream = *variable;
  *variable = nullptr;
  if (!stream) return;
  SLIM_FATAL_ASSERT(stream->refCount != 0);
  if (--stream->refCount != 0) return;
  stream->ops->close(StreamState(stream));
  PoolFree(stream);
}

bool StreamRead(GrfStream* stream, void* buffer, uint32_t length, uint32_t* moved) {
  return stream->ops->read(StreamState(stream), buffer, length, moved);
}

bool StreamWrite(GrfStream* stream, const void* buffer, uint32_t length, uint32_t* moved) {
  return stream->ops->write(StreamState(stream), buffer, length, moved);
}

bool StreamFlush(GrfStream* stream) { return stream->ops->flush(StreamState(stream)); }

bool StreamReadAt(GrfStream* stream, uint64_t position, void* buffer, uint32_t length,
                  uint32_t* moved) {
  const auto low = static_cast<uint32_t>(position);
  const auto high = static_cast<uint32_t>(position >> 32);
  if (stream->ops->readAt64)
    return stream->ops->readAt64(StreamState(stream), low, high, buffer, length, moved);
  if (high != 0) return false;
  return stream->ops->readAt32(StreamState(stream), low, buffer, length, moved);
}

bool StreamWriteAt(GrfStream* stream, uint64_t position, const void* buffer, uint32_t length,
                   uint32_t* moved) {
  const auto low = static_cast<uint32_t>(position);
  const auto high = static_cast<uint32_t>(position >> 32);
  if (stream->ops->writeAt64)
    return stream->ops->writeAt64(StreamState(stream), low, high, buffer, length, moved);
  if (high != 0) return false;
  return stream->ops->writeAt32(StreamState(stream), low, buffer, length, moved);
}

bool StreamGetSize(GrfStream* stream, uint64_t* size) {
  uint64_t value = 0;
  uint32_t produced = 0;
  if (stream->ops->control(StreamState(stream), stream::kGet, stream::kSize, &value,
                           sizeof(value), &produced) && produced == sizeof(value)) {
    *size = value;
    return true;
  }
  uint32_t low = 0;
  if (!stream->ops->getSize32(StreamState(stream), &low)) return false;
  *size = low;
  return true;
}

bool StreamSetSize(GrfStream* stream, uint64_t size) {
  uint64_t value = size;
  if (stream->ops->control(StreamState(stream), stream::kSet, stream::kSize, &value,
                           sizeof(value), nullptr))
    return true;
  if ((size >> 32) != 0) return false;
  return stream->ops->setSize32(StreamState(stream), static_cast<uint32_t>(size));
}

bool StreamReadExact(GrfStream* stream, void* buffer, uint32_t length) {
  uint32_t moved = 0;
  return StreamRead(stream, buffer, length, &moved) && moved == length;
}

bool StreamWriteExact(GrfStream* stream, const void* buffer, uint32_t length) {
  uint32_t moved = 0;
  return StreamWrite(stream, buffer, length, &moved) && moved == length;
}

bool StreamReadAtExact(GrfStream* stream, uint64_t position, void* buffer, uint32_t length) {
  uint32_t moved = 0;
  return StreamReadAt(stream, position, buffer, length, &moved) && moved == length;
}

bool StreamWriteAtExact(GrfStream* stream, uint64_t position, const void* buffer,
                        uint32_t length) {
  uint32_t moved = 0;
  return StreamWriteAt(stream, position, buffer, length, &moved) && moved == length;
}

bool StreamReadSharedExact(const GrfStream* stream, uint64_t position, void* buffer,
                           uint32_t length) {
  uint32_t moved = 0;
  return stream->ops->readShared &&
         stream->ops->readShared(StreamState(stream), position, buffer, length, &moved) &&
         moved == length;
}
