#include "cli/console/stop_signals.h"

#include <csignal>

#include "cli/console/terminal_host.h"

#ifdef _WIN32
#include <io.h>
#define SLIM_ISATTY _isatty
#define SLIM_FILENO _fileno
#else
#include <unistd.h>
#define SLIM_ISATTY isatty
#define SLIM_FILENO fileno
#endif

namespace {
void OnStopSignal(int) { TerminalHost::stopRequested.store(true); }
}  // namespace

void InstallStopSignalHandlers() {
#ifdef _WIN32
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

bool IsTerminal(FILE* stream) { return SLIM_ISATTY(SLIM_FILENO(stream)) != 0; }
