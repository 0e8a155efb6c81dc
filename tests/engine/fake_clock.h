#pragma once
// While a FakeClock exists it is the engine's clock; time moves only when the test says.

#include <cstdint>
#include "support/clock.h"

class FakeClock {
 public:
  static constexpr LocalTime kDefaultStart = {2024, 5, 5, 17, 14, 3, 9, 0};  // a Friday
  explicit FakeClock(LocalTime start = kDefaultStart, uint32_t tick = 1000) : tick_(tick) {
    EncodeCalendarTime(start, &local_);
    current_ = this;
    previous_ = SetClockSources({ReadSystem, ReadTick, ReadLocal});
  }
  ~FakeClock() { SetClockSources(previous_); }
  void Advance(uint64_t milliseconds) {
    tick_ += static_cast<uint32_t>(milliseconds);
    local_ += milliseconds * kHundredNsPerMillisecond;
  }
  uint64_t localCount() const { return local_; }

 private:
  static uint64_t ReadSystem() { return current_->local_; }
  static uint32_t ReadTick() { return current_->tick_; }
  static void ReadLocal(LocalTime* time) { DecodeCalendarTime(current_->local_, time); }
  static inline FakeClock* current_ = nullptr;
  uint32_t tick_;
  uint64_t local_ = 0;
  ClockSources previous_{};
};
