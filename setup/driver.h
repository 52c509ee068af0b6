// Install driver: unpacks the payload into the work folder, hands over to the
// admission service, starts the real installer and waits until it has ended.
#pragma once
#include <windows.h>
#include <string>

enum { DRV_ERR_QT = 112, DRV_ERR_WORKDIR = 351, DRV_ERR_CARRIER = 352, DRV_ERR_NO_PYM = 355,
       DRV_ERR_LIST = 356, DRV_ERR_NO_SETUP = 357 };

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

