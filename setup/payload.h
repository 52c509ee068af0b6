// The files of a payload that the install driver acts on, and what it does
// with them; kavlapack checks a payload against these same names and rules.
#pragma once
#include "driver.h"
#include <windows.h>
#include <string.h>

// The admission service and the installer. A payload without one of them
// ends the install with the number beside it.
struct PayloadProgram {
    const char* pszName;
    DWORD dwErrMissing;
};
const PayloadProgram PAYLOAD_PYM = {"pymApxSvr.exe", DRV_ERR_NO_PYM};
const PayloadProgram PAYLOAD_INSTALLER = {"KavlaSetup.exe", DRV_ERR_NO_SETUP};
const PayloadProgram* const PAYLOAD_PROGRAMS[] = {&PAYLOAD_PYM, &PAYLOAD_INSTALLER};

// The inner component pack: a container at offset 0, unpacked into the work
// folder's "component" when present; a damaged one ends the install with the
// reader's number.
#define PAYLOAD_COMPONENT "KavlaComponent.exe"
// The 7-Zip program and the two archives it extracts: the Qt archive's
// failure is recorded as DRV_ERR_QT, the command-line customisation's only
// logged; neither stops the install.
#define PAYLOAD_SEVENZA "7za.exe"
#define PAYLOAD_QT_ARCHIVE "Qt.7z"
#define PAYLOAD_CMDCFG_ARCHIVE "WebCmdCustomCfg.7z"

// A profile file: any name holding "cfg.xml", copied to data\<prefix>\<rest>
// when DrvSplitProfileName splits it, else left where it is.
inline bool IsProfileFileName(const char* pszName)
{
    return strstr(pszName, "cfg.xml") != NULL;
}
// Splits a profile file name "<prefix>-<rest>" at its first '-'. 0 (both
// outputs empty) when there is no '-' or when either half is not a plain
// file name, since both become path components under W\data.
int DrvSplitProfileName(const char* pszName, char* pszPrefix, char* pszRest, DWORD dwSize);
