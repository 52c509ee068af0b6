// Setup log: plain-text log files under <system drive>:\KavlaLog, one file per
// writer, module and day, kept as a weekly ring (the first line of a day
// deletes that writer's files of the same weekday). Logging never fails its
// caller: every error inside a writer is swallowed.
#pragma once

// The setup program's own log: setupYYYYMMDDww.log.
int SetupLog(const char* pszMsg);
// The utility library's log: stp_<module>YYYYMMDDww.log. A detail line
// (bDetail non-zero) is dropped while the detail switch is 0.
int utl_Log(const char* pszModule, const char* pszMsg, int bDetail);
// Plain variant with the fixed folder c:\KavlaLog: <module>YYYYMMDDww.log.
int utl_SimpleLog(const char* pszModule, const char* pszMsg);

// printf-style front ends of the writers above (one call, one line).
int SetupLogF(const char* pszFmt, ...) __attribute__((format(printf, 1, 2)));
int utl_LogF(const char* pszModule, const char* pszFmt, ...) __attribute__((format(printf, 2, 3)));

// Process-wide detail switch; 0 at start and never changed by the setup program.
extern int g_nLogDetail;
