#pragma once
// The job host of the main window: turns a consolidation job's requests into
// messages to the window's controls, message boxes owned by it, the shell's
// drop calls and the sound player. Its methods run on the job's worker
// thread; the window thread keeps serving the window meanwhile.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "engine/consolidation_job.h"
#include "engine/job_host.h"
#include "support/text.h"

class WindowJobHost final : public JobHost {
 public:
  WindowJobHost(HWND window, HDROP drop) : window_(window), drop_(drop) {}

  // The record the host serves; the worker runs it and the job frees it.
  void AttachJob(ConsolidationJob* job) { job_ = job; }
  ConsolidationJob* job() const { return job_; }
  HWND window() const { return window_; }
  HDROP drop() const { return drop_; }

  void SetProgress(uint32_t percent) override;
  void SetStatusText(const char* text) override;
  void SetEstimateText(const char* text) override;
  void ShowError(const char* text) override;
  bool AskYesNo(const char* text) override;
  void ShowReport(const char* text) override;
  void PlaySoundFile(const char* path) override;
  void SetDropAcceptance(bool accept) override;
  void ReleaseDrop() override;
  bool IsStopRequested() override;

 private:
  HWND window_;
  HDROP drop_;
  ConsolidationJob* job_ = nullptr;
};

// The stop request for the running job: set by the window thread when the
// window is closed during a job, read by the job before each entry, cleared
// when the next job is launched.
void RequestJobStop();
void ClearJobStop();
bool JobStopRequested();

// Status line shown while a stop is pending; the job's own phase texts are
// replaced by it from then on.
inline constexpr const char kStoppingText[] = "Stopping...";

// The sound most recently handed to the player and whether the player took
// it (PlaySoundA's result), for the end-to-end test: the tests run where no
// sound can be heard. Empty until a job plays one.
struct SoundRequest {
  char path[kPathCapacity];
  bool started;
};
SoundRequest LastSoundRequest();
