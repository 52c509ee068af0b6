// Test helper: a carrier program that runs the install driver in itself and
// writes what the entry cannot show (the result, the install error number,
// whether the instance event was closed) to C:\kavla_probe.txt.
#include "driver.h"
#include <stdio.h>

int main()
{
    g_hInstanceEvent = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon_probe");
    DWORD dwErr = 0;
    int nResult = UnpackAndSetup(&dwErr);
    // The driver closes the event at its end: a new one must be a fresh event.
    HANDLE hAgain = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon_probe");
    int bFresh = hAgain && GetLastError() != ERROR_ALREADY_EXISTS;
    FILE* pf = fopen("C:\\kavla_probe.txt", "wb");
    if (pf) {
        fprintf(pf, "result=%d err=%lu event_closed=%d\n", nResult, (unsigned long)dwErr,
                g_hInstanceEvent == NULL && bFresh);
        fclose(pf);
    }
    if (hAgain)
        CloseHandle(hAgain);
    return 0;
}
