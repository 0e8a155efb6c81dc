#pragma once
// Which entry names may become files under the target folder. An archive is
// untrusted: a name that could reach outside the folder, or that Windows
// would take for something else than a plain file, is refused whole, never
// repaired.

#include <string>
#include <string_view>
#include <vector>

// Splits a converted (UTF-8) name at '/' and '\' into the folders and the
// file under the target folder; "." and empty components are dropped. Null
// when the name is accepted, else why it is refused. With windowsRules the
// names Windows cannot hold are refused as well (trailing dots or spaces,
// reserved characters, control characters); the tool applies them on
// Windows. Device names (CON, NUL, COM1...) are refused everywhere, so that
// an archive extracts to the same files on every system.
const char* SplitSafePath(std::string_view name, bool windowsRules,
                          std::vector<std::string>* components);

#ifdef _WIN32
constexpr bool kWindowsNameRules = true;
#else
constexpr bool kWindowsNameRules = false;
#endif
