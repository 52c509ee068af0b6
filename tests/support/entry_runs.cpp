#include "entry_runs.h"

namespace kt {

const char* const kPrevInstanceEn = "A previous instance is still running. \nPlease try it later.";
const char* const kCaptionEn = "Kavla Setup";

Box ReadAndConfirmBox(Proc& proc, DWORD dwTimeoutMs, int* pnExit)
{
    Box box;
    HWND hBox = WaitForWindow("", dwTimeoutMs, proc.dwPid, "#32770");
    if (hBox) {
        box.bFound = true;
        box.strCaption = WindowText(hBox);
        box.strText = ControlText(hBox, -1);  // the message box's text static
        // The warning icon is a static showing an icon.
        for (const Control& c : Controls(hBox))
            if (c.strClass == "Static" && (GetWindowLongA(c.hWnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                box.bWarningIcon = true;
        PressButton(hBox, IDOK);
    }
    int nExit = Wait(proc, 30000);
    if (pnExit)
        *pnExit = nExit;
    return box;
}

Proc StartNamedSleeper(const std::string& strFileName)
{
    std::string dir = NewTempFolder("sleeper");
    std::string exe = dir + "\\" + strFileName;
    CopyFileA(TestBinPath("sleeper.exe").c_str(), exe.c_str(), FALSE);
    Proc p = Start("\"" + exe + "\" 60000");
    Sleep(300);
    return p;
}

} // namespace kt
