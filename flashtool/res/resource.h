// Resource and control IDs of the write tool. The control and bitmap numbers are the ones the
// portable core uses (ports.h); the resource compiler cannot read that header, so they are
// repeated here and checked against it at compile time in the dialog's source.
#pragma once

#define IDD_DUDEVODAVOZ_DIALOG 102
#define IDR_MAINFRAME 128

#define IDB_COUNTDOWN1 132
#define IDB_COUNTDOWN2 133
#define IDB_COUNTDOWN3 134
#define IDB_IDLE 135
#define IDB_FAIL 136
#define IDB_RUNNING 137
#define IDB_SUCCESS 138

#define IDC_LOG_VIEW 1000
#define IDC_FIRMWARE_PATH 1001
#define IDC_FLASH 1003
#define IDC_STATUS_PICTURE 1006
#define IDC_MODULE_ID 1007
#define IDC_PROGRESS 1012
#define IDC_AUTO_SCROLL 1014
#define IDC_CLOSE 1033
