#include "app/quorvel_app.h"

#include "app/program_paths.h"
#include "app/quorvel_dlg.h"
#include "platform/kernel_object.h"
#include "platform/named_mutex.h"

CQuorvelApp::CQuorvelApp() : CQuorvelApp(::ProgramName()) {}

CQuorvelApp::CQuorvelApp(std::string programName) : programName_(std::move(programName)) {
    ProcessAdapterMutex();
}

int CQuorvelApp::Run(DialogView& view, InstanceChannel& channel) {
    secondInstance_ = false;
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
        dialog.DoModal();
    }
    if (plat::IsOpenHandle(instance))
        plat::CloseHandle(instance);
    return 0;
}
