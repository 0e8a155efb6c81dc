#pragma once
// A file stream with a fault plan: a chosen call of a kind fails or comes up short.
//   Read, Write   Fail: false, nothing moved; Short: half the bytes move, true
//   SizeQuery     Fail: false; Short: one byte less than the size
//   Truncate      Fail: false; Short: the size set is one byte more than asked
//   Flush         Fail and Short: false
// A size query or truncation failed by injection also fails its 32-bit
// fallback, so the caller sees one failed operation.

#include <cstdint>
#include <string>

struct GrfArchive;
struct GrfStream;

namespace teststream {

enum class Op : uint32_t { Read = 0, Write, SizeQuery, Truncate, Flush };
enum class Fault : uint32_t { Fail, Short };

struct Plan {
  uint32_t nth[5] = {};  // 1-based call counted from Arm; 0: never
  Fault fault[5] = {};
  uint32_t calls[5] = {};
  uint32_t injected = 0;
  void Arm(Op op, uint32_t n, Fault f = Fault::Fail) {
    const auto i = static_cast<uint32_t>(op);
    nth[i] = n, fault[i] = f, calls[i] = 0;
  }
  void Disarm() {
    for (uint32_t& n : nth) n = 0;
  }
};

// Opens (or creates) the file for reading and writing; a null plan injects nothing.
bool OpenFile(const std::string& path, Plan* plan, GrfStream** stream);
// OpenFile, then GrfOpenStream; the archive holds the only stream reference.
GrfArchive* OpenArchive(const std::string& path, Plan* plan, uint32_t flags, uint32_t* status = nullptr);

}  // namespace teststream
