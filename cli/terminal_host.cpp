#include "cli/terminal_host.h"

#include <cstdio>
#include <cstring>

#include "support/text.h"

std::atomic<bool> TerminalHost::stopRequested{false};

TerminalHost::TerminalHost(bool interactive, bool assumeYes)
    : interactive_(interactive), assumeYes_(assumeYes) {}

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

void TerminalHost::DrawBar() {
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent_ * kWidth / 100);
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stdout, "\r%-16s [%s] %3u%%  %-28s", status_.c_str(), bar, percent_,
               estimate_.c_str());
  std::fflush(stdout);
  barShown_ = true;
}

void TerminalHost::EndBar() {
  if (barShown_) {
    std::fputc('\n', stdout);
    std::fflush(stdout);
    barShown_ = false;
  }
}

void TerminalHost::SetProgress(uint32_t percent) {
  percent_ = percent;
  if (interactive_) {
    if (!status_.empty()) DrawBar();
    return;
  }
  // Plain output: a line at every tenth reached, not at every percent.
  if (!status_.empty() && percent / 10 > lastPlainPercent_ / 10) {
    std::fprintf(stdout, "%u%%\n", percent);
    std::fflush(stdout);
  }
  lastPlainPercent_ = percent;
}

void TerminalHost::SetStatusText(const char* text) {
  status_ = RenderForConsole(text);
  if (status_.empty()) {
    EndBar();
    return;
  }
  if (interactive_) {
    DrawBar();
  } else {
    std::fprintf(stdout, "%s\n", RenderForConsole(text).c_str());
    std::fflush(stdout);
  }
}

void TerminalHost::SetEstimateText(const char* text) {
  estimate_ = RenderForConsole(text);
  if (interactive_) {
    if (!status_.empty()) DrawBar();
  } else if (*text) {
    std::fprintf(stdout, "%s\n", text);
    std::fflush(stdout);
  }
}

void TerminalHost::ShowError(const char* text) {
  EndBar();
  std::fprintf(stderr, "%s\n", RenderForConsole(text).c_str());
  std::fflush(stderr);
}

bool TerminalHost::AskYesNo(const char* text) {
  EndBar();
  if (assumeYes_) {
    std::fprintf(stdout, "%s yes (--yes)\n", RenderForConsole(text).c_str());
    return true;
  }
  if (!interactive_) {
    std::fprintf(stdout, "%s no (not a terminal; use --yes to answer yes)\n",
                 RenderForConsole(text).c_str());
    return false;
  }
  for (;;) {
    std::fprintf(stdout, "%s [y/N] ", RenderForConsole(text).c_str());
    std::fflush(stdout);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) {
      std::fputc('\n', stdout);
      return false;
    }
    if (line[0] == 'y' || line[0] == 'Y') return true;
    if (line[0] == 'n' || line[0] == 'N' || line[0] == '\n') return false;
  }
}

void TerminalHost::ShowReport(const char* text) {
  EndBar();
  std::fprintf(stdout, "%s\n", RenderForConsole(text).c_str());
  std::fflush(stdout);
}

void TerminalHost::PlaySoundFile(const char*) {
  // A console has no sound of its own; the terminal bell marks the end.
  if (interactive_) std::fputc('\a', stdout);
}

bool TerminalHost::IsStopRequested() { return stopRequested.load(); }
