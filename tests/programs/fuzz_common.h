// Shared part of fuzz_runner: the state the crash filter and the watchdog
// read, findings and the run's figures, files and folder listings, seed
// loading, and memory that ends at a no-access page.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <map>
#include <string>
#include <vector>
#include "fuzz_mutate.h"

namespace fuzz {

const int kExitOk = 0, kExitFindings = 1, kExitUsage = 2, kExitHang = 3;
const size_t kMaxFindingsShown = 20;
// Alphabet of the stored password texts.
const char kB64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Run state, read by the crash filter and the watchdog.
struct RunState {
    const char* pszTarget = "";
    std::string strFindings;           // folder of the finding inputs
    std::string strCaseName;           // "case 123" or "seed name"
    volatile LONG lTick = 0;           // advanced once per case
    const BYTE* pbCur = NULL;          // the input of the running case
    size_t cbCur = 0;
    char szNote[256] = {0};            // what else the case depends on
    DWORD dwHangSeconds = 30;
};
inline RunState g_run;

inline void SetCurrent(const std::string& strCaseName, const Bytes& input, const char* pszNoteFmt, ...)
    __attribute__((format(printf, 3, 4)));
inline void SetCurrent(const std::string& strCaseName, const Bytes& input, const char* pszNoteFmt, ...)
{
    g_run.strCaseName = strCaseName;
    g_run.pbCur = input.data();
    g_run.cbCur = input.size();
    va_list args;
    va_start(args, pszNoteFmt);
    vsnprintf(g_run.szNote, sizeof(g_run.szNote), pszNoteFmt, args);
    va_end(args);
    InterlockedIncrement(&g_run.lTick);
}

inline bool WriteWhole(const std::string& strPath, const void* pv, size_t cb)
{
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwWritten = 0;
    BOOL bOk = WriteFile(h, pv, (DWORD)cb, &dwWritten, NULL) && dwWritten == cb;
    CloseHandle(h);
    return bOk != FALSE;
}

inline bool ReadWhole(const std::string& strPath, Bytes& out)
{
    out.clear();
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER li;
    bool bOk = GetFileSizeEx(h, &li) && li.QuadPart < (1 << 26);
    if (bOk) {
        out.resize((size_t)li.QuadPart);
        DWORD dwRead = 0;
        bOk = out.empty() || (ReadFile(h, out.data(), (DWORD)out.size(), &dwRead, NULL) && dwRead == out.size());
    }
    CloseHandle(h);
    return bOk;
}

inline void AppendLine(const std::string& strPath, const std::string& strLine)
{
    HANDLE h = CreateFileA(strPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE) {
        std::string s = strLine + "\r\n";
        DWORD dwWritten = 0;
        WriteFile(h, s.data(), (DWORD)s.size(), &dwWritten, NULL);
        CloseHandle(h);
    }
}

inline std::string FindingPath(const char* pszKind)
{
    std::string strCase = g_run.strCaseName;
    std::replace(strCase.begin(), strCase.end(), ' ', '-');
    return g_run.strFindings + "\\" + g_run.pszTarget + "-" + strCase + "-" + pszKind + ".bin";
}

// The crash itself cannot be reported by the code that crashed: save the
// input and let the process end with the exception code.
inline LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pep)
{
    const std::string strPath = FindingPath("crash");
    WriteWhole(strPath, g_run.pbCur, g_run.cbCur);
    printf("CRASH target=%s %s code=0x%08lX at %p (%s) input=%s\n", g_run.pszTarget, g_run.strCaseName.c_str(),
           (unsigned long)pep->ExceptionRecord->ExceptionCode, pep->ExceptionRecord->ExceptionAddress,
           g_run.szNote, strPath.c_str());
    fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

inline DWORD WINAPI Watchdog(LPVOID)
{
    LONG lLast = -1;
    DWORD dwSame = 0;
    for (;;) {
        Sleep(1000);
        const LONG lNow = g_run.lTick;
        dwSame = lNow == lLast ? dwSame + 1 : 0;
        lLast = lNow;
        if (dwSame >= g_run.dwHangSeconds) {
            const std::string strPath = FindingPath("hang");
            WriteWhole(strPath, g_run.pbCur, g_run.cbCur);
            printf("HANG target=%s %s ran more than %lu s (%s) input=%s\n", g_run.pszTarget,
                   g_run.strCaseName.c_str(), (unsigned long)g_run.dwHangSeconds, g_run.szNote, strPath.c_str());
            fflush(stdout);
            ExitProcess(kExitHang);
        }
    }
    return 0;
}

// Results of a run.
struct Stats {
    std::map<std::string, uint64_t> hist;    // result -> count (mutated cases)
    std::map<std::string, uint64_t> extra;   // coverage counters
    uint64_t ullCases = 0;
    uint64_t ullFindings = 0;
    uint64_t ullOutside = 0;                 // pack: entries that appeared or vanished outside
    double dTargetSeconds = 0;               // time inside the code under test
};

inline double Seconds()
{
    static LARGE_INTEGER liFreq = {};
    if (!liFreq.QuadPart)
        QueryPerformanceFrequency(&liFreq);
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    return (double)li.QuadPart / (double)liFreq.QuadPart;
}

inline void Finding(Stats& st, const char* pszKind, const std::string& strWhat, const Bytes& input)
{
    ++st.ullFindings;
    const std::string strPath = FindingPath(pszKind);
    WriteWhole(strPath, input.data(), input.size());
    std::string strLine = std::string(g_run.pszTarget) + " " + g_run.strCaseName + ": " + strWhat + " (" +
                          g_run.szNote + ") input " + strPath;
    AppendLine(g_run.strFindings + "\\findings.txt", strLine);
    if (st.ullFindings <= kMaxFindingsShown) {
        printf("FINDING %s\n", strLine.c_str());
        fflush(stdout);
    }
}

// A folder and a name with one separator between them, also after a root.
inline std::string JoinPath(const std::string& strFolder, const std::string& strName)
{
    return !strFolder.empty() && strFolder.back() == '\\' ? strFolder + strName : strFolder + "\\" + strName;
}

// Sorted names of a folder's entries, "/" appended to folders.
inline std::vector<std::string> ListNames(const std::string& strFolder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(JoinPath(strFolder, "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0)
                names.push_back(std::string(fd.cFileName) +
                                ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "/" : ""));
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline bool LoadSeeds(const std::string& strFolder, std::vector<Bytes>& seeds, std::vector<std::string>& names)
{
    for (const std::string& strName : ListNames(strFolder)) {
        Bytes b;
        if (strName.back() != '/' && ReadWhole(strFolder + "\\" + strName, b)) {
            seeds.push_back(b);
            names.push_back(strName);
        }
    }
    return !seeds.empty();
}

inline std::string Hex(const Bytes& b, size_t nMax)
{
    std::string s;
    char sz[4];
    for (size_t i = 0; i < b.size() && i < nMax; ++i) {
        snprintf(sz, sizeof(sz), "%02X", b[i]);
        s += sz;
    }
    return s;
}

// A read/write area that ends where a no-access page begins: code that
// reads or writes one byte past what is placed at its end faults at once.
class GuardedArea {
public:
    explicit GuardedArea(size_t cbUsable)
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        const size_t cbPage = si.dwPageSize;
        m_cbUsable = (cbUsable + cbPage - 1) / cbPage * cbPage;
        m_pbBase = (BYTE*)VirtualAlloc(NULL, m_cbUsable + cbPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD dwOld = 0;
        if (m_pbBase && !VirtualProtect(m_pbBase + m_cbUsable, cbPage, PAGE_NOACCESS, &dwOld)) {
            VirtualFree(m_pbBase, 0, MEM_RELEASE);
            m_pbBase = NULL;
        }
    }
    ~GuardedArea()
    {
        if (m_pbBase)
            VirtualFree(m_pbBase, 0, MEM_RELEASE);
    }
    bool Ok() const { return m_pbBase != NULL; }
    size_t Capacity() const { return m_cbUsable; }
    // cb bytes whose last one is the last byte before the no-access page.
    BYTE* Tail(size_t cb) { return m_pbBase + m_cbUsable - cb; }

private:
    BYTE* m_pbBase = NULL;
    size_t m_cbUsable = 0;
};

inline void PrintSummary(const char* pszTarget, uint64_t ullCases, size_t nSeeds, const Stats& st, double dSeconds)
{
    std::string strHist, strExtra;
    for (const auto& kv : st.hist)
        strHist += (strHist.empty() ? "" : ", ") + kv.first + ":" + std::to_string(kv.second);
    for (const auto& kv : st.extra)
        strExtra += (strExtra.empty() ? "" : ", ") + kv.first + ":" + std::to_string(kv.second);
    printf("fuzz %s: cases=%llu seeds=%lu findings=%llu outside=%llu elapsed_s=%.1f cases_per_s=%.0f "
           "in_target_s=%.1f acp=%u results={%s} coverage={%s}\n",
           pszTarget, (unsigned long long)ullCases, (unsigned long)nSeeds, (unsigned long long)st.ullFindings,
           (unsigned long long)st.ullOutside, dSeconds, dSeconds > 0 ? (double)ullCases / dSeconds : 0.0,
           st.dTargetSeconds, GetACP(), strHist.c_str(), strExtra.c_str());
    fflush(stdout);
}

} // namespace fuzz
