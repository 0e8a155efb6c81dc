// slimgrf add ARCHIVE PATH... [--prefix NAME]: files and folders stored in an
// archive through the rewrite merge uses.
//
// Every name is planned before anything is written: made of the file's path
// under its operand's parent folder (and the prefix), checked as extract
// checks names, converted to the archive's code page and compared with the
// others as the library looks names up (ASCII case ignored). Any refusal, or
// a file that cannot be read, stops the add with the archive as it was. The
// files are then stored as they are in a staging archive beside ARCHIVE (a
// ".part" file, which the next run removes should this one be killed), and
// that archive becomes the last source of the rewrite: an added file replaces
// the entry of the same name, and the pass compresses and links the new
// entries like any other. A missing ARCHIVE is created.

#include <string>
#include <unordered_map>
#include <vector>

#include "cli/console/terminal_host.h"
#include "engine/consolidation_job.h"
#include "slimgrf/input_files.h"
#include "slimgrf/operands.h"
#include "slimgrf/options.h"
#include "slimgrf/output.h"
#include "slimgrf/path_safety.h"
#include "slimgrf/progress_line.h"
#include "slimgrf/rewrite.h"
#include "slimgrf/subcommands.h"
#include "support/file_util.h"
#include "support/text.h"

namespace {

// Above this a file's content is no entry the pass can compress.
constexpr uint64_t kLargestFile = 0xFF000000u;

struct PlannedEntry {
  const InputFile* file;
  std::string name;  // the archive's bytes
};

// Why the file's entry name is refused, or empty; *name is the name.
std::string NameEntry(const ToolOptions& options, NameConverter* names, const InputFile& file,
                      std::string* name) {
  std::string joined = options.prefix ? options.prefix : "";
  for (const std::string& component : file.components) {
    if (component.find('\\') != std::string::npos)
      return "a '\\' in a file name (the archive's folder separator)";
    joined += (joined.empty() ? "" : "\\") + component;
  }
  // The archive is read on Windows: names it cannot hold are refused everywhere.
  std::vector<std::string> parts;
  if (const char* refusal = SplitSafePath(joined, true, &parts))
    return std::string("unsafe name (") + refusal + ")";
  joined.clear();
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "\\") + part;
  if (!names->FromUtf8(joined, name))
    return "the name '" + RenderForConsole(joined.c_str()) + "' does not convert to " +
           (options.encoding ? options.encoding : "CP949") +
           " (--encoding names another code page, --raw-names keeps the bytes)";
  if (name->size() > GRF_LIMITED_NAME_LENGTH)
    return "the name is " + std::to_string(name->size()) + " bytes long; an archive takes " +
           std::to_string(GRF_LIMITED_NAME_LENGTH);
  if (file.size > kLargestFile) return "too large for an archive entry";
  return std::string();
}

// Names every file; false, with every refusal shown, when one is refused.
bool PlanEntries(const ToolOptions& options, NameConverter* names, const InputWalk& walk,
                 std::vector<PlannedEntry>* plan) {
  const char* archive = options.operands[0];
  FileIdentity archiveIdentity{};
  const bool archiveExists = QueryFileIdentity(archive, &archiveIdentity);
  std::unordered_map<std::string, const InputFile*> taken;  // by the lookup's key
  bool refused = false;
  for (const InputFile& file : walk.files) {
    const std::string shown = RenderForConsole(file.path.c_str());
    if (archiveExists && SameFile(file.identity, archiveIdentity)) {
      PrintProblem(shown, "not added: it is the archive itself.");
      continue;
    }
    std::string name;
    std::string refusal = NameEntry(options, names, file, &name);
    std::string key;
    for (const char c : name) key += static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
    if (refusal.empty()) {
      const auto [place, added] = taken.emplace(key, &file);
      if (!added)
        refusal = "it would be stored as " + QuotedName(names, name) + " like " +
                  RenderForConsole(place->second->path.c_str());
    }
    if (!refusal.empty()) {
      PrintProblem(shown, "refused: " + refusal + ".");
      refused = true;
      continue;
    }
    plan->push_back(PlannedEntry{&file, name});
  }
  return !refused;
}

