// Install driver: unpacks the payload into the work folder, hands over to the
// admission service, starts the real installer and waits until it has ended.
#pragma once
#include "pack.h"
#include <windows.h>
#include <string>

// The driver's own error numbers, X(name, number). DRV_ERR_NONE stays in
// *pdwErr when a step without a number of its own fails.
#define DRV_ERRORS(X) \
    X(DRV_ERR_NONE, 0) X(DRV_ERR_QT, 112) X(DRV_ERR_WORKDIR, 351) X(DRV_ERR_CARRIER, 352) \
    X(DRV_ERR_NO_PYM, 355) X(DRV_ERR_LIST, 356) X(DRV_ERR_NO_SETUP, 357)
#define DRV_ERR_ENUM(name, number) name = number,
enum { DRV_ERRORS(DRV_ERR_ENUM) };
// Every number UnpackAndSetup can hand back: its own and the container reader's.
#define DRV_ERR_VALUE(name, number) name,
const DWORD kInstallErrors[] = { DRV_ERRORS(DRV_ERR_VALUE) PACK_READER_ERRORS(DRV_ERR_VALUE) };

// The installer gets this many looks, this far apart, to show up; the count
// of looks is logged, and the whole count means it was never seen.
const int INSTALLER_APPEAR_MAX_POLLS = 600;
const DWORD INSTALLER_APPEAR_POLL_MS = 50;

// The named event that keeps a second setup program out; opened by the entry,
// closed exactly once by whoever ends first (CloseInstanceEvent).
extern HANDLE g_hInstanceEvent;
void CloseInstanceEvent(void);

// 1 when the real installer was started and has ended; 0 when a step failed,
// with the step's number in *pdwErr where the step sets one.
int UnpackAndSetup(DWORD* pdwErr);

// Path of the MSI copy: the program's own folder joined with "KavlaSetup.msi",
// whatever the program's file is called ("Setup (1).exe" after a second
// download). 0 and an empty pszOut when the path has no folder or does not fit.
int MsiCopyPath(const char* pszModulePath, char* pszOut, DWORD dwOutSize);

// The 7-Zip command line for an archive of the work folder:
//   <W>\7za.exe x "<archive>" -o"<W>" -y
int DrvSevenZipCmd(const char* pszWorkDir, const char* pszArchivePath, std::string& strCmd);

