// Test helper: writes numbered lines through a log writer, for tests of
// concurrent writers.   log_writer setup|utl <count> <tag> [<gate>]
// With a gate name, the writer reports ready on the semaphore <gate>.ready
// and starts writing only when the event <gate>.go is set, so that all
// writers of a test write at the same time however long each took to start.
//   log_writer lock <file> <ms>
// takes the log writers' lock byte of <file> as any reader of it can, says
// so by making <file>.locked, and keeps it for <ms> milliseconds.
#include "log.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

int HoldLock(const char* pszFile, DWORD dwMs)
{
    HANDLE hFile = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    ov.OffsetHigh = 0x7FFFFFFF;
    if (hFile == INVALID_HANDLE_VALUE || !LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov))
        return 4;
    HANDLE hMark = CreateFileA((std::string(pszFile) + ".locked").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(hMark);
    Sleep(dwMs);
    CloseHandle(hFile);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    if (strcmp(argv[1], "lock") == 0)
        return HoldLock(argv[2], (DWORD)atoi(argv[3]));
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
