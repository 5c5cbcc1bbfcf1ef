#include "app/main_window_layout.h"

#include <algorithm>
#include <array>

#include "app/control_ids.h"

namespace {

using K = ControlKind;
using I = InitialState;
constexpr std::nullopt_t none = std::nullopt;

constexpr DlgRect R(int l, int t, int r, int b) {
    return DlgRect{l, t, r, b};
}

const std::array kControls = std::to_array<ControlSpec>({
    {IDC_TARGET_LABEL, K::Label, "Target", R(12, 4, 53, 12), R(12, 4, 53, 12), I::Shown},
    {IDC_TARGET_COMBO, K::ComboBox, "", R(40, 2, 120, 249), none, I::Shown},
    {IDC_TARGET_NAME_EDIT, K::ReadOnlyEdit, "", none, R(40, 2, 120, 14), I::ModeOnly},
    {IDC_PLUG, K::Button, "Un&plug", R(40, 21, 104, 46), none, I::Shown},
    {IDC_CONNECTION_CHECK, K::Button, "Co&nnection Check", none, R(40, 18, 120, 43), I::ModeOnly},
    {IDC_RESULT_LABEL, K::Label, "Operation Result", R(129, 4, 195, 12), R(162, 4, 228, 12),
     I::Shown},
    {IDC_RESULT_EDIT, K::ReadOnlyEdit, "", R(129, 16, 350, 48), R(162, 16, 383, 52), I::Disabled,
     false, true},
    {IDC_ABOUT, K::Button, "Abo&ut", R(359, 4, 392, 18), none, I::Shown},
    {IDC_CONNECTION_LIST_LABEL, K::Label, "Connection List", R(9, 52, 57, 60), R(9, 48, 62, 56),
     I::Shown},
    {IDC_CONNECTION_LIST, K::ListView, "", R(7, 62, 392, 166), none, I::Disabled},
    {IDC_CHECK_LIST_LOW, K::ListView, "", none, R(7, 59, 197, 261), I::ModeOnly},
    {IDC_CHECK_LIST_HIGH, K::ListView, "", none, R(202, 59, 392, 261), I::ModeOnly},
    {IDC_SERIALIZATION, K::Button, "&Serialization", R(82, 173, 149, 190), none, I::Disabled},
    {IDC_ALL_CHECK, K::Button, "All Chec&k", R(165, 173, 232, 190), none, I::Disabled},
    {IDC_ERASE_MEMORY, K::Button, "&Erase Memory", R(248, 173, 315, 190), none, I::Disabled},
    {IDC_FILE_NAME_LABEL, K::Label, "File Name", R(9, 202, 57, 210), none, I::Shown},
    {IDC_FILE_NAME_EDIT, K::Edit, "", R(48, 200, 363, 212), none, I::Disabled},
    {IDC_FILE_BROWSE, K::Button, "...", R(370, 197, 392, 214), none, I::Disabled},
    {IDC_OFFSET_LABEL, K::Label, "Flash Memory Offset", R(9, 224, 74, 232), none, I::Shown},
    {IDC_OFFSET_EDIT, K::Edit, "", R(83, 221, 159, 235), none, I::Disabled},
    {IDC_ADD_TO_LIST, K::Button, "&Add to List", R(238, 217, 294, 236), none, I::Disabled},
    {IDC_DELETE_FROM_LIST, K::Button, "&Delete from List", R(307, 217, 363, 236), none,
     I::Disabled},
    {IDC_FILE_LIST_LABEL, K::Label, "File List", R(9, 243, 57, 251), R(9, 282, 57, 290), I::Shown},
    {IDC_FILE_LIST, K::ListView, "", R(7, 252, 392, 302), R(7, 292, 392, 335), I::Disabled},
    {IDC_SERIAL_TEXT_LABEL, K::Label, "Start Serial No.", none, R(14, 267, 62, 275), I::ModeOnly},
    {IDC_SERIAL_TEXT_EDIT, K::ReadOnlyEdit, "", none, R(70, 265, 392, 277), I::ModeOnly},
    {IDC_CHECKSUM_LABEL, K::Label, "Checksum", R(9, 313, 47, 321), R(9, 342, 57, 350), I::Shown},
    {IDC_CHECKSUM_EDIT, K::ReadOnlyEdit, "", R(48, 311, 148, 323), R(58, 340, 158, 352), I::Shown},
    {IDC_LOG_FILE_LABEL, K::Label, "Log File", R(9, 332, 54, 340), none, I::Shown},
    {IDC_LOG_FILE_EDIT, K::Edit, "", R(48, 329, 363, 341), none, I::Shown},
    {IDC_LOG_FILE_BROWSE, K::Button, "...", R(370, 327, 392, 344), none, I::Shown},
    {IDC_FILL_GROUP, K::GroupBox, "&Filling Data", none, none, I::Hidden},
    {IDC_FILL_FF, K::RadioButton, "0xFF", none, none, I::Hidden},
    {IDC_FILL_FLASH_CONTENT, K::RadioButton, "Content of Flash Memory", none, none, I::Hidden},
    {IDC_FILL_TEXT_LABEL, K::Label, "Filling Data", none, R(9, 360, 55, 368), I::ModeOnly},
    {IDC_FILL_TEXT_EDIT, K::ReadOnlyEdit, "", none, R(58, 358, 158, 370), I::Hidden},
    {IDC_WRITE, K::Button, "&Write", R(128, 353, 184, 380), none, I::Disabled, true},
    {IDC_VERIFY, K::Button, "&Verify", R(192, 353, 248, 380), none, I::Disabled},
    {IDC_CANCEL_OPERATION, K::Button, "&Cancel", R(256, 353, 312, 380), none, I::Disabled},
    {IDC_EXIT, K::Button, "E&xit", R(332, 353, 388, 380), none, I::Shown},
    {IDC_WRITE_WITH_VERIFY, K::CheckBox, "Write with Verify", R(128, 382, 197, 392), none,
     I::Disabled},
    {IDC_COMMAND_FILE_LABEL, K::Label, "Command File", none, R(9, 378, 57, 386), I::ModeOnly},
    {IDC_COMMAND_FILE_EDIT, K::ReadOnlyEdit, "", none, R(58, 376, 329, 388), I::ModeOnly},
    {IDC_PROGRAM, K::DefaultButton, "P&rogram", none, R(336, 346, 392, 387), I::ModeOnly, true},
});

const std::array kMenuBar = std::to_array<MenuEntry>({
    {true, "&File", 0},
    {false, "&Add/Delete Program File ...", ID_FILE_PROGRAM_FILES},
    {false, "&Set Command File ...", ID_FILE_SET_COMMAND_FILE},
    {false, nullptr, 0},
    {false, "E&xit", ID_FILE_EXIT},
    {true, "&View", 0},
    {false, "&Detail Mode", ID_VIEW_DETAIL_MODE},
    {false, "&Simple Mode", ID_VIEW_SIMPLE_MODE},
    {true, "&Setting", 0},
    {false, "&Target ...", ID_SETTING_TARGET},
    {false, "&Serialization ...", ID_SETTING_SERIALIZATION},
    {false, nullptr, 0},
    {false, "Production Re&cord File ...", ID_SETTING_RECORD_FILE},
    {false, "Write &Production Record", ID_SETTING_RECORD_ON},
    {false, "Reset &Yield Counters", ID_SETTING_RESET_YIELD},
});

}  // namespace

