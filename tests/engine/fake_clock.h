#pragma once
// Clock sources for tests: time moves only when the test advances it.
//
// While a FakeClock exists it is the engine's clock. Advancing it moves the
// tick counter (wrapping at 32 bits), the system time and the local time
// together.

#include <cstdint>

#include "support/clock.h"

class FakeClock {
 public:
  // Friday, 2024-05-17 14:03:09.000 local time.
  static constexpr LocalTime kDefaultStart = {2024, 5, 5, 17, 14, 3, 9, 0};

  explicit FakeClock(LocalTime start = kDefaultStart, uint32_t tick = 1000,
                     uint64_t systemTime = 133604281890000000ull)
      : tick_(tick), systemTime_(systemTime) {
    EncodeCalendarTime(start, &local_);
    current_ = this;
    previous_ = SetClockSources({ReadSystem, ReadTick, ReadLocal});
  }
  ~FakeClock() {
    SetClockSources(previous_);
    current_ = nullptr;
  }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  void Advance(uint64_t milliseconds) {
    tick_ += static_cast<uint32_t>(milliseconds);
    systemTime_ += milliseconds * kHundredNsPerMillisecond;
    local_ += milliseconds * kHundredNsPerMillisecond;
  }
  // Sets the system time alone (a clock set back or forward).
  void SetSystemTime(uint64_t systemTime) { systemTime_ = systemTime; }

  uint32_t tick() const { return tick_; }
  uint64_t systemTime() const { return systemTime_; }
  LocalTime local() const {
    LocalTime time{};
    DecodeCalendarTime(local_, &time);
    return time;
  }
  uint64_t localCount() const { return local_; }

 private:
  static uint64_t ReadSystem() { return current_->systemTime_; }
  static uint32_t ReadTick() { return current_->tick_; }
  static void ReadLocal(LocalTime* time) { DecodeCalendarTime(current_->local_, time); }

  static inline FakeClock* current_ = nullptr;
  uint32_t tick_;
  uint64_t systemTime_;
  uint64_t local_ = 0;
  ClockSources previous_{};
};
