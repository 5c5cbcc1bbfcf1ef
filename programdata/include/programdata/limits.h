#pragma once
// Lengths the settings file keeps: a stored file name (FILENAME%d, LOGFILENAME, COMFILENAME)
// is read back with at most this many characters, so a longer one would come back cut.
#include <cstddef>

namespace programdata {

constexpr size_t kMaxStoredPath = 259;

}  // namespace programdata
