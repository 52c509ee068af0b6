// Process utilities: Toolhelp snapshot search and command output capture.
#include "proc.h"
#include "handle.h"
#include "log.h"
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <vector>

int chkProcExist(const char* pszModule, const char* pszExeName)
{
    char szMsg[128];
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE) {
        snprintf(szMsg, sizeof(szMsg), "chkProcExist: createToolSnap failed with err: %d",
                 (int)GetLastError());
        utl_Log(pszModule, szMsg, 0);
        return PROC_LIST_ERROR;
    }
    PROCESSENTRY32 pe;
    memset(&pe, 0, sizeof(pe));
    pe.dwSize = sizeof(pe);
    if (!Process32First(hSnap, &pe)) {
        snprintf(szMsg, sizeof(szMsg), "chkProcExist: process32First failed with err: %d",
                 (int)GetLastError());
        utl_Log(pszModule, szMsg, 0);
        utl_CloseHandle(hSnap);
        return PROC_LIST_ERROR;
    }
    int nResult = PROC_NOT_RUNNING;
    do {
        if (pszExeName && lstrcmpiA(pe.szExeFile, pszExeName) == 0) {
            nResult = PROC_RUNNING;
            break;
        }
    } while (Process32Next(hSnap, &pe));
    utl_CloseHandle(hSnap);
    return nResult;
}

int utl_StartHidden(const char* pszCmd, HANDLE hStdIn, HANDLE hStdOut, PROCESS_INFORMATION* ppi)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.hStdInput = hStdIn;
    si.hStdOutput = hStdOut;
    si.hStdError = hStdOut;
    si.wShowWindow = SW_HIDE;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    memset(ppi, 0, sizeof(*ppi));
    // CreateProcessA may write into the command line, so it gets a copy.
    std::string strCmd = pszCmd ? pszCmd : "";
    std::vector<char> cmdBuf(strCmd.begin(), strCmd.end());
    cmdBuf.push_back('\0');
    return CreateProcessA(NULL, cmdBuf.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, ppi) ? 1 : 0;
}

int GetCmd(const char* pszCmd, std::string& strOut, const char* pszModule)
{
    char szMsg[128];
    SECURITY_ATTRIBUTES sa = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE hRead = NULL, hWrite = NULL;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0)) {
        snprintf(szMsg, sizeof(szMsg), "GetCmd: Create Pipe Failed with ErrCode:%lu",
                 (unsigned long)GetLastError());
        utl_Log(pszModule, szMsg, 0);
        return 0;
    }
    // The pipe reports the command's end once every write end is closed:
    // ours right after the start, the child's when it (and whatever it
    // handed its handles on to) has ended. The read end is kept out of the
    // child, which has no use for it.
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);

    PROCESS_INFORMATION pi;
    if (!utl_StartHidden(pszCmd, GetStdHandle(STD_INPUT_HANDLE), hWrite, &pi)) {
        snprintf(szMsg, sizeof(szMsg), "GetCmd: Create CMD Process Failed with ErrCode:%lu",
                 (unsigned long)GetLastError());
        utl_Log(pszModule, szMsg, 0);
        utl_CloseHandle(hRead);
        utl_CloseHandle(hWrite);
        return 0;
    }
    if (WaitForSingleObject(pi.hProcess, 20) == WAIT_FAILED) {
        utl_Log(pszModule, "GetCmd: WAIT_FAILED!", 0);
        utl_CloseHandle(pi.hProcess);
        utl_CloseHandle(pi.hThread);
        utl_CloseHandle(hRead);
        utl_CloseHandle(hWrite);
        return 0;
    }
    utl_CloseHandle(hWrite);
    utl_CloseHandle(pi.hProcess);
    utl_CloseHandle(pi.hThread);

    // Blocks until the command writes or closes its end of the pipe. Each
    // piece is kept up to its first zero byte.
    std::string strCollected;
    bool bAny = false;
    char szBuf[4097];
    for (;;) {
        memset(szBuf, 0, sizeof(szBuf));
        DWORD dwRead = 0;
        if (!ReadFile(hRead, szBuf, 4096, &dwRead, NULL) || dwRead == 0)
            break;
        bAny = true;
        strCollected += szBuf;
    }
    if (bAny)
        strOut = strCollected;
    utl_CloseHandle(hRead);
    return 1;
}
