#pragma once
// The controller speaks UTF-8; the window's calls take UTF-16.
#include "win32_windows.h"

#include <string>

std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* text, int length = -1);

// A window's whole text.
std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);
