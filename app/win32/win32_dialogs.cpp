#include "win32_dialogs.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "app/control_ids.h"
#include "programdata/limits.h"
#include "programdata/string_table.h"
#include "security_id_keys.h"
#include "win32_label_font.h"
#include "win32_resource.h"
#include "win32_text.h"

namespace {

// Each dialog keeps its state in a struct of its own, reached through DWLP_USER.
template <typename State>
State* StateOf(HWND dialog) {
    return reinterpret_cast<State*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

template <typename State>
INT_PTR RunDialog(HINSTANCE instance, HWND owner, int templateId, DLGPROC proc, State& state) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, proc,
                           reinterpret_cast<LPARAM>(&state));
}

// The dialog's title with the program's texts in it.
void SetItemText(HWND dialog, int id, const std::string& text) {
    SetWindowTextUtf8(GetDlgItem(dialog, id), text);
}

std::string ItemText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

// --- Select Target -----------------------------------------------------------------------------

struct SelectTargetState {
    const SelectTargetRequest& request;
    SelectTargetResult result;
};

INT_PTR CALLBACK SelectTargetProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* state = reinterpret_cast<SelectTargetState*>(lParam);
        HWND combo = GetDlgItem(dialog, IDC_TARGET_COMBO);
        for (const std::string& name : state->request.names)
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
        if (state->request.selected >= 0 &&
            static_cast<size_t>(state->request.selected) < state->request.names.size())
            SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(state->request.selected), 0);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        auto* state = StateOf<SelectTargetState>(dialog);
        state->result.button = LOWORD(wParam);
        // Typed text is answered as it is.
        state->result.name = ItemText(dialog, IDC_TARGET_COMBO);
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// --- Serialization -----------------------------------------------------------------------------

struct SerializationDialogState {
    SerializationValidator& validator;
    SerializationResult result;
};

constexpr int kSerialLengthMin = 1;
constexpr int kSerialLengthMax = 256;

void UpdateSerialEnabling(HWND dialog) {
    const bool on = IsDlgButtonChecked(dialog, IDC_SERIAL_ON) == BST_CHECKED;
    for (int id : {IDC_SERIAL_ADDRESS, IDC_SERIAL_LENGTH, IDC_SERIAL_LENGTH_SPIN, IDC_SERIAL_START,
                   IDC_SERIAL_INCREMENT})
        EnableWindow(GetDlgItem(dialog, id), on);
}

