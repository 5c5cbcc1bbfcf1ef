// Quorvel.exe: one copy per user runs the main window; a later start raises it and ends.
#include "app/quorvel_app.h"
#include "win32_dialog_view.h"
#include "win32_instance_channel.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                       ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CQuorvelApp app;
    Win32DialogView view(instance);
    Win32InstanceChannel channel;
    return app.Run(view, channel);
}
