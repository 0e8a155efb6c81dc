#include "support/zlib_pool.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#ifndef SLIMWICK_CODEC_ZLIB_ONLY
#include <libdeflate.h>
#endif

#include "support/pool.h"

namespace {

#ifndef SLIMWICK_CODEC_ZLIB_ONLY
// libdeflate's objects are reused across calls and threads: a small shelf
// of each kind under a lock, filled as calls finish and emptied at exit. Not
// thread-local: some runtimes tear a thread-local object down after its
// storage is gone. They come from the runtime heap, not the memory pool: a
// cache that outlives a job would otherwise count as a leak in its balance.
void Free(libdeflate_decompressor* item) { libdeflate_free_decompressor(item); }
void Free(libdeflate_compressor* item) { libdeflate_free_compressor(item); }
libdeflate_decompressor* Make(libdeflate_decompressor*, int) { return libdeflate_alloc_decompressor(); }
libdeflate_compressor* Make(libdeflate_compressor*, int level) { return libdeflate_alloc_compressor(level); }

template <typename T>
class Shelf {
 public:
  ~Shelf() {
    for (size_t i = 0; i < count_; ++i) Free(items_[i]);
  }
  T* Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_ ? items_[--count_] : nullptr;
  }
  void Put(T* item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (count_ < kSize) {
        items_[count_++] = item;
        return;
      }
    }
    Free(item);
  }

 private:
  static constexpr size_t kSize = 64;
  std::mutex mutex_;
  T* items_[kSize] = {};
  size_t count_ = 0;
};

Shelf<libdeflate_decompressor> g_decompressors;
Shelf<libdeflate_compressor> g_compressors[kMaxDeflateLevel + 1];

// One object from a shelf (or a new one) for the length of a call.
template <typename T>
class Lease {
 public:
  explicit Lease(Shelf<T>& shelf, int level = 0) : shelf_(shelf), item_(shelf.Take()) {
    if (!item_) item_ = Make(static_cast<T*>(nullptr), level);
  }
  ~Lease() {
    if (item_) shelf_.Put(item_);
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  T* get() const { return item_; }

 private:
  Shelf<T>& shelf_;
  T* item_;
};

// libdeflate's stream, when it fits: true with the length in *produced.
bool LibdeflateCompress(libdeflate_compressor* compressor, unsigned char* destination,
                        unsigned long capacity, const unsigned char* source,
                        unsigned long sourceLength, unsigned long* produced) {
  if (!compressor) return false;
  const size_t length = libdeflate_zlib_compress(compressor, source, sourceLength, destination, capacity);
  *produced = static_cast<unsigned long>(length);
  return length != 0;
}
#endif

void UsePool(z_stream* stream) {
  stream->zalloc = PoolZlibAlloc;
  stream->zfree = PoolZlibFree;
  stream->opaque = nullptr;
}

constexpr unsigned long kMaxChunk = UINT_MAX;

// zlib's compress2 over pool memory.
int ZlibOnlyCompress(unsigned char* destination, unsigned long* destinationLength,
                     const unsigned char* source, unsigned long sourceLength, int level) {
  z_stream stream{};
  UsePool(&stream);
  int err = deflateInit(&stream, level);
  if (err != Z_OK) return err;

  unsigned long left = *destinationLength;
  stream.next_out = destination;
  stream.avail_out = 0;
  stream.next_in = const_cast<unsigned char*>(source);
  stream.avail_in = 0;
  do {
    if (stream.avail_out == 0) {
      stream.avail_out = static_cast<uInt>(std::min(left, kMaxChunk));
      left -= stream.avail_out;
    }
    if (stream.avail_in == 0) {
      stream.avail_in = static_cast<uInt>(std::min(sourceLength, kMaxChunk));
      sourceLength -= stream.avail_in;
    }
    err = deflate(&stream, sourceLength ? Z_NO_FLUSH : Z_FINISH);
  } while (err == Z_OK);

  *destinationLength = stream.total_out;
  deflateEnd(&stream);
  return err == Z_STREAM_END ? Z_OK : err;
}

// zlib's uncompress over pool memory, reporting the consumed input.
int ZlibOnlyUncompress(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength,
                       unsigned long* consumed) {
  if (consumed) *consumed = 0;
  unsigned char spare[1];
  unsigned long left;
  if (*destinationLength) {
    left = *destinationLength;
    *destinationLength = 0;
  } else {
    left = 1;
    destination = spare;
  }

  z_stream stream{};
  UsePool(&stream);
  stream.next_in = const_cast<unsigned char*>(source);
  stream.avail_in = 0;
  int err = inflateInit(&stream);
  if (err != Z_OK) return err;

  stream.next_out = destination;
  stream.avail_out = 0;
  unsigned long pending = sourceLength;
  do {
    if (stream.avail_out == 0) {
      stream.avail_out = static_cast<uInt>(std::min(left, kMaxChunk));
      left -= stream.avail_out;
    }
    if (stream.avail_in == 0) {
      stream.avail_in = static_cast<uInt>(std::min(pending, kMaxChunk));
      pending -= stream.avail_in;
    }
    err = inflate(&stream, Z_NO_FLUSH);
  } while (err == Z_OK);

  if (destination != spare) {
    *destinationLength = stream.total_out;
  } else if (stream.total_out && err == Z_BUF_ERROR) {
    left = 1;
  }
  const unsigned availOut = stream.avail_out;
  if (consumed) *consumed = stream.total_in;
  inflateEnd(&stream);
  if (err == Z_STREAM_END) return Z_OK;
  if (err == Z_NEED_DICT) return Z_DATA_ERROR;
  if (err == Z_BUF_ERROR && left + availOut) return Z_DATA_ERROR;
  return err;
}


}  // namespace