INT_PTR CALLBACK SerializationProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const SerializationState& fields =
            reinterpret_cast<SerializationDialogState*>(lParam)->result.fields;
        CheckDlgButton(dialog, IDC_SERIAL_ON, fields.serialOn ? BST_CHECKED : BST_UNCHECKED);
        SetItemText(dialog, IDC_SERIAL_START, fields.startSerial);
        SetItemText(dialog, IDC_SERIAL_ADDRESS, fields.address);
        SetItemText(dialog, IDC_SERIAL_INCREMENT, fields.increment);
        HWND spin = GetDlgItem(dialog, IDC_SERIAL_LENGTH_SPIN);
        SendMessageW(spin, UDM_SETRANGE32, kSerialLengthMin, kSerialLengthMax);
        SendMessageW(spin, UDM_SETPOS32, 0,
                     std::clamp(fields.length, kSerialLengthMin, kSerialLengthMax));
        UpdateSerialEnabling(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    auto* state = StateOf<SerializationDialogState>(dialog);
    switch (LOWORD(wParam)) {
        case IDC_SERIAL_ON:
            if (HIWORD(wParam) == BN_CLICKED)
                UpdateSerialEnabling(dialog);
            return TRUE;
        case IDOK: {
            SerializationState fields;
            fields.serialOn = IsDlgButtonChecked(dialog, IDC_SERIAL_ON) == BST_CHECKED;
            fields.startSerial = ItemText(dialog, IDC_SERIAL_START);
            fields.address = ItemText(dialog, IDC_SERIAL_ADDRESS);
            fields.increment = ItemText(dialog, IDC_SERIAL_INCREMENT);
            fields.length = static_cast<int>(
                SendDlgItemMessageW(dialog, IDC_SERIAL_LENGTH_SPIN, UDM_GETPOS32, 0, 0));
            // A refused entry was reported by the validator; the operator corrects it here.
            if (!state->validator.Accept(fields))
                return TRUE;
            state->result = {IDOK, std::move(fields)};
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            state->result.button = IDCANCEL;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

// --- Security ID -------------------------------------------------------------------------------

struct SecurityDialogState {
    const SecurityIdRequest& request;
    SecurityIdResult result;
    SecurityIdKeys keys;
    std::array<HWND, kSecurityFieldCount> fields{};
    bool showing = false;  // the fields are being written from the keys
};

int FieldIndex(const SecurityDialogState& state, HWND field) {
    for (int i = 0; i < kSecurityFieldCount; ++i)
        if (state.fields[static_cast<size_t>(i)] == field)
            return i;
    return -1;
}

// The fields' texts and the caret into the keys, as the operator left them.
void ReadFields(SecurityDialogState& state, int field) {
    for (int i = 0; i < kSecurityFieldCount; ++i)
        state.keys.SetText(i, WindowText(state.fields[static_cast<size_t>(i)]));
    DWORD start = 0, end = 0;
    SendMessageW(state.fields[static_cast<size_t>(field)], EM_GETSEL,
                 reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    state.keys.SetCaret(field, static_cast<int>(start), end > start ? static_cast<int>(end) : -1);
}

// The keys' texts into the fields, and the focus and caret to where the keys left them.
void ShowFields(SecurityDialogState& state) {
    state.showing = true;
    for (int i = 0; i < kSecurityFieldCount; ++i) {
        HWND field = state.fields[static_cast<size_t>(i)];
        const std::string& text = state.keys.Text(i);
        if (WindowText(field) != text)
            SetWindowTextUtf8(field, text);
    }
    HWND focus = state.fields[static_cast<size_t>(state.keys.Field())];
    if (GetFocus() != focus)
        SetFocus(focus);
    SendMessageW(focus, EM_SETSEL, static_cast<WPARAM>(state.keys.Caret()), state.keys.Caret());
    state.showing = false;
}

std::string ClipboardText(HWND owner) {
    std::string text;
    if (!OpenClipboard(owner))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = Utf8(chars);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// Each word field: the keyboard goes through the keys; the edit only shows them.
LRESULT CALLBACK SecurityFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR data) {
    auto& state = *reinterpret_cast<SecurityDialogState*>(data);
    const int index = FieldIndex(state, field);
    HWND dialog = GetParent(field);
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    switch (message) {
        case WM_GETDLGCODE:
            // Tab, the arrows and Enter are the field's own; no select-all when tabbed into.
            return (DefSubclassProc(field, message, wParam, lParam) | DLGC_WANTALLKEYS) &
                   ~DLGC_HASSETSEL;
        case WM_SETFOCUS: {
            const LRESULT r = DefSubclassProc(field, message, wParam, lParam);
            // Reached from outside the fields: the caret waits at the first blank position,
            // where typing goes on.
            if (!state.showing && FieldIndex(state, reinterpret_cast<HWND>(wParam)) < 0) {
                const size_t blank = WindowText(field).find(' ');
                const int at = blank == std::string::npos ? 0 : static_cast<int>(blank);
                SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(at), at);
            }
            return r;
        }
        case WM_KEYDOWN:
            switch (wParam) {
                case VK_RETURN:
                    if (IsWindowEnabled(GetDlgItem(dialog, IDOK)))
                        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
                    return 0;
                case VK_ESCAPE:
                    // Left to the dialog: its Cancel button is Unplug.
                    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
                    return 0;
                case VK_TAB: {
                    ReadFields(state, index);
                    switch (state.keys.Tab(shift)) {
                        case SecurityIdKeys::Leave::Before:
                            SetFocus(GetDlgItem(dialog, IDC_SECURITY_ENTER_ID));
                            return 0;
                        case SecurityIdKeys::Leave::After:
                            SetFocus(GetDlgItem(dialog, IDOK));
                            return 0;
                        case SecurityIdKeys::Leave::None:
                            ShowFields(state);
                            return 0;
                    }
                    return 0;
                }
                case VK_LEFT:
                case VK_RIGHT:
                case VK_BACK:
                case VK_DELETE:
                    // Selecting with Shift moves as in any edit.
                    if (shift && wParam != VK_BACK && wParam != VK_DELETE)
                        break;
                    ReadFields(state, index);
                    if (wParam == VK_LEFT)
                        state.keys.Left();
                    else if (wParam == VK_RIGHT)
                        state.keys.Right();
                    else if (wParam == VK_BACK)
                        state.keys.Backspace();
                    else
                        state.keys.Delete();
                    ShowFields(state);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CHAR:
            if (control) {
                // Ctrl+V and Ctrl+X go through the field's rules; Ctrl+C and Ctrl+A as usual.
                if (wParam == 0x16) {
                    SendMessageW(field, WM_PASTE, 0, 0);
                    return 0;
                }
                if (wParam == 0x18) {
                    SendMessageW(field, WM_CUT, 0, 0);
                    return 0;
                }
                if (wParam == 0x03 || wParam == 0x01)
                    break;
                return 0;
            }
            if (wParam < 0x20)
                return 0;  // Enter, Tab, Backspace and Escape were handled as keys
            ReadFields(state, index);
            if (wParam < 0x80 && state.keys.Type(static_cast<char>(wParam)))
                ShowFields(state);
            return 0;
        case WM_PASTE:
            ReadFields(state, index);
            if (state.keys.Paste(ClipboardText(field)))
                ShowFields(state);
            return 0;
        case WM_CUT:
        case WM_CLEAR:
            if (message == WM_CUT)
                SendMessageW(field, WM_COPY, 0, 0);
            ReadFields(state, index);
            if (state.keys.BlankSelection())
                ShowFields(state);
            return 0;
        case WM_UNDO:
        case EM_UNDO:
            return 0;  // an undo would shift the positions
        default:
            break;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

void UpdateSecurityEnabling(HWND dialog, SecurityDialogState& state) {
    const bool enter = IsDlgButtonChecked(dialog, IDC_SECURITY_ENTER_ID) == BST_CHECKED;
    for (HWND field : state.fields)
        EnableWindow(field, enter);
}

INT_PTR CALLBACK SecurityProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto& state = *reinterpret_cast<SecurityDialogState*>(lParam);
        char title[64];
        snprintf(title, sizeof title, "Security ID checking (Target No.%d)", state.request.target);
        SetWindowTextUtf8(dialog, title);
        CheckRadioButton(dialog, IDC_SECURITY_ENTER_ID, IDC_SECURITY_INITIALIZE,
                         IDC_SECURITY_ENTER_ID);
        EnableWindow(GetDlgItem(dialog, IDC_SECURITY_INITIALIZE), state.request.initializeAllowed);
        for (int i = 0; i < kSecurityFieldCount; ++i) {
            HWND field = GetDlgItem(dialog, SecurityFieldId(i));
            state.fields[static_cast<size_t>(i)] = field;
            SendMessageW(field, EM_LIMITTEXT, SecurityIdKeys::kPositions, 0);
            SetWindowTextUtf8(field, state.keys.Text(i));
            SetWindowSubclass(field, SecurityFieldProc, 1, reinterpret_cast<DWORD_PTR>(&state));
        }
        // The operator types the ID straight away.
        SetFocus(state.fields[0]);
        SendMessageW(state.fields[0], EM_SETSEL, 0, 0);
        return FALSE;
    }
    if (message == WM_DESTROY) {
        if (auto* state = StateOf<SecurityDialogState>(dialog))
            for (HWND field : state->fields)
                RemoveWindowSubclass(field, SecurityFieldProc, 1);
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    auto& state = *StateOf<SecurityDialogState>(dialog);
    const int id = LOWORD(wParam);
    if ((id == IDC_SECURITY_ENTER_ID || id == IDC_SECURITY_INITIALIZE) &&
        HIWORD(wParam) == BN_CLICKED) {
        UpdateSecurityEnabling(dialog, state);
        return TRUE;
    }
    if (id != IDOK && id != IDSKIP && id != IDUNPLUG)
        return FALSE;
    for (int i = 0; i < kSecurityFieldCount; ++i)
        state.keys.SetText(i, WindowText(state.fields[static_cast<size_t>(i)]));
    state.result.button = id;
    state.result.choice =
        IsDlgButtonChecked(dialog, IDC_SECURITY_INITIALIZE) == BST_CHECKED ? 1 : 0;
    for (int i = 0; i < kSecurityFieldCount; ++i)
        state.result.fields[static_cast<size_t>(i)] = state.keys.Text(i);
    EndDialog(dialog, id);
    return TRUE;
}

// --- Program files -----------------------------------------------------------------------------

struct ProgramFilesState {
    ProgramFileDialogHost& host;
    // The list uses it until the dialog's children are gone: deleted after the dialog ends.
    HFONT font = nullptr;
};

void RefillProgramFiles(HWND dialog, ProgramFilesState& state) {
    HWND list = GetDlgItem(dialog, IDC_PF_LIST);
    ListView_DeleteAllItems(list);
    const auto rows = state.host.FileListRows();
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            std::wstring text = Wide(rows[r][c]);
            if (c == 0) {
                LVITEMW item{};
                item.mask = LVIF_TEXT;
                item.iItem = static_cast<int>(r);
                item.pszText = text.data();
                ListView_InsertItem(list, &item);
            } else {
                ListView_SetItemText(list, static_cast<int>(r), static_cast<int>(c), text.data());
            }
        }
    }
}

INT_PTR CALLBACK ProgramFilesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto& state = *reinterpret_cast<ProgramFilesState*>(lParam);
        HWND list = GetDlgItem(dialog, IDC_PF_LIST);
        HDC dc = GetDC(dialog);
        const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(dialog, dc);
        state.font = CreateFontAt(state.host.FileListFont(), dpi);
        SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
        ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                                            LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        int index = 0;
        for (const ListColumnSpec& entry : kProgramFileColumns) {
            std::wstring header = Wide(std::string(GetStringText(entry.header)));
            LVCOLUMNW column{};
            column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
            column.fmt = LVCFMT_LEFT;
            column.cx = ListView_GetStringWidth(list, header.c_str()) + entry.extraWidth;
            column.pszText = header.data();
            ListView_InsertColumn(list, index++, &column);
        }
        RefillProgramFiles(dialog, state);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    auto& state = *StateOf<ProgramFilesState>(dialog);
    switch (LOWORD(wParam)) {
        case IDC_PF_ADD:
            if (state.host.AddFromDialog())
                RefillProgramFiles(dialog, state);
            return TRUE;
        case IDC_PF_DELETE: {
            HWND list = GetDlgItem(dialog, IDC_PF_LIST);
            std::vector<int> rows;
            for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
                 row = ListView_GetNextItem(list, row, LVNI_SELECTED))
                rows.push_back(row);
            if (!rows.empty()) {
                state.host.DeleteRows(rows);
                RefillProgramFiles(dialog, state);
            }
            return TRUE;
        }
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDOK);
            return TRUE;
        default:
            return FALSE;
    }
}

