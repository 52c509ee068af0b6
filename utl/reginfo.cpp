// The reginfo folder and its neighbours, the loaders with the legacy
// migration, and the restore from the backups in the system folder.
#include "reginfo.h"
#include "custom_doc.h"
#include "file.h"
#include "log.h"
#include "sys.h"
#include "xml_parser.h"
#include <stdio.h>
#include <string.h>

namespace {

const char* const REGINFO_SUBPATH = "Kavla\\Orvane\\reginfo";
const char* const LEGACY_SUBPATH = "Solvar-Tremo\\Orvane\\reginfo";
const char* const LEGACY_TOP = "Solvar-Tremo";
// The pairs the legacy folder hands over, in the order they are copied.
const VrfWhich g_aLegacyPairs[] = {VRF_CUSTOM_INI, VRF_UNINSTALL_INI};

char g_szCommonFiles[UTL_MAX_PATH + 1];

// What both loaders do first: find the reginfo folder and make it, with the
// folders above it, when it is missing.
int PrepareRegInfo(const char* pszModule, const char* pszFunc, char* pszRegInfo, DWORD dwSize)
{
    if (!utl_GetRegInfoFolder(pszRegInfo, dwSize)) {
        utl_LogF(pszModule, "%s: utl_GetCommonProgramFiles failed!", pszFunc);
        return 0;
    }
    if (!utl_FolderExists(pszRegInfo)) {
        DWORD dwErr = 0;
        if (!utl_CreateFolderChain(pszRegInfo, &dwErr)) {
            utl_LogF(pszModule, "%s:Create directory \"reginfo\" failed with ErrNo: %u.", pszFunc,
                     (unsigned)dwErr);
            return 0;
        }
    }
    return 1;
}

// The pair's checks as the setup trusts a pair: the default block, then, for
// KavlaCustom.xml, the block of the icon its document names.
int VerifyTrusted(const char* pszFolder, VrfWhich eWhich)
{
    return VrfCheckPair(pszFolder, eWhich, 0, NULL)
           || (g_aVrfPairs[eWhich].bIcon && VrfCheckPair(pszFolder, eWhich, 1, utl_ReadIconName(pszFolder).c_str()));
}

} // namespace

const char* utl_GetCommonProgramFiles(void)
{
    if (g_szCommonFiles[0])
        return g_szCommonFiles;
    char szPath[UTL_MAX_PATH + 1] = {0};
    DWORD dwLen = GetEnvironmentVariableA("CommonProgramFiles", szPath, sizeof(szPath));
    if (dwLen == 0 || dwLen >= sizeof(szPath)) {
        char szSys[UTL_MAX_PATH + 1] = {0};
        if (!utl_GetSystemFolder(szSys, sizeof(szSys)))
            return NULL;
        snprintf(szPath, sizeof(szPath), "%c:\\Program Files\\Common Files", szSys[0]);
    }
    memcpy(g_szCommonFiles, szPath, sizeof(g_szCommonFiles));
    return g_szCommonFiles;
}

int utl_GetRegInfoFolder(char* pszBuf, DWORD dwBufSize)
{
    const char* pszCommon = utl_GetCommonProgramFiles();
    if (!pszBuf || !pszCommon)
        return 0;
    return utl_PathJoin(pszBuf, dwBufSize, pszCommon, REGINFO_SUBPATH);
}

void utl_GetBackupFolder(char* pszBuf, DWORD dwBufSize)
{
    char szRoot[UTL_MAX_PATH] = {0};
    DWORD dwLen = GetEnvironmentVariableA("SystemRoot", szRoot, sizeof(szRoot));
    if (dwLen == 0 || dwLen >= sizeof(szRoot))
        szRoot[0] = '\0';
    if (!utl_PathJoin(pszBuf, dwBufSize, szRoot, "system32"))
        pszBuf[0] = '\0';
}

std::string utl_ReadIconName(const char* pszFolder)
{
    char szXml[UTL_MAX_PATH];
    if (!utl_PathJoin(szXml, sizeof(szXml), pszFolder, g_aVrfPairs[VRF_CUSTOM_XML].pszProtected)
        || !VrfContentFits(szXml))
        return std::string();
    CCustomXmlParse parser;
    CusLogoInfo logo;
    if (!parser.ReadLogoOptions(szXml, logo))
        return std::string();
    return logo.CusIconName;
}

int utl_LoadCusIniFile(const char* pszModule)
{
    const char* const pszFunc = "utl_LoadCusIniFile";
    char szRegInfo[UTL_MAX_PATH], szLegacy[UTL_MAX_PATH], szLegacyTop[UTL_MAX_PATH];
    if (!PrepareRegInfo(pszModule, pszFunc, szRegInfo, sizeof(szRegInfo)))
        return 0;
    if (CusIniVerify(szRegInfo))
        return 1;
    utl_LogF(pszModule, "%s:CusIniVerify new failed,try for old.", pszFunc);
    const char* pszCommon = utl_GetCommonProgramFiles();
    if (!utl_PathJoin(szLegacy, sizeof(szLegacy), pszCommon, LEGACY_SUBPATH)
        || !utl_PathJoin(szLegacyTop, sizeof(szLegacyTop), pszCommon, LEGACY_TOP)
        || !CusIniVerify(szLegacy)) {
        utl_LogF(pszModule, "%s:CusIniVerify old failed,return false.", pszFunc);
        return 0;
    }
    utl_LogF(pszModule, "%s:CusIniVerify old true,so copy files.", pszFunc);
    for (VrfWhich eWhich : g_aLegacyPairs) {
        const VrfPair& pair = g_aVrfPairs[eWhich];
        for (const char* pszName : {pair.pszProtected, pair.pszVrf}) {
            if (!utl_CopyInto(szLegacy, szRegInfo, pszName)) {
                utl_LogF(pszModule, "%s:CopyFile %s return false!", pszFunc, pszName);
                return 0;
            }
        }
    }
    // The pair lives only in reginfo from now on.
    utl_DeleteFolderTree(szLegacyTop);
    return 1;
}

int utl_LoadCusXmlFile(const char* pszModule)
{
    char szRegInfo[UTL_MAX_PATH];
    if (!PrepareRegInfo(pszModule, "utl_LoadCusXmlFile", szRegInfo, sizeof(szRegInfo)))
        return 0;
    return VerifyTrusted(szRegInfo, VRF_CUSTOM_XML);
}

int RestoreAndVerify(VrfWhich eWhich, std::string& strMsg)
{
    if ((unsigned)eWhich >= VRF_PAIR_COUNT) {
        strMsg.clear();
        return 0;
    }
    const VrfPair& pair = g_aVrfPairs[eWhich];
    strMsg = std::string(pair.pszRestoreMsg) + " ,So copy bak files!";
    char szBackup[UTL_MAX_PATH], szRegInfo[UTL_MAX_PATH];
    utl_GetBackupFolder(szBackup, sizeof(szBackup));
    if (!utl_GetRegInfoFolder(szRegInfo, sizeof(szRegInfo)))
        szRegInfo[0] = '\0';

    const char* const apszFiles[2] = {pair.pszProtected, pair.pszVrf};
    for (int i = 0; i < 2; ++i) {
        if (!szRegInfo[0] || !utl_CopyInto(szBackup, szRegInfo, apszFiles[i])) {
            strMsg += pair.apszCopyMsg[i];
            return 0;
        }
    }
    if (!VerifyTrusted(szRegInfo, eWhich)) {
        strMsg += pair.pszAgainMsg;
        return 0;
    }
    return 1;
}
