#pragma once
// The main window's modal dialogs on Windows, each from its dialog template, and the file
// dialogs. owner is the window the dialog belongs to.
#include <optional>
#include <string>

#include "app/dialog_view.h"
#include "win32_windows.h"

std::optional<std::string> RunFileDialog(HWND owner, const FileDialogSpec& request, bool save);

SelectTargetResult RunSelectTarget(HINSTANCE instance, HWND owner,
                                   const SelectTargetRequest& request);
SerializationResult RunSerialization(HINSTANCE instance, HWND owner,
                                     const SerializationState& initial,
                                     SerializationValidator& validator);
SecurityIdResult RunSecurityId(HINSTANCE instance, HWND owner, const SecurityIdRequest& request);
void RunProgramFiles(HINSTANCE instance, HWND owner, ProgramFileDialogHost& host);
AddHexFileResult RunAddHexFile(HINSTANCE instance, HWND owner, const FileDialogSpec& browse);
void RunAbout(HINSTANCE instance, HWND owner, const AboutInfo& info);
