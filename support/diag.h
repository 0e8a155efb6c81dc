#pragma once
// Assertions of the program.
//
// Debug assertions mark conditions that should not happen (a zero-size
// allocation, a damaged guard). They report and return; the caller goes on
// with its ordinary failure result. Fatal assertions mark programming errors
// (a misused reference count) and end the process.

using DebugAssertHandler = void (*)(const char* what, const char* file, int line);

// Reports a debug assertion through the installed handler. The default handler
// breaks into an attached debugger on Windows and prints to stderr elsewhere,
// in debug builds; release builds stay silent.
void DebugAssertFailed(const char* what, const char* file, int line);

// Replaces the handler (null restores the default); returns the previous one.
DebugAssertHandler SetDebugAssertHandler(DebugAssertHandler handler);

[[noreturn]] void FatalAssertFailed(const char* what, const char* file, int line);

#define SLIM_DEBUG_ASSERT(cond) \
  ((cond) ? (void)0 : DebugAssertFailed(#cond, __FILE__, __LINE__))
#define SLIM_FATAL_ASSERT(cond) \
  ((cond) ? (void)0 : FatalAssertFailed(#cond, __FILE__, __LINE__))
