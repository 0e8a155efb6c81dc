#include "cli/options.h"

#include <cstdlib>
#include <cstring>

#include "engine/ordered_pipeline.h"
#include "support/zlib_pool.h"

const char* UsageText() {
  return "Usage: slimwick-cli [options] ARCHIVE...\n"
         "\n"
         "Writes a consolidated copy of each GRF archive beside it (data.grf ->\n"
         "data-cleaned.grf): identical entries become links, enciphered entries are\n"
         "deciphered. A copy is kept only when it is smaller than the original.\n"
         "Archives are cleaned one after another; a failure does not stop the others.\n"
         "\n"
         "  --dry-run       read every entry and tell what a clean would save; nothing\n"
         "                  is written and nothing asked (also --check)\n"
         "  --output PATH   write the copy to PATH instead (one archive only)\n"
         "  --output-dir DIR\n"
         "                  write each copy, under its cleaned name, into DIR (must exist)\n"
         "  --best          recompress every entry at the smallest level (12), keeping\n"
         "                  the archive's own data where that is smaller\n"
         "  --level N       recompress every entry at level N, 1 (fastest) to 12\n"
         "  -j, --jobs N    threads at work (default: one per hardware thread)\n"
         "  -y, --yes       discard an existing cleaned copy without asking\n"
         "  --no-verify     keep a copy without reading it back first\n"
         "  --codec LIBRARY read the archives with a codec library's compress and\n"
         "                  uncompress instead of zlib\n"
         "  -q, --quiet     print errors only\n"
         "  --json          one JSON object per archive on stdout, texts on stderr\n"
         "  -h, --help      show this text\n"
         "  --version       show the version\n"
         "\n"
         "Exit status: 0 every copy kept, 1 some archive saved nothing, 2 some failure\n"
         "(with --dry-run: 0 every archive would shrink, 1 some would not, 2 some failure).\n";
}

CliCommand ParseCommandLine(int argc, char** argv, CliOptions* options, std::string* error) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      options->archives.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      return CliCommand::Help;
    } else if (std::strcmp(arg, "--version") == 0) {
      return CliCommand::Version;
    } else if (std::strcmp(arg, "--best") == 0) {
      options->best = true;
    } else if (std::strcmp(arg, "--level") == 0) {
      char* end = nullptr;
      const long level = ++i < argc ? std::strtol(argv[i], &end, 10) : 0;
      if (i == argc || end == argv[i] || *end || level < kMinDeflateLevel || level > kMaxDeflateLevel) {
        *error = "--level needs a number from 1 to 12.";
        return CliCommand::Error;
      }
      options->level = static_cast<int>(level);
    } else if (std::strcmp(arg, "--yes") == 0 || std::strcmp(arg, "-y") == 0) {
      options->yes = true;
    } else if (std::strcmp(arg, "--quiet") == 0 || std::strcmp(arg, "-q") == 0) {
      options->quiet = true;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "--no-verify") == 0) {
      options->verify = false;
    } else if (arg[1] == 'j' || std::strcmp(arg, "--jobs") == 0 ||
               std::strncmp(arg, "--jobs=", 7) == 0) {
      // "-j N", "-jN", "--jobs N" or "--jobs=N".
      const char* count = arg[1] == 'j' ? arg + 2 : arg + 6;
      if (*count == '=') ++count;
      else if (*count == '\0') count = ++i < argc ? argv[i] : "";
      char* end = nullptr;
      const unsigned long value = std::strtoul(count, &end, 10);
      static_assert(kMostThreads == 64, "the message below names the cap");
      if (count[0] < '1' || count[0] > '9' || *end != '\0' || value > kMostThreads) {
        *error = "--jobs needs a number of threads from 1 to 64.";
        return CliCommand::Error;
      }
      options->jobs = static_cast<unsigned>(value);
    } else if (std::strcmp(arg, "--dry-run") == 0 || std::strcmp(arg, "--check") == 0) {
      options->dryRun = true;
    } else if (std::strcmp(arg, "--output") == 0 || std::strcmp(arg, "--output-dir") == 0) {
      const bool folder = std::strcmp(arg, "--output-dir") == 0;
      if (++i == argc || !argv[i][0]) {
        *error = folder ? "--output-dir needs a folder." : "--output needs a file name.";
        return CliCommand::Error;
      }
      (folder ? options->outputDir : options->output) = argv[i];
    } else if (std::strcmp(arg, "--codec") == 0) {
      if (++i == argc) {
        *error = "--codec needs a library path.";
        return CliCommand::Error;
      }
      options->codec = argv[i];
    } else {
      *error = std::string("Unknown option '") + arg + "'.";
      return CliCommand::Error;
    }
  }
  if (options->archives.empty()) {
    *error = "Name at least one archive.";
    return CliCommand::Error;
  }
  if (options->output && options->outputDir) {
    *error = "--output and --output-dir cannot be used together.";
    return CliCommand::Error;
  }
  if (options->output && options->archives.size() != 1) {
    *error = "--output takes exactly one archive; use --output-dir for several.";
    return CliCommand::Error;
  }
  return CliCommand::Run;
}
