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

namespace {

// Simple mode splits the targets over two lists: 1 to 16 and 17 and up.
constexpr int kTargetsPerSmallList = 16;
constexpr uint32_t kIdentifyLightMs = 5000;
// Device paths and version texts are short; anything longer is not a text we show.
constexpr uint32_t kLongestText = 32 * 1024;

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kFailedRed{255, 0, 0};
constexpr Rgb kNotPluggedGrey{128, 128, 128};

bool IsTargetList(int listId) {
    return listId == IDC_CONNECTION_LIST || listId == IDC_CHECK_LIST_LOW ||
           listId == IDC_CHECK_LIST_HIGH;
}

int TargetOfRow(int listId, int row) {
    return listId == IDC_CHECK_LIST_HIGH ? row + kTargetsPerSmallList + 1 : row + 1;
}

bool PlugSucceeded(int target) {
    int flag = 0;
    return ApiIsTargetPlugSuccess(target, &flag) != 0 && flag != 0;
}

// The library's texts come in two calls: the size first, then the text.
template <class Fetch>
std::string FetchText(Fetch fetch) {
    uint32_t needed = 0;
    if (fetch(nullptr, 0, needed) == 0 || needed == 0 || needed > kLongestText)
        return {};
    std::string text(needed, '\0');
    uint32_t again = needed;
    if (fetch(text.data(), needed, again) == 0 || again > needed)
        return {};
    text.resize(strnlen(text.data(), needed));
    return text;
}

}  // namespace

void CQuorvelDlg::BuildTargetRows() {
    for (int id : {IDC_CONNECTION_LIST, IDC_CHECK_LIST_LOW, IDC_CHECK_LIST_HIGH})
        view_.ListDeleteAllRows(id);
    int count = 0;
    if (ApiGetTargetNum(&count) == 0)
        count = 0;
    for (int n = 1; n <= count; ++n) {
        const std::string number = std::to_string(n);
        view_.ListInsertRow(IDC_CONNECTION_LIST, n - 1, "");
        view_.ListSetCell(IDC_CONNECTION_LIST, n - 1, 1, "Target" + number);
        view_.ListSetRowCheck(IDC_CONNECTION_LIST, n - 1, false);
        if (n <= kTargetsPerSmallList)
            view_.ListInsertRow(IDC_CHECK_LIST_LOW, n - 1, number);
        else
            view_.ListInsertRow(IDC_CHECK_LIST_HIGH, n - 1 - kTargetsPerSmallList, number);
        ApiSetEnableFlg(n, 1);
    }
}

std::optional<Rgb> CQuorvelDlg::OnListRowColour(int listId, int row) {
    if (!IsTargetList(listId) || row < 0)
        return std::nullopt;
    const int target = TargetOfRow(listId, row);
    int status = 0;
    if (ApiGetTargetStatus(target, &status) == 0 || status == 0)
        return kWhite;
    return PlugSucceeded(target) ? kFailedRed : kNotPluggedGrey;
}

void CQuorvelDlg::OnListCheckChanged(int listId, int row, bool checked) {
    if (listId != IDC_CONNECTION_LIST || row < 0)
        return;
    const int target = row + 1;
    if (checked && PlugSucceeded(target)) {
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
            if (PlugSucceeded(row + 1))
                view_.ListSetRowCheck(IDC_CONNECTION_LIST, row, true);
        allCheckToggle_ = 0;
    }
}

void CQuorvelDlg::OnListRightClick(int listId, int row) {
    // Empty space below the rows has no target and no menu.
    if (listId != IDC_CONNECTION_LIST || row < 0 || row >= view_.ListRowCount(listId))
        return;
    const int target = row + 1;
    int enabled = 0, status = -1;
    const bool canSave = PlugSucceeded(target) && ApiGetEnableFlg(target, &enabled) != 0 &&
                         enabled == 1 && ApiGetTargetStatus(target, &status) != 0 && status == 0;
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
    const std::string firmware = FetchText([target](char* buffer, uint32_t size, uint32_t& need) {
        return ApiObj.GetFirmVerStr(target, buffer, size, need);
    });
    const std::string path = FetchText([target](char* buffer, uint32_t size, uint32_t& need) {
        return ApiGetDevicePathStr(target, buffer, size, &need);
    });
    const std::string text = "Target No." + std::to_string(target) + "\n" +
                             "Firmware Version: " + firmware + "\n" + "USB Device Path: " + path +
                             "\n" + "\n";
    view_.MessageBox(text, programName_, MsgIcon::Information, MsgButtons::Ok);
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
