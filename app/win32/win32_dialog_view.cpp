#include "win32_dialog_view.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window_layout.h"
#include "programdata/limits.h"
#include "win32_dialogs.h"
#include "win32_label_font.h"
#include "win32_resource.h"
#include "win32_text.h"

namespace {

COLORREF ToColorRef(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

PixelRect ToPixelRect(const RECT& r) {
    return {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right - r.left),
            static_cast<int>(r.bottom - r.top)};
}

// The child's rectangle in its parent's client area.
PixelRect ChildRect(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return ToPixelRect(r);
}

bool IsShown(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool HasClass(HWND window, const wchar_t* name) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, static_cast<int>(std::size(cls)));
    return _wcsicmp(cls, name) == 0;
}

// The DPI calls of Windows 10, where the system has them.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi != nullptr && window != nullptr)
        if (const UINT dpi = getDpi(window); dpi != 0)
            return dpi;
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (adjust != nullptr)
        adjust(&rect, style, FALSE, exStyle, dpi);
    else
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

// The progress bar draws what is being done over its bar, as the Linux window does.
LRESULT CALLBACK ProgressTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_PAINT) {
        const auto* text = reinterpret_cast<const std::wstring*>(data);
        if (text != nullptr && !text->empty()) {
            RECT r;
            GetClientRect(window, &r);
            HDC dc = GetDC(window);
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetParent(window), WM_GETFONT, 0, 0));
            HGDIOBJ old = SelectObject(dc, font);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(0, 0, 0));
            DrawTextW(dc, text->c_str(), -1, &r,
                      DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, old);
            ReleaseDC(window, dc);
        }
    }
    return result;
}

// A disabled edit draws its text grey whatever its colours: the result field, disabled while
// nothing is plugged, draws itself so that the last result stays readable on its colour.
LRESULT CALLBACK ResultFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    if (message != WM_PAINT || IsWindowEnabled(field))
        return DefSubclassProc(field, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(field, &paint);
    HWND parent = GetParent(field);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(field)));
    RECT client;
    GetClientRect(field, &client);
    FillRect(dc, &client, brush != nullptr ? brush : GetSysColorBrush(COLOR_3DFACE));
    RECT text;
    SendMessageW(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(field, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    const std::wstring value = Wide(WindowText(field));
    DrawTextW(dc, value.c_str(), -1, &text, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(field, &paint);
    return 0;
}

}  // namespace

Win32DialogView::Win32DialogView(HINSTANCE instance) : instance_(instance) {}

Win32DialogView::~Win32DialogView() {
    OnDestroyed();
}

HWND Win32DialogView::Control(int id) const {
    return window_ == nullptr ? nullptr : GetDlgItem(window_, id);
}

int Win32DialogView::Dpi() const {
    return static_cast<int>(WindowDpi(window_));
}

int Win32DialogView::Scale(int pixelsAt96) const {
    return MulDiv(pixelsAt96, Dpi(), 96);
}

HWND Win32DialogView::Owner() const {
    // A box opened from a sub-dialog (a refused Serialization entry) belongs to that dialog.
    HWND active = GetActiveWindow();
    if (active != nullptr && IsWindowEnabled(active) &&
        GetWindowThreadProcessId(active, nullptr) == GetCurrentThreadId())
        return active;
    return window_;
}

// ---------------------------------------------------------------------------------------------
// The modal run

DialogResult Win32DialogView::RunModal(DialogEvents& events) {
    events_ = &events;
    ended_ = false;
    result_ = 0;
    HWND window = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_QUORVEL_DIALOG), nullptr,
                                     &Win32DialogView::DialogProc, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        events_ = nullptr;
        return IDCANCEL;
    }
    if (!ended_) {
        // First shown in the middle of the work area, never above its top.
        RECT frame, work;
        GetWindowRect(window_, &frame);
        MONITORINFO monitor{sizeof monitor, {}, {}, 0};
        GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
        work = monitor.rcWork;
        const int width = frame.right - frame.left, height = frame.bottom - frame.top;
        const int left = work.left + std::max(0L, (work.right - work.left - width) / 2);
        const int top = work.top + std::max(0L, (work.bottom - work.top - height) / 2);
        SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ShowWindow(window_, SW_SHOW);
        // Drawn whole before the first message is waited for, not piece by piece.
        ::UpdateWindow(window_);
        SetForegroundWindow(window_);
        MSG message;
        while (!ended_) {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got <= 0) {
                // Someone ended the thread's loop: the dialog ends as a close would.
                if (got == 0)
                    PostQuitMessage(static_cast<int>(message.wParam));
                ended_ = true;
                result_ = IDCANCEL;
                break;
            }
            if (!PreTranslate(message))
                Dispatch(message);
        }
    }
    events.OnDestroy();
    DestroyWindow(window_);
    OnDestroyed();
    events_ = nullptr;
    return result_;
}

