// Identifiers of the client's resources, shared by the resource script and
// the code. Plain macros: the resource compiler reads this file too.
#pragma once

// Icons and bitmaps.
#define IDI_VELTRONA 107      // connected; the window's small icon
#define IDI_DISCONNECTED 136  // disconnected; the first tray icon
#define IDB_BANNER 132        // 307 x 91
#define IDB_WARNING 142       // the browser warning window, 563 x 289
#define IDB_CLOSE 143         // its close button, 55 x 55
#define IDB_CLOSE_HOVER 144   // the close button under the pointer

// Dialogs and the tray menu.
#define IDD_ABOUT 103
#define IDD_MAIN 129
#define IDD_LOGIN_FAILED 146
#define IDD_PROBLEM_REPORT 145
#define IDD_BROWSER_WARNING 137
#define IDR_TRAY_MENU 109

// Menu items.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_CONNECT 32772

// The main window's controls.
#define IDC_SERVER 1000
#define IDC_VPN_ID 1001
#define IDC_ACTIVATION_CODE 1002
#define IDC_CONNECT 1003
#define IDC_CLEAR_HISTORY 1004
#define IDC_ABOUT 1005
#define IDC_CONFIGURE 1006
#define IDC_BYTES_RECEIVED 1007
#define IDC_BYTES_SENT 1008
#define IDC_PIXELGUARD 1009
#define IDC_BANNER 1010
#define IDC_STATUS 1011
#define IDC_PIXELGUARD_LINK 1019
#define IDC_REPORT_PROBLEM 1020
#define IDC_PRESERVE_IP 1021

// The login-failed dialog: its link to the account page.
#define IDC_LOGIN_FAILED_LINK 1030

// The browser warning: its "don't warn me again" box.
#define IDC_DONT_WARN 1009
// The problem report dialog.
#define IDC_REPORT_AGREE 1021
#define IDC_REPORT_VPN_ID 1025
#define IDC_REPORT_EMAIL 1026
#define IDC_REPORT_DESCRIPTION 1027
#define IDC_REPORT_SHOW_LINK 1028
#define IDC_REPORT_DIAGNOSTICS 1029
