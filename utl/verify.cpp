// Verification files of the protected settings files, the folders they live
// in, the legacy migration and the restore from the backups in the system
// folder. The checks write nothing to the log; the loaders and the restore
// report through utl_Log or their message text.
#include "verify.h"
#include "file.h"
#include "log.h"
#include "xml_parser.h"
#include "custom_doc.h"
#include "mbedtls/md5.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {

// Digest input: content (at most VRF_MAX_CONTENT), salt, block, and the key
// buffer's capacity, so that the whole input is digested in one pass from one
// fixed buffer. Process-wide: the checks are not re-entrant.
const DWORD VRF_BLOCK_SIZE = 32;
const DWORD VRF_DIGEST_SIZE = 16;
const DWORD VRF_KEY_CAPACITY = 100;
const DWORD VRF_KEY_INPUT_LEN = 6;
const DWORD VRF_ICON_BLOCK_OFFSET = 512;
BYTE g_abDigestInput[VRF_MAX_CONTENT + VRF_SALT_SIZE + VRF_BLOCK_SIZE + VRF_KEY_CAPACITY];

// The key's fixed input and table. Verification files are valid only for
// the key that wrote them, so these must never change once files are out.
const BYTE g_abKeyInput[VRF_KEY_INPUT_LEN] = {0x5A, 0x21, 0x1C, 0x79, 0x8B, 0xDD};
const BYTE g_abKeyTable[128] = {
    0xA9, 0x06, 0x5C, 0x1C, 0x1F, 0xE3, 0xED, 0x13, 0xCA, 0x0E, 0x40, 0x04, 0xCA, 0xD9, 0x50, 0x15,
    0x92, 0xD6, 0x45, 0x5D, 0x75, 0x94, 0x3A, 0xBD, 0x14, 0x86, 0x62, 0x81, 0x83, 0x0F, 0xB6, 0x87,
    0xB5, 0xCD, 0x2A, 0x9B, 0xA9, 0x6C, 0xC8, 0x85, 0xEC, 0x4D, 0x40, 0x86, 0x2A, 0x50, 0x56, 0x6F,
    0x8A, 0x9F, 0x1E, 0x8D, 0xF4, 0x90, 0xFC, 0x4C, 0x3D, 0x92, 0x9A, 0x36, 0x59, 0x11, 0xC8, 0x2C,
    0xBD, 0x68, 0xAC, 0x12, 0xF0, 0x2B, 0x7A, 0xC1, 0x18, 0xAE, 0x64, 0xD7, 0x20, 0xC2, 0x68, 0xAE,
    0xD9, 0xE3, 0x02, 0xBE, 0x9B, 0x3D, 0xAB, 0x07, 0x2D, 0xC7, 0x08, 0x6B, 0x31, 0xB8, 0xE8, 0xD3,
    0x8E, 0x9A, 0x39, 0x44, 0x23, 0xA0, 0x18, 0x78, 0x24, 0x6B, 0x9D, 0xF2, 0x3B, 0xED, 0x75, 0x15,
    0xF9, 0x7C, 0x06, 0x53, 0x23, 0x73, 0x47, 0x66, 0x3A, 0xB8, 0xAE, 0x48, 0x24, 0x89, 0x7B, 0xA0,
};

const char* const REGINFO_SUBPATH = "Kavla\\Orvane\\reginfo";
const char* const LEGACY_SUBPATH = "Solvar-Tremo\\Orvane\\reginfo";
const char* const LEGACY_TOP = "Solvar-Tremo";

char g_szCommonFiles[261];

void CloseFileHandle(HANDLE& hFile)
{
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        hFile = INVALID_HANDLE_VALUE;
    }
}

// The default block: 0xFF and 31 zero bytes.
void SetDefaultBlock(BYTE* pbBlock)
{
    memset(pbBlock, 0, VRF_BLOCK_SIZE);
    pbBlock[0] = 0xFF;
}

