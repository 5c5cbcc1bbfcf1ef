#pragma once
// How programdata reaches the operator: it has no view of its own. The controller implements
// the reporter and shows the string-table text of the id in a message box.
#include <string>

namespace programdata {

enum class MessageIcon { Error, Warning, Information };

// String-table ids raised here.
namespace msg {
constexpr int kAlreadyRegistered = 107;     // "%1 is already registered in File List."
constexpr int kOverlapsRegistered = 163;    // write address duplicates a registered file
constexpr int kIllegalEndRecord = 2007;     // HEX type 01 other than ":00000001FF"
constexpr int kHexChecksumError = 2008;     // HEX record checksum
constexpr int kSChecksumError = 2009;       // S record checksum
constexpr int kInvalidEndRecord = 2010;     // S7/S8/S9 without its open kind
constexpr int kNoValidEndRecord = 2011;     // open S1/S2/S3 at the end; HEX without end record
constexpr int kNoValidDataRecord = 2012;    // no data record at all
constexpr int kCouldNotOpen = 2013;         // "%1 could not be opened."
constexpr int kIllegalFormat = 2021;        // mixed kinds, unknown record types
constexpr int kDuplicateAddress = 2023;     // duplicate address within a file or the list
constexpr int kInternalError = 2026;        // a file-list column that does not parse
constexpr int kTargetNotSupported = 2079;   // target device not supported
constexpr int kAddressWithoutFlash = 2080;  // data where the target has no flash
}  // namespace msg

class ProgramDataReporter {
  public:
    virtual ~ProgramDataReporter() = default;
    // fileName stands in for "%1"; it is empty for texts that name no file.
    virtual void Report(int messageId, const std::string& fileName, MessageIcon icon) = 0;
};

}  // namespace programdata
