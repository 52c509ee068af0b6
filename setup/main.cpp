// Entry of the setup program: the preconditions, the password prompt when the
// installed client is protected, then the install driver. Always returns 0;
// the outcome shows in message boxes and the setup log.
#include "driver.h"
#include "log.h"
#include "log_lines.h"
#include "messages.h"
#include "proc.h"
#include "pwd_dialog.h"
#include "sys.h"
#include "uninstall_lock.h"
#include "preconditions.h"
#include <windows.h>
#include <string.h>

namespace {

int HasEnoughFreeSpace(void)
{
    const char szDrive[] = {utl_SysDriveLetter(), ':', '\0'};
    unsigned long long ullFree = utl_GetDiskFreeSpace(szDrive);
    long long llMB = (long long)ullFree / 1048576;
    SetupLogF(LOGLINE_FREE_SPACE "%s" LOGLINE_FREE_SPACE_IS "%d" LOGLINE_FREE_SPACE_END, szDrive, (int)llMB);
    return IsFreeSpaceEnough(ullFree);
}

// Runs dialog 134 modeless, centred and topmost, in this thread's loop.
void RunPasswordDialog(void)
{
    HWND hDlg = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CHKPWD_DLG), NULL,
                                   ChkPwdDlgProc, 0);
    // Without a window no quit message ever comes: the loop would wait for
    // ever. g_bExit stays 0, so the entry ends as after Cancel.
    if (!hDlg)
        return;
    RECT rcDesk, rcDlg;
    GetWindowRect(GetDesktopWindow(), &rcDesk);
    GetWindowRect(hDlg, &rcDlg);
    int w = rcDlg.right - rcDlg.left, h = rcDlg.bottom - rcDlg.top;
    int x = (rcDesk.right - rcDesk.left - w) / 2;
    int y = (rcDesk.bottom - rcDesk.top - h) / 2;
    SetWindowPos(hDlg, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_HIDEWINDOW);
    ShowWindow(hDlg, SW_SHOW);
    UpdateWindow(hDlg);
    MSG msg;
    for (;;) {
        BOOL bRet = GetMessageA(&msg, NULL, 0, 0);
        if (bRet == 0)
            break;
        if (bRet == -1) {
            SetupLog(" handle the error and possibly exit");
            continue;
        }
        if (!IsDialogMessageA(hDlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DestroyWindow(hDlg);
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    utl_RestrictDllSearch();

    g_hInstanceEvent = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon");
    if (!g_hInstanceEvent)
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseInstanceEvent();
        ShowRefusal(TXT_PREV_INSTANCE);
        return 0;
    }
    if (!IsCurUserAdmin()) {
        ShowRefusal(TXT_NOT_ADMIN);
        return 0;
    }
    if (!HasEnoughFreeSpace()) {
        ShowRefusal(TXT_NO_SPACE);
        return 0;
    }
    if (chkProcExist("waitSetup", "RenewCusState.exe") == PROC_RUNNING
        || chkProcExist("waitSetup", "RenewCusState.e") == PROC_RUNNING) {
        ShowRefusal(TXT_UPDATING);
        return 0;
    }

    if (IsUninstallPrompt(LOG_MODULE_SETUP, g_szStoredPwd)) {
        RunPasswordDialog();
        if (!g_bExit) {
            CloseInstanceEvent();
            SetupLog(LOGLINE_EXIT_MAIN);
            return 0;
        }
        SetupLog(LOGLINE_BEGIN_INSTALL);
    }

    DWORD dwInstallErr = DRV_ERR_NONE;
    if (!UnpackAndSetup(&dwInstallErr))
        SetupLogF(LOGLINE_INSTALL_FAILED "%u.", (unsigned)dwInstallErr);

    CloseInstanceEvent();
    SetupLog(LOGLINE_EXIT_MAIN);
    return 0;
}
