// slimwick-cli: the consolidation job without a window.
//
//   slimwick-cli [--best] [--yes] [--no-verify] [--codec LIBRARY] ARCHIVE
//
// Exit status: 0 when the cleaned copy was kept, 1 when nothing was saved
// (no copy left behind), 2 on any failure.

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/terminal_host.h"
#include "engine/codec_library.h"
#include "engine/consolidation_job.h"
#include "engine/format.h"
#include "support/file_util.h"
#include "support/pool.h"
#include "version.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif
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

constexpr const char kVersion[] = SLIMWICK_VERSION;
constexpr int kExitKept = 0;
constexpr int kExitNothingSaved = 1;
constexpr int kExitFailure = 2;

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "Usage: slimwick-cli [--best] [--yes] [--no-verify] [--codec LIBRARY] ARCHIVE\n"
               "\n"
               "Writes a consolidated copy of a GRF archive beside it (data.grf ->\n"
               "data-cleaned.grf): identical entries become links, enciphered entries are\n"
               "deciphered. The copy is kept only when it is smaller than the original.\n"
               "\n"
               "  --best          recompress every entry with zlib at level 9\n"
               "  --yes           discard an existing cleaned copy without asking\n"
               "  --no-verify     keep the copy without reading it back first\n"
               "  --codec LIBRARY read the archive with a codec library's compress and\n"
               "                  uncompress instead of zlib\n"
               "  --help          show this text\n"
               "  --version       show the version\n"
               "\n"
               "Exit status: 0 copy kept, 1 nothing saved, 2 failure.\n");
}

void OnStopSignal(int) { TerminalHost::stopRequested.store(true); }

// Ctrl-C, a closed terminal (SIGHUP) and SIGTERM stop the run the same way:
// the job notices at its next check and keeps no copy. Output into a closed
// pipe is dropped instead of ending the run. Without SA_RESTART a pending
// question is ended (answered no) by the stop.
void InstallSignalHandlers() {
#ifdef _WIN32
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
#ifdef __GLIBC__
  // Every compressed entry sets up a fresh deflate state of a few hundred
  // kilobytes. By default glibc maps and unmaps such blocks on every call;
  // keeping them in the heap makes stored entries about a third cheaper.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
  bool best = false;
  bool yes = false;
  bool verify = true;
  const char* codec = nullptr;
  const char* archive = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("slimwick-cli %s\n", kVersion);
      return 0;
    }
    if (std::strcmp(arg, "--best") == 0) {
      best = true;
    } else if (std::strcmp(arg, "--yes") == 0 || std::strcmp(arg, "-y") == 0) {
      yes = true;
    } else if (std::strcmp(arg, "--no-verify") == 0) {
      verify = false;
    } else if (std::strcmp(arg, "--codec") == 0) {
      if (++i == argc) {
        std::fprintf(stderr, "--codec needs a library path.\n");
        return kExitFailure;
      }
      codec = argv[i];
    } else if (arg[0] == '-' && arg[1] != '\0' && !archive) {
      std::fprintf(stderr, "Unknown option '%s'.\n\n", RenderForConsole(arg).c_str());
      PrintUsage(stderr);
      return kExitFailure;
    } else if (!archive) {
      archive = arg;
    } else {
      std::fprintf(stderr, "Please name only one fatty archive at a time.\n");
      return kExitFailure;
    }
  }
  if (!archive) {
    PrintUsage(stderr);
    return kExitFailure;
  }
  if (std::strlen(archive) >= kPathCapacity) {
    std::fprintf(stderr,
                 "Cannot pull the dropped archive from that location. Please move it elsewhere "
                 "and try again.\n");
    return kExitFailure;
  }
  if (codec) {
    if (std::strlen(codec) >= sizeof CodecLibraryPath) {
      std::fprintf(stderr, "The codec library path is too long.\n");
      return kExitFailure;
    }
    LibraryHandle module = nullptr;
    const bool usable = LoadLibraryByName(codec, &module) && HasCodecExports(module);
    if (module) FreeLibraryModule(module);
    if (!usable) {
      std::fprintf(stderr,
                   "'%s' is not a codec library: it must load and export compress (or "
                   "compress2) and uncompress.\n",
                   RenderForConsole(codec).c_str());
      return kExitFailure;
    }
    SetCodecLibraryPath(codec);
  }

  InstallSignalHandlers();
  const bool interactive = SLIM_ISATTY(SLIM_FILENO(stdout)) && SLIM_ISATTY(SLIM_FILENO(stdin));
  TerminalHost host(interactive, yes);
  ConsolidationJob* job = CreateConsolidationJob(&host, archive, best, nullptr);
  if (!job) {
    std::fprintf(stderr,
                 "Your memory seems to be occupied by a heavy-weight as well. Try again later.\n");
    return kExitFailure;
  }
  job->skipVerification = verify ? 0 : 1;
  const JobOutcome outcome = ExecuteConsolidationJob(job);
  if (outcome != JobOutcome::CleanedCopyKept && TerminalHost::stopRequested.load()) {
    std::fprintf(stderr, "Stopped; no copy was kept.\n");
    return kExitFailure;
  }
  switch (outcome) {
    case JobOutcome::CleanedCopyKept:
      return kExitKept;
    case JobOutcome::NothingSaved:
    case JobOutcome::OverwriteDeclined:
      return kExitNothingSaved;
    default:
      return kExitFailure;
  }
}
