// Window driver for tests and the demo: finds a window of another process
// the way a person sees it, reports its control texts and presses buttons.
//   winhelper wait  <title> [timeout-ms]          waits, prints the controls
//   winhelper texts <title>                       prints id<TAB>class<TAB>text per control
//   winhelper press <title> <control-id>          presses a button
//   winhelper type  <title> <control-id> <text>   types into an edit control
//   winhelper close <title>                       the close box
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

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: winhelper wait|texts|press|type|close <title> ...\n");
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
    if (cmd == "close")
        return kt::CloseBox(hWnd) ? 0 : 1;
    fprintf(stderr, "winhelper: unknown command %s\n", cmd.c_str());
    return 2;
}
