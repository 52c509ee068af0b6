// Test helper: writes numbered lines through a log writer, for tests of
// concurrent writers.   log_writer setup|utl <count> <tag> [<gate>]
// With a gate name, the writer reports ready on the semaphore <gate>.ready
// and starts writing only when the event <gate>.go is set, so that all
// writers of a test write at the same time however long each took to start.
#include "log.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    bool bSetup = strcmp(argv[1], "setup") == 0;
    int n = atoi(argv[2]);
    if (argc > 4) {
        std::string strGate = argv[4];
        HANDLE hReady = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (strGate + ".ready").c_str());
        HANDLE hGo = OpenEventA(SYNCHRONIZE, FALSE, (strGate + ".go").c_str());
        if (!hReady || !hGo || !ReleaseSemaphore(hReady, 1, NULL) || WaitForSingleObject(hGo, 120000) != WAIT_OBJECT_0)
            return 3;
        CloseHandle(hReady);
        CloseHandle(hGo);
    }
    for (int i = 0; i < n; ++i) {
        char sz[128];
        snprintf(sz, sizeof(sz), "%s line %d", argv[3], i);
        if (bSetup)
            SetupLog(sz);
        else
            utl_Log("conc", sz, 0);
    }
    return 0;
}
