// Write benchmark (scripts/bench-write.sh): a 0x200 archive of many small
// entries built with GrfPutData, then finalized. Prints the times and the
// table size; checks only that the result reopens whole.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "grf/grf.h"
#include "tests/fixtures/archive_builder.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

int Fail(const char* what) {
  std::fprintf(stderr, "%s failed\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const long wanted = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 200000;
  if (argc < 2 || wanted <= 0) {
    std::fprintf(stderr, "usage: bench-write ARCHIVE [ENTRIES]\n");
    return 2;
  }
  const char* path = argv[1];
  const uint32_t count = static_cast<uint32_t>(wanted);
  if (!fixture::WriteBytesToFile(path, {})) return Fail("creating the archive");
  GrfArchive* ar = nullptr;
  uint32_t status = 0;
  if (!GrfOpen(path, 0, &status, &ar)) return Fail("opening the archive");

  // Small text-like contents of 40 to 400 bytes, cut from one pool of data.
  const fixture::Bytes pool = fixture::MakeContent(1 << 20, 99);
  uint64_t rawBytes = 0;
  char name[64];
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(name, sizeof(name), "data\\bench\\dir%03u\\file%06u.txt", i % 500, i);
    const uint32_t size = 40 + (i * 7919u) % 361;
    const uint32_t at = (i * 104729u) % (static_cast<uint32_t>(pool.size()) - size);
    if (!GrfPutData(ar, name, pool.data() + at, size)) {
      GrfClose(&ar);
      return Fail("a put");
    }
    rawBytes += size;
  }
  const double putSeconds = Seconds(start);
  const auto finalizeStart = std::chrono::steady_clock::now();
  const bool finalized = GrfFinalize(ar);
  const double finalizeSeconds = Seconds(finalizeStart);
  const uint64_t fileSize = GrfGetFileSize(ar);
  GrfClose(&ar);
  if (!finalized) return Fail("the finalize");

  fixture::Bytes bytes;
  fixture::ReadBytesFromFile(path, &bytes);
  const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(bytes);
  if (!raw.ok || raw.records.size() != count) return Fail("reading the written table back");
  const uint64_t tableSize = raw.compressedLength;
  std::printf("entries            %u (%.1f MB of content)\n", count, rawBytes / 1e6);
  std::printf("puts               %.3f s (%.0f entries/s)\n", putSeconds, count / putSeconds);
  std::printf("finalize           %.3f s\n", finalizeSeconds);
  std::printf("total              %.3f s\n", putSeconds + finalizeSeconds);
  std::printf("table              %llu bytes compressed, %u bytes uncompressed (%.1f %%)\n",
              static_cast<unsigned long long>(tableSize), raw.plainLength,
              100.0 * static_cast<double>(tableSize) / raw.plainLength);
  std::printf("archive            %llu bytes\n", static_cast<unsigned long long>(fileSize));

  if (!GrfOpenFile(path, GRF_OPEN_READ_ONLY, &status, nullptr, &ar)) return Fail("reopening");
  GrfClose(&ar);
  return 0;
}
