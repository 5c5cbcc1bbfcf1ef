#pragma once
// The layout's rectangles were drawn for a narrower font than the dialog font the window gets
// here: a label whose text would not fit the room beside it is given a smaller cut of the font,
// so that it shows whole instead of losing its last word.
#include "win32_windows.h"

#include <string>

#include "app/dialog_view.h"

// The width of text in font, in pixels, as a label draws it (one line, no prefix).
int TextWidth(HDC dc, HFONT font, const std::wstring& text);

// A new font like font, just small enough for text to fit into width pixels, but never below
// three quarters of its height (then the smallest, and the label cuts the rest). Null when the
// text fits in font itself. The caller owns the font.
HFONT CreateFittingFont(HDC dc, HFONT font, const std::wstring& text, int width);

// The font the controller names, at dpi dots per inch. A fixed-pitch face that is not there
// gives way to another fixed-pitch one. The caller owns the font.
HFONT CreateFontAt(const FontSpec& wanted, int dpi);
