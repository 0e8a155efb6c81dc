#pragma once
// A job host for tests: records every call in order and answers as told.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include "engine/job_host.h"

extern thread_local int64_t t_allowed;  // failing_new.cpp: operator new left to this thread

struct HostCall {
  enum Kind { kSetProgress, kSetStatusText, kSetEstimateText, kShowError, kAskYesNo,
              kShowReport, kPlaySoundFile, kSetDropAcceptance, kReleaseDrop } kind;
  std::string text;    // the text or path, empty for the others
  uint32_t value = 0;  // percent, drop acceptance (1 on), or the answer given (1 Yes)
};

class RecordingHost : public JobHost {
 public:
  bool defaultAnswer = false;                   // what AskYesNo answers
  bool stop = false;                            // what IsStopRequested answers
  std::function<void(const HostCall&)> onCall;  // after each recorded call
  std::vector<std::string> Texts(HostCall::Kind kind) const { return Of(kind, &HostCall::text); }
  std::vector<uint32_t> Values(HostCall::Kind kind) const { return Of(kind, &HostCall::value); }
  size_t Count(HostCall::Kind kind) const { return Values(kind).size(); }
  void SetProgress(uint32_t percent) override { Record(HostCall::kSetProgress, "", percent); }
  void SetStatusText(const char* text) override { Record(HostCall::kSetStatusText, text); }
  void SetEstimateText(const char* text) override { Record(HostCall::kSetEstimateText, text); }
  void ShowError(const char* text) override { Record(HostCall::kShowError, text); }
  void ShowReport(const char* text) override { Record(HostCall::kShowReport, text); }
  void PlaySoundFile(const char* path) override { Record(HostCall::kPlaySoundFile, path); }
  void SetDropAcceptance(bool on) override { Record(HostCall::kSetDropAcceptance, "", on); }
  void ReleaseDrop() override { Record(HostCall::kReleaseDrop, ""); }
  bool IsStopRequested() override { return stop; }
  bool AskYesNo(const char* text) override {
    Record(HostCall::kAskYesNo, text, defaultAnswer);
    return defaultAnswer;
  }

 private:
  template <typename T> std::vector<T> Of(HostCall::Kind kind, T HostCall::*member) const {
    std::lock_guard lock(mutex_);
    std::vector<T> out;
    for (const HostCall& call : calls_) if (call.kind == kind) out.push_back(call.*member);
    return out;
  }
  // The host's own allocations never run out: only the job's do.
  void Record(HostCall::Kind kind, const char* text, uint32_t value = 0) {
    const int64_t allowed = std::exchange(t_allowed, -1);
    const HostCall call{kind, text, value};
    { std::lock_guard lock(mutex_); calls_.push_back(call); }
    t_allowed = allowed;
    if (onCall) onCall(call);
  }
  mutable std::mutex mutex_;
  std::vector<HostCall> calls_;
};