// --- Add Hex/S File ----------------------------------------------------------------------------

struct AddHexFileState {
    const FileDialogSpec& browse;
    AddHexFileResult result;
};

INT_PTR CALLBACK AddHexFileProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        // Typing stops at the longest name the settings file keeps whole; a longer chosen
        // name is set whole, so that it is refused rather than cut.
        SendDlgItemMessageW(dialog, IDC_AH_FILE_NAME, EM_LIMITTEXT, programdata::kMaxStoredPath, 0);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    auto& state = *StateOf<AddHexFileState>(dialog);
    switch (LOWORD(wParam)) {
        case IDC_AH_BROWSE:
            if (std::optional<std::string> path = RunFileDialog(dialog, state.browse, false))
                SetItemText(dialog, IDC_AH_FILE_NAME, *path);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            state.result.button = LOWORD(wParam);
            state.result.fileName = ItemText(dialog, IDC_AH_FILE_NAME);
            state.result.offsetText = ItemText(dialog, IDC_AH_OFFSET);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

// --- About -------------------------------------------------------------------------------------

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* info = reinterpret_cast<const AboutInfo*>(lParam);
        SetItemText(dialog, IDC_ABOUT_VERSION, info->versionLine);
        SetItemText(dialog, IDC_ABOUT_TEXT, info->secondLine);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

std::optional<std::string> RunFileDialog(HWND owner, const FileDialogSpec& request, bool save) {
    // "desc|pattern|desc|pattern|" is the dialog's own list with NULs for the bars.
    std::wstring filter = Wide(request.filter);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    const std::wstring title = Wide(request.title);
    const std::wstring extension = Wide(request.defaultExtension);
    // Room for the longest path the system takes.
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring initial = Wide(request.initialPath);
    std::copy_n(initial.begin(), std::min(initial.size(), file.size() - 1), file.begin());

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    // The current directory stays where it was: relative names mean the same all run long.
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (save && request.overwritePrompt)
        dialog.Flags |= OFN_OVERWRITEPROMPT;
    if (!save)
        dialog.Flags |= OFN_FILEMUSTEXIST;
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen)
        return std::nullopt;
    return Utf8(file.data());
}

