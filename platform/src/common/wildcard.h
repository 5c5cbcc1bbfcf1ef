#pragma once
// The file-name wildcards of the directory search, shared by both builds: the POSIX search
// matches with it, and the Windows search keeps only what it matches (see files_win32.cpp).
#include <string_view>

namespace plat {

// '*' matches any run, '?' one character, letters match in either case; a trailing ".*" also
// matches a name without a dot ("*.*" is every name, as on Windows).
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace plat
