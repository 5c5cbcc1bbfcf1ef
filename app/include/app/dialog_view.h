#pragma once
// DialogView: everything the controller (CQuorvelDlg) asks of the screen, by control id.
// DialogEvents: everything the screen tells the controller. The Qt window, the scripted fake
// of the tests and a console view for automated lines implement the first and call the second.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "programdata/string_table.h"

// A rectangle in dialog units: left, top, right, bottom.
struct DlgRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const DlgRect&) const = default;
};

struct Rgb {
    uint8_t r = 255, g = 255, b = 255;
    bool operator==(const Rgb&) const = default;
};

enum class MsgIcon { Error, Warning, Information, Question };
enum class MsgButtons { Ok, OkCancel };
// The button that closed a message box or a modal dialog (IDOK, IDCANCEL, ...).
using DialogResult = int;

// A message box: the text as shown, and the string-table number it came from, so that views
// which answer or log by number need not guess it from the text.
struct MessageBoxSpec {
    uint32_t id = 0;  // 0: a text of no number (the target properties)
    std::string text;
    std::string caption;
    MsgIcon icon = MsgIcon::Information;
    MsgButtons buttons = MsgButtons::Ok;
    // The file the message is about, also when the text names none ("Cannot write log file."):
    // a view that cannot ask the operator which file names it.
    std::string file{};
};

struct FontSpec {
    std::string face;
    int height = 0;  // negative: character height in pixels
    bool fixedPitch = true;
    bool operator==(const FontSpec&) const = default;
};

struct FileDialogSpec {
    std::string title;
    std::string filter;            // "desc|pattern|desc|pattern|"
    std::string defaultExtension;  // without the dot
    std::string initialPath;
    bool overwritePrompt = false;  // save dialogs: ask before an existing file is chosen
};

struct MenuItemSpec {
    int command = 0;  // 0 for a separator
    std::string text;
    bool grayed = false;
};

// Modal sub-dialogs: what each is opened with and what it answers.
struct SelectTargetRequest {
    std::vector<std::string> names;  // in set order
    int selected = 0;
};
struct SelectTargetResult {
    DialogResult button = 0;
    std::string name;  // the combo's edit text
};

struct SerializationState {
    bool serialOn = false;
    std::string startSerial;  // 1009
    std::string address;      // 1010, "%X"
    std::string increment;    // 1011
    int length = 4;           // 1012 / 1158, 1 to 256
};
// The dialog checks its fields on OK (through the validator it is given) and closes only when
// they pass, so the result carries fields that the validator accepted.
class SerializationValidator {
  public:
    virtual ~SerializationValidator() = default;
    // Shows the first field's error itself and answers false to keep the dialog open.
    virtual bool Accept(const SerializationState& fields) = 0;
};
struct SerializationResult {
    DialogResult button = 0;
    SerializationState fields;
};

struct SecurityIdRequest {
    int target = 0;                 // title "Security ID checking (Target No.%d)"
    bool initializeAllowed = true;  // false for security type 1
};
struct SecurityIdResult {
    DialogResult button = 0;             // IDOK, IDSKIP or IDUNPLUG
    int choice = 0;                      // 0 send the typed ID, 1 initialize the flash
    std::array<std::string, 12> fields;  // four characters each, blanks where empty
};

struct AddHexFileResult {
    DialogResult button = 0;
    std::string fileName;
    std::string offsetText;
};

// A list column: its header and the width added to the header text's own.
struct ListColumnSpec {
    StringId header;
    int extraWidth;
};
// The Add/Delete Hex/S File dialog's columns: the main list's, a little wider for the two
// addresses.
inline constexpr ListColumnSpec kProgramFileColumns[] = {{IDS_COLUMN_FILE_NAME, 220},
                                                         {IDS_COLUMN_START_ADDRESS, 37},
                                                         {IDS_COLUMN_END_ADDRESS, 37},
                                                         {IDS_COLUMN_OFFSET, 40},
                                                         {IDS_COLUMN_FLASH_START, 40}};

// The Add/Delete Hex/S File dialog works on the main window's list while it is open.
class ProgramFileDialogHost {
  public:
    virtual ~ProgramFileDialogHost() = default;
    // The list's font: the main window's lists' fixed-pitch one.
    virtual FontSpec FileListFont() = 0;
    virtual std::vector<std::array<std::string, 5>> FileListRows() = 0;
    // "&Add...": runs the Add Hex/S File dialog and adds the file; true when a row was added.
    virtual bool AddFromDialog() = 0;
    // "&Delete": removes these rows (indices into FileListRows) from the main list.
    virtual void DeleteRows(const std::vector<int>& rows) = 0;
};

struct AboutInfo {
    std::string versionLine;  // 1034
    std::string secondLine;   // 1035
};

// The band below the window's controls: the yield counters and the running operation's
// progress. Views without such a band ignore it.
struct ProductionBandState {
    std::string yieldText;         // boards passed and failed, the yield
    std::string failsText;         // failures per target number; empty when none failed
    bool lastCycleFailed = false;  // drawn red, as the result field shows a failure
    bool progressShown = false;    // false: the bar is empty
    uint32_t progressDone = 0;
    uint32_t progressTotal = 0;
    std::string progressText;  // what is being done and the time it has taken
    bool operator==(const ProductionBandState&) const = default;
};

