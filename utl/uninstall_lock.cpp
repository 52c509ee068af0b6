// Uninstall lock: the first trusted protected settings file (or else the
// registry) says whether the installed client is guarded by an uninstall
// password and which encrypted password text guards it. Passwords are never
// logged, in clear or encrypted.
#include "uninstall_lock.h"
#include "cipher.h"
#include "custom_doc.h"
#include "file.h"
#include "log.h"
#include "log_lines.h"
#include "reg.h"
#include "reginfo.h"
#include "xml_parser.h"
#include <string.h>
#include <string>

namespace {

// Stored password texts are at most 128 characters; the caller's buffer
// holds one more byte for the terminator.
const DWORD PWD_TEXT_MAX = 128;

const char* const KEY_KAVLA = "SOFTWARE\\Kavla";
const char* const KEY_KAVLA_OLD = "SOFTWARE\\Dravik\\Kavla";
const char* const KEY_CLIENT_NEW =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}";
const char* const KEY_CLIENT_OLD =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E4F2B61-D07A-4C35-B9E8-21A6F3C05D72}";

// The registry, or a protected file: SRC_CUSTOM_XML + its VrfWhich.
enum Source { SRC_REGISTRY = 0, SRC_CUSTOM_XML, SRC_UNINSTALL_XML, SRC_CUSTOM_INI, SRC_UNINSTALL_INI };

void LockLog(const char* pszModule, const char* pszText)
{
    utl_LogF(pszModule, LOGLINE_PROMPT "%s", pszText);
}

// Logs and clears the message a step gathered.
void FlushMsg(const char* pszModule, std::string& strMsg)
{
    if (!strMsg.empty())
        LockLog(pszModule, strMsg.c_str());
    strMsg.clear();
}

void CopyPwdText(char* pszPwdBuf, const char* pszText)
{
    size_t nLen = strnlen(pszText, PWD_TEXT_MAX);
    memcpy(pszPwdBuf, pszText, nLen);
    pszPwdBuf[nLen] = '\0';
}

// A pair's own check, before any restore: the customisation files go
// through their loaders (which make reginfo, migrate the legacy folder and
// try the icon), the uninstall files are checked as they stand.
int OwnCheck(const char* pszModule, const char* pszRegInfo, VrfWhich eWhich)
{
    if (eWhich == VRF_CUSTOM_XML)
        return utl_LoadCusXmlFile(pszModule);
    if (eWhich == VRF_CUSTOM_INI)
        return utl_LoadCusIniFile(pszModule);
    return VrfCheckPair(pszRegInfo, eWhich, 0, NULL);
}

// The source of the lock: the first protected file that verifies, in the
// pairs' order, a pair whose own check fails being restored from the backups
// and checked again before the next is tried; the registry when none does.
int ChooseSource(const char* pszModule, const char* pszRegInfo)
{
    for (int i = 0; i < VRF_PAIR_COUNT; ++i) {
        std::string strMsg;
        int bTrusted = OwnCheck(pszModule, pszRegInfo, (VrfWhich)i) || RestoreAndVerify((VrfWhich)i, strMsg);
        FlushMsg(pszModule, strMsg);
        if (bTrusted)
            return SRC_CUSTOM_XML + i;
    }
    return SRC_REGISTRY;
}

// The pair's document in reginfo read into its record with pfnRead; a
// document that cannot be read leaves the record's initial values.
template <typename Info>
void ReadDocument(const char* pszRegInfo, VrfWhich eWhich, int (CCustomXmlParse::*pfnRead)(const char*, Info&),
                  Info& info)
{
    char szPath[UTL_MAX_PATH];
    if (utl_PathJoin(szPath, sizeof(szPath), pszRegInfo, g_aVrfPairs[eWhich].pszProtected)) {
        CCustomXmlParse parser;
        (parser.*pfnRead)(szPath, info);
    }
}

// KavlaCustom.xml holds the password encrypted, its reader hands it over
// decrypted, and the dialog compares encrypted texts: encrypt it again.
DWORD ReadCustomXml(const char* pszModule, const char* pszRegInfo, char* pszPwdBuf)
{
    CusFunctionsInfo info;
    ReadDocument(pszRegInfo, VRF_CUSTOM_XML, &CCustomXmlParse::ReadFunctions, info);
    if (info.uninstall == 1 && !info.uninstallPassword.empty()) {
        char szText[PWD_TEXT_MAX + 1] = {0};
        // A password too long for a stored text leaves the buffer empty: the
        // dialog then accepts nothing, which keeps the client locked.
        if (EncryptPassword(szText, PWD_TEXT_MAX, (const BYTE*)info.uninstallPassword.data(),
                            (DWORD)info.uninstallPassword.size()) == CIPHER_OK) {
            CopyPwdText(pszPwdBuf, szText);
            LockLog(pszModule, "Get UninstallPwd from KavlCustom.xml succ.");
        }
        SecureZeroMemory(szText, sizeof(szText));
    }
    if (!info.uninstallPassword.empty())
        SecureZeroMemory(&info.uninstallPassword[0], info.uninstallPassword.size());
    return info.uninstall;
}