void Win32DialogView::EndDialog(DialogResult result) {
    ended_ = true;
    result_ = result;
    // Wakes the loop, which may be waiting for the next message.
    if (window_ != nullptr)
        PostMessageW(window_, WM_NULL, 0, 0);
}

INT_PTR CALLBACK Win32DialogView::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* view = reinterpret_cast<Win32DialogView*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        view->OnCreated(window);
        view->events_->OnInitDialog();
        return TRUE;
    }
    auto* view = reinterpret_cast<Win32DialogView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // The children still exist here; their subclasses go before they do.
    if (message == WM_DESTROY && view != nullptr && view->window_ == window) {
        RemoveWindowSubclass(view->Control(IDC_RESULT_EDIT), ResultFieldProc, 1);
        RemoveWindowSubclass(view->Control(IDC_BAND_PROGRESS), ProgressTextProc, 1);
        return FALSE;
    }
    if (view == nullptr || view->window_ != window || view->events_ == nullptr)
        return FALSE;
    return view->OnMessage(message, wParam, lParam);
}

void Win32DialogView::OnCreated(HWND window) {
    window_ = window;
    const int big = GetSystemMetrics(SM_CXICON), small = GetSystemMetrics(SM_CXSMICON);
    bigIcon_ = static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, big, big, 0));
    smallIcon_ = static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, small, small, 0));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    // File names the settings file keeps whole: typing stops there. A longer name set by the
    // controller (a chosen file) stays whole, so that it is refused rather than cut.
    for (int id : {IDC_FILE_NAME_EDIT, IDC_LOG_FILE_EDIT})
        SendMessageW(Control(id), EM_LIMITTEXT, programdata::kMaxStoredPath, 0);
    SetWindowSubclass(Control(IDC_RESULT_EDIT), ResultFieldProc, 1, 0);
    BuildMenuBar();
    CreateBand();
}

