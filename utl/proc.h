// Process utilities: looking for a running program by executable name and
// running a command with its output captured.
#pragma once
#include <windows.h>
#include <string>

// Results of chkProcExist.
enum { PROC_RUNNING = 0, PROC_NOT_RUNNING = 1, PROC_LIST_ERROR = 2 };

// Looks for a process whose executable name equals pszExeName without regard
// to letter case. Errors are logged under pszModule.
int chkProcExist(const char* pszModule, const char* pszExeName);

// Starts pszCmd with its window hidden and its standard input, output and
// error on the given inheritable handles. 1 with the new process and thread
// in *ppi (closed by the caller); 0 with the system's number when it did not
// start.
int utl_StartHidden(const char* pszCmd, HANDLE hStdIn, HANDLE hStdOut, PROCESS_INFORMATION* ppi);

// Runs pszCmd hidden with standard output and error on a pipe and returns
// only after the command closed its output. 1 when the command ran; strOut is
// replaced by what it wrote, when it wrote anything. Errors are logged under
// pszModule.
int GetCmd(const char* pszCmd, std::string& strOut, const char* pszModule);
