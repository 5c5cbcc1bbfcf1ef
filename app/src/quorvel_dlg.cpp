#include "app/quorvel_dlg.h"

#include <cstring>

#include "app/control_ids.h"
#include "app/program_paths.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/target_info.h"
#include "operation_run.h"
#include "platform/files.h"
#include "programdata/string_table.h"

namespace {

// The largest TARGETID_BIT_NUM the writer accepts.
constexpr uint8_t kMaxTargetIdBits = 93;
constexpr uint32_t kAdapterMutexWaitMs = 3000;

constexpr const char* kFillFfText = "0xFF";
constexpr const char* kFillFlashText = "Content of Flash Memory";

// Buttons on which Enter presses the button; everywhere else Enter is swallowed.
constexpr int kEnterButtons[] = {
    IDC_FILE_BROWSE,  IDC_ADD_TO_LIST, IDC_DELETE_FROM_LIST, IDC_WRITE,  IDC_CANCEL_OPERATION,
    IDC_ERASE_MEMORY, IDC_ALL_CHECK,   IDC_SERIALIZATION,    IDC_VERIFY, IDC_EXIT,
    IDC_ABOUT,        IDC_PLUG,        IDC_LOG_FILE_BROWSE,  IDC_PROGRAM};

std::string Text(uint32_t id) {
    return std::string(GetStringText(id));
}

}  // namespace

CQuorvelDlg::CQuorvelDlg(DialogView& view, std::string programName, AdapterLock& adapterLock)
    : view_(view), programName_(std::move(programName)), adapterLock_(adapterLock) {
    programData_.SetObserver(this);
    // The record and the band follow every operation, under whatever view runs the dialog.
    observers_.push_back(&recorder_);
    observers_.push_back(&band_);
    recorder_.SetLineDelivery(
        [this](const std::string& path, const std::vector<LineRecordRow>& rows) {
            DeliverLineRows(path, rows);
        });
    // An exchange that waits for a silent adapter keeps the window alive and sees a Cancel.
    ApiObj.SetExchangeWaitHook(&CQuorvelDlg::ExchangeWait, this);
}

int CQuorvelDlg::ExchangeWait(void* context) {
    CQuorvelDlg& dlg = *static_cast<CQuorvelDlg*>(context);
    if (dlg.run_ == nullptr)
        return 1;
    const bool cancelled = dlg.run_->Cancelled();
    // Erase cannot be interrupted: giving up its long wait would fail targets being erased.
    return cancelled && dlg.run_->op() != programdata::kOperationErase ? 0 : 1;
}

CQuorvelDlg::~CQuorvelDlg() {
    ApiObj.SetExchangeWaitHook(nullptr, nullptr);
    // Normally handed back in OnDestroy; this covers a dialog that never ran to its end.
    if (targetSet_ != nullptr)
        ApiObj.DeleteTargetInfoSet(&targetSet_);
}

DialogResult CQuorvelDlg::DoModal() {
    return view_.RunModal(*this);
}

// ---------------------------------------------------------------------------------------------
// Reporting

void CQuorvelDlg::ShowError(uint32_t id) {
    view_.MessageBox({id, Text(id), programName_, MsgIcon::Error, MsgButtons::Ok});
}

void CQuorvelDlg::ShowWarning(uint32_t id) {
    view_.MessageBox({id, Text(id), programName_, MsgIcon::Warning, MsgButtons::Ok});
}

void CQuorvelDlg::ShowInformation(uint32_t id) {
    view_.MessageBox({id, Text(id), programName_, MsgIcon::Information, MsgButtons::Ok});
}

void CQuorvelDlg::ShowFileError(uint32_t id, const std::string& fileName) {
    view_.MessageBox({id, FormatStringText(id, fileName), programName_, MsgIcon::Error,
                      MsgButtons::Ok, fileName});
}

bool CQuorvelDlg::AskOkCancel(uint32_t id) {
    return view_.MessageBox(
               {id, Text(id), programName_, MsgIcon::Question, MsgButtons::OkCancel}) == IDOK;
}

bool CQuorvelDlg::AcquireAdapterMutex() {
    if (adapterLock_.Wait(kAdapterMutexWaitMs))
        return true;
    // A lock that cannot even be made (its directory refused): the log says where and why.
    if (const std::string problem = adapterLock_.Problem(); !problem.empty())
        WriteLogText(problem + "\n");
    ShowError(adapterLock_.Denied() ? IDS_ADAPTER_MUTEX_DENIED : IDS_ADAPTER_NOT_CONNECTED);
    adapterLock_.Release();
    return false;
}

// ---------------------------------------------------------------------------------------------
// Start-up