int ZlibCompressPooled(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength, int level) {
#ifndef SLIMWICK_CODEC_ZLIB_ONLY
  // zlib's levels: the default is 6, anything else out of 0..9 is zlib's to refuse.
  const int mapped = level == Z_DEFAULT_COMPRESSION ? 6 : level;
  if (mapped >= 0 && mapped <= 9) {
    const Lease<libdeflate_compressor> compressor(g_compressors[mapped], mapped);
    // libdeflate wants room beyond its stream (a few bytes more than zlib's
    // bound for small data that does not compress): then it writes aside.
    const size_t bound =
        compressor.get() ? libdeflate_zlib_compress_bound(compressor.get(), sourceLength) : 0;
    unsigned char* aside = bound > *destinationLength
                               ? static_cast<unsigned char*>(PoolAlloc(bound))
                               : nullptr;
    unsigned long produced = 0;
    const bool packed = LibdeflateCompress(compressor.get(), aside ? aside : destination,
                                           aside ? bound : *destinationLength, source,
                                           sourceLength, &produced) &&
                        produced <= *destinationLength;
    if (packed && aside) std::memcpy(destination, aside, produced);
    if (aside) PoolFree(aside);
    if (packed) {
      *destinationLength = produced;
      return Z_OK;
    }
  }
  // Too small a buffer for libdeflate's stream (or no compressor): zlib's own
  // verdict, and its partial output, as ever.
#endif
  return ZlibOnlyCompress(destination, destinationLength, source, sourceLength, level);
}

int ZlibUncompressPooled(unsigned char* destination, unsigned long* destinationLength,
                         const unsigned char* source, unsigned long sourceLength) {
  return ZlibUncompressCounted(destination, destinationLength, source, sourceLength, nullptr);
}

int ZlibUncompressCounted(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength,
                          unsigned long* consumed) {
#ifndef SLIMWICK_CODEC_ZLIB_ONLY
  // Only a complete, valid stream that fits is taken from libdeflate. Bad
  // data (including a preset dictionary, a bad Adler-32 and a stream that
  // ends early) and output beyond the buffer go to zlib, whose verdict and
  // partial output callers know; so does a zero-capacity call.
  const Lease<libdeflate_decompressor> decompressor(g_decompressors);
  if (*destinationLength && decompressor.get()) {
    size_t in = 0;
    size_t out = 0;
    if (libdeflate_zlib_decompress_ex(decompressor.get(), source, sourceLength, destination,
                                      *destinationLength, &in, &out) == LIBDEFLATE_SUCCESS) {
      *destinationLength = static_cast<unsigned long>(out);
      if (consumed) *consumed = static_cast<unsigned long>(in);
      return Z_OK;
    }
  }
#endif
  return ZlibOnlyUncompress(destination, destinationLength, source, sourceLength, consumed);
}

int DeflateToNewBuffer(const void* data, uint32_t length, int level, uint32_t* compressedLength,
                       unsigned char** buffer) {
  *buffer = nullptr;
  *compressedLength = 0;
  if (level < kMinDeflateLevel || level > kMaxDeflateLevel) return Z_STREAM_ERROR;
  const auto* source = static_cast<const unsigned char*>(data);
#ifdef SLIMWICK_CODEC_ZLIB_ONLY
  const int zlibLevel = std::min(level, 9);
  const unsigned long capacity = compressBound(length);
#else
  const Lease<libdeflate_compressor> compressor(g_compressors[level], level);
  if (!compressor.get()) return Z_MEM_ERROR;
  const unsigned long capacity =
      static_cast<unsigned long>(std::max<size_t>(libdeflate_zlib_compress_bound(compressor.get(), length),
                                                  compressBound(length)));
#endif
  auto* out = static_cast<unsigned char*>(PoolAlloc(capacity));
  if (!out) {
    *compressedLength = static_cast<uint32_t>(capacity);
    return Z_MEM_ERROR;
  }
  unsigned long produced = capacity;
#ifdef SLIMWICK_CODEC_ZLIB_ONLY
  const int status = ZlibOnlyCompress(out, &produced, source, length, zlibLevel);
#else
  int status = Z_OK;
  if (!LibdeflateCompress(compressor.get(), out, capacity, source, length, &produced)) {
    produced = capacity;
    status = ZlibOnlyCompress(out, &produced, source, length, std::min(level, 9));
  }
#endif
  if (status != Z_OK) {
    PoolFree(out);
    return status;
  }
  *buffer = out;
  *compressedLength = static_cast<uint32_t>(produced);
  return Z_OK;
}

const char* CodecDescription() {
#ifdef SLIMWICK_CODEC_ZLIB_ONLY
  static const char text[] = "zlib " ZLIB_VERSION;
#else
  static const char text[] = "libdeflate " LIBDEFLATE_VERSION_STRING;
#endif
  return text;
}
