#include "testutil.h"
#include <gtest/gtest.h>
#include "reg.h"
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace kt {

std::string Env(const char* pszName)
{
    const char* psz = getenv(pszName);
    return psz ? psz : "";
}

std::string DistPath(const std::string& strName) { return Env("KAVLA_DIST") + "\\" + strName; }
std::string TestBinPath(const std::string& strName) { return Env("KAVLA_TEST_BIN") + "\\" + strName; }
std::string SourcePath(const std::string& strRel)
{
    std::string s = Env("KAVLA_SRC") + "\\" + strRel;
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}
std::string SevenZaPath()
{
    return Env("KAVLA_TP") + (Env("KAVLA_ARCH") == "x86" ? "\\7zip-bin\\win\\ia32\\7za.exe"
                                                         : "\\7zip-bin\\win\\x64\\7za.exe");
}
bool IsEmulated() { return Env("KAVLA_EMULATED") == "1"; }

void NoteEmulationSkip()
{
    const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
    printf("[ LEFT OUT ] %s.%s: too slow under emulation\n", pInfo ? pInfo->test_suite_name() : "?",
           pInfo ? pInfo->name() : "?");
}

bool MakeDirs(const std::string& strPath)
{
    if (strPath.empty())
        return false;
    if (IsFolder(strPath))
        return true;
    size_t nPos = strPath.find_last_of('\\');
    if (nPos != std::string::npos && nPos > 2)
        MakeDirs(strPath.substr(0, nPos));
    return CreateDirectoryA(strPath.c_str(), NULL) || IsFolder(strPath);
}

bool WriteBytes(const std::string& strPath, const std::string& strBytes)
{
    size_t nPos = strPath.find_last_of('\\');
    if (nPos != std::string::npos)
        MakeDirs(strPath.substr(0, nPos));
    SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD dw = 0;
    BOOL bOk = strBytes.empty() || WriteFile(h, strBytes.data(), (DWORD)strBytes.size(), &dw, NULL);
    CloseHandle(h);
    return bOk && dw == strBytes.size();
}

std::string ReadBytes(const std::string& strPath, bool* pbOk)
{
    if (pbOk)
        *pbOk = false;
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    std::string strOut;
    char buf[65536];
    DWORD dw = 0;
    while (ReadFile(h, buf, sizeof(buf), &dw, NULL) && dw)
        strOut.append(buf, dw);
    CloseHandle(h);
    if (pbOk)
        *pbOk = true;
    return strOut;
}

bool Exists(const std::string& strPath) { return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& strPath)
{
    DWORD dw = GetFileAttributesA(strPath.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> ListFolder(const std::string& strFolder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((strFolder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& strPath)
{
    if (!IsFolder(strPath)) {
        SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(strPath.c_str());
        return;
    }
    for (const std::string& name : ListFolder(strPath))
        RemoveTree(strPath + "\\" + name);
    SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(strPath.c_str());
}

std::string NewTempFolder(const std::string& strTag)
{
    static int s_nCounter = 0;
    char sz[64];
    snprintf(sz, sizeof(sz), "%lu_%d", (unsigned long)GetCurrentProcessId(), ++s_nCounter);
    std::string strPath = "C:\\kt\\" + strTag + "_" + sz;
    RemoveTree(strPath);
    MakeDirs(strPath);
    return strPath;
}

bool RegSetString(const std::string& strKey, const std::string& strValue, const std::string& strData)
{
    HKEY h = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, NULL, 0, KEY_SET_VALUE | UTL_REG_VIEW, NULL, &h,
                        NULL) != ERROR_SUCCESS)
        return false;
    LONG l = RegSetValueExA(h, strValue.c_str(), 0, REG_SZ, (const BYTE*)strData.c_str(), (DWORD)strData.size() + 1);
    RegCloseKey(h);
    return l == ERROR_SUCCESS;
}

bool RegSetDword(const std::string& strKey, const std::string& strValue, DWORD dwData)
{
    HKEY h = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, NULL, 0, KEY_SET_VALUE | UTL_REG_VIEW, NULL, &h,
                        NULL) != ERROR_SUCCESS)
        return false;
    LONG l = RegSetValueExA(h, strValue.c_str(), 0, REG_DWORD, (const BYTE*)&dwData, sizeof(dwData));
    RegCloseKey(h);
    return l == ERROR_SUCCESS;
}

bool RegGetDword(const std::string& strKey, const std::string& strValue, DWORD* pdw)
{
    HKEY h = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_QUERY_VALUE | UTL_REG_VIEW, &h) != ERROR_SUCCESS)
        return false;
    DWORD cb = sizeof(DWORD), dwType = 0;
    LONG l = RegQueryValueExA(h, strValue.c_str(), NULL, &dwType, (BYTE*)pdw, &cb);
    RegCloseKey(h);
    return l == ERROR_SUCCESS && dwType == REG_DWORD;
}

