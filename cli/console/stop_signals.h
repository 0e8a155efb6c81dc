#pragma once
// What both console programs do with their terminal: stop signals and the
// question whether a stream is a terminal.

#include <cstdio>

// Ctrl-C, a closed terminal (SIGHUP) and SIGTERM set
// TerminalHost::stopRequested; the run notices at its next check. Output
// into a closed pipe is dropped instead of ending the run. Calls the stop
// interrupts go on (a write to stdout is not lost); a wait for an answer
// polls the flag.
void InstallStopSignalHandlers();

bool IsTerminal(FILE* stream);
