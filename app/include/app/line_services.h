#pragma once
// The line of stations as the controller sees it: a serial pool and a production record that
// the stations share. The program that has a line database client (linedb/) hands the
// controller one; a build without it hands none, and a settings file that names a line is then
// refused rather than worked on as a station on its own.
#include <cstdint>
#include <string>
#include <vector>

#include "app/serial_source.h"
#include "app/writer_settings.h"
#include "programdata/production_record.h"

// A record row as the line keeps it: the CSV's fields and the runs it belongs to. (run,
// operation, target) names the row, so that sending it again never makes a second one.
struct LineRecordRow {
    programdata::RecordRow row;
    std::string run;    // the operation's own run
    std::string cycle;  // the outermost run: the Program cycle, or the operation on its own
};

// Something the operator has to settle, as a message ("%1" stands for detail); none when
// messageId is 0.
struct LineProblem {
    uint32_t messageId = 0;
    std::string detail;
    explicit operator bool() const { return messageId != 0; }
};

class RecordSink {
  public:
    virtual ~RecordSink() = default;
    // Takes one operation's rows once the CSV at recordPath has them (or could not take them):
    // they wait in an outbox beside it until the line's record has them, in order. A problem
    // only when they could not even be kept there.
    virtual LineProblem Deliver(const LineSettings& line, const std::string& recordPath,
                                const std::vector<LineRecordRow>& rows) = 0;
};

class LineServices {
  public:
    virtual ~LineServices() = default;
    // At Plug: connects to the line and sends the rows waiting beside recordPath (empty: the
    // record is off). A server that cannot be reached is IDS_LINE_UNREACHABLE, which leaves
    // the rows waiting; any other problem is a setting to be mended.
    virtual LineProblem Open(const LineSettings& line, const std::string& recordPath) = 0;
    virtual SerialSource& Pool() = 0;
    virtual RecordSink& Record() = 0;
};
