#pragma once
// Texts for the server, which takes well-formed UTF-8 only: a chip name or a device path of
// other bytes must not hold back the rows after it.
#include <string>
#include <string_view>

namespace linedb {

// bytes with every byte that is not part of well-formed UTF-8 (and every NUL) as U+FFFD.
std::string ValidUtf8(std::string_view bytes);
// True when bytes are well-formed UTF-8 without control characters (a name of the settings).
bool PlainUtf8(std::string_view bytes);

}  // namespace linedb
