// The built-in codec hooks (zlib compress/uncompress semantics over pool
// memory) and decompression through an archive's uncompress hook.

#include "grf/codec.h"

#include <zlib.h>

#include <algorithm>

#include "grf/archive.h"
#include "grf/format.h"
#include "support/pool.h"
#include "support/zlib_pool.h"

int DefaultCompressHook(unsigned char* destination, unsigned long* destinationLength,
                        const unsigned char* source, unsigned long sourceLength) {
  return ZlibCompressPooled(destination, destinationLength, source, sourceLength,
                            Z_DEFAULT_COMPRESSION);
}

int DefaultUncompressHook(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength) {
  return ZlibUncompressPooled(destination, destinationLength, source, sourceLength);
}

unsigned char* InflateTable(GrfArchive* archive, const unsigned char* source,
                            uint32_t sourceLength, uint32_t expectedLength) {
  auto* output = static_cast<unsigned char*>(PoolAlloc(std::max<uint32_t>(expectedLength, 1)));
  if (!output) {
    FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_INFLATE_ALLOC);
    return nullptr;
  }
  unsigned long produced = expectedLength;
  const int result = archive->uncompressHook(output, &produced, source, sourceLength);
  if (result == 0 && produced == expectedLength) return output;
  PoolFree(output);
  if (result == Z_MEM_ERROR) {
    FailDetail(archive, GRF_E_OUT_OF_MEMORY, GRF_DETAIL_INFLATE);
  } else if (result == Z_ERRNO) {
    FailDetail(archive, GRF_E_CODEC_IO, GRF_DETAIL_INFLATE);
  } else {
    FailDetail(archive, GRF_E_BAD_DATA, GRF_DETAIL_INFLATE);
  }
  return nullptr;
}
