// Install driver. A straight sequence of steps, each run only while the
// previous ones succeeded; the result and the install error number are set
// where a step fails, and the instance event is closed at the one exit.
// Every path is built with utl_PathJoin: a name that does not fit fails its
// step instead of being cut into another path.
#include "driver.h"
#include "file.h"
#include "link.h"
#include "log.h"
#include "log_lines.h"
#include "pack.h"
#include "payload.h"
#include "proc.h"
#include "reg.h"
#include <shellapi.h>
#include <string.h>
#include <string>

HANDLE g_hInstanceEvent = NULL;

void CloseInstanceEvent(void)
{
    if (g_hInstanceEvent) {
        CloseHandle(g_hInstanceEvent);
        g_hInstanceEvent = NULL;
    }
}

namespace {

const char* const KAVLA_KEY = "SOFTWARE\\Kavla";
const char* const MSI_UNINSTALL_KEY =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5A1C7E20-3B94-4D6F-9E21-7C0B84D2A613}";
const char* const MSI_COPY_NAME = "KavlaSetup.msi";

// The registry may not be ready for the MSI's source path right after the
// MSI-based upgrade asked for us: ten looks a second apart.
const int MSI_SOURCE_ATTEMPTS = 10;
const DWORD MSI_SOURCE_WAIT_MS = 1000;
// The admission service needs a moment to show up in the process list; it
// then gets up to five minutes per call.
const DWORD PYM_START_WAIT_MS = 300;
const DWORD PYM_POLL_MS = 500;
const int PYM_MAX_POLLS = 600;
// The installer's looks until it has ended (driver.h: until it shows up).
const DWORD INSTALLER_END_POLL_MS = 500;

// The work folder's path, kept for the whole run (the installer runs from it).
char g_szWorkDir[UTL_MAX_PATH] = {0};
// <drive>:\tmp and the work folder, held from the making of the work folder
// until the installer has ended: the paths of the programs started lead to them.
UtlFolder g_tmpHold = {INVALID_HANDLE_VALUE, {0}};
UtlFolder g_workHold = {INVALID_HANDLE_VALUE, {0}};

// W\pszName into pszOut (UTL_MAX_PATH bytes).
int WorkPath(char* pszOut, const char* pszName)
{
    return utl_PathJoin(pszOut, UTL_MAX_PATH, g_szWorkDir, pszName);
}

// Reads the MSI package's source path: SOFTWARE\Kavla first, then the MSI
// product's Uninstall key, which the MSI may fill a little later.
void ReadMsiSource(char* pszSource)
{
    pszSource[0] = '\0';
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, KAVLA_KEY, "MsiSourceName", pszSource, UTL_MAX_PATH))
        return;
    pszSource[0] = '\0';
    for (int i = 0; i < MSI_SOURCE_ATTEMPTS; ++i) {
        SetupLog("can't get source path.");
        int bRead = utl_RegReadString(HKEY_LOCAL_MACHINE, MSI_UNINSTALL_KEY, "MsiSourceName", pszSource,
                                      UTL_MAX_PATH);
        Sleep(MSI_SOURCE_WAIT_MS);
        if (bRead)
            return;
        pszSource[0] = '\0';
    }
}

// The carrier: the program's own file, or the MSI copy beside it when the
// installed client asked for an MSI-based upgrade. 0 when the MSI copy
// cannot be had (no number: the entry logs what it had).
int ChooseCarrier(char* pszCarrier)
{
    char szModule[UTL_MAX_PATH + 1] = {0};
    DWORD dwLen = GetModuleFileNameA(NULL, szModule, UTL_MAX_PATH);
    // A cut module path names no file; the size step then reports it.
    if (dwLen == 0 || dwLen >= UTL_MAX_PATH)
        szModule[0] = '\0';

    DWORD dwByMsi = 0;
    if (!utl_RegReadDword(HKEY_LOCAL_MACHINE, KAVLA_KEY, "InstallByMsi", &dwByMsi) || dwByMsi == 0) {
        strcpy(pszCarrier, szModule);
        return 1;
    }

    SetupLog(LOGLINE_MSI_INSTALL);
    // Reset first, so that a failing install does not ask again next time.
    if (!utl_RegWriteDword(HKEY_LOCAL_MACHINE, KAVLA_KEY, "InstallByMsi", 0))
        SetupLog("can't set msi sign to zero.");

    char szSource[UTL_MAX_PATH + 1] = {0};
    ReadMsiSource(szSource);

    char szCopy[UTL_MAX_PATH] = {0};
    int bOk = MsiCopyPath(szModule, szCopy, sizeof(szCopy));
    if (bOk && utl_FileExists(szCopy)) {
        SetupLog("InstallScript has copy msi file.");
    } else if (bOk && szSource[0] && utl_FileExists(szSource)) {
        utl_CopyFileOver(szSource, szCopy);
        if (!utl_FileExists(szCopy)) {
            SetupLog("Cannot use setup copy msi file, accessible error.");
            bOk = 0;
        }
    } else {
        SetupLog("Network problem, cannot access source file.");
        bOk = 0;
    }
    if (bOk)
        strcpy(pszCarrier, szCopy);
    return bOk;
}