void Win32DialogView::OnDestroyed() {
    if (window_ != nullptr && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
    menuBar_ = nullptr;  // destroyed with the window
    for (auto& [id, entry] : fonts_)
        DeleteObject(entry.second);
    fonts_.clear();
    for (auto& [id, font] : labelFonts_)
        DeleteObject(font);
    labelFonts_.clear();
    for (auto& [key, brush] : brushes_)
        DeleteObject(brush);
    brushes_.clear();
    for (HICON* icon : {&bigIcon_, &smallIcon_}) {
        if (*icon != nullptr)
            DestroyIcon(*icon);
        *icon = nullptr;
    }
    placed_.clear();
}

void Win32DialogView::BuildMenuBar() {
    menuBar_ = CreateMenu();
    HMENU current = nullptr;
    for (const MenuEntry& entry : MainMenuBar()) {
        if (entry.topLevel) {
            current = CreatePopupMenu();
            AppendMenuW(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(current),
                        Wide(entry.text).c_str());
        } else if (current != nullptr && entry.text == nullptr) {
            AppendMenuW(current, MF_SEPARATOR, 0, nullptr);
        } else if (current != nullptr) {
            AppendMenuW(current, MF_STRING, static_cast<UINT_PTR>(entry.command),
                        Wide(entry.text).c_str());
        }
    }
    SetMenu(window_, menuBar_);
}

// ---------------------------------------------------------------------------------------------
// Messages

bool Win32DialogView::PreTranslate(MSG& message) {
    if (window_ == nullptr || (message.hwnd != window_ && !IsChild(window_, message.hwnd)))
        return false;
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE)
        return true;  // the dialog never closes on Escape
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
        HWND control = GetFocus();
        while (control != nullptr && GetParent(control) != window_)
            control = GetParent(control);
        // An open drop-down list takes Enter to close itself; nothing is pressed.
        if (control != nullptr && HasClass(control, WC_COMBOBOXW) &&
            SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0))
            return IsDialogMessageW(window_, &message) != FALSE;
        // Enter presses only the buttons the controller names, and nothing else.
        if (control != nullptr && events_->IsEnterPassedOn(GetDlgCtrlID(control)) &&
            IsWindowEnabled(control) && HasClass(control, WC_BUTTONW))
            SendMessageW(control, BM_CLICK, 0, 0);
        return true;
    }
    return IsDialogMessageW(window_, &message) != FALSE;
}

void Win32DialogView::Dispatch(MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void Win32DialogView::PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!PreTranslate(message))
            Dispatch(message);
    }
}

INT_PTR Win32DialogView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (lParam != 0) {
                OnControlCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            } else if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) {
                // A menu command. IDOK and IDCANCEL come from Enter and Escape, which the
                // keyboard filter already decided on.
                events_->OnCommand(LOWORD(wParam));
            }
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                events_->OnCommand(IDM_ABOUTBOX);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            // The controller asks and ends the dialog itself.
            events_->OnCloseRequest();
            return TRUE;
        case WM_NOTIFY:
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, OnNotify(reinterpret_cast<NMHDR*>(lParam)));
            return TRUE;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            return reinterpret_cast<INT_PTR>(
                OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
        case WM_SETCURSOR:
            if (waitCursor_) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_DPICHANGED:
            OnDpiChanged(*reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        default:
            return FALSE;
    }
}

void Win32DialogView::OnControlCommand(int id, int code, HWND control) {
    if (HasClass(control, WC_BUTTONW)) {
        if (code == BN_CLICKED)
            events_->OnCommand(id);
    } else if (HasClass(control, WC_COMBOBOXW)) {
        if (code == CBN_SELCHANGE)
            events_->OnComboSelChange(id);
    } else if (HasClass(control, WC_EDITW)) {
        if (code == EN_CHANGE && !settingText_)
            events_->OnEditChange(id);
    }
}

LRESULT Win32DialogView::OnNotify(NMHDR* header) {
    const int id = static_cast<int>(header->idFrom);
    if (!HasClass(header->hwndFrom, WC_LISTVIEWW))
        return 0;
    switch (header->code) {
        case NM_CUSTOMDRAW:
            return OnListCustomDraw(id, reinterpret_cast<NMLVCUSTOMDRAW*>(header));
        case LVN_ITEMCHANGED: {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if (!(change->uChanged & LVIF_STATE))
                return 0;
            // Only a change of the check box counts; a new row gets its first image unasked.
            const UINT before = (change->uOldState & LVIS_STATEIMAGEMASK) >> 12;
            const UINT after = (change->uNewState & LVIS_STATEIMAGEMASK) >> 12;
            if (before != 0 && after != 0 && before != after)
                events_->OnListCheckChanged(id, change->iItem, after == 2);
            return 0;
        }
        case NM_RCLICK:
        case NM_DBLCLK: {
            LVHITTESTINFO hit{};
            GetCursorPos(&hit.pt);
            ScreenToClient(header->hwndFrom, &hit.pt);
            const int row = ListView_SubItemHitTest(header->hwndFrom, &hit);
            if (header->code == NM_RCLICK)
                events_->OnListRightClick(id, row < 0 ? -1 : row);
            else if (row >= 0)
                events_->OnListDoubleClick(id, row);
            return 0;
        }
        default:
            return 0;
    }
}

