// Test helper: shows one of the program's refusal message boxes, so that the
// boxes can be read in both languages even where the refusal itself cannot be
// provoked (Wine always grants administrator rights).   gui_show_refusal <n>
#include "messages.h"
#include <windows.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    int n = atoi(lpCmdLine);
    if (n < 0 || n >= TXT_COUNT)
        return 2;
    ShowRefusal((UserText)n);
    return 0;
}
