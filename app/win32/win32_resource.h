#pragma once
// Ids of the Windows window's own resources and controls, beside those of app/control_ids.h.
// Plain #defines: the resource compiler reads this file too.

// Dialog templates of the two program file dialogs.
#define IDD_PROGRAM_FILES 220
#define IDD_ADD_HEX_FILE 221

// Add/Delete Hex/S File.
#define IDC_PF_LIST 1401
#define IDC_PF_ADD 1402
#define IDC_PF_DELETE 1403

// Add Hex/S File.
#define IDC_AH_FILE_NAME 1411
#define IDC_AH_BROWSE 1412
#define IDC_AH_OFFSET 1413

// Labels of the Serialization and Select Target dialogs.
#define IDC_STATIC_TEXT -1

// The band below the main window's controls: yield counters, failures, progress.
#define IDC_BAND_YIELD 1190
#define IDC_BAND_FAILS 1191
#define IDC_BAND_PROGRESS 1192
