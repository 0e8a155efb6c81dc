#pragma once
// Identifiers shared by the resource script and the application code.

// Resources
#define IDI_APPLICATION_ICON 1
#define IDM_SYSTEM_SUBMENU 1

// Items of the "Slimwick" submenu at the top of the main window's system menu
#define IDM_ABOUT 1004
#define IDM_BEST_COMPRESSION 1005
#define IDM_BACKGROUND_MODE 1007
#define IDM_LOAD_CODEC_LIBRARY 1008
#define IDM_UNLOAD_CODEC_LIBRARY 1009

// Controls of the main window
#define IDC_PROMPT 1000
#define IDC_PROGRESS 1001
#define IDC_FOOTNOTE 1002
#define IDC_STATUS 1003
#define IDC_ESTIMATE 1006
