// Stand-in for the real installer (KavlaSetup.exe), a GUI program: records
// its start, shows a window of its own titled "Kavla Client Installer
// (stand-in)" for a few seconds (default 3 s), then records its end.
#include "standin_record.h"

namespace {

const char* const WINDOW_TITLE = "Kavla Client Installer (stand-in)";
const UINT_PTR CLOSE_TIMER = 1;

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_TIMER:
        // The window goes with the process: Wine on a display without a
        // window manager waits up to 2 s for a destroyed window to be
        // withdrawn, which would lengthen every run.
        if (wParam == CLOSE_TIMER) {
            KillTimer(hWnd, CLOSE_TIMER);
            PostQuitMessage(0);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    StandinRecord("KavlaSetup", "start");
    DWORD dwShowMs = StandinDuration("KavlaSetup", 3000);

    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "KavlaInstallerStandIn";
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowA(wc.lpszClassName, WINDOW_TITLE, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                              CW_USEDEFAULT, CW_USEDEFAULT, 420, 160, NULL, NULL, hInstance, NULL);
    if (hWnd) {
        // The title again inside: a display without a window manager draws no caption.
        CreateWindowA("STATIC", WINDOW_TITLE, WS_CHILD | WS_VISIBLE, 16, 16, 380, 20, hWnd, NULL, hInstance, NULL);
        CreateWindowA("STATIC", "Installing the Kavla client... (stand-in, closes by itself)",
                      WS_CHILD | WS_VISIBLE, 16, 56, 380, 40, hWnd, NULL, hInstance, NULL);
        ShowWindow(hWnd, nCmdShow);
        UpdateWindow(hWnd);
        StandinRecord("KavlaSetup", "window");
        SetTimer(hWnd, CLOSE_TIMER, dwShowMs, NULL);
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    StandinRecord("KavlaSetup", "end");
    return 0;
}