DWORD ReadUninstallXml(const char* pszModule, const char* pszRegInfo, char* pszPwdBuf)
{
    CusUninstallInfo info;
    ReadDocument(pszRegInfo, VRF_UNINSTALL_XML, &CCustomXmlParse::ReadUninstallInfo, info);
    if (info.uninstall == 1 && !info.uninstallPass.empty()) {
        CopyPwdText(pszPwdBuf, info.uninstallPass.c_str());
        LockLog(pszModule, "Get UninstallPwd from KavlaUninstallInfo.xml succ.");
    }
    return info.uninstall;
}

// Both INI files keep the flag and the stored text in section "Functions".
DWORD ReadIni(const char* pszModule, const char* pszRegInfo, VrfWhich eWhich, char* pszPwdBuf)
{
    const char* pszName = g_aVrfPairs[eWhich].pszProtected;
    char szPath[UTL_MAX_PATH];
    if (!utl_PathJoin(szPath, sizeof(szPath), pszRegInfo, pszName))
        return 0;
    DWORD dwFlag = GetPrivateProfileIntA("Functions", "Uninstall", 0, szPath);
    // 128 characters and the terminator.
    GetPrivateProfileStringA("Functions", "Install", "", pszPwdBuf, PWD_TEXT_MAX + 1, szPath);
    if (pszPwdBuf[0])
        utl_LogF(pszModule, LOGLINE_PROMPT "Get UninstallPwd from %s succ.", pszName);
    return dwFlag;
}

DWORD ReadRegistry(const char* pszModule, char* pszPwdBuf)
{
    DWORD dwFlag = 0;
    const char* pszKey = KEY_KAVLA;
    if (utl_RegReadDword(HKEY_LOCAL_MACHINE, KEY_KAVLA, "Uninstall", &dwFlag))
        LockLog(pszModule, "Get Uninstall from reg succ");
    else {
        LockLog(pszModule, "Get Uninstall from reg failed");
        dwFlag = 0;
        if (utl_RegReadDword(HKEY_LOCAL_MACHINE, KEY_KAVLA_OLD, "Uninstall", &dwFlag))
            pszKey = KEY_KAVLA_OLD;
        else {
            dwFlag = 0;
            LockLog(pszModule, "Get Uninstall from old reg failed");
        }
    }
    // A text longer than a stored password counts as missing.
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, pszKey, "UninstallPwd", pszPwdBuf, PWD_TEXT_MAX))
        LockLog(pszModule, "Get UninstallPwd from reg Succ.");
    else
        LockLog(pszModule, "Get UninstallPwd from reg fail,Return true.");
    return dwFlag;
}

} // namespace

int IsUninstallPrompt(const char* pszModule, char* pszPwdBuf)
{
    if (!pszPwdBuf) {
        LockLog(pszModule, "parameter err.");
        return 0;
    }

    int nSrc = SRC_REGISTRY;
    char szRegInfo[UTL_MAX_PATH] = {0};
    if (!utl_GetRegInfoFolder(szRegInfo, sizeof(szRegInfo)))
        LockLog(pszModule, " utl_GetCommonProgramFiles failed!");
    else
        nSrc = ChooseSource(pszModule, szRegInfo);

    DWORD dwFlag = 0;
    switch (nSrc) {
    case SRC_CUSTOM_XML:
        dwFlag = ReadCustomXml(pszModule, szRegInfo, pszPwdBuf);
        break;
    case SRC_UNINSTALL_XML:
        dwFlag = ReadUninstallXml(pszModule, szRegInfo, pszPwdBuf);
        break;
    case SRC_CUSTOM_INI:
        dwFlag = ReadIni(pszModule, szRegInfo, VRF_CUSTOM_INI, pszPwdBuf);
        break;
    case SRC_UNINSTALL_INI:
        dwFlag = ReadIni(pszModule, szRegInfo, VRF_UNINSTALL_INI, pszPwdBuf);
        break;
    default:
        dwFlag = ReadRegistry(pszModule, pszPwdBuf);
        break;
    }

    if (dwFlag == 0) {
        LockLog(pszModule, "!dwResult, return false.");
        return 0;
    }
    // The version is only tested for presence: any installed client counts.
    char szVersion[UTL_MAX_PATH + 1] = {0};
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, KEY_CLIENT_NEW, "DisplayVersion", szVersion, UTL_MAX_PATH)) {
        utl_LogF(pszModule, LOGLINE_PROMPT "Get Version from reg succ. %s", szVersion);
        LockLog(pszModule, LOGLINE_PROMPT_NEEDED);
        return 1;
    }
    LockLog(pszModule, "Get Version from new reg failed, try old.");
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, KEY_CLIENT_OLD, "DisplayVersion", szVersion, UTL_MAX_PATH)) {
        LockLog(pszModule, LOGLINE_PROMPT_OLD_VERSION);
        return 1;
    }
    LockLog(pszModule, "Get Version from old reg failed, return false.");
    return 0;
}
