#pragma once
// The console program's command line.

#include <string>
#include <vector>

struct CliOptions {
  bool best = false;
  int level = 0;  // --level N: recompress at N (1-12); --best alone means 12
  bool yes = false;
  bool quiet = false;
  bool json = false;
  bool verify = true;  // read the copy back before keeping it
  unsigned jobs = 0;   // threads at work; 0: one per hardware thread
  bool dryRun = false;  // --dry-run, --check: measure a clean, write nothing
  const char* codec = nullptr;
  const char* output = nullptr;     // --output: the copy's name (one archive only)
  const char* outputDir = nullptr;  // --output-dir: the folder of every copy
  std::vector<const char*> archives;
};

enum class CliCommand { Run, Help, Version, Error };

// Options may come before, between or after the archives; "--" ends them.
// On Error, *error says what is wrong.
CliCommand ParseCommandLine(int argc, char** argv, CliOptions* options, std::string* error);

// The --help text.
const char* UsageText();
