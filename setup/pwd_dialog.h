// Password prompt dialog (resource 134): three attempts at the uninstall
// password; compares encrypted texts, never decrypts the stored one.
#pragma once
#include <windows.h>

#define IDD_CHKPWD_DLG 134
#define IDC_PWD_EDIT 1001
#define IDC_PWD_RETRY 1002

#ifndef RC_INVOKED
extern char g_szStoredPwd[132];
extern int g_bExit;
extern int g_nWrongAttempts;

INT_PTR CALLBACK ChkPwdDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
#endif