void RegDeleteKeyTree(const std::string& strKey)
{
    // The parent is opened in the 32-bit view: HKEY_LOCAL_MACHINE itself has
    // no view, so deleting through it would reach the 64-bit key.
    size_t nPos = strKey.find_last_of('\\');
    if (nPos == std::string::npos)
        return;
    HKEY h = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.substr(0, nPos).c_str(), 0, KEY_ALL_ACCESS | UTL_REG_VIEW, &h)
        == ERROR_SUCCESS) {
        RegDeleteTreeA(h, strKey.substr(nPos + 1).c_str());
        RegCloseKey(h);
    }
}

Proc Start(const std::string& strCmdLine, const std::string& strCurDir)
{
    Proc proc;
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(strCmdLine.begin(), strCmdLine.end());
    cmd.push_back('\0');
    if (CreateProcessA(NULL, cmd.data(), NULL, NULL, FALSE, 0, NULL,
                       strCurDir.empty() ? NULL : strCurDir.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        proc.hProcess = pi.hProcess;
        proc.dwPid = pi.dwProcessId;
    }
    return proc;
}

// Every process start under qemu costs about 45 s: waits for other
// processes stretch accordingly there.
static DWORD Scaled(DWORD dwTimeoutMs)
{
    return IsEmulated() && dwTimeoutMs < 0x10000000 ? dwTimeoutMs * 8 : dwTimeoutMs;
}

int Wait(Proc& proc, DWORD dwTimeoutMs)
{
    dwTimeoutMs = Scaled(dwTimeoutMs);
    if (!proc.hProcess)
        return -1;
    if (WaitForSingleObject(proc.hProcess, dwTimeoutMs) != WAIT_OBJECT_0) {
        Kill(proc);
        return -1;
    }
    DWORD dwCode = 0;
    GetExitCodeProcess(proc.hProcess, &dwCode);
    CloseHandle(proc.hProcess);
    proc.hProcess = NULL;
    return (int)dwCode;
}

void Kill(Proc& proc)
{
    if (proc.hProcess) {
        TerminateProcess(proc.hProcess, 1);
        WaitForSingleObject(proc.hProcess, 5000);
        CloseHandle(proc.hProcess);
        proc.hProcess = NULL;
    }
}

int Run(const std::string& strCmdLine, DWORD dwTimeoutMs, const std::string& strCurDir)
{
    Proc proc = Start(strCmdLine, strCurDir);
    return Wait(proc, dwTimeoutMs);
}

std::string TodayStamp()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char sz[32];
    snprintf(sz, sizeof(sz), "%04u%02u%02u%02u", st.wYear, st.wMonth, st.wDay, st.wDayOfWeek);
    return sz;
}

std::string SetupLogText() { return ReadBytes("C:\\KavlaLog\\setup" + TodayStamp() + ".log"); }
std::string UtlLogText(const std::string& strModule)
{
    return ReadBytes("C:\\KavlaLog\\stp_" + strModule + TodayStamp() + ".log");
}

