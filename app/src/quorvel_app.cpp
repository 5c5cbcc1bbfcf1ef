#include "app/quorvel_app.h"

#include "app/program_paths.h"
#include "app/quorvel_dlg.h"
#include "platform/kernel_object.h"
#include "platform/named_mutex.h"
#include "programdata/string_table.h"

namespace {

// The caption when the executable's name cannot be known.
constexpr char kProductName[] = "Quorvel";

}  // namespace

CQuorvelApp::CQuorvelApp() : CQuorvelApp(::ProgramName()) {}

CQuorvelApp::CQuorvelApp(std::string programName) : programName_(std::move(programName)) {
    ProcessAdapterMutex();
}

int CQuorvelApp::Run(DialogView& view, InstanceChannel& channel) {
    secondInstance_ = false;
    // A path cut at the limit would name another directory, with its own Quorvel.ini and TRG
    // files, and garble the program's name, which is also its single-instance lock.
    if (!ExecutablePathIsWhole()) {
        view.MessageBox(
            {IDS_PROGRAM_PATH_TOO_LONG, std::string(GetStringText(IDS_PROGRAM_PATH_TOO_LONG)),
             programName_.empty() ? kProductName : programName_, MsgIcon::Error, MsgButtons::Ok});
        return 1;
    }
    plat::HANDLE instance = plat::CreateMutexA(nullptr, true, programName_.c_str());
    if (plat::IsOpenHandle(instance) && plat::GetLastError() == plat::ERROR_ALREADY_EXISTS) {
        secondInstance_ = true;
        const bool raised = channel.RaiseRunningInstance();
        plat::CloseHandle(instance);
        return raised ? 0 : 1;
    }
    // Without a lock (it could not be created) the program still runs: refusing to start
    // would be worse than a second copy.
    channel.ListenForRaiseRequests([&view] { view.BringToFront(); });
    {
        CQuorvelDlg dialog(view, programName_);
        dialog.SetLineServices(line_);
        dialog.DoModal();
    }
    if (plat::IsOpenHandle(instance))
        plat::CloseHandle(instance);
    return 0;
}
