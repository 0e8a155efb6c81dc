#pragma once
// The test stream type: memory or file backing, and an optional plan that
// makes a chosen call of a kind fail or come up short.
//
//   teststream::Plan plan;
//   GrfStream* stream = nullptr;
//   teststream::OpenFile(path, &plan, &stream);     // or OpenMemory(&memory, &plan, &stream)
//   plan.Arm(teststream::Op::Write, 3);             // the 3rd write from now fails
//   ... GrfOpenStream(stream, ...) ...
//
// Operation kinds and what a fault does to them:
//   Read      read, readAt32, readAt64    Fail: false, nothing moved
//                                         Short: half the bytes move, true
//   Write     write, writeAt32, writeAt64 (same as Read)
//   SizeQuery control get size, getSize32 Fail: false
//                                         Short: one byte less than the size, true
//   Truncate  control set size, setSize32 Fail: false, size unchanged
//                                         Short: the size set is one byte more than asked, true
//   Flush     flush                       Fail and Short: false
// A size query or truncation that the control call failed by injection also
// fails its 32-bit fallback, so the caller sees one failed operation.
// Memory streams have only the 32-bit slots and no size control, so the
// library's fallbacks run on them.

#include <cstdint>
#include <string>

#include "tests/fixtures/archive_builder.h"

struct GrfArchive;
struct GrfStream;

namespace teststream {

enum class Op : uint32_t { Read = 0, Write, SizeQuery, Truncate, Flush };
constexpr uint32_t kOpCount = 5;

enum class Fault : uint32_t { Fail, Short };

struct Rule {
  uint32_t nth = 0;  // 1-based call number counted from Arm; 0: never
  Fault fault = Fault::Fail;
  bool repeat = false;  // every call from the nth on
};

// Lives as long as the stream; the stream reads and updates it.
struct Plan {
  Rule rules[kOpCount];
  uint32_t calls[kOpCount] = {};  // counted since the last Arm of that kind
  uint32_t injected = 0;          // faults delivered so far

  void Arm(Op op, uint32_t nth, Fault fault = Fault::Fail, bool repeat = false) {
    rules[static_cast<uint32_t>(op)] = Rule{nth, fault, repeat};
    calls[static_cast<uint32_t>(op)] = 0;
  }
  void Disarm() {
    for (uint32_t i = 0; i < kOpCount; ++i) {
      rules[i] = Rule{};
      calls[i] = 0;
    }
  }
};

// Memory backing; lives as long as the stream.
struct Memory {
  fixture::Bytes bytes;
  uint64_t position = 0;
  int calls = 0;  // transfers and size operations that reached the bytes
  bool closed = false;
};

// Null plan: no faults.
bool OpenMemory(Memory* memory, Plan* plan, GrfStream** stream);
// Opens (or creates) a file for reading and writing, as an archive opened
// for writing does.
bool OpenFile(const std::string& path, Plan* plan, GrfStream** stream);

// OpenFile, then GrfOpenStream with the flags; the archive holds the only
// stream reference. Null on failure (*status, if given, says why).
GrfArchive* OpenArchive(const std::string& path, Plan* plan, uint32_t flags,
                        uint32_t* status = nullptr);

}  // namespace teststream
