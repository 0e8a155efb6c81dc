#pragma once
// A stream type for tests that passes every call to an inner stream and can
// make a chosen call of a kind fail or come up short.
//
//   faultstream::Plan plan;
//   GrfStream* stream = nullptr;
//   faultstream::OpenFile(path, &plan, &stream);      // or Wrap(inner, &plan, &stream)
//   plan.Arm(faultstream::Op::Write, 3);              // the 3rd write from now fails
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
//
// The type is registered once, at static initialization (the registry holds
// four types; every test that needs injected faults shares this one).

#include <cstdint>
#include <string>

struct GrfArchive;
struct GrfStream;

namespace faultstream {

constexpr uint32_t kTag = 0x544C4146;  // "FALT"

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
  uint32_t Calls(Op op) const { return calls[static_cast<uint32_t>(op)]; }
};

bool Registered();

// A fault stream over `inner`, which it retains. Null plan: a plain pass-through.
bool Wrap(GrfStream* inner, Plan* plan, GrfStream** stream);

// Opens (or creates) a file for reading and writing, as an archive opened for
// writing does, and wraps it.
bool OpenFile(const std::string& path, Plan* plan, GrfStream** stream);

// OpenFile, then GrfOpenStream with the flags; the archive holds the only
// stream reference. Null on failure (*status, if given, says why).
GrfArchive* OpenArchive(const std::string& path, Plan* plan, uint32_t flags,
                        uint32_t* status = nullptr);

}  // namespace faultstream
