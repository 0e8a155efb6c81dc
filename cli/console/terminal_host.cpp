#include "cli/console/terminal_host.h"

#include <cerrno>
#include <cstring>
#include <utility>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include "cli/console/stop_signals.h"
#include "support/clock.h"
#include "support/text.h"

std::atomic<bool> TerminalHost::stopRequested{false};

namespace {
constexpr uint32_t kRedrawMs = 100;  // at most ten redraws a second between percent steps

// Reads a line of the answer into `line` (cut to its size); false at the end
// of the input or when a stop came first. A stop ends the wait.
bool ReadAnswer(char* line, size_t size) {
#ifdef _WIN32
  return !TerminalHost::stopRequested.load() && std::fgets(line, static_cast<int>(size), stdin) &&
         !TerminalHost::stopRequested.load();
#else
  // Unbuffered: what poll() sees waiting is all there is.
  size_t used = 0;
  for (;;) {
    if (TerminalHost::stopRequested.load()) return false;
    struct pollfd input {STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 200) <= 0) continue;  // a stop interrupts it; a missed one waits 200 ms
    char c = '\n';
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0 && used == 0) return false;  // the end of the input, or an error
    if (got > 0 && used + 1 < size) line[used++] = c;
    if (got <= 0 || c == '\n') {
      line[used] = '\0';
      return true;
    }
  }
#endif
}
}  // namespace

TerminalHost::TerminalHost(TerminalSettings settings) : settings_(std::move(settings)) {}

std::string RenderForConsole(const char* text) {
  // The job's own line breaks are CR LF; anything else that a terminal would
  // obey (a bare CR or LF, escape sequences from entry names) is shown escaped.
  std::string out;
  std::string segment;
  const auto escapeSegment = [&] {
    std::string escaped(EscapeControlBytes(segment.c_str(), "", nullptr, 0) + 1, '\0');
    EscapeControlBytes(segment.c_str(), "", escaped.data(), escaped.size());
    out.append(escaped.c_str());
    segment.clear();
  };
  for (const char* p = text; *p; ++p) {
    if (p[0] == '\r' && p[1] == '\n') {
      escapeSegment();
      out += '\n';
      ++p;
    } else if (*p == '\t') {
      segment += "  ";
    } else {
      segment += *p;
    }
  }
  escapeSegment();
  return out;
}

void TerminalHost::PrintRaw(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void TerminalHost::PrintLine(FILE* stream, const std::string& text) {
  PrintRaw(stream, text + "\n");
}

void TerminalHost::DrawLine() {
  char counts[96] = "";
  if (entries_) {
    const double elapsed = (ReadTickCount() - startTick_) / 1000.0;
    const double done = static_cast<double>(settings_.sourceBytes) * entry_ / entries_;
    std::snprintf(counts, sizeof counts, "  %u/%u entries", entry_, entries_);
    if (elapsed >= 0.5 && settings_.sourceBytes) {
      const size_t used = std::strlen(counts);
      std::snprintf(counts + used, sizeof counts - used, "  %.1f MB/s", done / 1e6 / elapsed);
    }
  }
  char line[512];
  std::snprintf(line, sizeof line, "%s %3u%%%s  %s", status_.c_str(), percent_, counts,
                estimate_.c_str());
  std::string text = line;
  const size_t width = text.size();
  if (width < lineWidth_) text.append(lineWidth_ - width, ' ');  // blank out the longer line
  lineWidth_ = width;
  PrintRaw(settings_.text, "\r" + text);
  lineShown_ = true;
  lastDrawTick_ = ReadTickCount();
}

void TerminalHost::EndLine() {
  // The redrawn line is blanked out: what follows (report, question, error)
  // takes its place.
  if (lineShown_) {
    std::string blank(lineWidth_ + 2, ' ');
    blank.front() = blank.back() = '\r';
    PrintRaw(settings_.text, blank);
    lineShown_ = false;
    lineWidth_ = 0;
  }
}

void TerminalHost::PlainProgress(uint32_t percent) {
  // A line at every tenth reached, not at every percent.
  if (percent / 10 > lastPlainPercent_ / 10) {
    char line[64];
    if (entries_) {
      std::snprintf(line, sizeof line, "%u%% (%u/%u entries)", percent, entry_, entries_);
    } else {
      std::snprintf(line, sizeof line, "%u%%", percent);
    }
    PrintLine(settings_.text, line);
  }
  lastPlainPercent_ = percent;
}

void TerminalHost::SetProgress(uint32_t percent) {
  percent_ = percent;
  // Once the job's texts are cleared (or a report or error has been shown),
  // nothing is drawn any more.
  if (!settings_.progress || status_.empty()) return;
  if (settings_.redraw) {
    DrawLine();
  } else {
    PlainProgress(percent);
  }
}

void TerminalHost::SetEntryProgress(uint32_t current, uint32_t total) {
  if (!entries_) startTick_ = ReadTickCount();
  entry_ = current;
  entries_ = total;
  if (settings_.progress && settings_.redraw && !status_.empty() &&
      ReadTickCount() - lastDrawTick_ >= kRedrawMs)
    DrawLine();
}

void TerminalHost::SetStatusText(const char* text) {
  status_ = RenderForConsole(text);
  if (!settings_.progress) return;
  if (status_.empty()) {
    EndLine();
  } else if (settings_.redraw) {
    DrawLine();
  } else {
    PrintLine(settings_.text, status_);
  }
}

void TerminalHost::SetEstimateText(const char* text) {
  estimate_ = RenderForConsole(text);
  if (!settings_.progress || status_.empty() || estimate_.empty()) return;
  if (settings_.redraw) {
    DrawLine();
  } else {
    PrintLine(settings_.text, estimate_);
  }
}

void TerminalHost::ShowError(const char* text) {
  EndLine();
  status_.clear();
  lastError_ = text;
  PrintLine(stderr, settings_.errorPrefix + RenderForConsole(text));
}

bool TerminalHost::AskYesNo(const char* text) {
  EndLine();
  const std::string question = RenderForConsole(text);
  if (settings_.assumeYes) {
    if (!settings_.quiet) PrintLine(settings_.text, question + " yes (--yes)");
    return true;
  }
  if (!settings_.ask) {
    if (!settings_.quiet)
      PrintLine(settings_.text, question + " no (not a terminal; use --yes to answer yes)");
    return false;
  }
  for (;;) {
    PrintRaw(settings_.text, question + " [y/N] ");
    char line[64];
    if (!ReadAnswer(line, sizeof line)) {
      PrintRaw(settings_.text, "\n");
      return false;
    }
    if (line[0] == 'y' || line[0] == 'Y') return true;
    if (line[0] == 'n' || line[0] == 'N' || line[0] == '\n') return false;
  }
}

void TerminalHost::ShowReport(const char* text) {
  EndLine();
  status_.clear();
  if (!settings_.quiet) PrintLine(settings_.text, RenderForConsole(text));
}

void TerminalHost::PlaySoundFile(const char*) {
  // A console has no sound of its own; the terminal bell marks the end.
  if (settings_.ask && !settings_.quiet) PrintRaw(settings_.text, "\a");
}

bool TerminalHost::IsStopRequested() { return stopRequested.load(); }

TerminalSettings CommandLineSettings(bool json, bool quiet, bool assumeYes) {
  TerminalSettings settings;
  settings.text = json ? stderr : stdout;
  settings.ask = IsTerminal(settings.text) && IsTerminal(stdin);
  settings.assumeYes = assumeYes;
  settings.quiet = quiet;
  settings.progress = !quiet && !json;
  settings.redraw = IsTerminal(settings.text);
  return settings;
}