// The work folder, made or adopted as the setup's own and held until
// the installer has ended; then an earlier run's files go.
int MakeWorkFolder(DWORD* pdwErr)
{
    if (!utl_CreateTmpDirHeld(g_szWorkDir, UTL_MAX_PATH, "KavlaSetup", 0, 0, &g_tmpHold, &g_workHold)) {
        g_szWorkDir[0] = '\0';
        *pdwErr = DRV_ERR_WORKDIR;
        return 0;
    }
    utl_DeleteFilesAt(&g_workHold, "*.*", NULL);
    return 1;
}

// A DAM folder an earlier run left goes.
int RemoveLeftoverDam(void)
{
    char szDam[UTL_MAX_PATH];
    if (WorkPath(szDam, "DAM") && utl_FolderExists(szDam))
        utl_RemoveFolder(szDam);
    return 1;
}

// Checks the carrier's size and unpacks its payload into the work folder.
int UnpackPayload(const char* pszCarrier, DWORD* pdwErr)
{
    char szFolder[UTL_MAX_PATH];
    const char* pszName = pszCarrier;
    if (!utl_SplitPath(pszCarrier, szFolder, sizeof(szFolder), &pszName))
        strcpy(szFolder, ".");

    DWORD dwHigh = 0, dwLow = 0;
    int bSize;
    if (pszCarrier[0] && utl_FileExists(pszCarrier)) {
        bSize = utl_GetFileSize(pszCarrier, &dwHigh, &dwLow);
    } else {
        SetupLog(pszCarrier);
        strcpy(szFolder, ".");
        bSize = pszName[0] && utl_GetFileSize(pszName, &dwHigh, &dwLow);
    }
    // The payload starts at PACK_SETUP_OFFSET: a carrier that ends there holds none.
    if (!bSize || dwHigh != 0 || dwLow <= PACK_SETUP_OFFSET) {
        *pdwErr = DRV_ERR_CARRIER;
        return 0;
    }
    return utl_FileUnpack(szFolder, pszName, g_szWorkDir, pdwErr, PACK_SETUP_OFFSET);
}

// Creates W\pszName when it is missing; 1 when the folder is there.
int EnsureWorkSubfolder(const char* pszName, char* pszPath)
{
    if (!WorkPath(pszPath, pszName))
        return 0;
    // A link in its place is replaced by a real folder.
    return utl_EnsureOwnFolder(pszPath);
}

// The inner component pack is a stand-alone container (offset 0).
int UnpackComponentPack(DWORD* pdwErr)
{
    char szComponent[UTL_MAX_PATH], szPack[UTL_MAX_PATH];
    if (!EnsureWorkSubfolder("component", szComponent))
        return 0;
    if (!WorkPath(szPack, PAYLOAD_COMPONENT) || !utl_FileExists(szPack))
        return 1;
    return utl_FileUnpack(g_szWorkDir, PAYLOAD_COMPONENT, szComponent, pdwErr, 0);
}

// A program of the work folder, held so that nobody can change or replace
// it until it has been started (its start opens it for reading only);
// INVALID_HANDLE_VALUE when it is not a plain file of the folder's own.
HANDLE HoldProgram(const char* pszName)
{
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    HANDLE hProgram = utl_OpenAt(&g_workHold, pszName, GENERIC_READ, FILE_SHARE_READ, UTL_OPEN, UTL_AS_FILE, &eKind);
    if (hProgram != INVALID_HANDLE_VALUE && eKind != UTL_ENTRY_OWN)
        utl_CloseHandle(hProgram);
    return hProgram;
}

// Runs the packaged 7-Zip on the archive, extracting into W. 1 when 7-Zip reported
// "Everything is Ok"; its output is logged when it ran.
int ExtractWithSevenZip(const char* pszArchivePath)
{
    std::string strCmd;
    if (!DrvSevenZipCmd(g_szWorkDir, pszArchivePath, strCmd))
        return 0;
    SetupLog(strCmd.c_str());
    std::string strOut;
    HANDLE hProgram = HoldProgram(PAYLOAD_SEVENZA);
    int bRan = hProgram != INVALID_HANDLE_VALUE && GetCmd(strCmd.c_str(), strOut, "Setup");
    utl_CloseHandle(hProgram);
    if (!bRan)
        return 0;
    SetupLog(strOut.c_str());
    return strOut.find(LOGLINE_7ZIP_OK) != std::string::npos ? 1 : 0;
}

