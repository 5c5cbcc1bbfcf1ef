#pragma once
// The main window's controls and menu bar as one table: id, kind, caption, the dialog-unit
// rectangle of each view mode and the initial state. Views create their controls from it and
// the view modes place them from it. Below the table: the placing and colouring both views
// share, in pixels of the window's client area.
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

// A rectangle in pixels: left, top, width, height.
struct PixelRect {
    int left = 0, top = 0, width = 0, height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
    bool operator==(const PixelRect&) const = default;
};

// The band's span across the window, in dialog units.
constexpr DlgRect kBandSpanDu{7, 0, 392, 1};

struct BandPlacement {
    PixelRect yield, fails, progress;
};
// The yield band in the room between the lowest shown control and the client area's bottom:
// the yield and failure texts side by side above the progress bar. span is kBandSpanDu in
// pixels; gaps and row heights are pixels at 96 DPI, scaled to dpi.
BandPlacement PlaceProductionBand(int controlsBottom, int clientHeight, const PixelRect& span,
                                  int dpi = 96);

// The right edge a label may take: up to the nearest of the other shown controls that starts to
// its right on the label's rows, or the client area's edge, less the gap.
int LabelRoomRight(const PixelRect& label, std::span<const PixelRect> controls, int clientRight,
                   int gap);

// Text on a coloured background: white on dark colours (the stopped result's blue), else black.
Rgb TextColourOn(Rgb background);

struct FieldColours {
    Rgb background;
    Rgb text;
};
// The yield text after a failed cycle: red, as the result field shows a failure; otherwise
// the window's own colours.
std::optional<FieldColours> YieldBandColours(bool lastCycleFailed);
