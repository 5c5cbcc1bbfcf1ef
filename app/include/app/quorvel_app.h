#pragma once
// CQuorvelApp: makes sure that one copy of the program runs, then runs the main dialog.
#include <functional>
#include <string>

#include "app/adapter_mutex.h"
#include "app/dialog_view.h"
#include "app/line_services.h"

// The path between copies of the program: a later copy asks the running one to come to the
// front. The Qt layer implements it with a local socket named after the program in the user's
// lock directory.
class InstanceChannel {
  public:
    virtual ~InstanceChannel() = default;
    // Later copy: asks the running copy to raise its window; false when none answered.
    virtual bool RaiseRunningInstance() = 0;
    // Running copy: from now on calls raise for every request of a later copy.
    virtual void ListenForRaiseRequests(std::function<void()> raise) = 0;
};

class CQuorvelApp {
  public:
    // The program's name is the executable's base name; the adapter mutex is created here,
    // before the dialog runs.
    CQuorvelApp();
    explicit CQuorvelApp(std::string programName);

    const std::string& ProgramName() const { return programName_; }
    // The line database client the dialog uses; none in a build without one.
    void SetLineServices(LineServices* line) { line_ = line; }

    // Runs the program: a later copy raises the running one and returns at once; otherwise
    // the main dialog runs until it ends. Answers the process exit code: 0, or 1 when a later
    // copy found the running one but could not reach it.
    int Run(DialogView& view, InstanceChannel& channel);

    // True when the last Run found another copy running and showed nothing.
    bool WasSecondInstance() const { return secondInstance_; }

  private:
    std::string programName_;
    bool secondInstance_ = false;
    LineServices* line_ = nullptr;
};
