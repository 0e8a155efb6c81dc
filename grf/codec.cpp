// The built-in codec hooks (zlib compress/uncompress semantics over pool
// memory) and decompression through an archive's uncompress hook.

#include "grf/codec.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "grf/archive.h"
#include "grf/format.h"
#include "support/pool.h"

namespace {

void UsePool(z_stream* stream) {
  stream->zalloc = PoolZlibAlloc;
  stream->zfree = PoolZlibFree;
  stream->opaque = nullptr;
}

constexpr unsigned long kMaxChunk = UINT_MAX;

}  // namespace

int DefaultCompressHook(unsigned char* destination, unsigned long* destinationLength,
                        const unsigned char* source, unsigned long sourceLength) {
  z_stream stream{};
  UsePool(&stream);
  int err = deflateInit(&stream, Z_DEFAULT_COMPRESSION);
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

int DefaultUncompressHook(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength) {
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
  inflateEnd(&stream);
  if (err == Z_STREAM_END) return Z_OK;
  if (err == Z_NEED_DICT) return Z_DATA_ERROR;
  if (err == Z_BUF_ERROR && left + availOut) return Z_DATA_ERROR;
  return err;
}

unsigned char* InflateTable(GrfArchive* archive, const unsigned char* source,
                            uint32_t sourceLength, uint32_t expectedLength) {
  auto* output = static_cast<unsigned char*>(PoolAlloc(std::max<uint32_t>(expectedLength, 1)));
  if (!output) {
    FailDetail(archive, GRF_E_OUT_OF_MEMORY, grf::detail::kInflateAlloc);
    return nullptr;
  }
  unsigned long produced = expectedLength;
  const int result = archive->uncompressHook(output, &produced, source, sourceLength);
  if (result == 0 && produced == expectedLength) return output;
  PoolFree(output);
  if (result == Z_MEM_ERROR) {
    FailDetail(archive, GRF_E_OUT_OF_MEMORY, grf::detail::kInflate);
  } else if (result == Z_ERRNO) {
    FailDetail(archive, GRF_E_CODEC_IO, grf::detail::kInflate);
  } else {
    FailDetail(archive, GRF_E_BAD_DATA, grf::detail::kInflate);
  }
  return nullptr;
}
