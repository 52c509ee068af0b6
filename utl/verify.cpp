// The four protected pairs and their checks.
#include "verify.h"
#include "file.h"
#include "reginfo.h"

// One row a pair: it differs from the others only in its names and texts.
const VrfPair g_aVrfPairs[VRF_PAIR_COUNT] = {
    {"KavlaCustom.xml", "KavlaCustomXml.vrf", 1, "verifying KavlaCustom xml info FAILED with Err ", {"CopyFile KavlaCustom.xml return false!", "CopyFile KavlaCustomxml.vrf return false!"}, "verifying KavlaCustom xml info FAILED again!"},
    {"KavlaUninstallInfo.xml", "KavlaUninstallInfoXml.vrf", 0, "verifying uninstall info FAILED with Err ", {"CopyFile KavlaUninstallInfo.xml return false!", "CopyFile KavlaUninstallInfoxml.vrf return false!"}, "verifying Uninstall xml info FAILED again!"},
    {"KavlaCustom.ini", "KavlaCustom.vrf", 0, "verifying KavlaCustom ini info FAILED with Err ", {"CopyFile KavlaCustom.ini return false!", "CopyFile KavlaCustom.vrf return false!"}, "verifying KavlaCustom ini info FAILED again!"},
    {"KavlaUninstallInfo.ini", "KavlaUninstallInfo.vrf", 0, "verifying uninstall ini info FAILED with Err ", {"CopyFile KavlaUninstallInfo.ini return false!", "CopyFile KavlaUninstallInfo.vrf return false!"}, "verifying Uninstall ini info FAILED again!"},
};

namespace {

// The icon's block. Anything but a bare file name would reach files outside
// the folder (and copy system folder files into it), and counts as no icon.
int IconBlock(const char* pszFolder, const char* pszIconName, BYTE* pbBlock)
{
    VrfDefaultBlock(pbBlock);
    char szIcon[UTL_MAX_PATH];
    if (!utl_IsPlainFileName(pszIconName) || !utl_PathJoin(szIcon, sizeof(szIcon), pszFolder, pszIconName))
        return 1;
    if (!utl_FileExists(szIcon)) {
        char szBackup[UTL_MAX_PATH];
        utl_GetBackupFolder(szBackup, sizeof(szBackup));
        utl_CopyInto(szBackup, pszFolder, pszIconName);
    }
    return VrfIconBlock(szIcon, pbBlock);
}

} // namespace

int VrfCheckPair(const char* pszFolder, VrfWhich eWhich, int bWithIcon, const char* pszIconName)
{
    if (!pszFolder || (unsigned)eWhich >= VRF_PAIR_COUNT)
        return 0;
    const VrfPair& pair = g_aVrfPairs[eWhich];
    BYTE abBlock[VRF_BLOCK_SIZE];
    VrfDefaultBlock(abBlock);
    if (bWithIcon && !IconBlock(pszFolder, pszIconName, abBlock))
        return 0;
    char szVrf[UTL_MAX_PATH], szProt[UTL_MAX_PATH];
    if (!utl_PathJoin(szVrf, sizeof(szVrf), pszFolder, pair.pszVrf)
        || !utl_PathJoin(szProt, sizeof(szProt), pszFolder, pair.pszProtected))
        return 0;
    return VrfCheckFile(szProt, szVrf, abBlock);
}

int CusIniVerify(const char* pszFolder)
{
    return VrfCheckPair(pszFolder, VRF_CUSTOM_INI, 0, NULL);
}

int CusXmlVerify(const char* pszFolder, int bWithIcon, const char* pszIconName)
{
    return VrfCheckPair(pszFolder, VRF_CUSTOM_XML, bWithIcon, pszIconName);
}

int UninstallIniVerify(const char* pszFolder)
{
    return VrfCheckPair(pszFolder, VRF_UNINSTALL_INI, 0, NULL);
}

int UninstallXmlVerify(const char* pszFolder)
{
    return VrfCheckPair(pszFolder, VRF_UNINSTALL_XML, 0, NULL);
}