// Notifications from the screen, in the form the controller handles them.
class DialogEvents {
  public:
    virtual ~DialogEvents() = default;
    // The window exists: initialise. False when the dialog ended during initialisation.
    virtual bool OnInitDialog() = 0;
    // The window is going away (after EndDialog): save and release.
    virtual void OnDestroy() = 0;
    // Close box, Alt+F4, system menu Close. The controller decides; it calls EndDialog on OK.
    virtual void OnCloseRequest() = 0;
    // A button click, a menu or system-menu command.
    virtual void OnCommand(int id) = 0;
    virtual void OnComboSelChange(int id) = 0;
    virtual void OnEditChange(int id) = 0;
    virtual void OnListCheckChanged(int listId, int row, bool checked) = 0;
    virtual void OnListRightClick(int listId, int row) = 0;  // row -1: below the last row
    virtual void OnListDoubleClick(int listId, int row) = 0;
    // Keyboard filter: whether Enter with the focus on this control is passed on.
    virtual bool IsEnterPassedOn(int focusId) = 0;
    // Asked while drawing, so colours follow the current state without being pushed.
    // A list row's background (custom draw); nothing for the default colours.
    virtual std::optional<Rgb> OnListRowColour(int listId, int row) { return std::nullopt; }
    // A control's background (the result field); nothing for the default colours.
    virtual std::optional<Rgb> OnControlColour(int id) { return std::nullopt; }
};

class DialogView {
  public:
    virtual ~DialogView() = default;

    // Runs the dialog modally: creates the window, calls events.OnInitDialog(), shows the window
    // unless the dialog already ended, dispatches input until EndDialog, then calls
    // events.OnDestroy() and answers the EndDialog result.
    virtual DialogResult RunModal(DialogEvents& events) = 0;
    virtual void EndDialog(DialogResult result) = 0;

    // Window.
    virtual void AppendSystemMenuItem(int command, const std::string& text) = 0;
    virtual void SetWindowSize(int widthPx, int heightPx) = 0;  // keeps the top-left corner
    virtual void BringToFront() = 0;
    virtual void UpdateWindow() = 0;  // draw pending changes now
    virtual std::string LocaleLanguageName() = 0;

    // Controls by id.
    virtual void EnableControl(int id, bool enable) = 0;
    virtual void ShowControl(int id, bool show) = 0;
    virtual void PlaceControl(int id, const DlgRect& rect) = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual std::string GetControlText(int id) = 0;
    virtual void SetCheck(int id, bool checked) = 0;  // check boxes and radio buttons
    virtual bool GetCheck(int id) = 0;
    virtual void SetControlFont(int id, const FontSpec& font) = 0;
    virtual void SetFocus(int id) = 0;

    // Combo boxes.
    virtual void ComboReset(int id) = 0;
    virtual void ComboAddString(int id, const std::string& text) = 0;
    virtual void ComboSetCurSel(int id, int index) = 0;
    virtual int ComboGetCurSel(int id) = 0;  // -1 without a selection

    // List views (report style).
    virtual void ListSetStyle(int id, bool gridLines, bool checkBoxes, bool fullRowSelect) = 0;
    // Width = pixel width of header in the list's font + extraWidth.
    virtual void ListAddColumn(int id, const std::string& header, int extraWidth) = 0;
    virtual void ListDeleteAllRows(int id) = 0;
    virtual void ListInsertRow(int id, int row, const std::string& firstCell) = 0;
    virtual void ListDeleteRow(int id, int row) = 0;
    virtual int ListRowCount(int id) = 0;
    virtual void ListSetCell(int id, int row, int column, const std::string& text) = 0;
    virtual std::string ListGetCell(int id, int row, int column) = 0;
    virtual void ListSetRowCheck(int id, int row, bool checked) = 0;
    virtual bool ListGetRowCheck(int id, int row) = 0;
    virtual std::vector<int> ListSelectedRows(int id) = 0;
    virtual void ListSelectRow(int id, int row) = 0;

    // Menu bar items by command.
    virtual void CheckMenuItem(int command, bool checked) = 0;
    virtual void EnableMenuItem(int command, bool enabled) = 0;  // disabled shows grayed
    virtual void RedrawMenuBar() = 0;
    // A pop-up menu at the cursor; the chosen command, or 0 when none was chosen.
    virtual int TrackPopupMenu(const std::vector<MenuItemSpec>& items) = 0;

    // Message boxes. Answers IDOK or IDCANCEL.
    virtual DialogResult MessageBox(const MessageBoxSpec& box) = 0;

    // File dialogs: the chosen full path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFileDialog(const FileDialogSpec& dialog) = 0;
    virtual std::optional<std::string> SaveFileDialog(const FileDialogSpec& dialog) = 0;

    // Modal sub-dialogs.
    virtual SelectTargetResult RunSelectTargetDialog(const SelectTargetRequest& request) = 0;
    virtual SerializationResult RunSerializationDialog(const SerializationState& initial,
                                                       SerializationValidator& validator) = 0;
    virtual SecurityIdResult RunSecurityIdDialog(const SecurityIdRequest& request) = 0;
    virtual void RunProgramFileDialog(ProgramFileDialogHost& host) = 0;
    virtual AddHexFileResult RunAddHexFileDialog(const FileDialogSpec& browse) = 0;
    virtual void RunAboutDialog(const AboutInfo& info) = 0;

    // The yield and progress band (the console view prints its own).
    virtual void ShowProductionBand(const ProductionBandState& band) {}

    // Cursor and message queue.
    virtual void SetWaitCursor(bool wait) = 0;
    // Handles every input waiting in the queue and returns when it is empty.
    virtual void PumpMessages() = 0;
};
