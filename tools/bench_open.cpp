// Open benchmark (scripts/bench-open.sh): "make PATH ENTRIES" writes a 0x200
// archive with many entries; "open PATH", run in a separate process, loads it,
// enumerates it in offset order and prints the times and the peak memory.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "grf/grf.h"
#include "support/pool.h"
#include "tests/fixtures/archive_builder.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void Put32(fixture::Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Classic header, one 8-byte stored block per entry, then the table. The
// records are in a scrambled order so the enumeration has to sort.
int MakeArchive(const char* path, uint32_t count) {
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
  if (!fixture::WriteBytesToFile(path, file)) {
    std::fprintf(stderr, "cannot write %s\n", path);
    return 1;
  }
  std::printf("archive            %s: %u entries, %zu bytes (table %zu -> %zu bytes)\n", path,
              count, file.size(), table.size(), packed.size());
  return 0;
}

struct Listed {
  uint64_t bytes = 0;
  uint32_t entries = 0;
};

bool Count(uint32_t, uint32_t, const EntryView* view, void* user) {
  auto* listed = static_cast<Listed*>(user);
  listed->bytes += view->realSize;
  ++listed->entries;
  return true;
}

int OpenAndEnumerate(const char* path) {
  const PoolCounters before = GetPoolCounters();
  const auto start = std::chrono::steady_clock::now();
  GrfArchive* archive = nullptr;
  uint32_t status = 0, detail = 0;
  if (!GrfOpenFile(path, GRF_OPEN_READ_ONLY, &status, &detail, &archive)) {
    std::fprintf(stderr, "open failed: status %x detail %x\n", status, detail);
    return 1;
  }
  const double loadSeconds = Seconds(start);
  const PoolCounters loaded = GetPoolCounters();

  const auto walkStart = std::chrono::steady_clock::now();
  Listed listed;
  const bool walked = GrfForEachEntry(archive, Count, &listed);
  const double walkSeconds = Seconds(walkStart);
  const PoolCounters afterWalk = GetPoolCounters();

  const auto readStart = std::chrono::steady_clock::now();
  uint8_t buffer[8];
  const bool read = GrfReadEntry(archive, "DATA\\BENCH\\DIR007\\FILE0000007.TXT", buffer, 8, nullptr);
  const double readSeconds = Seconds(readStart);
  GrfClose(&archive);
  if (!walked || !read) {
    std::fprintf(stderr, "enumeration or read failed\n");
    return 1;
  }

  std::printf("entries            %u (%llu content bytes listed)\n", listed.entries,
              static_cast<unsigned long long>(listed.bytes));
  std::printf("load               %.3f s (open, header, one table read, inflate, parse, index)\n",
              loadSeconds);
  std::printf("enumerate          %.3f s (snapshot sorted by offset)\n", walkSeconds);
  std::printf("one read by name   %.6f s\n", readSeconds);
  std::printf("pool after load    %.1f MB in %u blocks\n", (loaded.liveBytes - before.liveBytes) / 1e6,
              loaded.liveBlocks - before.liveBlocks);
  std::printf("pool peak          %.1f MB (load peak includes the table buffers)\n",
              afterWalk.peakLiveBytes / 1e6);
#ifndef _WIN32
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("process peak RSS   %.1f MB\n", usage.ru_maxrss / 1024.0);
#endif
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
    const long count = std::strtol(argv[3], nullptr, 10);
    if (count > 0) return MakeArchive(argv[2], static_cast<uint32_t>(count));
  } else if (argc == 3 && std::strcmp(argv[1], "open") == 0) {
    return OpenAndEnumerate(argv[2]);
  }
  std::fprintf(stderr, "usage: bench-open make ARCHIVE ENTRIES | bench-open open ARCHIVE\n");
  return 2;
}