bool CQuorvelDlg::OnInitDialog() {
    // 1. Base initialisation: the view has created the window and its controls.
    // 2. About item in the system menu.
    if (!GetStringText(IDS_ABOUTBOX).empty())
        view_.AppendSystemMenuItem(IDM_ABOUTBOX, Text(IDS_ABOUTBOX));
    // 3. The view gives the window the program icon (IDR_MAINFRAME) when it creates it.
    // 4. Settings file beside the executable (a console run may name another).
    settingsFile_ = runOverrides_ && !runOverrides_->settingsPath.empty()
                        ? SettingsFile(runOverrides_->settingsPath)
                        : SettingsFile::BesideExecutable();
    // 5. Target descriptions.
    uint16_t foundCount = 0;
    targetSet_ = ApiObj.ReadTargetInfoFile(kMaxTargetIdBits, foundCount);
    // 6. Nothing usable: the program ends.
    if (targetSet_ == nullptr) {
        ShowError(foundCount == 0 ? IDS_TRG_NOT_FOUND : IDS_TRG_NONE_READ);
        view_.EndDialog(IDCANCEL);
        return false;
    }
    initialised_ = true;
    // 7. Some files skipped.
    if (targetSet_->count != foundCount)
        ShowWarning(IDS_TRG_SOME_SKIPPED);
    // 8. Target list.
    view_.ComboReset(IDC_TARGET_COMBO);
    for (uint32_t i = 0; i < targetSet_->count; ++i)
        view_.ComboAddString(IDC_TARGET_COMBO, TargetName(i));
    // 9. Stored target.
    SelectStoredTarget();
    // 10. Apply it; writing TRGNAME creates the settings file when it is missing.
    OnTargetChange();
    // 11. Fonts and list columns.
    CreateFonts();
    SetUpListViews();
    // 12. Unplugged.
    SetUnpluggedState();
    // 13. Serialization settings.
    settingsFile_.ReadSerialSettings(settings_);
    // 14. Display mode.
    settingsFile_.ReadMode(settings_.mode);
    // 15. Program file list, log and command file names.
    RestoreFileList();
    // 16. Display mode applied.
    SetViewMode(settings_.mode);
    // 17. Serial-number text.
    serialText_ = settings_.serialOn
                      ? FormatHexBytes(settings_.serialNumber, settings_.serialLength)
                      : std::string();
    // 18. Fill type.
    settingsFile_.ReadFillType(settings_.fillType);
    ApplyFillType();
    // 19. Members to controls.
    UpdateData(false);
    // The production record's settings and the yield counters of earlier runs.
    settingsFile_.ReadRecordSettings(settings_);
    view_.CheckMenuItem(ID_SETTING_RECORD_ON, settings_.recordOn != 0);
    band_.Load(YieldStatePath());
    return true;
}

std::string CQuorvelDlg::TargetName(uint32_t index) const {
    if (targetSet_ == nullptr || targetSet_->entries == nullptr || index >= targetSet_->count)
        return {};
    const char* name = targetSet_->entries[index].name;
    return std::string(name, strnlen(name, sizeof targetSet_->entries[index].name));
}

void CQuorvelDlg::SelectStoredTarget() {
    uint32_t index = 0;
    std::string stored;
    const bool named = runOverrides_ && runOverrides_->targetName;
    if (named)
        stored = *runOverrides_->targetName;
    if (named || settingsFile_.ReadTargetName(stored)) {
        // A run's name is looked up as the TRG files are found: in any letter case, the exact
        // spelling first.
        auto upper = [](std::string text) {
            for (char& c : text)
                c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            return text;
        };
        auto find = [&](auto same) {
            for (uint32_t i = 0; i < targetSet_->count; ++i) {
                if (same(TargetName(i))) {
                    index = i;
                    return true;
                }
            }
            return false;
        };
        if (!find([&](const std::string& name) { return name == stored; }) && named)
            find([&](const std::string& name) { return upper(name) == upper(stored); });
    }
    view_.ComboSetCurSel(IDC_TARGET_COMBO, static_cast<int>(index));
    selectedTarget_ = index;
    settings_.targetName = TargetName(index);
}

FontSpec CQuorvelDlg::FileListFont() {
    const bool japanese = view_.LocaleLanguageName() == "日本語";
    return {japanese ? "ＭＳ ゴシック" : "Courier New", -12, true};
}

void CQuorvelDlg::CreateFonts() {
    const FontSpec listFont = FileListFont();
    const bool japanese = view_.LocaleLanguageName() == "日本語";
    FontSpec resultFont{listFont.face, japanese ? -32 : -26, true};
    for (int id : {IDC_CONNECTION_LIST, IDC_CHECK_LIST_LOW, IDC_CHECK_LIST_HIGH})
        view_.SetControlFont(id, listFont);
    view_.SetControlFont(IDC_RESULT_EDIT, resultFont);
}

