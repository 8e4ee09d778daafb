// Resource identifiers shared by the resource script and the program's code.
#pragma once

#define IDD_UPDATER 101
#define IDD_ABOUT 102
#define IDR_ACCELERATORS 103

#define IDS_APPLYING_UPDATES 104
#define IDS_CLOSE 105
#define IDS_FINISHED 106
#define IDS_FAILED 107
#define IDS_INTRO_FORMAT 108
#define IDS_EMPTY_UPDATER 109
#define IDS_INSTALLING_FORMAT 110
#define IDS_ALREADY_INSTALLED_FORMAT 111

#define IDI_UPDATER 105

#define IDC_HEADER_TEXT 1001
#define IDC_PROGRESS 1002
#define IDC_STATUS_TEXT 1004
#define IDC_ABOUT_NAME 1005
#define IDC_ABOUT_VERSION 1006

#define IDM_ABOUT 40001