std::span<const ControlSpec> MainWindowControls() {
    return kControls;
}

const ControlSpec* FindMainWindowControl(int id) {
    for (const ControlSpec& c : kControls)
        if (c.id == id)
            return &c;
    return nullptr;
}

std::span<const MenuEntry> MainMenuBar() {
    return kMenuBar;
}

namespace {

int AtDpi(int pixelsAt96, int dpi) {
    return (pixelsAt96 * dpi + 48) / 96;
}

}  // namespace

BandPlacement PlaceProductionBand(int controlsBottom, int clientHeight, const PixelRect& span,
                                  int dpi) {
    const int gap = AtDpi(4, dpi);
    const int row =
        std::clamp((clientHeight - controlsBottom - 3 * gap) / 2, AtDpi(12, dpi), AtDpi(22, dpi));
    const int yieldWidth = span.width * 11 / 20;
    // Low in the room, and below the controls when the room is too small.
    const int top = std::max(controlsBottom + gap, clientHeight - gap - 2 * row - gap);
    return {{span.left, top, yieldWidth, row},
            {span.left + yieldWidth + gap, top, span.width - yieldWidth - gap, row},
            {span.left, top + row + gap, span.width, row}};
}

int LabelRoomRight(const PixelRect& label, std::span<const PixelRect> controls, int clientRight,
                   int gap) {
    int right = clientRight - gap;
    for (const PixelRect& c : controls)
        if (c.left > label.left && c.top < label.bottom() && c.bottom() > label.top)
            right = std::min(right, c.left - gap);
    return right;
}

Rgb TextColourOn(Rgb c) {
    const bool dark = c.r * 299 + c.g * 587 + c.b * 114 < 128 * 1000;
    return dark ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
}

std::optional<FieldColours> YieldBandColours(bool lastCycleFailed) {
    if (!lastCycleFailed)
        return std::nullopt;
    return FieldColours{{255, 0, 0}, {0, 0, 0}};
}