void CQuorvelDlg::SetUpListViews() {
    view_.ListSetStyle(IDC_CONNECTION_LIST, true, true, true);
    view_.ListAddColumn(IDC_CONNECTION_LIST, Text(IDS_COLUMN_ENABLE), 20);
    view_.ListAddColumn(IDC_CONNECTION_LIST, Text(IDS_COLUMN_TARGET_NO), 25);
    view_.ListAddColumn(IDC_CONNECTION_LIST, Text(IDS_COLUMN_SERIAL_NO), 190);
    view_.ListAddColumn(IDC_CONNECTION_LIST, Text(IDS_COLUMN_STATUS), 250);
    for (int id : {IDC_CHECK_LIST_LOW, IDC_CHECK_LIST_HIGH}) {
        view_.ListSetStyle(id, true, false, true);
        view_.ListAddColumn(id, "No.", 15);
        view_.ListAddColumn(id, Text(IDS_COLUMN_SERIAL_NO), 100);
        view_.ListAddColumn(id, Text(IDS_COLUMN_STATUS), 105);
    }
}

void CQuorvelDlg::SetUnpluggedState() {
    SetBusyState(BusyKind::StartUnplug);
    SetIdleState(IdleState::Unplugged);
    view_.SetControlText(IDC_PLUG, "&Plug");
    plugged_ = 0;
}

void CQuorvelDlg::RestoreFileList() {
    // 1. The file list's columns.
    view_.ListSetStyle(IDC_FILE_LIST, true, false, true);
    view_.ListAddColumn(IDC_FILE_LIST, Text(IDS_COLUMN_FILE_NAME), 220);
    view_.ListAddColumn(IDC_FILE_LIST, Text(IDS_COLUMN_START_ADDRESS), 30);
    view_.ListAddColumn(IDC_FILE_LIST, Text(IDS_COLUMN_END_ADDRESS), 30);
    view_.ListAddColumn(IDC_FILE_LIST, Text(IDS_COLUMN_OFFSET), 40);
    view_.ListAddColumn(IDC_FILE_LIST, Text(IDS_COLUMN_FLASH_START), 40);
    // 2. Log file name without a directory until the file says otherwise.
    settings_.logFileName = kDefaultLogFileName;
    // 3. Nothing more without a settings file (a console run's own files still count: it may be
    // about to create that file).
    if (!settingsFile_.Exists() && !(runOverrides_ && runOverrides_->programFiles))
        return;
    // 4. and 5. The stored entries through the file list, with one 2080 for all of them.
    RestoreProgramFiles();
    // 6. and 7. Log and command file names, defaulting to the executable's directory (or to
    // the directory of the settings file a console run named).
    const std::string exeDir = DefaultFileDirectory();
    settings_.logFileName = settingsFile_.ReadLogFileName();
    if (settings_.logFileName.empty())
        settings_.logFileName = exeDir + kDefaultLogFileName;
    settings_.commandFileName = settingsFile_.ReadCommandFileName();
    if (settings_.commandFileName.empty())
        settings_.commandFileName = exeDir + kDefaultCommandFileName;
    if (runOverrides_ && runOverrides_->logFileName)
        settings_.logFileName = *runOverrides_->logFileName;
    if (runOverrides_ && runOverrides_->commandFileName)
        settings_.commandFileName = *runOverrides_->commandFileName;
    // 8. The checksum of the restored list.
    RefreshChecksum();
}

std::string CQuorvelDlg::DefaultFileDirectory() const {
    if (!runOverrides_ || runOverrides_->settingsPath.empty())
        return ExecutableDirectory();
    char drive[3] = {}, dir[plat::MAX_PATH] = {};
    plat::SplitPath(runOverrides_->settingsPath.c_str(), drive, sizeof drive, dir, sizeof dir,
                    nullptr, 0, nullptr, 0);
    return std::string(drive) + dir;
}

void CQuorvelDlg::ApplyFillType() {
    fillText_ = settings_.fillType == 1 ? kFillFlashText : kFillFfText;
    programData_.SetFillType(settings_.fillType == 1 ? programdata::kFillFlashContent
                                                     : programdata::kFillErased);
}

// ---------------------------------------------------------------------------------------------
// Members and controls

