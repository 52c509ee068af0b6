// Administrators' tool for the protected settings files.
//   kavlavrf write <protected-file> [<vrf-file>]
//       writes the verification file with the program's key; without a
//       second argument the name follows the file (KavlaCustom.ini gives
//       KavlaCustom.vrf, KavlaCustom.xml gives KavlaCustomXml.vrf, ...) in
//       the same folder.
//   kavlavrf check <folder>
//       checks the folder's four pairs and prints for each whether it
//       verifies; exit code 0 when every pair present verifies.
// Exit codes: 0 success, 1 a pair does not verify or the writer failed,
// 2 usage error (also a verification file that is the protected file).
#include "file.h"
#include "link.h"
#include "reginfo.h"
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

int Usage(void)
{
    fprintf(stderr, "usage: kavlavrf write <protected-file> [<vrf-file>]\n"
                    "       kavlavrf check <folder>\n");
    return 2;
}

const char* BaseName(const char* pszPath)
{
    const char* pszBase = pszPath;
    for (const char* p = pszPath; *p; ++p)
        if (*p == '\\' || *p == '/')
            pszBase = p + 1;
    return pszBase;
}

// The file's identity: volume serial and file index.
bool GetFileIdentity(const char* pszPath, BY_HANDLE_FILE_INFORMATION* pInfo)
{
    HANDLE hFile = utl_OpenShared(pszPath, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    bool bOk = hFile != INVALID_HANDLE_VALUE && GetFileInformationByHandle(hFile, pInfo);
    utl_CloseHandle(hFile);
    return bOk;
}

// The full path as UTF-16, for the file system's own comparison of names.
bool GetFullPathWide(const char* pszPath, std::wstring& strFull)
{
    char szFull[UTL_MAX_PATH + 1];
    DWORD dwLen = GetFullPathNameA(pszPath, sizeof(szFull), szFull, NULL);
    if (dwLen == 0 || dwLen >= sizeof(szFull))
        return false;
    int nWide = MultiByteToWideChar(CP_ACP, 0, szFull, (int)dwLen, NULL, 0);
    if (nWide <= 0)
        return false;
    strFull.assign((size_t)nWide, L'\0');
    return MultiByteToWideChar(CP_ACP, 0, szFull, (int)dwLen, &strFull[0], nWide) == nWide;
}

// 1 when both paths name one file. The writer reads the settings file and
// then replaces its verification file, so that would leave the settings
// file as 256 bytes of digest. Names are compared without regard to letter
// case, as the file system does; when both exist, their identity also
// catches other spellings of the same file (short names, another drive's
// view, hard links).
int IsSameFile(const char* pszProtected, const char* pszVrf)
{
    std::wstring strProt, strVrf;
    if (GetFullPathWide(pszProtected, strProt) && GetFullPathWide(pszVrf, strVrf)
        && CompareStringOrdinal(strProt.c_str(), (int)strProt.size(), strVrf.c_str(), (int)strVrf.size(), TRUE)
               == CSTR_EQUAL)
        return 1;
    BY_HANDLE_FILE_INFORMATION infoProt, infoVrf;
    return GetFileIdentity(pszProtected, &infoProt) && GetFileIdentity(pszVrf, &infoVrf)
           && infoProt.dwVolumeSerialNumber == infoVrf.dwVolumeSerialNumber
           && infoProt.nFileIndexHigh == infoVrf.nFileIndexHigh && infoProt.nFileIndexLow == infoVrf.nFileIndexLow;
}

int Write(const char* pszProtected, const char* pszVrfArg)
{
    char szVrf[UTL_MAX_PATH] = {0};
    if (pszVrfArg) {
        if (strlen(pszVrfArg) >= sizeof(szVrf)) {
            fprintf(stderr, "kavlavrf: path too long: %s\n", pszVrfArg);
            return 2;
        }
        strcpy(szVrf, pszVrfArg);
    } else {
        const char* pszBase = BaseName(pszProtected);
        const char* pszVrfName = NULL;
        for (const VrfPair& pair : g_aVrfPairs)
            if (_stricmp(pszBase, pair.pszProtected) == 0)
                pszVrfName = pair.pszVrf;
        if (!pszVrfName) {
            fprintf(stderr, "kavlavrf: %s is no protected settings file; name the verification file\n",
                    pszProtected);
            return 2;
        }
        int nOk = 0;
        if (pszBase == pszProtected)
            nOk = strlen(pszVrfName) < sizeof(szVrf) ? (strcpy(szVrf, pszVrfName), 1) : 0;
        else {
            // The folder without its last separator; "\name" keeps the root.
            std::string strFolder(pszProtected, (size_t)(pszBase - pszProtected - 1));
            nOk = utl_PathJoin(szVrf, sizeof(szVrf), strFolder.c_str(), pszVrfName);
        }
        if (!nOk) {
            fprintf(stderr, "kavlavrf: path too long: %s\n", pszProtected);
            return 2;
        }
    }
    if (IsSameFile(pszProtected, szVrf)) {
        fprintf(stderr, "kavlavrf: %s and %s are the same file; the verification file must be another one\n",
                pszProtected, szVrf);
        return 2;
    }
    DWORD dwErr = 0;
    if (!CreateVrfFile(pszProtected, szVrf, &dwErr)) {
        fprintf(stderr, "kavlavrf: writing %s failed with error %u\n", szVrf, (unsigned)dwErr);
        return 1;
    }
    printf("%s written\n", szVrf);
    return 0;
}

// A pair verifies with the default block or, for KavlaCustom.xml, failing
// that, with the icon its document names, when that icon lies in the
// folder. Unlike the setup program, the tool copies no icon from the system
// folder.
int CheckPair(const char* pszFolder, VrfWhich eWhich)
{
    if (VrfCheckPair(pszFolder, eWhich, 0, NULL))
        return 1;
    if (!g_aVrfPairs[eWhich].bIcon)
        return 0;
    std::string strIcon = utl_ReadIconName(pszFolder);
    char szIcon[UTL_MAX_PATH];
    if (!utl_IsPlainFileName(strIcon.c_str()) || !utl_PathJoin(szIcon, sizeof(szIcon), pszFolder, strIcon.c_str())
        || !utl_FileExists(szIcon))
        return 0;
    return VrfCheckPair(pszFolder, eWhich, 1, strIcon.c_str());
}

int Check(const char* pszFolder)
{
    if (!utl_FolderExists(pszFolder)) {
        fprintf(stderr, "kavlavrf: no folder %s\n", pszFolder);
        return 2;
    }
    int nResult = 0, nPresent = 0;
    for (int i = 0; i < VRF_PAIR_COUNT; ++i) {
        const VrfPair& pair = g_aVrfPairs[i];
        char szProt[UTL_MAX_PATH], szVrf[UTL_MAX_PATH];
        if (!utl_PathJoin(szProt, sizeof(szProt), pszFolder, pair.pszProtected)
            || !utl_PathJoin(szVrf, sizeof(szVrf), pszFolder, pair.pszVrf)) {
            fprintf(stderr, "kavlavrf: path too long: %s\n", pszFolder);
            return 2;
        }
        int bProt = utl_FileExists(szProt), bVrf = utl_FileExists(szVrf);
        if (!bProt && !bVrf) {
            printf("%-24s absent\n", pair.pszProtected);
            continue;
        }
        ++nPresent;
        if (CheckPair(pszFolder, (VrfWhich)i))
            printf("%-24s verified\n", pair.pszProtected);
        else {
            printf("%-24s NOT verified%s\n", pair.pszProtected,
                   !bProt ? " (file missing)" : !bVrf ? " (verification file missing)" : "");
            nResult = 1;
        }
    }
    if (!nPresent)
        printf("no protected settings files in %s\n", pszFolder);
    return nResult;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && argc <= 4 && strcmp(argv[1], "write") == 0)
        return Write(argv[2], argc == 4 ? argv[3] : NULL);
    if (argc == 3 && strcmp(argv[1], "check") == 0)
        return Check(argv[2]);
    return Usage();
}
