#pragma once
// A job host for tests: records every call in order and answers from a script.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/job_host.h"

struct HostCall {
  enum Kind {
    kSetProgress,
    kSetStatusText,
    kSetEstimateText,
    kShowError,
    kAskYesNo,
    kShowReport,
    kPlaySoundFile,
    kSetDropAcceptance,
    kReleaseDrop,
  };
  Kind kind;
  std::string text;    // the text or path, empty for the others
  uint32_t value = 0;  // percent, drop acceptance (1 on), or the answer given (1 Yes)
};

class RecordingHost : public JobHost {
 public:
  // Answers for the coming questions, in order; when they run out,
  // defaultAnswer is given.
  void QueueAnswers(std::initializer_list<bool> answers) {
    std::lock_guard lock(mutex_);
    answers_.insert(answers_.end(), answers);
  }
  bool defaultAnswer = false;

  // Makes IsStopRequested true from the given check on (1 = the first check).
  void RequestStopAtCheck(uint32_t check) {
    std::lock_guard lock(mutex_);
    stopAtCheck_ = check;
  }
  // Makes the next check, and every later one, answer true.
  void RequestStop() {
    std::lock_guard lock(mutex_);
    stopAtCheck_ = stopChecks_ + 1;
  }

  // Called after each recorded call. IsStopRequested is counted, not
  // recorded (see StopChecks).
  std::function<void(const HostCall&)> onCall;

  std::vector<HostCall> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> Texts(HostCall::Kind kind) const {
    std::vector<std::string> texts;
    for (const HostCall& call : Calls()) {
      if (call.kind == kind) texts.push_back(call.text);
    }
    return texts;
  }
  std::vector<uint32_t> Values(HostCall::Kind kind) const {
    std::vector<uint32_t> values;
    for (const HostCall& call : Calls()) {
      if (call.kind == kind) values.push_back(call.value);
    }
    return values;
  }
  size_t Count(HostCall::Kind kind) const { return Values(kind).size(); }
  // IsStopRequested calls are counted rather than recorded.
  uint32_t StopChecks() const {
    std::lock_guard lock(mutex_);
    return stopChecks_;
  }

  void SetProgress(uint32_t percent) override { Record({HostCall::kSetProgress, {}, percent}); }
  void SetStatusText(const char* text) override { Record({HostCall::kSetStatusText, text, 0}); }
  void SetEstimateText(const char* text) override { Record({HostCall::kSetEstimateText, text, 0}); }
  void ShowError(const char* text) override { Record({HostCall::kShowError, text, 0}); }
  bool AskYesNo(const char* text) override {
    bool answer = defaultAnswer;
    {
      std::lock_guard lock(mutex_);
      if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
      }
    }
    Record({HostCall::kAskYesNo, text, answer ? 1u : 0u});
    return answer;
  }
  void ShowReport(const char* text) override { Record({HostCall::kShowReport, text, 0}); }
  void PlaySoundFile(const char* path) override { Record({HostCall::kPlaySoundFile, path, 0}); }
  void SetDropAcceptance(bool accept) override {
    Record({HostCall::kSetDropAcceptance, {}, accept ? 1u : 0u});
  }
  void ReleaseDrop() override { Record({HostCall::kReleaseDrop, {}, 0}); }
  bool IsStopRequested() override {
    std::lock_guard lock(mutex_);
    ++stopChecks_;
    return stopAtCheck_ != 0 && stopChecks_ >= stopAtCheck_;
  }

 private:
  void Record(HostCall call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(call);
    }
    if (onCall) onCall(call);
  }

  mutable std::mutex mutex_;
  std::vector<HostCall> calls_;
  std::deque<bool> answers_;
  uint32_t stopChecks_ = 0;
  uint32_t stopAtCheck_ = 0;
};
