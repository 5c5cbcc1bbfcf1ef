#pragma once
// The Qt main window behind DialogView: controls are created from the main window table and
// placed by converting dialog units to pixels through the dialog font's base units.
#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>

#include "app/dialog_view.h"

class QAction;
class QLabel;
class QMenuBar;
class QProgressBar;
class QTableWidget;

class QtMainWindow;

class QtDialogView : public DialogView {
  public:
    QtDialogView();
    ~QtDialogView() override;

    DialogResult RunModal(DialogEvents& events) override;
    void EndDialog(DialogResult result) override;

    void AppendSystemMenuItem(int command, const std::string& text) override;
    void SetWindowSize(int widthPx, int heightPx) override;
    void BringToFront() override;
    void UpdateWindow() override;
    std::string LocaleLanguageName() override;

    void EnableControl(int id, bool enable) override;
    void ShowControl(int id, bool show) override;
    void PlaceControl(int id, const DlgRect& rect) override;
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) override;
    void SetCheck(int id, bool checked) override;
    bool GetCheck(int id) override;
    void SetControlFont(int id, const FontSpec& font) override;
    void SetFocus(int id) override;

    void ComboReset(int id) override;
    void ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override;

    void ListSetStyle(int id, bool gridLines, bool checkBoxes, bool fullRowSelect) override;
    void ListAddColumn(int id, const std::string& header, int extraWidth) override;
    void ListDeleteAllRows(int id) override;
    void ListInsertRow(int id, int row, const std::string& firstCell) override;
    void ListDeleteRow(int id, int row) override;
    int ListRowCount(int id) override;
    void ListSetCell(int id, int row, int column, const std::string& text) override;
    std::string ListGetCell(int id, int row, int column) override;
    void ListSetRowCheck(int id, int row, bool checked) override;
    bool ListGetRowCheck(int id, int row) override;
    std::vector<int> ListSelectedRows(int id) override;
    void ListSelectRow(int id, int row) override;

    void CheckMenuItem(int command, bool checked) override;
    void EnableMenuItem(int command, bool enabled) override;
    void RedrawMenuBar() override;
    int TrackPopupMenu(const std::vector<MenuItemSpec>& items) override;

    DialogResult MessageBox(const MessageBoxSpec& message) override;
    std::optional<std::string> OpenFileDialog(const FileDialogSpec& dialog) override;
    std::optional<std::string> SaveFileDialog(const FileDialogSpec& dialog) override;

    SelectTargetResult RunSelectTargetDialog(const SelectTargetRequest& request) override;
    SerializationResult RunSerializationDialog(const SerializationState& initial,
                                               SerializationValidator& validator) override;
    SecurityIdResult RunSecurityIdDialog(const SecurityIdRequest& request) override;
    void RunProgramFileDialog(ProgramFileDialogHost& host) override;
    AddHexFileResult RunAddHexFileDialog(const FileDialogSpec& browse) override;
    void RunAboutDialog(const AboutInfo& info) override;

    void ShowProductionBand(const ProductionBandState& band) override;

    void SetWaitCursor(bool wait) override;
    void PumpMessages() override;

    // The window while the dialog runs (null otherwise); for screenshots and tests.
    QWidget* Window() const;
    // A control of the running window by id, or null.
    QWidget* ControlWidget(int id) const;
    // The band's counters line, its failures line and its progress bar (null when no window).
    QLabel* YieldLabel() const;
    QLabel* FailsLabel() const;
    QProgressBar* ProgressBar() const;

  private:
    void CreateWindow(DialogEvents& events);
    QWidget* Control(int id) const;
    QTableWidget* List(int id) const;
    // The window, or the modal dialog open on top of it.
    QWidget* DialogParent() const;
    QRect ToPixels(const DlgRect& rect) const;
    void PlaceWidget(QWidget* widget, const DlgRect& rect) const;
    void FitLabels();
    // The band fills the room between the lowest shown control and the window's bottom.
    void PlaceBand();

    std::unique_ptr<QtMainWindow> window_;
    QEventLoop loop_;
    bool ended_ = false;
    DialogResult result_ = 0;
    bool waitCursor_ = false;
};
