#pragma once
// A file stream whose nth write or read fails (Short: half moves, reported as done), size query,
// size change or flush fails. Reads count every kind: sequential, positioned and shared.

#include <algorithm>
#include <cstdint>
#include <string>

struct GrfArchive;

namespace teststream {

enum class Op : uint32_t { Write = 0, SizeQuery, Flush, Read, SizeChange };
enum class Fault : uint32_t { Fail, Short };

struct Plan {
  uint32_t nth[5] = {}, calls[5] = {}, injected = 0;  // nth: 1-based call counted from Arm; 0: never
  Fault fault[5] = {};
  bool narrow = false;  // a stream type without 64-bit positioned reads and writes
  void Arm(Op op, uint32_t n, Fault f = Fault::Fail) {
    const auto i = static_cast<uint32_t>(op);
    nth[i] = n, fault[i] = f, calls[i] = 0;
  }
  void Disarm() { std::fill(nth, nth + 5, 0u); }
};

// Opens (or creates) the file through the faulty stream; a null plan injects nothing.
GrfArchive* OpenArchive(const std::string& path, Plan* plan, uint32_t flags, uint32_t* status = nullptr, uint32_t* detail = nullptr);

}  // namespace teststream