std::vector<std::string> LogMessages(const std::string& strLogText)
{
    std::vector<std::string> lines;
    size_t nPos = 0;
    while (nPos < strLogText.size()) {
        size_t nEnd = strLogText.find("\r\n", nPos);
        if (nEnd == std::string::npos)
            nEnd = strLogText.size();
        std::string line = strLogText.substr(nPos, nEnd - nPos);
        nPos = nEnd + 2;
        // "[YYYY-MM-DD hh:mm:ss] " then "[DTL] " and/or "[tid] ".
        if (line.size() >= 22 && line[0] == '[' && line[20] == ']') {
            line.erase(0, 22);
            if (line.compare(0, 6, "[DTL] ") == 0)
                line.erase(0, 6);
            size_t nClose = line.find("] ");
            if (!line.empty() && line[0] == '[' && nClose != std::string::npos)
                line.erase(0, nClose + 2);
        }
        lines.push_back(line);
    }
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& strLine)
{
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

size_t CountLine(const std::vector<std::string>& lines, const std::string& strLine)
{
    return (size_t)std::count(lines.begin(), lines.end(), strLine);
}

namespace {

struct FindCtx {
    std::string strTitle, strClass;
    DWORD dwPid;
    HWND hFound;
};

BOOL CALLBACK FindTop(HWND hWnd, LPARAM lParam)
{
    FindCtx* pCtx = (FindCtx*)lParam;
    if (!IsWindowVisible(hWnd))
        return TRUE;
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (pCtx->dwPid && dwPid != pCtx->dwPid)
        return TRUE;
    if (!pCtx->strTitle.empty() && WindowText(hWnd) != pCtx->strTitle)
        return TRUE;
    char szClass[256] = {0};
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    if (!pCtx->strClass.empty() && pCtx->strClass != szClass)
        return TRUE;
    if (pCtx->strTitle.empty() && pCtx->strClass.empty() && !pCtx->dwPid)
        return TRUE;
    pCtx->hFound = hWnd;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND hWnd, LPARAM lParam)
{
    std::vector<Control>* pControls = (std::vector<Control>*)lParam;
    Control c;
    c.hWnd = hWnd;
    c.nId = (int)(short)GetDlgCtrlID(hWnd);
    char szClass[256] = {0};
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    c.strClass = szClass;
    c.strText = WindowText(hWnd);
    c.bVisible = IsWindowVisible(hWnd) != 0;
    pControls->push_back(c);
    return TRUE;
}

HWND ControlById(HWND hWnd, int nId)
{
    for (const Control& c : Controls(hWnd))
        if (c.nId == nId)
            return c.hWnd;
    return NULL;
}

} // namespace

HWND WaitForWindow(const std::string& strTitle, DWORD dwTimeoutMs, DWORD dwPid, const std::string& strClass)
{
    dwTimeoutMs = Scaled(dwTimeoutMs);
    DWORD dwStart = GetTickCount();
    for (;;) {
        FindCtx ctx{strTitle, strClass, dwPid, NULL};
        EnumWindows(FindTop, (LPARAM)&ctx);
        if (ctx.hFound)
            return ctx.hFound;
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return NULL;
        Sleep(100);
    }
}

std::string WindowText(HWND hWnd)
{
    // WM_GETTEXT through SendMessage reads a control of another process too.
    char sz[4096] = {0};
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof(sz), (LPARAM)sz, SMTO_ABORTIFHUNG, 5000, NULL);
    return sz;
}

std::vector<Control> Controls(HWND hWnd)
{
    std::vector<Control> controls;
    EnumChildWindows(hWnd, CollectChild, (LPARAM)&controls);
    return controls;
}

std::string ControlText(HWND hWnd, int nId)
{
    HWND h = ControlById(hWnd, nId);
    return h ? WindowText(h) : "";
}

bool PressButton(HWND hWnd, int nId)
{
    HWND h = ControlById(hWnd, nId);
    return h && PostMessageA(h, BM_CLICK, 0, 0);
}

bool TypeText(HWND hWnd, int nId, const std::string& strText)
{
    HWND h = ControlById(hWnd, nId);
    if (!h)
        return false;
    for (unsigned char c : strText)
        SendMessageA(h, WM_CHAR, c, 0);
    return true;
}

bool CloseBox(HWND hWnd) { return PostMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool WaitGone(HWND hWnd, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    while (IsWindow(hWnd) && IsWindowVisible(hWnd)) {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

} // namespace kt

namespace {

// Every test starts from a clean prefix. Under the 64-bit harness each test
// has a fresh prefix anyway; the 32-bit run executes a whole test program
// in one prefix, so what one test leaves must not reach the next.
class CleanPrefixListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        for (const char* pszPath : {"C:\\KavlaLog", "C:\\kt", "C:\\tmp\\KavlaSetup0", "C:\\kavla_standins.log",
                                    "C:\\Users\\Public\\Downloads\\Setup.exe",
                                    "C:\\Users\\Public\\Downloads\\KavlaSetup.msi"})
            kt::RemoveTree(pszPath);
        for (const char* pszKey :
             {"SOFTWARE\\Kavla", "SOFTWARE\\Dravik\\Kavla",
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}",
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E4F2B61-D07A-4C35-B9E8-21A6F3C05D72}",
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5A1C7E20-3B94-4D6F-9E21-7C0B84D2A613}"})
            kt::RegDeleteKeyTree(pszKey);
    }
};

const int s_nCleanPrefixListener = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new CleanPrefixListener);
    return 0;
}();

} // namespace