LRESULT Win32DialogView::OnListCustomDraw(int id, NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            const int row = static_cast<int>(draw->nmcd.dwItemSpec);
            const std::optional<Rgb> colour = events_->OnListRowColour(id, row);
            if (!colour)
                return CDRF_DODEFAULT;
            draw->clrTextBk = ToColorRef(*colour);
            draw->clrText = ToColorRef(TextColourOn(*colour));
            return CDRF_NEWFONT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

HBRUSH Win32DialogView::OnControlColour(HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    std::optional<FieldColours> colours;
    if (id == IDC_BAND_YIELD) {
        colours = YieldBandColours(band_.lastCycleFailed);
    } else if (const std::optional<Rgb> background = events_->OnControlColour(id)) {
        colours = FieldColours{*background, TextColourOn(*background)};
    }
    if (!colours)
        return nullptr;
    SetBkColor(dc, ToColorRef(colours->background));
    SetTextColor(dc, ToColorRef(colours->text));
    return Brush(colours->background);
}

HBRUSH Win32DialogView::Brush(Rgb colour) {
    const uint32_t key = (uint32_t{colour.r} << 16) | (uint32_t{colour.g} << 8) | colour.b;
    auto it = brushes_.find(key);
    if (it == brushes_.end())
        it = brushes_.emplace(key, CreateSolidBrush(ToColorRef(colour))).first;
    return it->second;
}

// ---------------------------------------------------------------------------------------------
// Window

void Win32DialogView::AppendSystemMenuItem(int command, const std::string& text) {
    HMENU system = window_ == nullptr ? nullptr : GetSystemMenu(window_, FALSE);
    if (system == nullptr)
        return;
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, static_cast<UINT_PTR>(command), Wide(text).c_str());
}