// Size of an existing file (not a folder). 1 with both halves.
int QueryFileSize(const char* pszPath, DWORD* pdwHigh, DWORD* pdwLow)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExA(pszPath, GetFileExInfoStandard, &fad))
        return 0;
    if (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    *pdwHigh = fad.nFileSizeHigh;
    *pdwLow = fad.nFileSizeLow;
    return 1;
}

// Reads exactly dwLen bytes at dwOffset; a short file is a failure.
int ReadExact(const char* pszPath, DWORD dwOffset, BYTE* pbBuf, DWORD dwLen)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    int nOk = 1;
    if (dwOffset && SetFilePointer(hFile, (LONG)dwOffset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        nOk = 0;
    DWORD dwRead = 0;
    if (nOk && dwLen && (!ReadFile(hFile, pbBuf, dwLen, &dwRead, NULL) || dwRead != dwLen))
        nOk = 0;
    CloseFileHandle(hFile);
    return nOk;
}

// Appends salt, block and key to the dwContentLen content bytes already in
// the digest buffer and digests the whole input.
int DigestInput(DWORD dwContentLen, const BYTE* pbSalt, const BYTE* pbBlock, BYTE* pbDigest)
{
    BYTE* pb = g_abDigestInput + dwContentLen;
    memcpy(pb, pbSalt, VRF_SALT_SIZE);
    pb += VRF_SALT_SIZE;
    memcpy(pb, pbBlock, VRF_BLOCK_SIZE);
    pb += VRF_BLOCK_SIZE;
    DWORD dwKeyLen = VRF_KEY_CAPACITY;
    if (!utl_BuildVrfKey(pb, &dwKeyLen))
        return 0;
    pb += dwKeyLen;
    int nOk = mbedtls_md5(g_abDigestInput, (size_t)(pb - g_abDigestInput), pbDigest) == 0;
    SecureZeroMemory(g_abDigestInput + dwContentLen + VRF_SALT_SIZE + VRF_BLOCK_SIZE, dwKeyLen);
    return nOk;
}

// The check all four protected files share: pszProtected against pszVrf in
// pszFolder with the given block.
int CheckPair(const char* pszFolder, const char* pszProtected, const char* pszVrf, const BYTE* pbBlock)
{
    char szVrf[UTL_MAX_PATH], szProt[UTL_MAX_PATH];
    if (!pszFolder || !utl_PathJoin(szVrf, sizeof(szVrf), pszFolder, pszVrf)
        || !utl_PathJoin(szProt, sizeof(szProt), pszFolder, pszProtected))
        return 0;
    DWORD dwHigh = 0, dwLow = 0;
    if (!QueryFileSize(szVrf, &dwHigh, &dwLow) || dwHigh != 0 || dwLow != VRF_FILE_SIZE)
        return 0;
    BYTE abVrf[VRF_FILE_SIZE];
    if (!ReadExact(szVrf, 0, abVrf, VRF_FILE_SIZE))
        return 0;
    if (!QueryFileSize(szProt, &dwHigh, &dwLow) || dwHigh != 0 || dwLow > VRF_MAX_CONTENT)
        return 0;
    // The key is built inside DigestInput; a key that cannot be built fails there.
    if (!ReadExact(szProt, 0, g_abDigestInput, dwLow))
        return 0;
    BYTE abDigest[VRF_DIGEST_SIZE];
    if (!DigestInput(dwLow, abVrf, pbBlock, abDigest))
        return 0;
    return memcmp(abDigest, abVrf + VRF_SALT_SIZE, VRF_DIGEST_SIZE) == 0 ? 1 : 0;
}

// <SystemRoot>\system32: where the client keeps the backups of the pairs.
void GetBackupFolder(char* pszBuf, DWORD dwBufSize)
{
    char szRoot[UTL_MAX_PATH] = {0};
    DWORD dwLen = GetEnvironmentVariableA("SystemRoot", szRoot, sizeof(szRoot));
    if (dwLen == 0 || dwLen >= sizeof(szRoot))
        szRoot[0] = '\0';
    if (!utl_PathJoin(pszBuf, dwBufSize, szRoot, "system32"))
        pszBuf[0] = '\0';
}

int CopyInto(const char* pszSrcFolder, const char* pszDstFolder, const char* pszName)
{
    char szSrc[UTL_MAX_PATH], szDst[UTL_MAX_PATH];
    if (!utl_PathJoin(szSrc, sizeof(szSrc), pszSrcFolder, pszName)
        || !utl_PathJoin(szDst, sizeof(szDst), pszDstFolder, pszName))
        return 0;
    return utl_CopyFileOver(szSrc, szDst);
}

// The icon's block for CusXmlVerify. The icon name comes from the customisation
// document before that document is trusted, so only a bare file name is
// used: anything else would reach files outside reginfo (and copy system
// folder files into it), and counts as no icon. 0 only when an existing icon
// cannot be read.
int GetIconBlock(const char* pszFolder, const char* pszIconName, BYTE* pbBlock)
{
    SetDefaultBlock(pbBlock);
    if (!utl_IsPlainFileName(pszIconName))
        return 1;
    char szIcon[UTL_MAX_PATH];
    if (!utl_PathJoin(szIcon, sizeof(szIcon), pszFolder, pszIconName))
        return 1;
    if (!utl_FileExists(szIcon)) {
        char szBackup[UTL_MAX_PATH];
        GetBackupFolder(szBackup, sizeof(szBackup));
        CopyInto(szBackup, pszFolder, pszIconName);
    }
    DWORD dwHigh = 0, dwLow = 0;
    if (!QueryFileSize(szIcon, &dwHigh, &dwLow) || dwHigh != 0
        || dwLow < VRF_ICON_BLOCK_OFFSET + VRF_BLOCK_SIZE)
        return 1;
    return ReadExact(szIcon, VRF_ICON_BLOCK_OFFSET, pbBlock, VRF_BLOCK_SIZE);
}

// CusIconName of reginfo\KavlaCustom.xml; empty when the document cannot be
// read. The document is not trusted yet: one too large to verify is not
// parsed at all, since its icon could not make it verify, and parsing an
// untrusted document of any size could stall the setup.
std::string ReadIconName(const char* pszRegInfo)
{
    char szXml[UTL_MAX_PATH];
    DWORD dwHigh = 0, dwLow = 0;
    if (!utl_PathJoin(szXml, sizeof(szXml), pszRegInfo, "KavlaCustom.xml")
        || !QueryFileSize(szXml, &dwHigh, &dwLow) || dwHigh != 0 || dwLow > VRF_MAX_CONTENT)
        return std::string();
    CCustomXmlParse parser;
    CusLogoInfo logo;
    if (!parser.ReadLogoOptions(szXml, logo))
        return std::string();
    return logo.CusIconName;
}

// Steps 1 and 2 shared by both loaders: the reginfo folder, made when missing.
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

struct RestoreRow {
    const char* pszFirst;
    const char* pszFile1;
    const char* pszFile2;
    const char* pszCopyMsg1;
    const char* pszCopyMsg2;
    const char* pszAgainMsg;
};

// Indexed by VrfWhich.
const RestoreRow g_aRestore[] = {
    {"verifying KavlaCustom xml info FAILED with Err ", "KavlaCustom.xml", "KavlaCustomXml.vrf",
     "CopyFile KavlaCustom.xml return false!", "CopyFile KavlaCustomxml.vrf return false!",
     "verifying KavlaCustom xml info FAILED again!"},
    {"verifying uninstall info FAILED with Err ", "KavlaUninstallInfo.xml", "KavlaUninstallInfoXml.vrf",
     "CopyFile KavlaUninstallInfo.xml return false!", "CopyFile KavlaUninstallInfoxml.vrf return false!",
     "verifying Uninstall xml info FAILED again!"},
    {"verifying KavlaCustom ini info FAILED with Err ", "KavlaCustom.ini", "KavlaCustom.vrf",
     "CopyFile KavlaCustom.ini return false!", "CopyFile KavlaCustom.vrf return false!",
     "verifying KavlaCustom ini info FAILED again!"},
    {"verifying uninstall ini info FAILED with Err ", "KavlaUninstallInfo.ini", "KavlaUninstallInfo.vrf",
     "CopyFile KavlaUninstallInfo.ini return false!", "CopyFile KavlaUninstallInfo.vrf return false!",
     "verifying Uninstall ini info FAILED again!"},
};

} // namespace

