// Process utilities: looking for a running program by executable name and
// running a command with its output captured.
#pragma once
#include <string>

// Results of chkProcExist.
enum { PROC_RUNNING = 0, PROC_NOT_RUNNING = 1, PROC_LIST_ERROR = 2 };

// Looks for a process whose executable name equals pszExeName without regard
// to letter case. Errors are logged under pszModule.
int chkProcExist(const char* pszModule, const char* pszExeName);

// Runs pszCmd hidden with standard output and error on a pipe and returns
// only after the command closed its output. 1 when the command ran; strOut is
// replaced by what it wrote, when it wrote anything. Errors are logged under
// pszModule.
int GetCmd(const char* pszCmd, std::string& strOut, const char* pszModule);
