// Resource and control identifiers, shared by the resource script and the C++ code.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_TICKORA_DIALOG 102

// Strings
#define IDS_ABOUTBOX 101
#define IDS_CANNOT_PLAY 102
#define IDS_NO_TIMER 103

// Icons, bitmaps and the click
#define IDR_MAINFRAME 128
#define IDR_TICK_WAVE 131
#define IDB_ABOUT_PICTURE 132
#define IDI_LIGHT_ON 138
#define IDI_LIGHT_OFF 139

// System-menu command
#define IDM_ABOUTBOX 0x0010

// Controls of the main dialog
#define IDC_PRIORITY 100
#define IDC_TEMPO_SLIDER 1000
#define IDC_START_STOP 1002
#define IDC_ABOUT 1004
#define IDC_SOUND_BUILTIN 1005
#define IDC_SOUND_SPEAKER 1006
#define IDC_SOUND_WAVE 1007
#define IDC_SELECT_WAVE 1008
#define IDC_TEMPO_TEXT 1011

// Tooltip tool id of the lamp's rectangle (not a control)
#define ID_LIGHT_TOOL 10
