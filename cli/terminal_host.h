#pragma once
// The console's job host: a progress bar and the estimate on a terminal,
// plain lines otherwise; errors on stderr; the overwrite question on the
// terminal or answered by --yes.

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/job_host.h"

class TerminalHost : public JobHost {
 public:
  TerminalHost(bool interactive, bool assumeYes);

  void SetProgress(uint32_t percent) override;
  void SetStatusText(const char* text) override;
  void SetEstimateText(const char* text) override;
  void ShowError(const char* text) override;
  bool AskYesNo(const char* text) override;
  void ShowReport(const char* text) override;
  void PlaySoundFile(const char* path) override;
  void SetDropAcceptance(bool) override {}
  void ReleaseDrop() override {}
  bool IsStopRequested() override;

  // Set from a signal handler (Ctrl-C, SIGTERM, SIGHUP).
  static std::atomic<bool> stopRequested;

 private:
  void DrawBar();
  void EndBar();

  bool interactive_;
  bool assumeYes_;
  bool barShown_ = false;
  uint32_t percent_ = 0;
  uint32_t lastPlainPercent_ = 0;
  std::string status_;
  std::string estimate_;
};

// Renders a job text for a console: CR LF becomes a newline, a tab two
// blanks, and every other control byte an escape ("\x1b").
std::string RenderForConsole(const char* text);
