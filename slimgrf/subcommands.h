#pragma once
// The subcommands; each returns the program's exit status.

struct ToolOptions;

int RunList(const ToolOptions& options);
int RunVerify(const ToolOptions& options);
int RunExtract(const ToolOptions& options);

#include <vector>

struct CatalogEntry;

// Reports each pattern that matches no entry; true when every one matched.
bool EveryPatternMatched(const char* archive, const std::vector<const char*>& patterns,
                         const std::vector<CatalogEntry>& entries);
