// Write benchmark (disabled in ordinary runs; scripts/bench-write.sh runs it):
// a 0x200 archive of many small entries built with GrfPutData, then
// finalized. Prints the times and the table size; checks only that the
// result reopens whole.

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/grf/write_test_util.h"

namespace {

uint32_t EntriesWanted() {
  const char* text = std::getenv("SLIMWICK_BENCH_ENTRIES");
  const long value = text ? std::strtol(text, nullptr, 10) : 0;
  return value > 0 ? static_cast<uint32_t>(value) : 200000u;
}

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

TEST(BenchWrite, DISABLED_PutSmallEntriesAndFinalize) {
  const uint32_t count = EntriesWanted();
  grftest::TempFile file("bench-write");
  GrfArchive* ar = grftest::CreateArchive(file.path());
  ASSERT_NE(ar, nullptr);

  // Small text-like contents of 40 to 400 bytes, cut from one pool of data.
  const fixture::Bytes pool = fixture::MakeContent(1 << 20, 99);
  uint64_t rawBytes = 0;
  char name[64];
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(name, sizeof(name), "data\\bench\\dir%03u\\file%06u.txt", i % 500, i);
    const uint32_t size = 40 + (i * 7919u) % 361;
    const uint32_t at = (i * 104729u) % (static_cast<uint32_t>(pool.size()) - size);
    ASSERT_TRUE(GrfPutData(ar, name, pool.data() + at, size)) << i;
    rawBytes += size;
  }
  const double putSeconds = Seconds(start);
  const auto finalizeStart = std::chrono::steady_clock::now();
  ASSERT_TRUE(GrfFinalize(ar));
  const double finalizeSeconds = Seconds(finalizeStart);
  const uint64_t fileSize = GrfGetFileSize(ar);
  const uint64_t tableSize = ar->tableSize;
  GrfClose(&ar);

  const fixture::WrittenArchive raw = fixture::ParseWrittenArchive(file.Read());
  ASSERT_TRUE(raw.ok);
  std::printf("entries            %u (%.1f MB of content)\n", count, rawBytes / 1e6);
  std::printf("puts               %.3f s (%.0f entries/s)\n", putSeconds, count / putSeconds);
  std::printf("finalize           %.3f s\n", finalizeSeconds);
  std::printf("total              %.3f s\n", putSeconds + finalizeSeconds);
  std::printf("table              %llu bytes compressed, %u bytes uncompressed (%.1f %%)\n",
              static_cast<unsigned long long>(tableSize), raw.plainLength,
              100.0 * static_cast<double>(tableSize) / raw.plainLength);
  std::printf("archive            %llu bytes\n", static_cast<unsigned long long>(fileSize));

  grftest::Opened back = grftest::OpenPath(file.path(), GRF_OPEN_READ_ONLY);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.archive->entryCount, count);
  EXPECT_EQ(raw.records.size(), count);
  GrfClose(&back.archive);
}

}  // namespace
