// The Windows window without a display: Quorvel.exe's dialog template holds every control of
// the main window table where the table puts it, each program and Brindlex.dll carries its
// version, manifest and no symbols, a label too wide for its room gets a font just small enough,
// and the security ID fields follow their key rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/main_window_layout.h"
#include "security_id_keys.h"
#include "win32_label_font.h"
#include "win32_text.h"
#include "win32_windows.h"

namespace {

const std::string kBin = QUORVEL_BIN_DIR;

// A module's resources, read without running it.
struct ResourceFile {
    explicit ResourceFile(const std::string& name)
        : module(LoadLibraryExW(Wide(kBin + "/" + name).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ResourceFile() {
        if (module != nullptr)
            FreeLibrary(module);
    }
    std::string Bytes(const wchar_t* type, int id) const {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (found == nullptr)
            return {};
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }
    HMODULE module;
};

// One control of an extended dialog template.
struct TemplateItem {
    DWORD style = 0;
    int id = 0;
    DlgRect rect;
    std::wstring cls;  // "#128" and so on for the predefined classes
    std::string title;
};

class TemplateReader {
  public:
    explicit TemplateReader(const std::string& bytes) : data_(bytes) {}
    std::wstring title;
    std::vector<TemplateItem> Read() {
        std::vector<TemplateItem> items;
        if (data_.size() < 26 || Word(2) != 0xFFFF)
            return items;  // not an extended template
        const DWORD style = Dword(12);
        const int count = Word(16);
        at_ = 26;
        SizeOrOrdinal();  // menu
        SizeOrOrdinal();  // class
        title = String();
        if (style & DS_SETFONT) {
            at_ += 6;
            String();
        }
        for (int i = 0; i < count; ++i) {
            at_ = (at_ + 3) & ~size_t{3};
            TemplateItem item;
            item.style = Dword(at_ + 8);
            const int x = Short(at_ + 12), y = Short(at_ + 14);
            item.rect = {x, y, x + Short(at_ + 16), y + Short(at_ + 18)};
            item.id = static_cast<int>(Dword(at_ + 20));
            at_ += 24;
            item.cls = SizeOrOrdinal();
            item.title = Utf8(SizeOrOrdinal().c_str());
            at_ += 2 + Word(at_);
            items.push_back(item);
        }
        return items;
    }

  private:
    unsigned Word(size_t at) const {
        return static_cast<unsigned char>(data_[at]) | static_cast<unsigned char>(data_[at + 1])
                                                           << 8;
    }
    int Short(size_t at) const { return static_cast<int16_t>(Word(at)); }
    DWORD Dword(size_t at) const { return Word(at) | Word(at + 2) << 16; }
    std::wstring String() {
        std::wstring s;
        for (unsigned c = Word(at_); c != 0; c = Word(at_))
            s += static_cast<wchar_t>(c), at_ += 2;
        at_ += 2;
        return s;
    }
    std::wstring SizeOrOrdinal() {
        if (Word(at_) == 0xFFFF) {
            const std::wstring ordinal = L"#" + std::to_wstring(Word(at_ + 2));
            at_ += 4;
            return ordinal;
        }
        return String();
    }
    const std::string data_;
    size_t at_ = 0;
};

std::wstring ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
            return L"#130";
        case ControlKind::ComboBox:
            return L"#133";
        case ControlKind::Edit:
        case ControlKind::ReadOnlyEdit:
            return L"#129";
        case ControlKind::ListView:
            return L"SysListView32";
        default:
            return L"#128";
    }
}

std::vector<int> Ids(const std::vector<TemplateItem>& items) {
    std::vector<int> ids;
    for (const TemplateItem& item : items)
        ids.push_back(item.id);
    return ids;
}

TEST(Win32Resources, MainDialogHoldsTheTableInItsOrderAndPlaces) {
    ResourceFile exe("Quorvel.exe");
    ASSERT_NE(exe.module, nullptr);
    const std::string bytes = exe.Bytes(MAKEINTRESOURCEW(5), IDD_QUORVEL_DIALOG);
    TemplateReader reader(bytes);
    const std::vector<TemplateItem> items = reader.Read();
    EXPECT_EQ(reader.title, L"Quorvel   Multiple Flash Writer");
    const auto table = MainWindowControls();
    ASSERT_EQ(items.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const ControlSpec& control = table[i];
        const TemplateItem& item = items[i];
        SCOPED_TRACE(control.id);
        EXPECT_EQ(item.id, control.id);
        // The resource compiler writes a class name in capitals; class names ignore case.
        EXPECT_EQ(_wcsicmp(item.cls.c_str(), ClassOf(control.kind).c_str()), 0);
        EXPECT_EQ(item.title, control.kind == ControlKind::ListView ? "" : control.caption);
        // Each control starts where its first view mode puts it.
        const DlgRect first = control.detail ? *control.detail : control.simple.value_or(DlgRect{});
        EXPECT_EQ(item.rect, first);
        const bool shown =
            control.initial == InitialState::Shown || control.initial == InitialState::Disabled;
        EXPECT_EQ((item.style & WS_VISIBLE) != 0, shown);
        EXPECT_EQ((item.style & WS_DISABLED) != 0, control.initial == InitialState::Disabled);
        if (control.kind == ControlKind::Button || control.kind == ControlKind::DefaultButton) {
            EXPECT_EQ((item.style & 0xF) == BS_DEFPUSHBUTTON,
                      control.kind == ControlKind::DefaultButton);
            EXPECT_EQ((item.style & BS_MULTILINE) != 0, control.multiLine);
        }
        // A label too narrow for its text would hide its last word on a second line.
        if (control.kind == ControlKind::Label) {
            EXPECT_EQ(item.style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFTNOWORDWRAP));
        }
        if (control.kind == ControlKind::ReadOnlyEdit || control.kind == ControlKind::Edit) {
            EXPECT_EQ((item.style & ES_READONLY) != 0, control.kind == ControlKind::ReadOnlyEdit);
            EXPECT_EQ((item.style & ES_CENTER) != 0, control.centred);
        }
    }
}

