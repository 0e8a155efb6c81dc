#include "support/diag.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

void DefaultDebugAssert(const char* what, const char* file, int line) {
#ifndef NDEBUG
#ifdef _WIN32
  if (IsDebuggerPresent()) {
    DebugBreak();
    return;
  }
#endif
  std::fprintf(stderr, "debug assertion: %s (%s:%d)\n", what, file, line);
#else
  (void)what;
  (void)file;
  (void)line;
#endif
}

std::atomic<DebugAssertHandler> g_handler{&DefaultDebugAssert};

}  // namespace

void DebugAssertFailed(const char* what, const char* file, int line) {
  g_handler.load()(what, file, line);
}

DebugAssertHandler SetDebugAssertHandler(DebugAssertHandler handler) {
  DebugAssertHandler previous = g_handler.exchange(handler ? handler : &DefaultDebugAssert);
  return previous == &DefaultDebugAssert ? nullptr : previous;
}

void FatalAssertFailed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fatal assertion: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  std::abort();
}
