#include "win32_label_font.h"

#include <cstdlib>
#include <cwchar>

#include "win32_text.h"

int TextWidth(HDC dc, HFONT font, const std::wstring& text) {
    HGDIOBJ old = SelectObject(dc, font);
    RECT needed{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    return needed.right - needed.left;
}

HFONT CreateFittingFont(HDC dc, HFONT font, const std::wstring& text, int width) {
    if (TextWidth(dc, font, text) <= width)
        return nullptr;
    LOGFONTW shape{};
    if (GetObjectW(font, sizeof shape, &shape) != sizeof shape || shape.lfHeight == 0)
        return nullptr;
    // A negative height is the characters' height, a positive one the cell's: keep the kind.
    const int sign = shape.lfHeight < 0 ? -1 : 1;
    const int height = std::abs(shape.lfHeight);
    const int smallest = (height * 3 + 3) / 4;
    for (int h = height - 1;; --h) {
        shape.lfHeight = sign * h;
        shape.lfWidth = 0;
        HFONT smaller = CreateFontIndirectW(&shape);
        if (smaller == nullptr || h <= smallest || TextWidth(dc, smaller, text) <= width)
            return smaller;
        DeleteObject(smaller);
    }
}

HFONT CreateFontAt(const FontSpec& wanted, int dpi) {
    LOGFONTW font{};
    const int height = MulDiv(wanted.height < 0 ? -wanted.height : wanted.height, dpi, 96);
    font.lfHeight = wanted.height < 0 ? -height : height;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = wanted.fixedPitch ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH;
    const std::wstring face = Wide(wanted.face);
    wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}
