#include "slimgrf/options.h"

#include <cstdlib>
#include <cstring>

#include "slimgrf/subcommands.h"

const Subcommand kSubcommands[] = {
    {"list", &RunList, option::kJson | option::kLong | option::kNames, false,
     "list ARCHIVE [PATTERN...]      one line per entry"},
    {"verify", &RunVerify, option::kJson | option::kLong | option::kQuiet | option::kJobs | option::kNames, true,
     "verify ARCHIVE...              read and decode every entry"},
    {"extract", &RunExtract,
     option::kQuiet | option::kJobs | option::kDirectory | option::kForce | option::kNames, false,
     "extract ARCHIVE [PATTERN...]   write entries as files under -C DIR"},
    {"merge", &RunMerge, option::kJson | option::kQuiet | option::kJobs | option::kOutput | option::kBest | option::kYes, true,
     "merge BASE PATCH...            fold patch archives into BASE (later ones win)"},
    {"add", &RunAdd, option::kJson | option::kQuiet | option::kJobs | option::kBest | option::kNames | option::kPrefix, false,
     "add ARCHIVE PATH...            store files and folders (made when missing)"},
    {"rm", &RunRemove, option::kJson | option::kQuiet | option::kJobs, false,
     "rm ARCHIVE PATTERN...          remove the entries the patterns match"},
    {nullptr, nullptr, 0, false, nullptr},
};

std::string ToolUsageText() {
  std::string text =
      "Usage: slimgrf COMMAND [options] OPERANDS\n"
      "\n"
      "Lists, verifies, extracts, merges, adds to and prunes GRF archives. list,\n"
      "verify and extract only read the archive; merge, add and rm write the\n"
      "result beside the target, read it back and only then rename it into place.\n"
      "\n"
      "Commands:\n";
  for (const Subcommand* s = kSubcommands; s->name; ++s) text += std::string("  ") + s->synopsis + "\n";
  text +=
      "\n"
      "PATTERN matches entry names like a shell glob (* ? [...]), ignoring case;\n"
      "'/' and '\\' are alike. add walks folders in name order and stores their\n"
      "files under the folder's own name; symbolic links (Windows: reparse\n"
      "points) are never followed, only reported.\n"
      "\n"
      "Options:\n"
      "  -l, --long        list: add compressed size and offset; verify: name every link\n"
      "  --json            list, verify, merge, add, rm: one JSON object per line\n"
      "  -o, --output PATH merge: write the result to PATH (default: replace BASE)\n"
      "  --best            merge, add: recompress every entry at the smallest level\n"
      "  --prefix NAME     add: store the files under the folder NAME\n"
      "  -y, --yes         merge: replace an existing --output without asking\n"
      "  -C, --directory DIR\n"
      "                    extract: write under DIR (created when missing; default .)\n"
      "  -f, --force       extract: replace files that exist (kept otherwise)\n"
      "  --encoding NAME   the code page of the archive's names (default CP949)\n"
      "  --raw-names       keep the names' bytes as they are\n"
      "  -j, --jobs N      threads at work (default: one per hardware thread)\n"
      "  -q, --quiet       print problems only, no progress\n"
      "  -h, --help        show this text\n"
      "  --version         show the version\n"
      "\n"
      "Exit status: 0 every entry read, 1 some entry unreadable or not extracted,\n"
      "2 an archive could not be opened (extract: or DIR could not be used;\n"
      "merge, add, rm: nothing was changed, the target is as it was; rm: 1 no\n"
      "entry matched; add: 1 nothing to add).\n";
  return text;
}

namespace {

struct OptionName {
  const char* shortName;
  const char* longName;
  uint32_t bit;
  bool takesValue;
};

constexpr OptionName kOptionNames[] = {
    {nullptr, "--json", option::kJson, false},
    {"-l", "--long", option::kLong, false},
    {"-q", "--quiet", option::kQuiet, false},
    {"-j", "--jobs", option::kJobs, true},
    {"-C", "--directory", option::kDirectory, true},
    {"-f", "--force", option::kForce, false},
    {nullptr, "--encoding", option::kNames, true},
    {nullptr, "--raw-names", option::kNames, false},
    {"-o", "--output", option::kOutput, true},
    {nullptr, "--best", option::kBest, false},
    {"-y", "--yes", option::kYes, false},
    {nullptr, "--prefix", option::kPrefix, true},
};

const OptionName* FindOption(const char* arg) {
  for (const OptionName& o : kOptionNames) {
    if ((o.shortName && std::strcmp(arg, o.shortName) == 0) || std::strcmp(arg, o.longName) == 0)
      return &o;
  }
  return nullptr;
}

bool Apply(const OptionName& o, const char* value, ToolOptions* options, std::string* error) {
  const std::string name = o.longName;
  if (name == "--json") options->json = true;
  if (name == "--long") options->longFormat = true;
  if (name == "--quiet") options->quiet = true;
  if (name == "--force") options->force = true;
  if (name == "--raw-names") options->rawNames = true;
  if (name == "--encoding") options->encoding = value;
  if (name == "--directory") options->directory = value;
  if (name == "--output") options->output = value;
  if (name == "--best") options->best = true;
  if (name == "--yes") options->yes = true;
  if (name == "--prefix") options->prefix = value;
  if (name == "--jobs") {
    char* end = nullptr;
    const unsigned long jobs = std::strtoul(value, &end, 10);
    if (end == value || *end || jobs < 1 || jobs > 64) {
      *error = "--jobs needs a number from 1 to 64.";
      return false;
    }
    options->jobs = static_cast<unsigned>(jobs);
  }
  return true;
}

}  // namespace

ToolCommand ParseToolCommandLine(int argc, char** argv, const Subcommand** subcommand,
                                 ToolOptions* options, std::string* error) {
  if (argc < 2) {
    *error = "Name a command: list, verify, extract, merge, add or rm.";
    return ToolCommand::Error;
  }
  const char* command = argv[1];
  if (!std::strcmp(command, "--help") || !std::strcmp(command, "-h") || !std::strcmp(command, "help"))
    return ToolCommand::Help;
  if (!std::strcmp(command, "--version")) return ToolCommand::Version;
  *subcommand = nullptr;
  for (const Subcommand* s = kSubcommands; s->name; ++s)
    if (!std::strcmp(command, s->name)) *subcommand = s;
  if (!*subcommand) {
    *error = std::string("Unknown command '") + command + "'.";
    return ToolCommand::Error;
  }
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      options->operands.push_back(arg);
      continue;
    }
    if (!std::strcmp(arg, "--")) {
      optionsEnded = true;
      continue;
    }
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) return ToolCommand::Help;
    const OptionName* o = FindOption(arg);
    if (!o || !((*subcommand)->options & o->bit)) {
      *error = std::string("'") + command + "' takes no option '" + arg + "'.";
      return ToolCommand::Error;
    }
    const char* value = nullptr;
    if (o->takesValue) {
      if (++i == argc) {
        *error = std::string(arg) + " needs a value.";
        return ToolCommand::Error;
      }
      value = argv[i];
    }
    if (!Apply(*o, value, options, error)) return ToolCommand::Error;
  }
  if (options->operands.empty()) {
    *error = std::string("'") + command + "' needs an archive.";
    return ToolCommand::Error;
  }
  if (options->encoding && options->rawNames) {
    *error = "--encoding and --raw-names exclude each other.";
    return ToolCommand::Error;
  }
  return ToolCommand::Run;
}
