#pragma once
// A scripted DialogView for controller tests: it records the state of every control by id,
// answers message boxes, file dialogs and sub-dialogs from queues, and plays the operator's
// actions either in the modal loop (RunModal) or inside PumpMessages.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_view.h"

struct FakeRow {
    std::vector<std::string> cells;
    bool checked = false;
};

struct FakeControl {
    bool enabled = true;
    bool visible = true;
    std::string text;
    std::optional<DlgRect> rect;
    bool checked = false;
    std::optional<FontSpec> font;
    bool focused = false;
    // Combo boxes.
    std::vector<std::string> items;
    int curSel = -1;
    // List views.
    bool gridLines = false, checkBoxes = false, fullRowSelect = false;
    std::vector<std::pair<std::string, int>> columns;  // header, extra width
    std::vector<FakeRow> rows;
    std::vector<int> selected;
};

struct FakeMenuItem {
    bool checked = false;
    bool enabled = true;
};

struct ShownMessage {
    std::string text;
    std::string caption;
    MsgIcon icon;
    MsgButtons buttons;
    DialogResult answer;
    uint32_t id = 0;
};

class FakeDialogView : public DialogView {
  public:
    using Action = std::function<void(DialogEvents&)>;

    // --- Script -------------------------------------------------------------------------
    // Operator actions played one after another once the dialog is initialised; the session
    // ends when the dialog ends or the actions run out (then OnDestroy runs all the same).
    std::deque<Action> actions;
    // Actions played, one per call, inside PumpMessages (a click during a running operation).
    std::deque<Action> pumpActions;
    // Answers of message boxes in order; when empty, OK/Cancel boxes answer defaultAnswer.
    std::deque<DialogResult> messageAnswers;
    DialogResult defaultAnswer = 1;  // IDOK
    std::deque<std::optional<std::string>> fileDialogAnswers;
    std::deque<SelectTargetResult> selectTargetAnswers;
    std::deque<SerializationResult> serializationAnswers;
    std::deque<SecurityIdResult> securityIdAnswers;
    std::deque<AddHexFileResult> addHexFileAnswers;
    std::string localeLanguage = "English";

    // --- Record ---------------------------------------------------------------------------
    std::map<int, FakeControl> controls;
    std::map<int, FakeMenuItem> menu;
    std::vector<std::pair<int, std::string>> systemMenu;
    std::vector<ShownMessage> messages;
    std::vector<FileDialogSpec> fileDialogs;
    std::vector<SelectTargetRequest> selectTargetRequests;
    std::vector<SecurityIdRequest> securityIdRequests;
    std::vector<SerializationState> serializationRequests;
    std::vector<std::vector<MenuItemSpec>> popupMenus;
    bool initResult = false;
    bool shown = false;  // the window was shown after initialisation
    bool ended = false;  // EndDialog was called
    DialogResult endResult = 0;
    bool destroyed = false;  // OnDestroy ran
    int windowWidth = 0, windowHeight = 0;
    int raised = 0;
    int pumps = 0;
    int menuRedraws = 0;
    int updates = 0;
    bool waitCursor = false;
    int aboutShown = 0;
    ProductionBandState band;  // the band as last shown
    int bandUpdates = 0;
    AboutInfo about;
    int waitCursorOn = 0;  // times the wait cursor was switched on

    FakeControl& Control(int id) { return controls[id]; }
    // Messages shown whose text is the string-table text of id.
    int CountMessages(uint32_t id) const;
    bool Shows(uint32_t id) const { return CountMessages(id) > 0; }

    // --- DialogView -----------------------------------------------------------------------
    DialogResult RunModal(DialogEvents& events) override;
    void EndDialog(DialogResult result) override;
    void AppendSystemMenuItem(int command, const std::string& text) override;
    void SetWindowSize(int widthPx, int heightPx) override;
    void BringToFront() override { ++raised; }
    void UpdateWindow() override { ++updates; }
    std::string LocaleLanguageName() override { return localeLanguage; }
    void EnableControl(int id, bool enable) override { controls[id].enabled = enable; }
    void ShowControl(int id, bool show) override { controls[id].visible = show; }
    void PlaceControl(int id, const DlgRect& rect) override { controls[id].rect = rect; }
    void SetControlText(int id, const std::string& text) override { controls[id].text = text; }
    std::string GetControlText(int id) override { return controls[id].text; }
    void SetCheck(int id, bool checked) override { controls[id].checked = checked; }
    bool GetCheck(int id) override { return controls[id].checked; }
    void SetControlFont(int id, const FontSpec& font) override { controls[id].font = font; }
    void SetFocus(int id) override;
    void ComboReset(int id) override;
    void ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override { return controls[id].curSel; }
    void ListSetStyle(int id, bool gridLines, bool checkBoxes, bool fullRowSelect) override;
    void ListAddColumn(int id, const std::string& header, int extraWidth) override;
    void ListDeleteAllRows(int id) override;
    void ListInsertRow(int id, int row, const std::string& firstCell) override;
    void ListDeleteRow(int id, int row) override;
    int ListRowCount(int id) override { return static_cast<int>(controls[id].rows.size()); }
    void ListSetCell(int id, int row, int column, const std::string& text) override;
    std::string ListGetCell(int id, int row, int column) override;
    void ListSetRowCheck(int id, int row, bool checked) override;
    bool ListGetRowCheck(int id, int row) override;
    std::vector<int> ListSelectedRows(int id) override { return controls[id].selected; }
    void ListSelectRow(int id, int row) override { controls[id].selected = {row}; }
    void CheckMenuItem(int command, bool checked) override { menu[command].checked = checked; }
    void EnableMenuItem(int command, bool enabled) override { menu[command].enabled = enabled; }
    void RedrawMenuBar() override { ++menuRedraws; }
    int TrackPopupMenu(const std::vector<MenuItemSpec>& items) override;
    DialogResult MessageBox(const MessageBoxSpec& box) override;
    std::optional<std::string> OpenFileDialog(const FileDialogSpec& dialog) override;
    std::optional<std::string> SaveFileDialog(const FileDialogSpec& dialog) override;
    SelectTargetResult RunSelectTargetDialog(const SelectTargetRequest& request) override;
    SerializationResult RunSerializationDialog(const SerializationState& initial,
                                               SerializationValidator& validator) override;
    SecurityIdResult RunSecurityIdDialog(const SecurityIdRequest& request) override;
    void RunProgramFileDialog(ProgramFileDialogHost& host) override;
    AddHexFileResult RunAddHexFileDialog(const FileDialogSpec& browse) override;
    void RunAboutDialog(const AboutInfo& info) override {
        ++aboutShown;
        about = info;
    }
    void ShowProductionBand(const ProductionBandState& state) override {
        band = state;
        ++bandUpdates;
    }
    void SetWaitCursor(bool wait) override {
        waitCursorOn += wait && !waitCursor ? 1 : 0;
        waitCursor = wait;
    }
    void PumpMessages() override;

    // Answers of the pop-up menus in order (0: nothing chosen).
    std::deque<int> popupAnswers;
    // Played inside RunProgramFileDialog with the host.
    std::deque<std::function<void(ProgramFileDialogHost&)>> programFileDialogActions;

  private:
    FakeRow* Row(int id, int row);
    DialogEvents* events_ = nullptr;
};