int MakeVrfKey(const BYTE* pbInput, DWORD dwInputLen, BYTE* pbOutput, DWORD* pdwOutputLen)
{
    if (!pbInput || !pbOutput || !pdwOutputLen || dwInputLen < 6 || dwInputLen > 20
        || *pdwOutputLen < 5 * dwInputLen)
        return 0;
    DWORD dwOut = 0;
    for (DWORD i = 0; i < dwInputLen; ++i) {
        DWORD p = pbInput[i];
        for (int n = 0; n < 5; ++n) {
            p = (p + i) & 0x7F;
            pbOutput[dwOut++] = g_abKeyTable[p];
        }
    }
    *pdwOutputLen = dwOut;
    return 1;
}

int utl_BuildVrfKey(BYTE* pbKey, DWORD* pdwKeyLen)
{
    return MakeVrfKey(g_abKeyInput, VRF_KEY_INPUT_LEN, pbKey, pdwKeyLen);
}

int CusIniVerify(const char* pszFolder)
{
    BYTE abBlock[VRF_BLOCK_SIZE];
    SetDefaultBlock(abBlock);
    return CheckPair(pszFolder, "KavlaCustom.ini", "KavlaCustom.vrf", abBlock);
}

int CusXmlVerify(const char* pszFolder, int bWithIcon, const char* pszIconName)
{
    if (!pszFolder)
        return 0;
    BYTE abBlock[VRF_BLOCK_SIZE];
    SetDefaultBlock(abBlock);
    if (bWithIcon && !GetIconBlock(pszFolder, pszIconName, abBlock))
        return 0;
    return CheckPair(pszFolder, "KavlaCustom.xml", "KavlaCustomXml.vrf", abBlock);
}