TEST(Win32Resources, SubDialogsCarryTheControlsTheViewUses) {
    ResourceFile exe("Quorvel.exe");
    ASSERT_NE(exe.module, nullptr);
    struct Expected {
        int dialog;
        std::wstring title;
        std::vector<int> ids;
    };
    const Expected dialogs[] = {
        {IDD_ABOUTBOX, L"Quorvel version", {-1, 1034, 1035, IDOK}},
        {IDD_SELECT_TARGET, L"Select Target", {-1, IDC_TARGET_COMBO, IDOK, IDCANCEL}},
        {IDD_SERIALIZATION,
         L"Serialization",
         {1157, -1, 1010, -1, -1, 1012, 1158, -1, -1, 1009, -1, -1, 1011, -1, IDOK, IDCANCEL}},
        {IDD_SECURITY_ID,
         L"Security ID checking",
         {1351, 1352, 1350, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360, 1361, 1362, 1363, IDOK,
          IDSKIP, IDUNPLUG}},
    };
    for (const Expected& expected : dialogs) {
        SCOPED_TRACE(expected.dialog);
        const std::string bytes = exe.Bytes(MAKEINTRESOURCEW(5), expected.dialog);
        TemplateReader reader(bytes);
        EXPECT_EQ(Ids(reader.Read()), expected.ids);
        EXPECT_EQ(reader.title, expected.title);
    }
    // The up-down control follows its buddy: it takes the control before it.
    TemplateReader serial(exe.Bytes(MAKEINTRESOURCEW(5), IDD_SERIALIZATION));
    EXPECT_TRUE(serial.Read()[6].style & UDS_AUTOBUDDY);
}

