#pragma once
// The rewrite every changing subcommand ends in (rewrite.cpp): the
// consolidation job over `base` and its patches, the result renamed over
// `base` (or written to --output) once it reads back.

#include <vector>

struct ToolOptions;

// Leaves out what `keeps` refuses (when given); with `createsBase` a missing
// base is made from the patches alone. Prints the report and returns the exit
// status.
int Rewrite(const ToolOptions& options, const char* base, const std::vector<const char*>& patches,
            bool (*keeps)(const char*, void*), void* keepsContext, bool createsBase = false);
