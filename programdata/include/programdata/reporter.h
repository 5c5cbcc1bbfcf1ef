#pragma once
// How programdata reaches the operator: it has no view of its own. The controller implements
// the reporter and shows the string-table text of the id (string_table.h) in a message box.
#include <string>

#include "programdata/string_table.h"

namespace programdata {

enum class MessageIcon { Error, Warning, Information };

class ProgramDataReporter {
  public:
    virtual ~ProgramDataReporter() = default;
    // fileName stands in for "%1"; it is empty for texts that name no file.
    virtual void Report(int messageId, const std::string& fileName, MessageIcon icon) = 0;
};

}  // namespace programdata
