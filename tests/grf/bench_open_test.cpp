// Open benchmark (disabled in ordinary runs; scripts/bench-open.sh runs it):
// a 0x200 archive with many entries is written by MakeArchive, then
// OpenAndEnumerate, in a separate process, loads it, enumerates it in offset
// order and prints the times and the peak memory.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "grf/archive.h"
#include "tests/grf/grf_test_util.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

uint32_t EntriesWanted() {
  const char* text = std::getenv("SLIMWICK_BENCH_ENTRIES");
  const long value = text ? std::strtol(text, nullptr, 10) : 0;
  return value > 0 ? static_cast<uint32_t>(value) : 1000000u;
}

std::string ArchivePath() {
  const char* text = std::getenv("SLIMWICK_BENCH_ARCHIVE");
  return text ? text : fixture::TempPath("bench-open");
}

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void Put32(fixture::Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Classic header, one 8-byte stored block per entry, then the table. The
// records are in a scrambled order so the enumeration has to sort.
TEST(BenchOpen, DISABLED_MakeArchive) {
  const uint32_t count = EntriesWanted();
  fixture::Bytes table;
  table.reserve(static_cast<size_t>(count) * 56);
  char name[64];
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t block = static_cast<uint32_t>((uint64_t{i} * 2654435761u) % count);
    const int n = std::snprintf(name, sizeof(name), "data\\bench\\dir%03u\\file%07u.txt",
                                block % 500, block);
    table.insert(table.end(), name, name + n + 1);
    Put32(table, 8);                 // compressedSize
    Put32(table, 8);                 // alignedSize
    Put32(table, 8);                 // realSize
    table.push_back(0);              // stored
    Put32(table, block * 8);         // position - 46
  }
  const fixture::Bytes packed = fixture::ZlibCompress(table);
  fixture::Bytes file(46, 0);
  std::memcpy(file.data(), "Master of Magic", 16);
  const uint64_t tableAt = 46 + uint64_t{count} * 8;
  file.resize(tableAt, 'b');
  Put32(file, static_cast<uint32_t>(packed.size()));
  Put32(file, static_cast<uint32_t>(table.size()));
  file.insert(file.end(), packed.begin(), packed.end());
  fixture::Bytes header;
  Put32(header, static_cast<uint32_t>(tableAt - 46));
  Put32(header, 0);          // seed
  Put32(header, count + 7);  // count field
  Put32(header, 0x200);
  std::memcpy(file.data() + 30, header.data(), header.size());
  const std::string path = ArchivePath();
  ASSERT_TRUE(fixture::WriteBytesToFile(path, file));
  std::printf("archive            %s: %u entries, %zu bytes (table %zu -> %zu bytes)\n",
              path.c_str(), count, file.size(), table.size(), packed.size());
}

bool Count(uint32_t, uint32_t, const EntryView* view, void* user) {
  *static_cast<uint64_t*>(user) += view->realSize;
  return true;
}

TEST(BenchOpen, DISABLED_OpenAndEnumerate) {
  const std::string path = ArchivePath();
  const PoolCounters before = GetPoolCounters();
  const auto start = std::chrono::steady_clock::now();
  grftest::Opened o = grftest::OpenPath(path, GRF_OPEN_READ_ONLY);
  const double loadSeconds = Seconds(start);
  ASSERT_TRUE(o.ok) << std::hex << o.status << " " << o.detail;
  const PoolCounters loaded = GetPoolCounters();

  const auto walkStart = std::chrono::steady_clock::now();
  uint64_t total = 0;
  ASSERT_TRUE(GrfForEachEntry(o.archive, Count, &total));
  const double walkSeconds = Seconds(walkStart);
  const PoolCounters walked = GetPoolCounters();

  const auto readStart = std::chrono::steady_clock::now();
  uint8_t buffer[8];
  ASSERT_TRUE(GrfReadEntry(o.archive, "DATA\\BENCH\\DIR007\\FILE0000007.TXT", buffer, 8, nullptr));
  const double readSeconds = Seconds(readStart);
  const uint32_t entries = o.archive->entryCount;
  GrfClose(&o.archive);

  std::printf("entries            %u (%llu content bytes listed)\n", entries,
              static_cast<unsigned long long>(total));
  std::printf("load               %.3f s (open, header, one table read, inflate, parse, index)\n",
              loadSeconds);
  std::printf("enumerate          %.3f s (snapshot sorted by offset)\n", walkSeconds);
  std::printf("one read by name   %.6f s\n", readSeconds);
  std::printf("pool after load    %.1f MB in %u blocks\n", (loaded.liveBytes - before.liveBytes) / 1e6,
              loaded.liveBlocks - before.liveBlocks);
  std::printf("pool peak          %.1f MB (load peak includes the table buffers)\n",
              walked.peakLiveBytes / 1e6);
#ifndef _WIN32
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("process peak RSS   %.1f MB\n", usage.ru_maxrss / 1024.0);
#endif
}

}  // namespace
