#include "app/production_recorder.h"

#include "platform/append_file.h"
#include "programdata/production_record.h"
#include "programdata/status_texts.h"

using namespace programdata;

namespace {

bool Recorded(int op) {
    return op == kOperationWrite || op == kOperationVerify || op == kOperationErase ||
           op == kOperationProgram;
}

}  // namespace

ProductionRecorder::ProductionRecorder(PathSource path, FailureSink failed, LocalTimeSource clock)
    : path_(std::move(path)),
      failed_(std::move(failed)),
      clock_(std::move(clock)),
      host_(plat::HostName()) {}

void ProductionRecorder::OnOperationStart(int operation) {
    if (inCycle_ || !Recorded(operation))
        return;
    // A cycle collects its operations' lines until it ends; an operation of its own only its
    // own lines.
    inCycle_ = operation == kOperationProgram;
    pendingRows_.clear();
    failureReported_ = false;
}

void ProductionRecorder::OnTargetResult(const TargetResult& result) {
    if (!Recorded(result.operation))
        return;
    RecordRow row;
    std::tm now{};
    if (clock_ && clock_(now))
        row.time = IsoLocalTime(now);
    row.host = host_;
    row.operation = RecordOperationName(result.operation);
    row.target = result.target;
    row.devicePath = result.devicePath;
    row.targetName = result.targetName;
    row.chipName = result.chipName;
    row.serialNumber = result.serialNumber;
    row.checksum = result.checksum;
    row.status = result.status;
    row.message = result.message;
    row.durationMs = result.durationMs;
    pendingRows_.push_back({std::move(row), result.run, result.cycle});
}

void ProductionRecorder::OnOperationEnd(const OperationSummary& summary) {
    if (!Recorded(summary.operation))
        return;
    if (inCycle_ && summary.operation != kOperationProgram)
        return;
    inCycle_ = false;
    WritePending();
}

void ProductionRecorder::WritePending() {
    std::vector<LineRecordRow> rows;
    rows.swap(pendingRows_);
    if (rows.empty())
        return;
    std::string lines;
    for (const LineRecordRow& r : rows)
        lines += RecordLine(r.row);
    const std::string path = path_ ? path_() : std::string();
    if (path.empty())
        return;
    // The record never stops an operation: one message, and the operation goes on.
    if (!AppendRecordLines(path, lines)) {
        if (!failureReported_ && failed_)
            failed_(path);
        failureReported_ = true;
    }
    if (lineDelivery_)
        lineDelivery_(path, rows);
}
