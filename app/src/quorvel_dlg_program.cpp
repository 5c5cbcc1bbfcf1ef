// Command files and the Program button: one press plugs, runs the file's WRITE, VERIFY and
// ERASE lines in order and unplugs again.
#include <cctype>
#include <string_view>
#include <vector>

#include "app/control_ids.h"
#include "app/program_paths.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "platform/files.h"
#include "platform/locked_file.h"
#include "programdata/limits.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_queries.h"

using namespace programdata;

namespace {

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::vector<std::string> SplitCommandLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(begin, end - begin);
        while (!line.empty() && IsSpace(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && IsSpace(line.back()))
            line.remove_suffix(1);
        std::string upper(line);
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        lines.push_back(std::move(upper));
        begin = end + 1;
    }
    return lines;
}

void CQuorvelDlg::OnSetCommandFile() {
    UpdateData(true);
    FileDialogSpec dialog;
    dialog.title = GetStringText(IDS_SET_COMMAND_FILE_TITLE);
    dialog.filter = GetStringText(IDS_COMMAND_FILE_FILTER);
    dialog.defaultExtension = "cd8";
    dialog.initialPath = settings_.commandFileName;
    const std::optional<std::string> path = view_.OpenFileDialog(dialog);
    if (path.has_value()) {
        // The settings file gives back no more: a longer name would come back as another file.
        if (path->size() > kMaxStoredPath) {
            ShowFileError(IDS_COMMAND_FILE_OPEN_FAILED, *path);
        } else {
            settings_.commandFileName = *path;
            if (programData_.rowCount() > 0)
                view_.EnableControl(IDC_PROGRAM, true);
        }
    }
    UpdateData(false);
}

std::string CQuorvelDlg::ResolveCommandFileName(const std::string& name) {
    char drive[3] = {}, dir[256] = {}, file[256] = {}, ext[256] = {};
    plat::SplitPath(name.c_str(), drive, sizeof drive, dir, sizeof dir, file, sizeof file, ext,
                    sizeof ext);
    // A bare name means the program's own directory, not the current one.
    if (drive[0] == '\0' && dir[0] == '\0')
        return ExecutableDirectory() + file + ext;
    return name;
}

void CQuorvelDlg::ShowProgramFailure() {
    const OperationResultDisplay shown =
        OperationResultText(kOperationProgram, kResultFailure, settings_.mode == 1, false);
    SetResultField(shown.text, shown.code);
}

void CQuorvelDlg::OnProgram() {
    UpdateData(true);
    // 1. and 2. The command file, held against writers for the whole cycle.
    settings_.commandFileName = ResolveCommandFileName(settings_.commandFileName);
    plat::LockedFile commandFile;
    std::vector<char> text;
    if (!commandFile.Open(settings_.commandFileName, text)) {
        ShowFileError(IDS_COMMAND_FILE_OPEN_FAILED, settings_.commandFileName);
        SetIdleState(4);
        view_.SetFocus(IDC_PROGRAM);
        return;
    }
    // 3. Plug.
    const OperationClock::time_point cycleStart = OperationClock::now();
    for (OperationObserver* o : observers_)
        o->OnOperationStart(kOperationProgram);
    operationFailed_ = 0;
    stoppedByCancel_ = false;
    OpenBoardCycle();
    SetBusyState(4);
    Plug();
    // 4. Nothing to work on is no success.
    if (!targets::AnyEnabled()) {
        ShowProgramFailure();
        operationStart_ = cycleStart;
        CloseBoardCycle();
        ReportOperationFailure(kOperationProgram);
        Unplug();
        SetIdleState(4);
        view_.SetFocus(IDC_PROGRAM);
        return;
    }
    // 5. and 6. The commands, until one fails or the file ends.
    for (const std::string& line : SplitCommandLines(std::string_view(text.data(), text.size()))) {
        if (operationFailed_ != 0)
            break;
        if (line.empty())
            continue;
        if (line == "WRITE") {
            OnWrite();
        } else if (line == "VERIFY") {
            OnVerify();
        } else if (line == "ERASE") {
            OnEraseMemory();
        } else {
            ShowFileError(IDS_COMMAND_ERROR, line);
            break;
        }
    }
    // 7. The result of what ran.
    if (operationFailed_ == 0)
        ShowOperationResult(kOperationProgram);
    ReportTargetResults(kOperationProgram, cycleStart);
    CloseBoardCycle();
    operationStart_ = cycleStart;
    if (operationFailed_ == 0)
        ReportOperationEnd(kOperationProgram, cycleStart);
    else
        ReportOperationFailure(kOperationProgram, stoppedByCancel_);
    // 8. Unplugged whatever happened.
    Unplug();
    SetIdleState(4);
    view_.SetFocus(settings_.mode == 1 ? IDC_PROGRAM : IDC_PLUG);
}
