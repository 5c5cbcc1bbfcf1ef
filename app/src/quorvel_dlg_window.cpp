// The main window's own behaviour: the two view modes, the busy and idle layouts that every
// operation switches between, the View menu, the result field's colour and the About box.
#include <cstdio>

#include "app/control_ids.h"
#include "app/main_window_layout.h"
#include "app/quorvel_dlg.h"

namespace {

constexpr int kDetailWidthPx = 704;
constexpr int kDetailHeightPx = 759;
constexpr int kSimpleWidthPx = 704;
constexpr int kSimpleHeightPx = 746;

// Shown in simple mode only.
constexpr int kSimpleModeControls[] = {
    IDC_COMMAND_FILE_LABEL, IDC_PROGRAM,         IDC_CONNECTION_CHECK, IDC_TARGET_NAME_EDIT,
    IDC_COMMAND_FILE_EDIT,  IDC_CHECK_LIST_LOW,  IDC_CHECK_LIST_HIGH,  IDC_SERIAL_TEXT_LABEL,
    IDC_SERIAL_TEXT_EDIT,   IDC_FILL_TEXT_LABEL, IDC_FILL_TEXT_EDIT,
};

// Hidden in simple mode.
constexpr int kDetailModeControls[] = {
    IDC_FILE_NAME_LABEL,
    IDC_OFFSET_LABEL,
    IDC_LOG_FILE_LABEL,
    IDC_PLUG,
    IDC_ABOUT,
    IDC_SERIALIZATION,
    IDC_ALL_CHECK,
    IDC_ERASE_MEMORY,
    IDC_FILE_BROWSE,
    IDC_ADD_TO_LIST,
    IDC_DELETE_FROM_LIST,
    IDC_LOG_FILE_BROWSE,
    IDC_WRITE,
    IDC_CANCEL_OPERATION,
    IDC_VERIFY,
    IDC_EXIT,
    IDC_TARGET_COMBO,
    IDC_CONNECTION_LIST,
    IDC_WRITE_WITH_VERIFY,
    IDC_FILE_NAME_EDIT,
    IDC_OFFSET_EDIT,
    IDC_LOG_FILE_EDIT,
    IDC_FILL_GROUP,
    IDC_FILL_FF,
    IDC_FILL_FLASH_CONTENT,
};

// The fill type is chosen elsewhere; its group stays hidden in both modes.
constexpr int kNeverShown[] = {IDC_FILL_GROUP, IDC_FILL_FF, IDC_FILL_FLASH_CONTENT};

// Everything that could start or change an operation; a busy window disables all of them.
constexpr int kOperationControls[] = {
    IDC_TARGET_COMBO,
    IDC_PLUG,
    IDC_ABOUT,
    IDC_CONNECTION_LIST,
    IDC_ALL_CHECK,
    IDC_RESULT_EDIT,
    IDC_ERASE_MEMORY,
    IDC_FILE_NAME_EDIT,
    IDC_FILE_BROWSE,
    IDC_OFFSET_EDIT,
    IDC_ADD_TO_LIST,
    IDC_DELETE_FROM_LIST,
    IDC_FILE_LIST,
    IDC_LOG_FILE_EDIT,
    IDC_LOG_FILE_BROWSE,
    IDC_WRITE,
    IDC_VERIFY,
    IDC_CANCEL_OPERATION,
    IDC_WRITE_WITH_VERIFY,
    IDC_EXIT,
    IDC_SERIALIZATION,
    IDC_CONNECTION_CHECK,
    IDC_PROGRAM,
};

constexpr int kAllMenuCommands[] = {
    ID_FILE_PROGRAM_FILES,    ID_FILE_SET_COMMAND_FILE, ID_FILE_EXIT,
    ID_VIEW_DETAIL_MODE,      ID_VIEW_SIMPLE_MODE,      ID_SETTING_TARGET,
    ID_SETTING_SERIALIZATION,
};

// Commands that change the target type or the layout: never while targets are plugged.
constexpr int kUnpluggedMenuCommands[] = {ID_VIEW_DETAIL_MODE, ID_VIEW_SIMPLE_MODE,
                                          ID_SETTING_TARGET};
constexpr int kAlwaysIdleMenuCommands[] = {ID_FILE_PROGRAM_FILES, ID_FILE_EXIT,
                                           ID_SETTING_SERIALIZATION};
// The record and the counters change only between operations.
constexpr int kRecordMenuCommands[] = {ID_SETTING_RECORD_FILE, ID_SETTING_RECORD_ON,
                                       ID_SETTING_RESET_YIELD};

// Usable in both idle layouts.
constexpr int kIdleControls[] = {
    IDC_PLUG,        IDC_ABOUT,         IDC_FILE_NAME_EDIT,
    IDC_FILE_BROWSE, IDC_OFFSET_EDIT,   IDC_DELETE_FROM_LIST,
    IDC_FILE_LIST,   IDC_LOG_FILE_EDIT, IDC_LOG_FILE_BROWSE,
    IDC_EXIT,        IDC_SERIALIZATION, IDC_CONNECTION_CHECK,
};

// Usable only while targets are plugged.
constexpr int kPluggedControls[] = {IDC_CONNECTION_LIST, IDC_ALL_CHECK, IDC_RESULT_EDIT,
                                    IDC_ERASE_MEMORY, IDC_WRITE_WITH_VERIFY};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// View modes

void CQuorvelDlg::SetViewMode(int mode) {
    const bool detail = mode == 0;
    if (detail) {
        for (int id : kSimpleModeControls)
            view_.ShowControl(id, false);
        for (const ControlSpec& c : MainWindowControls()) {
            if (c.detail) {
                view_.PlaceControl(c.id, *c.detail);
                view_.ShowControl(c.id, true);
            }
        }
        view_.SetWindowSize(kDetailWidthPx, kDetailHeightPx);
        view_.CheckMenuItem(ID_VIEW_DETAIL_MODE, true);
        view_.CheckMenuItem(ID_VIEW_SIMPLE_MODE, false);
        view_.EnableMenuItem(ID_FILE_SET_COMMAND_FILE, false);
        settings_.mode = 0;
    } else {
        settings_.mode = 1;
        for (int id : kDetailModeControls)
            view_.ShowControl(id, false);
        for (const ControlSpec& c : MainWindowControls())
            if (c.simple)
                view_.PlaceControl(c.id, *c.simple);
        for (int id : kSimpleModeControls)
            view_.ShowControl(id, true);
        view_.SetWindowSize(kSimpleWidthPx, kSimpleHeightPx);
        view_.CheckMenuItem(ID_VIEW_DETAIL_MODE, false);
        view_.CheckMenuItem(ID_VIEW_SIMPLE_MODE, true);
        view_.EnableMenuItem(ID_FILE_SET_COMMAND_FILE, true);
    }
    SetIdleState(detail ? IdleState::Unplugged : IdleState::AfterProgram);
    for (int id : kNeverShown)
        view_.ShowControl(id, false);
}

void CQuorvelDlg::OnViewDetailMode() {
    if (busy_ || plugged_ != 0)
        return;
    // What the operator typed survives the refresh from the members.
    UpdateData(true);
    SetViewMode(0);
    view_.ListDeleteAllRows(IDC_CONNECTION_LIST);
    UpdateData(false);
}

void CQuorvelDlg::OnViewSimpleMode() {
    if (busy_ || plugged_ != 0)
        return;
    UpdateData(true);
    SetViewMode(1);
    UpdateData(false);
}

// ---------------------------------------------------------------------------------------------
// Busy and idle

void CQuorvelDlg::SetBusyState(BusyKind kind) {
    busy_ = true;
    for (int id : kOperationControls)
        view_.EnableControl(id, false);
    if (kind == BusyKind::WriteVerify)
        view_.EnableControl(IDC_CANCEL_OPERATION, true);
    if (kind == BusyKind::StartUnplug)
        view_.EnableControl(IDC_CONNECTION_CHECK, true);
    switch (kind) {
        case BusyKind::WriteVerify:
        case BusyKind::EraseSave:
        case BusyKind::ProgramCycle:
            for (int command : kAllMenuCommands)
                view_.EnableMenuItem(command, false);
            break;
        case BusyKind::StartUnplug:
            for (int command : kAllMenuCommands)
                if (command != ID_FILE_SET_COMMAND_FILE)
                    view_.EnableMenuItem(command, true);
            break;
        case BusyKind::Plug:
            for (int command : kUnpluggedMenuCommands)
                view_.EnableMenuItem(command, false);
            break;
    }
    for (int command : kRecordMenuCommands)
        view_.EnableMenuItem(command, kind == BusyKind::StartUnplug);
    view_.RedrawMenuBar();
}

void CQuorvelDlg::SetIdleState(IdleState state) {
    if (state == IdleState::Unchanged)
        return;
    busy_ = false;
    const bool plugged = state == IdleState::AfterWriteVerify ||
                         state == IdleState::AfterEraseSave || state == IdleState::AfterPlug;

    view_.EnableControl(IDC_TARGET_COMBO, !plugged);
    for (int id : kIdleControls)
        view_.EnableControl(id, true);
    for (int id : kPluggedControls)
        view_.EnableControl(id, plugged);
    ApplyFileListEnables(plugged);
    view_.EnableControl(IDC_CANCEL_OPERATION, false);
    view_.EnableControl(IDC_ADD_TO_LIST,
                        !FirstLine(view_.GetControlText(IDC_FILE_NAME_EDIT)).empty());

    for (int command : kUnpluggedMenuCommands)
        view_.EnableMenuItem(command, !plugged);
    for (int command : kAlwaysIdleMenuCommands)
        view_.EnableMenuItem(command, true);
    for (int command : kRecordMenuCommands)
        view_.EnableMenuItem(command, true);
    view_.EnableMenuItem(ID_FILE_SET_COMMAND_FILE, settings_.mode == 1);

    view_.RedrawMenuBar();
    UpdateData(false);
    ReportIdle();
}

// ---------------------------------------------------------------------------------------------
// Commands, colours, About

bool CQuorvelDlg::OnWindowCommand(int id) {
    switch (id) {
        case ID_VIEW_DETAIL_MODE:
            OnViewDetailMode();
            return true;
        case ID_VIEW_SIMPLE_MODE:
            OnViewSimpleMode();
            return true;
        case IDC_ALL_CHECK:
            OnAllCheck();
            return true;
        case IDC_ABOUT:
        case IDM_ABOUTBOX:
            OnAbout();
            return true;
        default:
            return false;
    }
}

Rgb CQuorvelDlg::ResultFieldColour(programdata::ResultCode resultDisplayState) {
    switch (resultDisplayState) {
        case programdata::kResultSuccess:
            return {0, 255, 0};
        case programdata::kResultPartialSuccess:
            return {255, 255, 0};
        case programdata::kResultFailure:
            return {255, 0, 0};
        case programdata::kResultStopped:
            return {0, 0, 255};
        case programdata::kResultRunning:
            return {255, 255, 255};
    }
    return {255, 255, 255};
}

std::optional<Rgb> CQuorvelDlg::OnControlColour(int id) {
    if (id == IDC_RESULT_EDIT)
        return ResultFieldColour(resultDisplayState_);
    return std::nullopt;
}

AboutInfo CQuorvelDlg::MakeAboutInfo() {
    AboutInfo info;
    info.versionLine = "Quorvel Version : ";
#if defined(QUORVEL_VERSION_MAJOR) && defined(QUORVEL_VERSION_MINOR)
    char version[32];
    std::snprintf(version, sizeof version, "%d.%02d", QUORVEL_VERSION_MAJOR, QUORVEL_VERSION_MINOR);
    info.versionLine += version;
#endif
    info.secondLine = "Multiple flash writer for up to 32 Vexil adapters";
    return info;
}

void CQuorvelDlg::OnAbout() {
    view_.RunAboutDialog(MakeAboutInfo());
}