// Qt archive: a failed extraction is recorded (112) but does not stop the
// install; the installer brings what it cannot do without.
int ExtractQt(DWORD* pdwErr)
{
    char szQt[UTL_MAX_PATH], szArchive[UTL_MAX_PATH];
    if (!EnsureWorkSubfolder("Qt", szQt) || !WorkPath(szArchive, PAYLOAD_QT_ARCHIVE))
        return 0;
    SetupLog(szArchive);
    if (utl_FileExists(szArchive) && !ExtractWithSevenZip(szArchive))
        *pdwErr = DRV_ERR_QT;
    return 1;
}

void CopyIfFile(const char* pszName, const char* pszDstFolder)
{
    char szSrc[UTL_MAX_PATH];
    if (WorkPath(szSrc, pszName) && utl_FileExists(szSrc))
        utl_CopyInto(g_szWorkDir, pszDstFolder, pszName);
}

// Copies one profile file <prefix>-<rest> to W\data\<prefix>\<rest>.
void PlaceProfileFile(const char* pszName)
{
    char szPrefix[UTL_MAX_PATH], szRest[UTL_MAX_PATH];
    char szData[UTL_MAX_PATH], szPrefixDir[UTL_MAX_PATH], szSrc[UTL_MAX_PATH], szDst[UTL_MAX_PATH];
    if (!DrvSplitProfileName(pszName, szPrefix, szRest, UTL_MAX_PATH))
        return;
    if (!WorkPath(szData, "data") || !utl_PathJoin(szPrefixDir, sizeof(szPrefixDir), szData, szPrefix)
        || !utl_PathJoin(szDst, sizeof(szDst), szPrefixDir, szRest) || !WorkPath(szSrc, pszName))
        return;
    utl_EnsureOwnFolder(szPrefixDir);
    utl_CopyFileOver(szSrc, szDst);
}

void PlaceIfProfileFile(void*, const UtlFolder*, const char* pszName, DWORD dwAttributes)
{
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsProfileFileName(pszName))
        PlaceProfileFile(pszName);
}

// Customisation files of the payload into the places the installer reads.
// 0 only when the work folder cannot be listed (356).
int PlaceCustomFiles(DWORD* pdwErr)
{
    char szData[UTL_MAX_PATH], szDataUpper[UTL_MAX_PATH];
    if (!EnsureWorkSubfolder("Data", szData) || !WorkPath(szDataUpper, "DATA"))
        return 1;
    CopyIfFile("locations.xml", szDataUpper);
    CopyIfFile("conn_cfg.ini", szDataUpper);

    if (!utl_ListAt(&g_workHold, "*", PlaceIfProfileFile, NULL)) {
        *pdwErr = DRV_ERR_LIST;
        return 0;
    }
    return 1;
}

// Command-line customisation: rebuilt from its archive at every run, so a
// folder left by an earlier payload never survives into this install.
void ExtractCmdCustomCfg(void)
{
    char szFolder[UTL_MAX_PATH], szArchive[UTL_MAX_PATH];
    if (!WorkPath(szFolder, "WebCmdCustomCfg") || !WorkPath(szArchive, PAYLOAD_CMDCFG_ARCHIVE))
        return;
    if (!utl_FileExists(szArchive)) {
        utl_DeleteFolderTree(szFolder);
        return;
    }
    // Kept and emptied when it is a real folder, made when missing; a link
    // in its place is removed as a link first.
    if (!utl_EnsureOwnFolder(szFolder))
        return;
    utl_DeleteFiles(szFolder, "*.*");
    utl_DeleteSubfolders(szFolder);
    SetupLog(szArchive);
    if (!ExtractWithSevenZip(szArchive))
        SetupLog("unpack managecfg fail!");
}

// Starts W\pszName with ShellExecuteA (default verb, no working folder),
// held meanwhile. 0 when it is not a plain file of the work folder's own.
int StartWorkProgram(const char* pszName, const char* pszParams, int nShow)
{
    char szPath[UTL_MAX_PATH];
    HANDLE hProgram = HoldProgram(pszName);
    if (hProgram == INVALID_HANDLE_VALUE || !WorkPath(szPath, pszName)) {
        utl_CloseHandle(hProgram);
        return 0;
    }
    ShellExecuteA(NULL, NULL, szPath, pszParams, NULL, nShow);
    utl_CloseHandle(hProgram);
    return 1;
}

// Runs the admission service once and waits until it is gone (or its time is up).
void RunAdmissionService(const char* pszParams)
{
    StartWorkProgram(PAYLOAD_PYM.pszName, pszParams, SW_HIDE);
    Sleep(PYM_START_WAIT_MS);
    for (int i = 0; i < PYM_MAX_POLLS && chkProcExist("waitCpd", PAYLOAD_PYM.pszName) == PROC_RUNNING; ++i)
        Sleep(PYM_POLL_MS);
}