int UninstallIniVerify(const char* pszFolder)
{
    BYTE abBlock[VRF_BLOCK_SIZE];
    SetDefaultBlock(abBlock);
    return CheckPair(pszFolder, "KavlaUninstallInfo.ini", "KavlaUninstallInfo.vrf", abBlock);
}

int UninstallXmlVerify(const char* pszFolder)
{
    BYTE abBlock[VRF_BLOCK_SIZE];
    SetDefaultBlock(abBlock);
    return CheckPair(pszFolder, "KavlaUninstallInfo.xml", "KavlaUninstallInfoXml.vrf", abBlock);
}

int CreateVrfFile(const char* pszProtectedFile, const char* pszVrfFile, DWORD* pdwErr)
{
    DWORD dwErr = 0;
    DWORD dwHigh = 0, dwLow = 0;
    BYTE abVrf[VRF_FILE_SIZE];
    BYTE abBlock[VRF_BLOCK_SIZE];
    BYTE abKey[VRF_KEY_CAPACITY];
    DWORD dwKeyLen = sizeof(abKey);
    HANDLE hFile = INVALID_HANDLE_VALUE;

    if (!pszProtectedFile || !pszVrfFile || !QueryFileSize(pszProtectedFile, &dwHigh, &dwLow))
        dwErr = VRF_ERR_SIZE;
    else if (dwHigh != 0 || dwLow > VRF_MAX_CONTENT)
        dwErr = VRF_ERR_TOO_BIG;
    else if (!utl_BuildVrfKey(abKey, &dwKeyLen))
        dwErr = VRF_ERR_KEY;
    SecureZeroMemory(abKey, sizeof(abKey));

    if (!dwErr) {
        // Salt bytes are 0 to 254: the byte 0xFF never appears in a salt.
        srand((unsigned)time(NULL));
        for (DWORD i = 0; i < VRF_SALT_SIZE; ++i)
            abVrf[i] = (BYTE)(rand() % 255);
        if (!ReadExact(pszProtectedFile, 0, g_abDigestInput, dwLow))
            dwErr = VRF_ERR_OPEN;
    }
    if (!dwErr) {
        SetDefaultBlock(abBlock);
        if (!DigestInput(dwLow, abVrf, abBlock, abVrf + VRF_SALT_SIZE))
            dwErr = VRF_ERR_KEY;
    }
    if (!dwErr) {
        SetFileAttributesA(pszVrfFile, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(pszVrfFile);
        hFile = CreateFileA(pszVrfFile, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile == INVALID_HANDLE_VALUE)
            dwErr = VRF_ERR_CREATE;
    }
    if (!dwErr) {
        DWORD dwWritten = 0;
        if (!WriteFile(hFile, abVrf, VRF_FILE_SIZE, &dwWritten, NULL) || dwWritten != VRF_FILE_SIZE)
            dwErr = VRF_ERR_WRITE;
    }
    CloseFileHandle(hFile);
    if (dwErr && pdwErr)
        *pdwErr = dwErr;
    return dwErr ? 0 : 1;
}

const char* utl_GetCommonProgramFiles(void)
{
    if (g_szCommonFiles[0])
        return g_szCommonFiles;
    char szPath[261] = {0};
    DWORD dwLen = GetEnvironmentVariableA("CommonProgramFiles", szPath, sizeof(szPath));
    if (dwLen == 0 || dwLen >= sizeof(szPath)) {
        char szSys[261] = {0};
        UINT uLen = GetSystemDirectoryA(szSys, sizeof(szSys));
        if (uLen == 0 || uLen >= sizeof(szSys))
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
    static const char* const apszFiles[] = {"KavlaCustom.ini", "KavlaCustom.vrf",
                                            "KavlaUninstallInfo.ini", "KavlaUninstallInfo.vrf"};
    for (const char* pszName : apszFiles) {
        if (!CopyInto(szLegacy, szRegInfo, pszName)) {
            utl_LogF(pszModule, "%s:CopyFile %s return false!", pszFunc, pszName);
            return 0;
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
    if (CusXmlVerify(szRegInfo, 0, NULL))
        return 1;
    std::string strIcon = ReadIconName(szRegInfo);
    return CusXmlVerify(szRegInfo, 1, strIcon.c_str());
}

int RestoreAndVerify(VrfWhich eWhich, std::string& strMsg)
{
    if ((unsigned)eWhich >= sizeof(g_aRestore) / sizeof(g_aRestore[0])) {
        strMsg.clear();
        return 0;
    }
    const RestoreRow& row = g_aRestore[eWhich];
    strMsg = std::string(row.pszFirst) + " ,So copy bak files!";
    char szBackup[UTL_MAX_PATH], szRegInfo[UTL_MAX_PATH];
    GetBackupFolder(szBackup, sizeof(szBackup));
    if (!utl_GetRegInfoFolder(szRegInfo, sizeof(szRegInfo)))
        szRegInfo[0] = '\0';

    int nOk = 0;
    if (!szRegInfo[0] || !CopyInto(szBackup, szRegInfo, row.pszFile1))
        strMsg += row.pszCopyMsg1;
    else if (!CopyInto(szBackup, szRegInfo, row.pszFile2))
        strMsg += row.pszCopyMsg2;
    else {
        switch (eWhich) {
        case VRF_CUSTOM_XML:
            nOk = CusXmlVerify(szRegInfo, 0, NULL)
                  || CusXmlVerify(szRegInfo, 1, ReadIconName(szRegInfo).c_str());
            break;
        case VRF_UNINSTALL_XML:
            nOk = UninstallXmlVerify(szRegInfo);
            break;
        case VRF_CUSTOM_INI:
            nOk = CusIniVerify(szRegInfo);
            break;
        case VRF_UNINSTALL_INI:
            nOk = UninstallIniVerify(szRegInfo);
            break;
        }
        if (!nOk)
            strMsg += row.pszAgainMsg;
    }
    return nOk;
}
