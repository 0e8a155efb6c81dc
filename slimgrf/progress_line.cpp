#include "slimgrf/progress_line.h"

#include "cli/console/stop_signals.h"
#include "cli/console/terminal_host.h"
#include "support/text.h"

ProgressLine::ProgressLine(const std::string& status, uint64_t bytes, bool quiet, bool json) {
  TerminalSettings settings;
  settings.text = json ? stderr : stdout;
  settings.redraw = IsTerminal(settings.text);
  settings.progress = !quiet && settings.redraw;
  settings.quiet = quiet;
  settings.sourceBytes = bytes;
  if (!settings.progress) return;
  host_ = std::make_unique<TerminalHost>(settings);
  status_ = status;
}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Update(uint32_t done, uint32_t total) {
  if (!host_) return;
  if (!shown_) {
    host_->SetStatusText(status_.c_str());
    shown_ = true;
  }
  host_->SetEntryProgress(done, total);
  const uint32_t percent = PercentOf(done, total);
  if (percent != percent_) host_->SetProgress(percent_ = percent);
}

void ProgressLine::Clear() {
  if (host_ && shown_) host_->SetStatusText("");
  shown_ = false;
}