// The installed client's admission service takes over the update
// information, then shuts the client down.
int HandOverToAdmissionService(DWORD* pdwErr)
{
    HANDLE hPym = HoldProgram(PAYLOAD_PYM.pszName);
    const int bThere = hPym != INVALID_HANDLE_VALUE;
    utl_CloseHandle(hPym);
    if (!bThere) {
        *pdwErr = PAYLOAD_PYM.dwErrMissing;
        return 0;
    }
    RunAdmissionService("-setUpdInfo");
    RunAdmissionService("-exitpymclient");
    return 1;
}

// Starts the real installer and waits for it to appear and to end.
int RunInstaller(DWORD* pdwErr)
{
    if (!StartWorkProgram(PAYLOAD_INSTALLER.pszName, NULL, SW_SHOW)) {
        *pdwErr = PAYLOAD_INSTALLER.dwErrMissing;
        return 0;
    }

    unsigned nStartWaits = 0;
    for (int i = 0; i < INSTALLER_APPEAR_MAX_POLLS; ++i) {
        if (chkProcExist("waitSetup", PAYLOAD_INSTALLER.pszName) == PROC_RUNNING)
            break;
        Sleep(INSTALLER_APPEAR_POLL_MS);
        ++nStartWaits;
    }
    SetupLogF(LOGLINE_INSTALLER_STARTED "%u", nStartWaits);

    unsigned nEndWaits = 0;
    while (chkProcExist("waitSetup", PAYLOAD_INSTALLER.pszName) == PROC_RUNNING) {
        Sleep(INSTALLER_END_POLL_MS);
        ++nEndWaits;
    }
    SetupLogF(LOGLINE_INSTALLER_ENDED "%u.", nEndWaits);
    return 1;
}

} // namespace

int MsiCopyPath(const char* pszModulePath, char* pszOut, DWORD dwOutSize)
{
    if (!pszOut || dwOutSize == 0)
        return 0;
    pszOut[0] = '\0';
    if (!pszModulePath)
        return 0;
    char szFolder[UTL_MAX_PATH];
    if (!utl_SplitPath(pszModulePath, szFolder, sizeof(szFolder), NULL))
        return 0;
    return utl_PathJoin(pszOut, dwOutSize, szFolder, MSI_COPY_NAME);
}

int DrvSevenZipCmd(const char* pszWorkDir, const char* pszArchivePath, std::string& strCmd)
{
    char szSevenZa[UTL_MAX_PATH];
    strCmd.clear();
    if (!pszArchivePath || !utl_PathJoin(szSevenZa, sizeof(szSevenZa), pszWorkDir, PAYLOAD_SEVENZA))
        return 0;
    strCmd = std::string(szSevenZa) + LOGLINE_7ZIP_EXTRACT + pszArchivePath + "\" -o\"" + pszWorkDir + "\" -y";
    return 1;
}

int DrvSplitProfileName(const char* pszName, char* pszPrefix, char* pszRest, DWORD dwSize)
{
    if (!pszName || !pszPrefix || !pszRest || dwSize == 0)
        return 0;
    pszPrefix[0] = pszRest[0] = '\0';
    const char* pszDash = strchr(pszName, '-');
    size_t nPrefix = pszDash ? (size_t)(pszDash - pszName) : 0;
    if (!pszDash || nPrefix >= dwSize || strlen(pszDash + 1) >= dwSize)
        return 0;
    memcpy(pszPrefix, pszName, nPrefix);
    pszPrefix[nPrefix] = '\0';
    strcpy(pszRest, pszDash + 1);
    // Both halves become path components under W\data: neither may climb
    // out of it or name a device.
    if (!utl_IsPlainFileName(pszPrefix) || !utl_IsPlainFileName(pszRest)) {
        pszPrefix[0] = pszRest[0] = '\0';
        return 0;
    }
    return 1;
}

int UnpackAndSetup(DWORD* pdwErr)
{
    DWORD dwIgnored = 0;
    if (!pdwErr)
        pdwErr = &dwIgnored;
    char szCarrier[UTL_MAX_PATH] = {0};
    int nResult = ChooseCarrier(szCarrier)
        && MakeWorkFolder(pdwErr)
        && RemoveLeftoverDam()
        && UnpackPayload(szCarrier, pdwErr)
        && UnpackComponentPack(pdwErr)
        && ExtractQt(pdwErr)
        && PlaceCustomFiles(pdwErr);
    if (nResult) {
        ExtractCmdCustomCfg();
        nResult = HandOverToAdmissionService(pdwErr) && RunInstaller(pdwErr);
    }
    utl_ReleaseFolder(&g_workHold);
    utl_ReleaseFolder(&g_tmpHold);
    CloseInstanceEvent();
    return nResult ? 1 : 0;
}
