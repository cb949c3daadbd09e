// Resource identifiers of korvane-update.exe, shared by the resource script and
// the code. Only #defines: windres reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KORVANEUPDATE_DIALOG 102
#define IDR_MAINFRAME 131
#define IDB_PANEL 136
#define IDD_DEVICE_SELECT 142

// Main dialog controls (the same numbers as korvane::ControlId).
#define IDC_LOG 1004
#define IDC_PROGRESS 1006
#define IDC_PANEL 1007
#define IDC_EXIT 1008
#define IDC_BUTTON1009 1009
#define IDC_BUTTON1010 1010
#define IDC_RESCAN 1011
#define IDC_OPEN 1012

// Device selection dialog controls.
#define IDC_DEVICE_LIST 1010
#define IDC_FILE_NAME 1011

// The system menu's About item.
#define IDM_ABOUTBOX 0x0010
