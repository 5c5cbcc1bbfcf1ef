#pragma once
// CQuorvelDlg: the controller of the main window. It owns all writer state and implements every
// handler in terms of control ids; it reaches the screen only through DialogView.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/adapter_mutex.h"
#include "app/dialog_view.h"
#include "app/line_reports.h"
#include "app/line_services.h"
#include "app/operation_events.h"
#include "app/production_band.h"
#include "app/production_recorder.h"
#include "app/serial_source.h"
#include "app/writer_settings.h"
#include "programdata/operation_log.h"
#include "programdata/program_data.h"
#include "programdata/reporter.h"
#include "programdata/status_texts.h"

struct TRGINFO;
class CTargetInfo;
class OperationRun;

// A command file's lines, trimmed of white space and in upper case.
std::vector<std::string> SplitCommandLines(std::string_view text);

// The ID typed into the Security ID dialog's word fields, as the dialog hands them over (blanks
// where nothing was typed): a word typed in part counts with zeros in its blank positions; an
// untouched word, or anything but four hexadecimal digits, ends the ID there.
std::vector<uint16_t> TypedSecurityIdWords(const std::array<std::string, 12>& fields);

class CQuorvelDlg : public DialogEvents,
                    public programdata::FileListObserver,
                    public ProgramFileDialogHost {
  public:
    // programName captions every message box. adapterLock is the "Vexil" mutex (tests may
    // substitute their own).
    CQuorvelDlg(DialogView& view, std::string programName,
                AdapterLock& adapterLock = ProcessAdapterMutex());
    ~CQuorvelDlg() override;
    CQuorvelDlg(const CQuorvelDlg&) = delete;
    CQuorvelDlg& operator=(const CQuorvelDlg&) = delete;

    // Runs the dialog until it ends; answers the button that ended it.
    DialogResult DoModal();

    // DialogEvents.
    bool OnInitDialog() override;
    void OnDestroy() override;
    void OnCloseRequest() override;
    void OnCommand(int id) override;
    void OnComboSelChange(int id) override;
    void OnEditChange(int id) override;
    void OnListCheckChanged(int listId, int row, bool checked) override;
    void OnListRightClick(int listId, int row) override;
    void OnListDoubleClick(int listId, int row) override;
    bool IsEnterPassedOn(int focusId) override;
    std::optional<Rgb> OnListRowColour(int listId, int row) override;
    std::optional<Rgb> OnControlColour(int id) override;

    // Reporting: modal boxes with the program's name as caption.
    void ShowError(uint32_t id);
    void ShowWarning(uint32_t id);
    void ShowInformation(uint32_t id);
    // Error box for a text that names a file ("%1").
    void ShowFileError(uint32_t id, const std::string& fileName);
    // Question with OK and Cancel; true when the operator chose OK.
    bool AskOkCancel(uint32_t id);

    // Takes the adapter mutex within 3000 ms; on time-out shows 2039 (2091 when this program
    // may not use the mutex at all) and answers false.
    bool AcquireAdapterMutex();

    // Handlers.
    void OnExit();
    void OnTargetChange();

    // Serialization keys in their order; 2072 at the first failed write. The stored number only
    // goes backwards when the operator chose it (rewind).
    bool SaveSerialSettings(bool rewind = false);

    // Read access for the views and tests.
    const WriterSettings& Settings() const { return settings_; }
    const SettingsFile& SettingsFileLocation() const { return settingsFile_; }
    const TRGINFO* TargetSet() const { return targetSet_; }
    uint32_t SelectedTarget() const { return selectedTarget_; }
    bool IsPlugged() const { return plugged_ != 0; }

    // --- Main window: view modes, enable states, target lists, About ---------------------
    // mode 0: detail, otherwise simple.
    void SetViewMode(int mode);
    // What the window allows while an operation runs.
    enum class BusyKind {
        WriteVerify,   // Cancel stays usable
        EraseSave,     // nothing
        StartUnplug,   // start-up and Unplug: the connection check and the menus stay usable
        Plug,          // the menus that do not change the target type or the layout
        ProgramCycle,  // nothing
    };
    void SetBusyState(BusyKind kind);
    // The layout between operations: the first two and AfterPlug are the plugged layout.
    enum class IdleState {
        AfterWriteVerify,
        AfterEraseSave,
        Unplugged,
        AfterPlug,
        AfterProgram,  // the not-plugged layout of simple mode
        Unchanged,     // an operation that ends where it began
    };
    void SetIdleState(IdleState state);
    bool IsBusy() const { return busy_; }
    // Rows for targets 1 .. ApiGetTargetNum in the three target lists, every target enabled.
    void BuildTargetRows();
    void SetResultDisplayState(programdata::ResultCode state) { resultDisplayState_ = state; }
    static Rgb ResultFieldColour(programdata::ResultCode resultDisplayState);
    // The About box's two lines.
    static AboutInfo MakeAboutInfo();
    // How the identification waits while an adapter's light is on (tests replace it).
    using WaitFunction = std::function<void(uint32_t ms)>;
    void SetIdentifyWait(WaitFunction wait) { identifyWait_ = std::move(wait); }
    // Handlers.
    void OnViewDetailMode();
    void OnViewSimpleMode();
    void OnAllCheck();
    void OnAbout();
    // Memory save of one target from the Connection List's menu (quorvel_dlg_memory.cpp).
    void OnSaveMemory(int target);
    void ShowTargetProperties(int target);

    // --- Program files and target selection (quorvel_dlg_files.cpp, quorvel_dlg_target_type.cpp)
    // List 1151 follows the file list through these.
    void RowInserted(size_t row) override;
    void RowRemoved(size_t row) override;
    // The Add/Delete Hex/S File dialog works on the main list through these.
    FontSpec FileListFont() override;
    std::vector<std::array<std::string, 5>> FileListRows() override;
    bool AddFromDialog() override;
    void DeleteRows(const std::vector<int>& rows) override;

    void OnAddToList();
    void OnDeleteFromList();
    void OnBrowseProgramFile();
    void OnFileNameChange();
    void OnProgramFileDialog();
    void OnSelectTargetDialog();
    // Write and Verify follow the rows in the plugged layout, Program the rows and the command
    // file: the idle rule for these three, shared by SetIdleState and the file list's changes.
    void ApplyFileListEnables(bool pluggedLayout);

    const programdata::ProgramData& ProgramFiles() const { return programData_; }
    bool SerialOverlapConfirmed() const { return serialOverlapConfirmed_ != 0; }

    // --- Plug, Unplug and the connection check (quorvel_dlg_plug.cpp) ---
    // The Plug/Unplug button: Unplug while plugged, Plug otherwise.
    void OnPlugButton();
    // True when the targets are plugged. Every failure gives the adapters back to other
    // programs.
    bool Plug();
    void Unplug();
    void OnConnectionCheck();
    // How an operation ended: its targets were worked on (whatever their statuses), it failed
    // as a whole before that, or the operator stopped it.
    enum class Ending { Completed, Failed, Stopped };
    // The last operation (or Program cycle) failed as a whole or was stopped.
    bool OperationFailed() const { return lastEnding_ != Ending::Completed; }
    bool StoppedByCancel() const { return lastEnding_ == Ending::Stopped; }
    // A Cancel from outside the window (the console view's signals); no question is asked.
    void RequestCancel();
    bool HoldsAdapters() const { return adapterMutexHeld_; }
    // The clock operations are timed with (tests replace it).
    using OperationClock = std::chrono::steady_clock;
    void SetOperationClock(std::function<OperationClock::time_point()> now) {
        now_ = std::move(now);
    }

    // --- Security ID check (quorvel_dlg_security.cpp) ---
    // Unlocks every protected target; false when the operator chose to unplug everything.
    bool SecurityCheck();

    // --- Serialization (quorvel_dlg_serial.cpp) ---
    // The Serialization dialog (button 1021, menu 32784, and the overflow question of Write).
    void OnSerialization();
    // The numbers the plugged targets would get, shown and handed to the library; the stored
    // number does not change.
    void AssignSerialPreview();
    static constexpr const char* kWriteCaption = "&Write";
    static constexpr const char* kWriteWithSerialCaption = "&Write with \nSerial No.";

    // --- Write, Verify and Erase Memory (quorvel_dlg_operations.cpp) ---
    // Each fails when it stops before working on the targets; a target's own failure lives in
    // its status.
    void OnWrite() { RunWrite(); }
    void OnVerify() { RunVerify(); }
    void OnEraseMemory() { RunErase(); }
    // Cancel: asks 211; OK stops Write at the next block and Verify after the current file.
    void OnCancelOperation();
    // 2061 and false when no target is enabled.
    bool EnabledTargetCheck();
    // 2067 and false when serialization is on and its area is not flash.
    bool SerialAreaCheck();

    // --- Command files and the Program button (quorvel_dlg_program.cpp) ---
    void OnSetCommandFile();
    // Plug, the command file's commands, the result, Unplug.
    void OnProgram();
    // A name without drive and directory lies beside the executable.
    static std::string ResolveCommandFileName(const std::string& name);

    // --- Console runs (quorvel-cli) ---
    // One run's settings file and the values it uses instead of the stored ones. With these
    // set, the stored target, file list and log and command file names stay as the file has
    // them: neither a target change nor the shutdown writes them back. The serial number
    // reached and a security ID that unlocked a target are saved as always.
    struct RunOverrides {
        std::string settingsPath;  // empty: "Quorvel.ini" beside the executable
        std::optional<std::string> targetName;
        std::optional<std::vector<StoredProgramFile>> programFiles;
        std::optional<std::string> logFileName;
        std::optional<std::string> commandFileName;
        // The start serial number of the first Write (stored only then); rewind allows one
        // below the stored number.
        std::optional<std::array<uint8_t, kByteFieldSize>> startSerial;
        bool serialRewind = false;
        // A plug that finds another number of adapters stops before it checks any target.
        std::optional<int> expectedTargets;
    };
    // Before DoModal.
    void SetRunOverrides(RunOverrides overrides) { runOverrides_ = std::move(overrides); }
    // Where the log, command file and record lie when the settings leave them at their
    // defaults: beside a settings file the run named, otherwise beside the executable.
    std::string DefaultFileDirectory() const;

    // --- Adapters and program files for a line (quorvel_dlg_line.cpp) ---
    // Plugs, tells each adapter found, and unplugs. Nothing is erased or written: a protected
    // target gets no remembered ID and is never initialized; the view's Security ID dialog
    // may still send an ID it was given. Empty when the plug found no target to check.
    std::vector<AdapterListing> ListAdapters();
    // The checks a Write makes before it erases, without adapters, log or serial number taken
    // (messages and questions as a Write shows them), and what it would do: where each file's
    // data lands, the bytes its block erase loses, the checksum, and the serial numbers boards
    // 1 to boards would get.
    WriteCheck CheckWrite(int boards);
    // A new settings file at the run's settings path: every key the window writes, the run's
    // target and program files, the rest at their defaults, in simple mode (the Program
    // cycle's mode, where Write verifies only through the command file); beside it the
    // default command file (WRITE, VERIFY) unless one is there. Never replaces a file; a
    // failure to write shows 2072 naming the file.
    SettingsFile::Creation CreateSettingsFile();
    // --- end of console runs ---

    // --- The line of stations (LINEDB) ---
    // The program's line database client; not owned, none in a build without one. Before
    // DoModal.
    void SetLineServices(LineServices* line) { line_ = line; }

    // --- Operation events (quorvel_dlg_events.cpp) ---
    // Observers follow every operation; they are not owned and must outlive the dialog's run.
    // The production record and the yield band are always among them.
    void AddOperationObserver(OperationObserver* observer);

    // --- Production record and yield counters (quorvel_dlg_record.cpp) ---
    // Setting menu: choose the record file (and turn the record on), turn it on or off, reset
    // the counters after asking.
    void OnChooseRecordFile();
    void OnToggleRecord();
    void OnResetYield();
    // The file the record is appended to; empty while it is off.
    std::string RecordFilePath() const;
    const ProductionBand& Band() const { return band_; }
    void SetRecordClock(programdata::LocalTimeSource clock) {
        recorder_.SetClock(std::move(clock));
    }

    // --- Operation log and status texts (quorvel_dlg_status.cpp) ---
    // The log around one operation (op: programdata::OperationCode). Open takes the "Log File"
    // field first and answers false after 2056; the operation must then not start. The writers
    // answer false after a write failure (2053 shown once per operation) and the operation goes
    // on; close shows 2057.
    bool OpenOperationLog();
    bool WriteLogHeader(int op);
    bool WriteLogText(const std::string& text);
    // For Write with serialization the block names the serial number the library holds for the
    // target, over the configured byte count.
    bool WriteTargetLogBlock(int op, int target);
    bool CloseOperationLog();
    // At the start of an operation: empties the result field (running), then labels the
    // enabled targets' status cells and clears the status of every plugged one; Unplug in
    // detail mode empties the Connection List instead.
    void ShowProgressStatus(int op);
    // One target's cells after its operation; false only when its enable flag cannot be read.
    bool ShowTargetStatus(int target, int op);
    // The overall result text and its display state: STOP when stopped; otherwise outcome, or
    // without one the targets' statuses as the library holds them.
    void ShowOperationResult(int op, bool stopped = false,
                             std::optional<programdata::ResultCode> outcome = std::nullopt);
    // "..." next to "Log File".
    void OnLogFileBrowse();
    programdata::ResultCode ResultDisplayState() const { return resultDisplayState_; }
    void SetLogClock(programdata::LocalTimeSource clock) { log_.SetClock(std::move(clock)); }

    // --- Memory save and difference report (quorvel_dlg_memory.cpp) ---
    // Reads the target's whole flash and writes it to path; a failed read shows only in the
    // target's status cells and leaves no file. False when no file was written.
    bool SaveTargetMemory(int target, const std::string& path);
    // Verify's comparison of the write image with the flash image over [first, last], into the
    // open log, pumping messages so that Cancel is seen; false when bytes differ.
    bool CompareImages(uint32_t first, uint32_t last, uint32_t& differences);
    // --- end of memory save and difference report ---

  private:
    // Offset field text to a number (empty is 0); 2001 and false when it does not parse.
    bool ParseOffsetField(const std::string& text, int32_t& offset);
    // After a successful add: the serial-number overlap must be confirmed again, and 2080
    // tells the operator that part of the file has no flash.
    void AfterFileAdded(const programdata::AddFileResult& added);
    // Removes these rows of the file list, last first.
    void DeleteFileRows(const std::vector<int>& rows);
    // Rebuilds the checksum and shows it.
    void RefreshChecksum();
    // The file open dialog of "...": title 106, filter 109.
    static FileDialogSpec ProgramFileDialogSpec();
    // Step 15: the stored file list through AddProgramFile; destruction: back to the file.
    void RestoreProgramFiles();
    void ReleaseProgramFiles();

    // Initialisation steps of their own.
    void SelectStoredTarget();
    void CreateFonts();
    void SetUpListViews();
    void SetUnpluggedState();
    void RestoreFileList();
    void ApplyFillType();
    // Destruction steps of their own.
    void ResetAllTargets();
    void ReleaseImagesAndConnection();

    // Plug's steps of their own.
    bool TakeAdapters();
    void ReleaseAdapters();
    // A plug that ends before the targets were checked: message (0 for none), adapters
    // released, images back; answers false.
    bool AbandonPlug(OperationRun& run, uint32_t messageId);
    void ReallocateImages();
    bool RunTargetSequence();
    void TickPluggedTargets(int count);
    void ResetAndReleaseTargets(int count);
    // Unplug by the operator, or after the Security ID dialog's Unplug (the serial number
    // reached is not saved then: nothing was written).
    enum class UnplugCause { Operator, RefusedSecurity };
    void RunUnplug(UnplugCause cause);
    // The connection check runs Plug and Unplug without touching the connection list's
    // serial numbers or the chip names.
    bool InConnectionCheck() const;

    enum class SecurityVerdict { Next, Unplug, Initialized };
    SecurityVerdict CheckTargetSecurity(int target, int count);
    void InitializeProtectedTargets(int count);
    void RememberSecurityId(const std::vector<uint8_t>& bytes);
    // Once per run, a log line when the settings file holds an ID that others can read.
    void WarnIfSecurityIdReadable();

    // The Serialization dialog's fields as numbers.
    struct SerialFields {
        bool serialOn = false;
        uint32_t address = 0;
        uint16_t length = 4;
        std::array<uint8_t, kByteFieldSize> serial{};
        std::array<uint8_t, kByteFieldSize> increment{};
    };
    // 0, or the message of the first field that does not parse (2062 to 2065).
    uint32_t ParseSerialFields(const SerializationState& fields, SerialFields& out);
    SerializationState SerializationFields() const;
    class SerialFieldsValidator : public SerializationValidator {
      public:
        explicit SerialFieldsValidator(CQuorvelDlg& dlg) : dlg_(dlg) {}
        bool Accept(const SerializationState& fields) override;

      private:
        CQuorvelDlg& dlg_;
    };

    // Write, Verify and Erase; each answers how it ended (a Program cycle goes on only after
    // Completed).
    Ending RunWrite();
    Ending RunVerify();
    Ending RunErase();
    // A check before an operation failed: nothing began.
    Ending Refused();
    const CTargetInfo* SelectedDescription() const;
    // Where the keyboard goes once an operation is over.
    void FocusAfter(int op);
    // A registered file's "File Name: " and "Offset   : " lines in the log.
    void WriteFileLogLines(size_t row);
    // The write image from every file (with the overlap question 2069 and, when logged, the
    // log lines); false after its message.
    bool LoadWriteImage(bool logged = true);
    // Where each registered file's data lands, and what the block erase of a Write loses.
    void DescribeWrite(WriteCheck& check);
    // The plug session's serial numbers: the first and the increment between boards, and
    // whether they are taken for good (before the session's first erase).
    struct SerialSession {
        std::array<uint8_t, kByteFieldSize> start{};
        bool taken = false;
        std::array<uint8_t, kByteFieldSize> increment{};
        uint16_t incrementLength = 0;
    };
    // A session that starts from the stored number.
    SerialSession FreshSerialSession() const;
    // The numbers of the session's plugged targets, taken for good from the settings file or
    // the line's pool unless the session has them already. Overflow: a target would get a
    // number that wrapped around, or the stored one wrapped when it was taken.
    SerialGrant TakeSerialNumbers(const OperationRun& run);
    // At Plug, with a line set: a setting to be mended refuses the plug (false, after its
    // message); a server out of reach only leaves the record rows waiting.
    bool OpenLine();
    // A batch of record rows, for the line's record.
    void DeliverLineRows(const std::string& path, const std::vector<LineRecordRow>& rows);
    // Gives each plugged target its number, from the session's first.
    void HandOutSerialNumbers();
    // Erases and programs every block that meets an area; false when cancelled.
    bool WriteBlocks(OperationRun& run, const CTargetInfo& target);
    void ShowHeldSerialNumbers();
    enum class VerifyStep { Next, Failed, Cancelled };
    struct VerifyProgress {
        uint32_t done = 0;
        uint32_t total = 0;
    };
    // Compares one target's flash, read beforehand (read: the bytes its read delivered).
    VerifyStep VerifyTarget(OperationRun& run, int target, const std::vector<uint8_t>& flash,
                            uint32_t read, VerifyProgress& progress);

    // The library's hook while an exchange waits: runs the message pump during an operation;
    // 0 (give the exchange up) once a Cancel was confirmed, except during Erase.
    static int ExchangeWait(void* context);

    // Operation events (quorvel_dlg_events.cpp): what the observers are told.
    void NotifyStart(int op);
    void NotifyTargetResult(const TargetResult& result);
    void NotifyEnd(const OperationSummary& summary);
    void NotifyProgress(const OperationProgress& progress);
    void ReportIdle();
    // A target's result as the events carry it; status is the board's outcome.
    TargetResult MakeTargetResult(int op, int target, uint32_t status, uint32_t durationMs) const;

    // Production record and yield counters.
    // The chip name each plugged target's adapter reports, read once at plug time.
    void FetchChipNames(int count);
    std::string YieldStatePath() const;
    void WriteRecordSettings();
    void OnRecordWriteFailed(const std::string& path);

    // Main window commands (View menu, About, All Check); false for any other command.
    bool OnWindowCommand(int id);
    void IdentifyConnectedTarget(int target);
    void IdentifyByReconnecting(int target);
    void WaitWhileLit();

    // Members to controls (toControls) or the operator's entries back to the members.
    void UpdateData(bool fromControls);
    std::string TargetName(uint32_t index) const;

    DialogView& view_;
    std::string programName_;
    AdapterLock& adapterLock_;

    SettingsFile settingsFile_;  // the settings file path, formed at initialisation
    TRGINFO* targetSet_ = nullptr;
    uint32_t selectedTarget_ = 0;
    WriterSettings settings_;  // includes the selected target name, log and command file
    std::string fillText_ = "0xFF";
    int32_t writeWithVerify_ = 1;
    int32_t plugged_ = 0;
    programdata::ResultCode resultDisplayState_ = programdata::kResultRunning;
    int32_t serialOverlapConfirmed_ = 0;
    SerialSession serialSession_;
    std::string serialText_;
    std::string checksumText_;
    std::string fileNameText_;
    std::string offsetText_;
    // Main window state.
    int32_t allCheckToggle_ = 0;  // 0: the next All Check clears every box
    bool busy_ = false;
    bool adapterMutexHeld_ = false;
    bool securityIdWarned_ = false;
    // The innermost operation going on, and how the last one ended.
    friend class OperationRun;
    OperationRun* run_ = nullptr;
    Ending lastEnding_ = Ending::Completed;
    std::function<OperationClock::time_point()> now_ = OperationClock::now;
    std::vector<OperationObserver*> observers_;
    WaitFunction identifyWait_;
    std::optional<RunOverrides> runOverrides_;
    LineServices* line_ = nullptr;
    SettingsSerialSource localSerials_{settingsFile_};
    // Set once initialisation got past reading the target descriptions; an abandoned start
    // leaves the stored settings as they are.
    bool initialised_ = false;

    // --- Operation log and status texts ---
    // Shows programdata's messages in boxes of this dialog.
    class MessageReporter : public programdata::ProgramDataReporter {
      public:
        explicit MessageReporter(CQuorvelDlg& dlg) : dlg_(dlg) {}
        void Report(int messageId, const std::string& fileName,
                    programdata::MessageIcon icon) override;

      private:
        CQuorvelDlg& dlg_;
    };
    // A target's cells in the Connection List and in its list of simple mode.
    void SetTargetCells(int target, int connectionColumn, const std::string& connectionText,
                        int checkListColumn, const std::string& checkListText);
    void SetTargetStatusCells(int target, const std::string& text);
    // Result field text and display state; the field's colour follows the state.
    void SetResultField(const std::string& text, programdata::ResultCode state);
    // The adapter's firmware version text for the log (two-call size protocol).
    static bool FirmwareVersionText(int target, std::string& text);
    MessageReporter logReporter_{*this};
    programdata::OperationLog log_{logReporter_, programdata::SystemLocalTime,
                                   &CQuorvelDlg::FirmwareVersionText};

    // The geometry, the images and the registered files; reports in boxes of this dialog.
    programdata::ProgramData programData_{logReporter_};

    // --- Production record and yield counters ---
    static constexpr int kMaxTargets = 32;
    std::array<std::string, kMaxTargets + 1> chipNames_;  // by target number
    // Each target's protection as the last security check left it, by target number.
    std::array<Protection, kMaxTargets + 1> protection_{};
    // ListAdapters' plug: no remembered ID, no Initialize.
    bool listing_ = false;
    ProductionBand band_{view_};
    ProductionRecorder recorder_{[this] { return RecordFilePath(); },
                                 [this](const std::string& path) { OnRecordWriteFailed(path); }};
};
