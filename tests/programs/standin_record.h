// Shared by the stand-ins of the payload programs: one line per event in
// C:\kavla_standins.log, appended with sharing so that several stand-ins
// (and a test reading the file) never lose a line. Fields are tab-separated
// key=value pairs; the command line comes last.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#define STANDIN_LOG "C:\\kavla_standins.log"

inline void StandinRecord(const char* pszName, const char* pszEvent)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    STARTUPINFOA si;
    GetStartupInfoA(&si);
    int nShow = (si.dwFlags & STARTF_USESHOWWINDOW) ? (int)si.wShowWindow : -1;
    char szCwd[MAX_PATH] = {0}, szExe[MAX_PATH] = {0};
    GetCurrentDirectoryA(sizeof(szCwd), szCwd);
    GetModuleFileNameA(NULL, szExe, sizeof(szExe));
    // Milliseconds since 1970 (UTC), comparable with the clock of the host
    // that runs the demo.
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    unsigned long long ullUnixMs =
        ((((unsigned long long)ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - 116444736000000000ULL) / 10000;
    char szHead[320];
    snprintf(szHead, sizeof(szHead),
             "name=%s\tevent=%s\ttick=%lu\tunixms=%llu\ttime=%04u-%02u-%02u %02u:%02u:%02u.%03u\tpid=%lu\tshow=%d",
             pszName, pszEvent, (unsigned long)GetTickCount(), ullUnixMs, st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, (unsigned long)GetCurrentProcessId(), nShow);
    std::string strLine = std::string(szHead) + "\tcwd=" + szCwd + "\texe=" + szExe + "\tcmd="
        + GetCommandLineA() + "\r\n";
    // The first stand-in creates the file; the others append to it.
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 50 && hFile == INVALID_HANDLE_VALUE; ++i) {
        hFile = CreateFileA(STANDIN_LOG, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile == INVALID_HANDLE_VALUE)
            Sleep(20);
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD dw = 0;
    WriteFile(hFile, strLine.data(), (DWORD)strLine.size(), &dw, NULL);
    CloseHandle(hFile);
}

// How long the stand-in stays: KAVLA_STANDIN_MS_<name> in the environment,
// else a number in <name>.stay beside the program, else dwDefault.
inline DWORD StandinDuration(const char* pszName, DWORD dwDefault)
{
    std::string strVar = std::string("KAVLA_STANDIN_MS_") + pszName;
    const char* pszEnv = getenv(strVar.c_str());
    if (pszEnv && *pszEnv)
        return (DWORD)strtoul(pszEnv, NULL, 10);
    char szPath[MAX_PATH] = {0};
    DWORD dwLen = GetModuleFileNameA(NULL, szPath, sizeof(szPath));
    std::string strFile(szPath, dwLen);
    size_t nSep = strFile.find_last_of('\\');
    strFile = strFile.substr(0, nSep == std::string::npos ? 0 : nSep + 1) + pszName + ".stay";
    FILE* pf = fopen(strFile.c_str(), "r");
    if (!pf)
        return dwDefault;
    unsigned long ul = dwDefault;
    if (fscanf(pf, "%lu", &ul) != 1)
        ul = dwDefault;
    fclose(pf);
    return (DWORD)ul;
}
