// Resource and control IDs of the updater's dialogs.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_PROGRESS 1001
#define IDC_LOG_VIEW 1002
#define IDC_STATUS 1003
#define IDC_FLASH 1004
#define IDC_EXIT 1005
#define IDC_SYSTEM_ID 1006
#define IDC_MODULE_ID 1007
#define IDC_RESULT 1009
#define IDC_AUTO_SCROLL 1010

#define IDM_ABOUTBOX 0x0010