void CQuorvelDlg::UpdateData(bool fromControls) {
    if (fromControls) {
        // Only the fields the operator can edit; the others are the members' own display.
        settings_.logFileName = view_.GetControlText(IDC_LOG_FILE_EDIT);
        fileNameText_ = view_.GetControlText(IDC_FILE_NAME_EDIT);
        offsetText_ = view_.GetControlText(IDC_OFFSET_EDIT);
        writeWithVerify_ = view_.GetCheck(IDC_WRITE_WITH_VERIFY) ? 1 : 0;
        return;
    }
    view_.SetControlText(IDC_TARGET_NAME_EDIT, settings_.targetName);
    view_.SetControlText(IDC_LOG_FILE_EDIT, settings_.logFileName);
    view_.SetControlText(IDC_COMMAND_FILE_EDIT, settings_.commandFileName);
    view_.SetControlText(IDC_FILL_TEXT_EDIT, fillText_);
    view_.SetCheck(IDC_FILL_FF, settings_.fillType != 1);
    view_.SetCheck(IDC_FILL_FLASH_CONTENT, settings_.fillType == 1);
    view_.SetCheck(IDC_WRITE_WITH_VERIFY, writeWithVerify_ != 0);
    view_.SetControlText(IDC_SERIAL_TEXT_EDIT, serialText_);
    view_.SetControlText(IDC_CHECKSUM_EDIT, checksumText_);
    view_.SetControlText(IDC_FILE_NAME_EDIT, fileNameText_);
    view_.SetControlText(IDC_OFFSET_EDIT, offsetText_);
}

// ---------------------------------------------------------------------------------------------
// Handlers

void CQuorvelDlg::OnCloseRequest() {
    if (AskOkCancel(IDS_CONFIRM_EXIT))
        view_.EndDialog(IDCANCEL);
}

void CQuorvelDlg::OnExit() {
    if (AskOkCancel(IDS_CONFIRM_EXIT))
        view_.EndDialog(IDOK);
}

void CQuorvelDlg::OnCommand(int id) {
    if (OnWindowCommand(id))
        return;
    switch (id) {
        case IDC_EXIT:
        case ID_FILE_EXIT:
            OnExit();
            break;
        case IDC_ADD_TO_LIST:
            OnAddToList();
            break;
        case IDC_DELETE_FROM_LIST:
            OnDeleteFromList();
            break;
        case IDC_FILE_BROWSE:
            OnBrowseProgramFile();
            break;
        case ID_FILE_PROGRAM_FILES:
            OnProgramFileDialog();
            break;
        case ID_SETTING_TARGET:
            OnSelectTargetDialog();
            break;
        case IDC_LOG_FILE_BROWSE:
            OnLogFileBrowse();
            break;
        case IDC_PLUG:
            OnPlugButton();
            break;
        case IDC_CONNECTION_CHECK:
            OnConnectionCheck();
            break;
        case IDC_SERIALIZATION:
        case ID_SETTING_SERIALIZATION:
            OnSerialization();
            break;
        case IDC_WRITE:
            OnWrite();
            break;
        case IDC_VERIFY:
            OnVerify();
            break;
        case IDC_ERASE_MEMORY:
            OnEraseMemory();
            break;
        case IDC_CANCEL_OPERATION:
            OnCancelOperation();
            break;
        case IDC_PROGRAM:
            OnProgram();
            break;
        case ID_FILE_SET_COMMAND_FILE:
            OnSetCommandFile();
            break;
        case ID_SETTING_RECORD_FILE:
            OnChooseRecordFile();
            break;
        case ID_SETTING_RECORD_ON:
            OnToggleRecord();
            break;
        case ID_SETTING_RESET_YIELD:
            OnResetYield();
            break;
        default:
            break;
    }
}

void CQuorvelDlg::OnComboSelChange(int id) {
    if (id == IDC_TARGET_COMBO)
        OnTargetChange();
}

void CQuorvelDlg::OnEditChange(int id) {
    if (id == IDC_FILE_NAME_EDIT)
        OnFileNameChange();
}

bool CQuorvelDlg::IsEnterPassedOn(int focusId) {
    for (int id : kEnterButtons)
        if (id == focusId)
            return true;
    return false;
}

bool CQuorvelDlg::SaveSerialSettings(bool rewind) {
    if (settingsFile_.WriteSerialSettings(settings_, rewind))
        return true;
    ShowFileError(IDS_INI_WRITE_FAILED, settingsFile_.Path());
    return false;
}

// ---------------------------------------------------------------------------------------------
// Shutdown

void CQuorvelDlg::OnDestroy() {
    if (initialised_)
        UpdateData(true);
    // 1. Serialization settings while plugged.
    if (plugged_ != 0)
        SaveSerialSettings();
    // 2. Reset and unplug every target.
    ResetAllTargets();
    // 3. Images and the connection list.
    ReleaseImagesAndConnection();
    // 4. Target descriptions back to the library.
    if (targetSet_ != nullptr)
        ApiObj.DeleteTargetInfoSet(&targetSet_);
    // 5. Settings. An abandoned start leaves the stored settings (and file list) untouched.
    // A console run leaves them as they are.
    if (initialised_ && !runOverrides_ && !settingsFile_.SaveAtShutdown(settings_))
        ShowFileError(IDS_INI_WRITE_FAILED, settingsFile_.Path());
    ReleaseProgramFiles();
    // 6. The view destroys the window after this returns.
    // 7. The adapter mutex (a release without ownership does nothing).
    adapterLock_.Release();
    adapterMutexHeld_ = false;
}
