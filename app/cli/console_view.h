#pragma once
// ConsoleView: the main window for quorvel-cli. Controls only hold what the controller reads
// back; message boxes become lines answered by safe defaults that flags change; the modal
// dialogs answer by the same policy; the pump turns a pending interrupt into Cancel.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/operation_events.h"
#include "console_report.h"

struct ConsoleAnswers {
    bool yes = false;  // OK to question 2069
    std::optional<std::vector<uint16_t>> securityId;
    bool allowInitialize = false;
    std::string securityIdSource = "--security-id";  // named in the lines that send it
    bool allowOutside = false;  // program data outside the flash is only a note
};

class ConsoleView : public DialogView, public OperationObserver {
  public:
    ConsoleView(ConsoleAnswers answers, ConsoleReport& report);

    // Runs once the dialog is initialised, as the operator's session; the dialog ends after it.
    std::function<void()> session;
    // Asked at every pump; while it answers true, cancel runs (the Cancel button confirmed).
    std::function<bool()> cancelPending;
    std::function<void()> cancel;

    // False when the dialog ended during initialisation.
    bool Initialised() const { return initialised_; }

    // A new plug: every locked target may have the --security-id tried once again.
    void OnOperationStart(int operation) override;

    // --- DialogView ---
    DialogResult RunModal(DialogEvents& events) override;
    void EndDialog(DialogResult result) override;
    void AppendSystemMenuItem(int, const std::string&) override {}
    void SetWindowSize(int, int) override {}
    void BringToFront() override {}
    void UpdateWindow() override {}
    std::string LocaleLanguageName() override { return "English"; }
    void EnableControl(int, bool) override {}
    void ShowControl(int, bool) override {}
    void PlaceControl(int, const DlgRect&) override {}
    void SetControlText(int id, const std::string& text) override { controls_[id].text = text; }
    std::string GetControlText(int id) override { return controls_[id].text; }
    void SetCheck(int id, bool checked) override { controls_[id].checked = checked; }
    bool GetCheck(int id) override { return controls_[id].checked; }
    void SetControlFont(int, const FontSpec&) override {}
    void SetFocus(int) override {}
    void ComboReset(int id) override { controls_[id] = Control{}; }
    void ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override { return controls_[id].curSel; }
    void ListSetStyle(int, bool, bool, bool) override {}
    void ListAddColumn(int, const std::string&, int) override {}
    void ListDeleteAllRows(int id) override { controls_[id].rows = 0; }
    void ListInsertRow(int id, int, const std::string&) override { ++controls_[id].rows; }
    void ListDeleteRow(int id, int row) override;
    int ListRowCount(int id) override { return controls_[id].rows; }
    void ListSetCell(int, int, int, const std::string&) override {}
    std::string ListGetCell(int, int, int) override { return {}; }
    void ListSetRowCheck(int, int, bool) override {}
    bool ListGetRowCheck(int, int) override { return false; }
    std::vector<int> ListSelectedRows(int) override { return {}; }
    void ListSelectRow(int, int) override {}
    void CheckMenuItem(int, bool) override {}
    void EnableMenuItem(int, bool) override {}
    void RedrawMenuBar() override {}
    int TrackPopupMenu(const std::vector<MenuItemSpec>&) override { return 0; }
    DialogResult MessageBox(const MessageBoxSpec& box) override;
    std::optional<std::string> OpenFileDialog(const FileDialogSpec&) override { return {}; }
    std::optional<std::string> SaveFileDialog(const FileDialogSpec&) override { return {}; }
    SelectTargetResult RunSelectTargetDialog(const SelectTargetRequest&) override;
    SerializationResult RunSerializationDialog(const SerializationState& initial,
                                               SerializationValidator&) override;
    SecurityIdResult RunSecurityIdDialog(const SecurityIdRequest& request) override;
    void RunProgramFileDialog(ProgramFileDialogHost&) override {}
    AddHexFileResult RunAddHexFileDialog(const FileDialogSpec&) override;
    void RunAboutDialog(const AboutInfo&) override {}
    void SetWaitCursor(bool) override {}
    void PumpMessages() override;

  private:
    struct Control {
        std::string text;
        bool checked = false;
        std::vector<std::string> items;
        int curSel = -1;
        int rows = 0;
    };

    ConsoleAnswers answers_;
    ConsoleReport& report_;
    std::map<int, Control> controls_;
    std::set<int> idTried_;  // targets the --security-id was sent to in this plug
    bool initialised_ = false;
    bool ended_ = false;
    DialogResult result_ = 0;
};
