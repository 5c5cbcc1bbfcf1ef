#pragma once
// The main window's controls and menu bar as one table: id, kind, caption, the dialog-unit
// rectangle of each view mode and the initial state. Views create their controls from it and
// the view modes place them from it.
#include <optional>
#include <span>

#include "app/dialog_view.h"

enum class ControlKind {
    Label,
    ComboBox,
    Edit,
    ReadOnlyEdit,
    Button,
    DefaultButton,
    CheckBox,
    RadioButton,
    GroupBox,
    ListView,
};

enum class InitialState {
    Shown,
    Disabled,  // shown and disabled
    Hidden,
    ModeOnly,  // shown only by the view mode that places it
};

struct ControlSpec {
    int id;
    ControlKind kind;
    const char* caption;
    std::optional<DlgRect> detail;  // placed in detail mode
    std::optional<DlgRect> simple;  // placed in simple mode
    InitialState initial;
    bool multiLine = false;  // buttons whose caption may break into lines
    bool centred = false;
};

// Dialog template size in dialog units.
constexpr int kMainDialogWidthDu = 399;
constexpr int kMainDialogHeightDu = 830;

std::span<const ControlSpec> MainWindowControls();
const ControlSpec* FindMainWindowControl(int id);

// The menu bar in order: each top-level menu, then its items until the next top-level menu.
struct MenuEntry {
    bool topLevel;
    const char* text;  // null for a separator
    int command;
};
std::span<const MenuEntry> MainMenuBar();
