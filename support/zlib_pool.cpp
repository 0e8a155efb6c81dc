#include "support/zlib_pool.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "support/pool.h"

namespace {

void UsePool(z_stream* stream) {
  stream->zalloc = PoolZlibAlloc;
  stream->zfree = PoolZlibFree;
  stream->opaque = nullptr;
}

constexpr unsigned long kMaxChunk = UINT_MAX;

}  // namespace

int ZlibCompressPooled(unsigned char* destination, unsigned long* destinationLength,
                       const unsigned char* source, unsigned long sourceLength, int level) {
  z_stream stream{};
  UsePool(&stream);
  int err = deflateInit(&stream, level);
  if (err != Z_OK) return err;

  unsigned long left = *destinationLength;
  *destinationLength = 0;
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

int ZlibUncompressPooled(unsigned char* destination, unsigned long* destinationLength,
                         const unsigned char* source, unsigned long sourceLength) {
  return ZlibUncompressCounted(destination, destinationLength, source, sourceLength, nullptr);
}

int ZlibUncompressCounted(unsigned char* destination, unsigned long* destinationLength,
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

