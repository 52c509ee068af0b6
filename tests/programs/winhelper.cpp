// Window driver for tests and the demo: finds a window of another process
// the way a person sees it, reports its control texts and presses buttons.
//   winhelper wait  <title> [timeout-ms]          waits, prints the controls
//   winhelper texts <title>                       prints id<TAB>class<TAB>text per control
//   winhelper press <title> <control-id>          presses a button
//   winhelper type  <title> <control-id> <text>   types into an edit control
//   winhelper close <title>                       the close box
//   winhelper layout <title> <font-pt> <font-face> whether every visible control lies
//                                                 within the client area and its text
//                                                 fits it, in the dialog's font
// Exit code 0 on success, 1 when the window or control was not found.
#include "testutil.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void PrintControls(HWND hWnd)
{
    printf("window\t%s\n", kt::WindowText(hWnd).c_str());
    for (const kt::Control& c : kt::Controls(hWnd))
        printf("%d\t%s\t%s\t%s\n", c.nId, c.strClass.c_str(), c.bVisible ? "visible" : "hidden",
               c.strText.c_str());
}

// The font a dialog template names, made as the dialog manager makes it:
// the control's own font handle belongs to the other process.
static HFONT DialogFont(int nPoints, const char* pszFace, int nDpi)
{
    LOGFONTA lf = {};
    lf.lfHeight = -MulDiv(nPoints, nDpi, 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, pszFace, LF_FACESIZE);
    return CreateFontIndirectA(&lf);
}

// Prints the window and each visible control with its rectangle and the
// extent its text needs; a line starting with FAIL for each that is cut.
static int CheckLayout(HWND hWnd, int nPoints, const char* pszFace)
{
    HDC hDc = GetDC(NULL);
    const int nDpi = GetDeviceCaps(hDc, LOGPIXELSY);
    HFONT hFont = DialogFont(nPoints, pszFace, nDpi);
    HGDIOBJ hOld = SelectObject(hDc, hFont);
    RECT rcWnd, rcClient;
    GetWindowRect(hWnd, &rcWnd);
    GetClientRect(hWnd, &rcClient);
    printf("dpi\t%d\n", nDpi);
    printf("window\t%ld\t%ld\t%ld\t%ld\t%s\n", rcWnd.left, rcWnd.top, rcWnd.right - rcWnd.left,
           rcWnd.bottom - rcWnd.top, kt::WindowText(hWnd).c_str());
    printf("client\t%ld\t%ld\n", rcClient.right, rcClient.bottom);
    int nCut = 0;
    for (const kt::Control& c : kt::Controls(hWnd)) {
        if (!c.bVisible)
            continue;
        RECT rc;
        GetWindowRect(c.hWnd, &rc);
        MapWindowPoints(NULL, hWnd, (POINT*)&rc, 2);
        WCHAR wsz[1024] = {0};
        SendMessageTimeoutW(c.hWnd, WM_GETTEXT, 1024, (LPARAM)wsz, SMTO_ABORTIFHUNG, 5000, NULL);
        // What the control draws in: a button keeps a margin of its frame
        // and focus box; a static wraps its words at its width.
        RECT rcInner;
        GetClientRect(c.hWnd, &rcInner);
        const bool bButton = c.strClass == "Button";
        if (bButton)
            InflateRect(&rcInner, -GetSystemMetrics(SM_CXEDGE) * 2, -GetSystemMetrics(SM_CYEDGE) * 2);
        RECT rcText = {0, 0, rcInner.right - rcInner.left, 0};
        if (*wsz && c.strClass != "Edit")
            DrawTextW(hDc, wsz, -1, &rcText,
                      DT_CALCRECT | (bButton ? DT_SINGLELINE : DT_WORDBREAK | DT_EXPANDTABS));
        printf("%d\t%s\t%ld\t%ld\t%ld\t%ld\ttext\t%ld\t%ld\t%s\n", c.nId, c.strClass.c_str(), rc.left, rc.top,
               rc.right - rc.left, rc.bottom - rc.top, rcText.right, rcText.bottom, c.strText.c_str());
        if (rc.left < 0 || rc.top < 0 || rc.right > rcClient.right || rc.bottom > rcClient.bottom) {
            printf("FAIL\t%d: outside the client area\n", c.nId);
            ++nCut;
        }
        if (rcText.right > rcInner.right - rcInner.left || rcText.bottom > rcInner.bottom - rcInner.top) {
            printf("FAIL\t%d: text needs %ldx%ld, has %ldx%ld\n", c.nId, rcText.right, rcText.bottom,
                   rcInner.right - rcInner.left, rcInner.bottom - rcInner.top);
            ++nCut;
        }
    }
    SelectObject(hDc, hOld);
    DeleteObject(hFont);
    ReleaseDC(NULL, hDc);
    return nCut ? 3 : 0;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: winhelper wait|texts|press|type|close|layout <title> ...\n");
        return 2;
    }
    std::string cmd = argv[1], title = argv[2];
    DWORD dwTimeout = (cmd == "wait" && argc > 3) ? strtoul(argv[3], NULL, 10) : 10000;
    HWND hWnd = kt::WaitForWindow(title, dwTimeout);
    if (!hWnd) {
        fprintf(stderr, "winhelper: no window \"%s\"\n", title.c_str());
        return 1;
    }
    if (cmd == "wait" || cmd == "texts") {
        PrintControls(hWnd);
        return 0;
    }
    if (cmd == "press" && argc > 3)
        return kt::PressButton(hWnd, atoi(argv[3])) ? 0 : 1;
    if (cmd == "type" && argc > 4)
        return kt::TypeText(hWnd, atoi(argv[3]), argv[4]) ? 0 : 1;
    if (cmd == "layout" && argc > 4) {
        // Measured in the pixels the system-aware dialog is drawn in.
        typedef BOOL(WINAPI * SetAwareFn)(void);
        SetAwareFn pfn = (SetAwareFn)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware");
        if (pfn)
            pfn();
        return CheckLayout(hWnd, atoi(argv[3]), argv[4]);
    }
    if (cmd == "close")
        return kt::CloseBox(hWnd) ? 0 : 1;
    fprintf(stderr, "winhelper: unknown command %s\n", cmd.c_str());
    return 2;
}