// The staging archive: a held ".part" file beside ARCHIVE, removed at the end.
struct Staging {
  char path[kPathCapacity] = "";
  FileHandle held = kInvalidFile;
  ~Staging() { DiscardHeldFile(&held, path); }
};

// Stores every planned file in the staging archive, uncompressed. False with
// the problem shown.
bool Stage(const ToolOptions& options, const char* prefix, const std::vector<PlannedEntry>& plan,
           Staging* staging) {
  const std::string shown = RenderForConsole(options.operands[0]);
  GrfArchive* stage = nullptr;
  FileHandle own = kInvalidFile;
  if (!CreateHeldUniqueFile(prefix, kPartialSuffix, staging->path, sizeof staging->path,
                            &staging->held) ||
      !DuplicateFileHandle(staging->held, &own) ||
      !GrfOpenHandle(own, GRF_OPEN_CALLER_FLUSHES | GRF_OPEN_LIMIT_NAMES, nullptr, &stage)) {
    PrintProblem(shown, "Failed to create destination archive.");
    return false;
  }
  uint64_t bytes = 0;
  for (const PlannedEntry& entry : plan) bytes += entry.file->size;
  ProgressLine progress("Gathering files", bytes, options.quiet, options.json);
  std::vector<unsigned char> content;
  bool stored = true;
  for (size_t i = 0; stored && i < plan.size(); ++i) {
    const InputFile& file = *plan[i].file;
    std::string why;
    progress.Update(static_cast<uint32_t>(i), static_cast<uint32_t>(plan.size()));
    if (TerminalHost::stopRequested.load()) {
      stored = false;
    } else if (!ReadInputFile(file, &content, &why)) {
      progress.Clear();
      PrintProblem(RenderForConsole(file.path.c_str()), "cannot be read: " + why + ".");
      stored = false;
    } else if (!GrfPutCompressed(stage, plan[i].name.c_str(), content.data(),
                                 static_cast<uint32_t>(content.size()), 0)) {
      progress.Clear();
      PrintProblem(RenderForConsole(file.path.c_str()),
                   "cannot be stored beside the archive (is the disk full?).");
      stored = false;
    }
  }
  progress.Clear();
  if (stored && !GrfFinalize(stage)) {
    PrintProblem(shown, "Your archive failed to finalize, you might not have enough disk space available.");
    stored = false;
  }
  GrfClose(&stage);
  return stored;
}

}  // namespace

int RunAdd(const ToolOptions& options) {
  if (options.operands.size() < 2) {
    std::fprintf(stderr, "'add' needs an archive and at least one file or folder.\n");
    return kExitNotOpened;
  }
  const char* archive = options.operands[0];
  const std::string shown = RenderForConsole(archive);
  NameConverter names;
  if (!OpenNames(options, &names)) return kExitNotOpened;
  // The staging archive is named as the rewrite's copy; a killed run's goes
  // before the walk, which could otherwise take it for a file to add.
  char prefix[kPathCapacity];
  if (!BuildTemporaryPrefix(archive, prefix, sizeof prefix)) {
    PrintProblem(shown, "The archive's path is too long. Please move it to a shorter path and try again.");
    return kExitNotOpened;
  }
  SweepLeftovers(prefix, kPartialSuffix);
  InputWalk walk;
  for (size_t i = 1; i < options.operands.size(); ++i) CollectInputFiles(options.operands[i], &walk);
  std::fflush(stdout);
  for (const std::string& notice : walk.notices) std::fprintf(stderr, "%s\n", notice.c_str());
  for (const std::string& problem : walk.problems) std::fprintf(stderr, "%s\n", problem.c_str());
  std::vector<PlannedEntry> plan;
  if (TerminalHost::stopRequested.load() || !PlanEntries(options, &names, walk, &plan) ||
      !walk.problems.empty()) {
    PrintProblem(shown, "nothing was added; the archive is as it was.");
    return kExitNotOpened;
  }
  if (plan.empty()) {
    PrintProblem(shown, "no file to add; the archive is as it was.");
    return kExitSomeSkipped;
  }
  Staging staging;
  if (!Stage(options, prefix, plan, &staging)) {
    PrintProblem(shown, "nothing was added; the archive is as it was.");
    return kExitNotOpened;
  }
  return Rewrite(options, archive, {staging.path}, nullptr, nullptr, true);
}
