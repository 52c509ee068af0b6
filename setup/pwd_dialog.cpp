// Password prompt dialog. The typed text is encrypted and compared with the
// stored encrypted text, so the stored password is never decrypted here and
// neither text ever reaches the log.
#include "pwd_dialog.h"
#include "cipher.h"
#include "log.h"
#include "messages.h"
#include <string.h>

char g_szStoredPwd[132] = {0};
int g_bExit = 0;
int g_nWrongAttempts = 0;

namespace {

const int kMaxAttempts = 3;
const int kMaxPasswordChars = 32;

void OnInitDialog(HWND hDlg)
{
    SetDlgItemTextA(hDlg, -1, GetUserText(TXT_PWD_PROMPT));
    SetDlgItemTextA(hDlg, IDOK, GetUserText(TXT_PWD_OK));
    SetDlgItemTextA(hDlg, IDCANCEL, GetUserText(TXT_PWD_CANCEL));
    SetWindowTextA(hDlg, GetUserText(TXT_PWD_TITLE));
    ShowWindow(GetDlgItem(hDlg, IDC_PWD_RETRY), SW_HIDE);
    SendDlgItemMessageA(hDlg, IDC_PWD_EDIT, EM_LIMITTEXT, kMaxPasswordChars, 0);
    SetFocus(GetDlgItem(hDlg, IDC_PWD_EDIT));
}

void OnOk(HWND hDlg)
{
    // A double click or double Enter delivers a second press after the
    // dialog has ended (hidden, quit posted), or while the abort box runs
    // its own message loop: it must neither log again nor count again.
    if (g_bExit || g_nWrongAttempts >= kMaxAttempts)
        return;
    // The limit counts characters: in a double-byte code page (936) the 32
    // allowed take up to 64 bytes, so the text is read whole, never cut.
    HWND hEdit = GetDlgItem(hDlg, IDC_PWD_EDIT);
    int nLen = GetWindowTextLengthA(hEdit);
    DWORD dwSize = (DWORD)(nLen > 0 ? nLen : 0) + 1;
    char* pszTyped = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, dwSize);
    if (!pszTyped)
        return;
    GetWindowTextA(hEdit, pszTyped, (int)dwSize);

    char szEncrypted[129] = {0};
    EncryptPassword(szEncrypted, 128, (const BYTE*)pszTyped, (DWORD)strlen(pszTyped));
    SecureZeroMemory(pszTyped, dwSize);
    HeapFree(GetProcessHeap(), 0, pszTyped);

    if (strcmp(szEncrypted, g_szStoredPwd) == 0) {
        g_bExit = 1;
        SetupLog("g_bExit = TRUE;");
        PostQuitMessage(0);
        EndDialog(hDlg, 1);
        return;
    }
    if (++g_nWrongAttempts >= kMaxAttempts) {
        MessageBoxA(hDlg, GetUserText(TXT_PWD_ABORT), GetUserText(TXT_PWD_ABORT_CAPTION),
                    MB_ICONWARNING | MB_OK);
        EndDialog(hDlg, 1);
        PostQuitMessage(0);
        return;
    }
    HWND hRetry = GetDlgItem(hDlg, IDC_PWD_RETRY);
    ShowWindow(hRetry, SW_SHOW);
    SetDlgItemTextA(hDlg, -1, "");
    SetWindowTextA(hRetry, GetUserText(TXT_PWD_RETRY));
    SetWindowTextA(hEdit, "");
    SetFocus(hEdit);
}

} // namespace

INT_PTR CALLBACK ChkPwdDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOk(hDlg);
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, 2);
            PostQuitMessage(0);
            return 1;
        }
        return 0;
    case WM_CLOSE:
        EndDialog(hDlg, LOWORD(wParam));
        PostQuitMessage(0);
        return 1;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return 0;
}
