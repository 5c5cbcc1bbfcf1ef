#pragma once
// The Windows main window behind DialogView: dialog template 102 with every control of both
// view modes, the menu bar built from the main window table, list views of the common
// controls, and the controller's colours asked for while drawing.
#include "win32_windows.h"

#include <map>
#include <optional>
#include <vector>

#include "app/dialog_view.h"

class Win32DialogView : public DialogView {
  public:
    explicit Win32DialogView(HINSTANCE instance);
    ~Win32DialogView() override;
    Win32DialogView(const Win32DialogView&) = delete;
    Win32DialogView& operator=(const Win32DialogView&) = delete;

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

    DialogResult MessageBox(const MessageBoxSpec& box) override;
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

    // The running window (null otherwise), for the single-instance search and tests.
    HWND Window() const { return window_; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreated(HWND window);
    void OnDestroyed();
    void BuildMenuBar();
    void CreateBand();
    void PlaceBand();
    void FitLabels();
    void OnDpiChanged(const RECT& suggested);
    // A command, click or notification from a control, in the controller's terms.
    void OnControlCommand(int id, int code, HWND control);
    LRESULT OnNotify(NMHDR* header);
    LRESULT OnListCustomDraw(int id, NMLVCUSTOMDRAW* draw);
    // The keyboard filter and the dialog's own keys; true when the message was handled.
    bool PreTranslate(MSG& message);
    void Dispatch(MSG& message);
    HBRUSH OnControlColour(HDC dc, HWND control);
    HBRUSH Brush(Rgb colour);
    // The window's dots per inch (96 where the system cannot say).
    int Dpi() const;
    int Scale(int pixelsAt96) const;
    HWND Control(int id) const;
    // The owner of a box opened now: the dialog on top, or the main window.
    HWND Owner() const;
    // Centres the result field's text vertically in its box.
    void CentreResultText();

    HINSTANCE instance_;
    DialogEvents* events_ = nullptr;
    HWND window_ = nullptr;
    HMENU menuBar_ = nullptr;
    bool ended_ = false;
    DialogResult result_ = 0;
    bool waitCursor_ = false;
    // Programmatic text changes are not the operator's edits.
    bool settingText_ = false;
    // Where the view modes placed each control, so a change of DPI can place it again.
    std::map<int, DlgRect> placed_;
    // The controller's sizes at 96 DPI, applied again when the DPI changes.
    SIZE requestedSize_{0, 0};
    std::map<int, std::pair<FontSpec, HFONT>> fonts_;
    // Smaller cuts of the dialog font for labels too wide for their room.
    std::map<int, HFONT> labelFonts_;
    std::map<uint32_t, HBRUSH> brushes_;
    ProductionBandState band_;
    std::wstring progressText_;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
};
