#pragma once
// windows.h and the common controls for the window's code. Their macros that collide with
// DialogView's methods and the controller's ids are taken back.
#include <windows.h>
// The headers above must come first.
#include <commctrl.h>
#include <commdlg.h>

#undef MessageBox
// The dialog buttons are the controller's constants.
#undef IDOK
#undef IDCANCEL
#include "app/control_ids.h"
