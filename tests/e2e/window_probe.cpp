// Tells the window test what the operator's keys reached: it reads one window title per line
// on standard input and answers with the titles of the desktop's visible top-level windows and
// the state of that window's controls, so that the test presses a key only once the control it
// works is enabled, and knows when a dialog has opened or closed.
//
// Usage: window_probe.exe DESKTOP   (the desktop the window runs in, e.g. from explorer /desktop)
// Answer lines, tab-separated, ending with "end":
//   top      <title>                                   every visible top-level window
//   active   <title> <focused control id>              the window thread's active window
//   foreground <title>                                 where the keyboard's keys go
//   control  <id> <visible> <enabled> <checked> <text> every control of the asked window
//   rows     <id> <check of each row, 1 or 0>          list views with check boxes
#include <windows.h>
// The header above must come first.
#include <commctrl.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "win32_text.h"

namespace {

// A window's text on one line: the answer is line- and tab-separated.
std::string Text(HWND window) {
    wchar_t buffer[512] = {};
    // WM_GETTEXT is carried across processes; a hung window does not hang the probe.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer),
                             reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::string text = Utf8(buffer, static_cast<int>(length));
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return static_cast<LRESULT>(result);
}

BOOL CALLBACK ListTop(HWND window, LPARAM answer) {
    if (IsWindowVisible(window))
        reinterpret_cast<std::string*>(answer)->append("top\t" + Text(window) + "\n");
    return TRUE;
}

struct Search {
    std::wstring title;
    HWND found = nullptr;
    HWND firstShown = nullptr;
};

BOOL CALLBACK FindTop(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->firstShown == nullptr)
        search->firstShown = window;
    wchar_t title[256] = {};
    GetWindowTextW(window, title, static_cast<int>(std::size(title)));
    if (search->title == title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Where the operator's next key goes: the active window of the program's GUI thread and the
// control that has the focus in it.
std::string Active(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (window == nullptr || !GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ||
        info.hwndActive == nullptr)
        return "active\t\t0\n";
    const int focus = info.hwndFocus != nullptr ? GetDlgCtrlID(info.hwndFocus) : 0;
    return "active\t" + Text(info.hwndActive) + "\t" + std::to_string(focus) + "\n";
}

BOOL CALLBACK ListControl(HWND control, LPARAM answer) {
    auto& out = *reinterpret_cast<std::string*>(answer);
    const int id = GetDlgCtrlID(control);
    const std::wstring cls = ClassOf(control);
    const bool button = _wcsicmp(cls.c_str(), WC_BUTTONW) == 0;
    const LRESULT check = button ? Ask(control, BM_GETCHECK, 0, 0) : 0;
    char line[64];
    std::snprintf(line, sizeof line, "control\t%d\t%d\t%d\t%d\t", id,
                  IsWindowVisible(control) ? 1 : 0, IsWindowEnabled(control) ? 1 : 0,
                  check == BST_CHECKED ? 1 : 0);
    out += line + Text(control) + "\n";
    if (_wcsicmp(cls.c_str(), WC_LISTVIEWW) == 0 &&
        (Ask(control, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES)) {
        // The state image of each row: 1 unchecked, 2 checked.
        out += "rows\t" + std::to_string(id) + "\t";
        const auto rows = static_cast<int>(Ask(control, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row)
            out += (Ask(control, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK) >>
                    12) == 2
                       ? '1'
                       : '0';
        out += "\n";
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_probe.exe DESKTOP\n");
        return 2;
    }
    // The window lives on the desktop its explorer made; this thread has no window yet and may
    // move there.
    HDESK desktop =
        OpenDesktopW(Wide(argv[1]).c_str(), 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
        std::fprintf(stderr, "window_probe: desktop %s not found (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::string title;
    while (std::getline(std::cin, title)) {
        if (!title.empty() && title.back() == '\r')
            title.pop_back();
        std::string answer;
        EnumDesktopWindows(desktop, ListTop, reinterpret_cast<LPARAM>(&answer));
        Search search{Wide(title)};
        EnumDesktopWindows(desktop, FindTop, reinterpret_cast<LPARAM>(&search));
        answer += Active(search.found != nullptr ? search.found : search.firstShown);
        if (HWND front = GetForegroundWindow())
            answer += "foreground\t" + Text(front) + "\n";
        if (search.found != nullptr)
            EnumChildWindows(search.found, ListControl, reinterpret_cast<LPARAM>(&answer));
        std::fputs((answer + "end\n").c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
