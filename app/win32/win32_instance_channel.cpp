#include "win32_instance_channel.h"

#include "programdata/string_table.h"
#include "win32_text.h"
#include "win32_windows.h"

namespace {

// The running copy may still be starting (reading its TRG files, or showing a message at
// start-up): its window is looked for this long before the later copy gives up.
constexpr DWORD kWindowWaitMs = 3000;
constexpr DWORD kPollMs = 50;

}  // namespace

bool Win32InstanceChannel::RaiseRunningInstance() {
    const std::wstring title = Wide(std::string(GetStringText(IDS_MAIN_TITLE)));
    const DWORD start = GetTickCount();
    for (;;) {
        // A dialog window of exactly that title, shown: one that is still hidden is being set
        // up, and it shows itself when it is ready.
        HWND window = FindWindowW(L"#32770", title.c_str());
        if (window != nullptr && IsWindowVisible(window)) {
            if (IsIconic(window))
                ShowWindow(window, SW_RESTORE);
            SetForegroundWindow(window);
            return true;
        }
        if (GetTickCount() - start >= kWindowWaitMs)
            return false;
        Sleep(kPollMs);
    }
}
