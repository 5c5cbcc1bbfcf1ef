#pragma once
// The production record's observer: it turns each target's result of Write, Verify, Erase and
// the Program cycle into a record line and appends a Program cycle's lines in one batch at
// the cycle's end, a single operation's lines at that operation's end. The controller owns it,
// so the record is written under every view.
#include <functional>
#include <string>
#include <vector>

#include "app/line_services.h"
#include "app/operation_events.h"
#include "programdata/operation_log.h"

class ProductionRecorder : public OperationObserver {
  public:
    // The record file's path at the moment of writing, empty while the record is off.
    using PathSource = std::function<std::string()>;
    // A batch that could not be written; called at most once per operation.
    using FailureSink = std::function<void(const std::string& path)>;

    ProductionRecorder(PathSource path, FailureSink failed,
                       programdata::LocalTimeSource clock = programdata::SystemLocalTime);

    // The rows of a batch once the CSV has them (or could not take them), for the line.
    using LineDelivery =
        std::function<void(const std::string& path, const std::vector<LineRecordRow>& rows)>;

    void SetClock(programdata::LocalTimeSource clock) { clock_ = std::move(clock); }
    void SetLineDelivery(LineDelivery delivery) { lineDelivery_ = std::move(delivery); }

    void OnOperationStart(int operation) override;
    void OnTargetResult(const TargetResult& result) override;
    void OnOperationEnd(const OperationSummary& summary) override;

  private:
    void WritePending();

    PathSource path_;
    FailureSink failed_;
    programdata::LocalTimeSource clock_;
    std::string host_;
    LineDelivery lineDelivery_;
    std::vector<LineRecordRow> pendingRows_;
    bool inCycle_ = false;
    bool failureReported_ = false;
};
