// Timing helper of bench/pack_bench.sh, run under Wine. Each mode does one
// job, times it inside the process and prints "<mode>_ms=<ms> peak_ws_kb=<kb>"
// (peak working set of this process), so that process start-up is not part
// of the figure:
//   unpack <host> <dst> <offset>          utl_FileUnpack, as the setup program does
//   loop <host> <dst> <offset> <bufsize>  the same read-negate-write loop
//                                         without logging, any buffer size
//   copy <srcdir> <dstdir>                CopyFileA of every file of srcdir
//   run <command line>                    a program (7za.exe) started and awaited
#define PSAPI_VERSION 2
#include "pack.h"
#include "testutil.h"
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

double NowMs()
{
    static LARGE_INTEGER liFreq = {};
    if (!liFreq.QuadPart)
        QueryPerformanceFrequency(&liFreq);
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    return (double)li.QuadPart * 1000.0 / (double)liFreq.QuadPart;
}

unsigned long PeakKb()
{
    PROCESS_MEMORY_COUNTERS pmc;
    memset(&pmc, 0, sizeof(pmc));
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)))
        return 0;
    return (unsigned long)(pmc.PeakWorkingSetSize / 1024);
}

bool Split(const std::string& strPath, std::string& strFolder, std::string& strName)
{
    size_t n = strPath.find_last_of('\\');
    if (n == std::string::npos)
        return false;
    strFolder = strPath.substr(0, n);
    strName = strPath.substr(n + 1);
    return true;
}

// The reader's loop with a buffer of any size and no log lines: it tells
// how much the buffer size and the logging cost.
bool Loop(const char* pszHost, const char* pszDst, DWORD dwOffset, DWORD dwBufSize)
{
    HANDLE hHost = CreateFileA(pszHost, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (hHost == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER liSize, liPos;
    GetFileSizeEx(hHost, &liSize);
    liPos.QuadPart = dwOffset;
    SetFilePointerEx(hHost, liPos, NULL, FILE_BEGIN);
    std::vector<BYTE> buf(dwBufSize < 4096 ? 4096 : dwBufSize);
    unsigned long long ullTotal = dwOffset + PACK_MAGIC_LEN;
    bool bOk = ReadAndMix(hHost, buf.data(), PACK_MAGIC_LEN) && memcmp(buf.data(), PACK_MAGIC, PACK_MAGIC_LEN) == 0;
    while (bOk && ullTotal < (unsigned long long)liSize.QuadPart) {
        DWORD adwLen[2] = {0, 0}, dwRead = 0;
        char szName[PACK_MAX_NAME + 1];
        bOk = ReadFile(hHost, adwLen, 8, &dwRead, NULL) && dwRead == 8 && adwLen[0] <= PACK_MAX_NAME
              && ReadAndMix(hHost, (BYTE*)szName, adwLen[0]);
        if (!bOk)
            break;
        szName[adwLen[0]] = '\0';
        ullTotal += 8ull + adwLen[0] + adwLen[1];
        if (strcmp(szName, PACK_END_NAME) == 0)
            break;
        std::string strOut = std::string(pszDst) + "\\" + szName;
        HANDLE hOut = CreateFileA(strOut.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        bOk = hOut != INVALID_HANDLE_VALUE && SetEndOfFile(hOut);
        for (DWORD dwDone = 0; bOk && dwDone < adwLen[1];) {
            DWORD dwChunk = adwLen[1] - dwDone < dwBufSize ? adwLen[1] - dwDone : dwBufSize;
            DWORD dwWritten = 0;
            bOk = ReadAndMix(hHost, buf.data(), dwChunk) && WriteFile(hOut, buf.data(), dwChunk, &dwWritten, NULL)
                  && dwWritten == dwChunk;
            dwDone += dwChunk;
        }
        if (hOut != INVALID_HANDLE_VALUE)
            CloseHandle(hOut);
    }
    CloseHandle(hHost);
    return bOk;
}

bool CopyAll(const std::string& strSrc, const std::string& strDst)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strSrc + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    bool bOk = true;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bOk = CopyFileA((strSrc + "\\" + fd.cFileName).c_str(), (strDst + "\\" + fd.cFileName).c_str(), FALSE)
                  && bOk;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return bOk;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench_unpack unpack|loop|copy|run ...\n");
        return 2;
    }
    std::string strMode = argv[1];
    double dStart = NowMs();
    bool bOk = false;
    if (strMode == "unpack" && argc == 5) {
        std::string strFolder, strName;
        DWORD dwErr = 0;
        bOk = Split(argv[2], strFolder, strName)
              && utl_FileUnpack(strFolder.c_str(), strName.c_str(), argv[3], &dwErr, strtoul(argv[4], NULL, 10));
        if (!bOk)
            fprintf(stderr, "utl_FileUnpack failed with %lu\n", (unsigned long)dwErr);
    } else if (strMode == "loop" && argc == 6) {
        bOk = Loop(argv[2], argv[3], strtoul(argv[4], NULL, 10), strtoul(argv[5], NULL, 10));
    } else if (strMode == "copy" && argc == 4) {
        bOk = CopyAll(argv[2], argv[3]);
    } else if (strMode == "run") {
        std::string strCmd;
        for (int i = 2; i < argc; ++i)
            strCmd += std::string(i > 2 ? " " : "") + "\"" + argv[i] + "\"";
        bOk = kt::Run(strCmd, INFINITE) == 0;
    } else {
        fprintf(stderr, "bench_unpack: bad arguments\n");
        return 2;
    }
    double dMs = NowMs() - dStart;
    printf("%s_ms=%.1f peak_ws_kb=%lu\n", strMode.c_str(), dMs, PeakKb());
    return bOk ? 0 : 1;
}
