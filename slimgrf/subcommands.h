#pragma once
// The subcommands; each returns the program's exit status.

struct ToolOptions;

int RunList(const ToolOptions& options);
int RunVerify(const ToolOptions& options);
int RunExtract(const ToolOptions& options);
int RunMerge(const ToolOptions& options);
int RunRemove(const ToolOptions& options);
int RunAdd(const ToolOptions& options);