SelectTargetResult RunSelectTarget(HINSTANCE instance, HWND owner,
                                   const SelectTargetRequest& request) {
    SelectTargetState state{request, {IDCANCEL, {}}};
    if (RunDialog(instance, owner, IDD_SELECT_TARGET, SelectTargetProc, state) <= 0)
        state.result.button = IDCANCEL;
    return state.result;
}

SerializationResult RunSerialization(HINSTANCE instance, HWND owner,
                                     const SerializationState& initial,
                                     SerializationValidator& validator) {
    SerializationDialogState state{validator, {IDCANCEL, initial}};
    if (RunDialog(instance, owner, IDD_SERIALIZATION, SerializationProc, state) <= 0)
        state.result.button = IDCANCEL;
    return state.result;
}

SecurityIdResult RunSecurityId(HINSTANCE instance, HWND owner, const SecurityIdRequest& request) {
    SecurityDialogState state{request, {}, {}, {}};
    state.result.button = IDUNPLUG;
    if (RunDialog(instance, owner, IDD_SECURITY_ID, SecurityProc, state) <= 0)
        state.result.button = IDUNPLUG;
    return state.result;
}

void RunProgramFiles(HINSTANCE instance, HWND owner, ProgramFileDialogHost& host) {
    ProgramFilesState state{host};
    RunDialog(instance, owner, IDD_PROGRAM_FILES, ProgramFilesProc, state);
    if (state.font != nullptr)
        DeleteObject(state.font);
}

AddHexFileResult RunAddHexFile(HINSTANCE instance, HWND owner, const FileDialogSpec& browse) {
    AddHexFileState state{browse, {IDCANCEL, {}, {}}};
    if (RunDialog(instance, owner, IDD_ADD_HEX_FILE, AddHexFileProc, state) <= 0)
        state.result.button = IDCANCEL;
    return state.result;
}

void RunAbout(HINSTANCE instance, HWND owner, const AboutInfo& info) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc,
                    reinterpret_cast<LPARAM>(&info));
}
