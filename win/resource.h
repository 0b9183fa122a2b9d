// The ids of the Windows window's resources and controls, as the dialog templates, the menu
// and the code share them (windres reads this file too: plain #defines only).
#pragma once

// Controls the code never addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUT_DEVICE 100
#define IDS_ABOUT_BOX 101
#define IDD_MAIN 102
#define IDD_MANUAL 131
#define IDB_CONNECTOR 134
#define IDD_FIRMWARE 135
#define IDD_OPTIONS 136
#define IDD_SERNUM 139
#define IDD_ADDRESS 133
#define IDR_MAIN_MENU 129
#define IDI_APP 1

// Template 102.
#define IDC_OPEN 3
#define IDC_PROGRAM 4
#define IDC_CLEAR 5
#define IDC_REMOTE_FILE 6
#define IDC_DEVICE_LIST 1000
#define IDC_SERIES_LIST 1001
#define IDC_READ_PROTECT 1002
#define IDC_VERIFY 1003
#define IDC_RUN_AFTER 1004
#define IDC_FULL_ERASE 1005
#define IDC_SECTOR_ERASE 1006
#define IDC_PATH 1007
#define IDC_PROGRESS 1008
#define IDC_JOB_LIST 1009
#define IDC_LOCK_CHIP 1010
#define IDC_COUNT_LIMIT 1011
#define IDC_COUNT_EDIT 1012

// Menu 129 and the commands the window adds to it.
#define ID_ABOUT_DEVICE 32774
#define ID_MANUAL 32775
#define ID_FIRMWARE_UPDATE 32777
#define ID_OPTIONS 32784
#define ID_DEMO_PLUG 32800
#define ID_DEMO_UNPLUG 32801
#define IDM_SYS_ABOUT 0x0010

// Template 100 (device information).
#define IDC_VERSION_LINE 1012
#define IDC_DEVICE_ID 1032
#define IDC_IDENTITY 1034
#define IDC_USB_LABEL 1036

// Template 131 (manual).
#define IDC_CONNECTOR_PICTURE 1015
#define IDC_SUPPORT_LINE 1033

// Template 133 (start address) and 139 (device ID of a remote file).
#define IDC_ADDRESS_EDIT 1014
#define IDC_REMOTE_CODE 1032
#define IDC_PROTECTION_NOTE 1035

// Template 136 (options: the code shift).
#define IDC_SHIFT_ENABLE 1022
#define IDC_SHIFT_ADDRESS 1024
#define IDC_SHIFT_START 1025
#define IDC_SHIFT_STEP 1026
#define IDC_SHIFT_WIDTH 1027
#define IDC_SHIFT_TYPE 1001

// Template 135 (firmware update).
#define IDC_FIRMWARE_UPDATE 3
#define IDC_FIRMWARE_PROGRESS 1016
#define IDC_FIRMWARE_LINE 1031

// Template 140, the shelf of programmers: a panel beside template 102's controls while the
// shelf is shown, and the commands the window adds to menu 129 for it.
#define IDD_SHELF 140
#define IDC_SHELF_PANEL 1200
#define IDC_SHELF_GROUP 1201
#define IDC_SHELF_LIST 1202
#define IDC_SHELF_STORE_ALL 1203
#define IDC_SHELF_VERIFY_ALL 1204
#define IDC_SHELF_BACKUP 1205
#define IDC_SHELF_COUNTERS 1206
#define IDC_SHELF_LOG_GROUP 1207
#define IDC_SHELF_LOG 1208
#define ID_SHELF 32810
#define ID_LOG_FILE 32811
// The demo menu's item for each simulated programmer of a shelf, in their order (at most 64).
#define ID_DEMO_SHELF_FIRST 32900
#define ID_DEMO_SHELF_LAST 32963
