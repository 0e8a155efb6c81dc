#pragma once
// The console's job host. Texts (status, reports, the overwrite question) go
// to one stream, stdout or stderr; errors always to stderr. Progress is one
// redrawn line on a terminal, plain lines elsewhere, or nothing at all.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/job_host.h"

struct TerminalSettings {
  FILE* text = stdout;           // status lines, reports, questions
  bool ask = false;              // the question can be answered on a terminal
  bool assumeYes = false;        // --yes
  bool quiet = false;            // errors only
  bool progress = true;          // status and progress lines at all
  bool redraw = false;           // progress as one redrawn line (text is a terminal)
  std::string errorPrefix;       // put before every error ("archive: " in a batch)
  uint64_t sourceBytes = 0;      // for the throughput shown in the redrawn line
};

// The settings of a job run from the command line: texts on stdout, or on
// stderr when stdout carries JSON; the question asked when both ends are a
// terminal; progress redrawn on a terminal, none with --json or --quiet.
TerminalSettings CommandLineSettings(bool json, bool quiet, bool assumeYes);

class TerminalHost : public JobHost {
 public:
  explicit TerminalHost(TerminalSettings settings);

  void SetProgress(uint32_t percent) override;
  void SetEntryProgress(uint32_t current, uint32_t total) override;
  void SetStatusText(const char* text) override;
  void SetEstimateText(const char* text) override;
  void ShowError(const char* text) override;
  bool AskYesNo(const char* text) override;
  void ShowReport(const char* text) override;
  void PlaySoundFile(const char* path) override;
  void SetDropAcceptance(bool) override {}
  void ReleaseDrop() override {}
  bool IsStopRequested() override;

  // The last error shown, empty when none.
  const std::string& lastError() const { return lastError_; }

  // Set from a signal handler (Ctrl-C, SIGTERM, SIGHUP).
  static std::atomic<bool> stopRequested;

 private:
  // Every text leaves through these two.
  void PrintLine(FILE* stream, const std::string& text);
  void PrintRaw(FILE* stream, const std::string& text);
  void DrawLine();
  void EndLine();
  void PlainProgress(uint32_t percent);

  TerminalSettings settings_;
  bool lineShown_ = false;
  size_t lineWidth_ = 0;
  uint32_t percent_ = 0;
  uint32_t lastPlainPercent_ = 0;
  uint32_t entry_ = 0;
  uint32_t entries_ = 0;
  uint32_t startTick_ = 0;
  uint32_t lastDrawTick_ = 0;
  std::string status_;
  std::string estimate_;
  std::string lastError_;
};

// Renders a job text for a console: CR LF becomes a newline, a tab two
// blanks, and every other control byte an escape ("\x1b").
std::string RenderForConsole(const char* text);
