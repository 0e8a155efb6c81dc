// slimgrf: lists, verifies and extracts GRF archives through the library's
// public API (grf/grf.h). The subcommands are rows of kSubcommands
// (options.cpp); each one returns the exit status.

#include <cstdio>
#include <string>

#include "cli/console/stop_signals.h"
#include "cli/console/terminal_host.h"
#include "slimgrf/options.h"
#include "support/pool.h"
#include "version.h"

int main(int argc, char** argv) {
  SetPoolOptions(pool::kAssertNullFree | pool::kAssertZeroSize | pool::kAssertBadGuard);
  const Subcommand* subcommand = nullptr;
  ToolOptions options;
  std::string error;
  switch (ParseToolCommandLine(argc, argv, &subcommand, &options, &error)) {
    case ToolCommand::Help:
      std::fputs(ToolUsageText().c_str(), stdout);
      return kExitAllDone;
    case ToolCommand::Version:
      std::printf("slimgrf %s\n", SLIMWICK_VERSION);
      return kExitAllDone;
    case ToolCommand::Error:
      std::fprintf(stderr, "%s\n\n%s", RenderForConsole(error.c_str()).c_str(),
                   ToolUsageText().c_str());
      return kExitNotOpened;
    case ToolCommand::Run:
      break;
  }
  InstallStopSignalHandlers();
  return subcommand->run(options);
}