void Win32DialogView::SetWindowSize(int widthPx, int heightPx) {
    if (window_ == nullptr)
        return;
    requestedSize_ = {widthPx, heightPx};
    // The size holds the menu bar and the controls, as the Linux window's does; the frame and
    // caption come on top. Pixels at 96 DPI, scaled to the window's DPI.
    RECT r{0, 0, Scale(widthPx), Scale(heightPx)};
    AdjustForDpi(r, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)),
                 static_cast<UINT>(Dpi()));
    SetWindowPos(window_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The view modes size the window once every control is in place: then it is drawn anew,
    // whole, rather than from pieces of the other mode's picture.
    FitLabels();
    PlaceBand();
    RedrawWindow(window_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void Win32DialogView::FitLabels() {
    // A label's rectangle reaches under the field it names, and its text may run wider in this
    // font than in the one the layout was drawn in: each label takes the room it needs, up to
    // the next control on its right, in a smaller cut of the font where even that is too narrow.
    RECT client;
    GetClientRect(window_, &client);
    const int gap = Scale(4);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
    std::vector<PixelRect> fields;
    for (const ControlSpec& entry : MainWindowControls())
        if (HWND control = Control(entry.id);
            entry.kind != ControlKind::Label && control != nullptr && IsShown(control))
            fields.push_back(ChildRect(window_, control));
    HDC dc = GetDC(window_);
    for (const ControlSpec& entry : MainWindowControls()) {
        HWND label = Control(entry.id);
        if (entry.kind != ControlKind::Label || label == nullptr || !IsShown(label))
            continue;
        const PixelRect own = ChildRect(window_, label);
        const int right = LabelRoomRight(own, fields, static_cast<int>(client.right), gap);
        const std::wstring text = Wide(WindowText(label));
        const int room = std::max(0, right - own.left);
        HFONT fitting = CreateFittingFont(dc, font, text, room);
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(fitting ? fitting : font), FALSE);
        if (auto it = labelFonts_.find(entry.id); it != labelFonts_.end()) {
            DeleteObject(it->second);
            labelFonts_.erase(it);
        }
        if (fitting != nullptr)
            labelFonts_[entry.id] = fitting;
        const int width = std::min(TextWidth(dc, fitting ? fitting : font, text), room);
        SetWindowPos(label, nullptr, 0, 0, width, own.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
        InvalidateRect(label, nullptr, TRUE);
    }
    ReleaseDC(window_, dc);
}

void Win32DialogView::OnDpiChanged(const RECT& suggested) {
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    for (auto& [id, entry] : fonts_) {
        HFONT font = CreateFontAt(entry.first, Dpi());
        SendMessageW(Control(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        DeleteObject(entry.second);
        entry.second = font;
    }
    const std::map<int, DlgRect> placed = placed_;
    for (const auto& [id, rect] : placed)
        PlaceControl(id, rect);
    if (requestedSize_.cx > 0)
        SetWindowSize(requestedSize_.cx, requestedSize_.cy);
}

void Win32DialogView::BringToFront() {
    // A window not shown yet is still being set up, or its start was abandoned.
    if (window_ == nullptr || !IsWindowVisible(window_))
        return;
    if (IsIconic(window_))
        ShowWindow(window_, SW_RESTORE);
    SetForegroundWindow(window_);
}

void Win32DialogView::UpdateWindow() {
    if (window_ != nullptr)
        RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

std::string Win32DialogView::LocaleLanguageName() {
    wchar_t name[128] = {};
    const int n = GetLocaleInfoW(GetUserDefaultLCID(), LOCALE_SNATIVELANGNAME, name,
                                 static_cast<int>(std::size(name)));
    return n > 0 ? Utf8(name) : std::string();
}

// ---------------------------------------------------------------------------------------------
// Controls

void Win32DialogView::EnableControl(int id, bool enable) {
    HWND control = Control(id);
    if (control == nullptr)
        return;
    // The focus leaves a control before it is disabled, so the keyboard keeps working.
    if (!enable && GetFocus() == control)
        SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(control, enable);
}

void Win32DialogView::ShowControl(int id, bool show) {
    HWND control = Control(id);
    if (control == nullptr)
        return;
    if (IsShown(control) == show)
        return;
    if (!show && GetFocus() == control)
        SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
    ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
}

void Win32DialogView::PlaceControl(int id, const DlgRect& rect) {
    HWND control = Control(id);
    if (control == nullptr)
        return;
    placed_[id] = rect;
    // A drop-down's rectangle includes its open list, as in a dialog template.
    RECT r{rect.left, rect.top, rect.right, rect.bottom};
    MapDialogRect(window_, &r);
    // The old picture is not copied along: where controls of the other view mode covered the
    // new place, the copy would show their remains instead of the control.
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    if (id == IDC_RESULT_EDIT)
        CentreResultText();
}

void Win32DialogView::CentreResultText() {
    HWND control = Control(IDC_RESULT_EDIT);
    if (control == nullptr)
        return;
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    const int top = std::max(0L, (client.bottom - metrics.tmHeight) / 2);
    RECT text{client.left + 2, top, client.right - 2, client.bottom};
    SendMessageW(control, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&text));
}

void Win32DialogView::SetControlText(int id, const std::string& text) {
    HWND control = Control(id);
    if (control == nullptr)
        return;
    if (HasClass(control, WC_COMBOBOXW)) {
        // Only the operator's choice starts a target change: selecting is silent.
        const LRESULT index = SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(Wide(text).c_str()));
        SendMessageW(control, CB_SETCURSEL, index == CB_ERR ? static_cast<WPARAM>(-1) : index, 0);
        return;
    }
    settingText_ = true;
    SetWindowTextUtf8(control, text);
    settingText_ = false;
    if (const ControlSpec* entry = FindMainWindowControl(id);
        entry && entry->kind == ControlKind::Label)
        FitLabels();
}

std::string Win32DialogView::GetControlText(int id) {
    HWND control = Control(id);
    return control == nullptr ? std::string() : WindowText(control);
}

void Win32DialogView::SetCheck(int id, bool checked) {
    if (HWND control = Control(id))
        SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32DialogView::GetCheck(int id) {
    HWND control = Control(id);
    return control != nullptr && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32DialogView::SetControlFont(int id, const FontSpec& wanted) {
    HWND control = Control(id);
    if (control == nullptr)
        return;
    HFONT font = CreateFontAt(wanted, Dpi());
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (auto it = fonts_.find(id); it != fonts_.end())
        DeleteObject(it->second.second);
    fonts_[id] = {wanted, font};
    if (id == IDC_RESULT_EDIT)
        CentreResultText();
}

void Win32DialogView::SetFocus(int id) {
    HWND control = Control(id);
    if (control != nullptr && IsWindowEnabled(control))
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void Win32DialogView::ComboReset(int id) {
    if (HWND control = Control(id))
        SendMessageW(control, CB_RESETCONTENT, 0, 0);
}

void Win32DialogView::ComboAddString(int id, const std::string& text) {
    if (HWND control = Control(id))
        SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void Win32DialogView::ComboSetCurSel(int id, int index) {
    if (HWND control = Control(id))
        SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32DialogView::ComboGetCurSel(int id) {
    HWND control = Control(id);
    if (control == nullptr)
        return -1;
    const LRESULT index = SendMessageW(control, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

// ---------------------------------------------------------------------------------------------
// List views

void Win32DialogView::ListSetStyle(int id, bool gridLines, bool checkBoxes, bool fullRowSelect) {
    HWND list = Control(id);
    if (list == nullptr)
        return;
    DWORD style = LVS_EX_DOUBLEBUFFER;
    if (gridLines)
        style |= LVS_EX_GRIDLINES;
    if (checkBoxes)
        style |= LVS_EX_CHECKBOXES;
    if (fullRowSelect)
        style |= LVS_EX_FULLROWSELECT;
    ListView_SetExtendedListViewStyleEx(list, style, style);
}

void Win32DialogView::ListAddColumn(int id, const std::string& header, int extraWidth) {
    HWND list = Control(id);
    if (list == nullptr)
        return;
    std::wstring text = Wide(header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = ListView_GetStringWidth(list, text.c_str()) + Scale(extraWidth);
    column.pszText = text.data();
    const int index = Header_GetItemCount(ListView_GetHeader(list));
    column.iSubItem = index;
    ListView_InsertColumn(list, index, &column);
}

void Win32DialogView::ListDeleteAllRows(int id) {
    if (HWND list = Control(id))
        ListView_DeleteAllItems(list);
}

void Win32DialogView::ListInsertRow(int id, int row, const std::string& firstCell) {
    HWND list = Control(id);
    if (list == nullptr || row < 0 || row > ListView_GetItemCount(list))
        return;
    std::wstring text = Wide(firstCell);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = text.data();
    ListView_InsertItem(list, &item);
}

void Win32DialogView::ListDeleteRow(int id, int row) {
    HWND list = Control(id);
    if (list == nullptr || row < 0 || row >= ListView_GetItemCount(list))
        return;
    ListView_DeleteItem(list, row);
}

int Win32DialogView::ListRowCount(int id) {
    HWND list = Control(id);
    return list == nullptr ? 0 : ListView_GetItemCount(list);
}

void Win32DialogView::ListSetCell(int id, int row, int column, const std::string& text) {
    HWND list = Control(id);
    if (list == nullptr || row < 0 || row >= ListView_GetItemCount(list) || column < 0 ||
        column >= Header_GetItemCount(ListView_GetHeader(list)))
        return;
    std::wstring wide = Wide(text);
    ListView_SetItemText(list, row, column, wide.data());
    // A new status usually comes with a new row colour.
    ListView_RedrawItems(list, row, row);
}

std::string Win32DialogView::ListGetCell(int id, int row, int column) {
    HWND list = Control(id);
    if (list == nullptr || row < 0 || row >= ListView_GetItemCount(list))
        return {};
    std::vector<wchar_t> buffer(256);
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        const auto length = static_cast<size_t>(SendMessageW(
            list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < buffer.size())
            return Utf8(buffer.data(), static_cast<int>(length));
        buffer.resize(buffer.size() * 2);
    }
}

void Win32DialogView::ListSetRowCheck(int id, int row, bool checked) {
    // The controller hears this change as it hears a click.
    if (HWND list = Control(id))
        ListView_SetCheckState(list, row, checked);
}

bool Win32DialogView::ListGetRowCheck(int id, int row) {
    HWND list = Control(id);
    return list != nullptr && ListView_GetCheckState(list, row) != FALSE;
}

std::vector<int> Win32DialogView::ListSelectedRows(int id) {
    std::vector<int> rows;
    HWND list = Control(id);
    if (list == nullptr)
        return rows;
    for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list, row, LVNI_SELECTED))
        rows.push_back(row);
    return rows;
}

void Win32DialogView::ListSelectRow(int id, int row) {
    if (HWND list = Control(id)) {
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, row, FALSE);
    }
}

// ---------------------------------------------------------------------------------------------
// Menus

void Win32DialogView::CheckMenuItem(int command, bool checked) {
    if (menuBar_ != nullptr)
        ::CheckMenuItem(menuBar_, static_cast<UINT>(command),
                        MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void Win32DialogView::EnableMenuItem(int command, bool enabled) {
    if (menuBar_ != nullptr)
        ::EnableMenuItem(menuBar_, static_cast<UINT>(command),
                         MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void Win32DialogView::RedrawMenuBar() {
    if (window_ != nullptr)
        DrawMenuBar(window_);
}

int Win32DialogView::TrackPopupMenu(const std::vector<MenuItemSpec>& items) {
    HMENU menu = CreatePopupMenu();
    for (const MenuItemSpec& item : items) {
        if (item.command == 0)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(menu, MF_STRING | (item.grayed ? MF_GRAYED : MF_ENABLED),
                        static_cast<UINT_PTR>(item.command), Wide(item.text).c_str());
    }
    POINT at;
    GetCursorPos(&at);
    // The menu closes when the operator clicks elsewhere only if its owner is in front.
    SetForegroundWindow(window_);
    const int command = static_cast<int>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr));
    PostMessageW(window_, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return command;
}

// ---------------------------------------------------------------------------------------------
// Boxes and dialogs

DialogResult Win32DialogView::MessageBox(const MessageBoxSpec& box) {
    UINT flags = box.buttons == MsgButtons::OkCancel ? MB_OKCANCEL : MB_OK;
    switch (box.icon) {
        case MsgIcon::Error:
            flags |= MB_ICONERROR;
            break;
        case MsgIcon::Warning:
            flags |= MB_ICONWARNING;
            break;
        case MsgIcon::Information:
            flags |= MB_ICONINFORMATION;
            break;
        case MsgIcon::Question:
            flags |= MB_ICONQUESTION;
            break;
    }
    HWND owner = Owner();
    if (owner == nullptr)
        flags |= MB_TASKMODAL;
    return MessageBoxW(owner, Wide(box.text).c_str(), Wide(box.caption).c_str(), flags) == IDOK
               ? IDOK
               : IDCANCEL;
}

std::optional<std::string> Win32DialogView::OpenFileDialog(const FileDialogSpec& dialog) {
    return RunFileDialog(Owner(), dialog, false);
}

std::optional<std::string> Win32DialogView::SaveFileDialog(const FileDialogSpec& dialog) {
    return RunFileDialog(Owner(), dialog, true);
}

SelectTargetResult Win32DialogView::RunSelectTargetDialog(const SelectTargetRequest& request) {
    return RunSelectTarget(instance_, Owner(), request);
}

SerializationResult Win32DialogView::RunSerializationDialog(const SerializationState& initial,
                                                            SerializationValidator& validator) {
    return RunSerialization(instance_, Owner(), initial, validator);
}

SecurityIdResult Win32DialogView::RunSecurityIdDialog(const SecurityIdRequest& request) {
    return RunSecurityId(instance_, Owner(), request);
}

void Win32DialogView::RunProgramFileDialog(ProgramFileDialogHost& host) {
    RunProgramFiles(instance_, Owner(), host);
}

AddHexFileResult Win32DialogView::RunAddHexFileDialog(const FileDialogSpec& browse) {
    return RunAddHexFile(instance_, Owner(), browse);
}

void Win32DialogView::RunAboutDialog(const AboutInfo& info) {
    RunAbout(instance_, Owner(), info);
}

// ---------------------------------------------------------------------------------------------
// The band below the controls

void Win32DialogView::CreateBand() {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
    auto make = [&](const wchar_t* cls, DWORD style, int id) {
        HWND control =
            CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return control;
    };
    make(WC_STATICW, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX | SS_ENDELLIPSIS, IDC_BAND_YIELD);
    make(WC_STATICW, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX | SS_ENDELLIPSIS, IDC_BAND_FAILS);
    HWND progress = make(PROGRESS_CLASSW, PBS_SMOOTH, IDC_BAND_PROGRESS);
    SetWindowSubclass(progress, ProgressTextProc, 1, reinterpret_cast<DWORD_PTR>(&progressText_));
}

void Win32DialogView::PlaceBand() {
    if (window_ == nullptr)
        return;
    // The band fills the room between the lowest shown control and the window's bottom.
    int top = 0;
    for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id != IDC_BAND_YIELD && id != IDC_BAND_FAILS && id != IDC_BAND_PROGRESS &&
            IsShown(child))
            top = std::max(top, ChildRect(window_, child).bottom());
    }
    RECT client;
    GetClientRect(window_, &client);
    RECT wide{kBandSpanDu.left, kBandSpanDu.top, kBandSpanDu.right, kBandSpanDu.bottom};
    MapDialogRect(window_, &wide);
    const BandPlacement band =
        PlaceProductionBand(top, static_cast<int>(client.bottom), ToPixelRect(wide), Dpi());
    auto place = [&](int id, const PixelRect& r) {
        SetWindowPos(Control(id), nullptr, r.left, r.top, r.width, r.height,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    };
    place(IDC_BAND_YIELD, band.yield);
    place(IDC_BAND_FAILS, band.fails);
    place(IDC_BAND_PROGRESS, band.progress);
}

void Win32DialogView::ShowProductionBand(const ProductionBandState& band) {
    if (window_ == nullptr)
        return;
    band_ = band;
    SetWindowTextUtf8(Control(IDC_BAND_YIELD), " " + band.yieldText);
    SetWindowTextUtf8(Control(IDC_BAND_FAILS), band.failsText);
    InvalidateRect(Control(IDC_BAND_YIELD), nullptr, TRUE);
    HWND progress = Control(IDC_BAND_PROGRESS);
    if (band.progressShown && band.progressTotal > 0) {
        const auto total = static_cast<int>(std::min<uint32_t>(band.progressTotal, INT32_MAX));
        const auto done = static_cast<int>(std::min<uint32_t>(band.progressDone, INT32_MAX));
        SendMessageW(progress, PBM_SETRANGE32, 0, total);
        SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(std::min(done, total)), 0);
    } else {
        SendMessageW(progress, PBM_SETRANGE32, 0, 1);
        SendMessageW(progress, PBM_SETPOS, 0, 0);
    }
    progressText_ = band.progressShown ? Wide(band.progressText) : std::wstring();
    InvalidateRect(progress, nullptr, TRUE);
}

void Win32DialogView::SetWaitCursor(bool wait) {
    waitCursor_ = wait;
    SetCursor(LoadCursorW(nullptr, wait ? IDC_WAIT : IDC_ARROW));
}
