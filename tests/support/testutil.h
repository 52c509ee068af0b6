// Test support: paths of the build's programs, real files and registry
// values in the test's own Wine prefix, processes, and today's log files.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace kt {

// Environment of the harness (see tests/CMakeLists.txt).
std::string Env(const char* pszName);
std::string DistPath(const std::string& strName);      // dist/<arch>\name
std::string TestBinPath(const std::string& strName);   // test programs
std::string SevenZaPath();                             // the real 7za.exe of the build's arch
std::string SourcePath(const std::string& strRel);     // a file of the source tree
bool IsEmulated();                                     // 32-bit build under qemu
// Leaves a test that starts many processes when running under emulation.
// GTEST_SKIP is not used there: under 32-bit Wine on qemu-i386 its reporting
// path ends in a trap that kills the whole test program.
#define KT_SKIP_IF_EMULATED() \
    do { if (kt::IsEmulated()) { kt::NoteEmulationSkip(); return; } } while (0)
void NoteEmulationSkip();

// Files: byte-exact, created with their folders.
bool WriteBytes(const std::string& strPath, const std::string& strBytes);
std::string ReadBytes(const std::string& strPath, bool* pbOk = nullptr);
bool MakeDirs(const std::string& strPath);
bool Exists(const std::string& strPath);
bool IsFolder(const std::string& strPath);
void RemoveTree(const std::string& strPath);
// Names (not paths) of the entries of a folder, sorted; no "." or "..".
std::vector<std::string> ListFolder(const std::string& strFolder);
// A new empty folder under C:\kt for one test.
std::string NewTempFolder(const std::string& strTag);

// Registry in the 32-bit view of HKEY_LOCAL_MACHINE, as the program reads it.
bool RegSetString(const std::string& strKey, const std::string& strValue, const std::string& strData);
bool RegSetDword(const std::string& strKey, const std::string& strValue, DWORD dwData);
bool RegGetDword(const std::string& strKey, const std::string& strValue, DWORD* pdw);
void RegDeleteKeyTree(const std::string& strKey);

// Processes.
struct Proc {
    HANDLE hProcess = NULL;
    DWORD dwPid = 0;
};
Proc Start(const std::string& strCmdLine, const std::string& strCurDir = "");
// Waits for the end; returns the exit code, or -1 on time-out (the process is killed).
int Wait(Proc& proc, DWORD dwTimeoutMs);
void Kill(Proc& proc);
// Starts and waits; -1 on failure or time-out.
int Run(const std::string& strCmdLine, DWORD dwTimeoutMs, const std::string& strCurDir = "");

// Today's log files under C:\KavlaLog (empty when missing).
std::string TodayStamp();                              // YYYYMMDDww
std::string SetupLogText();
std::string UtlLogText(const std::string& strModule);
// Lines of a log file's text with their "[date time] [tid] " prefixes removed.
std::vector<std::string> LogMessages(const std::string& strLogText);
bool HasLine(const std::vector<std::string>& lines, const std::string& strLine);
size_t CountLine(const std::vector<std::string>& lines, const std::string& strLine);

// Windows of other processes, found the way a person sees them.
struct Control {
    HWND hWnd;
    int nId;
    std::string strClass;
    std::string strText;
    bool bVisible;
};
// Waits for a visible top-level window whose title equals strTitle (or any
// title when empty) and, when dwPid is non-zero, that belongs to that process.
HWND WaitForWindow(const std::string& strTitle, DWORD dwTimeoutMs, DWORD dwPid = 0,
                   const std::string& strClass = "");
std::string WindowText(HWND hWnd);
std::vector<Control> Controls(HWND hWnd);
// The text of the first control with that id ("" when none).
std::string ControlText(HWND hWnd, int nId);
// Presses a button by id (BM_CLICK posted to the button).
bool PressButton(HWND hWnd, int nId);
// Types into an edit control as a person would: WM_CHAR per character.
bool TypeText(HWND hWnd, int nId, const std::string& strText);
// Closes a window with its close box (WM_SYSCOMMAND SC_CLOSE).
bool CloseBox(HWND hWnd);
// Waits until the window is gone.
bool WaitGone(HWND hWnd, DWORD dwTimeoutMs);

} // namespace kt