TEST(Win32Resources, EveryDeliverableHasItsVersionManifestAndNoSymbols) {
    struct Binary {
        std::string name;
        int manifestId;
    };
    for (const Binary& binary : {Binary{"Quorvel.exe", 1}, Binary{"quorvel-cli.exe", 1},
                                 Binary{"vexil-pipe-sim.exe", 1}, Binary{"Brindlex.dll", 2}}) {
        SCOPED_TRACE(binary.name);
        const std::wstring path = Wide(kBin + "/" + binary.name);
        DWORD ignored = 0;
        std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(
            GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        wchar_t* version = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\FileVersion",
                                   reinterpret_cast<void**>(&version), &length));
        EXPECT_EQ(Utf8(version), QUORVEL_VERSION);

        ResourceFile file(binary.name);
        const std::string manifest = file.Bytes(MAKEINTRESOURCEW(24), binary.manifestId);
        EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
        if (binary.manifestId == 1) {
            for (const char* setting : {"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                                        ">UTF-8</activeCodePage>", ">true</longPathAware>",
                                        ">PerMonitorV2, PerMonitor<", "level=\"asInvoker\""})
                EXPECT_NE(manifest.find(setting), std::string::npos) << setting;
        }

        // Stripped: no symbol table, the debug information beside it.
        HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        std::vector<char> head(4096);
        DWORD got = 0;
        ReadFile(f, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
        CloseHandle(f);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(head.data() + dos->e_lfanew);
        EXPECT_EQ(nt->FileHeader.NumberOfSymbols, 0u);
        EXPECT_NE(GetFileAttributesW((path + L".debug").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

// --- Labels too wide for their room --------------------------------------------------------

struct Gdi {
    Gdi() : dc(CreateCompatibleDC(nullptr)) {}
    ~Gdi() {
        for (HFONT f : fonts)
            DeleteObject(f);
        DeleteDC(dc);
    }
    HFONT Own(HFONT font) { return fonts.push_back(font), font; }
    static int Height(HFONT font) {
        LOGFONTW shape{};
        GetObjectW(font, sizeof shape, &shape);
        return shape.lfHeight;
    }
    HDC dc;
    std::vector<HFONT> fonts;
};

TEST(LabelFont, ShrinksOnlyAsFarAsTheRoomNeedsAndNoFurtherThanAQuarter) {
    Gdi gdi;
    const HFONT dialog = gdi.Own(CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0,
                                             0, 0, 0, L"MS Shell Dlg 2"));
    const std::wstring text = L"Command File";
    const int natural = TextWidth(gdi.dc, dialog, text);
    ASSERT_GT(natural, 40);
    EXPECT_EQ(CreateFittingFont(gdi.dc, dialog, text, natural), nullptr) << "it fits as it is";

    const HFONT fitted = gdi.Own(CreateFittingFont(gdi.dc, dialog, text, natural - 6));
    ASSERT_NE(fitted, nullptr);
    EXPECT_LE(TextWidth(gdi.dc, fitted, text), natural - 6);
    // The largest size that fits: one pixel more would not.
    const int height = -Gdi::Height(fitted);
    EXPECT_LT(height, 12);
    const HFONT larger = gdi.Own(CreateFontW(-(height + 1), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                                             DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg 2"));
    EXPECT_GT(TextWidth(gdi.dc, larger, text), natural - 6);

    // A room far too small: the smallest size allowed, and the label cuts the rest.
    const HFONT smallest = gdi.Own(CreateFittingFont(gdi.dc, dialog, text, natural / 3));
    ASSERT_NE(smallest, nullptr);
    EXPECT_EQ(Gdi::Height(smallest), -9);
}

// --- Security ID fields ------------------------------------------------------------------

std::string Texts(const SecurityIdKeys& keys, int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += "[" + keys.Text(i) + "]";
    return s;
}

TEST(SecurityIdKeys, TypingRunsOnAcrossTheFieldsAndOverwrites) {
    SecurityIdKeys keys;
    for (char c : std::string("12345a"))
        EXPECT_TRUE(keys.Type(c));
    EXPECT_EQ(Texts(keys, 3), "[1234][5A  ][    ]");
    EXPECT_EQ(keys.Field(), 1);
    EXPECT_EQ(keys.Caret(), 2);
    EXPECT_FALSE(keys.Type('g'));
    EXPECT_FALSE(keys.Type('-'));
    // Typing over a position replaces it; nothing shifts.
    keys.SetCaret(0, 1);
    EXPECT_TRUE(keys.Type('f'));
    EXPECT_EQ(Texts(keys, 2), "[1F34][5A  ]");
    // A selection is blanked, then typed over.
    keys.SetCaret(1, 0, 2);
    EXPECT_TRUE(keys.Type('9'));
    EXPECT_EQ(keys.Text(1), "9   ");
    // The fourth digit of the last field has nowhere to move on to, and a fifth is refused.
    keys.SetCaret(11, 0);
    for (char c : std::string("abcd"))
        EXPECT_TRUE(keys.Type(c));
    EXPECT_EQ(keys.Field(), 11);
    EXPECT_EQ(keys.Caret(), 4);
    EXPECT_FALSE(keys.Type('e'));
    EXPECT_EQ(keys.Text(11), "ABCD");
}

TEST(SecurityIdKeys, ArrowsBackspaceDeleteAndTabCrossOnlyAtTheEdges) {
    SecurityIdKeys keys;
    keys.SetText(0, "1234");
    keys.SetText(1, "56");
    keys.SetCaret(1, 0);
    keys.Backspace();  // at the start: to the end of the field before, nothing blanked
    EXPECT_EQ(keys.Field(), 0);
    EXPECT_EQ(keys.Caret(), 4);
    EXPECT_EQ(keys.Text(0), "1234");
    keys.Backspace();
    EXPECT_EQ(keys.Text(0), "123 ");
    EXPECT_EQ(keys.Field(), 0) << "no move on after Backspace";
    keys.SetCaret(0, 4);
    keys.Right();
    EXPECT_EQ(keys.Field(), 1);
    EXPECT_EQ(keys.Caret(), 0);
    keys.Left();
    EXPECT_EQ(keys.Field(), 0);
    EXPECT_EQ(keys.Caret(), 4);
    keys.SetCaret(0, 0);
    keys.Left();  // the first field has nothing before it
    EXPECT_EQ(keys.Field(), 0);
    keys.Delete();
    EXPECT_EQ(keys.Text(0), " 23 ");
    EXPECT_EQ(keys.Tab(true), SecurityIdKeys::Leave::Before);
    EXPECT_EQ(keys.Tab(false), SecurityIdKeys::Leave::None);
    EXPECT_EQ(keys.Field(), 1);
    keys.SetCaret(11, 2);
    EXPECT_EQ(keys.Tab(false), SecurityIdKeys::Leave::After);
    EXPECT_EQ(keys.Tab(true), SecurityIdKeys::Leave::None);
    EXPECT_EQ(keys.Field(), 10);
    EXPECT_EQ(keys.Caret(), 4);
}

TEST(SecurityIdKeys, PasteSpreadsDigitsOrRefusesThemWhole) {
    SecurityIdKeys keys;
    EXPECT_TRUE(keys.Paste("1234-5678 9abc:de"));
    EXPECT_EQ(Texts(keys, 5), "[1234][5678][9ABC][DE  ][    ]");
    EXPECT_EQ(keys.Field(), 3);
    EXPECT_EQ(keys.Caret(), 2);
    EXPECT_FALSE(keys.Paste("12x4")) << "anything but digits and separators is refused";
    keys.SetCaret(11, 2);
    EXPECT_FALSE(keys.Paste("123")) << "more digits than positions left";
    EXPECT_EQ(keys.Text(11), "    ");
    keys.SetText(0, "a?c");
    EXPECT_EQ(keys.Text(0), "A C ");
}

}  // namespace
