#pragma once
// What both console programs do with their terminal: stop signals and the
// question whether a stream is a terminal.

#include <cstdio>

// Ctrl-C, a closed terminal (SIGHUP) and SIGTERM set
// TerminalHost::stopRequested; the run notices at its next check. Output
// into a closed pipe is dropped instead of ending the run. Without
// SA_RESTART a pending read of stdin is ended by the stop.
void InstallStopSignalHandlers();

bool IsTerminal(FILE* stream);
