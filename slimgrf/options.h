#pragma once
// slimgrf's command line: a subcommand, its options and its operands.

#include <cstdint>
#include <string>
#include <vector>

// Options a subcommand takes (bits of Subcommand::options).
namespace option {
constexpr uint32_t kJson = 1u << 0;
constexpr uint32_t kLong = 1u << 1;
constexpr uint32_t kQuiet = 1u << 2;
constexpr uint32_t kJobs = 1u << 3;
constexpr uint32_t kDirectory = 1u << 4;
constexpr uint32_t kForce = 1u << 5;
constexpr uint32_t kNames = 1u << 6;  // --encoding, --raw-names
constexpr uint32_t kOutput = 1u << 7;
constexpr uint32_t kBest = 1u << 8;
constexpr uint32_t kYes = 1u << 9;
constexpr uint32_t kPrefix = 1u << 10;
}  // namespace option

struct ToolOptions {
  bool json = false;
  bool longFormat = false;
  bool quiet = false;
  bool force = false;
  bool rawNames = false;
  bool best = false;                 // merge: recompress every entry at the smallest level
  bool yes = false;                  // merge: replace an existing --output without asking
  unsigned jobs = 0;                 // 0: one thread per hardware thread
  const char* encoding = nullptr;    // the archive names' code page (default CP949)
  const char* directory = ".";       // -C: where extract writes
  const char* output = nullptr;      // merge: the result's name; none: it replaces the base
  const char* prefix = nullptr;      // add: the folder the files are stored under
  std::vector<const char*> operands;  // archives, or an archive and patterns
};

struct Subcommand {
  const char* name;
  int (*run)(const ToolOptions& options);
  uint32_t options;       // option bits it takes
  bool severalArchives;   // every operand is an archive; else ARCHIVE [PATTERN...]
  const char* synopsis;   // its line in the usage text
};

// The subcommands, ended by a row without a name.
extern const Subcommand kSubcommands[];

enum class ToolCommand { Run, Help, Version, Error };

// argv[1] names the subcommand; options may come before, between or after the
// operands, "--" ends them. On Run *subcommand is set; on Error *error says
// what is wrong.
ToolCommand ParseToolCommandLine(int argc, char** argv, const Subcommand** subcommand,
                                 ToolOptions* options, std::string* error);

// The --help text.
std::string ToolUsageText();

// Exit statuses of every subcommand.
constexpr int kExitAllDone = 0;       // every entry read (listed, extracted)
constexpr int kExitSomeSkipped = 1;   // some entry unreadable, refused or kept
constexpr int kExitNotOpened = 2;     // an archive (or the target folder) could not be used;
                                      // merge: nothing was merged
