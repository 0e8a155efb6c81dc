#pragma once
// What the subcommands open from their operands and options; every failure
// is reported on stderr.

#include "slimgrf/catalog.h"
#include "slimgrf/name_conversion.h"
#include "slimgrf/options.h"

// The name conversion the options ask for; false for an unknown encoding.
bool OpenNames(const ToolOptions& options, NameConverter* names);

// For ARCHIVE [PATTERN...]: the name conversion and the archive's entries
// that match a pattern. False when either cannot be opened. *allMatched is
// false when some pattern matches no entry.
bool OpenArchiveOperands(const ToolOptions& options, NameConverter* names, Catalog* catalog,
                         bool* allMatched);
