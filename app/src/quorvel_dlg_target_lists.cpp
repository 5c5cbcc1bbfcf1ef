// The three target lists: their rows, colours and check boxes, the Connection List's menu and
// the identification of an adapter by its light.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/flash_status.h"
#include "brindlex/quorvel_api.h"
#include "target_cells.h"

namespace {

constexpr uint32_t kIdentifyLightMs = 5000;

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kFailedRed{255, 0, 0};
constexpr Rgb kNotPluggedGrey{128, 128, 128};

bool IsTargetList(int listId) {
    return listId == IDC_CONNECTION_LIST || listId == IDC_CHECK_LIST_LOW ||
           listId == IDC_CHECK_LIST_HIGH;
}

int TargetOfRow(int listId, int row) {
    return listId == IDC_CHECK_LIST_HIGH ? row + kTargetsInLowList + 1 : row + 1;
}

}  // namespace

void CQuorvelDlg::BuildTargetRows() {
    for (int id : {IDC_CONNECTION_LIST, IDC_CHECK_LIST_LOW, IDC_CHECK_LIST_HIGH})
        view_.ListDeleteAllRows(id);
    for (int n : targets::All()) {
        const std::string number = std::to_string(n);
        view_.ListInsertRow(IDC_CONNECTION_LIST, n - 1, "");
        view_.ListSetCell(IDC_CONNECTION_LIST, n - 1, 1, "Target" + number);
        view_.ListSetRowCheck(IDC_CONNECTION_LIST, n - 1, false);
        if (n <= kTargetsInLowList)
            view_.ListInsertRow(IDC_CHECK_LIST_LOW, n - 1, number);
        else
            view_.ListInsertRow(IDC_CHECK_LIST_HIGH, n - 1 - kTargetsInLowList, number);
        ApiSetEnableFlg(n, 1);
    }
}

std::optional<Rgb> CQuorvelDlg::OnListRowColour(int listId, int row) {
    if (!IsTargetList(listId) || row < 0)
        return std::nullopt;
    const int target = TargetOfRow(listId, row);
    if (targets::Status(target) == FLASH_OK)
        return kWhite;
    return targets::Plugged(target) ? kFailedRed : kNotPluggedGrey;
}

void CQuorvelDlg::OnListCheckChanged(int listId, int row, bool checked) {
    if (listId != IDC_CONNECTION_LIST || row < 0)
        return;
    const int target = row + 1;
    if (checked && targets::Plugged(target)) {
        ApiSetEnableFlg(target, 1);
        return;
    }
    // A target that did not plug cannot take part: its box does not stay checked.
    if (checked)
        view_.ListSetRowCheck(IDC_CONNECTION_LIST, row, false);
    ApiSetEnableFlg(target, 0);
}

void CQuorvelDlg::OnAllCheck() {
    const int rows = view_.ListRowCount(IDC_CONNECTION_LIST);
    if (allCheckToggle_ == 0) {
        for (int row = 0; row < rows; ++row)
            view_.ListSetRowCheck(IDC_CONNECTION_LIST, row, false);
        allCheckToggle_ = 1;
    } else {
        for (int row = 0; row < rows; ++row)
            if (targets::Plugged(row + 1))
                view_.ListSetRowCheck(IDC_CONNECTION_LIST, row, true);
        allCheckToggle_ = 0;
    }
}

void CQuorvelDlg::OnListRightClick(int listId, int row) {
    // Empty space below the rows has no target and no menu.
    if (listId != IDC_CONNECTION_LIST || row < 0 || row >= view_.ListRowCount(listId))
        return;
    const int target = row + 1;
    const bool canSave =
        targets::Plugged(target) && targets::Enabled(target) && targets::Status(target) == FLASH_OK;
    view_.ListSelectRow(listId, row);
    const int command = view_.TrackPopupMenu({
        {ID_TARGET_SAVE_MEMORY, "Save Memory", !canSave},
        {ID_TARGET_PROPERTIES, "Properties", false},
    });
    if (command == ID_TARGET_SAVE_MEMORY && canSave)
        OnSaveMemory(target);
    else if (command == ID_TARGET_PROPERTIES)
        ShowTargetProperties(target);
}

void CQuorvelDlg::ShowTargetProperties(int target) {
    std::string firmware;
    FirmwareVersionText(target, firmware);
    const std::string path = targets::DevicePath(target).value_or("");
    const std::string text = "Target No." + std::to_string(target) + "\n" +
                             "Firmware Version: " + firmware + "\n" + "USB Device Path: " + path +
                             "\n" + "\n";
    view_.MessageBox({0, text, programName_, MsgIcon::Information, MsgButtons::Ok});
}

void CQuorvelDlg::OnListDoubleClick(int listId, int row) {
    // Reconnecting in the middle of an operation would pull the connection from under it.
    if (!IsTargetList(listId) || row < 0 || busy_)
        return;
    // While plugged the connection is in use: light the adapter through it rather than
    // reconnecting, which would drop every plugged target.
    if (listId == IDC_CONNECTION_LIST || plugged_ != 0)
        IdentifyConnectedTarget(TargetOfRow(listId, row));
    else
        IdentifyByReconnecting(TargetOfRow(listId, row));
}

void CQuorvelDlg::IdentifyConnectedTarget(int target) {
    view_.SetWaitCursor(true);
    ApiErrorTargetLED(target);
    WaitWhileLit();
    ApiCheckFirm(target);
    view_.SetWaitCursor(false);
}

void CQuorvelDlg::IdentifyByReconnecting(int target) {
    // Connecting resets every adapter: never while another program is working with them.
    if (!TakeAdapters())
        return;
    view_.SetWaitCursor(true);
    ApiDelConnect();
    if (ApiCreateConnect() == 1) {
        ApiSysResetPlug(target);
        int status = -1;
        if (ApiGetTargetStatus(target, &status) != 0 && status == 0) {
            ApiErrorTargetLED(target);
            WaitWhileLit();
            ApiObj.SysReset(target);
            ApiSetTargetPlugStatus(target, PLUG_NONE);
        }
    }
    // The connection was only made to light one adapter.
    ApiDelConnect();
    ReleaseAdapters();
    view_.SetWaitCursor(false);
}

void CQuorvelDlg::WaitWhileLit() {
    if (identifyWait_)
        identifyWait_(kIdentifyLightMs);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdentifyLightMs));
}
