// Command files and the Program button: one press plugs, runs the file's WRITE, VERIFY and
// ERASE lines in order and unplugs again.
#include <cctype>
#include <string_view>
#include <vector>

#include "app/control_ids.h"
#include "app/program_paths.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "operation_run.h"
#include "platform/files.h"
#include "platform/locked_file.h"
#include "programdata/limits.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_cells.h"

using namespace programdata;

namespace {

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::vector<std::string> SplitCommandLines(std::string_view text) {
    // A file saved by a common editor may start with the UTF-8 byte order mark.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
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

void CQuorvelDlg::OnProgram() {
    UpdateData(true);
    // 1. and 2. The command file, held against writers for the whole cycle.
    settings_.commandFileName = ResolveCommandFileName(settings_.commandFileName);
    plat::LockedFile commandFile;
    std::vector<char> text;
    if (!commandFile.Open(settings_.commandFileName, text)) {
        ShowFileError(IDS_COMMAND_FILE_OPEN_FAILED, settings_.commandFileName);
        Refused();
        SetIdleState(IdleState::AfterProgram);
        view_.SetFocus(IDC_PROGRAM);
        return;
    }
    // 3. Plug.
    OperationRun cycle(*this, kOperationProgram);
    cycle.IdleAfterwards(IdleState::AfterProgram);
    SetBusyState(BusyKind::ProgramCycle);
    Ending ending = Plug() ? Ending::Completed : Ending::Failed;
    // 4. Nothing to work on is no success.
    if (!targets::AnyEnabled()) {
        cycle.ShowFailureWhenFinished();
        cycle.Finish(Ending::Failed);
        Unplug();
        return;
    }
    // 5. and 6. The commands, until one fails or the file ends.
    for (const std::string& line : SplitCommandLines(std::string_view(text.data(), text.size()))) {
        if (ending != Ending::Completed)
            break;
        if (line.empty())
            continue;
        if (line == "WRITE") {
            ending = RunWrite();
        } else if (line == "VERIFY") {
            ending = RunVerify();
        } else if (line == "ERASE") {
            ending = RunErase();
        } else {
            // A command file that does not say what to do is no cycle that passed.
            ShowFileError(IDS_COMMAND_ERROR, line);
            cycle.ShowFailureWhenFinished();
            ending = Ending::Failed;
            break;
        }
    }
    // 7. The result of what ran.
    cycle.Finish(ending, ending == Ending::Completed ? OperationRun::Targets::Worked
                                                     : OperationRun::Targets::ResultsOnly);
    // 8. Unplugged whatever happened.
    Unplug();
}
