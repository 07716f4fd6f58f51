// Resource identifiers of pixdesk, shared by its resource script and its code.
#pragma once

#define IDS_OLE_INIT_FAILED 100
#define IDS_ABOUTBOX 101

#define IDD_ABOUTBOX 100
#define IDD_PIXDESK_DIALOG 102
#define IDD_PROGRESS 129
#define IDR_MAINFRAME 128

// The About item of the system menu; the system keeps the low four bits of a system
// command for itself, so only the rest identifies the item.
#define IDM_ABOUTBOX 0x0010

// Controls of template 102.
#define IDC_PICTURE_AREA 1000
#define IDC_USB 1001
#define IDC_FROMDSC 1002
#define IDC_FROMFILE 1003
#define IDC_PREV 1004
#define IDC_NEXT 1005
#define IDC_DELETE 1006
#define IDC_ACQUIRE 1007
#define IDC_SELECT 1008
#define IDC_EXIT 1009
#define IDC_TIPDSC 1010
#define IDC_TIPFILE 1011

// The progress bar of template 129.
#define IDC_PROGRESS_BAR 102
